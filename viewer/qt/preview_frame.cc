#include "viewer/qt/preview_frame.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <cstring>

#include "jobdoc/image.h"
#include "viewer/qt/dialogs.h"
#include "viewer/qt/menus.h"
#include "viewer/qt/prompter.h"
#include "viewer/qt/tool_button.h"
#include "viewer/qt/viewer_view.h"
#include "viewer/view/doc_info.h"
#include "viewer/view/view_geometry.h"
#include "viewer/viewer_doc.h"

namespace zv::viewer {

namespace {

constexpr int kBarHeight = 29;

// The tooltip of each button (the text after the line break of its string).
QString Tooltip(int id) {
  switch (id) {
    case cmd::kClose:
      return QStringLiteral("ウィンドウを閉じる");
    case cmd::kPrint:
      return QStringLiteral("印刷ダイアログ表示");
    case cmd::kPrevious:
      return QStringLiteral("前ページ");
    case cmd::kDocInfo:
      return QStringLiteral("文書情報");
    case cmd::kPageNumber:
      return QStringLiteral("ページ指定");
    case cmd::kNext:
      return QStringLiteral("次ページ");
    case cmd::kHelp:
      return QStringLiteral("Tarvessa文書について");
    case cmd::kAutoScroll:
      return QStringLiteral("自動スクロール");
    case cmd::kAttachments:
      return QStringLiteral("添付ファイルの展開");
    case cmd::kPaneTags:
      return QStringLiteral("ページタグ");
    case cmd::kPaneThumbs:
      return QStringLiteral("サムネール");
    case kIdMouseButton:
      return QStringLiteral("マウスのモード変更");
    case kIdZoomButton:
      return QStringLiteral("表示倍率変更");
    default:
      return QString();
  }
}

// Reads the page-format record at the start of a document image (the offset the frame's
// string resource gives is 0). Gives nothing when the file is shorter than the record.
std::optional<jobdoc::PageFormatRecord> FormatRecord(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < jobdoc::kPageFormatRecordSize) return std::nullopt;
  jobdoc::PageFormatRecord r;
  std::memcpy(&r, bytes.data(), sizeof r);
  return r;
}

}  // namespace

std::vector<QRect> ShrinkAway(QWidget* w) {
  std::vector<QRect> steps;
  const QRect start = w->geometry();
  const int dx = start.width() / 20, dy = start.height() / 20;
  QRect r = start;
  for (int i = 0; i < 10; ++i) {
    r.adjust(dx, dy, -dx, -dy);
    w->setGeometry(r);
    steps.push_back(r);
    // Paint each step, but let no click or key reach a window that is going away.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    QThread::msleep(15);
  }
  return steps;
}

// ---------------------------------------------------------------------------------------
// Preview frame

CViewerPreviewFrame::CViewerPreviewFrame(const char* path, QWidget* parent)
    : QDialog(parent), path_(path ? path : ""), has_path_(path != nullptr), doc_(std::make_unique<CViewerDoc>()) {
  setObjectName(QStringLiteral("1009"));
  setWindowTitle(QStringLiteral("Tarvessa文書"));
  setFont(ViewerFont());
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                 Qt::WindowCloseButtonHint);
  setSizeGripEnabled(true);
  host_ = new QWidget(this);
  host_->setObjectName(QStringLiteral("1000"));
  host_->setWindowTitle(QStringLiteral("RARU_PREVIEW_WINDOWNAME"));
  host_->setGeometry(0, kBarHeight, width(), std::max(0, height() - kBarHeight));
  host_->show();
}

CViewerPreviewFrame::~CViewerPreviewFrame() {
  for (CViewerToolButton* b : buttons_) delete b;
  buttons_.clear();
  delete view_;  // stops its worker before the document goes
  view_ = nullptr;
  doc_.reset();
}

