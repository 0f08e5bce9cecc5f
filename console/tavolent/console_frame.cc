#include "console/tavolent/console_frame.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScreen>
#include <QShowEvent>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <algorithm>

#include "console/graph/chart_window.h"
#include "console/tavolent/account_import.h"
#include "console/tavolent/admin_dialogs.h"
#include "console/tavolent/dialogs.h"
#include "console/tavolent/environment_sheet.h"
#include "console/tavolent/storage_folder.h"
#include "platform/help/help_page.h"

namespace zv::console {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

CMainFrame::CMainFrame(const ConsoleContext& ctx, QWidget* parent) : QMainWindow(parent), ctx_(ctx) {
  setObjectName("mainFrame");
  setWindowTitle(kConsoleTitle);
  setFont(ConsoleFont());
  setMinimumSize(300, 150);
  const auto rect = ctx_.settings->GetMainRect();
  if (!rect.Empty() && rect.right > rect.left && rect.bottom > rect.top)
    setGeometry(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);

  splitter_ = new QSplitter(this);
  splitter_->setObjectName("splitter");
  tree_ = new CTavolentGroupView(ctx_, splitter_);
  list_ = new CTavolentUserView(ctx_, splitter_);
  tree_->set_user_list(list_);
  // Without a stored placement the window opens wide enough for the tree and the list's
  // columns with three printers, each whole (within the screen).
  if (rect.Empty() || rect.right <= rect.left || rect.bottom <= rect.top) {
    const int tree = ctx_.settings->GetTreeWidth() > 0 ? ctx_.settings->GetTreeWidth() : 200;
    int width = tree + splitter_->handleWidth() + list_->WholeColumnsWidth(3);
    if (QScreen* screen = QGuiApplication::primaryScreen())
      width = std::min(width, screen->availableGeometry().width());
    resize(width, 480);
  }
  splitter_->setStretchFactor(0, 0);
  splitter_->setStretchFactor(1, 1);
  setCentralWidget(splitter_);

  auto* bar = addToolBar("ツールバー");
  bar->setObjectName("t59392");
  bar->setMovable(true);
  bar->setVisible(ctx_.settings->GetToolBar() != 0);
  struct Def {
    int id;
    const char* text;
    bool checkable, on_bar;
    // The status-bar prompt shown while the entry is highlighted and the tool tip, joined
    // by "\n".
    const char* prompt;
  };
  const Def defs[] = {
      {kCmdGroupAdd, "グループの登録(&A)...", false, true, "新しいグループを登録します\nグループの登録"},
      {kCmdGroupEdit, "グループの編集(&E)...", false, true, "選択されているグループの設定を変更します\nグループの編集"},
      {kCmdGroupDelete, "グループの削除(&D)", false, true, "選択されているグループを削除します\nグループの削除"},
      {kCmdUserAdd, "ユーザの登録(&A)...", false, true, "新しいユーザを登録します\nユーザの登録"},
      {kCmdUserEdit, "ユーザの編集(&E)...", false, true, "選択されているユーザの設定を変更します\nユーザの編集"},
      {kCmdUserDelete, "ユーザの削除(&D)", false, true, "選択されているユーザを削除します\nユーザの削除"},
      {kCmdGraph, "グラフ(&G)...", false, true, "選択されているユーザの印刷枚数をグラフで表示します\nグラフ"},
      {kCmdLockToggle, "設定情報のロック", true, true, "設定情報をロックまたは解除します\n設定情報のロック"},
      {kCmdLock, "ロック(&K)...", false, false, "設定情報をロックします\nロック"},
      {kCmdUnlock, "ロックの解除(&U)...", false, false, "設定情報のロックを解除します\nロックの解除"},
      {kCmdPassword, "パスワードの設定(&P)...", false, true, "ロックのパスワードを設定します\nパスワードの設定"},
      {kCmdThumbnail, "強制ｻﾑﾈｲﾙ印刷の設定(&T)...", false, true, "強制ｻﾑﾈｲﾙ印刷の設定\nｻﾑﾈｲﾙ印刷設定"},
      {kCmdStorage, "保存フォルダの変更(&F)...", false, false, "印刷ﾛｸﾞを保存するﾌｫﾙﾀﾞを変更\n保存ﾌｫﾙﾀﾞ変更"},
      {kCmdDeleteLog, "印刷ログの削除(&D)...", false, false, "印刷ログを削除します\n印刷ログの削除"},
      {kCmdSpanStandard, "標準(&N)", true, false, "印刷制限範囲内の印刷枚数、印刷件数を表示\n標準"},
      {kCmdSpanMonth, "今月(&M)", true, false, "今月分の印刷枚数、印刷件数を表示\n今月"},
      {kCmdSpanWeek, "今週(&W)", true, false, "今週分の印刷枚数、印刷件数を表示\n今週"},
      {kCmdSpanToday, "今日(&T)", true, false, "今日の印刷枚数、印刷件数を表示\n今日"},
      {kCmdSpanChosen, "期間指定(&O)...", true, true, "指定された期間の印刷枚数、印刷件数を表示\n期間指定"},
      {kCmdLimitSettings, "印刷制限(&L)...", false, false, "印刷制限に関する設定\n印刷制限"},
      {kCmdGeneralSettings, "全般(&G)...", false, false, "運用に必要な動作環境の設定\n全般"},
      {kCmdDomainImport, "ドメイン読込(&R)...", false, false, "ﾄﾞﾒｲﾝに登録されているﾕｰｻﾞを一括登録\nﾄﾞﾒｲﾝ読込"},
      {kCmdHelp, "ヘルプ(&H)", false, true, "ヘルプを表示します\nヘルプ"},
      {kCmdAbout, "バージョン情報(&A)...", false, false, "プログラムの情報とバージョンを表示します\nバージョン情報"},
      {kCmdToolBar, "ツール バー(&B)", true, false, "ツール バーの表示/非表示を切り替えます\nツール バー"},
      {kCmdStatusBar, "ステータス バー(&S)", true, false,
       "ステータス バーの表示/非表示を切り替えます\nステータス バー"},
  };
  for (const Def& d : defs) {
    QAction* a = AddAction(d.id, d.text, d.checkable);
    SetCommandPrompt(a, QString::fromUtf8(d.prompt));
    if (d.on_bar) bar->addAction(a);
  }
  actions_[kCmdToolBar]->setChecked(bar->isVisibleTo(this));
  connect(bar, &QToolBar::visibilityChanged, actions_[kCmdToolBar], &QAction::setChecked);
  // The menus reach every command, the ones the tool bar lacks included.
  const std::pair<const char*, std::vector<int>> menus[] = {
      {"グループ(&G)", {kCmdGroupAdd, kCmdGroupEdit, kCmdGroupDelete}},
      {"ユーザ(&U)", {kCmdUserAdd, kCmdUserEdit, kCmdUserDelete, 0, kCmdGraph}},
      {"表示(&V)", {kCmdSpanStandard, kCmdSpanMonth, kCmdSpanWeek, kCmdSpanToday, kCmdSpanChosen}},
      {"設定(&S)",
       {kCmdLimitSettings, kCmdGeneralSettings, kCmdThumbnail, kCmdStorage, kCmdDeleteLog, 0, kCmdLock, kCmdUnlock,
        kCmdPassword, 0, kCmdDomainImport}},
      {"ヘルプ(&H)", {kCmdHelp, kCmdAbout}},
  };
  for (const auto& [title, ids] : menus) {
    QMenu* menu = menuBar()->addMenu(QString::fromUtf8(title));
    menu->installEventFilter(this);
    connect(menu, &QMenu::aboutToHide, statusBar(), &QStatusBar::clearMessage);
    for (int id : ids) {
      if (id == 0) menu->addSeparator();
      else menu->addAction(actions_[id]);
    }
    if (ids.front() == kCmdSpanStandard) {
      menu->addSeparator();
      menu->addAction(actions_[kCmdToolBar]);
      menu->addAction(actions_[kCmdStatusBar]);
    }
  }
  for (int id : {kCmdGroupAdd, kCmdGroupEdit, kCmdGroupDelete}) tree_->addAction(actions_[id]);
  for (int id : {kCmdUserAdd, kCmdUserEdit, kCmdUserDelete, kCmdGraph}) list_->addAction(actions_[id]);

  statusBar()->setObjectName("s59393");
  statusBar()->setVisible(ctx_.settings->GetStatusBar() != 0);
  actions_[kCmdStatusBar]->setChecked(statusBar()->isVisibleTo(this));
  period_pane_ = new QLabel;
  period_pane_->setObjectName("pane0");
  pages_pane_ = new QLabel;
  pages_pane_->setObjectName("pane108");
  pages_pane_->setFixedWidth(PagesPaneWidth({}));
  // Pane 0 stretches; a highlighted menu entry's prompt covers it while pane 1 stays.
  statusBar()->addWidget(period_pane_, 1);
  statusBar()->addPermanentWidget(pages_pane_);
  connect(list_, &CTavolentUserView::statusChanged, this, [this](const QString& text) { SetStatusTexts(1, text); });
  connect(tree_, &CTavolentGroupView::selectionCleared, this, [this] { SetStatusTexts(1, {}); });
  connect(this, &CMainFrame::rebuildRequested, tree_, [this] {
    tree_->RefreshSelected();
    SetStatusTexts(1, {});
  });
  setWindowIcon(ConsoleIcon());

  UpdatePeriodText();
  tree_->FillGroupTree();
  UpdateCommands();
  // The panes and the enabling follow the registry and the database at least every five
  // seconds, also when another console changed them.
  timer_ = new QTimer(this);
  timer_->setInterval(5000);
  connect(timer_, &QTimer::timeout, this, [this] {
    UpdatePeriodText();
    UpdateCommands();
  });
  timer_->start();
  connect(tree_, &QTreeWidget::currentItemChanged, this, [this] { UpdateCommands(); });
  connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateCommands(); });
  graph_source = [this]() -> std::unique_ptr<GraphSource> {
    std::string dsn, uid, pwd;
    ctx_.settings->GetDSN(&dsn);
    ctx_.settings->GetUID(&uid);
    ctx_.settings->GetPWD(&pwd);
    return std::make_unique<DatabaseGraphSource>(dsn, uid, pwd);
  };
  storage_dialog = [this](QWidget* owner) { RunStorageFolderDialog(owner, *ctx_.settings, *ctx_.sink); };
}

