#include "viewer/viewer_doc.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "platform/testing/temp_root.h"
#include "viewer/tests/fixtures.h"

namespace zv::viewer {
namespace {

using testing::Bytes;
namespace fs = std::filesystem;

struct Recorder : DocumentView {
  std::vector<std::pair<std::uint32_t, std::uint64_t>> got;
  void OnDocumentNotice(std::uint32_t n, std::uint64_t w) override { got.emplace_back(n, w); }
};

// Gives, for each page of the document, which page of the original fixture it is (the
// fixture's pages differ in size); 'B' marks a blank page.
std::string Order(CViewerDoc& doc, const std::map<std::uint32_t, char>& by_size) {
  std::string s;
  for (int i = 0; i < doc.page_count(); ++i) {
    ViewerPage* p = doc.page(i);
    if (p->blank()) {
      s += 'B';
      continue;
    }
    auto it = by_size.find(p->data_size());
    s += it == by_size.end() ? '?' : it->second;
  }
  return s;
}

class ViewerDocTest : public ::testing::Test {
 protected:
  void Load(CViewerDoc& doc, int pages) {
    jobdoc::DocumentImage d = testing::MakeDocument(pages);
    for (int i = 0; i < pages; ++i) by_size_[std::uint32_t(d.pages[i].metafile.size())] = char('0' + i);
    image_ = testing::ImageOf(d);
    ASSERT_EQ(doc.LoadFromBuffer(image_, std::uint16_t(pages)), 1);
  }
  zv::testing::TempRoot root_;
  Bytes image_;
  std::map<std::uint32_t, char> by_size_;
};

TEST_F(ViewerDocTest, LoadsPagesTextsAndPasswordsPerDocument) {
  jobdoc::DocumentImage d = testing::MakeDocument(3);
  d.text2 = "second";
  d.pages[2].attributes = testing::A4(/*landscape=*/true);
  d.format.flags = jobdoc::kFormatViewPassword;
  const char pw[] = "abc";
  for (int i = 0; i < 3; ++i) d.format.view_password[i] = std::uint8_t(pw[i] + 1);
  Bytes image = testing::ImageOf(d);
  CViewerDoc locked, open;
  ASSERT_EQ(locked.LoadFromBuffer(image, 3), 1);
  EXPECT_EQ(locked.page_count(), 3);
  EXPECT_EQ(locked.name(), "doc");
  EXPECT_EQ(locked.text2(), "second");
  EXPECT_TRUE(locked.view_password_set());
  EXPECT_EQ(locked.view_password(), "abc");
  ASSERT_EQ(open.LoadFromBuffer(testing::ImageOf(testing::MakeDocument(1)), 1), 1);
  EXPECT_FALSE(open.view_password_set());
  EXPECT_TRUE(locked.view_password_set()) << "the flag belongs to its document";
  // Extents: A4 portrait 2100 x 2970 in 1/28800 inch, swapped for landscape.
  EXPECT_EQ(locked.page(0)->extent_x(), 2100 * 28800 / 254);
  EXPECT_EQ(locked.page(0)->extent_y(), 2970 * 28800 / 254);
  EXPECT_TRUE(locked.page(2)->landscape());
  EXPECT_EQ(locked.page(2)->extent_x(), 2970 * 28800 / 254);
}

TEST_F(ViewerDocTest, BadImagesFailWithoutPages) {
  CViewerDoc doc;
  Bytes image = testing::ImageOf(testing::MakeDocument(2));
  struct Case {
    const char* what;
    Bytes bytes;
    std::uint16_t count;
    bool no_chain;
  } cases[] = {
      {"empty", {}, 1, false},
      {"record only with count 0", Bytes(image.begin(), image.begin() + 35), 0, true},
      {"record with a chain offset but nothing behind it", Bytes(image.begin(), image.begin() + 35), 3, false},
      {"record and a chain end byte", Bytes(image.begin(), image.begin() + 36), 3, true},
      {"cut inside page 1", Bytes(image.begin(), image.begin() + 60), 1, false},
  };
  for (auto& c : cases) {
    if (c.no_chain) c.bytes[22] = c.bytes[23] = c.bytes[24] = c.bytes[25] = 0;
    EXPECT_EQ(doc.LoadFromBuffer(c.bytes, c.count), 0) << c.what;
    EXPECT_EQ(doc.page_count(), 0) << c.what;
  }
}

TEST_F(ViewerDocTest, RecordAloneStartsADocumentWhosePagesFollow) {
  // The client's way of opening: the 35-byte record first, then each page by AppendData.
  jobdoc::DocumentImage d = testing::MakeDocument(2);
  Bytes image = testing::ImageOf(d);
  Bytes record(image.begin(), image.begin() + 35);
  record[22] = record[23] = record[24] = record[25] = 0;
  CViewerDoc doc;
  ASSERT_EQ(doc.LoadFromBuffer(record, 2), 1);
  EXPECT_EQ(doc.page_count(), 0);
  EXPECT_EQ(doc.expected_last_page(), 1);
  for (const auto& p : d.pages)
    ASSERT_EQ(doc.AppendData(0x8000, p.attributes.word, p.attributes.width, p.attributes.length, p.metafile, 0, 0), 1);
  EXPECT_EQ(doc.page_count(), 2);
}

TEST_F(ViewerDocTest, LargePagesLiveInTemporaryFilesRemovedWithTheDocument) {
  Bytes small = testing::BlankA4Page(20480), large = testing::BlankA4Page(20484);
  ASSERT_EQ(small.size(), 20480u);
  ASSERT_EQ(large.size(), 20484u);
  std::string path;
  {
    CViewerDoc doc;
    ASSERT_EQ(doc.AppendData(0x8000, 9, 2100, 2970, small, 0, 0), 1);
    ASSERT_EQ(doc.AppendData(0x8000, 9, 2100, 2970, large, 0, 0), 1);
    EXPECT_TRUE(doc.page(0)->file_path().empty());
    path = doc.page(1)->file_path();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(fs::path(path).filename().string().rfind("PRC", 0), 0u);
    auto data = doc.page(1)->GetPageData();
    EXPECT_TRUE(std::equal(data.begin(), data.end(), large.begin(), large.end()));
    doc.page(1)->ReleasePageData();
    EXPECT_EQ(doc.page(1)->use_count(), 0);
    EXPECT_TRUE(fs::exists(path));
  }
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(ViewerDocTest, AppendDataReadsOnlyWhatItIsGiven) {
  Bytes page = testing::BlankA4Page();
  Bytes with_trailer = page;
  for (std::uint32_t v : {36u, 1u, 2u, 9u, 2u, 2100u, 2970u, 3u, 4u}) {
    for (int k = 0; k < 4; ++k) with_trailer.push_back(std::uint8_t(v >> (8 * k)));
  }
  Bytes cut(page.begin(), page.end() - 8);
  Bytes not_emf = page;
  not_emf[0] = 2;
  struct Case {
    const char* what;
    Bytes data;
    std::uint16_t index;
    int result;
  } cases[] = {
      {"page alone", page, 0x8000, 1},
      {"page and trailer", with_trailer, 0x8000, 1},
      {"metafile cut short", cut, 0x8000, 0},
      {"not a metafile", not_emf, 0x8000, 0},
      {"four bytes", Bytes{1, 0, 0, 0}, 0x8000, 0},
      {"insert beyond the end", page, 7, 0},
      {"insert before page 0", page, 0, 1},
  };
  CViewerDoc doc;
  int expected_pages = 0;
  for (const Case& c : cases) {
    EXPECT_EQ(doc.AppendData(c.index, 9, 2100, 2970, c.data, 0, 0), c.result) << c.what;
    expected_pages += c.result;
    EXPECT_EQ(doc.page_count(), expected_pages) << c.what;
  }
  // The page that came with a trailer keeps it; the others get one filled from the page.
  const std::uint8_t* t = doc.page(2)->trailer();
  EXPECT_EQ(t[4], 1);
  EXPECT_EQ(t[28], 3);
  EXPECT_EQ(doc.page(1)->trailer()[0], 36);
  EXPECT_EQ(doc.page(1)->trailer()[16], 1);
}

TEST_F(ViewerDocTest, PageEditingTable) {
  struct Case {
    const char* what;
    int pages;
    std::function<int(CViewerDoc&)> op;
    int result;
    const char* order;
  } cases[] = {
      {"move 2-3 behind 6", 8, [](CViewerDoc& d) { return d.MovePages(2, 3, 6); }, 1, "01456237"},
      {"move 5 to the front", 8, [](CViewerDoc& d) { return d.MovePages(5, 5, 0); }, 1, "50123467"},
      {"move to the end", 4, [](CViewerDoc& d) { return d.MovePages(0, 1, 4); }, 1, "2301"},
      {"move a bad range", 4, [](CViewerDoc& d) { return d.MovePages(3, 2, 0); }, 0, "0123"},
      {"move past the end", 4, [](CViewerDoc& d) { return d.MovePages(0, 4, 0); }, 0, "0123"},
      {"delete page 1", 3, [](CViewerDoc& d) { return d.DeletePage(1, 1); }, 1, "02"},
      {"delete page -1", 3, [](CViewerDoc& d) { return d.DeletePage(-1, 1); }, 0, "012"},
      {"delete page 3 of 3", 3, [](CViewerDoc& d) { return d.DeletePage(3, 1); }, 0, "012"},
      {"delete pages 1-3", 5, [](CViewerDoc& d) { return d.DeletePages(1, 3); }, 1, "04"},
      {"delete pages 2-9", 5, [](CViewerDoc& d) { return d.DeletePages(2, 9); }, 0, "01234"},
      {"copy 2, paste at 0", 3, [](CViewerDoc& d) { return d.CopyPage(2) && d.PastePage(0); }, 1, "2012"},
      {"copy 3 of 3", 3, [](CViewerDoc& d) { return d.CopyPage(3); }, 0, "012"},
      {"paste with nothing held", 2, [](CViewerDoc& d) { return d.PastePage(0); }, 0, "01"},
      {"copy survives deleting the page", 2,
       [](CViewerDoc& d) { return d.CopyPage(1) && d.DeletePage(1, 0) && d.PastePage(1); }, 1, "01"},
      {"blank page at 1", 3, [](CViewerDoc& d) { return d.InsertBlankPage(1); }, 1, "0B12"},
      {"blank page at the end", 2, [](CViewerDoc& d) { return d.InsertBlankPage(2); }, 1, "01B"},
      {"blank page beyond", 2, [](CViewerDoc& d) { return d.InsertBlankPage(3); }, 0, "01"},
  };
  for (const Case& c : cases) {
    CViewerDoc doc;
    Load(doc, c.pages);
    EXPECT_EQ(c.op(doc), c.result) << c.what;
    EXPECT_EQ(Order(doc, by_size_), c.order) << c.what;
  }
}

TEST_F(ViewerDocTest, BlankPageIsACompleteMetafileWithPageZerosPaper) {
  CViewerDoc doc;
  jobdoc::DocumentImage d = testing::MakeDocument(1);
  d.pages[0].attributes = testing::A4(true);
  ASSERT_EQ(doc.LoadFromBuffer(testing::ImageOf(d), 1), 1);
  ASSERT_EQ(doc.InsertBlankPage(0), 1);
  ViewerPage* blank = doc.page(0);
  EXPECT_TRUE(blank->blank());
  EXPECT_FALSE(doc.page(1)->blank());
  EXPECT_EQ(blank->attributes(), doc.page(1)->attributes());
  EXPECT_EQ(blank->extent_x(), doc.page(1)->extent_x());
  auto data = blank->GetPageData();
  // Header and EMR_EOF: the last record is type 14 and nBytes is the whole size.
  ASSERT_GE(data.size(), 108u + 20u);
  std::uint32_t n, last;
  std::memcpy(&n, data.data() + 48, 4);
  std::memcpy(&last, data.data() + data.size() - 20, 4);
  EXPECT_EQ(n, data.size());
  EXPECT_EQ(last, 14u);
  blank->ReleasePageData();
  // Copies keep the mark; ordinary pages never get it from their trailer bytes.
  ASSERT_EQ(doc.CopyPage(0), 1);
  ASSERT_EQ(doc.PastePage(2), 1);
  EXPECT_TRUE(doc.page(2)->blank());
}

TEST_F(ViewerDocTest, PlaceholderTable) {
  CViewerDoc doc;
  struct Case {
    const char* text;
    int page, total;
    int result;
    const char* target;
  } cases[] = {
      {"<ページ>/<総ページ>", 3, 10, 1, "3/10"},
      {"p<ページ> of <総ページ> (<ページ>)", 2, 5, 1, "p2 of 5 (2)"},
      {"no placeholder", 1, 1, 0, "no placeholder"},
      {"<総ページ>", 1, 42, 1, "42"},
      {"<ページ", 1, 1, 0, "<ページ"},
      {"", 3, 10, 0, "untouched"},
  };
  for (const Case& c : cases) {
    std::string target = "untouched";
    EXPECT_EQ(doc.ReplacePagePlaceholders(c.text, c.page, &target, c.total) != 0, c.result != 0) << c.text;
    EXPECT_EQ(target, c.target) << c.text;
  }
  std::string t;
  EXPECT_EQ(doc.ReplacePageNumber("<ページ>/<総ページ>", 4, &t), 1);
  EXPECT_EQ(t, "4/<総ページ>");
}

TEST_F(ViewerDocTest, AttachmentsStayInsideTheDocumentsFolder) {
  jobdoc::DocumentImage d = testing::MakeDocument(1);
  const std::vector<std::string> names = {"report.txt", "../../escape.txt", "a\\b\\report.txt",
                                          "..",         "/etc/passwd",      "report.txt"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    jobdoc::Attachment a;
    a.name = names[i];
    a.data = Bytes(10 + i, std::uint8_t('a' + i));
    a.last_write_time = win::FileTimeFromUnixNanos(std::int64_t(1500000000) * 1000000000);
    d.attachments.push_back(a);
  }
  std::string folder;
  {
    CViewerDoc doc;
    ASSERT_EQ(doc.LoadFromBuffer(testing::ImageOf(d), 1), 1);
    ASSERT_EQ(doc.attachments().size(), names.size());
    folder = doc.temp_folder();
    ASSERT_FALSE(folder.empty());
    std::vector<std::string> files;
    for (std::size_t i = 0; i < names.size(); ++i) {
      const AttachmentFile& a = doc.attachments()[i];
      EXPECT_EQ(a.name, names[i]);
      EXPECT_EQ(fs::path(a.path).parent_path(), fs::path(folder)) << a.path;
      std::ifstream in(a.path, std::ios::binary);
      Bytes got((std::istreambuf_iterator<char>(in)), {});
      EXPECT_EQ(got, d.attachments[i].data) << a.path;
      struct stat st;
      ASSERT_EQ(stat(a.path.c_str(), &st), 0);
      EXPECT_EQ(st.st_mtime, 1500000000);
      files.push_back(fs::path(a.path).filename().string());
    }
    EXPECT_EQ(files, (std::vector<std::string>{"report.txt", "escape.txt", "report_.txt", "attachment", "passwd",
                                               "report__.txt"}));
    EXPECT_FALSE(fs::exists(root_.path() / "escape.txt"));
  }
  EXPECT_FALSE(fs::exists(folder)) << "the attachment folder goes with the document";
}

TEST_F(ViewerDocTest, SaveAttachmentsAsksBeforeOverwriting) {
  jobdoc::DocumentImage d = testing::MakeDocument(1);
  d.attachments.push_back(jobdoc::Attachment{{}, "one.txt", Bytes{'1'}});
  d.attachments.push_back(jobdoc::Attachment{{}, "sub\\two.txt", Bytes{'2'}});
  CViewerDoc doc;
  ASSERT_EQ(doc.LoadFromBuffer(testing::ImageOf(d), 1), 1);
  const fs::path out = root_.path() / "out";
  fs::create_directories(out);
  auto read = [](const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
  };
  int asked = 0;
  EXPECT_EQ(doc.SaveAttachments(out.string(),
                                [&] {
                                  ++asked;
                                  return true;
                                }),
            SaveOutcome::kAllSaved);
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(read(out / "two.txt"), "2");
  // Both names exist now: "stop" at the first conflict leaves the second file alone.
  std::ofstream(out / "one.txt") << "old";
  std::ofstream(out / "two.txt") << "old";
  EXPECT_EQ(doc.SaveAttachments(out.string(),
                                [&] {
                                  ++asked;
                                  return true;
                                }),
            SaveOutcome::kStopped);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(read(out / "one.txt"), "old");
  // "Go on" overwrites each.
  EXPECT_EQ(doc.SaveAttachments(out.string(),
                                [&] {
                                  ++asked;
                                  return false;
                                }),
            SaveOutcome::kAllSaved);
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(read(out / "one.txt"), "1");
  EXPECT_EQ(read(out / "two.txt"), "2");
  CViewerDoc empty;
  EXPECT_EQ(empty.SaveAttachments(out.string(), nullptr), SaveOutcome::kNothingToSave);
}

TEST_F(ViewerDocTest, ProgressNoticesReachAttachedViews) {
  CViewerDoc doc;
  Recorder early;
  doc.AttachView(&early);
  EXPECT_EQ(early.got, (decltype(early.got){{kNoticeReady, 0}}));
  early.got.clear();
  Load(doc, 3);
  // Reset, then progress per page after the first, the finish and ready once all are in.
  decltype(early.got) want = {
      {kNoticeReset, 0}, {kNoticeProgress, 1}, {kNoticeProgress, 2}, {kNoticeProgress, 0}, {kNoticeReady, 0}};
  EXPECT_EQ(early.got, want);
  Recorder late;
  doc.AttachView(&late);
  EXPECT_EQ(late.got, (decltype(late.got){{kNoticeProgress, 2}, {kNoticeProgress, 0}, {kNoticeReady, 0}}));
  late.got.clear();
  Bytes page = testing::BlankA4Page();
  ASSERT_EQ(doc.AppendData(0x8000, 9, 2100, 2970, page, 0, 1), 1);
  EXPECT_EQ(late.got,
            (decltype(late.got){{kNoticeProgress, 4}, {kNoticeReady, 0}, {kNoticeProgress, 0}, {kNoticeReady, 0}}));
  doc.DetachView(&late);
  EXPECT_EQ(late.got.back(), (std::pair<std::uint32_t, std::uint64_t>{kNoticeReset, 0}));
  const std::size_t before = late.got.size();
  doc.DeletePage(0, 1);
  EXPECT_EQ(late.got.size(), before);
}

TEST_F(ViewerDocTest, HeaderFooterAndFontRoundTrip) {
  CViewerDoc doc;
  int points = 0, rule = 0;
  doc.GetHeaderFooter(&points, nullptr, nullptr, &rule);
  EXPECT_EQ(points, 12);
  EXPECT_EQ(rule, -1);
  win::LOGFONTA lf{};
  doc.GetHeaderFooterFont(&lf);
  EXPECT_EQ(lf.lfHeight, -16);
  EXPECT_NE(lf.lfFaceName[0], 0);
  doc.SetHeaderFooter(0, "L", "C", "R", 1);
  doc.SetHeaderFooter(1, "fl", "", "fr", 0);
  lf.lfHeight = -20;
  doc.SetHeaderFooterFont(lf, 9);
  HeaderFooterTexts h, f;
  doc.GetHeaderFooter(&points, &h, &f, &rule);
  EXPECT_EQ(points, 9);
  EXPECT_EQ(rule, 0);
  EXPECT_EQ(h.centre, "C");
  EXPECT_EQ(f.right, "fr");
  win::LOGFONTA back{};
  doc.GetHeaderFooterFont(&back);
  EXPECT_EQ(back.lfHeight, -20);
}

}  // namespace
}  // namespace zv::viewer