bool CViewerPreviewFrame::Initialise() {
  view_ = new CViewerView();
  view_->SetDocument(doc_.get());
  view_->SetAutoScroll(0, 1);
  view_->auto_scroll_step = 10;
  // Without a path there is nothing to show (the library's own file is no document).
  if (!has_path_) return false;
  auto mapped = view::MappedFile::Open(path_);
  if (!mapped.ok()) return false;
  file_ = std::move(*mapped);
  const auto record = FormatRecord(file_.bytes());
  if (!record) return false;
  if (!doc_->LoadFromBuffer(file_.bytes(), record->page_count)) return false;
  view_->SetMouseMode(record->mouse_mode);
  view_->AttachWindow(host_, record->zoom, record->page_pane);
  connect(view_, &CViewerView::hostMessage, this, [this](int msg, qintptr, qintptr) { OnHostMessage(msg); });

  // Placement: the work area less 100 pixels left and right and 50 top and bottom, or the
  // whole screen without a frame.
  QScreen* screen = QGuiApplication::primaryScreen();
  const QRect work = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  const QRect whole = screen ? screen->geometry() : work;
  if (record->placement != 0) {
    setGeometry(work.adjusted(100, 50, -100, -50));
  } else {
    full_screen_ = true;
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setGeometry(whole);
  }

  // The buttons, left to right.
  struct Place {
    int id, left, right;
  };
  std::vector<Place> places = {{cmd::kPaneTags, 6, 29},     {cmd::kPaneThumbs, 29, 52}, {cmd::kPrevious, 58, 81},
                               {cmd::kPageNumber, 81, 104}, {cmd::kNext, 104, 127},     {cmd::kAutoScroll, 133, 156},
                               {cmd::kPrint, 162, 217},     {cmd::kClose, 217, 277},    {cmd::kDocInfo, 283, 363}};
  int right = 363;
  if (!doc_->attachments().empty()) {
    places.push_back({cmd::kAttachments, 363, 449});
    right = 449;
  }
  places.push_back({cmd::kHelp, right, right + 23});
  for (const Place& s : places) {
    auto* b = new CViewerToolButton(s.id, view_, this);
    b->setGeometry(s.left, 3, s.right - s.left, 23);
    b->setToolTip(Tooltip(s.id));
    connect(b, &QAbstractButton::clicked, this, [this, id = s.id] { ButtonClicked(id); });
    if (s.id == cmd::kPrevious || s.id == cmd::kPageNumber || s.id == cmd::kNext) b->setEnabled(false);
    b->show();
    buttons_.push_back(b);
  }
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("status"));
  status_->setFont(ViewerFont());
  status_->setGeometry(right + 23 + 6, 3, 200, 23);
  status_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  status_->show();
  setWindowTitle(QString::fromStdString(view::StoredText(doc_->name())) + QStringLiteral(" - Tarvessa文書"));
  UpdateStatus();
  return true;
}

void CViewerPreviewFrame::resizeEvent(QResizeEvent* e) {
  QDialog::resizeEvent(e);
  if (host_) host_->setGeometry(0, kBarHeight, width(), std::max(0, height() - kBarHeight));
}

QString CViewerPreviewFrame::status_text() const { return status_ ? status_->text() : QString(); }

CViewerToolButton* CViewerPreviewFrame::button(int id) const {
  for (CViewerToolButton* b : buttons_) {
    if (b->id() == id) return b;
  }
  return nullptr;
}

void CViewerPreviewFrame::UpdateStatus() {
  if (!view_ || !status_) return;
  std::string label;
  view_->GetPageLabel(&label);
  status_->setText(QString::fromStdString(label) + QStringLiteral("表示中     "));
  const std::pair<int, bool> states[] = {{cmd::kPrevious, view_->CanGoPrevious() != 0},
                                         {cmd::kNext, view_->CanGoNext() != 0},
                                         {cmd::kPageNumber, view_->CanChoosePage() != 0}};
  for (const auto& [id, on] : states) {
    CViewerToolButton* b = button(id);
    if (b && b->isEnabled() != on) b->setEnabled(on);
  }
}

