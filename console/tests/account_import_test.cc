// The account import: the wizard and the picker over the accounts NSS lists. The test runs
// under nss_wrapper with the passwd fixture of platform/accounts, so the accounts are known.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <fstream>

#include "console/tavolent/account_import.h"
#include "console/tavolent/console_frame.h"
#include "console/tests/server_root.h"
#include "platform/fs/files.h"
#include "platform/registry/registry.h"
#include "platform/testing/artifacts.h"
#include "platform/testing/qt_app.h"
#include "platform/testing/temp_root.h"

namespace zv::console {
namespace {

constexpr int32_t kToday = 20240115;

class RecordingSink : public MessageSink {
 public:
  int Show(const std::string& text, uint32_t style) override {
    shown.push_back(text);
    return style == kStyleQuestion ? kIdYes : kIdOk;
  }
  std::vector<std::string> shown;
};

std::vector<std::string> Column(QTreeWidget* list, int column) {
  std::vector<std::string> out;
  for (int i = 0; i < list->topLevelItemCount(); ++i) out.push_back(list->topLevelItem(i)->text(column).toStdString());
  return out;
}

class AccountImportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { app_ = &zv::testing::QtApp(); }
  void SetUp() override {
    auto dsn = testing::SetUpServerRoot(root_.str());
    ASSERT_TRUE(dsn.ok()) << dsn.status().ToString();
    auto key = registry::Key::Create(registry::RootKey::kLocalMachine, "Software\\Orbelin\\Zelvora\\1.0").value();
    ASSERT_TRUE(key.SetDword("MaxPages", 70).ok());
    result_ = root_.str() + "/app/share/Result";
    ASSERT_TRUE(fs::MakeDirs(result_).ok());
    ctx_ = {&settings_, &sink_, [] { return kToday; }};
    std::ofstream(root_.str() + "/login.defs") << "UID_MIN 1000\nUID_MAX 60000\n";
    options_.source = SystemAccountSource(root_.str() + "/login.defs");
    auto db = ctx_.OpenDatabase();
    staff_ = {0, "staff", 40, 15, 0};
    ASSERT_TRUE(db->AddGroup(&staff_));
    engine::UserRecord alice{0, "ALICE", "Alice", staff_.GID, 1, 0, 0, "", 0};
    ASSERT_TRUE(db->AddUser(&alice));
  }
  std::string Quota(const std::string& account) {
    auto text = fs::ReadFile(result_ + "/" + account + "-.ans");
    return text.ok() ? *text : "";
  }