CMainFrame::~CMainFrame() {
  // The graph windows go first: they raise this window as they close.
  for (const auto& g : graphs_) delete g.data();
  if (hwnd_) winmsg::DestroyWindow(hwnd_);
}

int CMainFrame::ForwardGroupChange(const engine::GroupRecord* record, int operation) {
  return tree_ ? tree_->ApplyGroupChange(record, operation) : 0;
}

int CMainFrame::PagesPaneWidth(const QString& text) const {
  return std::max(statusBar()->fontMetrics().horizontalAdvance(text), 150) + 20;
}

void CMainFrame::SetStatusTexts(int which, const QString& text) {
  if (which == 0 || which == -1) UpdatePeriodText();
  if (which != 1 && which != -1) return;
  pages_text_ = text;
  pages_pane_->setFixedWidth(PagesPaneWidth(pages_text_));
  pages_pane_->setText(pages_text_);
}

namespace {

// What a graph window reads: its print-log source and its document. A child of the window,
// it goes with it, after the window's view.
struct GraphData : QObject {
  std::unique_ptr<GraphSource> source;
  std::unique_ptr<CChartDoc> doc;
};

}  // namespace

CChartFrame* CMainFrame::OpenGraphWindow() {
  const auto users = list_->SelectedUsers();
  if (users.empty()) return nullptr;
  WaitCursor wait;
  auto data = std::make_unique<GraphData>();
  data->source = graph_source ? graph_source() : nullptr;
  if (!data->source) {
    ShowAppMessage(*ctx_.sink, 45);
    return nullptr;
  }
  CConsoleSettings* settings = ctx_.settings;
  auto today = ctx_.today;
  data->doc = std::make_unique<CChartDoc>(*data->source, *ctx_.sink,
                                          [settings, today] { return ReadGraphEnvironment(*settings, today()); });
  data->doc->LoadSettings(settings);
  auto* frame = new CChartFrame(*data->doc, settings, *ctx_.sink, this);
  frame->setAttribute(Qt::WA_DeleteOnClose);
  data.release()->setParent(frame);
  if (!frame->SetItems(users)) {
    delete frame;
    return nullptr;
  }
  std::erase_if(graphs_, [](const QPointer<CChartFrame>& g) { return g.isNull(); });
  graphs_.emplace_back(frame);
  frame->show();
  return frame;
}