void CViewerPreviewFrame::OnHostMessage(int msg) {
  if (msg == kMsgPageChanged) {
    UpdateStatus();
  } else if (msg == kMsgPaneChanged) {
    for (int id : {cmd::kPaneTags, cmd::kPaneThumbs}) {
      if (CViewerToolButton* b = button(id)) b->update();
    }
  }
}

void CViewerPreviewFrame::ButtonClicked(int id) {
  switch (id) {
    case cmd::kClose:
    case cmd::kPrint:
    case cmd::kDocInfo:
    case cmd::kHelp:
    case cmd::kAutoScroll:
      OnCommand(id);
      break;
    case cmd::kPrevious:
      view_->GoPrevious();
      break;
    case cmd::kPageNumber:
      view_->ChoosePage();
      break;
    case cmd::kNext:
      view_->GoNext();
      break;
    default:
      OnCommand(id);
      break;
  }
  if (view_ && view_->host()) view_->host()->setFocus();
  UpdateStatus();
}

void CViewerPreviewFrame::OnCommand(int id) {
  if (!view_) return;
  // The frame's own commands open windows over the frame; every other (navigation, zoom,
  // auto-scroll, the page pane, the mouse modes) is the view's own command.
  switch (id) {
    case cmd::kClose:
      reject();
      break;
    case cmd::kPrint:
      ShowPrintDialog(this, *doc_);
      break;
    case cmd::kDocInfo:
      ShowDocumentInfo(this, *doc_);
      break;
    case cmd::kPageNumber:
      if (view_->CanChoosePage()) view_->ChoosePage();
      break;
    case cmd::kHelp:
      ShowHelp(this);
      break;
    case cmd::kAttachments:
      SaveAttachmentsToFolder(this, *doc_);
      break;
    default:
      view_->Command(id);
      break;
  }
  for (CViewerToolButton* b : buttons_) b->update();
}

QMenu* CViewerPreviewFrame::BuildContextMenu() {
  QMenu* m = BuildMenu1013(this);
  if (view_) MarkViewState(m, *view_);
  connect(m, &QMenu::triggered, this, [this](QAction* a) { OnCommand(a->data().toInt()); });
  return m;
}

void CViewerPreviewFrame::contextMenuEvent(QContextMenuEvent* e) {
  std::unique_ptr<QMenu> m(BuildContextMenu());
  const QPoint at = e->reason() == QContextMenuEvent::Keyboard ? QPoint(0, kBarHeight) : e->pos();
  m->exec(mapToGlobal(at));
}

// Enter would accept (and close) a dialog: this window closes only through its own commands.
void CViewerPreviewFrame::accept() {}

void CViewerPreviewFrame::reject() {
  if (full_screen_ && isVisible()) closing_steps_ = ShrinkAway(this);
  QDialog::reject();
}

// ---------------------------------------------------------------------------------------
// Page-flip window

