// The administration windows: the environment settings sheet, the print-log deletion and
// group selection dialogs, and the first-run wizard, driven as a person would (modal runs
// are answered from a timer), with screenshots of every page.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <deque>
#include <filesystem>
#include <optional>

#include "console/tavolent/admin_dialogs.h"
#include "console/tavolent/console_frame.h"
#include "console/tavolent/dialogs.h"
#include "console/tavolent/environment_sheet.h"
#include "console/tavolent/first_run_wizard.h"
#include "console/tavolent/storage_folder.h"
#include "console/tests/server_root.h"
#include "platform/fs/files.h"
#include "platform/spool/folder_spooler.h"
#include "platform/testing/bin_dir.h"
#include "platform/testing/qt_app.h"
#include "platform/testing/temp_root.h"

namespace zv::console {
namespace {

namespace stdfs = std::filesystem;
constexpr int32_t kToday = 20240115;

// Records what a person would have seen and answers questions from a script (Yes when the
// script is empty).
class ScriptedSink : public MessageSink {
 public:
  int Show(const std::string& text, uint32_t style) override {
    shown.push_back(text);
    if (style != kStyleQuestion) return kIdOk;
    if (answers.empty()) return kIdYes;
    const int a = answers.front();
    answers.pop_front();
    return a;
  }
  std::vector<std::string> shown;
  std::deque<int> answers;
};

std::string Message(int n) { return GetAppMessage(n, nullptr); }

void Shot(QWidget* w, const std::string& name) {
  const std::string dir = zv::testing::BinDir() + "/../artifacts";
  stdfs::create_directories(dir);
  EXPECT_TRUE(w->grab().save(QString::fromStdString(dir + "/" + name))) << name;
}

// Runs `drive` on the next modal window once it is shown.
void WhenModal(std::function<void(QWidget*)> drive) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, drive] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    drive(modal);
  });
  timer->start();
}

void Select(QTreeWidget* list, const std::vector<std::string>& texts) {
  list->clearSelection();
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    for (const auto& t : texts)
      if (list->topLevelItem(i)->text(0).toStdString() == t) list->topLevelItem(i)->setSelected(true);
}

std::vector<std::string> Texts(QTreeWidget* list) {
  std::vector<std::string> out;
  for (int i = 0; i < list->topLevelItemCount(); ++i) out.push_back(list->topLevelItem(i)->text(0).toStdString());
  return out;
}

class AdminWindowsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { app_ = &zv::testing::QtApp(); }
  void SetUp() override {
    auto dsn = testing::SetUpServerRoot(root_.str());
    ASSERT_TRUE(dsn.ok()) << dsn.status().ToString();
    result_ = root_.str() + "/app/share/Result";
    stdfs::create_directories(root_.str() + "/app/share/PrintInfo");
    ctx_ = {&settings_, &sink_, [] { return kToday; }};
    db_ = ctx_.OpenDatabase();
  }
  int32_t Group(const std::string& name, int mono, int color) {
    engine::GroupRecord g{0, name, mono, color, 0};
    EXPECT_TRUE(db_->AddGroup(&g));
    return g.GID;
  }
  int32_t User(const std::string& account, int32_t gid, int16_t kind, int mono = 0, int color = 0) {
    engine::UserRecord u{0, account, "name " + account, gid, kind, mono, color, "", 0};
    EXPECT_TRUE(db_->AddUser(&u));
    return u.UID;
  }
  void Log(int uid, int date, int pages) {
    static int id = 0;
    ASSERT_TRUE(db_->ExecuteQuery(
        "INSERT INTO PrintLog (ID,UID,PID,PDate,PTime,Pages,Ptype) VALUES (?,?,?,?,?,?,?)",
        {int64_t{++id}, int64_t{uid}, int64_t{1}, odbc::Date{date / 10000, date / 100 % 100, date % 100},
         odbc::Time{10, 0, 0}, int64_t{pages}, int64_t{0}},
        nullptr, nullptr));
  }
  void Install(const std::string& name) {
    spool::FolderSpooler spooler;
    ASSERT_TRUE(spooler.AddPrinter(spool::StandardFolderPrinter(name)).ok());
  }
  std::string Read(const std::string& path) {
    auto t = fs::ReadFile(path);
    return t.ok() ? *t : "(missing)";
  }
  std::string Quota(const std::string& account) { return Read(result_ + "/" + account + "-.ans"); }

  static QApplication* app_;
  zv::testing::TempRoot root_;
  CConsoleSettings settings_;
  ScriptedSink sink_;
  ConsoleContext ctx_;
  std::unique_ptr<CConsoleDatabase> db_;
  std::string result_;
};
QApplication* AdminWindowsTest::app_ = nullptr;

