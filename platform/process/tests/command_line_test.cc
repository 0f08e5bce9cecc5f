#include "platform/process/command_line.h"

#include <random>

#include <gtest/gtest.h>

namespace zv::process {
namespace {

using Args = std::vector<std::string>;

TEST(CommandLine, SplitsLikeTheWindowsRuntime) {
  struct Case {
    const char* line;
    Args args;
  } cases[] = {
      {"", {}},
      {"   ", {}},
      {"\"/opt/z/bin/ostrane\" \"/tmp/WXQ1.tmp\" /n \"My job\"",
       {"/opt/z/bin/ostrane", "/tmp/WXQ1.tmp", "/n", "My job"}},
      {"\"/opt/z b/hevrasto\" -ZelvoraPrintService", {"/opt/z b/hevrasto", "-ZelvoraPrintService"}},
      {"prog  a\tb   ", {"prog", "a", "b"}},
      {"C:\\dir\\prog.exe x", {"C:\\dir\\prog.exe", "x"}},
      {"p a\\\\b", {"p", "a\\\\b"}},
      {"p a\\\"b", {"p", "a\"b"}},
      {"p a\\\\\"b c\"", {"p", "a\\b c"}},
      {"p \"a \"\"q\"\" b\"", {"p", "a \"q\" b"}},
      {"p \"\" x", {"p", "", "x"}},
      {"p ab\"c d\"e", {"p", "abc de"}},
      {"p \"unterminated arg", {"p", "unterminated arg"}},
      {"\"unterminated prog", {"unterminated prog"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.args) << c.line;
}

TEST(CommandLine, JoinedArgumentsSplitBackUnchanged) {
  std::vector<Args> cases = {
      {"/opt/z/bin/ostrane", "/tmp/WXQ1.tmp", "/n", "印刷 \"quoted\" title"},
      {"prog with blank", "", "a\\", "a\\\\", "\\\"", "tab\there", "end\\\\\""},
  };
  std::mt19937 rng(7);
  const char alphabet[] = {'a', ' ', '\t', '"', '\\', 'x'};
  for (int i = 0; i < 500; ++i) {
    Args a = {"prog"};
    int n = static_cast<int>(rng() % 4);
    for (int k = 0; k < n; ++k) {
      std::string s;
      for (int len = static_cast<int>(rng() % 8); len > 0; --len) s += alphabet[rng() % sizeof alphabet];
      a.push_back(s);
    }
    cases.push_back(a);
  }
  for (const auto& a : cases) EXPECT_EQ(SplitCommandLine(JoinCommandLine(a)), a) << JoinCommandLine(a);
}

}  // namespace
}  // namespace zv::process
