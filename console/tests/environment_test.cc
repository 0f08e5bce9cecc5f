#include <gtest/gtest.h>

#include <filesystem>

#include "console/core/environment.h"
#include "console/core/first_run.h"
#include "console/core/log_deletion.h"
#include "console/core/quota_files.h"
#include "console/tests/server_root.h"
#include "platform/fs/files.h"
#include "platform/spool/folder_spooler.h"
#include "platform/testing/temp_root.h"

namespace zv::console {
namespace {

namespace stdfs = std::filesystem;
constexpr int32_t kToday = 20240115;

class RecordingSink : public MessageSink {
 public:
  int Show(const std::string& text, uint32_t) override {
    shown.push_back(text);
    return kIdYes;
  }
  std::vector<std::string> shown;
};

class AdminTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto dsn = testing::SetUpServerRoot(root_.str());
    ASSERT_TRUE(dsn.ok()) << dsn.status().ToString();
    result_ = root_.str() + "/app/share/Result";
    stdfs::create_directories(root_.str() + "/app/share/PrintInfo");
    db_ = std::make_unique<CConsoleDatabase>(*dsn, "", "");
  }
  int32_t Group(const std::string& name, int mono, int color) {
    engine::GroupRecord g{0, name, mono, color, 0};
    EXPECT_TRUE(db_->AddGroup(&g));
    return g.GID;
  }
  engine::UserRecord User(const std::string& account, int32_t gid, int16_t kind, int mono = 0, int color = 0) {
    engine::UserRecord u{0, account, "name " + account, gid, kind, mono, color, "", 0};
    EXPECT_TRUE(db_->AddUser(&u));
    return u;
  }
  void Log(int uid, int pid, int date, int pages, int ptype) {
    static int id = 0;
    ASSERT_TRUE(db_->ExecuteQuery(
        "INSERT INTO PrintLog (ID,UID,PID,PDate,PTime,Pages,Ptype) VALUES (?,?,?,?,?,?,?)",
        {int64_t{++id}, int64_t{uid}, int64_t{pid}, odbc::Date{date / 10000, date / 100 % 100, date % 100},
         odbc::Time{10, 0, 0}, int64_t{pages}, int64_t{ptype}},
        nullptr, nullptr));
  }
  void Install(const std::string& name) { ASSERT_TRUE(spooler_.AddPrinter(spool::StandardFolderPrinter(name)).ok()); }
  std::string Read(const std::string& name) {
    auto t = fs::ReadFile(result_ + "/" + name);
    return t.ok() ? *t : "(missing)";
  }
  std::string PrinterList() {
    auto t = fs::ReadFile(root_.str() + "/app/share/PrintInfo/printers.lst");
    return t.ok() ? *t : "(missing)";
  }
  engine::PrinterRecord Row(int32_t pid) {
    std::vector<engine::PrinterRecord> rows;
    EXPECT_TRUE(db_->GetPrinterInfo(&rows, pid, -1));
    return rows.size() == 1 ? rows[0] : engine::PrinterRecord{};
  }
  static std::string Quota(int color_limit, int mono_limit, int color, int mono, const std::string& head) {
    return "[PrintLimit]\r\n" + head + "MaxPages=" + std::to_string(mono_limit) +
           "\r\nPageCount=" + std::to_string(mono) + "\r\nMaxPages_Color=" + std::to_string(color_limit) +
           "\r\nPageCount_Color=" + std::to_string(color) + "\r\n";
  }

  zv::testing::TempRoot root_;
  CConsoleSettings settings_;
  RecordingSink sink_;
  spool::FolderSpooler spooler_;
  std::unique_ptr<CConsoleDatabase> db_;
  std::string result_;
};

constexpr char kJanuary[] = "CheckRange=3\r\nLimitDate=20240131\r\n";