// The storage folder's browser names the folder selected in its status line.
TEST_F(AdminWindowsTest, FolderBrowserShowsTheSelectedPath) {
  const std::string start = root_.str() + "/browse";
  stdfs::create_directories(start + "/logs");
  for (bool show_path : {true, false}) {
    CBrowseDialog browser(nullptr, "フォルダの参照", start, show_path);
    browser.show();
    QApplication::processEvents();
    // With the keys: the folder list (read in the background) takes the focus and Down
    // selects its one folder.
    auto* view = browser.findChild<QAbstractItemView*>("listView");
    ASSERT_NE(view, nullptr);
    for (int i = 0; i < 200 && view->model()->rowCount(view->rootIndex()) == 0; ++i) QTest::qWait(10);
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Down);
    QApplication::processEvents();
    EXPECT_EQ(browser.status()->text().toStdString(), show_path ? "選択中のパス：" + start + "/logs" : "");
    EXPECT_EQ(browser.windowTitle().toStdString(), "フォルダの参照");
    if (show_path) Shot(&browser, "tavolent_folder_browser.png");
  }
}

TEST_F(AdminWindowsTest, EnvironmentSheetChecksPagesAndHandsBackThePrinters) {
  EnvironmentValues values;
  CEnvironSheet sheet(ctx_, values, {{1, "Office A4", 1, 1}, {2, "Laser", 0, 1}}, {"office a4", "Guest"}, 0, nullptr);
  sheet.show();
  Shot(&sheet, "tavolent_environ_limits.png");
  EXPECT_FALSE(sheet.findChild<QPushButton*>("b4")->isEnabled());      // no storage dialog given
  EXPECT_FALSE(sheet.findChild<QRadioButton*>("r1063")->isEnabled());  // crossing needs "refuse"

  // The limit page keeps the focus until its fields pass.
  sheet.findChild<QSpinBox*>("e1048")->setValue(0);
  sheet.accept();
  EXPECT_FALSE(sheet.isHidden() && sheet.result() == QDialog::Accepted);
  sheet.tabs()->setCurrentIndex(1);
  EXPECT_EQ(sheet.tabs()->currentIndex(), 0);
  sheet.findChild<QSpinBox*>("e1048")->setValue(15);
  sheet.findChild<QCheckBox*>("c1017")->setChecked(true);
  EXPECT_TRUE(sheet.findChild<QPushButton*>("b1019")->isEnabled());
  sheet.tabs()->setCurrentIndex(1);
  EXPECT_EQ(sheet.tabs()->currentIndex(), 0);
  ASSERT_EQ(sink_.shown.size(), 3u);
  EXPECT_EQ(sink_.shown[0], FormatBoundsMessage(9, 1, 32767));
  EXPECT_EQ(sink_.shown[2], Message(21));
  sheet.findChild<QCheckBox*>("c1017")->setChecked(false);
  sheet.tabs()->setCurrentIndex(1);
  ASSERT_EQ(sheet.tabs()->currentIndex(), 1);
  Shot(&sheet, "tavolent_environ_general.png");

  // The vanished "Laser" is gone; the installed name's managed record stays a colour printer.
  PrinterListsBox* lists = sheet.printers();
  EXPECT_EQ(Texts(lists->color()), std::vector<std::string>{"Office A4"});
  EXPECT_TRUE(Texts(lists->mono()).empty());
  EXPECT_EQ(Texts(lists->connected()), std::vector<std::string>{"Guest"});
  EXPECT_TRUE(lists->modified());

  // With no managed printer left, No keeps the page and Yes hands back an empty array.
  Select(lists->color(), {"Office A4"});
  sheet.findChild<QPushButton*>("b1008")->click();
  EXPECT_EQ(Texts(lists->connected()), (std::vector<std::string>{"Office A4", "Guest"}));
  sink_.shown.clear();
  sink_.answers = {kIdNo, kIdYes};
  sheet.accept();
  EXPECT_TRUE(sheet.isVisible());
  sheet.accept();
  EXPECT_EQ(sheet.result(), QDialog::Accepted);
  EXPECT_EQ(sink_.shown, (std::vector<std::string>{Message(4), Message(4)}));
  const EnvironmentEdit edit = sheet.edit();
  EXPECT_TRUE(edit.printers.empty());
  EXPECT_TRUE(edit.printers_changed);
  EXPECT_EQ(edit.after.color, 15);
  EXPECT_EQ(edit.db_printers.size(), 2u);
}

