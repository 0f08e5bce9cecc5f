#include "client/client_doc.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "jobdoc/container.h"
#include "jobdoc/sample/sample_document.h"
#include "platform/codepage/codepage.h"
#include "platform/fs/files.h"
#include "platform/testing/temp_root.h"

namespace zv::client {
namespace {

namespace fsys = std::filesystem;

class ClientDocTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const jobdoc::DocumentImage& d, jobdoc::DocumentWriteMode mode) {
    std::string path = root_.str() + "/" + name;
    EXPECT_TRUE(jobdoc::WriteDocumentData(d, mode, path).ok());
    return path;
  }
  // Reads a written job document back with the job document reader.
  jobdoc::DocumentImage ReadBack(const std::string& path) {
    auto bytes = fs::ReadFile(path);
    EXPECT_TRUE(bytes.ok());
    if (!bytes.ok()) return {};
    auto state = jobdoc::NewCodecState();
    auto r = jobdoc::UnpackDocumentBytes(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size()), *state);
    EXPECT_TRUE(r.ok()) << r.message;
    if (!r.ok()) return {};
    EXPECT_EQ(r.document->version, 2);
    auto d = jobdoc::ReadDocumentImage(r.document->image(), false);
    EXPECT_TRUE(d.ok());
    return d.ok() ? *d : jobdoc::DocumentImage{};
  }
  zv::testing::TempRoot root_;
  RecordingPrompt prompt_;
};

