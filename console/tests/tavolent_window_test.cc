#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProcess>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>
#include <QTextBrowser>
#include <QToolBar>
#include <QtCharts/QAbstractSeries>
#include <QtCharts/QChart>
#include <deque>
#include <filesystem>
#include <fstream>
#include <set>

#include "console/graph/chart_window.h"
#include "console/tavolent/console_frame.h"
#include "console/tavolent/dialogs.h"
#include "console/tests/server_root.h"
#include "platform/fs/files.h"
#include "platform/paths/install_layout.h"
#include "platform/sync/guard.h"
#include "platform/testing/artifacts.h"
#include "platform/testing/bin_dir.h"
#include "platform/testing/latin_texts.h"
#include "platform/testing/qt_app.h"
#include "platform/testing/temp_root.h"
#include "platform/winmsg/qt/qt_pump.h"

namespace zv::console {
namespace {

namespace fs = std::filesystem;
constexpr int32_t kToday = 20240115;

// Records what a person would have seen and answers questions from a script (Yes when the
// script is empty).
class ScriptedSink : public MessageSink {
 public:
  int Show(const std::string& text, uint32_t style) override {
    shown.push_back(text);
    if (style != kStyleQuestion) return kIdOk;
    if (answers.empty()) return kIdYes;
    int a = answers.front();
    answers.pop_front();
    return a;
  }
  std::vector<std::string> shown;
  std::deque<int> answers;
};

std::string Artifact(const std::string& name) {
  std::string dir = zv::testing::BinDir() + "/../artifacts";
  fs::create_directories(dir);
  return dir + "/" + name;
}

std::string Message(int n) { return GetAppMessage(n, nullptr); }

// True while an in-place editor is open in the view.
bool Editing(QAbstractItemView* view) {
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  for (QLineEdit* e : view->viewport()->findChildren<QLineEdit*>())
    if (e->isVisible()) return true;
  return false;
}

class TavolentTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // An office screen of 1920 x 1080 rather than the offscreen platform's 800 x 600, so
    // that the main window's opening size is its own and not the screen's.
    zv::testing::TempRoot screen_root;
    const std::string config = screen_root.str() + "/screen.json";
    std::ofstream(config) << R"({"screens": [{"name": "office", "x": 0, "y": 0, "width": 1920, "height": 1080}]})";
    static std::string platform = "offscreen:configfile=" + config;
    static int argc = 3;
    static char name[] = "tavolent_window_test";
    static char option[] = "-platform";
    static char* argv[] = {name, option, platform.data(), nullptr};
    app_ = new QApplication(argc, argv);
    (void)winmsg::LoadQtTranslations();
  }
  void SetUp() override {
    auto dsn = testing::SetUpServerRoot(root_.str());
    ASSERT_TRUE(dsn.ok()) << dsn.status().ToString();
    result_ = root_.str() + "/app/share/Result";
    ASSERT_TRUE(settings_.SetLogEnv1(0));
    ctx_ = {&settings_, &sink_, [] { return kToday; }};
  }
  CConsoleDatabase Db() {
    std::string dsn;
    settings_.GetDSN(&dsn);
    return CConsoleDatabase(dsn, "", "");
  }
  int32_t Group(const std::string& name, int mono = 0, int color = 0) {
    auto db = Db();
    engine::GroupRecord g{0, name, mono, color, 0};
    EXPECT_TRUE(db.AddGroup(&g));
    return g.GID;
  }
  int32_t User(const std::string& account, int32_t gid, int16_t kind = 3, int mono = 10, int color = 5) {
    auto db = Db();
    engine::UserRecord u{0, account, "name " + account, gid, kind, mono, color, "", 0};
    EXPECT_TRUE(db.AddUser(&u));
    return u.UID;
  }
  int32_t Printer(const std::string& name, int type) {
    auto db = Db();
    engine::PrinterRecord p{0, name, type, 1};
    EXPECT_TRUE(db.AddPrinter(&p));
    return p.PID;
  }
  void Log(int uid, int pid, int date, int pages, int ptype) {
    static int id = 0;
    auto db = Db();
    ASSERT_TRUE(db.ExecuteQuery(
        "INSERT INTO PrintLog (ID,UID,PID,PDate,PTime,Pages,Ptype) VALUES (?,?,?,?,?,?,?)",
        {int64_t{++id}, int64_t{uid}, int64_t{pid}, odbc::Date{date / 10000, date / 100 % 100, date % 100},
         odbc::Time{10, 0, 0}, int64_t{pages}, int64_t{ptype}},
        nullptr, nullptr));
  }
  int64_t LogRows() {
    auto db = Db();
    int64_t n = 0;
    EXPECT_TRUE(db.SumPages("SELECT COUNT(*) FROM PrintLog", {}, &n));
    return n;
  }
  static std::vector<std::string> Row(QTreeWidget* list, int row) {
    std::vector<std::string> out;
    for (int c = 0; c < list->columnCount(); ++c) out.push_back(list->topLevelItem(row)->text(c).toStdString());
    return out;
  }
  void SetPassword(const std::string& password, bool locked) {
    ASSERT_TRUE(settings_.SetLogEnv2(ScrambleLockPassword(password)));
    ASSERT_TRUE(settings_.SetLogEnv1(locked ? 1 : 0));
  }
  static QApplication* app_;
  zv::testing::TempRoot root_;
  CConsoleSettings settings_;
  ScriptedSink sink_;
  ConsoleContext ctx_;
  std::string result_;
};
QApplication* TavolentTest::app_ = nullptr;

