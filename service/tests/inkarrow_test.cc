// The service host: its command line, and installing, running and removing the service
// with a real engine behind it.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "engine/hevrasto/main_frame.h"
#include "engine/hevrasto/tests/engine_harness.h"
#include "engine/rules/event_table.h"
#include "platform/eventlog/eventlog.h"
#include "platform/process/process.h"
#include "platform/service/service.h"
#include "platform/testing/bin_dir.h"
#include "platform/winmsg/winmsg.h"
#include "service/service_host.h"

namespace zv::service_host {
namespace {
namespace fsys = std::filesystem;

TEST(Inkarrow, CommandLine) {
  struct Case {
    std::vector<std::string> args;
    Command want;
  } cases[] = {
      {{"-install"}, Command::kInstall}, {{"/INSTALL"}, Command::kInstall},        {{"-Remove"}, Command::kRemove},
      {{"/remove"}, Command::kRemove},   {{"-install", "now"}, Command::kNothing}, {{"-other"}, Command::kNothing},
      {{}, Command::kRunService},        {{"install"}, Command::kRunService},
      // Two-dash options are the program's own; "-help" stays a switch that does nothing.
      {{"--help"}, Command::kHelp},      {{"--install"}, Command::kUnknownOption}, {{"-help"}, Command::kNothing},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseCommandLine(c.args), c.want) << (c.args.empty() ? "" : c.args[0]);
}

int RunInkarrow(const std::vector<std::string>& args) {
  process::StartOptions o;
  o.argv = {zv::testing::BinPath("inkarrow")};
  o.argv.insert(o.argv.end(), args.begin(), args.end());
  auto p = process::Start(o);
  if (!p.ok()) return -1;
  auto code = p->Wait(120000);
  return code.ok() ? *code : -1;
}

template <typename Pred>
bool WaitFor(Pred pred, int timeout_ms) {
  for (int waited = 0; !pred(); waited += 20) {
    if (waited >= timeout_ms) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

TEST(Inkarrow, InstallRunsTheEngineAndRemoveStopsIt) {
  zv::testing::TempRoot root;
  setenv("ZELVORA_SYSTEMD_UNIT_DIR", (root.str() + "/units").c_str(), 1);
  engine::testing::EngineHarness h(root, 1);
  ASSERT_EQ(RunInkarrow({"-install"}), 0);
  service::Manager manager;
  ASSERT_TRUE(WaitFor(
      [&] {
        auto s = manager.Query(kServiceName);
        return s.ok() && s->state == service::State::kRunning;
      },
      30000));
  EXPECT_NE(winmsg::FindWindow(engine::kEngineWindowClass, nullptr), 0u);
  EXPECT_TRUE(fsys::exists(h.print_info() + "/Wakeup.inf"));

  h.WriteJob("s1.prc", 1);
  std::string slot =
      h.Submit(engine::testing::EngineHarness::RequestText(engine::testing::RequestSpec{"alice", "pcS", "s1.prc"}));
  EXPECT_EQ(engine::testing::EngineHarness::ResultCode(h.WaitForAnswer("alice", "pcS", slot)), 0);

  ASSERT_EQ(RunInkarrow({"/REMOVE"}), 0);
  EXPECT_FALSE(manager.Query(kServiceName).ok());  // removed
  EXPECT_TRUE(WaitFor([] { return winmsg::FindWindow(engine::kEngineWindowClass, nullptr) == 0; }, 10000));
  EXPECT_FALSE(fsys::exists(h.print_info() + "/Wakeup.inf"));
  std::vector<uint32_t> seen;
  auto events = eventlog::ReadAll();
  ASSERT_TRUE(events.ok());
  std::vector<std::string> service_texts;
  int engine_ends = 0;  // written only by an engine that closed in order
  for (const auto& e : *events) {
    if (e.source == engine::kServiceEventSource) service_texts.push_back(e.strings.back());
    if (e.source == engine::kEngineEventSource && e.strings.back() == "実行部は終了しました") ++engine_ends;
  }
  EXPECT_EQ(engine_ends, 1);
  std::vector<std::string> want = {"ｻｰﾋﾞｽが登録されました", "ｻｰﾋﾞｽが開始されました", "ｻｰﾋﾞｽが停止されました",
                                   "ｻｰﾋﾞｽが削除されました"};
  EXPECT_EQ(service_texts, want);
  unsetenv("ZELVORA_SYSTEMD_UNIT_DIR");
}

TEST(Inkarrow, AnEngineThatRunsAlreadyIsTakenOverNotStartedTwice) {
  zv::testing::TempRoot root;
  setenv("ZELVORA_SYSTEMD_UNIT_DIR", (root.str() + "/units").c_str(), 1);
  engine::testing::EngineHarness h(root, 1);
  h.StartEngine();
  ASSERT_EQ(RunInkarrow({"/install"}), 0);
  service::Manager manager;
  ASSERT_TRUE(WaitFor(
      [&] {
        auto s = manager.Query(kServiceName);
        return s.ok() && s->state == service::State::kRunning;
      },
      30000));
  EXPECT_EQ(winmsg::EnumWindows().size(), 1u);  // the one engine window
  EXPECT_TRUE(h.engine().Running());
  // Stopping the service closes the engine it found.
  ASSERT_EQ(RunInkarrow({"-remove"}), 0);
  auto code = h.engine().Wait(30000);
  ASSERT_TRUE(code.ok());
  EXPECT_EQ(*code, 0);
  EXPECT_FALSE(fsys::exists(h.print_info() + "/Wakeup.inf"));
  unsetenv("ZELVORA_SYSTEMD_UNIT_DIR");
}

}  // namespace
}  // namespace zv::service_host
