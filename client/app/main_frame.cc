#include "client/app/main_frame.h"

#include <unistd.h>
#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDockWidget>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <thread>

#include "capture/lumbrel/lumbrel.h"
#include "client/answer.h"
#include "client/app/dialogs.h"
#include "client/app/driver_sheets.h"
#include "client/app/queue_window.h"
#include "client/app/page_export.h"
#include "client/handover.h"
#include "client/local_run.h"
#include "client/printer_list.h"
#include "client/quota_cache.h"
#include "platform/fs/files.h"
#include "platform/help/help_page.h"
#include "platform/paths/install_layout.h"
#include "platform/paths/paths.h"
#include "platform/process/open_file.h"
#include "platform/spool/spool.h"
#include "printing/printer_dc.h"
#include "viewer/page.h"
#include "viewer/qt/prompter.h"
#include "viewer/qt/viewer_view.h"

namespace zv::client::app {
namespace {

// True when the job monitor's window runs in this root.
bool FindWindowOfMonitor() { return winmsg::FindWindow(kMonitorClass, nullptr) != 0; }

// Takes the job list; gives each row's name and page count, so two lists compare equal
// only when they hold the same jobs.
std::vector<std::string> JobNames(const JobList& jobs) {
  std::vector<std::string> names;
  for (const auto& r : jobs.rows()) names.push_back(r.name + '\t' + std::to_string(r.pages));
  return names;
}

// Gives a child control's object name from its id.
QString Id(int id) { return QString::number(id); }

QPushButton* Button(QWidget* parent, int id, const QString& text) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(Id(id));
  b->setFont(viewer::ViewerFont());
  return b;
}

}  // namespace

CMainFrame::CMainFrame(FrameOptions options, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options)), help_(options_.run_program) {
  setWindowTitle(QString::fromUtf8(kFrameText));
  setFont(viewer::ViewerFont());
  resize(590, 485);
  setMinimumSize(590, 485);
  doc_.set_capture_folder(options_.capture_folder);
  if (auto folder = paths::ProgramFolder(); folder.ok()) trace_ = jobdoc::TraceLog(options_.trace, *folder);

  for (int i = 0; i < 2; ++i) {
    panes_[i] = new QLabel(this);
    panes_[i]->setObjectName(QString("pane%1").arg(i));
    statusBar()->addWidget(panes_[i], i == 0 ? 1 : 0);
  }
  view_host_ = new QWidget(this);
  view_host_->setObjectName("view");
  view_host_->setMinimumSize(kPreviewMinimumWidth, 120);
  setCentralWidget(view_host_);
  view_ = new viewer::CViewerView();
  view_->setParent(this);
  view_->SetDocument(&doc_.viewer());
  view_->AttachWindow(view_host_, viewer::view::kWholePage, 0);
  connect(view_, &viewer::CViewerView::hostMessage, this, [this](int msg, qintptr wparam, qintptr lparam) {
    if (msg != viewer::kMsgPageChanged) return;
    if (wparam == 1) {
      const int page = static_cast<int>(lparam & 0xFFFF);
      PickPage(page);
      SetJobPos(page);
    } else {
      SetJobPos((view_->GetCurrentPage() & 0xFFFF) * layout_->choice().pages_per_sheet);
    }
  });
  BuildBars();
  // The document told the view it changed (loading, a job appended, pages edited): the
  // reduction line counts its pages again.
  connect(view_, &viewer::CViewerView::documentNotice, this, [this] { UpdatePageCounts(); });
  // The default-button look follows the focus.
  connect(qApp, &QApplication::focusChanged, this, &CMainFrame::OnFocusChanged);

  // Timer 4: the chosen printer's status every 5 seconds.
  status_timer_ = new QTimer(this);
  status_timer_->setObjectName("timer4");
  status_timer_->setInterval(TimerInterval(kTimerPrinter));
  connect(status_timer_, &QTimer::timeout, this, [this] { OnTimerTick(kTimerPrinter); });
  timers_.Created();
  // Timer 3: the print run starts at its tick after the print button.
  start_timer_ = new QTimer(this);
  start_timer_->setObjectName("timer3");
  start_timer_->setInterval(TimerInterval(kTimerStart));
  connect(start_timer_, &QTimer::timeout, this, [this] { OnTimerTick(kTimerStart); });
  // Timer 1: the answer of a local run.
  answer_timer_ = new QTimer(this);
  answer_timer_->setObjectName("timer1");
  answer_timer_->setInterval(options_.answer_poll_ms > 0 ? options_.answer_poll_ms : TimerInterval(kTimerAnswer));
  connect(answer_timer_, &QTimer::timeout, this, [this] { OnTimerTick(kTimerAnswer); });
  status_timer_->start();
  // Timer 2: the quota state from the server's result folder every 15 seconds.
  quota_timer_ = new QTimer(this);
  quota_timer_->setInterval(15000);
  connect(quota_timer_, &QTimer::timeout, this, &CMainFrame::RefreshQuotaAsync);
  if (options_.register_window) RegisterWindow();
  offers_ = options_.printer_offers ? *options_.printer_offers : MachinePrinterOffers();
  UpdatePrinterCommands();
}

CMainFrame::~CMainFrame() {
  // Child windows still shown (a queue window) hand the focus back as they go: the frame,
  // half destroyed by then, hears no more of it.
  disconnect(qApp, &QApplication::focusChanged, this, nullptr);
  if (hwnd_ != 0) winmsg::DestroyWindow(hwnd_);
  view_->SetDocument(nullptr);
}