std::vector<CChartFrame*> CMainFrame::graph_windows() const {
  std::vector<CChartFrame*> out;
  for (const auto& g : graphs_)
    if (!g.isNull()) out.push_back(g.data());
  return out;
}

QAction* CMainFrame::AddAction(int id, const char* text, bool checkable) {
  auto* a = new QAction(QString::fromUtf8(text), this);
  a->setObjectName(QString("cmd%1").arg(id));
  a->setData(id);
  a->setCheckable(checkable);
  connect(a, &QAction::triggered, this, [this, id] { Run(id); });
  actions_[id] = a;
  addAction(a);
  return a;
}

QAction* CMainFrame::action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

void CMainFrame::UpdatePeriodText() {
  int32_t index = 0, days = 0, week_flag = 0, limit_date = 0;
  ctx_.settings->GetCheckRange(&index, &days);
  ctx_.settings->GetWeekFlag(&week_flag);
  std::optional<int32_t> stored;
  if (ctx_.settings->GetLimitDate(&limit_date)) stored = limit_date;
  period_ = CurrentLimitPeriod(ctx_.today(), index, days, stored, week_flag);
  if (period_.rolled) ctx_.settings->SetLimitDate(period_.end);
  list_->set_limit_period(period_);
  period_pane_->setText(Q(FormatPeriodStatusText(period_)));
}