TEST_F(AdminWindowsTest, EnvironmentCommandRewritesTheFilesOnOk) {
  ASSERT_TRUE(settings_.SetLogEnv1(0));
  const int32_t sales = Group("Sales", 30, 10);
  User("tanaka", sales, 2);
  Log(User("sato", sales, 1), 20240110, 4);
  CMainFrame frame(ctx_);
  WhenModal([](QWidget* w) { static_cast<QDialog*>(w)->accept(); });
  frame.Run(kCmdLimitSettings);
  EXPECT_TRUE(sink_.shown.empty());
  EXPECT_NE(Read(result_ + "/Aperiod.prd").find("CheckRange=3\r\nLimitDate=20240131"), std::string::npos);
  EXPECT_NE(Quota("tanaka").find("MaxPages=30\r\nPageCount=0\r\nMaxPages_Color=10\r\nPageCount_Color=0"),
            std::string::npos);
  EXPECT_NE(Quota("sato").find("MaxPages=50\r\nPageCount=4\r\nMaxPages_Color=20\r\nPageCount_Color=0"),
            std::string::npos);
}

TEST_F(AdminWindowsTest, LogDeletionDialogDeletesTheChosenUsersLog) {
  const int32_t sales = Group("Sales", 30, 10);
  Group("Dev", 5, 5);
  const int32_t a = User("tanaka", sales, 2), b = User("Sato", sales, 3, 8, 4), c = User("kato", sales, 1);
  User("ito", sales, 1);  // no print log
  for (int32_t uid : {a, b, c}) Log(uid, 20240110, 5);
  int refreshed = 0;
  LogDeletionDialog dialog(ctx_, [&] { ++refreshed; });
  dialog.show();
  QTreeWidgetItem* root = dialog.tree()->topLevelItem(0);
  ASSERT_EQ(root->childCount(), 2);
  EXPECT_EQ(root->child(0)->text(0), "Dev");
  EXPECT_TRUE(dialog.list()->header()->isHidden());
  dialog.tree()->setCurrentItem(root->child(1));
  EXPECT_FALSE(dialog.list()->header()->isHidden());
  EXPECT_EQ(Texts(dialog.list()), (std::vector<std::string>{"kato", "Sato", "tanaka"}));
  dialog.ClickColumn(0);
  EXPECT_EQ(Texts(dialog.list()), (std::vector<std::string>{"tanaka", "Sato", "kato"}));
  Select(dialog.list(), {"tanaka", "Sato"});
  EXPECT_TRUE(dialog.findChild<QPushButton*>("b5")->isEnabled());
  Shot(&dialog, "tavolent_log_deletion.png");

  sink_.answers = {kIdNo};
  dialog.DeleteSelected();
  EXPECT_EQ(Quota("tanaka"), "(missing)");
  dialog.DeleteSelected();
  EXPECT_EQ(refreshed, 1);
  EXPECT_EQ(Texts(dialog.list()), std::vector<std::string>{"kato"});
  EXPECT_NE(Quota("tanaka").find("MaxPages=30\r\nPageCount=0\r\nMaxPages_Color=10\r\nPageCount_Color=0"),
            std::string::npos);
  EXPECT_NE(Quota("Sato").find("MaxPages=8\r\nPageCount=0\r\nMaxPages_Color=4\r\nPageCount_Color=0"),
            std::string::npos);
  EXPECT_EQ(Quota("kato"), "(missing)");
  EXPECT_EQ(sink_.shown, (std::vector<std::string>{Message(2), Message(2)}));

  dialog.DeleteAll();
  EXPECT_EQ(refreshed, 2);
  EXPECT_TRUE(Texts(dialog.list()).empty());
  EXPECT_NE(Quota("ito").find("PageCount=0"), std::string::npos);
}

