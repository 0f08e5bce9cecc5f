#include "viewer/qt/viewer_view.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSlider>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QWidget>
#include <algorithm>

#include "platform/winmsg/winmsg.h"
#include "viewer/qt/dialogs.h"
#include "viewer/qt/menus.h"
#include "viewer/qt/prompter.h"
#include "viewer/view/doc_info.h"
#include "viewer/view/driven.h"
#include "viewer/viewer_doc.h"

namespace zv::viewer {

namespace {

using view::UnitSize;

constexpr QRgb kBackground = 0xFF808080;   // the grey of the page area
constexpr QRgb kPlaceholder = 0xFFD8D8D8;  // a row not drawn yet
constexpr int kTimerMs = 100;
constexpr int kTipMs = 9000;
// Largest selection copied as one image (pixels); beyond it the copy is refused.
constexpr std::int64_t kMaxCopyPixels = 64LL * 1024 * 1024;
constexpr int kMaxCopySide = 32767;

QRect ToQRect(const win::RECT& r) { return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top); }
win::RECT ToRect(const QRect& r) { return win::RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}; }

QImage ImageOf(gdi::ScreenSurface& s) {
  return QImage(s.data(), s.width(), s.height(), s.stride(), QImage::Format_RGB32);
}

constexpr int kTagHeight = 15;
constexpr int kThumbHeight = 132;
constexpr int kThumbSquare = 117;

// Draws the page pane's entries: the label "-%d-" in the caption colours (active when
// selected), and for thumbnails the page's image centred in a square above it.
class PaneDelegate : public QStyledItemDelegate {
 public:
  explicit PaneDelegate(CViewerView* view) : QStyledItemDelegate(view), view_(view) {}
  void paint(QPainter* p, const QStyleOptionViewItem& o, const QModelIndex& index) const override {
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
    p->drawText(label, Qt::AlignCenter, QStringLiteral("-%1-").arg(index.row() + 1));
  }
  QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
    return QSize(30, view_->pane_kind() == 0 ? kThumbHeight : kTagHeight);
  }

 private:
  CViewerView* view_;
};

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
      for (int i = 0; i < page_count_; ++i) pane_->addItem(QStringLiteral("-%1-").arg(i + 1));
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
    while (pane_->count() < n) pane_->addItem(QStringLiteral("-%1-").arg(pane_->count() + 1));
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
  return UnitSize{std::int64_t(paper_.width) * 28800 / 254, std::int64_t(paper_.height) * 28800 / 254};
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

// ---- Mouse mode, selection, page pick ----

int CViewerView::SetMouseMode(int mode) {
  if (!host_) return 0;
  EndDrag();
  mouse_mode_ = mode;
  switch (mode) {
    case kHand:
      host_->setCursor(Qt::OpenHandCursor);
      break;
    case kMagnifier:
      host_->setCursor(Qt::CrossCursor);
      break;
    case kImageSelect:
      host_->setCursor(Qt::IBeamCursor);
      break;
    case kPseudoWheel:
      host_->setCursor(Qt::SizeAllCursor);
      break;
    default:
      break;
  }
  return 1;
}

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

win::RECT CViewerView::RowRect(int row) const {
  return view::RowRect(row, AreaRect(), page_w_, page_h_, hpos_, vpos_, layout_);
}

int CViewerView::RowFirstPage(int row) const { return row * int(std::max<std::uint32_t>(sheet_.pages, 1)); }