TEST_F(TavolentTest, EmptyDatabaseShowsTheRootAlone) {
  CMainFrame frame(ctx_);
  ASSERT_EQ(frame.tree()->topLevelItemCount(), 1);
  EXPECT_EQ(frame.tree()->root()->text(0), "Zelvora");
  EXPECT_EQ(frame.tree()->root()->childCount(), 0);
  // At start-up, and with the root chosen, the user list shows its titles and no rows.
  auto titles = [&] {
    std::vector<std::string> out;
    for (int c = 0; c < frame.list()->columnCount(); ++c)
      out.push_back(frame.list()->headerItem()->text(c).toStdString());
    return out;
  };
  const std::vector<std::string> standard = {"アカウント", "ユーザ名", "印刷可能枚数-カラー", "印刷可能枚数-モノクロ",
                                             "合計"};
  EXPECT_FALSE(frame.list()->header()->isHidden());
  EXPECT_EQ(titles(), standard);
  frame.tree()->setCurrentItem(frame.tree()->root());
  EXPECT_EQ(frame.list()->topLevelItemCount(), 0);
  EXPECT_FALSE(frame.list()->header()->isHidden());
  EXPECT_EQ(titles(), standard);
  EXPECT_TRUE(sink_.shown.empty());
}

TEST_F(TavolentTest, GroupRenamesCheckOtherNamesWithoutCase) {
  const int32_t sales = Group("Sales"), dev = Group("Dev");
  CMainFrame frame(ctx_);
  QTreeWidgetItem* root = frame.tree()->root();
  ASSERT_EQ(root->childCount(), 2);
  EXPECT_EQ(root->child(0)->text(0), "Dev");  // sorted by name
  struct Case {
    std::string text;
    bool stands;
    std::string shown;  // empty: none
    std::string stored;
  } cases[] = {
      {"SALES", false, Message(6), "Dev"},
      {"", false, "", "Dev"},
      {std::string(300, 'n'), false, FormatBoundsMessage(15, 1, 255), "Dev"},
      {"DEV", true, "", "DEV"},
      {"Alpha", true, "", "Alpha"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    sink_.shown.clear();
    EXPECT_EQ(frame.tree()->RenameItem(frame.tree()->ItemOf(dev), c.text), c.stands);
    EXPECT_EQ(sink_.shown, c.shown.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.shown});
    auto db = Db();
    engine::GroupRecord g;
    bool found = false;
    ASSERT_TRUE(db.GetGroupInfo(dev, &g, &found));
    EXPECT_EQ(g.GroupName, c.stored);
  }
  EXPECT_EQ(frame.tree()->ItemOf(sales)->text(0), "Sales");
  // Renaming the root only changes the root name setting.
  EXPECT_TRUE(frame.tree()->RenameItem(root, "本社"));
  EXPECT_EQ(settings_.GetRootName(), "本社");
}

TEST_F(TavolentTest, UserListShowsPrinterColumnsAndSortsWithTheTieRule) {
  const int32_t gid = Group("Sales", 40, 15);
  const int32_t a = User("bob", gid, 3, 10, 5), b = User("Alice", gid, 2), c = User("carol", gid, 0);
  const int32_t mono = Printer("Office-Mono", 0), colour = Printer("Office-Color", 1);
  Log(a, mono, 20240110, 4, 0);
  Log(a, colour, 20240111, 2, 1);
  Log(b, colour, 20240112, 6, 1);
  Log(c, mono, 20231201, 9, 0);  // outside the display month
  ASSERT_TRUE(settings_.SetCheckRange(3, 0));
  settings_.SetDisplaySpan(1, 0, 1);  // this month
  CMainFrame frame(ctx_);
  frame.tree()->SelectGroup(gid);
  QTreeWidget* list = frame.list();
  ASSERT_EQ(list->columnCount(), 7);
  EXPECT_EQ(list->headerItem()->text(5), "Office-Mono");
  EXPECT_EQ(list->headerItem()->text(6), "Office-Color");
  ASSERT_EQ(list->topLevelItemCount(), 3);
  // Sorted by account without regard to case.
  EXPECT_EQ(Row(list, 0), (std::vector<std::string>{"Alice", "name Alice", "  15枚", "  40枚", "   6枚/   0枚(  1件)",
                                                    "   0枚", "   6枚"}));
  EXPECT_EQ(Row(list, 1), (std::vector<std::string>{"bob", "name bob", "   5枚", "  10枚", "   2枚/   4枚(  2件)",
                                                    "   4枚", "   2枚"}));
  EXPECT_EQ(Row(list, 2), (std::vector<std::string>{"carol", "name carol", "無制限", "無制限", "   0枚/   0枚(  0件)",
                                                    "   0枚", "   0枚"}));
  // Totals: Alice 6 and bob 6 tie and go by account in the chosen direction.
  auto order = [&] {
    std::vector<std::string> out;
    for (int i = 0; i < list->topLevelItemCount(); ++i) out.push_back(list->topLevelItem(i)->text(0).toStdString());
    return out;
  };
  frame.list()->ClickColumn(4);
  EXPECT_EQ(order(), (std::vector<std::string>{"carol", "Alice", "bob"}));
  frame.list()->ClickColumn(4);
  EXPECT_EQ(order(), (std::vector<std::string>{"bob", "Alice", "carol"}));
  int32_t column = -1, direction = -1;
  settings_.GetListOrder(&column, &direction);
  EXPECT_EQ(column, 4);
  EXPECT_EQ(direction, 1);

  // The selected user's remaining pages in the limit month.
  frame.list()->SelectUids({a});
  EXPECT_EQ(frame.pages_pane()->text().toStdString(), frame.list()->StatusText());
  EXPECT_EQ(frame.list()->StatusText(), "bob:上限まで カラー[3]枚 上限まで モノクロ[6]枚");
  frame.show();
  QApplication::processEvents();
  // The total column shows its text whole.
  for (int r = 0; r < list->topLevelItemCount(); ++r)
    EXPECT_GT(list->columnWidth(4), list->fontMetrics().horizontalAdvance(list->topLevelItem(r)->text(4))) << r;
  // The counts stand at the right of their cells, so their digits line up; the names at the
  // left.
  for (int r = 0; r < list->topLevelItemCount(); ++r)
    for (int c = 0; c < list->columnCount(); ++c)
      EXPECT_EQ((list->topLevelItem(r)->textAlignment(c) & Qt::AlignRight) != 0, c >= 2) << r << "," << c;
  frame.grab().save(QString::fromStdString(Artifact("tavolent_main.png")));
}

