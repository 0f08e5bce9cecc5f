#include "client/printer_list.h"

#include <gtest/gtest.h>

#include "platform/fs/files.h"
#include "platform/spool/folder_spooler.h"
#include "platform/testing/temp_root.h"

namespace zv::client {
namespace {

TEST(PrinterList, PortToIpAddressTable) {
  struct Case {
    const char* port;
    const char* ip;
  } cases[] = {
      {"IP_192.168.0.20", "192.168.0.20"},
      {"socket://10.0.0.5:9100", "10.0.0.5"},
      {"ipp://172.16.1.2/ipp/print", "172.16.1.2"},
      {"lpd://0.0.0.0/queue", "0.0.0.0"},
      {"LPT1:", ""},
      {"ipp://printer.local/ipp", ""},
      {"IP_256.1.1.1", ""},
      {"IP_1.2.3", ""},
      {"IP_1.2.3.4.5", ""},
      {"IP_1234.2.3.4", ""},
      {"v2.1 at 10.1.1.1", "10.1.1.1"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(PortToIpAddress(c.port), c.ip) << c.port;
}

class PrinterListTest : public ::testing::Test {
 protected:
  void Add(const std::string& name, const std::string& port, bool papers = true) {
    spool::FolderSpooler spooler;
    auto p = spool::StandardFolderPrinter(name);
    p.info.port = port;
    p.info.comment = name + " room";
    if (!papers) {
      p.caps.papers.clear();
    } else {
      p.caps.papers.resize(1);
      p.caps.papers[0] = {9, "A4", 2100, 2970, 42, 42, 43, 44};
    }
    ASSERT_TRUE(spooler.AddPrinter(p).ok());
  }
  std::string Read() { return *fs::ReadFile(path_); }
  zv::testing::TempRoot root_;
  std::string path_ = root_.str() + "/printers.lst";
};

TEST_F(PrinterListTest, FullListFromFolderPrinters) {
  Add("P1", "IP_192.168.0.20");
  Add("Zelvora", "zelvora:/");
  Add("Bare", "LPT1:", false);
  spool::FolderSpooler spooler;
  ProgressModel progress;
  ASSERT_TRUE(BuildPrinterList(spooler, path_, {PrinterListUpdate::kFull, {}, true}, &progress).ok());
  EXPECT_EQ(Read(),
            "[PRINTERS]\r\nBare=Bare room\r\nP1=P1 room\r\n\r\n"
            "[Bare]\r\nIPaddr=\r\nPaperSize=-1\r\nForms=文書の設定用紙\r\nSize=(,)\r\nMargin=(,,,)\r\n\r\n"
            "[P1]\r\nIPaddr=192.168.0.20\r\nPaperSize=-1,9\r\nForms=文書の設定用紙,A4\r\nSize=(,),(2100,2970)\r\n"
            "Margin=(,,,),(42,42,43,44)\r\n\r\n");
  // Two printers collected ("Zelvora" left out): the counter ends at 2/2, the bar at 100.
  EXPECT_EQ(progress.total(), 2);
  EXPECT_EQ(progress.counter(), " 2/ 2");
  EXPECT_EQ(progress.position(), 100);
  EXPECT_FALSE(progress.open());
}

TEST_F(PrinterListTest, AddAndDeleteMatchWholeNames) {
  Add("P1", "IP_10.0.0.1");
  Add("P10", "IP_10.0.0.10");
  Add("P2", "IP_10.0.0.2");
  spool::FolderSpooler spooler;
  PrinterInfo p1, p10, p2;
  ASSERT_TRUE(MakePrnDeviceInfo(spooler, "p1", &p1));  // found without regard to case
  ASSERT_TRUE(MakePrnDeviceInfo(spooler, "P10", &p10));
  ASSERT_TRUE(MakePrnDeviceInfo(spooler, "P2", &p2));
  EXPECT_EQ(p1.name, "P1");
  EXPECT_FALSE(MakePrnDeviceInfo(spooler, "P3", &p2));
  ASSERT_TRUE(CreatePrinterInfoFile(path_, {p1, p10}).ok());

  struct Step {
    const char* what;
    PrinterListUpdate update;
    std::vector<std::string> names;
  } steps[] = {
      {"add P2", {PrinterListUpdate::kAdd, {"P2"}}, {"P1", "P10", "P2"}},
      {"delete P1 keeps P10", {PrinterListUpdate::kDelete, {"P1"}}, {"P10", "P2"}},
      {"delete a missing name changes nothing", {PrinterListUpdate::kDelete, {"P"}}, {"P10", "P2"}},
      {"add P1 again", {PrinterListUpdate::kAdd, {"P1", "Zelvora"}}, {"P10", "P2", "P1"}},
      {"delete two", {PrinterListUpdate::kDelete, {"P10", "P1"}}, {"P2"}},
  };
  for (const auto& s : steps) {
    ProgressModel progress;
    ASSERT_TRUE(BuildPrinterList(spooler, path_, s.update, &progress).ok()) << s.what;
    std::string text = Read();
    EXPECT_EQ(PrinterNamesInList(text), s.names) << s.what;
    // Every block is whole: seven lines per printer after the list and its empty line.
    size_t lines = std::count(text.begin(), text.end(), '\n');
    EXPECT_EQ(lines, 1 + s.names.size() + 1 + 7 * s.names.size()) << s.what << "\n" << text;
    for (const auto& n : s.names) EXPECT_NE(text.find("\r\n[" + n + "]\r\nIPaddr="), std::string::npos) << s.what;
  }
  EXPECT_EQ(AddToPrinterInfoFile(root_.str() + "/none.lst", {p1}).code(), Status::Code::kNotFound);
}

TEST_F(PrinterListTest, AddingToAListWithoutItsEmptyLine) {
  ASSERT_TRUE(fs::WriteFileAtomic(path_, "[PRINTERS]\r\nOld=\r\n").ok());
  PrinterInfo p;
  p.name = "New";
  ASSERT_TRUE(AddToPrinterInfoFile(path_, {p}).ok());
  EXPECT_EQ(Read(),
            "[PRINTERS]\r\nOld=\r\nNew=\r\n\r\n[New]\r\nIPaddr=\r\nPaperSize=-1\r\nForms=文書の設定用紙\r\n"
            "Size=(,)\r\nMargin=(,,,)\r\n\r\n");
}

TEST(PrinterList, LocalListCheckAgainstInstalledPrinters) {
  const std::string list = "[PRINTERS]\r\nOffice=\r\nGone=\r\nZelvora=\r\n\r\n";
  using U = PrinterListUpdate;
  struct Case {
    const std::string* text;
    std::vector<std::string> installed;
    std::vector<std::pair<U::Mode, std::vector<std::string>>> want;
  } cases[] = {
      {nullptr, {"Office"}, {{U::kFull, {}}}},
      {&list, {"Office", "Gone"}, {}},
      {&list, {"Zelvora", "office", "New", "Office"}, {{U::kDelete, {"Gone"}}, {U::kAdd, {"office", "New"}}}},
      {&list, {}, {{U::kDelete, {"Office", "Gone"}}}},
  };
  for (const auto& c : cases) {
    auto got = LocalListUpdates(c.text, c.installed);
    ASSERT_EQ(got.size(), c.want.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].mode, c.want[i].first);
      EXPECT_EQ(got[i].names, c.want[i].second);
      EXPECT_EQ(got[i].first_build, c.text == nullptr);
    }
  }
}

TEST(Progress, ModesAndSteps) {
  ProgressModel p;
  p.Open(ProgressModel::kFirstBuild, 7);
  EXPECT_EQ(p.counter(), " 1/ 7");
  EXPECT_EQ(p.title(), "Zelvora起動準備中...");
  EXPECT_TRUE(p.count_label_visible());
  p.Open(ProgressModel::kConfigChanged, 3);
  EXPECT_EQ(p.message(), "プリンタ構成に変更がありました。\n情報を取得しています。\nしばらくお待ちください...");
  std::vector<int> positions;
  for (int done = 1; done <= 3; ++done) {
    p.Step(done);
    positions.push_back(p.position());
  }
  EXPECT_EQ(positions, (std::vector<int>{33, 66, 99}));
  p.Open(ProgressModel::kPrinting, 0);
  EXPECT_EQ(p.title(), "印刷実行中");
  EXPECT_FALSE(p.count_label_visible());
  p.Step(1);  // a total of 0 divides nothing
  EXPECT_EQ(p.position(), 0);
  // Printing: the counter keeps the last gathering's total until the first side's label.
  p.Open(ProgressModel::kPrinting, 7);
  p.PrintSide("", 0);
  EXPECT_EQ(p.counter(), " 1/ 7");
  p.PrintSide("  2/  2 ページ", 100);
  EXPECT_EQ(p.counter(), "  2/  2 ページ");
  EXPECT_EQ(p.position(), 100);
}

}  // namespace
}  // namespace zv::client