TEST_F(AdminTest, OkWithoutChangesRewritesPeriodAndEveryQuotaFile) {
  ASSERT_TRUE(settings_.SetCheckRange(3, 0));
  ASSERT_TRUE(settings_.SetLimitDate(20240131));
  ASSERT_TRUE(settings_.SetMaxPages(40));
  const int32_t sales = Group("Sales", 30, 10);
  const auto a = User("tanaka", sales, 2), b = User("sato", sales, 3, 8, 4), c = User("kato", sales, 1),
             d = User("ito", sales, 0);
  Log(a.UID, 1, 20240110, 5, 0);
  Log(a.UID, 1, 20240112, 2, 1);
  Log(a.UID, 1, 20231231, 9, 0);  // before the period
  Log(b.UID, 1, 20240115, 3, 0);

  EnvironmentEdit edit;
  edit.before = edit.after = LoadEnvironment(settings_);
  EXPECT_EQ(edit.before.mono, 40);
  EXPECT_EQ(edit.before.color, 20);
  const EnvironmentOutcome out = ApplyEnvironment(settings_, *db_, &spooler_, edit, kToday, sink_);
  EXPECT_TRUE(out.completed);
  EXPECT_FALSE(out.period_restarted);
  EXPECT_TRUE(sink_.shown.empty());

  EXPECT_EQ(Read("Aperiod.prd"), std::string("[PrintLimit]\r\n") + kJanuary);
  EXPECT_EQ(Read("tanaka-.ans"), Quota(10, 30, 2, 5, kJanuary));
  EXPECT_EQ(Read("sato-.ans"), Quota(4, 8, 0, 3, kJanuary));
  EXPECT_EQ(Read("kato-.ans"), Quota(20, 40, 0, 0, kJanuary));
  EXPECT_EQ(Read("ito-.ans"), Quota(0, 0, 0, 0, kJanuary));
  // Values that were missing and left at the sheet's defaults are not written.
  int32_t v = 0;
  EXPECT_FALSE(settings_.GetMaxPages_Color(&v));
  EXPECT_FALSE(settings_.GetLimitOverAction(&v));
  std::string text;
  EXPECT_FALSE(settings_.GetSMTPServer(&text));
  ASSERT_TRUE(settings_.GetLimitDate(&v));
  EXPECT_EQ(v, 20240131);
  (void)c;
  (void)d;
}