TEST_F(TavolentTest, MainWindowOpensWithEveryColumnWholeAndKeepsTheAdministratorsWidths) {
  const int32_t gid = Group("営業部", 40, 15);
  const int32_t a = User("aoki", gid, 1), b = User("baba", gid, 3, 120, 30);
  const int32_t p1 = Printer("Office-Mono", 0), p2 = Printer("Office-Color", 1), p3 = Printer("Floor2-Laser", 0);
  Log(a, p1, 20240110, 4, 0);
  Log(a, p2, 20240111, 2, 1);
  Log(b, p3, 20240112, 1234, 0);
  auto whole = [](CMainFrame& frame) {
    QTreeWidget* list = frame.list();
    for (int c = 0; c < list->columnCount(); ++c) {
      const QString title = list->headerItem()->text(c);
      EXPECT_GE(list->columnWidth(c), frame.list()->TitleWidth(title)) << title.toStdString();
    }
    // No column lies beyond the list's right edge.
    EXPECT_LE(list->header()->length(), list->viewport()->width());
  };
  {
    CMainFrame frame(ctx_);
    frame.show();
    QApplication::processEvents();
    frame.tree()->SelectGroup(gid);
    QApplication::processEvents();
    ASSERT_EQ(frame.list()->columnCount(), 8);
    whole(frame);
    frame.grab().save(QString::fromStdString(Artifact("tavolent_main_default.png")));
    // The administrator's size and a narrower title column are kept.
    frame.resize(700, 400);
    frame.list()->setColumnWidth(2, 60);
    QApplication::processEvents();
    frame.close();
  }
  CMainFrame again(ctx_);
  again.show();
  QApplication::processEvents();
  again.tree()->SelectGroup(gid);
  EXPECT_EQ(again.size(), QSize(700, 400));
  EXPECT_EQ(again.list()->columnWidth(2), 60);
}

TEST_F(TavolentTest, AccountRenameRefusesAnotherUsersAccount) {
  const int32_t gid = Group("Sales");
  const int32_t a = User("aoki", gid);
  User("baba", gid);
  CMainFrame frame(ctx_);
  frame.tree()->SelectGroup(gid);
  EXPECT_FALSE(frame.list()->RenameAccount(a, "BABA"));
  EXPECT_EQ(sink_.shown, std::vector<std::string>{FormatTextMessage(7, "name baba")});
  // An account longer than the user dialog takes is refused with its message, unstored.
  sink_.shown.clear();
  EXPECT_FALSE(frame.list()->RenameAccount(a, std::string(300, 'a')));
  EXPECT_EQ(sink_.shown, std::vector<std::string>{FormatBoundsMessage(15, 1, 128)});
  {
    auto db = Db();
    engine::UserRecord stored;
    bool found = false;
    ASSERT_TRUE(db.GetUserInfo("aoki", &stored, &found));
    EXPECT_TRUE(found);
  }
  // The in-place editors of both views take at most 255 characters.
  frame.show();
  QApplication::processEvents();
  for (QTreeWidget* view : {static_cast<QTreeWidget*>(frame.tree()), static_cast<QTreeWidget*>(frame.list())}) {
    QTreeWidgetItem* item = view == frame.tree() ? frame.tree()->ItemOf(gid) : view->topLevelItem(0);
    view->editItem(item, 0);
    QLineEdit* editor = view->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr) << view->objectName().toStdString();
    EXPECT_EQ(editor->maxLength(), 255);
    emit view->itemDelegate()->closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
  }
  frame.tree()->SelectGroup(gid);
  EXPECT_TRUE(frame.list()->RenameAccount(a, "zaoki"));
  auto db = Db();
  engine::UserRecord u;
  bool found = false;
  ASSERT_TRUE(db.GetUserInfo("zaoki", &u, &found));
  EXPECT_TRUE(found);
  EXPECT_EQ(Row(frame.list(), 1)[0], "zaoki");
}