void CMainFrame::UpdateCommands() {
  const bool locked = ctx_.Locked();
  bool stored = false;
  (void)ctx_.LockPassword(&stored);
  actions_[kCmdLock]->setEnabled(!locked && stored);
  actions_[kCmdUnlock]->setEnabled(locked);
  actions_[kCmdLockToggle]->setEnabled(stored);
  actions_[kCmdLockToggle]->setChecked(locked);
  for (int id : {kCmdPassword, kCmdThumbnail, kCmdStorage, kCmdDeleteLog, kCmdLimitSettings, kCmdGeneralSettings,
                 kCmdDomainImport})
    actions_[id]->setEnabled(!locked);
  // A database server has no file to move.
  actions_[kCmdStorage]->setEnabled(!locked && StorageFolderAvailable(*ctx_.settings));
  const int kind = ctx_.settings->GetDisplaySpan().kind;
  for (int k = 0; k <= 4; ++k) actions_[kCmdSpanStandard + k]->setChecked(kind == k);

  // The views enable the commands they carry.
  tree_->UpdateCommands(locked);
  list_->UpdateCommands(locked);
}

void CMainFrame::Run(int id) {
  switch (id) {
    case kCmdLock:
    case kCmdUnlock:
    case kCmdLockToggle:
      LockCommand();
      break;
    case kCmdPassword:
      PasswordCommand();
      break;
    case kCmdThumbnail:
      ThumbnailCommand();
      break;
    case kCmdSpanStandard:
    case kCmdSpanMonth:
    case kCmdSpanWeek:
    case kCmdSpanToday:
      SpanCommand(id - kCmdSpanStandard);
      break;
    case kCmdSpanChosen:
      ChosenSpanCommand();
      break;
    case kCmdGroupAdd:
      tree_->AddGroupCommand();
      break;
    case kCmdGroupEdit:
      tree_->EditGroupCommand();
      break;
    case kCmdGroupDelete:
      tree_->DeleteGroupCommand();
      break;
    case kCmdUserAdd:
      list_->AddUserCommand();
      break;
    case kCmdUserEdit:
      list_->EditUserCommand();
      break;
    case kCmdUserDelete:
      list_->DeleteUsersCommand();
      break;
    case kCmdGraph:
      OpenGraphWindow();
      break;
    case kCmdLimitSettings:
    case kCmdGeneralSettings: {
      const EnvironmentOutcome done = RunEnvironmentSettings(
          ctx_, id - kCmdLimitSettings, StorageFolderAvailable(*ctx_.settings) ? storage_dialog : nullptr,
          [this] { tree_->RefreshSelected(); }, this);
      if (done.period_restarted) UpdatePeriodText();
      if (done.completed) tree_->RefreshSelected();
      break;
    }
    case kCmdDeleteLog: {
      LogDeletionDialog dialog(
          ctx_, [this] { tree_->RefreshSelected(); }, this);
      dialog.exec();
      break;
    }
    case kCmdHelp:
      HelpCommand();
      break;
    case kCmdDomainImport:
      DomainImportCommand();
      break;
    case kCmdStorage:
      if (!ctx_.Locked()) RunStorageFolderDialog(this, *ctx_.settings, *ctx_.sink);
      break;
    case kCmdAbout: {
      AboutDialog about(this);
      about.exec();
      break;
    }
    case kCmdToolBar:
      findChild<QToolBar*>("t59392")->setVisible(actions_[kCmdToolBar]->isChecked());
      break;
    case kCmdStatusBar:
      statusBar()->setVisible(actions_[kCmdStatusBar]->isChecked());
      break;
    default:
      break;
  }
  UpdateCommands();
  emit commandDone(id);
}

void CMainFrame::LockCommand() {
  bool stored = false;
  const std::string password = ctx_.LockPassword(&stored);
  const bool locked = ctx_.Locked();
  CSettingsLockDlg dialog(*ctx_.sink, !locked, password, this);
  if (dialog.exec() == QDialog::Accepted) ctx_.settings->SetLogEnv1(locked ? 0 : 1);
}

void CMainFrame::PasswordCommand() {
  if (ctx_.Locked()) return;
  bool stored = false;
  CPasswordDlg dialog(*ctx_.sink, ctx_.LockPassword(&stored), this);
  if (dialog.exec() == QDialog::Accepted) ctx_.settings->SetLogEnv2(ScrambleLockPassword(dialog.password()));
}

