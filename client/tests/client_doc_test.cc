#include "client/client_doc.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "jobdoc/container.h"
#include "jobdoc/sample/sample_document.h"
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

TEST_F(ClientDocTest, CaptureFilesTakeTheJobNameAndAreDeleted) {
  jobdoc::DocumentImage d = jobdoc::sample::MakeDocument(3, 2, false);
  const std::string capture = Write("WXQ0001.tmp", d, jobdoc::DocumentWriteMode::kUnpacked);
  COstraneDoc doc;
  ASSERT_TRUE(doc.OnOpenDocument(capture, "見積書", &prompt_));
  EXPECT_FALSE(fsys::exists(capture));
  EXPECT_EQ(doc.GetAllPage(), 3);
  EXPECT_EQ(doc.name(), "見積書");
  EXPECT_EQ(doc.text2(), "");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(doc.viewer().page(i)->attributes(), d.pages[i].attributes.word) << i;

  // A further job is appended after the pages, by a quoted path too.
  const std::string more =
      Write("more.prc", jobdoc::sample::MakeDocument(2, 1, false), jobdoc::DocumentWriteMode::kPacked);
  ASSERT_TRUE(doc.AddTempDoc("\"" + more + "\" trailing", "", &prompt_));
  EXPECT_EQ(doc.GetAllPage(), 5);
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