CViewerFlipDialog::CViewerFlipDialog(const char* path, QWidget* parent)
    : QDialog(parent), path_(path ? path : ""), has_path_(path != nullptr), doc_(std::make_unique<CViewerDoc>()) {
  setObjectName(QStringLiteral("134"));
  setWindowTitle(QStringLiteral("Tarvessa文書"));
  setFont(ViewerFont());
  setMouseTracking(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::black);
  setPalette(pal);
  setAutoFillBackground(true);
  previous_ = new QPushButton(QStringLiteral("前ページ"), this);
  previous_->setObjectName(QString::number(cmd::kPrevious));
  next_ = new QPushButton(QStringLiteral("次ページ"), this);
  next_->setObjectName(QString::number(cmd::kNext));
  close_ = new QPushButton(QStringLiteral("閉じる"), this);
  close_->setObjectName(QString::number(cmd::kPrint));
  for (QPushButton* b : {previous_, next_, close_}) b->setFont(ViewerFont());
  connect(previous_, &QPushButton::clicked, this, [this] { GoTo(current_ - 1); });
  connect(next_, &QPushButton::clicked, this, [this] { GoTo(current_ + 1); });
  connect(close_, &QPushButton::clicked, this, &CViewerFlipDialog::reject);
  worker_ = std::make_unique<view::PageWorker>([this](view::RenderedRow row) {
    auto shared = std::make_shared<view::RenderedRow>(std::move(row));
    QMetaObject::invokeMethod(
        this,
        [this, shared] {
          if (shared->request.generation != worker_->generation() || !shared->surface) return;
          image_ = std::move(shared->surface);
          image_page_ = shared->request.row;
          image_size_ = QSize(shared->request.width, shared->request.height);
          update();
        },
        Qt::QueuedConnection);
  });
  worker_->SetDocument(doc_.get());
}

CViewerFlipDialog::~CViewerFlipDialog() {
  // The worker's thread draws from the document: it goes first.
  worker_.reset();
  doc_.reset();
}

int CViewerFlipDialog::page_count() const { return doc_->page_count(); }

bool CViewerFlipDialog::Initialise() {
  if (!has_path_) return false;
  auto mapped = view::MappedFile::Open(path_);
  if (!mapped.ok()) return false;
  file_ = std::move(*mapped);
  const std::span<const std::uint8_t> bytes = file_.bytes();
  if (bytes.size() < 4) return false;
  const int count = bytes[2] | bytes[3] << 8;
  current_ = std::max(count - 1, 0);
  worker_->CancelAndWait();
  if (!doc_->LoadFromBuffer(bytes, std::uint16_t(count))) return false;
  current_ = std::clamp(current_, 0, std::max(0, doc_->page_count() - 1));
  if (QScreen* s = QGuiApplication::primaryScreen()) resolution_ = std::max(1, int(s->logicalDotsPerInch() + 0.5));
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
  if (QScreen* s = QGuiApplication::primaryScreen()) setGeometry(s->geometry());
  UpdateControls();
  return true;
}

QRect CViewerFlipDialog::PageRect() const {
  ViewerPage* p = doc_->page(current_);
  if (!p || p->extent_x() <= 0 || p->extent_y() <= 0) return QRect();
  // The buttons keep a strip of their own at the bottom.
  const int w = width(), h = std::max(1, height() - 40);
  // The page relatively taller than the client area: its height decides.
  const bool taller = std::int64_t(p->extent_y()) * w > std::int64_t(p->extent_x()) * h;
  const int res = taller ? int(std::int64_t(h) * view::kPageUnitsPerInch / p->extent_y())
                         : int(std::int64_t(w) * view::kPageUnitsPerInch / p->extent_x());
  const int pw = view::UnitsToPixels(p->extent_x(), res), ph = view::UnitsToPixels(p->extent_y(), res);
  return QRect((w - pw) / 2, (h - ph) / 2, pw, ph);
}

void CViewerFlipDialog::Request() {
  const QRect r = PageRect();
  if (r.isEmpty()) return;
  if (image_ && image_page_ == current_ && image_size_ == r.size()) return;
  ViewerPage* p = doc_->page(current_);
  view::RenderRequest rq;
  rq.row = current_;
  rq.first_page = current_;
  rq.width = r.width();
  rq.height = r.height();
  rq.resolution = int(std::int64_t(r.width()) * view::kPageUnitsPerInch / std::max<std::int64_t>(1, p->extent_x()));
  rq.screen_res = resolution_;
  rq.turned = p->rotated();
  rq.background = 0;
  worker_->Request(rq);
}

void CViewerFlipDialog::WaitForPage() {
  for (int i = 0; i < 20; ++i) {
    Request();
    worker_->WaitIdle();
    QCoreApplication::sendPostedEvents();
    if (image_ && image_page_ == current_) break;
  }
  repaint();
}

