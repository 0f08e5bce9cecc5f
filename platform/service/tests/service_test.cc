#include "platform/service/service.h"
#include "platform/testing/bin_dir.h"

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "platform/fs/files.h"
#include "platform/process/process.h"
#include "platform/testing/temp_root.h"

namespace zv::service {
namespace {

constexpr const char* kName = "Zelvora Test Service";

std::string Host() { return zv::testing::BinPath("zv_service_test_host"); }

class ServiceTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // Leave nothing running, whatever a test did.
    auto names = manager_.List();
    if (!names.ok()) return;
    for (const auto& n : *names) {
      auto st = manager_.Query(n);
      if (st.ok() && st->pid > 0) ::kill(st->pid, SIGKILL);
    }
  }
  // Waits (up to 10 s) until the service reaches the state; gives its status.
  ServiceStatus WaitFor(State want) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      auto st = manager_.Query(kName);
      if ((st.ok() && st->state == want) || std::chrono::steady_clock::now() > deadline) return st.value();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  Status InstallHost(const std::string& mode) {
    return manager_.Install({kName, "Zelvora test service", Host(), {mode}});
  }
  zv::testing::TempRoot root_;
  Manager manager_{Manager::Options{root_.str() + "/units", true}};
};

TEST_F(ServiceTest, StartRunStopAndRemove) {
  ASSERT_TRUE(InstallHost("normal").ok());
  EXPECT_EQ(manager_.Query(kName)->state, State::kStopped);
  ASSERT_TRUE(manager_.Start(kName, {"-ZelvoraPrintService", "two words"}).ok());
  ServiceStatus st = WaitFor(State::kRunning);
  EXPECT_EQ(st.state, State::kRunning);
  EXPECT_GT(st.pid, 0);
  EXPECT_EQ(fs::ReadFile(root_.str() + "/host-args.txt").value(), "normal\n-ZelvoraPrintService\ntwo words\n");
  EXPECT_EQ(manager_.Start(kName).code(), Status::Code::kBusy);
  EXPECT_EQ(manager_.Remove(kName).code(), Status::Code::kBusy);

  auto stopped = manager_.Stop(kName, 10000);
  ASSERT_TRUE(stopped.ok()) << stopped.status().ToString();
  EXPECT_EQ(stopped->state, State::kStopped);
  EXPECT_EQ(stopped->exit_code, 0);
  EXPECT_EQ(manager_.RequestStop(kName).code(), Status::Code::kInvalidArgument);
  EXPECT_TRUE(manager_.Stop(kName, 0).ok());  // stopped already

  // It can start again after a stop.
  ASSERT_TRUE(manager_.Start(kName).ok());
  EXPECT_EQ(WaitFor(State::kRunning).state, State::kRunning);
  ASSERT_TRUE(manager_.Stop(kName, 10000).ok());

  ASSERT_TRUE(manager_.Remove(kName).ok());
  EXPECT_EQ(manager_.Query(kName).status().code(), Status::Code::kNotFound);
  EXPECT_EQ(manager_.Remove(kName).code(), Status::Code::kNotFound);
  EXPECT_FALSE(std::filesystem::exists(manager_.UnitPath(kName)));
}

TEST_F(ServiceTest, PendingStatesAreReported) {
  ASSERT_TRUE(InstallHost("hold-start").ok());
  ASSERT_TRUE(manager_.Start(kName).ok());
  ServiceStatus st = WaitFor(State::kStartPending);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (st.check_point != 2 && std::chrono::steady_clock::now() < deadline) st = manager_.Query(kName).value();
  EXPECT_EQ(st.state, State::kStartPending);
  EXPECT_EQ(st.check_point, 2u);
  EXPECT_EQ(st.wait_hint_ms, 5000u);
  ASSERT_TRUE(manager_.Stop(kName, 10000).ok());
}