void CMainFrame::ThumbnailCommand() {
  if (ctx_.Locked()) return;
  int32_t count = 0;
  ctx_.settings->GetThumbnailCount(&count);
  CThumbnailPrintDlg dialog(count, this);
  if (dialog.exec() == QDialog::Accepted) ctx_.settings->SetThumbnailCount(dialog.value());
}

void CMainFrame::SpanCommand(int kind) {
  if (ctx_.settings->GetDisplaySpan().kind == kind) return;
  ctx_.settings->SetDisplaySpan(kind, 0, 1);
  emit rebuildRequested();
}

void CMainFrame::ChosenSpanCommand() {
  const auto span = ctx_.settings->GetDisplaySpan();
  PeriodChoice preset;
  preset.choice = span.selector;
  preset.months = preset.days = span.before;
  preset.from = span.start;
  preset.to = span.end;
  CPeriodDlg dialog(*ctx_.sink, preset, ctx_.today(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  const PeriodChoice v = dialog.value();
  if (v.choice == 2) {
    ctx_.settings->SetDisplaySpanDates(4, 2, v.from, v.to);
  } else {
    ctx_.settings->SetDisplaySpan(4, v.choice, v.choice == 1 ? v.days : v.months);
  }
  emit rebuildRequested();
}

void CMainFrame::HelpCommand() {
  std::string folder;
  ctx_.settings->GetAppPath(&folder);
  help_.Open(help::HelpPage(folder, kHelpFileName));
}

void CMainFrame::DomainImportCommand() {
  if (ctx_.Locked() || !tree_) return;
  engine::GroupRecord preset;
  (void)tree_->SelectedGroup(&preset);  // the root or nothing leaves an empty record
  auto chosen = RunAccountImportWizard(this, ctx_, preset);
  if (!chosen) return;
  {
    WaitCursor wait;
    auto db = ctx_.OpenDatabase();
    (void)AddImportedAccounts(*db, *chosen, *ctx_.sink);  // failures are shown by message 29
  }
  engine::GroupRecord selected;
  if (tree_->SelectedGroup(&selected) == 0 && selected.GID == chosen->gid) emit rebuildRequested();
}

void CMainFrame::StoreLayout() {
  if (layout_stored_) return;
  layout_stored_ = true;
  const QRect r = isMaximized() || isMinimized() ? normalGeometry() : geometry();
  ctx_.settings->SetMainRect({r.left(), r.top(), r.left() + r.width(), r.top() + r.height()});
  ctx_.settings->SetToolBar(findChild<QToolBar*>("t59392")->isVisibleTo(this) ? 1 : 0);
  ctx_.settings->SetStatusBar(statusBar()->isVisibleTo(this) ? 1 : 0);
  ctx_.settings->SetTreeWidth(splitter_->sizes().value(0));
  list_->StoreWidths();
}

void CMainFrame::showEvent(QShowEvent* e) {
  QMainWindow::showEvent(e);
  // The splitter spreads its panes only once it has its width.
  if (sized_) return;
  sized_ = true;
  const int stored = ctx_.settings->GetTreeWidth();
  const int tree = stored > 0 ? stored : 200;
  splitter_->setSizes({tree, std::max(100, splitter_->width() - tree)});
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseMove) {
    if (auto* menu = qobject_cast<QMenu*>(watched)) {
      const QAction* entry = menu->actionAt(static_cast<QMouseEvent*>(event)->position().toPoint());
      if (entry && !entry->isEnabled() && !entry->isSeparator()) statusBar()->showMessage(entry->statusTip());
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::closeEvent(QCloseEvent* e) {
  // The console ends: its help window goes first, then the layout is stored.
  help_.Close();
  StoreLayout();
  QMainWindow::closeEvent(e);
}

bool CMainFrame::RegisterWindow() {
  auto h = winmsg::CreateWindow(kConsoleTitle, kConsoleTitle,
                                [this](winmsg::HWND w, winmsg::UINT m, winmsg::WPARAM wp, winmsg::LPARAM lp) {
                                  if (m == winmsg::WM_ACTIVATE) {
                                    ++raise_count_;
                                    showNormal();
                                    raise();
                                    activateWindow();
                                    return winmsg::LRESULT{1};
                                  }
                                  if (m == winmsg::WM_CLOSE) return winmsg::LRESULT{0};
                                  return winmsg::DefWindowProc(w, m, wp, lp);
                                });
  if (!h.ok()) return false;
  hwnd_ = *h;
  return true;
}

}  // namespace zv::console