TEST_F(TavolentTest, DeletingUsersIsAllOrNothing) {
  const int32_t gid = Group("Sales");
  const int32_t a = User("aoki", gid), b = User("baba", gid);
  const int32_t pid = Printer("P", 0);
  Log(a, pid, 20240110, 3, 0);
  Log(b, pid, 20240110, 4, 0);
  CMainFrame frame(ctx_);
  frame.tree()->SelectGroup(gid);
  ASSERT_EQ(frame.list()->rows().size(), 2u);

  // Another console deletes baba meanwhile: marking baba fails, and aoki keeps her row and
  // history.
  {
    auto db = Db();
    engine::UserRecord gone{b, "baba", "", gid, 3, 10, 5, "", 1};
    ASSERT_TRUE(db.DeleteUser(&gone));
  }
  frame.list()->SelectUids({a, b});
  frame.Run(kCmdUserDelete);
  EXPECT_EQ(sink_.shown, (std::vector<std::string>{Message(1), Message(31)}));
  EXPECT_EQ(frame.list()->rows().size(), 2u);
  EXPECT_EQ(LogRows(), 2);
  std::vector<engine::UserRecord> live;
  ASSERT_TRUE(Db().GetUserInfo(&live, 0, 1));
  EXPECT_EQ(live.size(), 1u);
  EXPECT_FALSE(fs::exists(result_ + "/aoki-.ans"));

  // Answering No changes nothing; Yes deletes and clears the quota file afterwards.
  sink_.shown.clear();
  sink_.answers = {kIdNo};
  frame.list()->SelectUids({a});
  frame.Run(kCmdUserDelete);
  EXPECT_EQ(frame.list()->rows().size(), 2u);
  frame.list()->SelectUids({a});
  frame.Run(kCmdUserDelete);
  EXPECT_EQ(sink_.shown, (std::vector<std::string>{Message(1), Message(1)}));
  EXPECT_EQ(frame.list()->rows().size(), 1u);
  EXPECT_EQ(LogRows(), 1);
  EXPECT_TRUE(fs::exists(result_ + "/aoki-.ans"));
}

TEST_F(TavolentTest, TheLockDisablesSettingCommandsButNotTheGraph) {
  const int32_t gid = Group("Sales");
  const int32_t a = User("aoki", gid);
  CMainFrame frame(ctx_);
  frame.tree()->SelectGroup(gid);
  frame.list()->SelectUids({a});
  frame.show();
  frame.tree()->editItem(frame.tree()->ItemOf(gid));
  EXPECT_TRUE(Editing(frame.tree()));
  frame.tree()->closePersistentEditor(frame.tree()->ItemOf(gid));
  frame.tree()->setCurrentItem(frame.tree()->root());
  frame.tree()->SelectGroup(gid);
  frame.list()->SelectUids({a});
  // No password stored: locking is not offered yet.
  frame.UpdateCommands();
  EXPECT_FALSE(frame.action(kCmdLock)->isEnabled());
  EXPECT_TRUE(frame.action(kCmdPassword)->isEnabled());

  SetPassword("Secret", true);
  frame.UpdateCommands();
  for (int id :
       {kCmdLock, kCmdPassword, kCmdThumbnail, kCmdStorage, kCmdDeleteLog, kCmdLimitSettings, kCmdGeneralSettings,
        kCmdDomainImport, kCmdGroupAdd, kCmdGroupEdit, kCmdGroupDelete, kCmdUserAdd, kCmdUserEdit, kCmdUserDelete}) {
    EXPECT_FALSE(frame.action(id)->isEnabled()) << id;
  }
  for (int id : {kCmdUnlock, kCmdLockToggle, kCmdGraph}) EXPECT_TRUE(frame.action(id)->isEnabled()) << id;
  EXPECT_TRUE(frame.action(kCmdLockToggle)->isChecked());
  // In-place edits do not start while locked.
  frame.tree()->editItem(frame.tree()->ItemOf(gid));
  EXPECT_FALSE(Editing(frame.tree()));
  frame.list()->editItem(frame.list()->topLevelItem(0), 0);
  EXPECT_FALSE(Editing(frame.list()));
  frame.Run(kCmdGraph);
  EXPECT_TRUE(sink_.shown.empty());
  EXPECT_EQ(frame.graph_windows().size(), 1u);
  frame.grab().save(QString::fromStdString(Artifact("tavolent_locked.png")));

  // Unlocking takes the exact password.
  sink_.shown.clear();
  CSettingsLockDlg unlock(sink_, false, "Secret");
  unlock.entry()->setText("secret");
  unlock.accept();
  EXPECT_NE(unlock.result(), QDialog::Accepted);
  EXPECT_EQ(sink_.shown, std::vector<std::string>{Message(17)});
  unlock.entry()->setText("Secret");
  unlock.accept();
  EXPECT_EQ(unlock.result(), QDialog::Accepted);
}