TEST_F(ServiceTest, AServiceThatIgnoresStopTimesOutAndACrashCountsAsStopped) {
  ASSERT_TRUE(InstallHost("ignore-stop").ok());
  ASSERT_TRUE(manager_.Start(kName).ok());
  ServiceStatus st = WaitFor(State::kRunning);
  ASSERT_EQ(st.state, State::kRunning);
  EXPECT_EQ(manager_.Stop(kName, 50).status().code(), Status::Code::kTimeout);
  EXPECT_EQ(manager_.Query(kName)->state, State::kStopPending);
  ::kill(st.pid, SIGKILL);
  ServiceStatus after = WaitFor(State::kStopped);
  EXPECT_EQ(after.state, State::kStopped);
  EXPECT_EQ(after.exit_code, kExitProcessAborted);
  ASSERT_TRUE(manager_.Remove(kName).ok());

  ASSERT_TRUE(InstallHost("crash").ok());
  ASSERT_TRUE(manager_.Start(kName).ok());
  after = WaitFor(State::kStopped);
  EXPECT_EQ(after.state, State::kStopped);
  EXPECT_EQ(after.exit_code, kExitProcessAborted);
}

TEST_F(ServiceTest, RunningTheProgramOutsideTheManagerIsRefused) {
  process::StartOptions o;
  o.argv = {Host(), "normal"};
  auto p = process::Start(o);
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(p->Wait(10000).value(), 3);
}

TEST_F(ServiceTest, InstallChecksAndUnitFile) {
  ASSERT_TRUE(
      manager_.Install({kName, "Zelvora 100% Service", "/opt/zelvora/bin/inkarrow", {"a b", "$HOME", " x "}}).ok());
  EXPECT_EQ(manager_.Install({kName, "", "/bin/true", {}}).code(), Status::Code::kInvalidArgument);
  auto c = manager_.Config(kName);
  ASSERT_TRUE(c.ok());
  EXPECT_EQ(c->display_name, "Zelvora 100% Service");
  EXPECT_EQ(c->args, (std::vector<std::string>{"a b", "$HOME", " x "}));
  EXPECT_EQ(manager_.List().value(), std::vector<std::string>{kName});

  std::string unit = fs::ReadFile(manager_.UnitPath(kName)).value();
  EXPECT_EQ(std::filesystem::path(manager_.UnitPath(kName)).filename(), "zelvora-Zelvora\\x20Test\\x20Service.service");
  EXPECT_NE(unit.find("Description=Zelvora 100%% Service\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find("ExecStart=\"/opt/zelvora/bin/inkarrow\" \"a b\" \"$$HOME\" \" x \"\n"), std::string::npos)
      << unit;
  EXPECT_NE(unit.find("Environment=\"ZELVORA_ROOT=" + root_.str() + "\"\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find("Environment=\"ZELVORA_SERVICE_NAME=Zelvora Test Service\"\n"), std::string::npos) << unit;

  struct Bad {
    ServiceConfig c;
  } bad[] = {{{"", "", "/bin/true", {}}},
             {{"x\ny", "", "/bin/true", {}}},
             {{std::string(257, 'n'), "", "/bin/true", {}}},
             {{"ok", "a\rb", "/bin/true", {}}},
             {{"ok", "", "relative/prog", {}}},
             {{"ok", "", "", {}}},
             {{"ok", "", "/bin/true", {"line\nbreak"}}}};
  for (const auto& b : bad) EXPECT_EQ(manager_.Install(b.c).code(), Status::Code::kInvalidArgument) << b.c.name;
  EXPECT_EQ(manager_.Start("not installed").code(), Status::Code::kNotFound);
  EXPECT_EQ(manager_.Query("not installed").status().code(), Status::Code::kNotFound);
}

TEST_F(ServiceTest, NamesNeverLeaveTheServiceFolder) {
  for (const char* n : {"../../evil", "a/b", "..", "C:\\x"}) {
    ASSERT_TRUE(manager_.Install({n, "", "/bin/true", {}}).ok()) << n;
  }
  for (auto& e : std::filesystem::recursive_directory_iterator(root_.path())) {
    if (!e.is_regular_file()) continue;
    auto parent = e.path().parent_path();
    EXPECT_TRUE(parent == root_.path() / "services" || parent == root_.path() / "units") << e.path();
  }
  EXPECT_EQ(manager_.List()->size(), 4u);
  for (const char* n : {"../../evil", "a/b", "..", "C:\\x"}) EXPECT_TRUE(manager_.Remove(n).ok()) << n;
  EXPECT_TRUE(manager_.List()->empty());
}

}  // namespace
}  // namespace zv::service
