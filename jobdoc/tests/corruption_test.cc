// Damaged job documents and images, made deterministically from a sound one: every reader
// must refuse them cleanly or read them within bounds. Runs under the sanitizers.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "jobdoc/codec.h"
#include "jobdoc/container.h"
#include "jobdoc/image.h"
#include "jobdoc/internal/le.h"
#include "jobdoc/sample/sample_document.h"
#include "jobdoc/tests/test_data.h"

namespace zv::jobdoc {
namespace {

using Bytes = std::vector<std::uint8_t>;

class CorruptionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DocumentImage doc = sample::MakeDocument(4, 40, true, 6000);
    image_ = *BuildDocumentImage(doc, false);
    image_trailers_ = *BuildDocumentImage(doc, true);
    ASSERT_TRUE(PackDocumentImage(image_, file_, *state_).ok());
    auto blocks = testdata::Blocks(file_);
    ASSERT_GE(blocks.size(), 1u);
  }

  // Unpacks; on success the image must have the stated size and is walked both ways.
  bool Unpack(const Bytes& file) {
    UnpackResult r = UnpackDocumentBytes(file, *state_);
    if (!r.ok()) {
      EXPECT_NE(r.error, UnpackError::kNone);
      return false;
    }
    EXPECT_GE(r.document->buffer.size(), r.document->size);
    Walk(Bytes(r.document->image().begin(), r.document->image().end()));
    return true;
  }

  // Walks an image with and without trailers; the walk must end or fail, never loop.
  static void Walk(const Bytes& image) {
    for (bool trailers : {false, true}) {
      ImageWalker w(image, trailers);
      std::size_t steps = 0;
      for (;; ++steps) {
        ASSERT_LT(steps, image.size() + 2) << "the walk does not end";
        Result<ImageItem> item = w.Next();
        if (!item.ok() || item->kind == ImageItem::Kind::kEnd) break;
        if (!item->bytes.empty()) {
          // Spans must lie inside the image.
          ASSERT_GE(item->bytes.data(), image.data());
          ASSERT_LE(item->bytes.data() + item->bytes.size(), image.data() + image.size());
        }
      }
      (void)ReadDocumentImage(image, trailers);
    }
  }

  Bytes image_, image_trailers_, file_;
  std::unique_ptr<JobCodecState> state_ = NewCodecState();
};

TEST_F(CorruptionTest, TruncatedFilesAreRefused) {
  ASSERT_TRUE(Unpack(file_));
  for (std::size_t len = 0; len < file_.size(); len += (len < 80 ? 1 : 53)) {
    SCOPED_TRACE(len);
    EXPECT_FALSE(Unpack(Bytes(file_.begin(), file_.begin() + len)));
  }
}

TEST_F(CorruptionTest, FlippedBytesNeverReadOutOfBounds) {
  for (std::size_t at = 0; at < file_.size(); at += (at < 40 ? 1 : 31)) {
    for (std::uint8_t mask : {0x01, 0x80, 0xFF}) {
      Bytes f = file_;
      f[at] ^= mask;
      Unpack(f);
    }
  }
}

TEST_F(CorruptionTest, WrongHeadersAndOversizedLengths) {
  for (int v = 0; v < 256; ++v) {
    Bytes f = file_;
    f[0] = static_cast<std::uint8_t>(v);
    EXPECT_EQ(Unpack(f), IsSupportedDocumentVersion(f[0])) << v;
  }
  const std::uint32_t size = static_cast<std::uint32_t>(image_.size());
  for (std::uint32_t s : {0u, 1u, 34u, size - 1, size + 1, size + 40000, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    Bytes f = file_;
    for (int i = 0; i < 4; ++i) f[1 + i] = static_cast<std::uint8_t>(s >> (8 * i));
    Unpack(f);
  }
  // Each block header in turn claims other lengths and kinds.
  std::size_t at = kDocumentHeadSize;
  for (const auto& b : testdata::Blocks(file_)) {
    for (std::uint16_t h : {0x0000, 0x0001, 0x7FFF, 0x8000, 0x8001, 0xFFFF}) {
      Bytes f = file_;
      f[at] = static_cast<std::uint8_t>(h >> 8);
      f[at + 1] = static_cast<std::uint8_t>(h);
      Unpack(f);
    }
    at += 2 + b.payload;
  }
}

TEST_F(CorruptionTest, DamagedImagesAreWalkedWithinBounds) {
  for (const Bytes* img : {&image_, &image_trailers_}) {
    for (std::size_t len = 0; len < img->size(); len += (len < 200 ? 7 : 211)) {
      Walk(Bytes(img->begin(), img->begin() + len));
    }
    const std::size_t chain = internal::Load32(img->data() + 22);  // chain records: every byte
    for (std::size_t at = 0; at < img->size(); at += (at < 64 || at >= chain ? 1 : 97)) {
      for (std::uint8_t mask : {0x01, 0x80, 0xFF}) {
        Bytes f = *img;
        f[at] ^= mask;
        Walk(f);
      }
    }
  }
}

TEST_F(CorruptionTest, RandomPayloadsNeverPassTheBlock) {
  Bytes out(kCodecBlockSize);
  for (std::uint32_t seed = 1; seed <= 200; ++seed) {
    Bytes payload = testdata::Random(1 + seed * 37 % 3000, seed);
    std::uint16_t n = 0;
    int rc = ExpandJobData(payload.data(), out.data(), static_cast<std::uint16_t>(payload.size()), n, false, *state_);
    if (rc == kCodecOk) {
      EXPECT_LE(n, kCodecBlockSize);
    }
  }
}

}  // namespace
}  // namespace zv::jobdoc