TEST_F(AdminWindowsTest, GroupSelectionStoresItsChangesAndTheFollowersQuota) {
  const int32_t sales = Group("Sales", 30, 10), dev = Group("Dev", 5, 5), empty = Group("Empty", 1, 1);
  User("tanaka", sales, 2);
  User("sato", sales, 3, 8, 4);
  std::vector<std::pair<int32_t, int>> told;
  CGroupSelectDlg dialog(ctx_, {sales, "Sales", 30, 10, 1}, [&](const engine::GroupRecord& g, int op) {
    told.push_back({g.GID, op});
  });
  dialog.show();
  EXPECT_EQ(Texts(dialog.list()), (std::vector<std::string>{"Dev", "Empty", "Sales"}));
  EXPECT_EQ(dialog.list()->topLevelItem(0)->text(1), "   5枚");
  Shot(&dialog, "tavolent_group_select.png");

  // Renamed and given new limits at once: the followers' files take the limits.
  WhenModal([](QWidget* w) {
    w->findChild<QLineEdit*>("e1000")->setText("Sales 2");
    w->findChild<QSpinBox*>("e1003")->setValue(12);
    w->findChild<QSpinBox*>("e1001")->setValue(33);
    static_cast<QDialog*>(w)->accept();
  });
  dialog.EditGroup();
  EXPECT_NE(Quota("tanaka").find("MaxPages=33\r\nPageCount=0\r\nMaxPages_Color=12\r\n"), std::string::npos)
      << Quota("tanaka");
  EXPECT_EQ(Quota("sato"), "(missing)");  // keeps its own limits

  Select(dialog.list(), {"Sales 2", "Empty"});
  dialog.DeleteGroups();
  EXPECT_EQ(Texts(dialog.list()), (std::vector<std::string>{"Dev", "Sales 2"}));
  EXPECT_EQ(sink_.shown, (std::vector<std::string>{Message(0), Message(28)}));
  EXPECT_EQ(told, (std::vector<std::pair<int32_t, int>>{{sales, 2}, {empty, 3}}));

  Select(dialog.list(), {"Dev"});
  dialog.accept();
  EXPECT_EQ(dialog.chosen().GID, dev);
}

TEST_F(AdminWindowsTest, UserPropertiesLeftAsTheyWereStoreNothing) {
  const int32_t sales = Group("Sales", 30, 10);
  const engine::UserRecord user{7, "tanaka", "田中", sales, 3, 8, 4, "t@example.jp", 1};
  CUserPropertyDlg same(sink_, user, engine::kDefaultSystemLimits, {{sales, "Sales", 30, 10, 1}}, {{"tanaka", "田中"}});
  same.accept();
  EXPECT_EQ(same.result(), QDialog::Rejected);
  CUserPropertyDlg changed(sink_, user, engine::kDefaultSystemLimits, {{sales, "Sales", 30, 10, 1}},
                           {{"tanaka", "田中"}});
  changed.SetGroupChooser([](const engine::GroupRecord&) { return std::optional<engine::GroupRecord>(); });
  // The account picker's choice replaces the account and the user name; a cancelled pick
  // leaves them.
  std::optional<std::pair<std::string, std::string>> pick;
  changed.SetAccountPicker([&pick] { return pick; });
  changed.adjustSize();
  Shot(&changed, "tavolent_user_with_group_choice.png");
  changed.findChild<QPushButton*>("b3")->click();
  EXPECT_EQ(changed.findChild<QLineEdit*>("e1027")->text(), "tanaka");
  pick = std::make_pair(std::string("suzuki"), std::string("鈴木 一郎"));
  changed.findChild<QPushButton*>("b3")->click();
  EXPECT_EQ(changed.findChild<QLineEdit*>("e1027")->text(), "suzuki");
  EXPECT_EQ(changed.findChild<QLineEdit*>("e1029")->text(), QString::fromUtf8("鈴木 一郎"));
  changed.findChild<QLineEdit*>("e1027")->setText("tanaka");
  changed.findChild<QLineEdit*>("e1029")->setText(QString::fromUtf8("田中"));
  changed.findChild<QLineEdit*>("e1032")->setText("tanaka@example.jp");
  changed.accept();
  EXPECT_EQ(changed.result(), QDialog::Accepted);
}

