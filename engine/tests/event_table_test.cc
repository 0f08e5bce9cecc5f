#include "engine/rules/event_table.h"

#include <gtest/gtest.h>

namespace zv::engine {
namespace {

TEST(EventTable, EntriesAndStrings) {
  EXPECT_EQ(FindEvent(-1), nullptr);
  EXPECT_EQ(FindEvent(25), nullptr);
  ASSERT_NE(FindEvent(24), nullptr);
  EXPECT_STREQ(FindEvent(16)->text, "ﾃﾞｰﾀﾍﾞｰｽｱｸｾｽｴﾗｰ");
  EXPECT_EQ(FindEvent(16)->kind, EventKind::kWarning);
  EXPECT_EQ(FindEvent(10)->kind, EventKind::kInformation);
  EXPECT_EQ(FindEvent(12)->kind, EventKind::kError);

  EXPECT_EQ(ComposeEventStrings(EventKind::kInformation, "t", nullptr, 5), std::vector<std::string>{"t"});
  const std::string extra = "x";
  EXPECT_EQ(ComposeEventStrings(EventKind::kWarning, "t", &extra, 5), (std::vector<std::string>{"t", "\r\nx"}));
  EXPECT_EQ(ComposeEventStrings(EventKind::kError, "t", nullptr, 5),
            (std::vector<std::string>{"GetLastError [5] ", "\r\nt"}));
  EXPECT_EQ(ComposeEventStrings(EventKind::kError, "t", &extra, -2).size(), 3u);
}

}  // namespace
}  // namespace zv::engine