void CMainFrame::BuildBars() {
  auto* left = new QWidget(this);
  left->setObjectName("105");
  auto* lv = new QVBoxLayout(left);
  lv->setContentsMargins(4, 4, 4, 4);
  auto* plabel = new QLabel(QString::fromUtf8("プリンタ(&D):"), left);
  printer_combo_ = new QComboBox(left);
  printer_combo_->setObjectName(Id(1068));
  plabel->setBuddy(printer_combo_);
  auto* slabel = new QLabel(QString::fromUtf8("用紙サイズ(&S):"), left);
  paper_combo_ = new QComboBox(left);
  paper_combo_->setObjectName(Id(1071));
  slabel->setBuddy(paper_combo_);
  rate_line_ = new QLabel(QString::fromUtf8("削減率: 0.0%  印刷枚数:0 総ﾍﾟｰｼﾞ数:0"), left);
  rate_line_->setObjectName(Id(1067));
  tabs_ = new QTabWidget(left);
  tabs_->setObjectName(Id(1005));
  layout_ = new _CLayout(tabs_);
  header_ = new _CPrtHdr(options_.prompt, tabs_);
  copies_ = new _CPrtSet(tabs_);
  tabs_->addTab(layout_, QString::fromUtf8("レイアウト"));
  tabs_->addTab(header_, QString::fromUtf8("ヘッダ"));
  tabs_->addTab(copies_, QString::fromUtf8("部数"));
  connect(header_, &_CPrtHdr::textsChanged, this, &CMainFrame::ApplyHeaderFooter);
  connect(header_, &_CPrtHdr::fontRequested, this, &CMainFrame::ChooseHeaderFont);
  connect(layout_, &_CLayout::splitChanged, this, [this] {
    const PreviewSplit s = ToPreviewSplit(layout_->choice(), 0, 0);
    view_->SetSheetLayout(static_cast<std::uint32_t>(s.pages), s.direction, s.separator);
    UpdatePageCounts();  // the sheets follow the pages per sheet
  });
  layout_->set_prompt(options_.prompt);
  connect(layout_, &_CLayout::offsetsChanged, this, [this] {
    view_->SetOffsetTop(layout_->top_offset());
    view_->SetOffsetLeft(layout_->left_offset());
    view_->SetOffsetSize(layout_->scale_offset());
    view_->RefreshPages();
  });
  connect(layout_, &_CLayout::offsetRejected, this, [this] {
    tabs_->setCurrentIndex(0);
    view_->SetInputFrozen(1);
  });
  connect(layout_, &_CLayout::offsetResumed, this, [this] { view_->SetInputFrozen(0); });
  tabs_->addTab(BuildJobPage(), QString::fromUtf8("ジョブ"));
  lv->addWidget(plabel);
  lv->addWidget(printer_combo_);
  lv->addWidget(slabel);
  lv->addWidget(paper_combo_);
  lv->addWidget(rate_line_);
  lv->addWidget(tabs_, 1);
  auto* dock = new QDockWidget(this);
  dock->setObjectName("106");
  dock->setTitleBarWidget(new QWidget(dock));
  dock->setFeatures(QDockWidget::NoDockWidgetFeatures);
  dock->setWidget(left);
  addDockWidget(Qt::LeftDockWidgetArea, dock);
  connect(printer_combo_, &QComboBox::currentIndexChanged, this, [this] { OnPrinterChosen(); });
  connect(paper_combo_, &QComboBox::currentIndexChanged, this, [this](int index) {
    trace_.Trace("_CPrtSet::OnSelchangeComboPaper IN");
    const int p = printer_combo_->currentIndex();
    if (p >= 0 && p < static_cast<int>(printers_.size()) && index >= 0 &&
        index < static_cast<int>(printers_[p].papers.size()))
      SetPaper(printers_[p].papers[index].code);
    trace_.Trace("_CPrtSet::OnSelchangeComboPaper OUT");
  });

  auto* bottom = new QWidget(this);
  bottom->setObjectName("103");
  auto* bl = new QHBoxLayout(bottom);
  bl->setContentsMargins(4, 2, 4, 2);
  // The print queue and printer properties commands: enabled where the machine serves
  // them (UpdatePrinterCommands).
  QPushButton* queue = Button(bottom, 1000, QString::fromUtf8("プリンタ(&P)"));
  QPushButton* props = Button(bottom, 1072, QString::fromUtf8("プロパティ(&R)"));
  connect(queue, &QPushButton::clicked, this, &CMainFrame::RunQueueCommand);
  connect(props, &QPushButton::clicked, this, &CMainFrame::RunPropertiesCommand);
  QPushButton* print = Button(bottom, 1002, QString::fromUtf8("印刷"));
  print->setDefault(true);
  QPushButton* cancel = Button(bottom, 1003, QString::fromUtf8("キャンセル"));
  QPushButton* help = Button(bottom, 1004, QString::fromUtf8("ヘルプ"));
  bl->addWidget(queue);
  bl->addWidget(props);
  bl->addStretch(1);
  bl->addWidget(print);
  bl->addWidget(cancel);
  bl->addWidget(help);
  auto* bdock = new QDockWidget(this);
  bdock->setObjectName("104");
  bdock->setTitleBarWidget(new QWidget(bdock));
  bdock->setFeatures(QDockWidget::NoDockWidgetFeatures);
  bdock->setWidget(bottom);
  addDockWidget(Qt::BottomDockWidgetArea, bdock);
  connect(cancel, &QPushButton::clicked, this, &QWidget::close);
  connect(print, &QPushButton::clicked, this, &CMainFrame::Print);
  connect(help, &QPushButton::clicked, this, &CMainFrame::RunHelp);
  QMenu* file = menuBar()->addMenu(QString::fromUtf8("ファイル(&F)"));
  // The menu twins of the bar's buttons and the job list's job files: print and the job
  // save need pages and no run, the job commands no run.
  QAction* print_item = file->addAction(QString::fromUtf8("印刷(&P)"), this, &CMainFrame::Print);
  print_item->setObjectName("32797");
  queue_item_ = file->addAction(QString::fromUtf8("プリンタのキュー(&Q)..."), this, &CMainFrame::RunQueueCommand);
  queue_item_->setObjectName("32798");
  properties_item_ =
      file->addAction(QString::fromUtf8("プリンタのプロパティ(&I)..."), this, &CMainFrame::RunPropertiesCommand);
  properties_item_->setObjectName("32799");
  file->addSeparator();
  QAction* open_item = file->addAction(QString::fromUtf8("保存されたジョブを開く(&J)..."), this,
                                       [this] { findChild<QPushButton*>(Id(1084))->click(); });
  open_item->setObjectName("32788");
  QAction* save_item = file->addAction(QString::fromUtf8("ジョブの保存(&V)..."), this,
                                       [this] { findChild<QPushButton*>(Id(1083))->click(); });
  save_item->setObjectName("32800");
  file->addSeparator();
  connect(file, &QMenu::aboutToShow, this, [this, print_item, open_item, save_item] {
    print_item->setEnabled(!printing_ && doc_.GetAllPage() > 0);
    open_item->setEnabled(!printing_);
    save_item->setEnabled(!printing_ && doc_.GetAllPage() > 0);
  });
  QAction* options = file->addAction(QString::fromUtf8("オプション設定(&O)..."), this, &CMainFrame::RunOptions);
  options->setObjectName("32795");
  // The reduction-rate clearing; Linux window managers give programs no system menu to add
  // it to, so it stands in the file menu.
  QAction* clear_rate = file->addAction(QString::fromUtf8("削減率のクリア(&E)"), this, &CMainFrame::ClearReductionRate);
  clear_rate->setObjectName("clear-rate");
  file->addSeparator();
  QAction* cancel_item = file->addAction(QString::fromUtf8("キャンセル(&C)"), this, [this] {
    if (auto* b = findChild<QPushButton*>(Id(1003))) b->click();
  });
  cancel_item->setObjectName("32801");
  // The menu bar's edit menu holds the page-edit commands of the right click as well.
  QMenu* edit = menuBar()->addMenu(QString::fromUtf8("編集(&E)"));
  QMenu* page_menu = BuildPageEditMenu(edit);
  for (QAction* a : page_menu->actions()) edit->addAction(a);
  connect(edit, &QMenu::aboutToShow, page_menu, &QMenu::aboutToShow);
  QMenu* help_menu = menuBar()->addMenu(QString::fromUtf8("ヘルプ(&H)"));
  QAction* help_item = help_menu->addAction(QString::fromUtf8("ヘルプ(&H)"), this, &CMainFrame::RunHelp);
  help_item->setObjectName("32785");
  help_menu->addSeparator();
  QAction* about = help_menu->addAction(QString::fromUtf8("バージョン情報(&A)..."), this, &CMainFrame::RunAbout);
  about->setObjectName("57664");
}