TEST_F(AdminWindowsTest, UserDialogControlsAndKeys) {
  const engine::GroupRecord sales{3, "営業部", 30, 10, 1}, dev{4, "開発部", 70, 40, 1};
  // A user of the own mode stored with limits of 0, as an older database holds them.
  const engine::UserRecord user{7, "tanaka", "田中", sales.GID, 3, 0, 0, "t@example.jp", 1};
  CUserPropertyDlg d(sink_, user, engine::kDefaultSystemLimits, {sales, dev}, {{"tanaka", "田中"}});
  std::optional<engine::GroupRecord> pick;
  d.SetGroupChooser([&pick](const engine::GroupRecord& current) {
    EXPECT_EQ(current.GID, 3);
    return pick;
  });
  EXPECT_EQ(d.windowTitle(), "ユーザのプロパティ");
  // The group is a read-only edit beside its button; there is no list to pick from.
  auto* group = d.findChild<QLineEdit*>("e1040");
  ASSERT_NE(group, nullptr);
  EXPECT_TRUE(group->isReadOnly());
  EXPECT_EQ(group->text(), "営業部");
  EXPECT_EQ(d.findChildren<QComboBox*>().size(), 0);
  EXPECT_EQ(d.findChild<QPushButton*>("b4")->text(), "グループの選択(&C)...");
  auto* mono = d.findChild<QSpinBox*>("e1034");
  auto* color = d.findChild<QSpinBox*>("e1035");
  for (QSpinBox* spin : {mono, color}) {
    EXPECT_EQ(std::make_pair(spin->minimum(), spin->maximum()), std::make_pair(1, 32767));
    EXPECT_EQ(spin->text(), "0");  // shown as stored, not clamped
    EXPECT_TRUE(spin->isEnabled());
  }
  d.adjustSize();
  Shot(&d, "tavolent_user_dialog.png");

  // OK without an edit leaves the stored 0 alone: the check names it and nothing closes.
  d.accept();
  EXPECT_EQ(sink_.shown, std::vector<std::string>{FormatBoundsMessage(9, 1, 32767)});
  EXPECT_NE(d.result(), QDialog::Accepted);
  EXPECT_EQ(std::make_pair(d.value().MaxPages, d.value().MaxPages_Color), std::make_pair(0, 0));

  // Choosing another mode first sets both spins to their positions again (0 gives way to 1).
  d.findChild<QRadioButton*>("r1030")->click();
  EXPECT_FALSE(mono->isEnabled());
  d.findChild<QRadioButton*>("r1033")->click();
  EXPECT_EQ(mono->text(), "1");
  EXPECT_EQ(color->text(), "1");
  EXPECT_EQ(d.value().MaxPages, 1);

  // The chosen group is shown with its limits beside the group mode.
  pick = dev;
  d.findChild<QPushButton*>("b4")->click();
  EXPECT_EQ(group->text(), "開発部");
  EXPECT_EQ(d.findChild<QLabel*>("s1039")->text(), "70");
  EXPECT_EQ(d.findChild<QLabel*>("s1043")->text(), "40");
  EXPECT_EQ(d.value().GID, 4);

  // K and T, plain or with Alt, are swallowed while the own limits are disabled, but not
  // typed into the account, user name and mail edits; Alt+K and Alt+T always while disabled.
  d.show();
  QApplication::setActiveWindow(&d);
  QWidget* radio = d.findChild<QRadioButton*>("r1030");
  QWidget* account = d.findChild<QLineEdit*>("e1027");
  struct Case {
    bool own_mode;
    QWidget* focus;
    int key;
    Qt::KeyboardModifiers mods;
    bool swallowed;
  } cases[] = {
      {false, radio, Qt::Key_K, Qt::NoModifier, true},       {false, radio, Qt::Key_T, Qt::ShiftModifier, true},
      {false, radio, Qt::Key_T, Qt::AltModifier, true},      {false, account, Qt::Key_K, Qt::NoModifier, false},
      {false, account, Qt::Key_K, Qt::AltModifier, true},    {false, radio, Qt::Key_J, Qt::NoModifier, false},
      {false, radio, Qt::Key_K, Qt::ControlModifier, false}, {true, radio, Qt::Key_K, Qt::NoModifier, false},
      {true, radio, Qt::Key_K, Qt::AltModifier, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(&c - cases));
    d.findChild<QRadioButton*>(c.own_mode ? "r1033" : "r1030")->click();
    c.focus->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), c.focus);
    for (QEvent::Type type : {QEvent::ShortcutOverride, QEvent::KeyPress}) {
      QKeyEvent key(type, c.key, c.mods);
      EXPECT_EQ(d.eventFilter(c.focus, &key), c.swallowed) << type;
    }
  }
  // Delivered as a person presses it: Alt+K reaches the colour limit only in the own mode.
  for (bool own_mode : {false, true}) {
    d.findChild<QRadioButton*>(own_mode ? "r1033" : "r1030")->click();
    radio->setFocus();
    QTest::keyClick(radio, Qt::Key_K, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget() == color || QApplication::focusWidget() == color->findChild<QLineEdit*>(),
              own_mode);
  }
}