  static QApplication* app_;
  zv::testing::TempRoot root_;
  CConsoleSettings settings_;
  RecordingSink sink_;
  ConsoleContext ctx_;
  AccountImportOptions options_;
  engine::GroupRecord staff_;
  std::string result_;
};
QApplication* AccountImportTest::app_ = nullptr;

TEST_F(AccountImportTest, WizardImportsChosenAccountsIntoAGroup) {
  int chooser_calls = 0;
  options_.choose_group = [&](QWidget*, const engine::GroupRecord& preset) -> std::optional<engine::GroupRecord> {
    ++chooser_calls;
    EXPECT_EQ(preset.GID, 0);
    return staff_;
  };
  CDomainReadWiz wizard(ctx_, {}, options_);
  wizard.resize(520, 400);
  wizard.show();
  AccountListPanel* panel = wizard.panel();
  // Next with an empty list focuses the address and stays.
  wizard.next();
  EXPECT_EQ(wizard.currentPage()->objectName(), "p114");

  panel->address()->setText("\\\\localhost");
  panel->ReadAccounts();
  ASSERT_TRUE(sink_.shown.empty());
  // Normal accounts only; "alice" is registered as "ALICE" and left out.
  EXPECT_EQ(Column(panel->list(), 0), (std::vector<std::string>{"Bob", "carol", "dave", "tanaka"}));
  EXPECT_EQ(Column(panel->list(), 1), (std::vector<std::string>{"Bob Jones", "", "Dave", "田中 太郎"}));
  EXPECT_EQ(panel->list()->selectedItems().size(), 1);
  // Sorting by the full name keeps the selection; the same column again reverses.
  panel->list()->topLevelItem(3)->setSelected(true);  // tanaka
  panel->ClickColumn(1);
  EXPECT_EQ(Column(panel->list(), 0), (std::vector<std::string>{"carol", "Bob", "dave", "tanaka"}));
  panel->ClickColumn(1);
  EXPECT_EQ(Column(panel->list(), 0), (std::vector<std::string>{"tanaka", "dave", "Bob", "carol"}));
  std::vector<std::string> selected;
  for (auto* item : panel->list()->selectedItems()) selected.push_back(item->text(0).toStdString());
  std::sort(selected.begin(), selected.end());
  EXPECT_EQ(selected, (std::vector<std::string>{"Bob", "tanaka"}));
  wizard.grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/tavolent_import_accounts.png"));

  wizard.next();
  ASSERT_EQ(wizard.currentPage()->objectName(), "p115");
  // No group yet: message 5, the page stays.
  wizard.next();
  EXPECT_EQ(wizard.currentPage()->objectName(), "p115");
  EXPECT_EQ(sink_.shown, std::vector<std::string>{GetAppMessage(5, nullptr)});
  wizard.ChooseGroup();
  EXPECT_EQ(chooser_calls, 1);
  EXPECT_EQ(wizard.findChild<QLineEdit*>("e1040")->text(), "staff");
  wizard.grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/tavolent_import_group.png"));

  wizard.next();
  ASSERT_EQ(wizard.currentPage()->objectName(), "p116");
  EXPECT_EQ(wizard.findChild<QLabel*>("s1038")->text(), "70");  // the registry's default
  EXPECT_EQ(wizard.findChild<QLabel*>("s1044")->text(), "20");  // missing: 20
  EXPECT_EQ(wizard.findChild<QLabel*>("s1039")->text(), "40");  // the group's
  wizard.grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/tavolent_import_limits.png"));
  wizard.findChild<QRadioButton*>("r1031")->setChecked(true);
  wizard.accept();
  EXPECT_EQ(wizard.result(), QDialog::Accepted);

  const ImportedAccounts choice = wizard.choice();
  EXPECT_EQ(choice.gid, staff_.GID);
  EXPECT_EQ(choice.count_shubetsu, 2);
  ASSERT_EQ(choice.accounts.size(), 2u);
  EXPECT_EQ(choice.accounts[0].account, "tanaka");
  EXPECT_EQ(choice.accounts[1].full_name, "Bob Jones");
  for (const char* account : {"tanaka", "Bob"}) {
    EXPECT_NE(Quota(account).find("MaxPages=40\r\nPageCount=0\r\nMaxPages_Color=15\r\nPageCount_Color=0"),
              std::string::npos)
        << account;
  }
  EXPECT_EQ(Quota("carol"), "");

  // The caller adds the rows; a failed one shows message 29 once and the rest still go in.
  ImportedAccounts again = choice;
  again.accounts.insert(again.accounts.begin(), {{"alice", "dup"}, {"Alice", "dup"}});
  sink_.shown.clear();
  auto db = ctx_.OpenDatabase();
  EXPECT_EQ(AddImportedAccounts(*db, again, sink_), 2);
  EXPECT_EQ(sink_.shown, std::vector<std::string>{GetAppMessage(29, nullptr)});
  engine::UserRecord bob;
  bool found = false;
  ASSERT_TRUE(db->GetUserInfo("Bob", &bob, &found));
  ASSERT_TRUE(found);
  EXPECT_EQ(bob.UserName, "Bob Jones");
  EXPECT_EQ(bob.GID, staff_.GID);
  EXPECT_EQ(bob.CountShubetsu, 2);
}

TEST_F(AccountImportTest, AnAddressOutsideThisMachineAndItsDirectoryFails) {
  AccountPickerDialog picker(ctx_, options_.source);
  picker.show();
  AccountListPanel* panel = picker.panel();
  struct Case {
    const char* address;
    size_t messages;  // message 38 shown so far
    int rows;
  } cases[] = {{"", 0, 0}, {"\\\\no-such-host.invalid", 1, 0}, {"localhost", 1, 4}, {"\\other-machine", 2, 0}};
  for (const auto& c : cases) {
    panel->address()->setText(c.address);
    panel->ReadAccounts();
    EXPECT_EQ(sink_.shown.size(), c.messages) << c.address;
    EXPECT_EQ(panel->list()->topLevelItemCount(), c.rows) << c.address;
  }
  EXPECT_EQ(sink_.shown.back(), "ユーザー名を取得できませんでした。");

  // OK with nothing selected stays; a selected account is the result.
  panel->address()->setText("localhost");
  panel->ReadAccounts();
  panel->list()->clearSelection();
  picker.accept();
  EXPECT_TRUE(picker.isVisible());
  panel->list()->topLevelItem(1)->setSelected(true);
  picker.grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/tavolent_account_picker.png"));
  picker.accept();
  EXPECT_EQ(picker.result(), QDialog::Accepted);
  EXPECT_EQ(picker.picked().account, "carol");
  EXPECT_EQ(picker.picked().full_name, "");
}

TEST_F(AccountImportTest, TheFrameCommandAddsTheChosenAccountsToTheSelectedGroup) {
  ASSERT_TRUE(settings_.SetLogEnv1(0));
  CMainFrame frame(ctx_);
  frame.tree()->SelectGroup(staff_.GID);
  ASSERT_EQ(frame.list()->rows().size(), 1u);  // ALICE
  bool driven = false;
  QTimer drive;
  QObject::connect(&drive, &QTimer::timeout, [&] {
    auto* wizard = qobject_cast<CDomainReadWiz*>(QApplication::activeModalWidget());
    if (!wizard || driven) return;
    driven = true;
    wizard->panel()->address()->setText("localhost");
    wizard->panel()->ReadAccounts();
    wizard->panel()->list()->clearSelection();
    wizard->panel()->list()->findItems("dave", Qt::MatchExactly).front()->setSelected(true);
    wizard->next();
    wizard->next();  // the tree's group is preset
    wizard->findChild<QRadioButton*>("r1028")->setChecked(true);
    wizard->accept();
  });
  drive.start(20);
  frame.Run(kCmdDomainImport);
  ASSERT_TRUE(driven);
  EXPECT_TRUE(sink_.shown.empty());
  std::vector<std::string> accounts;
  for (const auto& row : frame.list()->rows()) accounts.push_back(row.Account);
  std::sort(accounts.begin(), accounts.end());
  EXPECT_EQ(accounts, (std::vector<std::string>{"ALICE", "dave"}));
  EXPECT_NE(Quota("dave").find("MaxPages=0\r\nPageCount=0\r\nMaxPages_Color=0\r\n"), std::string::npos);
}

}  // namespace
}  // namespace zv::console
