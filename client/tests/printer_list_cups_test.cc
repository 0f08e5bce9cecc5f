// "printers.lst" from the queues of a private CUPS scheduler: the device URI gives the
// address, the PPD the papers and their margins.
#include <gtest/gtest.h>

#include "client/printer_list.h"
#include "platform/fs/files.h"
#include "platform/spool/cups_spooler.h"
#include "platform/spool/testing/private_cupsd.h"
#include "platform/testing/temp_root.h"

namespace zv::client {
namespace {

TEST(PrinterListCups, QueuesOfAPrivateScheduler) {
  if (spool::testing::PrivateCupsd::skipped()) GTEST_SKIP() << "the private scheduler needs root";
  auto cupsd = spool::testing::PrivateCupsd::Start({{"Front", "ipp://192.168.10.20:631/ipp/print"},
                                                    {"Zelvora", "file:///dev/null"},
                                                    {"Back", "ipp://printer.local/ipp"}});
  ASSERT_TRUE(cupsd->ok()) << cupsd->error();
  zv::testing::TempRoot root;
  spool::CupsSpooler spooler(cupsd->socket());
  const std::string path = root.str() + "/printers.lst";
  ASSERT_TRUE(BuildPrinterList(spooler, path, {PrinterListUpdate::kFull, {}, false}, nullptr).ok());
  std::string text = *fs::ReadFile(path);
  EXPECT_EQ(PrinterNamesInList(text), (std::vector<std::string>{"Back", "Front"}));
  EXPECT_NE(text.find("[Front]\r\nIPaddr=192.168.10.20\r\nPaperSize=-1,"), std::string::npos) << text;
  EXPECT_NE(text.find("[Back]\r\nIPaddr=\r\n"), std::string::npos) << text;
  // The A4 paper with its 12 pt margins (42 in 0.1 mm).
  EXPECT_NE(text.find(",(2100,2970)"), std::string::npos) << text;
  EXPECT_NE(text.find(",(42,42,42,42)"), std::string::npos) << text;
  EXPECT_NE(text.find("Forms=文書の設定用紙,"), std::string::npos) << text;

  ASSERT_TRUE(BuildPrinterList(spooler, path, {PrinterListUpdate::kDelete, {"Back"}}, nullptr).ok());
  EXPECT_EQ(PrinterNamesInList(*fs::ReadFile(path)), (std::vector<std::string>{"Front"}));
}

}  // namespace
}  // namespace zv::client