bool CViewerView::RowTurned(int row) const {
  if (sheet_.pages > 1 || !doc_) return false;
  ViewerPage* p = doc_->page(row);
  return p && p->rotated();
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

// ---- Page pane ----

int CViewerView::ResizeTagPane(int steps) {
  if (page_count_ == 0) return 0;
  if (steps == 0) {
    if (pane_open()) {
      pane_width_ = 3;
    } else if (pane_kind_ == 1) {
      const QFontMetrics fm(ViewerFont(false, 15));
      const int chars = int(QStringLiteral("-%1-").arg(page_count_).size());
      int w = std::max(30, fm.horizontalAdvance(QLatin1Char('1')) * chars + 16);
      if (host_ && page_count_ * 15 + 6 > host_->height()) w += 16;
      pane_width_ = w;
    } else {
      // Thumbnails: a page scaled to a height of 116 pixels, widest over all pages.
      int w = 123;
      for (const UnitSize& s : PageSizes()) {
        if (s.h > 0) w = std::max(w, int(s.w * 116 / s.h) - 116 + 123);
      }
      if (host_ && page_count_ * 132 + 6 > host_->height()) w += 16;
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
  // The page scaled to a height of 116 pixels: resolution 116 x 28800 / page height.
  const int res = int(std::int64_t(116) * view::kPageUnitsPerInch / p->extent_y());
  view::RenderRequest rq;
  rq.row = page;
  rq.first_page = page;
  rq.width = std::max(1, view::UnitsToPixels(p->extent_x(), res));
  rq.height = 116;
  rq.resolution = std::max(res, 1);
  rq.screen_res = screen_res_;
  rq.turned = p->rotated();
  rq.background = 0x808080;
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

// ---- Rendering ----

void CViewerView::DiscardCaches() {
  cache_.Clear();
  lens_.cache.Clear();
}

void CViewerView::Repaint() {
  if (host_) host_->update();
}

void CViewerView::RequestRow(int row, int first_visible, int last_visible) {
  if (!doc_ || worker_->Pending(row) || !cache_.HasRoomFor(first_visible, last_visible)) return;
  view::RenderRequest rq;
  rq.row = row;
  rq.first_page = RowFirstPage(row);
  rq.width = page_w_;
  rq.height = page_h_;
  rq.resolution = display_res_;
  rq.screen_res = screen_res_;
  rq.turned = RowTurned(row);
  rq.layout = sheet_;
  rq.background = kBackground & 0xFFFFFF;
  worker_->Request(rq);
}

void CViewerView::OnRowReady(std::shared_ptr<view::RenderedRow> row) {
  if (!row || row->request.generation != worker_->generation()) return;
  // A row drawn for an earlier zoom still arrives after the change; its image is the wrong size.
  if (row->request.width != page_w_ || row->request.height != page_h_ || !row->surface) return;
  const win::RECT area = AreaRect();
  const view::RowSpan vis = view::VisibleRows(area, area, page_w_, page_h_, hpos_, vpos_, layout_);
  if (cache_.Insert(row->request.row, std::move(row->surface), vis.first, vis.last)) {
    most_cached_ = std::max(most_cached_, cache_.size());
    if (host_) host_->update(ToQRect(RowRect(row->request.row)));
  }
}

int CViewerView::RenderRotatedPages(const std::uint16_t* pages, int width, int height, int resolution) {
  if (!doc_ || !pages) return 0;
  int drawn = 0;
  const win::RECT area = AreaRect();
  const view::RowSpan vis = view::VisibleRows(area, area, page_w_, page_h_, hpos_, vpos_, layout_);
  for (const std::uint16_t* p = pages; *p != 0xFFFF; ++p) {
    auto surface = gdi::ScreenSurface::Create(width, height, screen_res_);
    if (!surface.ok()) continue;
    view::RenderRequest rq;
    rq.row = *p;
    rq.first_page = *p;
    rq.width = width;
    rq.height = height;
    rq.resolution = resolution;
    rq.screen_res = screen_res_;
    rq.turned = true;
    rq.background = kBackground & 0xFFFFFF;
    view::DrawRow(*doc_, rq, **surface);
    if (cache_.Insert(*p, std::move(*surface), vis.first, vis.last)) ++drawn;
  }
  return drawn;
}

void CViewerView::WaitForPages() {
  // Asks for the rows on screen (a window not yet exposed paints nothing), waits for the
  // worker and takes its images in, until every row on screen is cached or no room is left.
  for (int i = 0; i < 50 && host_ && page_count_ > 0 && page_w_ > 0; ++i) {
    QCoreApplication::sendPostedEvents();
    const win::RECT area = AreaRect();
    const view::RowSpan vis = view::VisibleRows(area, area, page_w_, page_h_, hpos_, vpos_, layout_);
    bool all = true;
    for (int r = vis.first; r <= vis.last; ++r) {
      if (!cache_.Find(r)) {
        all = false;
        RequestRow(r, vis.first, vis.last);
      }
    }
    if (all || !cache_.HasRoomFor(vis.first, vis.last)) break;
    worker_->WaitIdle();
    QCoreApplication::sendPostedEvents();
  }
  // The thumbnails of the pane's entries on screen.
  if (pane_ && pane_->isVisible() && pane_kind_ == 0) {
    for (int i = 0; i < 20; ++i) {
      bool all = true;
      for (int row = 0; row < pane_->count(); ++row) {
        const QRect r = pane_->visualItemRect(pane_->item(row));
        if (!r.intersects(pane_->viewport()->rect())) continue;
        if (!Thumbnail(row)) all = false;
      }
      if (all) break;
      thumb_worker_->WaitIdle();
      QCoreApplication::sendPostedEvents();
    }
  }
  if (host_) host_->repaint();
}

void CViewerView::Paint(QPainter& p, const QRect& update) {
  const win::RECT area = AreaRect();
  const QRect clip = update.intersected(ToQRect(area));
  p.setClipRect(clip);
  p.fillRect(clip, QColor(kBackground));
  if (page_count_ == 0 || page_w_ <= 0 || page_h_ <= 0) return;
  const view::RowSpan vis = view::VisibleRows(ToRect(clip), area, page_w_, page_h_, hpos_, vpos_, layout_);
  const view::RowSpan all = view::VisibleRows(area, area, page_w_, page_h_, hpos_, vpos_, layout_);
  for (int r = vis.first; r <= vis.last; ++r) {
    const QRect slot = ToQRect(RowRect(r));
    if (gdi::ScreenSurface* s = cache_.Find(r)) {
      p.drawImage(slot.topLeft(), ImageOf(*s));
    } else {
      p.fillRect(slot.adjusted(2, 2, -2, -2), QColor(kPlaceholder));
      RequestRow(r, all.first, all.last);
    }
  }
  // The picked page slot, inverted.
  if (selected_sheet_ >= vis.first && selected_sheet_ <= vis.last) {
    p.save();
    p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    p.fillRect(ToQRect(PickRect()), Qt::white);
    p.restore();
  }
  if (lens_.open) PaintLens(p);
  if (middle_shown_) {
    p.save();
    p.setPen(QPen(Qt::black, 2));
    p.setBrush(Qt::white);
    p.drawEllipse(middle_origin_, 13, 13);
    p.restore();
  }
  const win::RECT sel = view::Normalised(selection_);
  if (!view::IsEmpty(sel)) {
    p.save();
    QPen pen(Qt::black, 1, Qt::DotLine);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRect(ToQRect(sel).adjusted(0, 0, -1, -1));
    if (mouse_mode_ == kImageSelect && sel.right - sel.left > 6 && sel.bottom - sel.top > 6) {
      p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
      for (QPoint c : {QPoint(sel.left, sel.top), QPoint(sel.right - 6, sel.top), QPoint(sel.left, sel.bottom - 6),
                       QPoint(sel.right - 6, sel.bottom - 6)}) {
        p.fillRect(QRect(c, QSize(6, 6)), Qt::white);
      }
    }
    p.restore();
  }
}

// ---- Lens ----

void CViewerView::OpenLensAt(QPoint pt) {
  if (!doc_ || page_count_ == 0) return;
  const win::RECT area = AreaRect();
  const int row = view::RowAt(win::POINT{pt.x(), pt.y()}, area, page_w_, page_h_, hpos_, vpos_, layout_);
  if (row < 0) return;
  const int lens_res = 2 * screen_res_;
  const int w = int(std::int64_t(page_w_) * lens_res / std::max(1, display_res_));
  const int h = int(std::int64_t(page_h_) * lens_res / std::max(1, display_res_));
  if (!lens_.cache.Find(row)) {
    auto surface = gdi::ScreenSurface::Create(std::max(1, w), std::max(1, h), screen_res_);
    if (!surface.ok()) return;
    view::RenderRequest rq;
    rq.row = row;
    rq.first_page = RowFirstPage(row);
    rq.width = w;
    rq.height = h;
    rq.resolution = lens_res;
    rq.screen_res = screen_res_;
    rq.turned = RowTurned(row);
    rq.layout = sheet_;
    rq.background = kBackground & 0xFFFFFF;
    view::DrawRow(*doc_, rq, **surface);
    lens_.cache.Insert(row, std::move(*surface), row, row);
  }
  lens_.open = true;
  lens_.row = row;
  if (host_) host_->setCursor(Qt::BlankCursor);
  UpdateLens(pt);
}

void CViewerView::UpdateLens(QPoint pt) {
  if (!lens_.open) return;
  const QRect old = ToQRect(view::LensRect(win::POINT{lens_.centre.x(), lens_.centre.y()}));
  const win::RECT slot = RowRect(lens_.row);
  const win::POINT off = view::LensPlacement(win::POINT{pt.x(), pt.y()}, slot, display_res_, screen_res_);
  lens_.centre = pt;
  lens_.offset = QPoint(off.x, off.y);
  const QRect now = ToQRect(view::LensRect(win::POINT{pt.x(), pt.y()}));
  if (host_) host_->update(old.united(now).adjusted(-2, -2, 2, 2).intersected(ToQRect(AreaRect())));
}

void CViewerView::CloseLens() {
  if (!lens_.open) return;
  lens_.open = false;
  if (host_) {
    host_->update(ToQRect(view::LensRect(win::POINT{lens_.centre.x(), lens_.centre.y()})).adjusted(-2, -2, 2, 2));
    SetMouseMode(mouse_mode_);
  }
}

void CViewerView::PaintLens(QPainter& p) {
  gdi::ScreenSurface* s = lens_.cache.Find(lens_.row);
  const QRect lens = ToQRect(view::LensRect(win::POINT{lens_.centre.x(), lens_.centre.y()}));
  QPainterPath path;
  path.addRoundedRect(QRectF(lens), view::kLensCorner / 2.0, view::kLensCorner / 2.0);
  p.save();
  p.setClipPath(path, Qt::IntersectClip);
  p.fillRect(lens, QColor(kBackground));
  if (s) p.drawImage(lens_.centre + lens_.offset, ImageOf(*s));
  p.restore();
  p.save();
  p.setPen(QPen(Qt::black, 3));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(QRectF(lens).adjusted(1, 1, -1, -1), view::kLensCorner / 2.0, view::kLensCorner / 2.0);
  p.restore();
}

// ---- Input ----

void CViewerView::EndDrag() {
  if (drag_ == 2) {
    middle_shown_ = false;
    Repaint();
  }
  drag_ = 0;
  drag_handle_ = 0;
  CloseLens();
}

void CViewerView::MousePress(QPoint p, Qt::MouseButton b, bool dbl) {
  if (page_count_ == 0) return;
  last_cursor_ = p;
  if (dbl && mouse_mode_ != kPagePick && b == Qt::LeftButton) {
    const int next = zoom_mode_ == view::kWholePage   ? view::kPageWidth
                     : zoom_mode_ == view::kPageWidth ? view::kMaximum
                                                      : view::kWholePage;
    SetZoom(next, p.x(), p.y());
    return;
  }
  const bool middle = b == Qt::MiddleButton || (b == Qt::LeftButton && mouse_mode_ == kPseudoWheel);
  if (middle) {
    if (!layout_.vertical.enabled && !layout_.horizontal.enabled) return;
    drag_ = 2;
    middle_origin_ = p;
    middle_shown_ = true;
    Repaint();
    return;
  }
  if (b != Qt::LeftButton) return;
  switch (mouse_mode_) {
    case kHand:
      drag_ = 1;
      pan_start_ = p;
      pan_anchor_ = QPoint(hpos_, vpos_);
      host_->setCursor(Qt::ClosedHandCursor);
      break;
    case kMagnifier:
      drag_ = 1;
      OpenLensAt(p);
      break;
    case kImageSelect: {
      drag_ = 1;
      drag_handle_ = view::HandleAt(selection_, win::POINT{p.x(), p.y()});
      if (drag_handle_ == 0) {
        Repaint();
        selection_ = win::RECT{p.x(), p.y(), p.x(), p.y()};
        drag_handle_ = 4;
      }
      break;
    }
    case kPagePick:
      PickPage(p);
      break;
    default:
      break;
  }
}

void CViewerView::MouseMove(QPoint p) {
  last_cursor_ = p;
  if (drag_ != 1) return;
  if (mouse_mode_ == kHand) {
    ScrollTo(pan_anchor_.x() - (p.x() - pan_start_.x()), pan_anchor_.y() - (p.y() - pan_start_.y()));
  } else if (mouse_mode_ == kMagnifier) {
    UpdateLens(p);
  } else if (mouse_mode_ == kImageSelect && drag_handle_) {
    selection_ = view::DragHandle(selection_, drag_handle_, win::POINT{p.x(), p.y()});
    Repaint();
  }
}

void CViewerView::MouseRelease(QPoint p, Qt::MouseButton b) {
  const bool middle = b == Qt::MiddleButton || (b == Qt::LeftButton && mouse_mode_ == kPseudoWheel);
  if (middle && drag_ == 2) {
    EndDrag();
    return;
  }
  if (drag_ != 1 || b != Qt::LeftButton) return;
  if (mouse_mode_ == kHand) {
    if (auto_scroll_active) auto_scroll_step = view::AutoScrollStep(pan_start_.y(), p.y(), auto_scroll_step);
    host_->setCursor(Qt::OpenHandCursor);
  } else if (mouse_mode_ == kImageSelect) {
    selection_ = view::Normalised(selection_);
    Repaint();
  }
  drag_ = 0;
  drag_handle_ = 0;
  CloseLens();
}

void CViewerView::OnTimer() {
  if (!host_ || page_count_ == 0) return;
  if (drag_ == 2) {
    const win::POINT d = view::MiddleScroll(win::POINT{middle_origin_.x(), middle_origin_.y()},
                                            win::POINT{last_cursor_.x(), last_cursor_.y()});
    if (d.x || d.y) ScrollTo(hpos_ + d.x, vpos_ + d.y);
    return;
  }
  if (drag_ == 1) {
    const win::POINT d = view::EdgeScroll(AreaRect(), win::POINT{last_cursor_.x(), last_cursor_.y()});
    if (d.x || d.y) {
      if (mouse_mode_ == kHand) {
        ScrollTo(hpos_ - d.x, vpos_ - d.y);
      } else {
        ScrollTo(hpos_ + d.x, vpos_ + d.y);
        MouseMove(last_cursor_);
      }
    }
    return;
  }
  if (!auto_scroll_active || !layout_.vertical.enabled) return;
  const int max = layout_.vertical.max;
  const bool forward = auto_scroll_step >= 0;
  const int end = forward ? max : 0, start = forward ? 0 : max;
  if (vpos_ == end) {
    if (!auto_scroll_loop) {
      auto_scroll_active = 0;
      return;
    }
    // About a second's pause (eleven ticks of the timer) at the end before starting again, so
    // the reader sees the last page; the same pause follows at the start.
    if (++auto_scroll_pause < 11) return;
    auto_scroll_pause = 0;
    ScrollTo(-1, start);
    return;
  }
  if (vpos_ == start && auto_scroll_pause < 11 && auto_scroll_loop) {
    ++auto_scroll_pause;
    return;
  }
  auto_scroll_pause = 0;
  ScrollTo(-1, vpos_ + auto_scroll_step);
}

bool CViewerView::eventFilter(QObject* watched, QEvent* event) {
  if (watched != host_ || input_frozen_) return QObject::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::Paint: {
      QPainter p(host_);
      Paint(p, static_cast<QPaintEvent*>(event)->rect());
      return true;
    }
    case QEvent::Resize:
      Layout();
      if (page_count_ > 0) {
        SetZoom(zoom_mode_ == view::kFree ? zoom_percent_ : zoom_mode_, -1, -1);
      } else {
        RecomputeScroll();
      }
      return false;
    case QEvent::FocusOut:
      if (drag_) EndDrag();
      return false;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
      auto* m = static_cast<QMouseEvent*>(event);
      host_->setFocus();
      MousePress(m->position().toPoint(), m->button(), event->type() == QEvent::MouseButtonDblClick);
      return true;
    }
    case QEvent::MouseMove:
      MouseMove(static_cast<QMouseEvent*>(event)->position().toPoint());
      return true;
    case QEvent::MouseButtonRelease: {
      auto* m = static_cast<QMouseEvent*>(event);
      MouseRelease(m->position().toPoint(), m->button());
      return true;
    }
    case QEvent::KeyPress: {
      auto* k = static_cast<QKeyEvent*>(event);
      const int half = Height(AreaRect()) / 2;
      switch (k->key()) {
        case Qt::Key_Left:
          ScrollTo(hpos_ - 20, -1);
          break;
        case Qt::Key_Right:
          ScrollTo(hpos_ + 20, -1);
          break;
        case Qt::Key_Up:
          ScrollTo(-1, vpos_ - 32);
          break;
        case Qt::Key_Down:
          ScrollTo(-1, vpos_ + 32);
          break;
        case Qt::Key_PageUp:
          ScrollTo(-1, vpos_ - half);
          break;
        case Qt::Key_PageDown:
          ScrollTo(-1, vpos_ + half);
          break;
        default:
          return false;
      }
      UpdateScrollTip();
      return true;
    }
    case QEvent::ContextMenu: {
      auto* c = static_cast<QContextMenuEvent*>(event);
      if (drag_) return true;
      QMenu* menu = BuildContextMenu();
      if (!menu) return false;
      const QPoint at = c->reason() == QContextMenuEvent::Keyboard ? QPoint(0, 0) : c->pos();
      menu->exec(host_->mapToGlobal(at));
      delete menu;
      return true;
    }
    default:
      return QObject::eventFilter(watched, event);
  }
}

QMenu* CViewerView::BuildContextMenu() {
  if (HasSelection()) {
    QMenu* m = BuildPopup137(2, host_);
    connect(m, &QMenu::triggered, this, [this](QAction* a) {
      if (a->data().toInt() == cmd::kCopy) CopySelection();
      if (a->data().toInt() == cmd::kCancelSelection) ClearSelection();
    });
    return m;
  }
  if (!view::DrivenThroughExports()) return nullptr;
  QMenu* m = BuildMenu1013(host_);
  MarkViewState(m, *this);
  for (int id : {cmd::kClose, cmd::kHelp}) {
    if (QAction* a = FindCommand(m, id)) {
      m->removeAction(a);
      delete a;
    }
  }
  auto add = [m](const char* text, int id) {
    QAction* a = m->addAction(QString::fromUtf8(text));
    a->setObjectName(QString::number(id));
    a->setData(id);
  };
  add("文書情報(&I)...", cmd::kDocInfo);
  add("添付ﾌｧｲﾙ(&T)...", cmd::kAttachments);
  connect(m, &QMenu::triggered, this, [this](QAction* a) { Command(a->data().toInt()); });
  return m;
}

void CViewerView::ShowContextMenu(QPoint pos, bool from_keyboard) {
  QContextMenuEvent e(from_keyboard ? QContextMenuEvent::Keyboard : QContextMenuEvent::Mouse, pos,
                      host_ ? host_->mapToGlobal(pos) : pos);
  if (host_) eventFilter(host_, &e);
}

bool CViewerView::Command(int id) {
  QWidget* owner = host_;
  switch (id) {
    case cmd::kPrint:
      if (doc_) ShowPrintDialog(owner, *doc_);
      return true;
    case cmd::kPrevious:
      if (CanGoPrevious()) GoPrevious();
      return true;
    case cmd::kNext:
      if (CanGoNext()) GoNext();
      return true;
    case cmd::kPageNumber:
      ChoosePage();
      return true;
    case cmd::kDocInfo:
      if (doc_) ShowDocumentInfo(owner, *doc_);
      return true;
    case cmd::kAttachments:
      if (!doc_) return true;
      if (doc_->attachments().empty()) {
        Prompter().Message(owner, "添付ﾌｧｲﾙはありません。", PromptIcon::kNone);
      } else {
        SaveAttachmentsToFolder(owner, *doc_);
      }
      return true;
    case cmd::kZoomMax:
      if (zoom_mode_ != view::kMaximum) SetZoomFromCommand(view::kMaximum);
      return true;
    case cmd::kZoomWidth:
      if (zoom_mode_ != view::kPageWidth) SetZoomFromCommand(view::kPageWidth);
      return true;
    case cmd::kZoomWhole:
      if (zoom_mode_ != view::kWholePage) SetZoomFromCommand(view::kWholePage);
      return true;
    case cmd::kZoomFree:
      SetZoomFromCommand(view::kFree);
      return true;
    case cmd::kAutoScroll:
      SetAutoScroll(auto_scroll_active ? 0 : 1, auto_scroll_loop);
      return true;
    case cmd::kPaneTags:
      if (pane_kind_ == 1) ResizeTagPane(0);
      else SwitchTagKind();
      return true;
    case cmd::kPaneThumbs:
      if (pane_kind_ == 1) SwitchTagKind();
      else ResizeTagPane(0);
      return true;
    case cmd::kPaneClose:
      if (pane_open()) ResizeTagPane(0);
      return true;
    case cmd::kMouseHand:
      if (mouse_mode_ != kHand) SetMouseMode(kHand);
      return true;
    case cmd::kMouseMagnifier:
      if (mouse_mode_ != kMagnifier) SetMouseMode(kMagnifier);
      return true;
    case cmd::kMouseSelect:
      if (mouse_mode_ != kImageSelect) SetMouseMode(kImageSelect);
      return true;
    case cmd::kMouseWheel:
      if (mouse_mode_ != kPseudoWheel) SetMouseMode(kPseudoWheel);
      return true;
    default:
      return false;
  }
}

}  // namespace zv::viewer
