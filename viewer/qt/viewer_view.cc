// CViewerView's life and layout: construction and teardown, attaching to the host widget
// and making the child controls, the document's notices, scrolling and page navigation, zoom,
// the print offsets, the paper record and the sheet layout. Drawing, input, the selection,
// the page pane and the magnifier lens are in the viewer_view_*.cc units beside this one.
#include "viewer/qt/viewer_view.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSlider>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <memory>
#include <optional>
#include <string>

#include "platform/winmsg/winmsg.h"
#include "viewer/qt/menus.h"
#include "viewer/qt/prompter.h"
#include "viewer/qt/viewer_view_parts.h"
#include "viewer/view/doc_info.h"
#include "viewer/view/driven.h"
#include "viewer/viewer_doc.h"

namespace zv::viewer {

namespace {

using view::UnitSize;

constexpr int kTimerMs = 100;
constexpr int kTipMs = 9000;

}  // namespace

int CViewerAutoScroll::SetAutoScroll(int active, int loop) {
  auto_scroll_active = active;
  auto_scroll_loop = loop;
  auto_scroll_pause = 0;
  return 1;
}

CViewerView::CViewerView() {
  if (QGuiApplication::primaryScreen()) {
    screen_res_ = std::max(1, int(QGuiApplication::primaryScreen()->logicalDotsPerInch() + 0.5));
  }
  display_res_ = screen_res_;
  std::weak_ptr<bool> alive = alive_;
  worker_ = std::make_unique<view::PageWorker>([this, alive](view::RenderedRow row) {
    if (alive.expired()) return;
    auto shared = std::make_shared<view::RenderedRow>(std::move(row));
    QMetaObject::invokeMethod(
        this, [this, shared] { OnRowReady(shared); }, Qt::QueuedConnection);
  });
  thumb_worker_ = std::make_unique<view::PageWorker>([this, alive](view::RenderedRow row) {
    if (alive.expired()) return;
    auto shared = std::make_shared<view::RenderedRow>(std::move(row));
    QMetaObject::invokeMethod(
        this,
        [this, shared] {
          if (!shared->surface || shared->request.generation != thumb_worker_->generation()) return;
          thumb_cache_.Insert(shared->request.row, std::move(shared->surface), -1, -1);
          if (pane_) pane_->viewport()->update();
        },
        Qt::QueuedConnection);
  });
}

CViewerView::~CViewerView() {
  // Order matters: the worker callbacks check alive_ first, so no row finished during the stop is
  // posted to this view; the worker is stopped before the document forgets the view, since its
  // thread is still reading the document's pages until then.
  alive_.reset();
  worker_->CancelAndWait();
  if (doc_ && attached_to_doc_) {
    attached_to_doc_ = false;
    doc_->DetachView(this);
  }
  worker_.reset();
  thumb_worker_.reset();
  if (timer_) timer_->stop();
  if (host_) {
    host_->removeEventFilter(this);
    host_->setProperty("instance->pdata", QVariant());
    for (QWidget* w : std::initializer_list<QWidget*>{vbar_, hbar_, corner_, mouse_button_, zoom_button_, slider_,
                                                      pane_, scroll_tip_}) {
      delete w;
    }
    host_->unsetCursor();
  }
}

void CViewerView::SetDocument(CViewerDoc* doc) {
  if (doc == doc_) return;
  if (doc_ && attached_to_doc_) doc_->DetachView(this);
  attached_to_doc_ = false;
  worker_->SetDocument(doc);
  thumb_worker_->SetDocument(doc);
  thumb_cache_.Clear();
  doc_ = doc;
  DiscardCaches();
}

// ---- Attaching ----

int CViewerView::AttachWindow(QWidget* window, int zoom, int pane) {
  if (!window) return 0;
  if (host_ && host_ != window) host_->removeEventFilter(this);
  host_ = window;
  initial_pane_ = pane;
  host_->setProperty("instance->pdata", QVariant::fromValue<void*>(this));
  host_->installEventFilter(this);
  host_->setAttribute(Qt::WA_OpaquePaintEvent);
  host_->setFocusPolicy(Qt::StrongFocus);
  host_->setMouseTracking(true);
  if (!timer_) {
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, [this] { OnTimer(); });
  }
  timer_->start(kTimerMs);
  current_ = 0;
  page_count_ = 0;
  if (!vbar_) {
    vbar_ = new QScrollBar(Qt::Vertical, host_);
    hbar_ = new QScrollBar(Qt::Horizontal, host_);
    hbar_->hide();
    corner_ = new QPushButton(host_);
    corner_->setFocusPolicy(Qt::NoFocus);
    mouse_button_ = new QPushButton(host_);
    mouse_button_->setObjectName(QString::number(kIdMouseButton));
    mouse_button_->hide();
    zoom_button_ = new QPushButton(host_);
    zoom_button_->setObjectName(QString::number(kIdZoomButton));
    zoom_button_->hide();
    slider_ = new QSlider(Qt::Horizontal, host_);
    slider_->setObjectName(QString::number(kIdSlider));
    slider_->setRange(view::kMinPercent, view::kMaxPercent);
    slider_->setPageStep(5);
    slider_->setToolTip(QStringLiteral("任意倍率変更"));
    slider_->hide();
    pane_ = new QListWidget(host_);
    pane_->setObjectName(QString::number(kIdPane));
    pane_->setFont(ViewerFont(false, kTagHeight));
    pane_->setItemDelegate(new PaneDelegate(this));
    pane_->setUniformItemSizes(true);
    pane_->setFocusPolicy(Qt::NoFocus);
    pane_->setContextMenuPolicy(Qt::CustomContextMenu);
    pane_->hide();
    connect(pane_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
      GoToPage(std::uint16_t(pane_->row(item) / int(std::max<std::uint32_t>(sheet_.pages, 1))));
    });
    connect(pane_, &QListWidget::itemDoubleClicked, this, [this] { SwitchTagKind(); });
    connect(pane_, &QWidget::customContextMenuRequested, this, [this](QPoint at) {
      std::unique_ptr<QMenu> m(BuildPopup137(1, pane_));
      for (int id : {cmd::kPaneTags, cmd::kPaneThumbs}) {
        QAction* a = FindCommand(m.get(), id);
        a->setCheckable(true);
        a->setChecked((id == cmd::kPaneTags) == (pane_kind_ == 1));
      }
      if (QAction* chosen = m->exec(pane_->viewport()->mapToGlobal(at))) Command(chosen->data().toInt());
    });
    scroll_tip_ = new QLabel(QStringLiteral("1 ページ"), host_);
    scroll_tip_->setFont(ViewerFont());
    scroll_tip_->setAutoFillBackground(true);
    scroll_tip_->setStyleSheet(QStringLiteral("QLabel{background:#ffffe1;border:1px solid black;padding:1px 3px;}"));
    scroll_tip_->hide();
    vbar_->setFocusPolicy(Qt::NoFocus);
    connect(vbar_, &QScrollBar::actionTriggered, this, [this](int action) {
      const int pitch = page_h_ + view::kRowGap;
      if (pitch <= 0) return;
      if (action == QAbstractSlider::SliderSingleStepAdd || action == QAbstractSlider::SliderPageStepAdd) {
        vbar_->setSliderPosition(view::RowPosition(std::min(current_ + 1, Rows()), page_h_, layout_.vertical));
      } else if (action == QAbstractSlider::SliderSingleStepSub || action == QAbstractSlider::SliderPageStepSub) {
        vbar_->setSliderPosition(view::RowPosition(std::max(current_ - 1, 0), page_h_, layout_.vertical));
      }
    });
    connect(vbar_, &QScrollBar::valueChanged, this, [this](int v) {
      if (v != vpos_) ScrollTo(hpos_, v);
    });
    connect(vbar_, &QScrollBar::sliderMoved, this, [this](int v) {
      scroll_tip_->setText(QString::fromStdString(
          view::ScrollTipText(view::CurrentRow(v, layout_, page_h_, Height(AreaRect()), page_count_, sheet_.pages))));
      scroll_tip_->adjustSize();
      scroll_tip_->move(std::max(0, vbar_->x() - scroll_tip_->width() - 2),
                        std::clamp(vbar_->y() + v * vbar_->height() / std::max(1, layout_.content_height), 0,
                                   std::max(0, host_->height() - scroll_tip_->height())));
      scroll_tip_->show();
      QTimer::singleShot(kTipMs, scroll_tip_, &QWidget::hide);
    });
    connect(vbar_, &QScrollBar::sliderReleased, scroll_tip_, &QWidget::hide);
  }
  vbar_->show();
  corner_->show();
  Layout();
  if (doc_ && attached_to_doc_) doc_->DetachView(this);
  attached_to_doc_ = false;
  if (zoom > 2) {
    zoom_mode_ = view::kFree;
    zoom_percent_ = zoom;
  } else {
    zoom_mode_ = zoom;
  }
  selection_ = {};
  DiscardCaches();
  if (doc_) {
    attached_to_doc_ = true;
    doc_->AttachView(this);
  }
  SetMouseMode(mouse_mode_);
  return 1;
}