TEST_F(TavolentTest, DialogsCheckOnOk) {
  sink_.shown.clear();
  CPasswordDlg password(sink_, std::string(128, 'x'));
  password.confirm()->setText(QString(128, 'x'));
  password.accept();
  EXPECT_NE(password.result(), QDialog::Accepted);
  EXPECT_EQ(sink_.shown, std::vector<std::string>{FormatBoundsMessage(15, 1, 127)});
  password.entry()->setText("abc");
  password.confirm()->setText("abc");
  password.accept();
  EXPECT_EQ(password.result(), QDialog::Accepted);
  EXPECT_EQ(password.password(), "abc");

  CPeriodDlg period(sink_, {2, 1, 1, 20040301, 20040229}, kToday);
  sink_.shown.clear();
  period.accept();
  EXPECT_EQ(sink_.shown, std::vector<std::string>{Message(13)});
  period.findChild<QDateEdit*>("dt1027")->setDate(QDate(2004, 3, 31));
  period.accept();
  EXPECT_EQ(period.result(), QDialog::Accepted);
  EXPECT_EQ(period.value().to, 20040331);

  // A group stored without limits shows them as they are: OK refuses them rather than
  // storing a clamped number.
  CGroupPropertyDlg unlimited(sink_, {5, "営業部", 0, 0, 1}, {});
  EXPECT_EQ(unlimited.findChild<QSpinBox*>("e1001")->text(), "0");
  sink_.shown.clear();
  unlimited.accept();
  EXPECT_NE(unlimited.result(), QDialog::Accepted);
  EXPECT_EQ(sink_.shown, std::vector<std::string>{FormatBoundsMessage(9, 1, 32767)});

  CMailSettingsDlg mail(sink_, {"smtp.example.jp", 10000, "admin@example.jp", "zv@example.jp"});
  sink_.shown.clear();
  mail.accept();
  EXPECT_EQ(sink_.shown, std::vector<std::string>{FormatBoundsMessage(15, 1, 4)});

  // The stored thumbnail count and the dialog's choice map both ways.
  struct Case {
    int32_t stored;
    const char* chosen;
    int32_t saved;
  } cases[] = {{0, "r1007", 0}, {1, "r1007", 1}, {2, "r1008", 2}, {5, "r1009", 3}};
  for (const Case& c : cases) {
    CThumbnailPrintDlg d(c.stored);
    EXPECT_TRUE(d.findChild<QRadioButton*>(c.chosen)->isChecked()) << c.stored;
    EXPECT_EQ(d.findChild<QRadioButton*>(c.chosen)->isEnabled(), c.stored != 0);
    EXPECT_EQ(d.value(), c.saved) << c.stored;
  }

  // Screenshots of each dialog.
  CSettingsLockDlg lock(sink_, true, "x");
  AboutDialog about;
  CThumbnailPrintDlg thumbnail(5);
  CGroupPropertyDlg group(sink_, {0, "営業部", 50, 20, 1}, {});
  CUserPropertyDlg user(sink_, {0, "tanaka", "田中 一郎", 1, 3, 50, 20, "tanaka@example.jp", 1},
                        engine::kDefaultSystemLimits, {{1, "営業部", 30, 10, 1}}, {});
  std::pair<QDialog*, const char*> shots[] = {
      {&lock, "tavolent_lock.png"},     {&password, "tavolent_password.png"},   {&mail, "tavolent_mail.png"},
      {&period, "tavolent_period.png"}, {&thumbnail, "tavolent_thumbnail.png"}, {&group, "tavolent_group.png"},
      {&user, "tavolent_user.png"},     {&about, "tavolent_about.png"}};
  for (auto [d, name] : shots) {
    d->adjustSize();
    EXPECT_TRUE(d->grab().save(QString::fromStdString(Artifact(name)))) << name;
    // Japanese throughout, but for the system's name and the mail terms.
    EXPECT_EQ(zv::testing::LatinTexts(d, {"Zelvora", "SMTP", "OK"}), std::vector<std::string>{}) << name;
  }
}

// A print-log source whose queries fail.
class FailingSource : public GraphSource {
 public:
  bool SumByUserDay(const std::vector<int32_t>&, int32_t, int32_t,
                    std::map<std::pair<int32_t, int32_t>, int64_t>*) override {
    return false;
  }
  bool EarliestDay(const std::vector<int32_t>&, int32_t*) override { return false; }
};

