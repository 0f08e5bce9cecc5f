// The storage folder: copying and moving the database file of the data source while the
// print service is stopped, with the real service host and engine behind it, and the
// dialog over it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QRadioButton>
#include <deque>
#include <filesystem>
#include <thread>

#include "console/tavolent/console_frame.h"
#include "console/tavolent/storage_folder.h"
#include "engine/db/schema.h"
#include "engine/hevrasto/tests/engine_harness.h"
#include "platform/fs/files.h"
#include "platform/odbc/odbc.h"
#include "platform/odbc/odbc_config.h"
#include "platform/process/process.h"
#include "platform/profile/profile.h"
#include "platform/registry/registry.h"
#include "platform/service/service.h"
#include "platform/testing/artifacts.h"
#include "platform/testing/bin_dir.h"
#include "platform/testing/qt_app.h"
#include "platform/testing/temp_root.h"

namespace zv::console {
namespace {
namespace fsys = std::filesystem;

class ScriptedSink : public MessageSink {
 public:
  int Show(const std::string& text, uint32_t style) override {
    shown.push_back(text);
    if (style != kStyleQuestion) return kIdOk;
    int a = answers.empty() ? kIdYes : answers.front();
    if (!answers.empty()) answers.pop_front();
    return a;
  }
  std::vector<std::string> shown;
  std::deque<int> answers;
};

// A service control that records its calls and answers as told.
class FakeService : public PrintServiceControl {
 public:
  int Stop(bool* stopped) override {
    calls += "stop ";
    if (stop_result == 0) *stopped = running;
    return stop_result;
  }
  int Start() override {
    calls += "start ";
    return 0;
  }
  bool running = true;
  int stop_result = 0;
  std::string calls;
};

std::string Message(int n) { return GetAppMessage(n, nullptr); }

std::string DataSourceFile() {
  return profile::GetString(odbc::ConfigDir() + "/odbc.ini", engine::kEmbeddedDataSource, "Database", "");
}

template <typename Pred>
bool WaitFor(Pred pred, int timeout_ms) {
  for (int waited = 0; !pred(); waited += 20) {
    if (waited >= timeout_ms) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class StorageFolderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { app_ = &zv::testing::QtApp(); }
  static QApplication* app_;
  zv::testing::TempRoot root_;
  CConsoleSettings settings_;
  ScriptedSink sink_;
};
QApplication* StorageFolderTest::app_ = nullptr;

TEST_F(StorageFolderTest, MovesTheDatabaseWhileTheServiceIsStopped) {
  setenv("ZELVORA_SYSTEMD_UNIT_DIR", (root_.str() + "/units").c_str(), 1);
  engine::testing::EngineHarness h(root_, 1);
  process::StartOptions install;
  install.argv = {zv::testing::BinPath("inkarrow"), "-install"};
  auto p = process::Start(install);
  ASSERT_TRUE(p.ok());
  ASSERT_EQ(*p->Wait(120000), 0);
  service::Manager manager;
  auto running = [&] {
    auto s = manager.Query("Zelvora Service");
    return s.ok() && s->state == service::State::kRunning ? s->pid : pid_t{0};
  };
  ASSERT_TRUE(WaitFor([&] { return running() != 0; }, 30000));
  const pid_t first = running();

  ServicePrintControl control;
  StorageFolderModel model(settings_, sink_, control);
  ASSERT_TRUE(model.Init().ok());
  const std::string old_file = DataSourceFile();
  EXPECT_EQ(model.current_folder(), root_.str() + "/db");
  const std::string store = root_.str() + "/store";
  ASSERT_TRUE(fs::MakeDirs(store).ok());

  // A file of that name in the destination: the question; No leaves both files as they were.
  ASSERT_TRUE(fs::WriteFileAtomic(store + "/zelvora.db", "someone else's").ok());
  sink_.answers = {kIdNo};
  EXPECT_FALSE(model.Move(store));
  ASSERT_EQ(sink_.shown.size(), 1u);
  EXPECT_EQ(sink_.shown[0].rfind(Message(33) + "\n", 0), 0u);
  EXPECT_NE(sink_.shown[0].find("\n上書きしますか？"), std::string::npos);
  EXPECT_EQ(*fs::ReadFile(store + "/zelvora.db"), "someone else's");
  EXPECT_EQ(DataSourceFile(), old_file);
  ASSERT_TRUE(WaitFor([&] { return running() != 0; }, 30000));  // started again
  EXPECT_NE(running(), first);
  EXPECT_EQ(fsys::directory_iterator(store)->path().filename(), "zelvora.db");  // no temporary left

  // Yes replaces it: the data source names the moved file, the old one is gone, the engine
  // runs again and prints into the moved file.
  sink_.shown.clear();
  sink_.answers = {kIdYes};
  ASSERT_TRUE(model.Move(store)) << (sink_.shown.empty() ? "" : sink_.shown.back());
  EXPECT_EQ(sink_.shown.size(), 1u);
  EXPECT_EQ(DataSourceFile(), store + "/zelvora.db");
  EXPECT_FALSE(fsys::exists(old_file));
  std::string log_path;
  EXPECT_TRUE(settings_.GetLogPath(&log_path));
  EXPECT_EQ(log_path, store);
  EXPECT_EQ(model.CheckTarget(store + "/.").message, 20);
  ASSERT_TRUE(WaitFor([&] { return running() != 0; }, 30000));
  h.WriteJob("m1.prc", 1);
  std::string slot = h.Submit(h.RequestText(engine::testing::RequestSpec{"alice", "pcM", "m1.prc"}));
  EXPECT_EQ(h.ResultCode(h.WaitForAnswer("alice", "pcM", slot)), 0);
  {
    auto moved = odbc::Connection::Open("Driver=SQLite3;Database=" + store + "/zelvora.db", "", "");
    ASSERT_TRUE(moved.ok());
    auto rows = (*moved)->Query("SELECT COUNT(*) FROM PrintLog");
    ASSERT_TRUE(rows.ok());
    ASSERT_TRUE(*(*rows)->Next());
    EXPECT_EQ((*rows)->Get(0).value_or(""), "1");
  }

  // A service that was stopped stays stopped; a copy leaves the data source alone.
  ASSERT_TRUE(manager.Stop("Zelvora Service", 90000).ok());
  const std::string copies = root_.str() + "/copies";
  ASSERT_TRUE(fs::MakeDirs(copies).ok());
  sink_.shown.clear();
  EXPECT_TRUE(model.Copy(copies));
  EXPECT_TRUE(sink_.shown.empty());
  EXPECT_TRUE(fsys::exists(copies + "/zelvora.db"));
  EXPECT_EQ(DataSourceFile(), store + "/zelvora.db");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(manager.Query("Zelvora Service")->state, service::State::kStopped);

  process::StartOptions remove;
  remove.argv = {zv::testing::BinPath("inkarrow"), "-remove"};
  auto r = process::Start(remove);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(*r->Wait(120000), 0);
  unsetenv("ZELVORA_SYSTEMD_UNIT_DIR");
}

TEST_F(StorageFolderTest, AFailedMovePointsTheDataSourceBack) {
  auto dsn = engine::SetupEmbeddedDatabase();
  ASSERT_TRUE(dsn.ok());
  auto key = registry::Key::Create(registry::RootKey::kLocalMachine, "Software\\Orbelin\\Zelvora\\1.0").value();
  ASSERT_TRUE(key.SetString("DSN", *dsn).ok());
  const std::string old_file = DataSourceFile();
  const std::string dest = root_.str() + "/dest";
  ASSERT_TRUE(fs::MakeDirs(dest).ok());
  FakeService service;
  StorageFolderModel model(settings_, sink_, service);
  ASSERT_TRUE(model.Init().ok());

  // The current folder by another path: message 20, the service untouched.
  EXPECT_FALSE(model.Move(root_.str() + "/db/."));
  EXPECT_EQ(sink_.shown, std::vector<std::string>{Message(20)});
  EXPECT_EQ(service.calls, "");
  EXPECT_TRUE(fsys::exists(old_file));
  sink_.shown.clear();

  // The service cannot be stopped: message 43 and nothing copied.
  service.stop_result = 43;
  EXPECT_FALSE(model.Move(dest));
  EXPECT_EQ(sink_.shown, std::vector<std::string>{Message(43)});
  EXPECT_EQ(service.calls, "stop ");
  EXPECT_TRUE(fsys::is_empty(dest));

  // A missing destination folder: message 33 with the system's text, the service started
  // again.
  service.stop_result = 0;
  service.calls.clear();
  sink_.shown.clear();
  EXPECT_FALSE(model.Copy(root_.str() + "/missing"));
  ASSERT_EQ(sink_.shown.size(), 1u);
  EXPECT_EQ(sink_.shown[0], Message(33) + "\n" + std::strerror(ENOENT));
  EXPECT_EQ(service.calls, "stop start ");

  // A copy that does not open as the database: the data source names the old file again,
  // the copy is gone, the old file stays (message 34 with the driver's text).
  ASSERT_TRUE(fs::WriteFileAtomic(old_file + ".keep", *fs::ReadFile(old_file)).ok());
  ASSERT_TRUE(fs::WriteFileAtomic(old_file, std::string(4096, 'x')).ok());
  sink_.shown.clear();
  EXPECT_FALSE(model.Move(dest));
  ASSERT_EQ(sink_.shown.size(), 1u);
  EXPECT_EQ(sink_.shown[0].rfind(Message(34) + "\n", 0), 0u);
  EXPECT_EQ(DataSourceFile(), old_file);
  EXPECT_TRUE(fsys::exists(old_file));
  EXPECT_TRUE(fsys::is_empty(dest));
  std::string log_path;
  EXPECT_FALSE(settings_.GetLogPath(&log_path));
  fsys::rename(old_file + ".keep", old_file);

  // A data source on a database server has no storage folder.
  EXPECT_TRUE(StorageFolderAvailable(settings_));
  ASSERT_TRUE(odbc::AddDataSource("Server", "PostgreSQL Unicode", {{"Servername", "127.0.0.1"}}).ok());
  ASSERT_TRUE(key.SetString("DSN", "Server").ok());
  EXPECT_FALSE(StorageFolderAvailable(settings_));
  EXPECT_EQ(LocateDatabase(settings_).status().code(), Status::Code::kNotSupported);
}

TEST_F(StorageFolderTest, StoppingWaitsOnlyUpToItsLimit) {
  service::Manager manager;
  ASSERT_TRUE(
      manager.Install({"Zelvora Test Service", "test", zv::testing::BinPath("zv_service_test_host"), {"ignore-stop"}})
          .ok());
  ASSERT_TRUE(manager.Start("Zelvora Test Service").ok());
  ASSERT_TRUE(WaitFor([&] { return manager.Query("Zelvora Test Service")->state == service::State::kRunning; }, 10000));
  ServicePrintControl control(300, "Zelvora Test Service");
  bool stopped = false;
  EXPECT_EQ(control.Stop(&stopped), 43);
  EXPECT_FALSE(stopped);
  EXPECT_EQ(ServicePrintControl(300, "Not Installed").Stop(&stopped), 43);
  EXPECT_EQ(ServicePrintControl(300, "Not Installed").Start(), 44);
  const pid_t pid = manager.Query("Zelvora Test Service")->pid;
  ASSERT_GT(pid, 0);
  kill(pid, SIGKILL);
  ASSERT_TRUE(WaitFor([&] { return manager.Query("Zelvora Test Service")->state == service::State::kStopped; }, 10000));
}

TEST_F(StorageFolderTest, DialogChecksTheFolderAndTheFrameOffersItForFilesOnly) {
  auto dsn = engine::SetupEmbeddedDatabase();
  ASSERT_TRUE(dsn.ok());
  auto key = registry::Key::Create(registry::RootKey::kLocalMachine, "Software\\Orbelin\\Zelvora\\1.0").value();
  ASSERT_TRUE(key.SetString("DSN", *dsn).ok());
  ASSERT_TRUE(settings_.SetLogEnv1(0));
  const std::string dest = root_.str() + "/日本語フォルダ";
  ASSERT_TRUE(fs::MakeDirs(dest).ok());
  FakeService service;
  StorageFolderOptions options;
  options.service = &service;
  std::string browse_start;
  options.browse = [&](QWidget*, const std::string& start) {
    browse_start = start;
    return dest;
  };
  CStorageFolderDlg dialog(settings_, sink_, options);
  dialog.show();
  ASSERT_TRUE(dialog.ready());
  EXPECT_EQ(dialog.folder()->text().toStdString(), root_.str() + "/db");
  EXPECT_TRUE(dialog.copy_radio()->isChecked());
  struct Case {
    std::string folder;
    std::vector<std::string> shown;
  } cases[] = {{"", {}}, {root_.str() + "/db/", {Message(20)}}};
  for (const auto& c : cases) {
    sink_.shown.clear();
    dialog.folder()->setText(QString::fromStdString(c.folder));
    dialog.accept();
    EXPECT_EQ(sink_.shown, c.shown) << c.folder;
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.folder()->hasFocus() || !QApplication::focusWidget()) << c.folder;
  }
  dialog.folder()->setText(QString::fromStdString(root_.str() + "/db"));
  dialog.Browse();
  EXPECT_EQ(browse_start, root_.str() + "/db");
  dialog.move_radio()->setChecked(true);
  dialog.grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/tavolent_storage_folder.png"));
  sink_.shown.clear();
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_TRUE(sink_.shown.empty());
  EXPECT_EQ(DataSourceFile(), dest + "/zelvora.db");
  EXPECT_EQ(service.calls, "stop start ");

  // The frame's storage command: offered for the file, not for a database server.
  ConsoleContext ctx{&settings_, &sink_, [] { return 20240115; }};
  CMainFrame frame(ctx);
  EXPECT_TRUE(frame.action(kCmdStorage)->isEnabled());
  ASSERT_TRUE(odbc::AddDataSource(*dsn, "PostgreSQL Unicode", {{"Servername", "127.0.0.1"}}).ok());
  frame.UpdateCommands();
  EXPECT_FALSE(frame.action(kCmdStorage)->isEnabled());
  // Without a data source file the dialog does not open: message 24.
  sink_.shown.clear();
  RunStorageFolderDialog(nullptr, settings_, sink_, options);
  EXPECT_EQ(sink_.shown, std::vector<std::string>{Message(24)});
}

}  // namespace
}  // namespace zv::console
