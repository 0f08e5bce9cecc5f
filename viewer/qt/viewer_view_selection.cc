// CViewerView's selections: the image-selection rectangle (set, cleared, the current page's,
// copied to the clipboard as an image) and the page-pick mode's selected sheet and page (the
// page under a point, the picked slot's rectangle, picking and clearing).
#include "viewer/qt/viewer_view.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cstdint>

#include "viewer/qt/prompter.h"
#include "viewer/qt/viewer_view_parts.h"

namespace zv::viewer {

namespace {

using view::UnitSize;

// Largest selection copied as one image (pixels); beyond it the copy is refused.
constexpr std::int64_t kMaxCopyPixels = 64LL * 1024 * 1024;
constexpr int kMaxCopySide = 32767;

}  // namespace

int CViewerView::IsImageSelectMode() { return mouse_mode_ == kImageSelect ? 1 : 0; }
int CViewerView::HasSelection() { return view::IsEmpty(view::Normalised(selection_)) ? 0 : 1; }

int CViewerView::ClearSelection() {
  selection_ = {};
  Repaint();
  return 1;
}

void CViewerView::SetSelectionRect(const win::RECT& r) {
  selection_ = r;
  Repaint();
}

int CViewerView::SelectCurrentPage() {
  if (page_count_ == 0) return 0;
  selection_ = RowRect(current_);
  Repaint();
  return 1;
}

int CViewerView::CopySelection() {
  const win::RECT sel = view::Normalised(selection_);
  if (view::IsEmpty(sel)) return 0;
  const std::int64_t w = sel.right - sel.left, h = sel.bottom - sel.top;
  QImage image;
  if (w <= kMaxCopySide && h <= kMaxCopySide && w * h <= kMaxCopyPixels) {
    image = QImage(int(w), int(h), QImage::Format_RGB32);
  }
  if (image.isNull()) {
    Prompter().Message(host_, "選択した範囲が大き過ぎるためコピーできません", PromptIcon::kExclamation);
    return 0;
  }
  image.fill(QColor(kBackground));
  {
    QPainter p(&image);
    p.translate(-sel.left, -sel.top);
    const win::RECT area = AreaRect();
    const view::RowSpan rows = view::VisibleRows(sel, area, page_w_, page_h_, hpos_, vpos_, layout_);
    for (int r = rows.first; r <= rows.last; ++r) {
      if (gdi::ScreenSurface* s = cache_.Find(r)) p.drawImage(ToQRect(RowRect(r)).topLeft(), ImageOf(*s));
    }
  }
  QGuiApplication::clipboard()->setImage(image);
  return 1;
}

void CViewerView::GetSelectedPage(int out[2]) {
  if (!out) return;
  out[0] = selected_sheet_;
  out[1] = selected_page_;
}

void CViewerView::ClearSelectedPage() {
  selected_sheet_ = selected_page_ = -1;
  Repaint();
}

void CViewerView::SetSelectedPage(int page, int relative) {
  selected_page_ = relative == 1 ? selected_page_ + page : page;
  selected_sheet_ = selected_page_ < 0 ? -1 : selected_page_ / int(std::max<std::uint32_t>(sheet_.pages, 1));
  Repaint();
}

win::RECT CViewerView::PickRect() const {
  if (selected_page_ < 0 || selected_sheet_ < 0) return {};
  const win::RECT slot = RowRect(selected_sheet_);
  const UnitSize box{std::int64_t(page_w_), std::int64_t(page_h_)};
  const win::RECT sheet = view::SheetRectInSlot(slot, box);
  return view::SlotRect(sheet, sheet_, selected_page_ - RowFirstPage(selected_sheet_));
}

int CViewerView::PageAt(QPoint p) const {
  if (page_count_ == 0) return -1;
  const int row = view::RowAt(win::POINT{p.x(), p.y()}, AreaRect(), page_w_, page_h_, hpos_, vpos_, layout_);
  if (row < 0) return -1;
  const int slot = view::SlotAt(RowRect(row), sheet_, win::POINT{p.x(), p.y()});
  if (slot < 0) return -1;
  const int page = RowFirstPage(row) + slot;
  return page < page_count_ ? page : -1;
}

void CViewerView::StepSelectedPage(int step) {
  if (page_count_ == 0) return;
  // Without a selection the first page of the row at the top is the start.
  const int page = selected_page_ < 0 ? RowFirstPage(current_) : std::clamp(selected_page_ + step, 0, page_count_ - 1);
  selected_page_ = page;
  selected_sheet_ = page / int(std::max<std::uint32_t>(sheet_.pages, 1));
  // The chosen page's row is brought into view when it is not wholly shown.
  const win::RECT row = RowRect(selected_sheet_), area = AreaRect();
  if (row.top < area.top || row.bottom > area.bottom) GoToPage(std::uint16_t(selected_sheet_));
  Repaint();
  Post(kMsgPageChanged, 1, selected_page_);
}

void CViewerView::ToggleSelectedPage() {
  if (page_count_ == 0) return;
  if (selected_page_ >= 0) {
    selected_sheet_ = selected_page_ = -1;
    Repaint();
    Post(kMsgPageChanged, 1, selected_page_);
    return;
  }
  StepSelectedPage(0);
}

QPoint CViewerView::MenuPoint() const {
  const win::RECT pick = PickRect();
  if (selected_page_ >= 0 && pick.right > pick.left)
    return QPoint((pick.left + pick.right) / 2, (pick.top + pick.bottom) / 2);
  const win::RECT row = RowRect(current_);
  return QPoint((row.left + row.right) / 2, std::max(row.top, AreaRect().top) + 8);
}

void CViewerView::PickPage(QPoint p) {
  const int page = PageAt(p);
  if (page < 0) return;
  if (page == selected_page_) {
    selected_sheet_ = selected_page_ = -1;
  } else {
    selected_sheet_ = page / int(std::max<std::uint32_t>(sheet_.pages, 1));
    selected_page_ = page;
  }
  Repaint();
  Post(kMsgPageChanged, 1, selected_page_);
}

}  // namespace zv::viewer