TEST_F(AdminWindowsTest, NewGroupsAndUsersStartFromTheDefaults) {
  ASSERT_TRUE(settings_.SetLogEnv1(0));
  const int32_t sales = Group("Sales", 30, 10);
  CMainFrame frame(ctx_);

  // A new group opens at 50 / 20 and is stored with them by OK once it has a name.
  WhenModal([&](QWidget* w) {
    EXPECT_EQ(w->findChild<QSpinBox*>("e1001")->value(), 50);
    EXPECT_EQ(w->findChild<QSpinBox*>("e1003")->value(), 20);
    w->findChild<QLineEdit*>("e1000")->setText("Dev");
    Shot(w, "tavolent_new_group.png");
    static_cast<QDialog*>(w)->accept();
  });
  frame.Run(kCmdGroupAdd);
  std::vector<engine::GroupRecord> groups;
  ASSERT_TRUE(db_->GetGroupInfo(&groups, 0, 1));
  auto dev = std::find_if(groups.begin(), groups.end(), [](const auto& g) { return g.GroupName == "Dev"; });
  ASSERT_NE(dev, groups.end());
  EXPECT_EQ(std::make_pair(dev->MaxPages, dev->MaxPages_Color), std::make_pair(50, 20));

  // A new user follows the system defaults, shown beside that mode as the machine key gives
  // them (50 / 20 where missing), with the group's limits beside the group mode; OK with
  // only an account stores the defaults' mode.
  struct Case {
    const char* account;
    std::optional<int32_t> mono, color;  // in the machine key
    const char* shown_mono;
    const char* shown_color;
  } cases[] = {{"aoki", std::nullopt, std::nullopt, "50", "20"}, {"baba", 70, 30, "70", "30"}};
  frame.tree()->SelectGroup(sales);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.account);
    if (c.mono) {
      ASSERT_TRUE(settings_.SetMaxPages(*c.mono));
    }
    if (c.color) {
      ASSERT_TRUE(settings_.SetMaxPages_Color(*c.color));
    }
    WhenModal([&](QWidget* w) {
      const std::pair<const char*, const char*> radios[] = {{"r1028", "制限しない(&N)"},
                                                            {"r1030", "デフォルトの設定に従う(&S)"},
                                                            {"r1031", "グループの設定に従う(&R)"},
                                                            {"r1033", "ユーザ個別に指定する(&P)"}};
      for (const auto& [id, text] : radios) {
        auto* radio = w->findChild<QRadioButton*>(id);
        ASSERT_NE(radio, nullptr) << id;
        EXPECT_EQ(radio->text().toStdString(), text);
        EXPECT_EQ(radio->isChecked(), std::string(id) == "r1030") << id;
      }
      const std::pair<const char*, const char*> numbers[] = {
          {"s1038", c.shown_mono}, {"s1044", c.shown_color}, {"s1039", "30"}, {"s1043", "10"}};
      for (const auto& [id, text] : numbers) EXPECT_EQ(w->findChild<QLabel*>(id)->text().toStdString(), text) << id;
      for (const char* id : {"e1034", "e1035"}) {
        EXPECT_EQ(w->findChild<QSpinBox*>(id)->value(), 100) << id;
        EXPECT_FALSE(w->findChild<QSpinBox*>(id)->isEnabled()) << id;
      }
      w->findChild<QLineEdit*>("e1027")->setText(c.account);
      Shot(w, std::string("tavolent_new_user_") + c.account + ".png");
      static_cast<QDialog*>(w)->accept();
    });
    frame.Run(kCmdUserAdd);
    EXPECT_EQ(sink_.shown, std::vector<std::string>{});
    engine::UserRecord stored;
    bool found = false;
    ASSERT_TRUE(db_->GetUserInfo(c.account, &stored, &found));
    ASSERT_TRUE(found);
    EXPECT_EQ(stored.CountShubetsu, 1);
    EXPECT_EQ(stored.GID, sales);
  }
}

