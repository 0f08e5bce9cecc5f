#include "platform/process/process.h"
#include "platform/testing/bin_dir.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/fs/files.h"
#include "platform/testing/temp_root.h"

namespace zv::process {
namespace {

StartOptions Opts(std::vector<std::string> argv) {
  StartOptions o;
  o.argv = std::move(argv);
  return o;
}

std::string Child() { return zv::testing::BinPath("zv_process_test_child"); }

TEST(Process, ExitCodesAndSignals) {
  auto p = Start(Opts({Child(), "exit", "7"}));
  ASSERT_TRUE(p.ok()) << p.status().ToString();
  EXPECT_EQ(p->Wait(-1).value(), 7);
  EXPECT_EQ(p->Wait(0).value(), 7);
  EXPECT_FALSE(p->Running());

  auto q = Start(Opts({Child(), "wait-forever"}));
  ASSERT_TRUE(q.ok());
  EXPECT_TRUE(q->Running());
  EXPECT_EQ(q->Wait(10).status().code(), Status::Code::kTimeout);
  ASSERT_TRUE(q->Kill(SIGTERM).ok());
  EXPECT_EQ(q->Wait(-1).value(), 128 + SIGTERM);
  EXPECT_TRUE(q->Kill().ok());  // already ended: nothing to do
}

TEST(Process, ArgumentsPassUnchangedWithoutAShell) {
  zv::testing::TempRoot root;
  const std::string report = root.str() + "/report.txt";
  setenv("ZV_TEST_VAR", "outer", 1);
  StartOptions o = Opts({Child(), "report", report, "a b", "$(touch x)", "\"q\"", ""});
  o.working_dir = root.str();
  o.env = {"ZV_TEST_VAR=inner"};
  o.output_file = root.str() + "/out.log";
  auto p = Start(o);
  ASSERT_TRUE(p.ok()) << p.status().ToString();
  ASSERT_EQ(p->Wait(-1).value(), 0);
  std::string text = fs::ReadFile(report).value();
  EXPECT_NE(text.find("cwd=" + root.str() + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find("var=inner\n"), std::string::npos) << text;
  EXPECT_NE(text.find("fds=3\n"), std::string::npos) << text;  // stdin, stdout, stderr only
  EXPECT_NE(text.find("term_blocked=0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("args=7\narg=a b\narg=$(touch x)\narg=\"q\"\narg=\n"), std::string::npos) << text;
  EXPECT_FALSE(std::ifstream(root.str() + "/x").good());
  EXPECT_EQ(fs::ReadFile(root.str() + "/out.log").value(), "to stdout\n");
}

TEST(Process, ChildrenDoNotInheritABlockedStopSignal) {
  zv::testing::TempRoot root;
  sigset_t term, old;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &term, &old);
  auto p = Start(Opts({Child(), "report", root.str() + "/r"}));
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  ASSERT_TRUE(p.ok());
  ASSERT_EQ(p->Wait(-1).value(), 0);
  EXPECT_NE(fs::ReadFile(root.str() + "/r").value().find("term_blocked=0"), std::string::npos);
}

TEST(Process, WaitUntilReady) {
  StartOptions o = Opts({Child(), "ready-then-wait"});
  o.ready_signal = true;
  auto ready = Start(o);
  ASSERT_TRUE(ready.ok());
  EXPECT_TRUE(ready->WaitReady(10000).ok());
  EXPECT_TRUE(ready->Kill().ok());
  EXPECT_TRUE(ready->Wait(-1).ok());

  o.argv = {Child(), "wait-forever"};
  auto never = Start(o);
  ASSERT_TRUE(never.ok());
  EXPECT_EQ(never->WaitReady(20).code(), Status::Code::kTimeout);
  EXPECT_TRUE(never->Kill().ok());
  EXPECT_EQ(never->WaitReady(10000).code(), Status::Code::kIOError);  // ended first
  EXPECT_TRUE(never->Wait(-1).ok());

  auto plain = Start(Opts({Child(), "exit", "0"}));
  ASSERT_TRUE(plain.ok());
  EXPECT_EQ(plain->WaitReady(0).code(), Status::Code::kNotSupported);
  EXPECT_TRUE(plain->Wait(-1).ok());

  // A caller that was started with a ready descriptor does not pass its number on to a
  // child started without one.
  zv::testing::TempRoot root;
  setenv("ZELVORA_READY_FD", "4", 1);
  auto inner = Start(Opts({Child(), "report", root.str() + "/r"}));
  unsetenv("ZELVORA_READY_FD");
  ASSERT_TRUE(inner.ok());
  ASSERT_EQ(inner->Wait(-1).value(), 0);
  EXPECT_NE(fs::ReadFile(root.str() + "/r").value().find("ready=(none)\n"), std::string::npos);
}

TEST(Process, DetachedProgramsLeaveTheCallersTree) {
  StartOptions o = Opts({Child(), "ready-then-wait"});
  o.ready_signal = true;
  o.detached = true;
  auto p = Start(o);
  ASSERT_TRUE(p.ok()) << p.status().ToString();
  EXPECT_TRUE(p->WaitReady(10000).ok());
  EXPECT_NE(getsid(p->pid()), getsid(0));
  EXPECT_TRUE(p->Running());
  ASSERT_TRUE(p->Kill().ok());
  EXPECT_EQ(p->Wait(10000).value(), -1);
}

TEST(Process, ProgramsThatCannotStart) {
  zv::testing::TempRoot root;
  EXPECT_EQ(Start({}).status().code(), Status::Code::kInvalidArgument);
  EXPECT_EQ(Start(Opts({root.str() + "/missing"})).status().code(), Status::Code::kNotFound);
  EXPECT_EQ(Start(Opts({"zv-no-such-program-anywhere"})).status().code(), Status::Code::kNotFound);
  EXPECT_EQ(Start(Opts({root.str()})).status().code(), Status::Code::kNotFound);  // a folder
  StartOptions bad_dir = Opts({Child(), "exit", "0"});
  bad_dir.working_dir = root.str() + "/none";
  EXPECT_EQ(Start(bad_dir).status().code(), Status::Code::kNotFound);
  StartOptions detached = Opts({root.str() + "/missing"});
  detached.detached = true;
  EXPECT_EQ(Start(detached).status().code(), Status::Code::kNotFound);
  StartOptions bad_env = Opts({Child(), "exit", "0"});
  bad_env.env = {"NOEQUALS"};
  EXPECT_EQ(Start(bad_env).status().code(), Status::Code::kInvalidArgument);
  // A bare name is looked up in PATH.
  auto t = Start(Opts({"true"}));
  ASSERT_TRUE(t.ok());
  EXPECT_EQ(t->Wait(-1).value(), 0);
}

}  // namespace
}  // namespace zv::process
