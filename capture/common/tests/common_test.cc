#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "capture/common/blocks.h"
#include "capture/common/kept.h"
#include "capture/common/title.h"
#include "platform/testing/temp_root.h"

namespace zv::capture {
namespace {

TEST(DocumentTitle, DropsPrefixesAndMakesFileNameCharactersFullWidth) {
  struct Case {
    std::string name, title;
  } cases[] = {
      {"Microsoft Word - report.DOC", "report"},
      {"Microsoft Word - report.doc", "report"},
      {"Microsoft Word - report.txt", "report\x81\x44txt"},  // report．txt
      {"\x88\xF3\x8D\xFC\x81\x69memo\x81\x6A", "memo"},      // 印刷（memo）
      {"a/b?.xls",
       "a\x81\x5E"
       "b\x81\x48"},  // a／b？
      {"Microsoft PowerPoint - x:y", "x\x81\x46y"},
      {"say \"hi\" \\ |", "say \x81\x68hi\x81\x68 \x81\x8F \x81\x62"},
      {"\x81\x20z", "\x81\x40z"},    // trail below 0x40
      {"tab\there\x7F", "tabhere"},  // control bytes dropped
      {"end\x82", "end"},            // lone lead byte
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(DeriveDocumentTitle(c.name), c.title) << c.name;
}

TEST(DocumentTitle, LongNamesStopBeforeTheLimitWithoutSplittingACharacter) {
  std::string name(1, 'a');
  for (int i = 0; i < 200; ++i) name += "\x82\xA0";  // あ
  std::string title = DeriveDocumentTitle(name);
  EXPECT_LE(title.size(), kMaxTitleBytes);
  EXPECT_EQ(title.size(), 259u);  // 1 + 129 two-byte characters
  std::string dots(400, '.');
  EXPECT_EQ(DeriveDocumentTitle(dots).size(), 258u);  // full-width dots, whole ones only
  EXPECT_EQ(TitleToUtf8("\x88\xF3\x8D\xFC \x81\x8F"), "印刷 ￥");
}

TEST(SettingsBlocks, SizesAndStorableRecords) {
  int blocks = 0;
  for (int s = 0; s < kSlotCount; ++s)
    for (int k = 0; k < kKindCount; ++k) blocks += SlotBlockSize(s, k) != 0;
  EXPECT_EQ(blocks, 27);
  EXPECT_EQ(SlotBlockSize(7, 3), 14u);
  EXPECT_EQ(SlotBlockSize(10, 3), 10u);
  EXPECT_EQ(SlotBlockSize(3, 2), 12u);
  EXPECT_EQ(SlotBlockSize(5, 0), 0u);
  EXPECT_EQ(SlotBlockSize(8, 2), 0u);

  auto ok = BuildOutputRecord(3, {"/out/", "/out/n.txt"});
  EXPECT_TRUE(CheckStorableRecord(ok).ok());
  auto parsed = ParseOutputRecord(ok);
  ASSERT_TRUE(parsed.ok());
  EXPECT_EQ(parsed->location, "/out/");
  EXPECT_EQ(parsed->notice, "/out/n.txt");

  auto with = [](std::uint32_t size, int slot, int kind, std::size_t have) {
    std::vector<std::byte> r(have);
    std::memcpy(r.data(), &size, 4);
    r[4] = std::byte(slot);
    r[5] = std::byte(kind);
    return CheckStorableRecord(r).ok();
  };
  EXPECT_FALSE(with(5, 3, 1, 6));     // below the head
  EXPECT_FALSE(with(100, 3, 1, 50));  // larger than its bytes
  EXPECT_FALSE(with(20, 5, 0, 20));   // slot without blocks
  EXPECT_FALSE(with(20, 12, 0, 20));
  EXPECT_FALSE(with(20, 3, 3, 20));  // kind without a block in that slot
  EXPECT_FALSE(with(13, 3, 2, 13));  // larger than the 12-byte block
  EXPECT_TRUE(with(12, 3, 2, 12));

  auto conv = BuildConverterRecord(1, {100, "pdf", "liblumbrel.so"});
  EXPECT_EQ(conv.size(), 27u + 13u);
  auto back = ParseConverterRecord(conv);
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(back->type, 100u);
  EXPECT_EQ(back->extension, "pdf");
  EXPECT_EQ(back->module, "liblumbrel.so");
  EXPECT_FALSE(ParseConverterRecord(std::span(conv).first(20)).ok());
}

TEST(SettingsBlocks, InitFormatDecodesToAValidRecordWhateverItsLength) {
  auto def = DecodeInitFormat(std::nullopt);
  EXPECT_EQ(def[0], 35);
  EXPECT_EQ(def[2], 1);
  EXPECT_EQ(def[4] + def[5] + def[6], 3);

  std::vector<std::uint8_t> full(35);
  for (int i = 0; i < 35; ++i) full[i] = static_cast<std::uint8_t>(30 + i + 7);
  full[0] = 65;  // 35 + 30
  auto all = DecodeInitFormat(full);
  EXPECT_EQ(all[0], 35);
  EXPECT_EQ(all[34], 34 + 7);

  std::vector<std::uint8_t> short_value = {65, 30 + 9};  // names 35 bytes, holds 2
  auto s = DecodeInitFormat(short_value);
  EXPECT_EQ(s[1], 9);
  EXPECT_EQ(s[2], 1);  // the rest stays the default
  std::vector<std::uint8_t> long_value(80, 30 + 4);
  long_value[0] = 200;  // names more than 35
  EXPECT_EQ(DecodeInitFormat(long_value)[34], 4);
  std::vector<std::uint8_t> three = {33, 40, 41};  // names 3 bytes
  auto t = DecodeInitFormat(three);
  EXPECT_EQ(t[1], 10);
  EXPECT_EQ(t[2], 11);
  EXPECT_EQ(t[4], 1);
}

// The temporary folder is swept of what no process holds: a locked capture file (one being
// written) and a spared one stay, page files go only when asked; kept jobs come back in the
// order they were first kept, however often they were kept again.
TEST(KeptCaptures, SweepSparesLockedFilesAndKeptJobsKeepTheirOrder) {
  testing::TempRoot root;
  const std::string tmp = root.str() + "/tmp";
  std::filesystem::create_directories(tmp);
  for (const char* name : {"WXQ00000001.tmp", "WXQ00000002.tmp", "WXQ00000003.tmp", "PRC00000001.tmp", "other.tmp"})
    std::ofstream(tmp + "/" + name) << "x";
  const int lock = LockCaptureFile(tmp + "/WXQ00000001.tmp");
  ASSERT_GE(lock, 0);
  EXPECT_EQ(SweepCaptureFolder(tmp, {"WXQ00000002.tmp"}, false), std::vector<std::string>{"WXQ00000003.tmp"});
  EXPECT_EQ(SweepCaptureFolder(tmp, {"WXQ00000002.tmp"}, true), std::vector<std::string>{"PRC00000001.tmp"});
  EXPECT_EQ(CaptureNames(tmp), (std::set<std::string>{"WXQ00000001.tmp", "WXQ00000002.tmp"}));
  EXPECT_TRUE(std::filesystem::exists(tmp + "/other.tmp"));
  ::close(lock);

  // Kept: 2 first, then 1; 2 taken out and kept again keeps its place.
  ASSERT_TRUE(KeepCapture(tmp + "/WXQ00000002.tmp", "/bin/ostrane", "第二").ok());
  ASSERT_TRUE(KeepCapture(tmp + "/WXQ00000001.tmp", "/bin/ostrane", "first").ok());
  const std::string kept = KeptFolder(tmp);
  EXPECT_EQ(kept, root.str() + "/kept");
  auto jobs = ListKeptJobs(kept);
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_EQ(jobs[0].title, "第二");
  EXPECT_EQ(jobs[0].program, "/bin/ostrane");
  ASSERT_EQ(::rename(jobs[0].path.c_str(), (tmp + "/WXQ00000002.tmp").c_str()), 0);
  ForgetKeptJob(jobs[0]);
  ASSERT_TRUE(KeepCapture(tmp + "/WXQ00000002.tmp", jobs[0].program, jobs[0].title, jobs[0].order).ok());
  jobs = ListKeptJobs(kept);
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_EQ(jobs[0].path, kept + "/WXQ00000002.tmp");
  EXPECT_EQ(jobs[1].path, kept + "/WXQ00000001.tmp");
  EXPECT_TRUE(CaptureNames(tmp).empty());
}

}  // namespace
}  // namespace zv::capture