TEST_F(AdminTest, PeriodChangeRestartsTheLimitDate) {
  struct Case {
    const char* name;
    int32_t before_kind, before_days, after_kind, after_days;
    bool restarted;
    int32_t limit_date;   // expected "LimitDate"
    int32_t stored_days;  // expected days of "CheckRange"
  } cases[] = {
      {"month to week", 3, 0, 2, 0, true, 20240120, 0},      {"month to a day", 3, 0, 1, 0, true, 20240115, 0},
      {"month to 10 days", 3, 0, 4, 10, true, 20240124, 10}, {"10 days to 20 days", 4, 10, 4, 20, true, 20240203, 20},
      {"month unchanged", 3, 0, 3, 0, false, 20991231, 0},   {"10 days unchanged", 4, 10, 4, 10, false, 20991231, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(settings_.SetCheckRange(c.before_kind, c.before_days));
    ASSERT_TRUE(settings_.SetLimitDate(20991231));
    EnvironmentEdit edit;
    edit.before = LoadEnvironment(settings_);
    edit.after = edit.before;
    edit.after.period_choice = c.after_kind;
    edit.after.days = c.after_days ? c.after_days : edit.after.days;
    const EnvironmentOutcome out = ApplyEnvironment(settings_, *db_, &spooler_, edit, kToday, sink_);
    EXPECT_EQ(out.period_restarted, c.restarted);
    int32_t date = 0, kind = 0, days = 0;
    ASSERT_TRUE(settings_.GetLimitDate(&date));
    EXPECT_EQ(date, c.limit_date);
    ASSERT_TRUE(settings_.GetCheckRange(&kind, &days));
    EXPECT_EQ(kind, c.after_kind);
    EXPECT_EQ(days, c.stored_days);
    EXPECT_NE(Read("Aperiod.prd").find("LimitDate=" + std::to_string(c.limit_date)), std::string::npos);
  }
}

TEST_F(AdminTest, VanishedPrinterIsRemovedAndLaterRevivedWithItsId) {
  Install("Office A4");
  Install("Guest");
  engine::PrinterRecord color{0, "office a4", 1, 1}, mono{0, "Laser", 0, 1}, twin{0, "OFFICE A4", 0, 1};
  ASSERT_TRUE(db_->AddPrinter(&color));
  ASSERT_TRUE(db_->AddPrinter(&mono));
  const int32_t uid = User("tanaka", Group("Sales", 30, 10), 1).UID;
  Log(uid, mono.PID, 20240110, 1, 0);  // the log keeps naming the vanished printer

  // "Laser" is no longer installed and a second record of "Office A4" matches it only once.
  PrinterLists lists = SortPrinterLists({color, mono, twin}, ListCandidatePrinters(spooler_));
  EXPECT_TRUE(lists.modified);
  ASSERT_EQ(lists.color.size(), 1u);
  EXPECT_EQ(lists.color[0].PID, color.PID);
  EXPECT_TRUE(lists.mono.empty());
  ASSERT_EQ(lists.connected.size(), 1u);
  EXPECT_EQ(lists.connected[0].PrinterName, "Guest");

  EnvironmentEdit edit;
  edit.before = edit.after = LoadEnvironment(settings_);
  edit.db_printers = {color, mono};
  edit.printers = lists.color;
  edit.printers_changed = true;
  ASSERT_TRUE(ApplyEnvironment(settings_, *db_, &spooler_, edit, kToday, sink_).completed) << sink_.shown.size();
  EXPECT_EQ(Row(mono.PID).Used, 2);
  EXPECT_EQ(Row(color.PID).Used, 1);
  const std::string first = PrinterList();
  EXPECT_NE(first.find("[PRINTERS]\r\nOffice A4="), std::string::npos) << first;
  EXPECT_EQ(first.find("Laser"), std::string::npos);

  // Installed again and managed as a colour printer: the row comes back with its id.
  Install("Laser");
  lists = SortPrinterLists({color}, ListCandidatePrinters(spooler_));
  EXPECT_FALSE(lists.modified);
  edit.db_printers = {color};
  edit.printers = lists.color;
  for (const auto& p : lists.connected)
    if (p.PrinterName == "Laser") edit.printers.push_back({0, "Laser", 1, 0});
  ASSERT_TRUE(ApplyEnvironment(settings_, *db_, &spooler_, edit, kToday, sink_).completed);
  const engine::PrinterRecord back = Row(mono.PID);
  EXPECT_EQ(back.Used, 1);
  EXPECT_EQ(back.Ptype, 1);
  EXPECT_NE(PrinterList().find("Laser="), std::string::npos);
  EXPECT_TRUE(sink_.shown.empty());
}

TEST_F(AdminTest, PrintLogDeletionClearsCountsOnlyAfterTheRowsAreGone) {
  const int32_t sales = Group("Sales", 30, 10);
  const auto a = User("tanaka", sales, 2), b = User("sato", sales, 3, 8, 4), c = User("kato", sales, 1);
  for (const auto& u : {a, b, c}) Log(u.UID, 1, 20240110, 5, 0);
  auto rows_of = [&](int32_t uid) {
    int64_t n = 0;
    EXPECT_TRUE(db_->SumPages("SELECT COUNT(*) FROM PrintLog WHERE UID = ?", {int64_t{uid}}, &n));
    return n;
  };
  ASSERT_TRUE(DeleteUsersPrintLog(settings_, *db_, {a, b}, {{sales, "Sales", 30, 10, 1}}, kToday, sink_));
  EXPECT_EQ(rows_of(a.UID), 0);
  EXPECT_EQ(rows_of(b.UID), 0);
  EXPECT_EQ(rows_of(c.UID), 1);
  EXPECT_NE(Read("tanaka-.ans").find("MaxPages=30\r\nPageCount=0\r\nMaxPages_Color=10\r\nPageCount_Color=0\r\n"),
            std::string::npos);
  EXPECT_NE(Read("sato-.ans").find("MaxPages=8\r\nPageCount=0\r\nMaxPages_Color=4\r\nPageCount_Color=0\r\n"),
            std::string::npos);
  EXPECT_EQ(Read("kato-.ans"), "(missing)");

  // A deletion that fails leaves the clients' files as they were.
  ASSERT_TRUE(fs::WriteFileAtomic(result_ + "/kato-.ans", "kept").ok());
  ASSERT_TRUE(db_->ExecuteQuery("DROP TABLE PrintLog", {}, nullptr, nullptr));
  EXPECT_FALSE(DeleteUsersPrintLog(settings_, *db_, {c}, {}, kToday, sink_));
  EXPECT_FALSE(DeleteAllPrintLogs(settings_, *db_, kToday, sink_));
  EXPECT_EQ(Read("kato-.ans"), "kept");
  EXPECT_EQ(Read("tanaka-.ans").find("PageCount=0"), Read("tanaka-.ans").rfind("PageCount=0"));
  ASSERT_EQ(sink_.shown.size(), 2u);
  EXPECT_EQ(sink_.shown[0], GetAppMessage(36, nullptr));
}

TEST_F(AdminTest, FirstRunStoresPrintersListAndSettings) {
  Install("Office A4");
  Install("Laser");
  const int32_t sales = Group("Sales", 30, 10);
  const auto a = User("tanaka", sales, 1), b = User("sato", sales, 2);
  ASSERT_TRUE(fs::WriteFileAtomic(result_ + "/sato.ans", "x").ok());
  ASSERT_TRUE(fs::WriteFileAtomic(result_ + "/sato-.ans", "x").ok());
  ASSERT_TRUE(fs::WriteFileAtomic(result_ + "/sato-PC1.ans", "x").ok());

  // Cancelling after the limit page keeps what that page stored.
  int runs = 0;
  auto cancel_after_limits = [&](FirstRunChoices* c) {
    ++runs;
    c->values.mono = 70;
    c->values.color = 15;
    c->values.period_choice = 4;
    c->values.days = 10;
    StoreWizardLimits(settings_, *db_, c->values, kToday, sink_);
    return 2;
  };
  EXPECT_EQ(RunFirstSetup(settings_, cancel_after_limits, spooler_, kToday, sink_), kWizardStop);
  int32_t v = 0, days = 0;
  ASSERT_TRUE(settings_.GetMaxPages(&v));
  EXPECT_EQ(v, 70);
  ASSERT_TRUE(settings_.GetMaxPages_Color(&v));
  EXPECT_EQ(v, 15);
  ASSERT_TRUE(settings_.GetCheckRange(&v, &days));
  EXPECT_EQ(v, 4);
  EXPECT_EQ(days, 10);
  EXPECT_NE(Read("tanaka-.ans").find("MaxPages=70\r\nPageCount=0\r\nMaxPages_Color=15\r\n"), std::string::npos);
  EXPECT_FALSE(settings_.GetLogEnv1(&v));

  auto finish = [&](FirstRunChoices* c) {
    ++runs;
    EXPECT_EQ(c->values.mail_admin, 1);
    EXPECT_EQ(c->values.on_error, 1);
    EXPECT_TRUE(RemoveWizardUsers(settings_, *db_, {b}, sink_));
    c->printers = {{0, "Laser", 0, 0}, {0, "Office A4", 1, 0}};
    c->values.mono = 60;
    c->values.period_choice = 2;
    c->values.mail_admin = 0;
    c->values.smtp_server = "mx";  // not stored: no mail action is on
    return kWizardFinish;
  };
  ASSERT_EQ(RunFirstSetup(settings_, finish, spooler_, kToday, sink_), kWizardFinish);
  EXPECT_TRUE(sink_.shown.empty());
  EXPECT_EQ(Read("sato.ans"), "(missing)");
  EXPECT_EQ(Read("sato-.ans"), "(missing)");
  EXPECT_EQ(Read("sato-PC1.ans"), "x");
  std::vector<engine::UserRecord> live;
  ASSERT_TRUE(db_->GetUserInfo(&live, -1, 1));
  ASSERT_EQ(live.size(), 1u);
  EXPECT_EQ(live[0].UID, a.UID);

  std::vector<engine::PrinterRecord> printers;
  ASSERT_TRUE(db_->GetPrinterInfo(&printers, 0, 1));
  ASSERT_EQ(printers.size(), 2u);
  EXPECT_EQ(printers[0].PrinterName, "Laser");
  EXPECT_EQ(printers[0].Ptype, 0);
  EXPECT_EQ(printers[1].Ptype, 1);
  EXPECT_NE(PrinterList().find("[PRINTERS]\r\nLaser=\r\nOffice A4=\r\n"), std::string::npos) << PrinterList();

  ASSERT_TRUE(settings_.GetMaxPages(&v));
  EXPECT_EQ(v, 60);
  ASSERT_TRUE(settings_.GetLimitDate(&v));
  EXPECT_EQ(v, 20240120);
  ASSERT_TRUE(settings_.GetCheckRange(&v, &days));
  EXPECT_EQ(v, 2);
  int32_t mail_user = -1, mail_admin = -1, refuse = -1, done = -1, error = -1;
  ASSERT_TRUE(settings_.GetLimitAction(&mail_user, &mail_admin, &refuse));
  EXPECT_EQ(mail_admin, 0);
  ASSERT_TRUE(settings_.GetDispMessage(&done, &error));
  EXPECT_EQ(error, 1);
  std::string server;
  EXPECT_FALSE(settings_.GetSMTPServer(&server));
  int32_t locked = 1;
  ASSERT_TRUE(settings_.GetLogEnv1(&locked));
  EXPECT_EQ(locked, 0);

  // Once set up, the wizard never runs again.
  EXPECT_EQ(RunFirstSetup(settings_, finish, spooler_, kToday, sink_), kWizardFinish);
  EXPECT_EQ(runs, 2);

  // A set-up run again after its printers were stored takes the rows over.
  FirstRunChoices again;
  again.printers = {{0, "laser", 0, 0}};
  EXPECT_EQ(CompleteFirstRun(settings_, spooler_, again, kToday, sink_), kWizardFinish);
  EXPECT_TRUE(sink_.shown.empty());
  ASSERT_TRUE(db_->GetPrinterInfo(&printers, 0, -1));
  EXPECT_EQ(printers.size(), 2u);
}

}  // namespace
}  // namespace zv::console