win::RECT CViewerView::AreaRect() const {
  if (!host_) return {};
  const int left = pane_open() ? pane_width_ : 0;
  return win::RECT{left, 0, std::max(left, host_->width() - vbar_width_), host_->height()};
}

void CViewerView::GetPageArea(win::RECT* out) {
  if (out) *out = AreaRect();
}

void CViewerView::Layout() {
  if (!host_ || !vbar_) return;
  const int w = host_->width(), h = host_->height();
  vbar_->setGeometry(w - vbar_width_, 0, vbar_width_, std::max(0, h - hbar_height_));
  vbar_->setVisible(vbar_width_ > 0);
  corner_->setGeometry(w - vbar_width_, h - hbar_height_, vbar_width_, hbar_height_);
  corner_->setVisible(vbar_width_ > 0 && hbar_height_ > 0);
  // The page pane, when open, takes the left of the client area; the bottom strip's
  // controls stay hidden and the page area keeps the full height.
  if (pane_) {
    pane_->setGeometry(0, 0, pane_open() ? pane_width_ : 0, h);
    pane_->setVisible(pane_open() && page_count_ > 0);
  }
  const int sq = hbar_height_;
  int x = 0;
  mouse_button_->setGeometry(x, h, sq, sq);
  x += sq;
  zoom_button_->setGeometry(x, h, 3 * sq, sq);
  x += 3 * sq;
  const int slider_w = (w - vbar_width_) > 13 * sq ? 6 * sq : 0;
  slider_->setGeometry(x, h, slider_w, sq);
  x += slider_w;
  hbar_->setGeometry(x, h, std::max(0, w - vbar_width_ - x), sq);
}

