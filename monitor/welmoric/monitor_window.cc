#include "monitor/welmoric/monitor_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>

#include <algorithm>

#include "client/handover.h"
#include "platform/shm/shm.h"

namespace zv::monitor {
namespace {

QFont JapaneseFont() {
  QFont f("IPAPGothic");
  f.setPointSize(9);
  return f;
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

QIcon MonitorIcon(bool paused) {
  QPixmap pm(22, 22);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(paused ? QColor(150, 150, 150) : QColor(40, 140, 70));
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(2, 5, 18, 12, 3, 3);
  p.setBrush(Qt::white);
  p.drawRect(6, 2, 10, 6);
  p.drawRect(6, 13, 10, 7);
  return QIcon(pm);
}

ResultPopup::ResultPopup(const std::string& path, const MonitorAnswer& answer, QWidget* parent)
    : QDialog(parent), path_(path), identity_(answer.identity) {
  setAttribute(Qt::WA_DeleteOnClose);
  setFont(JapaneseFont());
  ResultPopupText text = PopupTextFor(answer);
  setWindowTitle(Q(text.title));
  auto* label = new QLabel(this);
  label->setObjectName("1003");
  label->setFont(JapaneseFont());
  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("1");
  QFontMetrics fm(label->font());
  int width = 0, height = 0;
  QStringList lines;
  for (const std::string& l : text.lines) {
    lines << Q(l);
    width = std::max(width, fm.horizontalAdvance(Q(l)));
    height += fm.height();
  }
  label->setText(lines.join("\n"));
  QFontMetrics bm(ok->font());
  PopupLayout g = LayoutResultPopup(width, height, bm.horizontalAdvance("OK"), bm.height());
  setFixedSize(g.window_width, g.window_height);
  label->setGeometry(g.text_x, g.text_y, g.text_width, g.text_height);
  ok->setGeometry(g.button_x, g.button_y, g.button_width, g.button_height);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  if (QScreen* s = QGuiApplication::primaryScreen()) move(s->geometry().center() - rect().center());
}

ResultPopup::~ResultPopup() {
  if (!path_.empty()) DeleteIfUnchanged(path_, identity_);
}

CWelmoricView::CWelmoricView(const QStringList& headers, QWidget* parent)
    : QTableWidget(0, static_cast<int>(headers.size()), parent) {
  setObjectName("WelmoricView");
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  verticalHeader()->hide();
  setHorizontalHeaderLabels(headers);
  setWordWrap(false);
}

CTrayNotifyIcon::CTrayNotifyIcon(const QIcon& icon, const QString& tooltip, QMenu* menu, QObject* owner)
    : QSystemTrayIcon(icon, owner) {
  setToolTip(tooltip);
  setContextMenu(menu);
}

CMainFrame::CMainFrame(std::function<void(const QString&)> notify) : notify_(std::move(notify)) {
  setFont(JapaneseFont());
  QStringList headers;
  for (const char* h : kColumnHeaders) headers << QString::fromUtf8(h);
  view_ = new CWelmoricView(headers, this);
  const std::vector<int> widths = StoredColumnWidths().value_or(FittedColumnWidths());
  for (int i = 0; i < kColumnCount; ++i) view_->setColumnWidth(i, widths[i]);
  setCentralWidget(view_);
  count_ = new QLabel(Q(CountText(0)), this);
  state_ = new QLabel(QString::fromUtf8(kMonitoringText), this);
  statusBar()->addWidget(count_, 1);
  statusBar()->addWidget(state_, 1);
  setWindowTitle(Q(WindowTitle(ReadServerNames().server.value_or(""))));

  menu_ = new QMenu(this);
  menu_->setFont(JapaneseFont());
  auto label = [](const char* t) { return QString::fromUtf8(t).replace("(&", "(&"); };
  menu_->addAction(label(kMenuOpen), this, [this] { ShowMonitor(); });
  menu_->addAction(label(kMenuHide), this, [this] { HideMonitor(); });
  menu_->addSeparator();
  pause_action_ = menu_->addAction(label(kMenuPause), this, [this] { TogglePause(); });
  pause_action_->setCheckable(true);
  connect(menu_, &QMenu::aboutToShow, this, [this] { pause_action_->setChecked(!monitoring()); });
  tray_available_ = QSystemTrayIcon::isSystemTrayAvailable();
  if (tray_available_) {
    MakeTrayIcon();
  } else {
    // No tray host: said once. The monitor keeps running with its list hidden (its result
    // popups still come, and starting the program again opens the list); the icon is made
    // once a tray appears.
    if (notify_) notify_(QString::fromUtf8(kNoTrayText));
  }
  // The tray may come later (a panel started after the session) or go and come back (a
  // panel restarted): each time one appears the icon is put into it again.
  tray_watch_.setInterval(kTrayWatchMs);
  connect(&tray_watch_, &QTimer::timeout, this, [this] { WatchTray(); });
  tray_watch_.start();

  auto h = winmsg::CreateWindow(
      kAppTitle, kAppTitle,
      [this](winmsg::HWND, winmsg::UINT m, winmsg::WPARAM w, winmsg::LPARAM l) { return Proc(m, w, l); });
  if (!h.ok()) return;
  hwnd_ = *h;
  winmsg::SetProp(hwnd_, kAppTitle, 1);
  connect(&timer_, &QTimer::timeout, this, [this] { OnTimer(); });
  timer_.start(PollPeriodMs());
}

void CMainFrame::MakeTrayIcon() {
  if (tray_ == nullptr) {
    tray_ = new CTrayNotifyIcon(MonitorIcon(!monitoring() && hwnd_ != 0), kTrayTooltip, menu_, this);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
      if (r == QSystemTrayIcon::DoubleClick) ShowMonitor();
    });
  } else {
    tray_->hide();  // docked again into the new tray
  }
  tray_->show();
}

void CMainFrame::WatchTray() {
  const bool available = QSystemTrayIcon::isSystemTrayAvailable();
  if (available && !tray_available_) MakeTrayIcon();
  tray_available_ = available;
}

CMainFrame::~CMainFrame() {
  if (worker_.joinable()) worker_.join();
  if (hwnd_) {
    winmsg::RemoveProp(hwnd_, kAppTitle);
    winmsg::DestroyWindow(hwnd_);
  }
  if (!first_show_) SavePlacementNow();
}

winmsg::LRESULT CMainFrame::Proc(winmsg::UINT msg, winmsg::WPARAM w, winmsg::LPARAM l) {
  switch (msg) {
    case client::kMonitorAddResult:
      return OnAddResult();
    case winmsg::WM_ACTIVATE:
      ShowMonitor();
      return 0;
    case kWmCommand:
      switch (w & 0xFFFF) {
        case kCmdShowMonitor:
          ShowMonitor();
          return 1;
        case kCmdTogglePause:
          TogglePause();
          return 1;
        case kCmdHide:
          HideMonitor();
          return 1;
        case kCmdClose:
          HideMonitor();
          return 1;
        case kCmdRefresh:
          RefreshList();
          return 1;
        default:
          return 0;
      }
    case winmsg::WM_CLOSE:
      QApplication::quit();
      return 0;
    default:
      return winmsg::DefWindowProc(hwnd_, msg, w, l);
  }
}

winmsg::LRESULT CMainFrame::OnAddResult() {
  Result<shm::SharedBlock> block = shm::SharedBlock::Open(client::kMonitorBlock, shm::Access::kRead);
  if (!block.ok()) return 0;
  std::optional<std::string> name = AnswerNameFromBlock(block->bytes());
  if (!name) return 1;
  const ServerNames names = ReadServerNames();
  Result<std::string> folder = ResultFolder(names);
  queue_.set_accept_keyless(names.accept_keyless);
  if (folder.ok()) queue_.Add(*folder + "/" + *name, RequestKeyFromBlock(block->bytes()));
  return 1;
}

void CMainFrame::OnTimer() {
  // One poll at a time: a slow share must not pile up workers, one per tick.
  if (polling_) return;
  StartWork(true, isVisible());
}

// Reads on the worker what may sit on a network share (answer copies, the request list)
// and posts the results back to this thread.
void CMainFrame::StartWork(bool answers, bool list) {
  if (worker_.joinable()) worker_.join();
  polling_ = true;
  refresh_pending_ = false;
  std::vector<std::pair<std::string, std::string>> paths;  // with their requests' keys
  if (answers)
    for (const std::string& p : queue_.paths()) paths.emplace_back(p, queue_.key_of(p));
  bool monitoring_now = monitoring();
  worker_ = std::thread([this, paths, list, monitoring_now] {
    std::vector<AnswerQueue::Arrival> read;
    Result<std::string> requests = std::string();
    if (!paths.empty()) {
      const ServerNames names = ReadServerNames();
      requests = ShareFolder(names, names.print_info_dir.value_or("PrintInfo"));
    }
    for (const auto& [p, key] : paths) {
      AnswerQueue::Arrival a{p, ReadAnswer(p)};
      // Whether the engine took the request matters only while no answer of it is there.
      if (!a.answer.arrived || a.answer.request_id != key)
        a.request_waits = !requests.ok() || CopysRequestWaits(*requests, p, key);
      read.push_back(std::move(a));
    }
    std::optional<ListView> view;
    if (list) view = list_.Refresh(monitoring_now);
    QMetaObject::invokeMethod(
        this, [this, read = std::move(read), view = std::move(view)] { PollDone(read, view); }, Qt::QueuedConnection);
  });
}

void CMainFrame::PollDone(std::vector<AnswerQueue::Arrival> read, std::optional<ListView> list) {
  polling_ = false;
  std::vector<std::pair<std::string, MonitorAnswer>> popups;
  for (const AnswerQueue::Arrival& a : queue_.Take(read)) popups.emplace_back(a.path, a.answer);
  // A request the engine took without an answer coming: the user is told once, and the
  // wait goes on (an answer kept by the engine may still come).
  const size_t overdue = queue_.Overdue(read, std::chrono::steady_clock::now()).size();
  for (size_t i = 0; i < overdue; ++i) popups.emplace_back(std::string(), NoAnswerNoticeAnswer());
  for (const auto& [path, answer] : popups) {
    if (on_shown_) on_shown_(PopupTextFor(answer));
    auto* popup = new ResultPopup(path, answer);
    popup->show();
    popup->raise();
    popup->activateWindow();
  }
  if (list && isVisible() && monitoring()) {
    ApplyList(*list);
    setWindowTitle(Q(WindowTitle(ReadServerNames().server.value_or(""))));
  }
  if (refresh_pending_) StartWork(false, true);
}

void CMainFrame::WaitIdle() {
  while (polling_ || refresh_pending_) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

void CMainFrame::ApplyList(const ListView& v) {
  view_->setRowCount(static_cast<int>(v.rows.size()));
  for (int r = 0; r < static_cast<int>(v.rows.size()); ++r)
    for (int c = 0; c < kColumnCount; ++c) view_->setItem(r, c, new QTableWidgetItem(Q(v.rows[r][c])));
  count_->setText(Q(v.count_text));
  if (!v.message.empty() && notify_) notify_(Q(v.message));
}

void CMainFrame::RefreshList() {
  if (!monitoring()) {
    ApplyList(ListView{{}, CountText(0), {}});
    return;
  }
  if (polling_) {
    // The running poll's list may be older than the request: one more refresh follows it.
    refresh_pending_ = true;
    return;
  }
  StartWork(false, true);
}

void CMainFrame::ShowMonitor() {
  if (first_show_) {
    first_show_ = false;
    Placement p = ReadPlacement();
    // The default place is widened to show every column whole.
    if (p == Placement{}) p.width = std::max(p.width, ListWidth());
    setGeometry(p.left, p.top, p.width, p.height);
  }
  showNormal();
  raise();
  activateWindow();
  RefreshList();
  setWindowTitle(Q(WindowTitle(ReadServerNames().server.value_or(""))));
}

void CMainFrame::HideMonitor() {
  SaveWidths();
  if (!first_show_) SavePlacementNow();
  hide();
}

void CMainFrame::TogglePause() {
  if (timer_.isActive()) {
    timer_.stop();
    state_->setText(QString::fromUtf8(kPausedText));
    if (tray_) tray_->setIcon(MonitorIcon(true));
  } else {
    timer_.start(PollPeriodMs());
    state_->setText(QString::fromUtf8(kMonitoringText));
    if (tray_) tray_->setIcon(MonitorIcon(false));
  }
  if (isVisible()) RefreshList();
}

void CMainFrame::SavePlacementNow() {
  // The normal geometry, not the current one: a window closed while maximised reopens at its
  // restored size.
  QRect r = normalGeometry();
  if (r.isEmpty()) r = geometry();
  // A place that cannot be saved only costs the next start its last position.
  (void)SavePlacement({r.left(), r.top(), r.width(), r.height()});
}

std::vector<int> CMainFrame::FittedColumnWidths() const {
  // Per column the widest text it commonly shows: a date, a document name, an account, a
  // printer, a page count, the longest paper text, a layout and a number of copies.
  static const char* const kSamples[kColumnCount] = {"8888/88/88 88:88:88",
                                                     "ドキュメント名の見本.docx",
                                                     "account.name",
                                                     "Office-Printer-A4",
                                                     "9999",
                                                     "文書の設定用紙",
                                                     "8分割",
                                                     "999"};
  const QFontMetrics cell(view_->font()), head(view_->horizontalHeader()->font());
  std::vector<int> widths;
  for (int i = 0; i < kColumnCount; ++i)
    widths.push_back(std::max(cell.horizontalAdvance(QString::fromUtf8(kSamples[i])),
                              head.horizontalAdvance(QString::fromUtf8(kColumnHeaders[i]))) +
                     20);
  return widths;
}

int CMainFrame::ListWidth() const {
  int width = 2 * view_->frameWidth() + view_->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4;
  for (int i = 0; i < kColumnCount; ++i) width += view_->columnWidth(i);
  return width;
}

void CMainFrame::SaveWidths() {
  std::vector<int> w;
  for (int i = 0; i < kColumnCount; ++i) w.push_back(view_->columnWidth(i));
  // As with the place: widths not saved come back as the defaults next time.
  (void)SaveColumnWidths(w);
}

void CMainFrame::closeEvent(QCloseEvent* e) {
  // Closing only hides the window; the monitor keeps running.
  HideMonitor();
  e->ignore();
}

}  // namespace zv::monitor
