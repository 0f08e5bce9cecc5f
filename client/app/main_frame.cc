#include "client/app/main_frame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDockWidget>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <ctime>
#include <memory>
#include <thread>

#include "client/answer.h"
#include "client/app/dialog_bars.h"
#include "client/app/dialogs.h"
#include "client/app/focus_button.h"
#include "client/app/job_list_page.h"
#include "client/quota_cache.h"
#include "platform/help/help_page.h"
#include "platform/paths/install_layout.h"
#include "platform/paths/paths.h"
#include "viewer/page.h"
#include "viewer/qt/prompter.h"
#include "viewer/qt/viewer_view.h"

namespace zv::client::app {

// Takes the job list; gives each row's name and page count, so two lists compare equal
// only when they hold the same jobs.
std::vector<std::string> CMainFrame::JobNames(const JobList& jobs) {
  std::vector<std::string> names;
  for (const auto& r : jobs.rows()) names.push_back(r.name + '\t' + std::to_string(r.pages));
  return names;
}

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
  // The client's view in the middle hosts the viewer's page view over the document.
  view_host_ = new COstraneView(&doc_, this);
  setCentralWidget(view_host_);
  view_ = view_host_->page_view();
  connect(view_, &viewer::CViewerView::hostMessage, this, [this](int msg, qintptr wparam, qintptr lparam) {
    if (msg != viewer::kMsgPageChanged) return;
    if (wparam == 1) {
      if (lparam < 0) {
        selected_page_ = -1;  // the view let go of its picked page: the edits have none
        return;
      }
      const int page = static_cast<int>(lparam & 0xFFFF);
      PickPage(page);
      job_page_->SetJobPos(page);
    } else {
      job_page_->SetJobPos((view_->GetCurrentPage() & 0xFFFF) * layout_->choice().pages_per_sheet);
    }
  });
  BuildBars();
  // The document told the view it changed (loading, a job appended, pages edited): the
  // reduction line counts its pages again.
  connect(view_, &viewer::CViewerView::documentNotice, this, [this] { UpdatePageCounts(); });
  // The default-button look follows the focus.
  connect(qApp, &QApplication::focusChanged, this,
          [this](QWidget* old, QWidget* now) { _CButton::OnFocusChanged(this, old, now); });

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
  view_host_->DetachDocument();
}

void CMainFrame::BuildBars() {
  // The left bar (105) with the printer and paper lists, the reduction-rate line and the
  // settings panel's tabs; the frame keeps its controls and pages at hand.
  auto* left = new PrinterBar(this, options_.prompt, this);
  printer_combo_ = left->printer_combo();
  paper_combo_ = left->paper_combo();
  rate_line_ = left->rate_line();
  tabs_ = left->tabs();
  layout_ = left->layout_page();
  header_ = left->header_page();
  copies_ = left->copies_page();
  job_page_ = left->job_page();
  layout_->set_trace(&trace_);
  connect(header_, &_CPrtHdr::textsChanged, this, &CMainFrame::ApplyHeaderFooter);
  connect(header_, &_CPrtHdr::fontRequested, this, &CMainFrame::ChooseHeaderFont);
  connect(layout_, &_CLayout::splitChanged, this, [this] {
    const PreviewSplit s = ToPreviewSplit(layout_->choice(), 0, 0);
    view_->SetSheetLayout(static_cast<std::uint32_t>(s.pages), s.direction, s.separator);
    UpdatePageCounts();  // the sheets follow the pages per sheet
  });
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

  // The bottom bar (103) with the command buttons.
  auto* bottom = new CommandBar(this);
  QPushButton* print = bottom->print_button();
  QPushButton* cancel = bottom->cancel_button();
  QPushButton* help = bottom->help_button();
  connect(bottom->queue_button(), &QPushButton::clicked, this, &CMainFrame::RunQueueCommand);
  connect(bottom->properties_button(), &QPushButton::clicked, this, &CMainFrame::RunPropertiesCommand);
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
  // Made active with the layout tab shown, the frame gives the layout page the focus.
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && tabs_->isVisible() && tabs_->currentIndex() == 0)
    layout_->SetDlgPageFocus();
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
  view_host_->SyncView();
  job_page_->RefreshJobRows();
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

void CMainFrame::RunOptions() {
  std::vector<std::string> printers;
  for (int i = 0; i < printer_combo_->count(); ++i) printers.push_back(printer_combo_->itemText(i).toStdString());
  if (settings_.auto_save_dir.empty()) settings_.auto_save_dir = config_.app_path;
  OptionsDialog d(&settings_, printers, options_.prompt, this);
  if (viewer::Prompter().RunDialog(&d) == QDialog::Accepted) (void)SaveSettingsNow();
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

void CMainFrame::RunHelp() { help_.Open(help::HelpPage(config_.app_path, kHelpFileName)); }

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
  job_page_->RefreshJobRows();
  view_host_->SyncView();
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
    job_page_->SetJobPos(page);
  }
  std::unique_ptr<QMenu> menu(BuildPageEditMenu(this));
  menu->exec(event->globalPos());
}

void CMainFrame::PickPage(int page) {
  if (page < 0 || page >= doc_.GetAllPage()) return;  // a pick of nothing changes nothing
  selected_page_ = page;
}

}  // namespace zv::client::app