// ---- Document notices ----

void CViewerView::OnDocumentNotice(std::uint32_t notice, std::uint64_t wparam) {
  emit documentNotice(notice, wparam);
  if (notice == kNoticeReset) {
    Reset();
  } else if (notice == kNoticeProgress) {
    if (wparam != 0) {
      ApplyPageCount(int(wparam));
      return;
    }
    if (view::DrivenThroughExports() && doc_ && doc_->Reserved(0, 0) == 0) return;
    // The document reports the pages loaded before each new page; the last count comes
    // with the end of loading.
    if (doc_ && doc_->page_count() != page_count_) ApplyPageCount(doc_->page_count());
    if (pane_) {
      pane_->clear();
      for (int i = 0; i < page_count_; ++i) pane_->addItem(QString::fromStdString(view::PageTagText(i)));
    }
    DiscardCaches();
    thumb_cache_.Clear();
    if (!pane_open()) {
      if (initial_pane_ == 1) {
        ResizeTagPane(0);
      } else if (initial_pane_ == 2) {
        if (pane_kind_ == 1) SwitchTagKind();
        else ResizeTagPane(0);
      }
    }
    Repaint();
  } else if (notice == kNoticeReady) {
    if (!host_) return;
    SetMouseMode(mouse_mode_);
    SetZoom(zoom_mode_ == view::kFree ? zoom_percent_ : zoom_mode_, -1, -1);
    const bool on = page_count_ > 0;
    for (QWidget* w : std::initializer_list<QWidget*>{mouse_button_, zoom_button_, slider_, corner_, pane_}) {
      if (w) w->setEnabled(on);
    }
    if (pane_ && PaneRow() < pane_->count()) pane_->setCurrentRow(PaneRow());
  }
}