class FirstRunWizardTest : public AdminWindowsTest {
 protected:
  void SetUp() override {
    AdminWindowsTest::SetUp();
    Install("Office A4");
    Install("Laser");
  }
  // Drives the wizard to the action page: Laser monochrome, Office A4 colour, 60 pages,
  // a weekly period.
  static void ToActionPage(CFirstWiz* w) {
    PrinterListsBox* lists = w->printers();
    Select(lists->connected(), {"Laser"});
    w->findChild<QPushButton*>("b3")->click();
    Select(lists->connected(), {"Office A4"});
    w->findChild<QPushButton*>("b6")->click();
    Shot(w, "tavolent_wizard_printers.png");
    w->next();
    w->findChild<QSpinBox*>("e1047")->setValue(60);
    w->findChild<QRadioButton*>("r1013")->setChecked(true);
    // 無期限 and 期間 keep out of the buttons' way: Alt+N goes to the next page.
    EXPECT_EQ(w->findChild<QRadioButton*>("r1011")->text().toStdString(), "無期限(&U)");
    EXPECT_EQ(w->findChild<QRadioButton*>("r1015")->text().toStdString(), "期間(&R)");
    Shot(w, "tavolent_wizard_limits.png");
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_N, Qt::AltModifier);
    // The access key clicks the button the way a press does, after its short press.
    for (int i = 0; i < 100 && w->currentId() == 1; ++i) QTest::qWait(10);
    EXPECT_EQ(w->currentId(), 2);
    EXPECT_TRUE(w->findChild<QRadioButton*>("r1013")->isChecked());
  }
};

TEST_F(FirstRunWizardTest, EndToEnd) {
  const int32_t sales = Group("Sales", 30, 10);
  std::vector<int> pages;
  WhenModal([&](QWidget* modal) {
    auto* w = dynamic_cast<CFirstWiz*>(modal);
    ASSERT_NE(w, nullptr);
    ToActionPage(w);
    pages.push_back(w->currentId());
    // The administrator's mail warning is on by default and needs the mail settings.
    w->next();
    pages.push_back(w->currentId());
    Shot(w, "tavolent_wizard_actions.png");
    w->findChild<QCheckBox*>("c1017")->setChecked(false);
    w->next();
    pages.push_back(w->currentId());
    // Finish needs a registered user.
    w->button(QWizard::FinishButton)->click();
    pages.push_back(w->currentId());
    User("tanaka", sales, 1);
    w->users()->initializePage();
    EXPECT_EQ(Texts(w->users()->list()), std::vector<std::string>{"tanaka"});
    EXPECT_EQ(w->users()->list()->topLevelItem(0)->text(2), "Sales");
    EXPECT_FALSE(w->findChild<QPushButton*>("b3")->isEnabled());  // no import wizard given
    Shot(w, "tavolent_wizard_users.png");
    // Account and user name take a third each of the list less a scroll bar.
    QTreeWidget* list = w->users()->list();
    const int third = (list->contentsRect().width() - list->style()->pixelMetric(QStyle::PM_ScrollBarExtent)) / 3;
    EXPECT_EQ(list->columnWidth(0), third);
    EXPECT_EQ(list->columnWidth(1), third);
    // The Help button opens the console's guide in the help window.
    ASSERT_NE(w->button(QWizard::HelpButton), nullptr);
    EXPECT_TRUE(w->button(QWizard::HelpButton)->isVisible());
    w->button(QWizard::HelpButton)->click();
    ASSERT_NE(w->help_viewer().window(), nullptr);
    EXPECT_TRUE(w->help_viewer().window()->page().ends_with("/ZvmHelp.html")) << w->help_viewer().window()->page();
    w->help_viewer().Close();
    w->button(QWizard::FinishButton)->click();
  });
  spool::FolderSpooler spooler;
  EXPECT_EQ(RunFirstSetupWizard(ctx_, nullptr, spooler), kWizardFinish);
  EXPECT_EQ(pages, (std::vector<int>{2, 2, 3, 3}));
  EXPECT_EQ(sink_.shown, (std::vector<std::string>{Message(21), Message(8)}));

  int32_t v = 0, days = 0;
  ASSERT_TRUE(settings_.GetMaxPages(&v));
  EXPECT_EQ(v, 60);
  ASSERT_TRUE(settings_.GetCheckRange(&v, &days));
  EXPECT_EQ(v, 2);
  ASSERT_TRUE(settings_.GetLimitDate(&v));
  EXPECT_EQ(v, 20240120);
  int32_t mail_user = -1, mail_admin = -1, refuse = -1, done = -1, error = -1, locked = -1;
  ASSERT_TRUE(settings_.GetLimitAction(&mail_user, &mail_admin, &refuse));
  EXPECT_EQ(mail_admin, 0);
  ASSERT_TRUE(settings_.GetDispMessage(&done, &error));
  EXPECT_EQ(error, 1);
  ASSERT_TRUE(settings_.GetLogEnv1(&locked));
  EXPECT_EQ(locked, 0);
  std::vector<engine::PrinterRecord> rows;
  ASSERT_TRUE(db_->GetPrinterInfo(&rows, 0, 1));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].PrinterName, "Laser");
  EXPECT_EQ(rows[0].Ptype, 0);
  EXPECT_EQ(rows[1].PrinterName, "Office A4");
  EXPECT_EQ(rows[1].Ptype, 1);
  EXPECT_NE(Read(root_.str() + "/app/share/PrintInfo/printers.lst").find("[PRINTERS]\r\nLaser="), std::string::npos);
}

