#include "client/app/printer_entries.h"

#include <gtest/gtest.h>

namespace zv::client::app {
namespace {

TEST(PrinterEntriesTest, ReadsPrintersWithTheirAddressesAndPapers) {
  const std::string text =
      "[PRINTERS]\r\nWide=comment\r\nBare=\r\nShort=\r\nGone=\r\n\r\n"
      "[Wide]\r\nIPaddr=192.168.1.20\r\nPaperSize=-1,9,8\r\nForms=文書の設定用紙,A4,A3\r\n"
      "Size=(,),(2100,2970),(2970,2100)\r\nMargin=(,,,),(1,2,3,4),(10,20,30,40)\r\n\r\n"
      "[Bare]\r\nIPaddr=\r\nPaperSize=-1\r\nForms=文書の設定用紙\r\nSize=(,)\r\nMargin=(,,,)\r\n\r\n"
      // Lists shorter than the codes: the missing name empty, the missing size and margins 0.
      "[Short]\r\nPaperSize=-1,9,70\r\nForms=文書の設定用紙,A4\r\nSize=(,),(2100,2970)\r\nMargin=(,,,)\r\n\r\n";
  const auto printers = ParsePrinterEntries(text);
  ASSERT_EQ(printers.size(), 4u);
  EXPECT_EQ(printers[0].name, "Wide");
  EXPECT_EQ(printers[0].ip, "192.168.1.20");
  ASSERT_EQ(printers[0].papers.size(), 3u);
  const PaperChoice& a4 = printers[0].papers[1];
  EXPECT_EQ(std::make_tuple(a4.code, a4.form, a4.width, a4.height, a4.left, a4.top, a4.right, a4.bottom),
            std::make_tuple(9, std::string("A4"), 2100, 2970, 1, 2, 3, 4));
  // Read wider than high: turned upright, the margins turned with it.
  const PaperChoice& a3 = printers[0].papers[2];
  EXPECT_EQ(std::make_tuple(a3.width, a3.height, a3.left, a3.top, a3.right, a3.bottom),
            std::make_tuple(2100, 2970, 20, 30, 40, 10));

  ASSERT_EQ(printers[1].papers.size(), 1u);
  EXPECT_EQ(printers[1].papers[0].code, -1);
  EXPECT_EQ(printers[1].papers[0].form, kDocumentPaperName);

  ASSERT_EQ(printers[2].papers.size(), 3u);
  EXPECT_EQ(printers[2].ip, "");
  const PaperChoice& missing = printers[2].papers[2];
  EXPECT_EQ(std::make_tuple(missing.code, missing.form, missing.width, missing.height, missing.left),
            std::make_tuple(70, std::string(), 0, 0, 0));

  // A printer without its block still has the document's own paper.
  ASSERT_EQ(printers[3].papers.size(), 1u);
  EXPECT_EQ(printers[3].papers[0].code, -1);

  EXPECT_EQ(PaperIndexFor(printers[0], 8), 2);
  EXPECT_EQ(PaperIndexFor(printers[0], 11), 0);
  EXPECT_EQ(PrinterIndexFor(printers, "Short"), 2);
  EXPECT_EQ(PrinterIndexFor(printers, "short"), 0);  // names match exactly
  EXPECT_TRUE(ParsePrinterEntries("").empty());
}

}  // namespace
}  // namespace zv::client::app
