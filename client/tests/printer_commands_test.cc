// The printer commands' roads on machines that offer more or less, and the queue window's
// rows.
#include "client/printer_commands.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace zv::client {
namespace {

TEST(PrinterCommands, EachCommandTakesTheRoadTheMachineOffers) {
  const PrinterCommandOffers bare{}, folder{"", true, false}, cups{"", true, true},
      tool{"/usr/bin/system-config-printer", true, true};
  using R = PrinterCommand::Road;
  struct Case {
    const char* name;
    std::string printer;
    PrinterCommandOffers offers;
    R queue, properties;
    std::vector<std::string> queue_argv, properties_argv;
    const char* properties_prompt;
  } cases[] = {
      {"nothing chosen", "", tool, R::kUnavailable, R::kUnavailable, {}, {}, kNoPrinterChosenText},
      {"no spooler", "Office", bare, R::kUnavailable, R::kUnavailable, {}, {}, kNotCupsText},
      {"folder printers", "Office", folder, R::kQueueWindow, R::kUnavailable, {}, {}, kNotCupsText},
      {"CUPS without the tool", "Office", cups, R::kQueueWindow, R::kUnavailable, {}, {}, kNoPrinterToolText},
      {"CUPS, the virtual printer", "Zelvora", cups, R::kQueueWindow, R::kDriverSheets, {}, {}, kPropertiesPromptText},
      {"the raster queue", "Zelvora-Raster", tool, R::kDesktopTool, R::kDriverSheets,
       {tool.desktop_tool, "--show-jobs", "Zelvora-Raster"}, {}, kPropertiesPromptText},
      {"CUPS with the tool", "Office", tool, R::kDesktopTool, R::kDesktopTool,
       {tool.desktop_tool, "--show-jobs", "Office"}, {tool.desktop_tool, "--configure-printer", "Office"},
       kPropertiesPromptText},
  };
  for (const Case& c : cases) {
    const PrinterCommand q = QueueCommand(c.printer, c.offers), p = PropertiesCommand(c.printer, c.offers);
    EXPECT_EQ(q.road, c.queue) << c.name;
    EXPECT_EQ(p.road, c.properties) << c.name;
    EXPECT_EQ(q.argv, c.queue_argv) << c.name;
    EXPECT_EQ(p.argv, c.properties_argv) << c.name;
    EXPECT_EQ(p.prompt, c.properties_prompt) << c.name;
    EXPECT_EQ(q.prompt, c.queue == R::kUnavailable ? (c.printer.empty() ? kNoPrinterChosenText : kNoQueueReaderText)
                                                  : kQueuePromptText)
        << c.name;
  }
  // With a server the commands act on the virtual printer, whatever is chosen.
  EXPECT_EQ(CommandPrinter(true, "Office"), "Zelvora");
  EXPECT_EQ(CommandPrinter(false, "Office"), "Office");
}

TEST(PrinterCommands, QueueRowsGiveEachJobsTextsInLocalTime) {
  ::setenv("TZ", "JST-9", 1);
  ::tzset();
  spool::JobInfo a;
  a.document = "見積書.pdf";
  a.owner = "alice";
  a.state = spool::JobState::kPrinting;
  a.total_pages = 3;
  a.size = 1025;
  a.submitted = {2026, 12, 5, 10, 23, 59, 7, 0};
  spool::JobInfo b;
  b.document = "memo";
  b.owner = "bob";
  b.state = spool::JobState::kPaused;
  const auto rows = QueueRows({a, b});
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"見積書.pdf", "印刷中", "alice", "3", "2 KB", "2026/12/11 08:59:07"}));
  // Pages unknown (CUPS) and no time: empty cells.
  EXPECT_EQ(rows[1], (std::vector<std::string>{"memo", "一時停止", "bob", "", "0 KB", ""}));
  ASSERT_EQ(kQueueColumnCount, 6);
  EXPECT_EQ(QueueWindowTitle("Office"), "Office - 印刷キュー");
  EXPECT_EQ(QueueCountText(2), "キューに2個のドキュメント");
  // A queue that cannot be read is told in Japanese, never in the spooler's words.
  EXPECT_EQ(QueueErrorText("Zelvora", Status::NotFound("no printer \"Zelvora\"")),
            "プリンタ「Zelvora」が見つからないため、キューを読めません。");
  EXPECT_EQ(QueueErrorText("P", Status::Timeout("ipp timed out")),
            "プリンタ「P」が応答しないため、キューを読めません。");
  EXPECT_EQ(QueueErrorText("P", Status::IOError("cups: server-error-internal-error")),
            "プリンタ「P」のキューを読めません。");
  ::unsetenv("TZ");
  ::tzset();
}

}  // namespace
}  // namespace zv::client