void CViewerView::Reset() {
  if (worker_) worker_->CancelAndWait();
  if (thumb_worker_) thumb_worker_->CancelAndWait();
  thumb_cache_.Clear();
  CloseLens();
  page_count_ = 0;
  page_w_ = page_h_ = 0;
  vpos_ = hpos_ = 0;
  current_ = 0;
  layout_ = {};
  if (vbar_) {
    vbar_->setEnabled(false);
    hbar_->setEnabled(false);
    for (QWidget* w : std::initializer_list<QWidget*>{mouse_button_, zoom_button_, slider_, corner_, pane_})
      w->setEnabled(false);
    pane_->clear();
  }
  DiscardCaches();
  Layout();
  Repaint();
}

void CViewerView::ApplyPageCount(int n) {
  if (pane_) {
    while (pane_->count() < n) pane_->addItem(QString::fromStdString(view::PageTagText(pane_->count())));
  }
  page_count_ = n;
  RecomputeScroll();
  Layout();
  Repaint();
}

void CViewerView::RecomputeScroll() {
  const win::RECT area = AreaRect();
  layout_ = view::ComputeScrollLayout(page_count_, sheet_.pages, page_w_, page_h_, Width(area), Height(area));
  vpos_ = view::ClampPosition(vpos_, layout_.vertical);
  hpos_ = view::ClampPosition(hpos_, layout_.horizontal);
  if (vbar_) {
    const QSignalBlocker block(vbar_);
    vbar_->setEnabled(layout_.vertical.enabled);
    vbar_->setRange(0, layout_.vertical.enabled ? layout_.vertical.max : 0);
    vbar_->setPageStep(std::max(1, Height(area)));
    vbar_->setSingleStep(32);
    vbar_->setValue(vpos_);
    hbar_->setEnabled(layout_.horizontal.enabled);
    hbar_->setRange(0, layout_.horizontal.enabled ? layout_.horizontal.max : 0);
    hbar_->setValue(hpos_);
  }
  UpdateCurrentFromScroll();
}

void CViewerView::UpdateCurrentFromScroll() {
  current_ = layout_.vertical.enabled
                 ? view::CurrentRow(vpos_, layout_, page_h_, Height(AreaRect()), page_count_, sheet_.pages)
                 : 0;
  UpdateScrollTip();
}

void CViewerView::UpdateScrollTip() {
  if (scroll_tip_) {
    scroll_tip_->setText(QString::fromStdString(view::ScrollTipText(current_)));
    scroll_tip_->adjustSize();
  }
}

void CViewerView::Post(int msg, std::intptr_t wparam, std::intptr_t lparam) {
  QPointer<CViewerView> self(this);
  QMetaObject::invokeMethod(
      this,
      [self, msg, wparam, lparam] {
        if (self) emit self->hostMessage(msg, wparam, lparam);
      },
      Qt::QueuedConnection);
  if (host_hwnd_ != 0) winmsg::PostMessage(host_hwnd_, std::uint32_t(msg), std::uintptr_t(wparam), lparam);
}

void CViewerView::HandleHostMessage(int msg, std::intptr_t wparam, std::intptr_t) {
  if (msg == kMsgShowPage) ShowPage(int(wparam));
}

// ---- Scrolling ----