void CViewerFlipDialog::GoTo(int page) {
  const int n = doc_->page_count();
  if (n == 0) return;
  page = std::clamp(page, 0, n - 1);
  if (page == current_) return;
  current_ = page;
  worker_->CancelAndWait();
  UpdateControls();
  update();
}

void CViewerFlipDialog::UpdateControls() {
  previous_->setEnabled(current_ > 0);
  next_->setEnabled(current_ + 1 < doc_->page_count());
  close_->setFocus();
}

void CViewerFlipDialog::resizeEvent(QResizeEvent* e) {
  QDialog::resizeEvent(e);
  const int y = height() - 34;
  previous_->setGeometry(width() / 2 - 170, y, 100, 26);
  close_->setGeometry(width() / 2 - 50, y, 100, 26);
  next_->setGeometry(width() / 2 + 70, y, 100, 26);
}

void CViewerFlipDialog::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  const QRect r = PageRect();
  if (r.isEmpty()) return;
  if (image_ && image_page_ == current_ && image_size_ == r.size()) {
    p.drawImage(r.topLeft(),
                QImage(image_->data(), image_->width(), image_->height(), image_->stride(), QImage::Format_RGB32));
  } else {
    p.fillRect(r, QColor(0x40, 0x40, 0x40));
    Request();
  }
}

void CViewerFlipDialog::mouseMoveEvent(QMouseEvent* e) {
  const bool left = e->position().x() < width() / 2;
  if (left && current_ > 0) {
    setCursor(Qt::PointingHandCursor);
  } else if (!left && current_ + 1 < doc_->page_count()) {
    setCursor(Qt::PointingHandCursor);
  } else {
    unsetCursor();
  }
}

void CViewerFlipDialog::Clicked(QPoint p) {
  if (p.x() < width() / 2) {
    if (current_ > 0) GoTo(current_ - 1);
  } else if (current_ + 1 < doc_->page_count()) {
    GoTo(current_ + 1);
  }
}

void CViewerFlipDialog::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) Clicked(e->position().toPoint());
}
void CViewerFlipDialog::mouseDoubleClickEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) Clicked(e->position().toPoint());
}

void CViewerFlipDialog::keyPressEvent(QKeyEvent* e) {
  // A held key would flip pages faster than they can be drawn: one page per press.
  if (e->isAutoRepeat()) return;
  switch (e->key()) {
    case Qt::Key_Home:
      GoTo(0);
      return;
    case Qt::Key_End:
      GoTo(doc_->page_count() - 1);
      return;
    case Qt::Key_PageUp:
      GoTo(current_ - 1);
      return;
    case Qt::Key_PageDown:
      GoTo(current_ + 1);
      return;
    default:
      QDialog::keyPressEvent(e);
  }
}

QMenu* CViewerFlipDialog::BuildContextMenu() {
  QMenu* m = BuildMenu138(this);
  FindCommand(m, cmd::kPrevious)->setEnabled(current_ > 0);
  FindCommand(m, cmd::kNext)->setEnabled(current_ + 1 < doc_->page_count());
  connect(m, &QMenu::triggered, this, [this](QAction* a) {
    const int id = a->data().toInt();
    if (id == cmd::kPrevious) GoTo(current_ - 1);
    if (id == cmd::kNext) GoTo(current_ + 1);
    if (id == cmd::kClose) reject();
  });
  return m;
}

void CViewerFlipDialog::contextMenuEvent(QContextMenuEvent* e) {
  std::unique_ptr<QMenu> m(BuildContextMenu());
  m->exec(e->globalPos());
}

void CViewerFlipDialog::accept() {}

void CViewerFlipDialog::reject() {
  unsetCursor();
  if (isVisible()) closing_steps_ = ShrinkAway(this);
  worker_->CancelAndWait();
  QDialog::reject();
}

}  // namespace zv::viewer
