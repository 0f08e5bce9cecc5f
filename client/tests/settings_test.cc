#include <gtest/gtest.h>

#include "client/header_formats.h"
#include "client/settings_store.h"
#include "platform/fs/files.h"
#include "platform/registry/registry.h"
#include "platform/testing/temp_root.h"

namespace zv::client {
namespace {

TEST(Settings, FirstStartTakesTheDefaultsAndSaysValuesWereMissing) {
  zv::testing::TempRoot root;
  ClientSettings s;
  auto all = LoadSettings(&s, "/opt/app", false);
  ASSERT_TRUE(all.ok());
  EXPECT_FALSE(*all);
  ClientSettings want;
  want.auto_save_dir = "/opt/app";
  EXPECT_EQ(s, want);
  auto conv = registry::Key::Open(registry::RootKey::kCurrentUser, kConvKey);
  ASSERT_TRUE(conv.ok());
  EXPECT_EQ(*conv->GetDword("OutKind"), 0u);

  // Saved and loaded again: every value is there and comes back.
  s.thumbnail = 2;
  s.lodrin = 2;
  s.page_line = 3;
  s.t_offset = ToTenths(2.3f);
  s.l_offset = ToTenths(33.3);
  s.dest_size = ToTenths(95.5);
  s.output_printer = "Office";
  s.paper_size = 8;
  s.collate = 1;
  s.max_pages = 100;
  s.real_count = 10;
  s.original_count = 40;
  s.def_printer = "Front";
  ASSERT_TRUE(SaveSettings(s, 2, 5).ok());
  ClientSettings back;
  all = LoadSettings(&back, "/opt/app", false);
  ASSERT_TRUE(all.ok());
  EXPECT_TRUE(*all);
  EXPECT_EQ(back.t_offset, 23);  // 2.3 mm, not 22
  EXPECT_EQ(back.l_offset, 333);
  EXPECT_EQ(back.dest_size, 955);
  EXPECT_EQ(back.real_count, 12);  // the job being printed counts in what is written
  EXPECT_EQ(back.original_count, 45);
  back.real_count = s.real_count;
  back.original_count = s.original_count;
  EXPECT_EQ(back, s);
}

TEST(Settings, DefSettingResetsAtEveryStart) {
  zv::testing::TempRoot root;
  ClientSettings s;
  s.thumbnail = 3;
  s.lodrin = 2;
  s.page_line = 2;
  s.t_offset = 5;
  s.l_offset = 6;
  s.dest_size = 500;
  s.output_printer = "Back";
  s.paper_size = 8;
  s.def_printer = "Front";
  s.def_yousi_size = 11;
  struct Case {
    uint32_t bits;
    bool auto_print;
    int thumbnail, paper;
    std::string printer;
  } cases[] = {
      {0x00, false, 3, 8, "Back"},
      {0xFF, false, 0, 11, "Front"},
      {0x00, true, 3, 9, "Back"},  // AutoPrint: A4
      {0x02, true, 3, 11, "Back"},
  };
  for (const auto& c : cases) {
    s.def_setting = c.bits;
    ASSERT_TRUE(SaveSettings(s).ok());
    ClientSettings got;
    ASSERT_TRUE(LoadSettings(&got, "/a", c.auto_print).ok());
    EXPECT_EQ(got.thumbnail, c.thumbnail) << c.bits;
    EXPECT_EQ(got.paper_size, c.paper) << c.bits;
    EXPECT_EQ(got.output_printer, c.printer) << c.bits;
    bool reset = c.bits == 0xFF;
    EXPECT_EQ(got.dest_size, reset ? 1000 : 500);
    EXPECT_EQ(got.lodrin, reset ? 1 : 2);
    EXPECT_EQ(got.t_offset, reset ? 0 : 5);
  }
}

TEST(Settings, WindowRectServerValuesAndStats) {
  zv::testing::TempRoot root;
  EXPECT_EQ(LoadWindowRect(1920, 1080), (WindowRect{0, 0, 590, 485}));
  ClientSettings s;
  s.left = 100;
  s.top = 50;
  s.width = 600;
  s.height = 500;
  ASSERT_TRUE(SaveSettings(s).ok());
  EXPECT_EQ(LoadWindowRect(1920, 1080), (WindowRect{100, 50, 700, 550}));
  s.left = -150;
  ASSERT_TRUE(SaveSettings(s).ok());
  EXPECT_EQ(LoadWindowRect(1920, 1080), (WindowRect{0, 0, 590, 485}));

  QuotaState q;
  q.kind = kKindDays;
  q.days = 30;
  q.limit_date = 20260430;
  ASSERT_TRUE(SaveServerSettings("\\\\SRV", q).ok());
  auto key = registry::Key::Open(registry::RootKey::kLocalMachine, "Software\\Orbelin\\Zelvora\\1.0");
  ASSERT_TRUE(key.ok());
  EXPECT_EQ(*key->GetDword("CheckRange"), 0x80000000u | 30u);
  EXPECT_EQ(*key->GetString("ServerName"), "\\\\SRV");

  EXPECT_EQ(SavingStatsText(0, 0), "削減率: 0.0%  印刷枚数:0 総ﾍﾟｰｼﾞ数:0");
  EXPECT_EQ(SavingStatsText(30, 40), "削減率:25.0%  印刷枚数:30 総ﾍﾟｰｼﾞ数:40");
}

TEST(HeaderFormats, TenItemsRoundTripInOrder) {
  zv::testing::TempRoot root;
  HeaderFormatList list;
  list.Load(root.str());  // no file: an empty list
  EXPECT_TRUE(list.items().empty());
  RecordingPrompt prompt;
  for (int i = 0; i < 10; ++i)
    ASSERT_TRUE(list.Add("書式" + std::to_string(i), "<日付>", "社外秘 " + std::to_string(i), "<ページ>", &prompt));
  ASSERT_TRUE(list.Save(root.str()).ok());
  std::string text = *fs::ReadFile(root.str() + "/Format.fmt");
  EXPECT_EQ(text.rfind("[HEADERFORMAT]\r\nNO0=書式0\r\nNO1=書式1\r\n", 0), 0u);
  EXPECT_NE(
      text.find("\r\nNO10=\r\n[書式0]\r\nFORMATLEFT=<日付>\r\nFORMATCENTER=社外秘 0\r\nFORMATRIGHT=<ページ>\r\n\r\n"),
      std::string::npos);
  HeaderFormatList back;
  back.Load(root.str());
  EXPECT_EQ(back.items(), list.items());
  EXPECT_EQ(back.selection(), 0);

  // An item without a name ends the written list.
  std::vector<HeaderFormatItem> items = list.items();
  items[3].name.clear();
  EXPECT_EQ(ParseFormatFile(ComposeFormatFile(items)).size(), 3u);
}

TEST(HeaderFormats, RenameDeleteAndAddRules) {
  HeaderFormatList list;
  RecordingPrompt prompt;
  ASSERT_TRUE(list.Add("なし", "", "", "", &prompt));
  ASSERT_TRUE(list.Add("A", "l", "c", "r", &prompt));
  ASSERT_TRUE(list.Add("B", "", "", "", &prompt));
  EXPECT_FALSE(list.Add("A", "", "", "", &prompt));
  EXPECT_FALSE(list.Add(std::string(257, 'x'), "", "", "", &prompt));
  EXPECT_TRUE(list.Add(std::string(256, 'x'), "", "", "", &prompt));
  list.Select(0);
  EXPECT_FALSE(list.Rename("Z", &prompt));
  EXPECT_FALSE(list.DeleteSelected(&prompt));
  list.Select(1);
  EXPECT_FALSE(list.Rename("B", &prompt));
  EXPECT_FALSE(list.Rename("", &prompt));  // nothing, no message
  EXPECT_TRUE(list.Rename("A2", &prompt));
  std::vector<std::string> texts;
  for (const auto& s : prompt.shown) texts.push_back(s.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"その項目名は登録済みです。", "入力値が適切ではありません。",
                                             "項目[なし]の名前は変更できません。", "項目[なし]は削除できません。",
                                             "その項目名は登録済みです。"}));
  // Deleting the last item selects the one before it; deleting the only one leaves none.
  list.Select(3);
  prompt.answer = PromptAnswer::kYes;
  ASSERT_TRUE(list.DeleteSelected(&prompt));
  EXPECT_EQ(list.selection(), 2);
  prompt.answer = PromptAnswer::kNo;
  EXPECT_FALSE(list.DeleteSelected(&prompt));
  EXPECT_EQ(list.items().size(), 3u);
}