TEST_F(TavolentTest, GraphCommandOpensAWindowForTheSelectedUsers) {
  const int32_t gid = Group("Sales");
  const int32_t a = User("aoki", gid), b = User("baba", gid);
  User("chiba", gid);
  Log(a, Printer("P", 0), 20240110, 3, 0);
  struct Case {
    const char* name;
    int source;  // 0 the database, 1 failing queries, 2 none
    std::vector<std::string> shown;
    bool opened;
  } cases[] = {
      {"database", 0, {}, true},
      {"failing queries", 1, {Message(46)}, false},
      {"no source", 2, {Message(45)}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sink_.shown.clear();
    CMainFrame frame(ctx_);
    if (c.source == 1) frame.graph_source = [] { return std::make_unique<FailingSource>(); };
    if (c.source == 2) frame.graph_source = [] { return std::unique_ptr<GraphSource>(); };
    frame.tree()->SelectGroup(gid);
    frame.list()->SelectUids({b, a});
    frame.Run(kCmdGraph);
    EXPECT_EQ(sink_.shown, c.shown);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const auto windows = frame.graph_windows();
    ASSERT_EQ(windows.size(), c.opened ? 1u : 0u);
    if (!c.opened) continue;
    EXPECT_TRUE(windows[0]->isVisible());
    // One series per selected user, in the list's order.
    QStringList series;
    for (QAbstractSeries* one : windows[0]->View()->Chart()->series()) series << one->name();
    EXPECT_EQ(series, (QStringList{"aoki", "baba"}));
    windows[0]->resize(700, 450);
    QApplication::processEvents();
    windows[0]->grab().save(QString::fromStdString(Artifact("tavolent_graph.png")));
    // Closing the window frees it and its document.
    windows[0]->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(frame.graph_windows().empty());
  }
}

TEST_F(TavolentTest, StatusBarShowsPromptsAndSizesTheRemainingPagesPane) {
  CMainFrame frame(ctx_);
  frame.show();
  QApplication::processEvents();
  const QString period = frame.period_pane()->text();
  // A highlighted menu entry's prompt covers pane 0 until the menu closes.
  frame.action(kCmdUserAdd)->showStatusText(&frame);
  EXPECT_EQ(frame.statusBar()->currentMessage(), frame.action(kCmdUserAdd)->statusTip());
  EXPECT_FALSE(frame.statusBar()->currentMessage().isEmpty());
  EXPECT_FALSE(frame.period_pane()->isVisible());
  frame.statusBar()->clearMessage();
  EXPECT_TRUE(frame.period_pane()->isVisible());
  EXPECT_EQ(frame.period_pane()->text(), period);
  // The same through an open menu: closing it brings the period text back.
  QMenu* menu = frame.menuBar()->actions()[2]->menu();
  menu->popup(frame.mapToGlobal(QPoint(10, 10)));
  menu->setActiveAction(frame.action(kCmdSpanMonth));
  QApplication::processEvents();
  EXPECT_EQ(frame.statusBar()->currentMessage(), frame.action(kCmdSpanMonth)->statusTip());
  menu->hide();
  QApplication::processEvents();
  EXPECT_TRUE(frame.statusBar()->currentMessage().isEmpty());
  EXPECT_TRUE(frame.period_pane()->isVisible());

  struct Case {
    QString text;
    bool wider;
  } cases[] = {{"", false}, {"aoki:印刷可能枚数[無制限]", false}, {QString(80, QChar(0x679A)), true}};
  for (const Case& c : cases) {
    frame.SetStatusTexts(1, c.text);
    EXPECT_EQ(frame.pages_pane()->text(), c.text);
    if (c.wider)
      EXPECT_EQ(frame.pages_pane()->width(), frame.statusBar()->fontMetrics().horizontalAdvance(c.text) + 20);
    else EXPECT_EQ(frame.pages_pane()->width(), 170) << c.text.toStdString();
  }

  // The status bar's visibility follows its menu entry and is stored at exit.
  frame.action(kCmdStatusBar)->trigger();
  EXPECT_FALSE(frame.statusBar()->isVisible());
  frame.close();
  EXPECT_EQ(settings_.GetStatusBar(), 0);
}

TEST_F(TavolentTest, CommandsCarryTheirPromptsAndToolTips) {
  CMainFrame frame(ctx_);
  struct Case {
    int id;
    const char* text;  // the menu entry (null: not checked)
    const char* prompt;
    const char* tip;
  } cases[] = {
      {kCmdLimitSettings, nullptr, "印刷制限に関する設定", "印刷制限"},
      {kCmdGeneralSettings, nullptr, "運用に必要な動作環境の設定", "全般"},
      {kCmdDomainImport, nullptr, "ﾄﾞﾒｲﾝに登録されているﾕｰｻﾞを一括登録", "ﾄﾞﾒｲﾝ読込"},
      {kCmdStorage, nullptr, "印刷ﾛｸﾞを保存するﾌｫﾙﾀﾞを変更", "保存ﾌｫﾙﾀﾞ変更"},
      {kCmdThumbnail, "強制ｻﾑﾈｲﾙ印刷の設定(&T)...", "強制ｻﾑﾈｲﾙ印刷の設定", "ｻﾑﾈｲﾙ印刷設定"},
      {kCmdLock, "ロック(&K)...", "設定情報をロックします", "ロック"},
      {kCmdUnlock, "ロックの解除(&U)...", "設定情報のロックを解除します", "ロックの解除"},
      {kCmdPassword, "パスワードの設定(&P)...", "ロックのパスワードを設定します", "パスワードの設定"},
      {kCmdDeleteLog, "印刷ログの削除(&D)...", nullptr, nullptr},
      {kCmdSpanStandard, "標準(&N)", "印刷制限範囲内の印刷枚数、印刷件数を表示", "標準"},
      {kCmdSpanMonth, "今月(&M)", "今月分の印刷枚数、印刷件数を表示", "今月"},
      {kCmdSpanWeek, "今週(&W)", "今週分の印刷枚数、印刷件数を表示", "今週"},
      {kCmdSpanChosen, "期間指定(&O)...", "指定された期間の印刷枚数、印刷件数を表示", "期間指定"},
  };
  auto* bar = frame.findChild<QToolBar*>("t59392");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    QAction* a = frame.action(c.id);
    ASSERT_NE(a, nullptr);
    if (c.text) {
      EXPECT_EQ(a->text().toStdString(), c.text);
    }
    if (c.prompt) {
      EXPECT_EQ(a->statusTip().toStdString(), c.prompt);
    }
    if (c.tip) {
      EXPECT_EQ(a->toolTip().toStdString(), c.tip);
      if (QWidget* button = bar->widgetForAction(a)) {
        EXPECT_EQ(button->toolTip().toStdString(), c.tip);
      }
    }
  }

  // Every entry of every menu has an access key of its own in its menu.
  for (QAction* top : frame.menuBar()->actions()) {
    if (!top->menu()) continue;
    std::set<QChar> keys;
    for (QAction* entry : top->menu()->actions()) {
      if (entry->isSeparator()) continue;
      const qsizetype amp = entry->text().indexOf('&');
      ASSERT_GE(amp, 0) << entry->text().toStdString();
      EXPECT_TRUE(keys.insert(entry->text().at(amp + 1).toUpper()).second)
          << top->text().toStdString() << ": " << entry->text().toStdString();
    }
    if (top->text() == "設定(&S)") {
      EXPECT_EQ(keys.size(), 9u);
    }
  }
  EXPECT_EQ(frame.action(kCmdToolBar)->text().toStdString(), "ツール バー(&B)");
  EXPECT_EQ(frame.action(kCmdSpanToday)->text().toStdString(), "今日(&T)");

  // With keys alone: Alt+V opens 表示(V), T runs 今日(&T) at once.
  {
    frame.show();
    frame.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    QSignalSpy today(frame.action(kCmdSpanToday), &QAction::triggered);
    QTest::keyClick(&frame, Qt::Key_V, Qt::AltModifier);
    auto* view_menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(view_menu, nullptr);
    EXPECT_EQ(view_menu->title().toStdString(), "表示(&V)");
    view_menu->grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/tavolent_view_menu_keys.png"));
    QTest::keyClick(view_menu, Qt::Key_T);
    EXPECT_EQ(today.count(), 1);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    QApplication::processEvents();
  }

  // A disabled entry under the pointer shows its prompt as an enabled one does.
  SetPassword("x", true);
  frame.UpdateCommands();
  frame.show();
  QApplication::processEvents();
  QAction* limits = frame.action(kCmdLimitSettings);
  ASSERT_FALSE(limits->isEnabled());
  QMenu* menu = nullptr;
  for (QAction* top : frame.menuBar()->actions())
    if (top->menu() && top->menu()->actions().contains(limits)) menu = top->menu();
  ASSERT_NE(menu, nullptr);
  menu->popup(frame.mapToGlobal(QPoint(10, 10)));
  QApplication::processEvents();
  QMouseEvent move(QEvent::MouseMove, QPointF(menu->actionGeometry(limits).center()),
                   QPointF(menu->mapToGlobal(menu->actionGeometry(limits).center())), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(menu, &move);
  EXPECT_EQ(frame.statusBar()->currentMessage().toStdString(), "印刷制限に関する設定");
  menu->hide();
  QApplication::processEvents();
  EXPECT_TRUE(frame.statusBar()->currentMessage().isEmpty());
  // So does a disabled tool bar button.
  QWidget* password = bar->widgetForAction(frame.action(kCmdPassword));
  ASSERT_FALSE(password->isEnabled());
  QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(password->mapToGlobal(QPoint(2, 2))));
  QApplication::sendEvent(password, &enter);
  EXPECT_EQ(frame.statusBar()->currentMessage(), frame.action(kCmdPassword)->statusTip());
}