TEST_F(FirstRunWizardTest, CancelAfterTheLimitPageKeepsItsValues) {
  const int32_t sales = Group("Sales", 30, 10);
  User("tanaka", sales, 1);
  WhenModal([](QWidget* modal) {
    auto* w = dynamic_cast<CFirstWiz*>(modal);
    ASSERT_NE(w, nullptr);
    ToActionPage(w);
    w->reject();
  });
  spool::FolderSpooler spooler;
  EXPECT_EQ(RunFirstSetupWizard(ctx_, nullptr, spooler), kWizardStop);
  int32_t v = 0, days = 0;
  ASSERT_TRUE(settings_.GetMaxPages(&v));
  EXPECT_EQ(v, 60);
  ASSERT_TRUE(settings_.GetMaxPages_Color(&v));
  EXPECT_EQ(v, 20);
  ASSERT_TRUE(settings_.GetCheckRange(&v, &days));
  EXPECT_EQ(v, 2);
  EXPECT_NE(Quota("tanaka").find("MaxPages=60\r\nPageCount=0\r\nMaxPages_Color=20\r\nPageCount_Color=0"),
            std::string::npos);
  EXPECT_FALSE(settings_.GetLogEnv1(&v));
  std::vector<engine::PrinterRecord> rows;
  ASSERT_TRUE(db_->GetPrinterInfo(&rows, 0, 1));
  EXPECT_TRUE(rows.empty());
}

}  // namespace
}  // namespace zv::console

namespace zv::console {
namespace {

TEST_F(AdminWindowsTest, UserEditWritesTheQuotaFileOnlyOnceStored) {
  ASSERT_TRUE(settings_.SetLogEnv1(0));
  const int32_t sales = Group("Sales", 30, 10);
  const int32_t uid = User("tanaka", sales, 1);
  CMainFrame frame(ctx_);
  frame.tree()->SelectGroup(sales);
  frame.list()->SelectUids({uid});
  struct Case {
    const char* name;
    bool fail;
    const char* expected;  // in the quota file
  } cases[] = {
      {"stored", false, "MaxPages=9\r\nPageCount=0\r\nMaxPages_Color=3\r\n"},
      {"refused by the database", true, "(missing)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(result_ + "/tanaka-.ans");
    sink_.shown.clear();
    WhenModal([&](QWidget* w) {
      w->findChild<QRadioButton*>("r1033")->click();
      w->findChild<QSpinBox*>("e1034")->setValue(c.fail ? 11 : 9);
      w->findChild<QSpinBox*>("e1035")->setValue(3);
      if (c.fail) {
        ASSERT_TRUE(db_->ExecuteQuery("DROP TABLE Main", {}, nullptr, nullptr));
      }
      static_cast<QDialog*>(w)->accept();
    });
    frame.Run(kCmdUserEdit);
    const std::string quota = Quota("tanaka");
    if (std::string(c.expected) == "(missing)") {
      EXPECT_EQ(quota, "(missing)");
      EXPECT_EQ(sink_.shown, std::vector<std::string>{Message(30)});
    } else {
      EXPECT_NE(quota.find(c.expected), std::string::npos) << quota;
    }
  }
}

}  // namespace
}  // namespace zv::console