void CViewerView::ScrollTo(int x, int y) {
  const int nx = x == -1 ? hpos_ : view::ClampPosition(x, layout_.horizontal);
  const int ny = y == -1 ? vpos_ : view::ClampPosition(y, layout_.vertical);
  const int dx = nx - hpos_, dy = ny - vpos_;
  hpos_ = nx;
  vpos_ = ny;
  current_ = layout_.vertical.enabled
                 ? view::CurrentRow(vpos_, layout_, page_h_, Height(AreaRect()), page_count_, sheet_.pages)
                 : 0;
  if (vbar_) {
    const QSignalBlocker block(vbar_);
    vbar_->setValue(vpos_);
    const QSignalBlocker hblock(hbar_);
    hbar_->setValue(hpos_);
  }
  if (pane_ && PaneRow() < pane_->count()) pane_->setCurrentRow(PaneRow());
  pan_anchor_ -= QPoint(dx, dy);
  if (!view::IsEmpty(view::Normalised(selection_))) {
    selection_.left -= dx;
    selection_.right -= dx;
    selection_.top -= dy;
    selection_.bottom -= dy;
  }
  Post(kMsgPageChanged, 0, 0);
  Repaint();
  UpdateScrollTip();
}

int CViewerView::GoToPage(std::uint16_t page) {
  if (!layout_.vertical.enabled) return 0;
  const int row = page == 0xFFFF ? 0 : std::min<int>(page, Rows());
  ScrollTo(-1, view::RowPosition(row, page_h_, layout_.vertical));
  return current_;
}

int CViewerView::CanGoPrevious() { return view::CanGoPrevious(page_count_, layout_.vertical, vpos_) ? 1 : 0; }
int CViewerView::CanChoosePage() { return view::CanChoosePage(page_count_, layout_.vertical) ? 1 : 0; }
int CViewerView::CanGoNext() { return view::CanGoNext(page_count_, layout_.vertical, vpos_) ? 1 : 0; }

int CViewerView::GoPrevious() {
  // A few pixels of slack: a position just off a row's top after a zoom's rounding still counts
  // as that row, so Previous and Next never skip or repeat one.
  if (CanGoPrevious()) GoToPage(std::uint16_t(std::max(0, (vpos_ - 4) / (page_h_ + view::kRowGap))));
  return 1;
}

int CViewerView::GoNext() {
  if (CanGoNext()) GoToPage(std::uint16_t((vpos_ + 4) / (page_h_ + view::kRowGap) + 1));
  return 1;
}

int CViewerView::ChoosePage() {
  if (page_count_ == 0) return 0;
  QWidget* had_focus = QApplication::focusWidget();
  const std::optional<unsigned> n = Prompter().AskPageNumber(host_, current_);
  if (n && *n != 0) {
    if (*n > unsigned(page_count_)) {
      GoToPage(std::uint16_t(Rows()));
    } else {
      GoToPage(std::uint16_t(*n - 1));
    }
    Repaint();
  }
  if (had_focus) had_focus->setFocus();
  return 1;
}

int CViewerView::GetPageLabel(std::string* out) {
  if (out) *out = view::PageLabel(current_);
  return 1;
}

void CViewerView::SetScrollBarsHidden(int flags) {
  hbar_height_ = (flags & 1) ? 0 : 16;
  vbar_width_ = (flags & 2) ? 0 : 16;
  Layout();
  RecomputeScroll();
  Repaint();
}

// ---- Zoom ----

std::vector<UnitSize> CViewerView::PageSizes() const {
  std::vector<UnitSize> out;
  if (!doc_) return out;
  for (int i = 0; i < page_count_; ++i) {
    if (ViewerPage* p = doc_->page(i)) out.push_back(UnitSize{p->extent_x(), p->extent_y()});
  }
  return out;
}

UnitSize CViewerView::PaperUnits() const {
  if (paper_.code == -1 || paper_.width <= 0 || paper_.height <= 0) return {};
  // The paper is in tenths of a millimetre, page extents in 1/28800 inch.
  return UnitSize{TenthMmToPageUnits(paper_.width), TenthMmToPageUnits(paper_.height)};
}

