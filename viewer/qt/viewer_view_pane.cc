// CViewerView's page pane: its entries drawn as page tags or thumbnails (PaneDelegate), the
// thumbnails asked of their own worker and cache, opening, closing and widening the pane and
// switching its kind.
#include "viewer/qt/viewer_view.h"

#include <QFontMetrics>
#include <QListWidget>
#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <cstdint>

#include "viewer/qt/prompter.h"
#include "viewer/qt/viewer_view_parts.h"
#include "viewer/view/doc_info.h"
#include "viewer/viewer_doc.h"

namespace zv::viewer {

namespace {

using view::UnitSize;

constexpr int kThumbHeight = 132;  // a thumbnail's entry
constexpr int kThumbSquare = 117;  // the square a thumbnail is centred in
constexpr int kThumbImage = 116;   // a thumbnail's height: the page scaled to it

}  // namespace

PaneDelegate::PaneDelegate(CViewerView* view) : QStyledItemDelegate(view), view_(view) {}

void PaneDelegate::paint(QPainter* p, const QStyleOptionViewItem& o, const QModelIndex& index) const {
  const bool selected = o.state & QStyle::State_Selected;
  const QPalette& pal = o.palette;
  p->fillRect(o.rect, selected ? pal.color(QPalette::Highlight) : pal.color(QPalette::Mid));
  const QColor ink = selected ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Light);
  QRect label = o.rect;
  if (view_->pane_kind() == 0) {
    const QRect square(o.rect.left() + (o.rect.width() - kThumbSquare) / 2, o.rect.top() + 1, kThumbSquare,
                       kThumbSquare);
    if (gdi::ScreenSurface* s = view_->Thumbnail(index.row())) {
      const QImage img = ImageOf(*s);
      p->drawImage(square.left() + (square.width() - img.width()) / 2,
                   square.top() + (square.height() - img.height()) / 2, img);
    } else {
      p->fillRect(square.adjusted(20, 0, -20, 0), QColor(kPlaceholder));
    }
    label.setTop(square.bottom());
  }
  p->setFont(ViewerFont(false, kTagHeight));
  p->setPen(ink);
  p->drawText(label, Qt::AlignCenter, QString::fromStdString(view::PageTagText(index.row())));
}

QSize PaneDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
  return QSize(30, view_->pane_kind() == 0 ? kThumbHeight : kTagHeight);
}

int CViewerView::ResizeTagPane(int steps) {
  if (page_count_ == 0) return 0;
  if (steps == 0) {
    if (pane_open()) {
      pane_width_ = 3;
    } else if (pane_kind_ == 1) {
      const QFontMetrics fm(ViewerFont(false, kTagHeight));
      const int chars = int(view::PageTagText(page_count_ - 1).size());
      int w = std::max(30, fm.horizontalAdvance(QLatin1Char('1')) * chars + 16);
      if (host_ && page_count_ * kTagHeight + 6 > host_->height()) w += 16;
      pane_width_ = w;
    } else {
      // Thumbnails: a page scaled to kThumbImage pixels high, widest over all pages.
      int w = 123;
      for (const UnitSize& s : PageSizes()) {
        if (s.h > 0) w = std::max(w, int(s.w * kThumbImage / s.h) - kThumbImage + 123);
      }
      if (host_ && page_count_ * kThumbHeight + 6 > host_->height()) w += 16;
      pane_width_ = w;
    }
    Post(kMsgPaneChanged, 0, 0);
  } else {
    const int most = host_ ? std::max(6, host_->width() - 7 * 16) : 6;
    pane_width_ = std::clamp(pane_width_ + steps * 48, 6, most);
  }
  PaneChanged();
  return 1;
}

void CViewerView::PaneChanged() {
  if (pane_) {
    pane_->doItemsLayout();
    pane_->viewport()->update();
  }
  Layout();
  if (page_count_ > 0 && host_) {
    SetZoom(zoom_mode_ == view::kFree ? zoom_percent_ : zoom_mode_, -1, -1);
  }
  Repaint();
}

gdi::ScreenSurface* CViewerView::Thumbnail(int page) {
  if (gdi::ScreenSurface* s = thumb_cache_.Find(page)) return s;
  ViewerPage* p = doc_ ? doc_->page(page) : nullptr;
  if (!p || p->extent_y() <= 0) return nullptr;
  // The page scaled to kThumbImage pixels high: resolution kThumbImage x 28800 / page height.
  const int res = int(std::int64_t(kThumbImage) * view::kPageUnitsPerInch / p->extent_y());
  view::RenderRequest rq;
  rq.row = page;
  rq.first_page = page;
  rq.width = std::max(1, view::UnitsToPixels(p->extent_x(), res));
  rq.height = kThumbImage;
  rq.resolution = std::max(res, 1);
  rq.screen_res = screen_res_;
  rq.turned = p->rotated();
  rq.background = kBackground & 0xFFFFFF;
  if (!thumb_worker_->Pending(page)) thumb_worker_->Request(rq);
  return nullptr;
}

void CViewerView::SwitchTagKind() {
  pane_kind_ = pane_kind_ == 1 ? 0 : 1;
  pane_width_ = 3;
  if (page_count_ == 0) return;
  ResizeTagPane(0);
  Post(kMsgPaneChanged, 0, 0);
}

}  // namespace zv::viewer
