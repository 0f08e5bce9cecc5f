#include "jobdoc/container.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "jobdoc/tests/test_data.h"
#include "platform/testing/temp_root.h"

namespace zv::jobdoc {
namespace {

using testdata::BlockInfo;
using testdata::Blocks;

class ContainerTest : public ::testing::Test {
 protected:
  std::vector<std::uint8_t> Pack(const std::vector<std::uint8_t>& image) {
    std::vector<std::uint8_t> out;
    EXPECT_TRUE(PackDocumentImage(image, out, *state_).ok());
    return out;
  }
  std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::string path = (root_.path() / name).string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
  }
  static void SetSize(std::vector<std::uint8_t>& file, std::uint32_t n) {
    for (int i = 0; i < 4; ++i) file[1 + i] = static_cast<std::uint8_t>(n >> (8 * i));
  }

  testing::TempRoot root_;
  std::unique_ptr<JobCodecState> state_ = NewCodecState();
};

// Images of several shapes round-trip through the packer and the file reader; the block
// structure shows full blocks, a last short block, stored and packed blocks.
TEST_F(ContainerTest, ImagesRoundTripThroughFiles) {
  std::vector<std::uint8_t> mixed = testdata::TextLike(32768);
  auto noise = testdata::Random(32768);
  mixed.insert(mixed.end(), noise.begin(), noise.end());
  auto tail = testdata::TextLike(1000, 9);
  mixed.insert(mixed.end(), tail.begin(), tail.end());

  struct Case {
    std::string name;
    std::vector<std::uint8_t> image;
    std::vector<BlockInfo> blocks;  // expected stored flags; payload 0 = don't check
  };
  const std::vector<Case> cases = {
      {"ten bytes", testdata::TextLike(10), {{true, 10}}},
      {"two full blocks", testdata::TextLike(65536), {{false, 0}, {false, 0}}},
      {"packed, stored, short packed", mixed, {{false, 0}, {true, 32768}, {false, 0}}},
      {"stored short last block", testdata::Random(32768 + 500), {{true, 32768}, {true, 500}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> file = Pack(c.image);
    ASSERT_GE(file.size(), 5u);
    EXPECT_EQ(file[0], 2);
    std::vector<BlockInfo> blocks = Blocks(file);
    ASSERT_EQ(blocks.size(), c.blocks.size());
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      EXPECT_EQ(blocks[i].stored, c.blocks[i].stored) << i;
      if (c.blocks[i].payload) {
        EXPECT_EQ(blocks[i].payload, c.blocks[i].payload) << i;
      }
    }
    UnpackResult r = UnpackDocumentFile(Write("job one.prc", file));
    ASSERT_TRUE(r.ok()) << r.status().ToString();
    EXPECT_EQ(r.document->size, c.image.size());
    EXPECT_EQ(r.document->version, 2);
    EXPECT_EQ(r.document->job_name, "job one");
    EXPECT_EQ(r.document->buffer.size(), std::max<std::size_t>(c.image.size(), 65536));
    EXPECT_TRUE(std::equal(c.image.begin(), c.image.end(), r.document->image().begin(), r.document->image().end()));
  }
}

TEST_F(ContainerTest, ExtensionAndVersionDecideWhatIsRead) {
  std::vector<std::uint8_t> file = Pack(testdata::TextLike(3000));
  EXPECT_TRUE(UnpackDocumentFile(Write("UPPER.PRC", file)).ok());

  UnpackResult capture = UnpackDocumentFile(Write("WXQ1234.tmp", file));
  EXPECT_EQ(capture.error, UnpackError::kWrongExtension);
  EXPECT_FALSE(capture.version.has_value());

  UnpackResult missing = UnpackDocumentFile((root_.path() / "nothing.prc").string());
  EXPECT_EQ(missing.error, UnpackError::kNotFound);
  EXPECT_EQ(missing.status().code(), Status::Code::kNotFound);

  EXPECT_EQ(UnpackDocumentFile(Write("empty.prc", {})).error, UnpackError::kEmpty);

  struct V {
    std::uint8_t version;
    bool accepted;
  };
  for (V v : {V{0, true}, V{1, true}, V{3, true}, V{0x4D, true}, V{4, false}, V{0xFF, false}}) {
    SCOPED_TRACE(int(v.version));
    file[0] = v.version;
    UnpackResult r = UnpackDocumentFile(Write("v.prc", file));
    EXPECT_EQ(r.ok(), v.accepted);
    ASSERT_TRUE(r.version.has_value());
    EXPECT_EQ(*r.version, v.version);
    if (v.accepted) {
      EXPECT_EQ(r.document->version, v.version);
      EXPECT_EQ(r.document->has_page_trailers(), v.version == 0);
    } else {
      EXPECT_EQ(r.error, UnpackError::kUnsupportedVersion);
    }
  }
}

TEST_F(ContainerTest, DamagedFilesAreRefusedWithTheirReason) {
  const std::vector<std::uint8_t> good = Pack(testdata::TextLike(40000));
  ASSERT_EQ(Blocks(good).size(), 2u);
  const std::size_t second = kDocumentHeadSize + 2 + Blocks(good)[0].payload;

  struct Case {
    std::string name;
    std::vector<std::uint8_t> file;
    UnpackError error;
  };
  std::vector<Case> cases;
  auto add = [&](std::string name, UnpackError e, auto edit) {
    std::vector<std::uint8_t> f = good;
    edit(f);
    cases.push_back({std::move(name), std::move(f), e});
  };
  add("size field cut", UnpackError::kBadSize, [](auto& f) { f.resize(3); });
  add("negative size", UnpackError::kBadSize, [](auto& f) { SetSize(f, 0x80000000u); });
  add("size far beyond the blocks", UnpackError::kBadSize, [](auto& f) { SetSize(f, 0x7FFFFFFFu); });
  add("size one block too many", UnpackError::kBadSize, [](auto& f) { SetSize(f, 40000 + 32768 + 1); });
  add("last payload cut", UnpackError::kTruncated, [](auto& f) { f.pop_back(); });
  add("second header cut", UnpackError::kTruncated, [&](auto& f) { f.resize(second + 1); });
  add("payload length past the end", UnpackError::kTruncated, [&](auto& f) {
    f[second] = 0x7F;
    f[second + 1] = 0xFF;
  });
  add("packed block flipped to stored", UnpackError::kTruncated, [&](auto& f) {
    f[kDocumentHeadSize] |= 0x80;
    SetSize(f, 40000);
  });
  add("blocks produce less than the size", UnpackError::kTruncated, [&](auto& f) { SetSize(f, 40000 + 100); });
  add("damaged first payload", UnpackError::kBadBlock, [](auto& f) {
    for (std::size_t i = 20; i < 60; ++i) f[i] = 0xFF;
  });
  add("size smaller than the first block", UnpackError::kBadBlock, [](auto& f) { SetSize(f, 100); });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UnpackResult r = UnpackDocumentBytes(c.file, *state_);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.error, c.error) << r.message;
    EXPECT_FALSE(r.message.empty());
  }
}

TEST_F(ContainerTest, SizeZeroAndTrailingBytes) {
  std::vector<std::uint8_t> zero = {2, 0, 0, 0, 0};
  UnpackResult r = UnpackDocumentBytes(zero, *state_);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.document->size, 0u);
  EXPECT_EQ(r.document->buffer.size(), 65536u);

  // Bytes after the last block needed are not read.
  std::vector<std::uint8_t> file = Pack(testdata::TextLike(500));
  file.push_back(0xAB);
  EXPECT_TRUE(UnpackDocumentBytes(file, *state_).ok());
}

}  // namespace
}  // namespace zv::jobdoc