std::vector<int> MenuIds(QMenu* menu) {
  std::vector<int> ids;
  for (QAction* a : menu->actions()) ids.push_back(a->data().toInt());
  return ids;
}

TEST_F(TavolentTest, ContextMenusOpenAtTheirKeyboardPointsWithTheirEntries) {
  const int32_t gid = Group("Sales");
  User("aoki", gid);
  CMainFrame frame(ctx_);
  frame.show();
  QApplication::processEvents();
  CTavolentGroupView* tree = frame.tree();
  QPoint global;

  // On the selected group: the working edit and delete stay, the stand-ins go.
  tree->SelectGroup(gid);
  frame.UpdateCommands();
  auto menu = tree->ContextMenu(true, {}, &global);
  EXPECT_EQ(MenuIds(menu.get()), (std::vector<int>{kCmdGroupAdd, kCmdGroupEdit, kCmdGroupDelete}));
  EXPECT_EQ(global, tree->viewport()->mapToGlobal(tree->LabelRect(tree->ItemOf(gid)).center()));
  EXPECT_TRUE(menu->actions()[1]->isEnabled());

  // On the root, or off any label, the disabled stand-ins replace edit and delete.
  tree->SelectGroup(0);
  frame.UpdateCommands();
  for (bool keyboard : {true, false}) {
    menu = tree->ContextMenu(keyboard, QPoint(5, tree->viewport()->height() - 5), &global);
    EXPECT_EQ(MenuIds(menu.get()), (std::vector<int>{kCmdGroupAdd, kCmdGroupEditDead, kCmdGroupDeleteDead}));
    EXPECT_FALSE(menu->actions()[1]->isEnabled());
    EXPECT_FALSE(menu->actions()[2]->isEnabled());
  }

  // The user list's keyboard menu opens 5 pixels inside its top-left corner.
  tree->SelectGroup(gid);
  menu = frame.list()->ContextMenu(true, {}, &global);
  EXPECT_EQ(global, frame.list()->mapToGlobal(QPoint(5, 5)));
  EXPECT_EQ(MenuIds(menu.get()), (std::vector<int>{kCmdUserAdd, kCmdUserEdit, kCmdUserDelete, kCmdGraph}));
}