QWidget* CMainFrame::BuildJobPage() {
  auto* page = new QWidget(tabs_);
  page->setObjectName(Id(132));
  auto* v = new QVBoxLayout(page);
  job_rows_ = new QTreeWidget(page);
  job_rows_->setObjectName(Id(1010));
  job_rows_->setRootIsDecorated(false);
  job_rows_->setSelectionBehavior(QAbstractItemView::SelectRows);
  job_rows_->setHeaderLabels({QString::fromUtf8("ジョブ名"), QString::fromUtf8("ページ数")});
  job_rows_->setColumnWidth(0, 107);
  job_rows_->setColumnWidth(1, 58);
  v->addWidget(job_rows_, 1);
  job_rows_->installEventFilter(this);
  connect(job_rows_, &QTreeWidget::itemClicked, this,
          [this](QTreeWidgetItem* item) { ShowJob(job_rows_->indexOfTopLevelItem(item)); });
  auto* row = new QHBoxLayout();
  QPushButton* up = Button(page, 1006, QString::fromUtf8("↑"));
  QPushButton* down = Button(page, 1007, QString::fromUtf8("↓"));
  QPushButton* del = Button(page, 1008, QString::fromUtf8("削除"));
  del->setToolTip(QString::fromUtf8("ジョブの削除"));
  QPushButton* images = Button(page, 1009, QString::fromUtf8("画像"));
  images->setToolTip(QString::fromUtf8("イメージで保存"));
  QPushButton* pdf = Button(page, 1012, QString::fromUtf8("PDF"));
  pdf->setToolTip(QString::fromUtf8("PDF形式で保存"));
  QPushButton* open = Button(page, 1084, QString::fromUtf8("開く"));
  open->setToolTip(QString::fromUtf8("保存されたジョブを開く"));
  QPushButton* save = Button(page, 1083, QString::fromUtf8("保存"));
  save->setToolTip(QString::fromUtf8("ジョブの保存"));
  for (QPushButton* b : {up, down, del, open, save, images, pdf}) row->addWidget(b);
  auto job_file = [this](bool saving) {
    QFileDialog d(this, QString(), QString::fromStdString(config_.app_path), QString::fromUtf8("Zelvora (*.prc)"));
    d.setAcceptMode(saving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    d.setFileMode(saving ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    d.setDefaultSuffix("prc");
    d.setOption(QFileDialog::DontUseNativeDialog);
    if (viewer::Prompter().RunDialog(&d) != QDialog::Accepted || d.selectedFiles().isEmpty()) return;
    const std::string path = d.selectedFiles().front().toStdString();
    if (saving) SaveJob(path);
    else OpenSavedJob(path);
  };
  connect(open, &QPushButton::clicked, this, [job_file] { job_file(false); });
  connect(save, &QPushButton::clicked, this, [job_file] { job_file(true); });
  connect(images, &QPushButton::clicked, this, &CMainFrame::RunImageSave);
  connect(pdf, &QPushButton::clicked, this, &CMainFrame::RunPdfSave);
  v->addLayout(row);
  auto* total = new QHBoxLayout();
  total->addWidget(new QLabel(QString::fromUtf8("合計"), page));
  total_edit_ = new QLineEdit(page);
  total_edit_->setObjectName(Id(1014));
  total_edit_->setReadOnly(true);
  total_edit_->setText("0");
  total->addWidget(total_edit_);
  total->addWidget(new QLabel(QString::fromUtf8("ページ"), page));
  v->addLayout(total);
  QPushButton* server = Button(page, 1011, QString::fromUtf8("サーバ設定(&S)..."));
  v->addWidget(server);
  connect(server, &QPushButton::clicked, this, &CMainFrame::RunServerSettings);
  connect(up, &QPushButton::clicked, this, [this] { MoveSelectedJob(true); });
  connect(down, &QPushButton::clicked, this, [this] { MoveSelectedJob(false); });
  connect(del, &QPushButton::clicked, this, [this] { DeleteSelectedJob(); });
  return page;
}

void CMainFrame::RegisterWindow() {
  auto hwnd = winmsg::CreateWindow(
      kFrameClass, kFrameText,
      [this](winmsg::HWND h, winmsg::UINT m, winmsg::WPARAM w, winmsg::LPARAM l) { return WindowProc(h, m, w, l); });
  if (!hwnd.ok()) return;
  hwnd_ = *hwnd;
  const auto ticks =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count();
  winmsg::SetProp(hwnd_, kFrameProperty, (ticks & 0x7FFFFFFF) | 1);
  // The resident program keeps the handle for the capture side; without it jobs still
  // find this window by its property.
  if (winmsg::HWND resident = winmsg::FindWindow(nullptr, kResidentText); resident != 0)
    (void)winmsg::PostMessage(resident, kMsgSetClientWindow, hwnd_, 0);
}

winmsg::LRESULT CMainFrame::WindowProc(winmsg::HWND h, winmsg::UINT m, winmsg::WPARAM w, winmsg::LPARAM l) {
  if (m == winmsg::WM_COPYDATA) {
    const auto* cds = reinterpret_cast<const winmsg::COPYDATASTRUCT*>(l);
    if (cds == nullptr || cds->lpData == nullptr) return 0;
    return OnCopyData(std::string_view(static_cast<const char*>(cds->lpData), cds->cbData));
  }
  if (m == kMsgEndTopmost) {
    if (!options_.auto_print) SetTopmost(false);
    return 0;
  }
  if (m == winmsg::WM_ACTIVATE) {
    if (!options_.auto_print) {
      showNormal();
      raise();
      activateWindow();
    }
    return 0;
  }
  return winmsg::DefWindowProc(h, m, w, l);
}

QRect FirstPlace(const QRect& free_area, const QSize& minimum) {
  const QSize wanted(minimum.width() + kFirstPreviewWidth - kPreviewMinimumWidth,
                     std::max(minimum.height(), kFirstHeight));
  return QRect(free_area.topLeft(), wanted.boundedTo(free_area.size()));
}

void CMainFrame::PlaceWindow() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QRect area = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
  const WindowRect r = LoadWindowRect(area.width(), area.height());
  // Nothing stored, a place off the screen (both give the stored format's 590 x 485) or a
  // size no user chose: the frame opens at a size that shows a readable sheet beside the
  // settings panel. At 590 x 485 the panel left the preview about 100 pixels.
  if (r == WindowRect{} || r.right - r.left < 100 || r.bottom - r.top < 100) {
    setGeometry(FirstPlace(screen ? screen->availableGeometry() : area, minimumSizeHint()));
    return;
  }
  setGeometry(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  // The question is open already: its wait runs the event loop, where a further close
  // request may arrive; that is the same request and is not asked again.
  if (asking_close_) {
    event->ignore();
    return;
  }
  // A run whose answer has not come yet, or jobs not printed: the user is asked first.
  answer_timer_->stop();
  if (jobs_.size() > 0 && !ending_) {
    asking_close_ = true;
    const PromptAnswer answer = options_.prompt->Show(kUnprintedJobsText, kCloseConfirmTitle, PromptIcon::kQuestion,
                                                      PromptButtons::kYesNoDefaultNo);
    asking_close_ = false;
    if (answer != PromptAnswer::kYes) {
      timers_.CloseDeclined();
      if (timers_.armed(kTimerAnswer)) answer_timer_->start();
      event->ignore();
      return;
    }
  }
  timers_.Closing();
  help_.Close();
  status_timer_->stop();
  start_timer_->stop();
  // A local print still running uses the document: it ends before the frame goes. Its
  // answer is then shown once and its file removed, as at the end of a run.
  while (local_worker_) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  if (!local_answer_.empty()) {
    if (std::optional<AnswerInfo> answer = TakeAnswer()) ShowAnswer(*answer);
    local_answer_.clear();
  }
  if (config_ok_) {
    const QRect g = geometry();
    settings_.left = g.x();
    settings_.top = g.y();
    settings_.width = g.width();
    settings_.height = g.height();
    (void)SaveSettingsNow();
  }
  QMainWindow::closeEvent(event);
  // The frame closed is the program's end (the application does not end by itself when
  // its last window closes, so a message box closing never ends it).
  if (!ending_ && options_.on_close) options_.on_close();
}

void CMainFrame::changeEvent(QEvent* event) {
  // Minimising waits until the offset field being edited holds a good value.
  if (event->type() == QEvent::WindowStateChange && isMinimized() && !layout_->CheckOffsetError()) {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    return;
  }
  QMainWindow::changeEvent(event);
}

void CMainFrame::SyncView() {
  // The document changed under the view (a job opened or appended, pages inserted, moved or
  // deleted): the view takes the page count again and redraws.
  if (view_->GetPageCount() != doc_.GetAllPage()) {
    view_->OnDocumentNotice(viewer::kNoticeProgress, 0);
    view_->OnDocumentNotice(viewer::kNoticeReady, 0);
  }
  view_->RefreshPages();
}

bool CMainFrame::OpenJob(const std::string& path, const std::string& title) {
  const int before = doc_.GetAllPage();
  bool ok;
  if (!document_opened_) {
    ok = doc_.OnOpenDocument(path, title, options_.prompt);
    if (ok) document_opened_ = true;
  } else {
    ok = doc_.AddTempDoc(path, title, options_.prompt);
  }
  if (!ok) return false;
  const int grown = doc_.GetAllPage() - before;
  jobs_.Add(title, grown);
  SyncView();
  RefreshJobRows();
  return true;
}

bool CMainFrame::StartUp(const StartArgs& args) {
  // The settings are checked before the job is opened: a client that ends for want of them
  // has not read (and so not removed) the capture file, which the resident program keeps for
  // the next start.
  auto config = LoadClientConfig();
  if (!config.ok()) {
    options_.prompt->Show("アプリケーションに必要なレジストリが存在しません。", "初期設定", PromptIcon::kStop);
    return false;
  }
  job_name_ = args.job_name;
  bool open_failed = false;
  if (!args.doc_path.empty()) {
    if (!OpenJob(args.doc_path, job_name_)) {
      open_failed = true;
      job_name_.clear();
    }
  } else {
    job_name_.clear();
  }
  config_ = *config;
  config_ok_ = true;
  (void)LoadSettings(&settings_, config_.app_path, options_.auto_print);
  PlaceWindow();
  layout_->Load(settings_);
  copies_->Load(settings_);
  if (config_.has_server()) copies_->SetDlgDuplication(0);
  header_->LoadFormats(config_.app_path);
  ApplyHeaderFooter();
  if (open_failed && !options_.auto_print)
    options_.prompt->Show(kOpenFailedAdminText, kSystemErrorTitle, PromptIcon::kStop);
  UpdatePageCounts();
  ShowStatusTexts();
  LoadPrintersAsync();
  PostEndTopmost();
  RefreshQuotaAsync();
  quota_timer_->start();
  return true;
}

std::string CMainFrame::pane_text(int i) const { return i >= 0 && i < 2 ? panes_[i]->text().toStdString() : ""; }

void CMainFrame::ShowStatusTexts() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  const int32_t today = (tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday;
  // The quota is the server's: without one there is none to show, and both panes are empty.
  const bool server = config_ok_ && config_.has_server();
  panes_[0]->setText(server ? QString::fromStdString(PeriodStatusText(quota_, today)) : QString());
  panes_[1]->setText(server ? QString::fromStdString(PagesStatusText(quota_)) : QString());
  UpdatePageCounts();
}

void CMainFrame::UpdatePageCounts() {
  const int pages = doc_.GetAllPage();
  const int per_sheet = std::max(1, layout_->choice().pages_per_sheet);
  doc_pages_ = pages;
  doc_sheets_ = (pages + per_sheet - 1) / per_sheet;
  // The totals printed so far with the document in the window counted in, so the line says
  // what printing it as laid out saves.
  rate_line_->setText(QString::fromStdString(
      SavingStatsText(settings_.real_count + doc_sheets_, settings_.original_count + doc_pages_)));
}

void CMainFrame::RefreshQuotaAsync() {
  if (!config_ok_ || !config_.has_server()) return;
  QPointer<CMainFrame> self(this);
  std::thread([self, config = config_, quota = quota_]() mutable {
    RefreshQuotaCache(config, quota);
    QMetaObject::invokeMethod(
        qApp,
        [self, quota] {
          if (!self) return;
          self->quota_ = quota;
          self->ShowStatusTexts();
          emit self->quotaRefreshed();
        },
        Qt::QueuedConnection);
  }).detach();
}

namespace {

// Passes each state of the printer gathering, which runs on a worker, to the window thread.
class PostingProgress : public ProgressModel {
 public:
  explicit PostingProgress(std::function<void(ProgressModel)> post) : post_(std::move(post)) {}
  void Open(int mode, int total) override {
    ProgressModel::Open(mode, total);
    post_(*this);
  }
  void Step(int done) override {
    ProgressModel::Step(done);
    post_(*this);
  }
  void Close() override {
    ProgressModel::Close();
    post_(*this);
  }

 private:
  std::function<void(ProgressModel)> post_;
};

// Passes a local run's printing progress, heard on its worker, on through `post` (which
// hands it to the window thread): 0 the printing started, 1 a side (its page label and bar
// position), 2 it ended.
class PrintProgressRelay : public printing::PrintJobObserver {
 public:
  using Post = std::function<void(int what, std::string label, int position)>;
  explicit PrintProgressRelay(Post post) : post_(std::move(post)) {}
  void OnPrintingStarted() override { post_(0, {}, 0); }
  void SetPageLabel(std::string_view text) override { label_ = text; }
  void SetProgress(int position) override { post_(1, label_, position); }
  void OnPrintingFinished() override { post_(2, {}, 0); }

 private:
  Post post_;
  std::string label_;
};

}  // namespace

void CMainFrame::LoadPrintersAsync() {
  printers_pending_ = true;
  // printers.lst may lie on the server's share, and gathering the installed printers may
  // take long: both run off the window thread.
  std::string path = config_.app_path + "/printers.lst";
  std::string server_copy;
  if (config_.has_server())
    if (auto folder = config_.RequestFolder(); folder.ok()) server_copy = *folder + "/printers.lst";
  const bool local = !config_.has_server();
  QPointer<CMainFrame> self(this);
  std::thread([self, path, server_copy, local] {
    if (!server_copy.empty())
      if (auto bytes = fs::ReadFile(server_copy); bytes.ok()) (void)fs::WriteFileAtomic(path, *bytes);
    if (local) {
      // Without a server the list follows the printers installed here.
      PostingProgress progress([self](ProgressModel state) {
        QMetaObject::invokeMethod(
            qApp,
            [self, state] {
              if (self) self->ShowProgress(state);
            },
            Qt::QueuedConnection);
      });
      auto text = fs::ReadFile(path);
      auto spooler = spool::OpenSpooler();
      if (spooler.ok() && (text.ok() || text.status().code() == Status::Code::kNotFound)) {
        const std::vector<std::string> installed = ListLocalPrinters(**spooler);
        // A list that cannot be written keeps what it had; the frame shows what it reads.
        for (const PrinterListUpdate& u : LocalListUpdates(text.ok() ? &*text : nullptr, installed))
          (void)BuildPrinterList(**spooler, path, u, &progress);
      }
    }
    std::vector<PrinterEntry> printers;
    if (auto text = fs::ReadFile(path); text.ok()) printers = ParsePrinterEntries(*text);
    QMetaObject::invokeMethod(
        qApp,
        [self, printers = std::move(printers)]() mutable {
          if (self) self->SetPrinterEntries(std::move(printers));
        },
        Qt::QueuedConnection);
  }).detach();
}

void CMainFrame::ShowProgress(const ProgressModel& state) {
  if (progress_ == nullptr) {
    progress_ = new ProgressDialog(this);
    progress_->setObjectName(Id(180));
  }
  progress_->Show(state);
  if (state.mode() != ProgressModel::kPrinting) progress_total_ = state.total();
  if (state.open() && !options_.auto_print) {
    progress_->show();
  } else {
    progress_->hide();
  }
}

void CMainFrame::SetPrinters(const std::vector<std::string>& names) {
  std::vector<PrinterEntry> printers;
  for (const auto& n : names) printers.push_back({n, "", {PaperChoice{-1, kDocumentPaperName}}});
  SetPrinterEntries(std::move(printers));
}

void CMainFrame::SetPrinterEntries(std::vector<PrinterEntry> printers) {
  printers_ = std::move(printers);
  printer_combo_->blockSignals(true);
  printer_combo_->clear();
  for (const auto& p : printers_) printer_combo_->addItem(QString::fromStdString(p.name));
  if (!printers_.empty()) printer_combo_->setCurrentIndex(PrinterIndexFor(printers_, settings_.output_printer));
  printer_combo_->blockSignals(false);
  FillPapers();
  UpdatePrinterCommands();
  // The list is read: a print asked for from now on runs against it. This is settled before
  // any message, whose wait runs the event loop.
  printers_pending_ = false;
  const bool print_now = std::exchange(print_when_loaded_, false) && print_waiting_jobs_ == JobNames(jobs_);
  print_waiting_jobs_.clear();
  no_printer_told_ = false;
  if (printers_.empty()) {
    tabs_->setCurrentIndex(1);
    if (!options_.auto_print) {
      no_printer_told_ = true;
      options_.prompt->Show(kNoPrinterText, kPrinterErrorTitle, PromptIcon::kStop);
    }
  } else {
    SetPaper(settings_.paper_size);
    if (options_.status) options_.status->OnStartUp(selected_address());
  }
  emit printersLoaded();
  // A print asked for while the list was still being read runs now, against the list.
  if (print_now) {
    QTimer::singleShot(0, this, [this] {
      print_after_list_ = true;
      Print();
    });
  }
}

void CMainFrame::FillPapers() {
  paper_combo_->blockSignals(true);
  paper_combo_->clear();
  const int p = printer_combo_->currentIndex();
  if (p >= 0 && p < static_cast<int>(printers_.size()))
    for (const auto& paper : printers_[p].papers) paper_combo_->addItem(QString::fromStdString(paper.form));
  paper_combo_->blockSignals(false);
}

void CMainFrame::SetPaper(int32_t code) {
  const int p = printer_combo_->currentIndex();
  if (p < 0 || p >= static_cast<int>(printers_.size()) || printers_[p].papers.empty()) return;
  const int index = PaperIndexFor(printers_[p], code);
  const PaperChoice& paper = printers_[p].papers[index];
  paper_combo_->blockSignals(true);
  paper_combo_->setCurrentIndex(index);
  paper_combo_->blockSignals(false);
  settings_.paper_size = paper.code;
  // The view's margin table: record 0 holds the chosen paper's margins, then one record
  // per paper of the printer.
  std::vector<viewer::PaperMargins> margins;
  margins.push_back({paper.code, paper.left, paper.top, paper.right, paper.bottom});
  for (const auto& m : printers_[p].papers) margins.push_back({m.code, m.left, m.top, m.right, m.bottom});
  view_->SetPaper(paper.code, paper.form, paper.width, paper.height, margins);
}

std::string CMainFrame::selected_address() const {
  const int p = printer_combo_->currentIndex();
  return p >= 0 && p < static_cast<int>(printers_.size()) ? printers_[p].ip : std::string();
}

RequestOrder CMainFrame::BuildOrder() const {
  RequestOrder o;
  o.account = config_.account;
  o.machine = config_.machine;
  for (const auto& r : jobs_.rows()) o.jobs.push_back({r.name, r.pages});
  layout_->Fill(&o);
  header_->Fill(&o);
  copies_->Fill(&o);
  o.device = printer_combo_->currentText().toStdString();
  o.paper = settings_.paper_size;
  auto& doc = const_cast<COstraneDoc&>(doc_).viewer();  // page() has no const form
  // The header and footer go as the print document holds them: date, time, user, machine
  // and printer put in, the page numbers left to the printing side; and its font, the
  // default one unless the font button chose another.
  viewer::HeaderFooterTexts header, footer;
  doc.GetHeaderFooter(&o.font_point, &header, &footer, nullptr);
  doc.GetHeaderFooterFont(&o.font);
  o.h_left = header.left;
  o.h_center = header.centre;
  o.h_right = header.right;
  o.f_left = footer.left;
  o.f_center = footer.centre;
  o.f_right = footer.right;
  for (int p = 0; p < doc.page_count(); ++p) o.rotations.push_back(doc.page(p)->GetRotation());
  return o;
}

Status CMainFrame::SaveSettingsNow() {
  layout_->Store(&settings_);
  copies_->Store(&settings_);
  settings_.output_printer = printer_combo_->currentText().toStdString();
  // During a run the job's sheets and pages count in the stored totals.
  return printing_ ? SaveSettings(settings_, run_sheets_, run_pages_) : SaveSettings(settings_);
}

void CMainFrame::OnPrinterChosen() {
  trace_.Trace("_CPrtSet::OnSelchangeComboPrinter IN");
  FillPapers();
  if (printer_combo_->currentIndex() >= 0) {
    if (options_.status) options_.status->OnPrinterSelected(selected_address());
    SetPaper(settings_.paper_size);
  }
  // "<プリンタ名>" in the header and footer names the printer just chosen.
  ApplyHeaderFooter();
  UpdatePrinterCommands();
  trace_.Trace("_CPrtSet::OnSelchangeComboPrinter OUT");
}

long CMainFrame::OnCopyData(std::string_view text) {
  // An unattended run prints the one job it was started with; a job arriving meanwhile is
  // refused so the capture side keeps and reports it.
  if (options_.auto_print) return 0;
  CopyDataJob job = ParseCopyData(text);
  if (printing_) {
    // The document is being printed: the job is opened when the run has ended.
    waiting_.push_back(job);
    return 1;
  }
  job_name_ = job.title;
  const int current = view_->GetCurrentPage();
  const bool appended = document_opened_;
  if (!OpenJob(job.path, job.title)) {
    if (!appended) options_.prompt->Show(kOpenFailedAdminText, kSystemErrorTitle, PromptIcon::kStop);
    return 0;
  }
  if (appended) view_->ShowPage(current);
  if (!options_.auto_print && isHidden()) show();
  // The window comes to the front above all others for a moment; 0x464 ends that.
  SetTopmost(true);
  raise();
  activateWindow();
  PostEndTopmost();
  return 1;
}

void CMainFrame::SetTopmost(bool on) {
  if (topmost_ == on) return;
  topmost_ = on;
  const bool shown = isVisible();
  setWindowFlag(Qt::WindowStaysOnTopHint, on);  // hides a shown window: show it again
  if (shown) show();
}

void CMainFrame::PostEndTopmost() {
  if (hwnd_ != 0) {
    (void)winmsg::PostMessage(hwnd_, kMsgEndTopmost, 0, 0);
  } else {
    QTimer::singleShot(0, this, [this] {
      if (!options_.auto_print) SetTopmost(false);
    });
  }
}

void CMainFrame::ClearReductionRate() {
  if (options_.prompt->Show("削減率をクリアします。\nよろしいですか？", "削減率クリア", PromptIcon::kQuestion,
                            PromptButtons::kYesNo) != PromptAnswer::kYes)
    return;
  settings_.real_count = 0;
  settings_.original_count = 0;
  UpdatePageCounts();
}

QPushButton* CMainFrame::DefaultButton() const { return findChild<QPushButton*>(Id(printing_ ? 1003 : 1002)); }

void CMainFrame::OnFocusChanged(QWidget* old, QWidget* now) {
  auto id_of = [this](QWidget* w) {
    auto* b = qobject_cast<QPushButton*>(w);
    return b != nullptr && isAncestorOf(b) ? b->objectName().toInt() : 0;
  };
  auto bar = [](int id) { return (id >= 1000 && id <= 1004) || id == 1072; };
  auto jobs = [](int id) { return (id >= 1006 && id <= 1009) || id == 1011; };
  QPushButton* def = DefaultButton();
  if (def == nullptr) return;
  const int from = id_of(old), to = id_of(now);
  if (bar(from) || jobs(from)) {
    static_cast<QPushButton*>(old)->setDefault(false);
    if (jobs(from) || !bar(to)) def->setDefault(true);
  }
  if (to == 1000 || to == 1004 || to == 1072 || jobs(to)) def->setDefault(false);
  if (to == 1001) def->setDefault(true);
  if (to == 1002 || to == 1003) static_cast<QPushButton*>(now)->setDefault(true);
  if ((to == 1006 || to == 1009) && old != nullptr && (old == tabs_ || tabs_->isAncestorOf(old)) &&
      !tabs_->currentWidget()->isAncestorOf(old))
    static_cast<QPushButton*>(now)->setDefault(true);
}

std::vector<QWidget*> CMainFrame::FocusCycle() const {
  auto usable = [](QWidget* w) { return w != nullptr && w->isEnabled() && w->isVisible(); };
  std::vector<QWidget*> cycle;
  for (int id : {1068, 1071}) {
    if (auto* w = findChild<QWidget*>(Id(id)); usable(w)) cycle.push_back(w);
  }
  if (usable(tabs_)) cycle.push_back(tabs_);
  // The shown page's controls in their own order; of a radio group only the chosen one.
  if (QWidget* page = tabs_->currentWidget()) {
    for (QWidget* w = page->nextInFocusChain(); w != nullptr && w != page; w = w->nextInFocusChain()) {
      if (!page->isAncestorOf(w) || !usable(w) || !(w->focusPolicy() & Qt::TabFocus) || w->focusProxy() != nullptr)
        continue;
      if (auto* radio = qobject_cast<QRadioButton*>(w); radio && !radio->isChecked()) continue;
      if (std::find(cycle.begin(), cycle.end(), w) == cycle.end()) cycle.push_back(w);
    }
  }
  for (int id : {1000, 1072, 1002, 1003}) {
    if (auto* w = findChild<QWidget*>(Id(id)); usable(w)) cycle.push_back(w);
  }
  return cycle;
}

bool CMainFrame::focusNextPrevChild(bool next) {
  const std::vector<QWidget*> cycle = FocusCycle();
  QWidget* now = QApplication::focusWidget();
  // The member that holds the focus: the page's own controls before the tab control.
  int at = -1;
  for (int i = static_cast<int>(cycle.size()) - 1; i >= 0 && now != nullptr; --i) {
    if (cycle[i] == now || (cycle[i] != tabs_ && cycle[i]->isAncestorOf(now))) {
      at = i;
      break;
    }
  }
  if (at < 0 && now != nullptr && (now == tabs_ || tabs_->tabBar() == now))
    at = static_cast<int>(std::find(cycle.begin(), cycle.end(), tabs_) - cycle.begin());
  if (at < 0 || at >= static_cast<int>(cycle.size())) return QMainWindow::focusNextPrevChild(next);
  const int n = static_cast<int>(cycle.size());
  QWidget* target = cycle[(at + (next ? 1 : n - 1)) % n];
  target->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
  return true;
}

void CMainFrame::Print() {
  trace_.Trace("CMainFrame::OnDbbOk IN");
  const bool waited = std::exchange(print_after_list_, false);  // this is the print that waited
  if (printing_ || !config_ok_) {
    emit printFinished(PrintOutcome::kNothing);
    return;
  }
  // Nothing to print: the program ends (also while the printers are still being read: the
  // print asked for nothing, and jobs arriving later are not part of it).
  if (jobs_.size() == 0) {
    emit printFinished(PrintOutcome::kNothing);
    EndProgram();
    return;
  }
  // The printers are still being read (an unattended start prints at once): the printer
  // check would refuse a list that is only late, so the print waits for the list. It
  // prints the jobs listed now: when the job list changes meanwhile, the waiting print is
  // dropped, so no job is printed that its user did not print.
  if (printers_pending_) {
    print_when_loaded_ = true;
    print_waiting_jobs_ = JobNames(jobs_);
    return;
  }
  const RangeCheck check = CheckPrinterAndRange(printer_combo_->count() > 0, copies_->range_chosen(),
                                                copies_->first_page(), copies_->last_page(), jobs_.TotalPages());
  if (!check.ok()) {
    // A refused unattended run must not stay as a hidden process.
    if (isHidden()) {
      options_.auto_print = false;
      show();
    }
    tabs_->setCurrentIndex(check.tab);
    // A print that waited for an empty printer list: the list's own box has just said so;
    // the same cause is not told twice.
    const bool told = waited && printer_combo_->count() == 0 && no_printer_told_;
    if (!told) options_.prompt->Show(check.text, check.title, PromptIcon::kStop);
    copies_->FocusRangeField(check.focus);
    emit printFinished(PrintOutcome::kNothing);
    return;
  }
  // With a server the engine checks for duplicates itself.
  if (!config_.has_server() && copies_->GetDuplicationCheck()) {
    auto spooler = spool::OpenSpooler();
    if (spooler.ok() && IsDuplicatePrint(**spooler, printer_combo_->currentText().toStdString(), jobs_.row(0).name)) {
      if (!options_.auto_print) options_.prompt->Show("2重印刷のため終了します。", kPrintErrorTitle, PromptIcon::kStop);
      emit printFinished(PrintOutcome::kNothing);
      EndProgram();
      return;
    }
  }
  // With a server whose engine does not run, nothing is saved or started: the user is told
  // and the job stays as it is.
  if (config_.has_server() && !ServerEngineRunning(config_)) {
    if (isHidden()) {
      options_.auto_print = false;
      show();
    }
    options_.prompt->Show(kServerNotRunningText, kPrintErrorTitle, PromptIcon::kStop);
    emit printFinished(PrintOutcome::kFailed);
    return;
  }
  printing_ = true;
  run_sheets_ = doc_sheets_;
  run_pages_ = doc_pages_;
  EnableJobEditButtons(false);
  if (auto* b = findChild<QPushButton*>(Id(1002))) {
    b->setEnabled(false);
    b->setDefault(false);
  }
  if (auto* b = findChild<QPushButton*>(Id(1003))) b->setDefault(true);
  // The job is saved first (its message, if any, is answered before the run), then the
  // run starts at the next tick of timer 3.
  AutoSaveJob();
  timers_.PrintPressed();
  start_timer_->start();
}

void CMainFrame::OnTimerTick(int id) {
  for (FrameTimers::Action a : timers_.Tick(id, config_.has_server())) {
    switch (a) {
      case FrameTimers::Action::kPostPrintExecute:
        start_timer_->stop();
        OnPrintExecute();
        break;
      case FrameTimers::Action::kQueryPrinter:
        if (options_.status) options_.status->OnTimer4(timers_.run_active());
        break;
      case FrameTimers::Action::kPollAnswer:
        PollAnswer();
        break;
      case FrameTimers::Action::kRefreshQuota:
        ShowStatusTexts();
        break;
      default:
        break;
    }
  }
}

void CMainFrame::OnPrintExecute() {
  // The run prints the document as it is laid out now: what it counts is taken once, here.
  run_sheets_ = doc_sheets_;
  run_pages_ = doc_pages_;
  (void)SaveSettingsNow();
  ApplyHeaderFooter();  // the date and time in the header are those of the hand-over
  RequestOrder order = BuildOrder();
  const int run_jobs = jobs_.size();
  QPointer<CMainFrame> self(this);
  auto back = [self](std::function<void(CMainFrame*)> fn) {
    QMetaObject::invokeMethod(
        qApp,
        [self, fn] {
          if (self) fn(self.data());
        },
        Qt::QueuedConnection);
  };

  if (config_.has_server()) {
    auto packed = doc_.EncodePacked();
    if (!packed.ok()) {
      options_.prompt->Show(kInternalErrorText, kPrintErrorTitle, PromptIcon::kStop);
      FinishRun(PrintOutcome::kFailed, run_jobs, false);
      return;
    }
    const bool quiet_monitor = options_.auto_print;
    std::thread([config = config_, bytes = std::move(*packed), order, back, run_jobs, quiet_monitor]() mutable {
      HandOverResult r = SendRequest(config, bytes, order, nullptr);
      // Unattended, nobody would read that the job monitor is missing.
      if (r.outcome == HandOverResult::kHandedOver) (void)NotifyMonitor(r.answer_copy, nullptr);
      back([r, run_jobs, quiet_monitor](CMainFrame* f) {
        switch (r.outcome) {
          case HandOverResult::kHandedOver:
            if (!quiet_monitor && !FindWindowOfMonitor())
              f->options_.prompt->Show(kNoMonitorText, kNoMonitorTitle, PromptIcon::kExclamation);
            f->FinishRun(PrintOutcome::kHandedOver, run_jobs, true);
            return;
          case HandOverResult::kNotRunning:
            f->options_.prompt->Show(kServerNotRunningText, kPrintErrorTitle, PromptIcon::kStop);
            break;
          case HandOverResult::kBusy:
            f->options_.prompt->Show(kBusyText, kBusyTitle, PromptIcon::kExclamation);
            break;
          case HandOverResult::kFailed:
            f->options_.prompt->Show(kInternalErrorText, kPrintErrorTitle, PromptIcon::kStop);
            break;
        }
        f->FinishRun(PrintOutcome::kFailed, run_jobs, false);
      });
    }).detach();
    return;
  }

  // Without a server the job is printed here; the document stays untouched until the run
  // has ended, because arriving jobs wait meanwhile. The worker writes the answer file and
  // timer 1 reads it.
  COstraneDoc* doc = &doc_;
  timers_.LocalRunStarted();
  local_worker_ = true;
  local_answer_.clear();
  run_jobs_ = run_jobs;
  answer_timer_->start();
  // The progress window "印刷実行中" follows the printing; its counter starts as the last
  // printer gathering left it and then shows each side's page label.
  auto relay = std::make_shared<PrintProgressRelay>([back](int what, std::string label, int position) {
    back([what, label = std::move(label), position](CMainFrame* f) {
      if (what == 0) {
        f->print_progress_.Open(ProgressModel::kPrinting, f->progress_total_);
      } else if (what == 1) {
        f->print_progress_.PrintSide(label, position);
      } else {
        f->print_progress_.Close();
      }
      f->ShowProgress(f->print_progress_);
    });
  });
  std::thread([config = config_, doc, order, back, run_jobs, relay] {
    Result<std::string> answer_path = Status::IOError("no spooler");
    if (auto spooler = spool::OpenSpooler(); spooler.ok())
      answer_path = RunLocally(config, *doc, order, **spooler, printing::PrinterSurfaces(), relay.get());
    back([answer_path, run_jobs](CMainFrame* f) {
      f->local_worker_ = false;
      if (!answer_path.ok()) {
        f->options_.prompt->Show(kInternalErrorText, kPrintErrorTitle, PromptIcon::kStop);
        f->FinishRun(PrintOutcome::kFailed, run_jobs, false);
        return;
      }
      f->local_answer_ = *answer_path;
    });
  }).detach();
}

void CMainFrame::PollAnswer() {
  // The answer counts only once the local print has ended: an answer file left by an
  // earlier run must not end this one.
  if (local_worker_ || local_answer_.empty()) return;
  std::optional<AnswerInfo> answer = TakeAnswer();
  if (!answer) return;  // read again at the next tick
  answer_timer_->stop();
  local_answer_.clear();
  ShowAnswer(*answer);
  const RunEnd end = DecideRunEnd(answer->code, !waiting_.empty(), false);
  if (end.remove_jobs) RemoveRunJobs(run_jobs_);
  FinishRun(answer->code == 0 ? PrintOutcome::kPrinted : PrintOutcome::kFailed, end.remove_jobs ? 0 : run_jobs_,
            end.close);
}

std::optional<AnswerInfo> CMainFrame::TakeAnswer() {
  Result<AnswerInfo> answer = ReadAnswerFile(local_answer_, quota_);
  if (!answer.ok() || !answer->complete) return std::nullopt;
  ::unlink(local_answer_.c_str());  // a leftover would be overwritten by the next run anyway
  quota_ = answer->quota;
  return *answer;
}

void CMainFrame::ShowAnswer(const AnswerInfo& answer) {
  const std::string title = answer.title.empty() ? std::string(kFrameText) : answer.title;
  options_.prompt->Show(answer.message, title, answer.code == 0 ? PromptIcon::kInformation : PromptIcon::kStop);
}

void CMainFrame::RemoveRunJobs(int run_jobs) {
  const int pages = jobs_.FirstPage(run_jobs);
  if (pages > 0) doc_.viewer().DeletePages(0, static_cast<std::int16_t>(pages - 1));
  for (int i = 0; i < run_jobs && jobs_.size() > 0; ++i) jobs_.Remove(0);
  if (jobs_.size() == 0) document_opened_ = doc_.GetAllPage() > 0;
}

void CMainFrame::FinishRun(PrintOutcome outcome, int run_jobs, bool close_if_alone) {
  if (outcome == PrintOutcome::kHandedOver || outcome == PrintOutcome::kPrinted) {
    // The job went to paper: its sheets and pages join the totals kept from now on.
    settings_.real_count += run_sheets_;
    settings_.original_count += run_pages_;
  }
  printing_ = false;
  timers_.RunEnded();
  answer_timer_->stop();
  EnableJobEditButtons(true);
  if (print_progress_.open()) {
    print_progress_.Close();
    ShowProgress(print_progress_);
  }
  if (auto* b = findChild<QPushButton*>(Id(1002))) {
    b->setEnabled(true);
    b->setDefault(true);
  }
  if (auto* b = findChild<QPushButton*>(Id(1003))) b->setDefault(false);
  const bool newer = !waiting_.empty();
  if (outcome == PrintOutcome::kHandedOver) {
    if (!newer && close_if_alone) {
      emit printFinished(outcome);
      hide();
      help_.Close();
      if (options_.on_close) options_.on_close();
      return;
    }
    RemoveRunJobs(run_jobs);
  }
  for (const CopyDataJob& job : std::exchange(waiting_, {})) OpenJob(job.path, job.title);
  RefreshJobRows();
  SyncView();
  emit printFinished(outcome);
  if (outcome == PrintOutcome::kPrinted && close_if_alone) {
    hide();
    help_.Close();
    if (options_.on_close) options_.on_close();
    return;
  }
  // A run that did not end the program leaves a window a person can see, also unattended.
  if (isHidden()) {
    options_.auto_print = false;
    show();
    raise();
  }
}

void CMainFrame::RunOptions() {
  std::vector<std::string> printers;
  for (int i = 0; i < printer_combo_->count(); ++i) printers.push_back(printer_combo_->itemText(i).toStdString());
  if (settings_.auto_save_dir.empty()) settings_.auto_save_dir = config_.app_path;
  OptionsDialog d(&settings_, printers, options_.prompt, this);
  if (viewer::Prompter().RunDialog(&d) == QDialog::Accepted) (void)SaveSettingsNow();
}

void CMainFrame::RunServerSettings() {
  _CServerSet d(config_, QuotaState{}, options_.prompt, this);
  if (viewer::Prompter().RunDialog(&d) != QDialog::Accepted) return;
  config_.server_name = d.server_name();
  // With a server the duplicate check is the engine's; back to local printing it is the
  // user's again.
  copies_->SetDlgDuplication(config_.has_server() ? 0 : 1);
  LoadPrintersAsync();
}

void CMainFrame::RunImageSave() {
  if (jobs_.size() == 0) return;
  if (image_options_.empty()) image_options_ = "00000" + config_.app_path;
  _CImgSave d(&doc_, image_options_, options_.prompt, this);
  if (viewer::Prompter().RunDialog(&d) == QDialog::Accepted) image_options_ = d.options();
}

bool CMainFrame::SavePdf(const std::string& path) {
  if (ExportPages(doc_, kZvConvPdf, path).ok()) return true;
  options_.prompt->Show("画像ファイルの保存に失敗しました。", "画像ファイル保存", PromptIcon::kStop);
  return false;
}

void CMainFrame::RunPdfSave() {
  if (jobs_.size() == 0) return;
  QFileDialog d(this, QString(), QString::fromStdString(config_.app_path), QString::fromUtf8("PDFファイル(*.pdf)"));
  d.setAcceptMode(QFileDialog::AcceptSave);
  d.setDefaultSuffix("pdf");
  d.setOption(QFileDialog::DontUseNativeDialog);
  if (viewer::Prompter().RunDialog(&d) != QDialog::Accepted || d.selectedFiles().isEmpty()) return;
  SavePdf(d.selectedFiles().front().toStdString());
}

void CMainFrame::RunAbout() {
  auto prefix = paths::InstallPrefix();
  AboutDialog d(prefix.ok() ? *prefix : std::string(), this);
  viewer::Prompter().RunDialog(&d);
}

void CMainFrame::ApplyHeaderFooter() {
  TokenValues values;
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  values.year = tm.tm_year + 1900;
  values.month = tm.tm_mon + 1;
  values.day = tm.tm_mday;
  values.hour = tm.tm_hour;
  values.minute = tm.tm_min;
  values.ctrl_down = (QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier) != 0;
  values.user = config_.account;
  values.machine = config_.machine;
  values.printer = printer_combo_->currentText().toStdString();
  // Both sides: a printer change must reach a footer's "<プリンタ名>" too, not only the side
  // on screen.
  for (int side = 0; side < 2; ++side) {
    const std::string* t = header_->texts(side);
    doc_.viewer().SetHeaderFooter(side, ExpandHeaderTokens(t[0], values), ExpandHeaderTokens(t[1], values),
                                  ExpandHeaderTokens(t[2], values), header_->page_mode());
  }
  view_->RefreshPages();
}

void CMainFrame::ChooseHeaderFont() {
  win::LOGFONTA font{};
  doc_.viewer().GetHeaderFooterFont(&font);
  int points = 0;
  if (!RunHeaderFontDialog(this, &font, &points)) return;
  doc_.viewer().SetHeaderFooterFont(font, points);
  view_->RefreshPages();
}

PrinterCommand CMainFrame::queue_command() const {
  return QueueCommand(CommandPrinter(config_ok_ && config_.has_server(), printer_combo_->currentText().toStdString()),
                      offers_);
}

PrinterCommand CMainFrame::properties_command() const {
  return PropertiesCommand(
      CommandPrinter(config_ok_ && config_.has_server(), printer_combo_->currentText().toStdString()), offers_);
}

void CMainFrame::UpdatePrinterCommands() {
  const std::pair<int, PrinterCommand> commands[] = {{1000, queue_command()}, {1072, properties_command()}};
  for (const auto& [id, c] : commands) {
    const bool on = c.road != PrinterCommand::kUnavailable;
    const QString prompt = QString::fromStdString(c.prompt);
    if (auto* b = findChild<QPushButton*>(Id(id))) {
      b->setEnabled(on);
      b->setStatusTip(prompt);
      b->setToolTip(prompt);
    }
    if (QAction* item = id == 1000 ? queue_item_ : properties_item_) {
      item->setEnabled(on);
      item->setStatusTip(prompt);
    }
  }
}

void CMainFrame::RunQueueCommand() { RunPrinterCommand(queue_command()); }

void CMainFrame::RunPropertiesCommand() { RunPrinterCommand(properties_command()); }

void CMainFrame::RunPrinterCommand(const PrinterCommand& command) {
  switch (command.road) {
    case PrinterCommand::kUnavailable:
      return;
    case PrinterCommand::kDesktopTool:
      // A tool that does not start is not reported, as with the help viewer.
      if (options_.run_program) (void)options_.run_program(command.argv);
      else (void)process::RunDetached(command.argv);
      return;
    case PrinterCommand::kQueueWindow: {
      // One window per printer: a second command raises the one open.
      for (CQueueWindow* w : findChildren<CQueueWindow*>())
        if (w->printer() == command.printer) {
          w->show();
          w->raise();
          w->activateWindow();
          return;
        }
      auto* w = new CQueueWindow(command.printer, {}, this);
      w->show();
      return;
    }
    case PrinterCommand::kDriverSheets: {
      const Status shown = options_.open_sheets ? options_.open_sheets(command.printer) : OpenDriverSheets(command.printer, {});
      if (!shown.ok())
        options_.prompt->Show(kPropertiesFailedText, kPrinterErrorTitle, PromptIcon::kExclamation);
      return;
    }
  }
}

void CMainFrame::RunHelp() { help_.Open(help::HelpPage(config_.app_path, kHelpFileName)); }

void CMainFrame::RefreshJobRows() {
  int selected = job_rows_->currentItem() ? job_rows_->indexOfTopLevelItem(job_rows_->currentItem()) : -1;
  job_rows_->clear();
  for (const auto& r : jobs_.rows()) {
    auto* item = new QTreeWidgetItem({QString::fromStdString(r.name), QString::number(r.pages)});
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    job_rows_->addTopLevelItem(item);
  }
  if (jobs_.size() > 0) {
    if (selected < 0) selected = 0;
    job_rows_->setCurrentItem(job_rows_->topLevelItem(std::min(selected, jobs_.size() - 1)));
  }
  total_edit_->setText(QString::number(doc_.GetAllPage()));
}

void CMainFrame::MoveSelectedJob(bool up) {
  auto* item = job_rows_->currentItem();
  if (item == nullptr) return;
  const int r = job_rows_->indexOfTopLevelItem(item);
  const int other = up ? r - 1 : r + 1;
  if (other < 0 || other >= jobs_.size()) return;
  const int first = jobs_.FirstPage(r), count = jobs_.row(r).pages;
  // The pages of row r move to where the other row's pages start (up) or to just after
  // them (down; the document lowers a later target by the count minus one).
  const int target = up ? jobs_.FirstPage(other) : jobs_.FirstPage(other) + jobs_.row(other).pages + count - 1;
  if (count > 0 && view_->MoveDocumentPages(first, first + count - 1, target) != 1) return;
  jobs_.Move(r, up);
  RefreshJobRows();
  job_rows_->setCurrentItem(job_rows_->topLevelItem(other));
  SyncView();
  ShowJob(other);
}

void CMainFrame::DeleteSelectedJob() {
  if (jobs_.size() == 0) {
    job_rows_->setFocus();
    return;
  }
  if (options_.prompt->Show("選択したジョブを削除しますか？", "ジョブ編集", PromptIcon::kExclamation,
                            PromptButtons::kYesNoDefaultNo) != PromptAnswer::kYes)
    return;
  auto* item = job_rows_->currentItem();
  if (item == nullptr) return;
  const int r = job_rows_->indexOfTopLevelItem(item);
  const int first = jobs_.FirstPage(r), count = jobs_.row(r).pages;
  if (count > 0 && doc_.viewer().DeletePages(first, first + count - 1) != 1) return;
  jobs_.Remove(r);
  selected_page_ = -1;
  RefreshJobRows();
  SyncView();
  if (jobs_.size() > 0) {
    const int next = r < jobs_.size() ? r : jobs_.size() - 1;
    job_rows_->setCurrentItem(job_rows_->topLevelItem(next));
    ShowJob(next);
  }
}

int CMainFrame::selected_job_row() const {
  auto* item = job_rows_->currentItem();
  return item == nullptr ? -1 : job_rows_->indexOfTopLevelItem(item);
}

void CMainFrame::ShowJob(int row) {
  if (row < 0 || row >= jobs_.size()) return;
  const int pps = std::max(1, layout_->choice().pages_per_sheet);
  job_list_busy_ = true;
  view_->ShowPage(jobs_.FirstPage(row) / pps);
  QCoreApplication::processEvents();
  job_list_busy_ = false;
}

void CMainFrame::SetJobPos(int page) {
  if (job_list_busy_) return;
  std::vector<int> counts;
  for (const auto& r : jobs_.rows()) counts.push_back(r.pages);
  const int row = JobRowForPage(counts, page);
  if (row < 0) return;
  QTreeWidgetItem* item = job_rows_->topLevelItem(row);
  job_rows_->setCurrentItem(item);
  job_rows_->scrollToItem(item);
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
  // Up / Page Up and Down / Page Down on the job list move the selection one row and show
  // that job.
  if (watched == job_rows_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    int step = 0;
    if (key == Qt::Key_Up || key == Qt::Key_PageUp) step = -1;
    if (key == Qt::Key_Down || key == Qt::Key_PageDown) step = 1;
    if (step != 0) {
      const int cur = selected_job_row();
      const int next = std::clamp(cur < 0 ? 0 : cur + step, 0, jobs_.size() - 1);
      if (jobs_.size() > 0) {
        job_rows_->setCurrentItem(job_rows_->topLevelItem(next));
        ShowJob(next);
      }
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

bool CMainFrame::CanRotate(int command) const { return CanEditPage(command); }

void CMainFrame::Rotate(int command) { EditPage(command); }

bool CMainFrame::CanEditPage(int command) const {
  return page_edit_.Enabled(command, {printing_, selected_page_, layout_->choice().pages_per_sheet});
}

void CMainFrame::EditPage(int command) {
  const int before = selected_page_;
  const std::optional<int> selected =
      page_edit_.Run(command, {printing_, selected_page_, layout_->choice().pages_per_sheet});
  if (!selected) return;
  selected_page_ = *selected;
  if (selected_page_ < 0) {
    view_->ClearSelectedPage();
  } else {
    view_->SetSelectedPage(selected_page_, 0);
  }
  RefreshJobRows();
  SyncView();
  // A blank page is shown where it went in: the sheet that holds it.
  if (command == kCmdBlankBefore || command == kCmdBlankAfter)
    view_->ShowPage((before + (command == kCmdBlankAfter ? 1 : 0)) / std::max(1, layout_->choice().pages_per_sheet));
}

QMenu* CMainFrame::BuildPageEditMenu(QWidget* parent) {
  auto* menu = new QMenu(QString::fromUtf8(kPageEditMenuTitle), parent);
  menu->setObjectName("139");
  QMenu* sub = nullptr;
  std::vector<QAction*> commands;
  for (const PageMenuLine& line : kPageEditMenu) {
    QMenu* into = line.level > 0 && sub != nullptr ? sub : menu;
    if (line.id == 0 && line.text == nullptr) {
      menu->addSeparator();
    } else if (line.id == 0) {
      sub = menu->addMenu(QString::fromUtf8(line.text));
    } else {
      QAction* a = into->addAction(QString::fromUtf8(line.text));
      a->setObjectName(QString::number(line.id));
      const int id = line.id;
      connect(a, &QAction::triggered, this, [this, id] { EditPage(id); });
      commands.push_back(a);
    }
  }
  auto enable = [this, commands] {
    for (QAction* a : commands) a->setEnabled(CanEditPage(a->objectName().toInt()));
  };
  enable();
  connect(menu, &QMenu::aboutToShow, this, enable);
  return menu;
}

void CMainFrame::contextMenuEvent(QContextMenuEvent* event) {
  const QPoint at = view_host_->mapFrom(this, event->pos());
  if (!view_host_->rect().contains(at)) {
    QMainWindow::contextMenuEvent(event);
    return;
  }
  event->accept();
  win::RECT area{};
  view_->GetPageArea(&area);
  if (at.x() < area.left || at.x() >= area.right || at.y() < area.top || at.y() >= area.bottom) return;
  // The page under the cursor is the one the commands act on.
  if (const int page = view_->PageAt(at); page >= 0) {
    view_->SetSelectedPage(page, 0);
    PickPage(page);
    SetJobPos(page);
  }
  std::unique_ptr<QMenu> menu(BuildPageEditMenu(this));
  menu->exec(event->globalPos());
}

bool CMainFrame::OpenSavedJob(const std::string& path) {
  const int before = doc_.GetAllPage();
  const std::string name = std::filesystem::path(path).stem().string();
  const bool ok = document_opened_ ? doc_.AddTempDoc(path, name, options_.prompt)
                                   : doc_.OnOpenDocument(path, name, options_.prompt);
  if (!ok) return false;
  document_opened_ = true;
  job_name_ = name;
  jobs_.Add(name, doc_.GetAllPage() - before);
  RefreshJobRows();
  SyncView();
  return true;
}

void CMainFrame::AutoSaveJob() {
  const std::string folder = settings_.auto_save_dir.empty() ? config_.app_path : settings_.auto_save_dir;
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    // Unattended, a message would hold the run with nobody to answer it.
    if (!options_.auto_print)
      options_.prompt->Show("指定されたフォルダがありません。\n自動保存に失敗しました。", "印刷ジョブ自動保存失敗",
                            PromptIcon::kExclamation);
    return;
  }
  const std::string path = AutoSavePath(folder, settings_.save_times);
  std::filesystem::remove(path, ec);
  if (!WriteDocument(path)) trace_.Trace("CMainFrame::AutoSave failed");
  settings_.save_times = NextAutoSaveNumber(settings_.save_times, settings_.auto_save_times);
}

void CMainFrame::EndProgram() {
  ending_ = true;
  hide();
  close();
  if (options_.on_close) options_.on_close();
}

bool CMainFrame::SaveJob(const std::string& path) {
  if (jobs_.size() == 0) return false;
  return WriteDocument(path);
}

bool CMainFrame::WriteDocument(const std::string& path) {
  if (doc_.Save(path).ok()) return true;
  if (!options_.auto_print)
    options_.prompt->Show("ファイルの保存中に失敗しました。", kFrameText, PromptIcon::kExclamation);
  return false;
}

void CMainFrame::EnableJobEditButtons(bool on) {
  for (int id : {1006, 1007, 1008, 1009, 1012, 1084, 1083, 1011})
    if (auto* b = findChild<QPushButton*>(Id(id))) b->setEnabled(on);
}

void CMainFrame::PickPage(int page) {
  if (page < 0 || page >= doc_.GetAllPage()) return;  // a pick of nothing changes nothing
  selected_page_ = page;
}

void CMainFrame::InsertBlankPage(bool after) { EditPage(after ? kCmdBlankAfter : kCmdBlankBefore); }

void CMainFrame::DeleteSelectedPage() { EditPage(kCmdDeletePage); }

bool CMainFrame::PageShortcut(int key, bool alt, bool keypad) {
  (void)keypad;  // the number pad's digits arrive as the same keys
  auto click = [this](int id) {
    if (auto* b = findChild<QAbstractButton*>(Id(id)); b && b->isEnabled()) b->click();
    return true;
  };
  auto select = [this](int id) {
    if (auto* w = findChild<QWidget*>(Id(id))) {
      w->setFocus();
      if (auto* e = qobject_cast<QLineEdit*>(w)) e->selectAll();
      if (auto* s = qobject_cast<QAbstractSpinBox*>(w)) s->selectAll();
    }
    return true;
  };
  switch (tabs_->currentIndex()) {
    case 0:  // layout
      if (alt) return false;
      switch (key) {
        case Qt::Key_1:
          layout_->ChoosePages(1);
          return true;
        case Qt::Key_2:
          layout_->ChoosePages(2);
          return true;
        case Qt::Key_4:
          layout_->ChoosePages(4);
          return true;
        case Qt::Key_8:
          layout_->ChoosePages(8);
          return true;
        case Qt::Key_H:
          return click(1045);
        case Qt::Key_N:
          return click(1046);
        case Qt::Key_T:
          return click(1040);
        case Qt::Key_V:
          return click(1044);
        case Qt::Key_W:
          return click(1043);
        case Qt::Key_Y:
          return click(1041);
        default:
          return false;
      }
    case 1:  // header and footer: only with Alt
      if (!alt) return false;
      switch (key) {
        case Qt::Key_1:
          return click(1078);
        case Qt::Key_B:
          return click(1077);
        case Qt::Key_E:
          return click(1079);
        case Qt::Key_T:
          return click(1076);
        default:
          return false;
      }
    case 2:  // copies and range
      if (alt) return false;
      switch (key) {
        case Qt::Key_2:
          return click(1033);
        case Qt::Key_G:
          return click(1021);
        case Qt::Key_O:
          return click(1032);
        case Qt::Key_W:
          return click(1020);
        case Qt::Key_B:
          return select(1030);
        case Qt::Key_K:
          return select(1022);
        case Qt::Key_M:
          return select(1025);
        default:
          return false;
      }
    case 3:  // job list
      if (!alt && key == Qt::Key_S) return click(1011);
      return false;
    default:
      return false;
  }
}

void CMainFrame::keyPressEvent(QKeyEvent* event) {
  const bool alt = event->modifiers() & Qt::AltModifier;
  auto click = [this](int id) {
    if (auto* b = findChild<QPushButton*>(Id(id)); b && b->isEnabled()) b->click();
  };
  auto focus = [this](int id) {
    if (auto* w = findChild<QWidget*>(Id(id))) w->setFocus();
  };
  switch (event->key()) {
    case Qt::Key_Escape:
      view_->ClearSelectedPage();
      selected_page_ = -1;
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      click(1002);
      return;
    case Qt::Key_P:
      if (alt) {
        click(1000);
        return;
      }
      break;
    case Qt::Key_R:
      if (alt) {
        click(1072);
        return;
      }
      break;
    case Qt::Key_D:
      if (alt) {
        focus(1068);
        return;
      }
      break;
    case Qt::Key_S:
      if (alt) {
        focus(1071);
        return;
      }
      break;
    default:
      break;
  }
  if (PageShortcut(event->key(), alt, event->modifiers() & Qt::KeypadModifier)) return;
  QMainWindow::keyPressEvent(event);
}

}  // namespace zv::client::app