TEST_F(ClientDocTest, CaptureFileNames) {
  struct Case {
    const char* path;
    bool capture;
  } cases[] = {
      {"/t/WXQ1a2b.tmp", true}, {"/t/wxq.TMP", true}, {"wxqABC.Tmp", true},   {"/t/XWQ1.tmp", false},
      {"/t/WXQ1.tmpx", false},  {"/t/WX.tmp", false}, {"/t/WXQ1.prc", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsCaptureFileName(c.path), c.capture) << c.path;
}

TEST_F(ClientDocTest, WrittenDocumentReadsBackTheSame) {
  jobdoc::DocumentImage d = jobdoc::sample::MakeDocument(6, 3, true, 500);
  d.format.client_mode = 2;
  const std::string in = Write("in.prc", d, jobdoc::DocumentWriteMode::kPacked);
  COstraneDoc doc;
  ASSERT_TRUE(doc.OnOpenDocument(in, "ignored", &prompt_));
  EXPECT_TRUE(prompt_.shown.empty());
  EXPECT_EQ(doc.GetAllPage(), 6);
  EXPECT_EQ(doc.mode(), 2);
  EXPECT_EQ(doc.name(), d.name);
  EXPECT_EQ(doc.text2(), d.text2);
  ASSERT_EQ(doc.attachments().size(), 1u);

  // Whatever the target's extension, the packed form with its head is written.
  const std::string out = root_.str() + "/copy.dat";
  ASSERT_TRUE(doc.Save(out).ok());
  jobdoc::DocumentImage back = ReadBack(out);
  ASSERT_EQ(back.pages.size(), d.pages.size());
  for (size_t i = 0; i < d.pages.size(); ++i) {
    EXPECT_EQ(back.pages[i].metafile, d.pages[i].metafile) << i;
    EXPECT_EQ(back.pages[i].attributes, d.pages[i].attributes) << i;
  }
  EXPECT_EQ(back.name, d.name);
  EXPECT_EQ(back.text2, d.text2);
  EXPECT_EQ(back.text3, d.text3);
  EXPECT_EQ(back.attachments, d.attachments);
  EXPECT_EQ(back.format.client_mode, 2);
  EXPECT_EQ(back.format.page_count, 6);
  EXPECT_TRUE(fsys::exists(in));  // a document file is never deleted
  auto packed = doc.EncodePacked();
  ASSERT_TRUE(packed.ok());
  std::string written = *fs::ReadFile(out);
  EXPECT_EQ(*packed, std::vector<uint8_t>(written.begin(), written.end()));
}

uint32_t U16(const std::string& b, size_t at) {
  return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8;
}
uint32_t U32(const std::string& b, size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

// The unpacked write, read byte by byte as the layout gives it: the 35-byte page-format
// record, each page's metafile with a 36-byte trailer behind it, the records and the end
// byte; then opened again as the client opens a capture file.
TEST_F(ClientDocTest, UnpackedWriteFollowsTheImageLayoutAndOpensAsACaptureFile) {
  jobdoc::DocumentImage d = jobdoc::sample::MakeDocument(6, 3, true, 500);
  const std::string in = Write("in.prc", d, jobdoc::DocumentWriteMode::kPacked);
  COstraneDoc doc;
  ASSERT_TRUE(doc.OnOpenDocument(in, "", &prompt_));
  doc.set_mode(1);
  const std::string out = root_.str() + "/unpacked.img";
  EXPECT_EQ(doc.WriteData(2, out).code(), Status::Code::kInvalidArgument);
  EXPECT_FALSE(fsys::exists(out));
  ASSERT_TRUE(doc.WriteData(1, out).ok());
  const std::string b = *fs::ReadFile(out);

  // The page-format record: length, page count, the first page's paper, its rotated and
  // landscape bits, the client mode and the chain offset.
  ASSERT_GE(b.size(), 35u);
  const jobdoc::PageAttributes& first = d.pages[0].attributes;
  EXPECT_EQ(static_cast<uint8_t>(b[0]), 35);
  EXPECT_EQ(U16(b, 2), 6u);
  EXPECT_EQ(U16(b, 7), first.paper_code());
  EXPECT_EQ(U16(b, 9), first.width);
  EXPECT_EQ(U16(b, 11), first.length);
  EXPECT_EQ(static_cast<uint8_t>(b[13]) & 3u, (first.rotated() ? 1u : 0u) | (first.landscape() ? 2u : 0u));
  EXPECT_EQ(static_cast<uint8_t>(b[26]), 1);
  const size_t chain = U32(b, 22);

  // The pages, each a metafile of nBytes bytes followed by its trailer.
  size_t at = 35;
  std::vector<size_t> changed;  // pages whose attributes differ from the page before
  for (size_t i = 0; i < d.pages.size(); ++i) {
    SCOPED_TRACE(i);
    const auto& page = d.pages[i];
    ASSERT_LE(at + 52, b.size());
    EXPECT_EQ(U32(b, at), 1u);  // EMR_HEADER
    const size_t n = U32(b, at + 48);
    ASSERT_EQ(n, page.metafile.size());
    EXPECT_EQ(b.compare(at, n, std::string(page.metafile.begin(), page.metafile.end())), 0);
    const size_t t = at + n;
    ASSERT_LE(t + 36, b.size());
    EXPECT_EQ(U32(b, t), 36u);
    EXPECT_EQ(U32(b, t + 12) & 0xFFFF, page.attributes.paper_code());
    EXPECT_EQ(U32(b, t + 16), page.attributes.landscape() ? 2u : 1u);
    EXPECT_EQ(U32(b, t + 20) & 0xFFFF, page.attributes.width);
    EXPECT_EQ(U32(b, t + 24) & 0xFFFF, page.attributes.length);
    at = t + 36;
    if (i > 0 && !(page.attributes == d.pages[i - 1].attributes)) changed.push_back(i);
  }
  ASSERT_FALSE(changed.empty());
  EXPECT_EQ(chain, at);

  // The chain: the name, the two texts, a type 4 record per changed page, the attachment,
  // the end byte and nothing after it.
  auto record = [&](uint16_t type) {
    EXPECT_LE(at + 6, b.size());
    EXPECT_EQ(U16(b, at + 4), type) << "at " << at;
    const size_t size = U32(b, at);
    const size_t start = at;
    at += size;
    return b.substr(start + 6, size - 6);
  };
  EXPECT_EQ(record(1), doc.name() + '\0');
  EXPECT_EQ(record(2), doc.text2() + '\0');
  EXPECT_EQ(record(3), doc.text3() + '\0');
  for (size_t i : changed) {
    const std::string r = record(4);
    ASSERT_EQ(r.size(), 8u);
    EXPECT_EQ(U16(r, 0), i);
    EXPECT_EQ(U16(r, 2), d.pages[i].attributes.word);
    EXPECT_EQ(U16(r, 4), d.pages[i].attributes.width);
    EXPECT_EQ(U16(r, 6), d.pages[i].attributes.length);
  }
  const jobdoc::Attachment& att = d.attachments.at(0);
  const std::string r5 = record(5);
  EXPECT_EQ(r5.size(), 8 + att.name.size() + 1 + att.data.size());
  EXPECT_EQ(r5.substr(8, att.name.size() + 1), att.name + '\0');
  EXPECT_EQ(r5.substr(8 + att.name.size() + 1), std::string(att.data.begin(), att.data.end()));
  ASSERT_EQ(at + 1, b.size());
  EXPECT_EQ(b[at], '\0');

  // The client opens the file as a capture file: the same pages, each with its own paper.
  const std::string capture = root_.str() + "/WXQ00A1.tmp";
  fsys::copy_file(out, capture);
  COstraneDoc again;
  ASSERT_TRUE(again.OnOpenDocument(capture, "再読込", &prompt_));
  EXPECT_TRUE(prompt_.shown.empty());
  EXPECT_FALSE(fsys::exists(capture));
  ASSERT_EQ(again.GetAllPage(), 6);
  EXPECT_EQ(again.DisplayName(), "再読込");
  EXPECT_EQ(again.mode(), 1);
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    const viewer::ViewerPage* p = again.viewer().page(i);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->attributes(), d.pages[i].attributes.word);
    EXPECT_EQ(p->width(), d.pages[i].attributes.width);
    EXPECT_EQ(p->length(), d.pages[i].attributes.length);
  }
  ASSERT_EQ(again.attachments().size(), 1u);
  EXPECT_EQ(again.attachments()[0], att);
}

