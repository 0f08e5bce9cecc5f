#include "engine/core/event_writer.h"

#include <gtest/gtest.h>

#include "platform/eventlog/eventlog.h"
#include "platform/testing/temp_root.h"

namespace zv::engine {
namespace {

TEST(EventWriter, IdentifierIsTheNumberOfStrings) {
  zv::testing::TempRoot root;
  const std::string extra = "line1\r\nline2";
  int code = 5;
  ASSERT_TRUE(WriteEventLog(kEngineEventSource, kEvEngineStarted, nullptr, &code).ok());
  ASSERT_TRUE(WriteEventLog(kEngineEventSource, kEvDatabaseError, &extra, &code).ok());
  ASSERT_TRUE(WriteEventLog(kServiceEventSource, kEvServiceStartFailed, nullptr, &code).ok());
  ASSERT_TRUE(WriteEventLog(kEngineEventSource, kEvPrintFailed, &extra, &code).ok());
  ASSERT_TRUE(WriteEventLogText(kServiceEventSource, "free text", nullptr, &code).ok());
  EXPECT_FALSE(WriteEventLog(kEngineEventSource, 25, nullptr, &code).ok());
  EXPECT_FALSE(WriteEventLog(kEngineEventSource, -1, nullptr, &code).ok());
  EXPECT_FALSE(WriteEventLog(nullptr, 10, nullptr, &code).ok());
  EXPECT_FALSE(WriteEventLogText(kServiceEventSource, nullptr, nullptr, &code).ok());

  auto events = eventlog::ReadAll();
  ASSERT_TRUE(events.ok());
  ASSERT_EQ(events->size(), 5u);
  const auto& e = *events;
  EXPECT_EQ(e[0].source, "Zelvora Engine");
  EXPECT_EQ(e[0].type, eventlog::EventType::kInformation);
  EXPECT_EQ(e[0].id, 1u);
  EXPECT_EQ(e[0].strings, std::vector<std::string>{"実行部が起動しました"});
  EXPECT_EQ(e[1].type, eventlog::EventType::kWarning);
  EXPECT_EQ(e[1].id, 2u);
  EXPECT_EQ(e[1].strings[1], "\r\nline1\r\nline2");
  EXPECT_EQ(e[2].source, "Zelvora Service");
  EXPECT_EQ(e[2].type, eventlog::EventType::kError);
  EXPECT_EQ(e[2].id, 2u);
  EXPECT_EQ(e[2].strings, (std::vector<std::string>{"GetLastError [5] ", "\r\nｻｰﾋﾞｽの開始に失敗しました"}));
  EXPECT_EQ(e[3].id, 3u);
  EXPECT_EQ(e[4].strings[1], "\r\nfree text");
}

}  // namespace
}  // namespace zv::engine
