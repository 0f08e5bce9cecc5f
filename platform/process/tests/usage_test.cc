#include "platform/process/usage.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace zv::process {
namespace {

using Args = std::vector<std::string>;
using Kind = Option::Kind;

TEST(Usage, CheckOptionsTable) {
  constexpr Usage usage{"tool", "Usage: tool [--title TEXT] [--flag] FILE...\n"};
  constexpr Option options[] = {{"--title", Kind::kValue}, {"--flag"}, {"-style=", Kind::kJoined}};
  struct Case {
    Args args;
    std::optional<int> code;
    Args operands;
  } cases[] = {
      {{}, std::nullopt, {}},
      {{"a", "--flag", "b"}, std::nullopt, {"a", "b"}},
      // A value is never read as an option, not even "--help".
      {{"--title", "--help", "f"}, std::nullopt, {"f"}},
      {{"--title", "-x"}, std::nullopt, {}},
      {{"-", "-style=fusion"}, std::nullopt, {"-"}},
      {{"f", "--help"}, 0, {}},
      {{"--bogus", "--help"}, kUsageExitCode, {}},
      {{"-x"}, kUsageExitCode, {}},
      {{"--flag=1"}, kUsageExitCode, {}},
      {{"f", "--title"}, kUsageExitCode, {}},
  };
  for (const Case& c : cases) {
    Args operands{"stale"};
    EXPECT_EQ(CheckOptions(c.args, options, usage, &operands), c.code) << ::testing::PrintToString(c.args);
    if (!c.code) {
      EXPECT_EQ(operands, c.operands) << ::testing::PrintToString(c.args);
    }
  }
}

TEST(Usage, QtOptionsPassWithOneOrTwoDashes) {
  constexpr Usage usage{"win", "Usage: win\n"};
  const std::vector<Option> options = WithQtOptions();
  Args operands;
  EXPECT_EQ(CheckOptions({"-platform", "offscreen", "--display", ":1", "-reverse", "-stylesheet=a.qss"}, options, usage,
                         &operands),
            std::nullopt);
  EXPECT_TRUE(operands.empty());
  EXPECT_EQ(CheckOptions({"-platform"}, options, usage), kUsageExitCode);
  EXPECT_EQ(CheckOptions({"--no-such-option"}, options, usage), kUsageExitCode);
}

}  // namespace
}  // namespace zv::process