TEST_F(ClientDocTest, CaptureFilesTakeTheJobNameAndAreDeleted) {
  jobdoc::DocumentImage d = jobdoc::sample::MakeDocument(3, 2, false);
  const std::string capture = Write("WXQ0001.tmp", d, jobdoc::DocumentWriteMode::kUnpacked);
  COstraneDoc doc;
  ASSERT_TRUE(doc.OnOpenDocument(capture, "見積書", &prompt_));
  EXPECT_FALSE(fsys::exists(capture));
  EXPECT_EQ(doc.GetAllPage(), 3);
  // The job name comes in UTF-8 and is kept as the document's CP932 name: the list, the saved
  // file names and the saved job show it as it was printed.
  EXPECT_EQ(doc.name(), "\x8C\xA9\x90\xCF\x8F\x91");
  EXPECT_EQ(doc.DisplayName(), "見積書");
  EXPECT_EQ(doc.text2(), "");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(doc.viewer().page(i)->attributes(), d.pages[i].attributes.word) << i;

  // A further job is appended after the pages, by a quoted path too.
  const std::string more =
      Write("more.prc", jobdoc::sample::MakeDocument(2, 1, false), jobdoc::DocumentWriteMode::kPacked);
  ASSERT_TRUE(doc.AddTempDoc("\"" + more + "\" trailing", "", &prompt_));
  EXPECT_EQ(doc.GetAllPage(), 5);
}

TEST_F(ClientDocTest, AJobNameKeepsWhatCp932HoldsAndMarksTheRest) {
  const struct {
    const char* job_name;
    const char* shown;
  } kCases[] = {
      {"週報", "週報"},
      {"Müller 週報 €", "M？ller 週報 ？"},
      {"Bericht \xFF end", "Bericht ？ end"},  // a byte that is not UTF-8
      {"", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.job_name);
    const std::string capture =
        Write("WXQ0002.tmp", jobdoc::sample::MakeDocument(1, 1, false), jobdoc::DocumentWriteMode::kUnpacked);
    COstraneDoc doc;
    ASSERT_TRUE(doc.OnOpenDocument(capture, c.job_name, &prompt_));
    EXPECT_EQ(doc.DisplayName(), c.shown);
    auto stored = codepage::Cp932ToUtf8(doc.name());
    ASSERT_TRUE(stored.ok());
    EXPECT_EQ(*stored, c.shown);
  }
}

TEST_F(ClientDocTest, FailuresTellWhy) {
  COstraneDoc doc;
  const std::string missing = root_.str() + "/none.prc";
  EXPECT_FALSE(doc.OnOpenDocument(missing, "", &prompt_));
  const std::string junk = root_.str() + "/junk.prc";
  ASSERT_TRUE(fs::WriteFileAtomic(junk, "not a document").ok());
  EXPECT_FALSE(doc.OnOpenDocument(junk, "", &prompt_));
  // A document without pages: the record and the chain's end byte.
  jobdoc::DocumentImage empty = jobdoc::sample::MakeDocument(1, 1, false);
  empty.pages.clear();
  auto image = jobdoc::BuildDocumentImage(empty, false);
  ASSERT_TRUE(image.ok());
  auto state = jobdoc::NewCodecState();
  std::vector<uint8_t> packed;
  ASSERT_TRUE(jobdoc::PackDocumentImage(*image, packed, *state).ok());
  const std::string no_pages = root_.str() + "/empty.prc";
  ASSERT_TRUE(fs::WriteFileAtomic(no_pages, std::string(packed.begin(), packed.end())).ok());
  EXPECT_FALSE(doc.OnOpenDocument(no_pages, "", &prompt_));
  // A capture file that is no image is deleted all the same.
  const std::string capture = root_.str() + "/WXQbad.tmp";
  ASSERT_TRUE(fs::WriteFileAtomic(capture, "xx").ok());
  EXPECT_FALSE(doc.OnOpenDocument(capture, "", &prompt_));
  EXPECT_FALSE(fsys::exists(capture));

  ASSERT_EQ(prompt_.shown.size(), 4u);
  EXPECT_EQ(prompt_.shown[0].text, missing + " が見つかりませんでした。");
  EXPECT_EQ(prompt_.shown[1].text, kNotADocumentText);
  EXPECT_EQ(prompt_.shown[2].text, kOpenFailedText);
  EXPECT_EQ(prompt_.shown[3].text, kOpenFailedText);
  EXPECT_EQ(doc.GetAllPage(), 0);
}

}  // namespace
}  // namespace zv::client