TEST(HeaderFormats, NamesThatWouldBreakTheFileAreRefused) {
  struct Case {
    std::string name;
    bool taken;
  } cases[] = {
      {"HEADERFORMAT", false},
      {"headerformat", false},
      {"a[b", false},
      {"a]b", false},
      {"NO1=x", false},
      {"tab\there", false},
      {std::string("a\x7f"), false},
      {"報告書 (社外)", true},
      {"HEADERFORMAT2", true},
      // The reader matches sections without regard to case: one name for two would give
      // the second format the first one's texts.
      {"MEMO", false},
      {"Memo2", true},
  };
  for (const auto& c : cases) {
    HeaderFormatList list;
    RecordingPrompt prompt;
    ASSERT_TRUE(list.Add("なし", "", "", "", &prompt));
    ASSERT_TRUE(list.Add("Memo", "", "", "", &prompt));
    EXPECT_EQ(list.Add(c.name, "l", "", "", &prompt), c.taken) << c.name;
    EXPECT_EQ(prompt.shown.empty(), c.taken) << c.name;
    // What was taken reads back whole from the file.
    EXPECT_EQ(ParseFormatFile(ComposeFormatFile(list.items())), list.items()) << c.name;
  }
}

TEST(HeaderFormats, TokenExpansion) {
  TokenValues v{2024, 5, 1, 9, 7, false, "tanaka", "PC01", "Office"};
  struct Case {
    const char* in;
    bool ctrl;
    const char* out;
  } cases[] = {
      {"<日付> <時刻>", false, "2024/05/01 09:07"},
      {"<日付>", true, "2024.05.01"},
      {"<ユーザ名>@<マシン名> <プリンタ名><プリンタ名>", false, "tanaka@PC01 OfficeOffice"},
      {"<ページ>/<総ページ><改行>", false, "<ページ>/<総ページ><改行>"},
      {"", false, ""},
  };
  for (const auto& c : cases) {
    v.ctrl_down = c.ctrl;
    EXPECT_EQ(ExpandHeaderTokens(c.in, v), c.out) << c.in;
  }
}

}  // namespace
}  // namespace zv::client