int CViewerView::SetZoom(int zoom, int anchor_x, int anchor_y) {
  if (!doc_ || page_count_ == 0 || !host_) {
    if (zoom > 2) {
      zoom_mode_ = view::kFree;
      zoom_percent_ = zoom;
    } else if (zoom >= 0) {
      zoom_mode_ = zoom;
    }
    return 0;
  }
  const std::vector<UnitSize> sizes = PageSizes();
  const UnitSize paper = PaperUnits();
  const UnitSize ref = view::ReferenceSize(sizes, paper);
  UnitSize page0 = sizes.empty() ? ref : sizes.front();
  if (paper.w > 0) page0 = (page0.w > page0.h) == (paper.w > paper.h) ? paper : UnitSize{paper.h, paper.w};
  const view::SheetGrid grid = view::ComputeSheetGrid(sheet_.pages, page0, ref);
  const win::RECT area = AreaRect();
  view::ZoomResult z = view::ComputeZoom(zoom, Width(area), Height(area), grid.slot, screen_res_);
  if (z.needs_dialog) {
    const std::optional<int> p = Prompter().AskZoomPercent(host_, zoom_percent_ > 0 ? zoom_percent_ : 100);
    if (!p) return 0;
    z = view::ComputeZoom(std::clamp(*p, view::kMinPercent, view::kMaxPercent), Width(area), Height(area), grid.slot,
                          screen_res_);
  }
  // Keep the content point under the anchor where it is.
  const int ay = anchor_y < 0 ? Height(area) / 2 : anchor_y;
  const double fraction = layout_.content_height > 0 ? double(vpos_ + ay) / layout_.content_height : 0.0;

  sheet_.columns = grid.columns;
  sheet_.rows = grid.rows;
  sheet_.orientation = grid.orientation;
  const int pw = view::UnitsToPixels(grid.slot.w, z.resolution);
  const int ph = view::UnitsToPixels(grid.slot.h, z.resolution);
  if (pw != page_w_ || ph != page_h_ || z.percent != zoom_percent_ || z.resolution != display_res_) {
    worker_->CancelAndWait();
    DiscardCaches();
    page_w_ = pw;
    page_h_ = ph;
  }
  zoom_mode_ = z.mode;
  zoom_percent_ = z.percent;
  display_res_ = z.resolution;
  (void)anchor_x;
  const int old_v = vpos_, old_row = current_;
  RecomputeScroll();
  if (layout_.vertical.enabled) {
    int target = int(fraction * layout_.content_height) - ay;
    // Whole-page mode shows a sheet whole: the current sheet starts at the top rather than
    // the anchor's point staying put, which would cut the sheet in two.
    if (zoom_mode_ == view::kWholePage && layout_.rows > 0)
      target = view::RowPosition(std::clamp(old_row, 0, layout_.rows - 1), page_h_, layout_.vertical);
    vpos_ = old_v;  // ScrollTo measures the move from here
    ScrollTo(-1, target);
  }
  selection_ = {};
  if (slider_) {
    const QSignalBlocker block(slider_);
    slider_->setValue(zoom_percent_);
    slider_->setToolTip(QString::fromStdString(view::ZoomSliderTip(zoom_mode_, zoom_percent_)));
  }
  Repaint();
  return 1;
}

void CViewerView::SetZoomFromCommand(int zoom) {
  const win::RECT a = AreaRect();
  SetZoom(zoom, Width(a) / 2, Height(a) / 2);
}

// ---- Rows ----

win::RECT CViewerView::RowRect(int row) const {
  return view::RowRect(row, AreaRect(), page_w_, page_h_, hpos_, vpos_, layout_);
}

int CViewerView::RowFirstPage(int row) const { return row * int(std::max<std::uint32_t>(sheet_.pages, 1)); }

bool CViewerView::RowTurned(int row) const {
  if (sheet_.pages > 1 || !doc_) return false;
  ViewerPage* p = doc_->page(row);
  return p && p->rotated();
}