TEST_F(TavolentTest, GroupChangesFromOtherWindowsReachTheTree) {
  const int32_t sales = Group("Sales");
  CMainFrame frame(ctx_);
  engine::GroupRecord added{0, "Dev", 0, 0, 1};
  {
    auto db = Db();
    ASSERT_TRUE(db.AddGroup(&added));
  }
  engine::GroupRecord renamed{sales, "Accounts", 0, 0, 1}, unknown{9999, "X", 0, 0, 1};
  struct Case {
    const engine::GroupRecord* record;
    int operation, result;
    std::vector<std::string> names;
  } cases[] = {
      {&added, 1, 1, {"Dev", "Sales"}},      {&renamed, 2, 1, {"Accounts", "Dev"}},
      {&unknown, 2, 0, {"Accounts", "Dev"}}, {nullptr, 1, 0, {"Accounts", "Dev"}},
      {&added, 4, 0, {"Accounts", "Dev"}},   {&added, 3, 1, {"Accounts"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(frame.ForwardGroupChange(c.record, c.operation), c.result) << c.operation;
    std::vector<std::string> names;
    for (int i = 0; i < frame.tree()->root()->childCount(); ++i)
      names.push_back(frame.tree()->root()->child(i)->text(0).toStdString());
    EXPECT_EQ(names, c.names) << c.operation;
  }
  // A dialog's stored change reaches the tree through the window the dialog runs in; a window
  // that is no main frame (nothing, or the first-run wizard's) drops it.
  QWidget lone;
  ReportGroupChange(nullptr, added, 1);
  ReportGroupChange(&lone, added, 1);
  EXPECT_EQ(frame.tree()->root()->childCount(), 1);
  ReportGroupChange(frame.list()->window(), added, 1);
  ASSERT_EQ(frame.tree()->root()->childCount(), 2);
  EXPECT_NE(frame.tree()->ItemOf(added.GID), nullptr);
  // A display-period command asks for the rebuild by signal.
  int rebuilds = 0;
  QObject::connect(&frame, &CMainFrame::rebuildRequested, [&] { ++rebuilds; });
  frame.Run(kCmdSpanWeek);
  frame.Run(kCmdSpanWeek);
  EXPECT_EQ(rebuilds, 1);
}

// The help command shows the administrator's guide in the console's own window: the program
// folder's guide when it holds one (a folder with blanks and a semicolon is just a folder),
// else the one the install lays into its data folder. Help again closes the earlier window
// and opens a new one; the window closes with the console.
TEST_F(TavolentTest, HelpOpensTheGuideInTheConsolesOwnWindow) {
  const std::string own = root_.str() + "/my apps/zv;rm -rf x";
  fs::create_directories(own);
  std::ofstream(own + "/ZvmHelp.html") << "<html><head><title>own guide</title></head></html>";
  const std::string installed = paths::InstalledFolder(paths::kDataFolder).value() + "/ZvmHelp.html";
  ASSERT_TRUE(fs::is_regular_file(installed)) << installed;
  struct Case {
    std::string app_path, opened, title;
  } cases[] = {{own, own + "/ZvmHelp.html", "own guide"}, {root_.str() + "/none", installed, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.app_path);
    auto key = registry::Key::Create(registry::RootKey::kLocalMachine, "Software\\Orbelin\\Zelvora\\1.0").value();
    ASSERT_TRUE(key.SetString("AppPath", c.app_path).ok());
    QPointer<help::HelpWindow> second;
    {
      CMainFrame frame(ctx_);
      frame.show();
      frame.Run(kCmdHelp);
      QPointer<help::HelpWindow> first = frame.help_viewer().window();
      ASSERT_NE(first, nullptr);
      EXPECT_TRUE(first->isVisible());
      EXPECT_EQ(first->page(), c.opened);
      if (!c.title.empty()) {
        EXPECT_EQ(first->windowTitle().toStdString(), c.title);
      } else {
        EXPECT_TRUE(first->browser()->toPlainText().contains("グラフ"));
        first->grab().save(QString::fromStdString(Artifact("tavolent_help_window.png")));
      }
      frame.Run(kCmdHelp);
      EXPECT_TRUE(first.isNull());
      second = frame.help_viewer().window();
      ASSERT_NE(second, nullptr);
      EXPECT_TRUE(second->isVisible());
      frame.close();
      EXPECT_TRUE(second.isNull());
    }
    for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_NE(w->objectName(), "zvHelpWindow");
  }
}

TEST_F(TavolentTest, LayoutIsWrittenAtExitAndRestored) {
  Group("Sales");
  {
    CMainFrame frame(ctx_);
    frame.show();
    frame.resize(820, 520);
    QApplication::processEvents();
    frame.findChild<QSplitter*>("splitter")->setSizes({260, 560});
    QApplication::processEvents();
    frame.tree()->RenameItem(frame.tree()->root(), "本社");
    frame.close();
    ASSERT_TRUE(settings_.Save());
  }
  CConsoleSettings fresh;
  ConsoleContext ctx{&fresh, &sink_, [] { return kToday; }};
  EXPECT_EQ(fresh.GetTreeWidth(), 260);
  const auto r = fresh.GetMainRect();
  EXPECT_EQ(r.right - r.left, 820);
  EXPECT_EQ(r.bottom - r.top, 520);
  CMainFrame again(ctx);
  again.show();
  QApplication::processEvents();
  EXPECT_EQ(again.size(), QSize(820, 520));
  EXPECT_EQ(again.findChild<QSplitter*>("splitter")->sizes().value(0), 260);
  EXPECT_EQ(again.tree()->root()->text(0), "本社");
}

TEST_F(TavolentTest, ASecondStartRaisesTheFirst) {
  auto guard = sync::NamedGuard::TryAcquire(kConsoleGuard);
  ASSERT_TRUE(guard.ok());
  winmsg::QtMessagePump pump;
  CMainFrame frame(ctx_);
  ASSERT_TRUE(frame.RegisterWindow());
  QProcess second;
  second.start(QString::fromStdString(zv::testing::BinDir() + "/tavolent"), {});
  ASSERT_TRUE(second.waitForStarted(10000));
  QElapsedTimer t;
  t.start();
  while ((second.state() != QProcess::NotRunning || frame.raise_count() == 0) && t.elapsed() < 20000) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    second.waitForFinished(20);
  }
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_EQ(frame.raise_count(), 1);
}

}  // namespace
}  // namespace zv::console