view::RenderRequest CViewerView::RowRequest(int row, int width, int height, int resolution) const {
  view::RenderRequest rq;
  rq.row = row;
  rq.first_page = RowFirstPage(row);
  rq.width = width;
  rq.height = height;
  rq.resolution = resolution;
  rq.screen_res = screen_res_;
  rq.turned = RowTurned(row);
  rq.layout = sheet_;
  rq.background = kBackground & 0xFFFFFF;
  return rq;
}

// ---- Offsets, paper, sheet layout, pages ----

// The offset setters stop the worker first: its thread reads the document's pages, and the
// new offsets change how those pages are drawn.
void CViewerView::SetOffsetLeft(float v) {
  if (!doc_) return;
  worker_->CancelAndWait();
  doc_->SetPrintOffsets(doc_->size_offset(), v, doc_->top_offset());
}
void CViewerView::SetOffsetTop(float v) {
  if (!doc_) return;
  worker_->CancelAndWait();
  doc_->SetPrintOffsets(doc_->size_offset(), doc_->left_offset(), v);
}
void CViewerView::SetOffsetSize(float v) {
  if (!doc_) return;
  worker_->CancelAndWait();
  doc_->SetPrintOffsets(v, doc_->left_offset(), doc_->top_offset());
}

int CViewerView::RefreshPages() {
  worker_->CancelAndWait();
  DiscardCaches();
  Repaint();
  return 1;
}

void CViewerView::SetPaper(std::int32_t code, std::string name, std::int32_t width, std::int32_t height,
                           const std::vector<PaperMargins>& margins) {
  worker_->CancelAndWait();
  paper_ = ViewPaper{code, name, width, height, margins};
  if (doc_) doc_->SetPaperRecord(code, name, width, height, margins);
  DiscardCaches();
  const int row = current_;
  SetZoomFromCommand(view::kWholePage);
  GoToPage(std::uint16_t(row));
}

void CViewerView::GetPaper(ViewPaper* out) {
  if (out) *out = paper_;
}

void CViewerView::SetSheetLayout(std::uint32_t pages, std::int32_t order, std::int32_t separators) {
  worker_->CancelAndWait();
  const bool changed = pages != sheet_.pages;
  sheet_.pages = std::max<std::uint32_t>(pages, 1);
  sheet_.order = order;
  sheet_.separators = separators;
  selected_sheet_ = selected_page_ < 0 ? -1 : selected_page_ / int(sheet_.pages);
  if (changed) SetZoomFromCommand(view::kWholePage);
  RefreshPages();
  UpdateCurrentFromScroll();
}

std::uint16_t CViewerView::GetCurrentPage() { return std::uint16_t(current_); }
int CViewerView::GetPageCount() { return page_count_; }

void CViewerView::ShowPage(int page) {
  if (page_count_ > 0) GoToPage(std::uint16_t(page));
}

int CViewerView::MoveDocumentPages(int first, int last, int target) {
  if (!doc_) return 0;
  worker_->CancelAndWait();
  DiscardCaches();
  const int r = doc_->MovePages(std::int16_t(first), std::int16_t(last), std::int16_t(target));
  if (r && selected_page_ >= first && selected_page_ <= last) {
    const int count = last - first + 1;
    const int at = target > first ? target + 1 - count : target;
    selected_page_ = at + (selected_page_ - first);
    selected_sheet_ = selected_page_ / int(std::max<std::uint32_t>(sheet_.pages, 1));
  }
  // With several pages to a sheet the grid is sized from the first page, so a move touching
  // page 0 needs the whole zoom worked out again, not only fresh images.
  if (sheet_.pages == 1 || (first != 0 && target != 0)) {
    RefreshPages();
  } else {
    SetZoomFromCommand(view::kWholePage);
  }
  return r;
}

QScrollBar* CViewerView::GetVerticalScrollBar() { return vbar_; }
QWidget* CViewerView::GetScrollTip() { return scroll_tip_; }
void CViewerView::SetInputFrozen(int frozen) { input_frozen_ = frozen; }

}  // namespace zv::viewer
