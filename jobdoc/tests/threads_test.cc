// Packing and unpacking whole documents with several workers gives exactly what one thread
// gives: the same file bytes, the same image, the same error for the first bad block.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "jobdoc/codec.h"
#include "jobdoc/container.h"
#include "jobdoc/tests/test_data.h"

namespace zv::jobdoc {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr unsigned kThreadCounts[] = {1, 2, 3, 8};

// An image of `blocks` blocks that mixes text, runs of one byte and noise (stored blocks);
// the last block is short when `short_last` is set.
Bytes MixedImage(std::size_t blocks, bool short_last) {
  Bytes image;
  for (std::size_t b = 0; b < blocks; ++b) {
    Bytes block;
    switch (b % 5) {
      case 0:
        block = testdata::TextLike(kCodecBlockSize, static_cast<std::uint32_t>(b + 1));
        break;
      case 1:
        block.assign(kCodecBlockSize, static_cast<std::uint8_t>(b));
        break;
      case 2:  // noise is slow to pack: a few stored blocks are enough
        if (b < 40) block = testdata::Random(kCodecBlockSize, static_cast<std::uint32_t>(b + 1));
        else block.assign(kCodecBlockSize, 0x20);
        break;
      case 3:
        block = testdata::TextLike(kCodecBlockSize / 2, static_cast<std::uint32_t>(b));
        block.resize(kCodecBlockSize, 0);
        break;
      default:
        block = testdata::TextLike(kCodecBlockSize, 3);
        break;
    }
    if (short_last && b + 1 == blocks) block.resize(1000 + b % 700);
    image.insert(image.end(), block.begin(), block.end());
  }
  return image;
}

// The document file as one codec state gives it, block after block.
Bytes PackOneBlockAtATime(const Bytes& image) {
  auto state = NewCodecState();
  Bytes file = {kDocumentVersion};
  for (int i = 0; i < 4; ++i) file.push_back(static_cast<std::uint8_t>(image.size() >> (8 * i)));
  Bytes out(kCodecOutputSize);
  for (std::size_t at = 0; at < image.size(); at += kCodecBlockSize) {
    std::uint16_t n = 0;
    std::size_t len = std::min(kCodecBlockSize, image.size() - at);
    EXPECT_EQ(CompressJobData(image.data() + at, out.data(), static_cast<std::uint16_t>(len), n, *state), kCodecOk);
    file.insert(file.end(), out.begin(), out.begin() + n);
  }
  return file;
}

TEST(CodecThreads, EveryThreadCountPacksAndUnpacksTheSameBytes) {
  struct Case {
    std::size_t blocks;
    bool short_last;
  };
  const Case cases[] = {{0, false}, {1, false}, {1, true}, {2, true}, {17, false}, {17, true}, {300, true}};
  auto state = NewCodecState();
  for (const Case& c : cases) {
    const Bytes image = MixedImage(c.blocks, c.short_last);
    const Bytes expected = PackOneBlockAtATime(image);
    if (c.blocks >= 3) {
      auto kinds = testdata::Blocks(expected);
      EXPECT_TRUE(kinds[2].stored && !kinds[0].stored) << "the image has both kinds of block";
    }
    for (unsigned threads : kThreadCounts) {
      SCOPED_TRACE(std::to_string(c.blocks) + " blocks, short last " + std::to_string(c.short_last) + ", " +
                   std::to_string(threads) + " threads");
      Bytes file = {1, 2, 3};  // replaced, whatever was there
      ASSERT_TRUE(PackDocumentImage(image, file, *state, threads).ok());
      ASSERT_EQ(file, expected);
      UnpackResult r = UnpackDocumentBytes(file, *state, threads);
      ASSERT_TRUE(r.ok()) << r.message;
      ASSERT_EQ(r.document->size, image.size());
      ASSERT_TRUE(std::equal(image.begin(), image.end(), r.document->buffer.begin()));
    }
  }
}

// Damaged documents of 17 blocks: whatever the thread count, the error and its text are
// those one thread gives, naming the first bad block in file order.
TEST(CodecThreads, TheFirstBadBlockInFileOrderIsReported) {
  auto state = NewCodecState();
  const Bytes image = MixedImage(17, true);
  Bytes good;
  ASSERT_TRUE(PackDocumentImage(image, good, *state, 1).ok());
  std::vector<std::size_t> at, end;  // where each block header starts, where its payload ends
  for (std::size_t o = kDocumentHeadSize; auto b : testdata::Blocks(good)) {
    at.push_back(o);
    o += 2 + b.payload;
    end.push_back(o);
  }
  ASSERT_EQ(at.size(), 17u);
  ASSERT_FALSE(testdata::Blocks(good)[8].stored);
  auto damage = [&](Bytes& f, std::size_t block) {  // a run of ones inside a packed payload
    for (std::size_t i = at[block] + 4; i < std::min(at[block] + 60, end[block]); ++i) f[i] = 0xFF;
  };
  auto set_size = [](Bytes& f, std::uint32_t n) {
    for (int i = 0; i < 4; ++i) f[1 + i] = static_cast<std::uint8_t>(n >> (8 * i));
  };
  struct Case {
    std::string name;
    UnpackError error;
    std::string message;
    Bytes file;
  };
  std::vector<Case> cases;
  auto add = [&](std::string name, UnpackError e, std::string message, auto edit) {
    Bytes f = good;
    edit(f);
    cases.push_back({std::move(name), e, std::move(message), std::move(f)});
  };
  const std::string size = std::to_string(image.size());
  add("damaged block in the middle", UnpackError::kBadBlock,
      "the block at offset " + std::to_string(at[8]) + " does not expand", [&](Bytes& f) { damage(f, 8); });
  add("two damaged blocks", UnpackError::kBadBlock, "the block at offset " + std::to_string(at[5]) + " does not expand",
      [&](Bytes& f) {
        damage(f, 13);
        damage(f, 5);
      });
  add("damaged last block", UnpackError::kBadBlock,
      "the block at offset " + std::to_string(at[16]) + " does not expand", [&](Bytes& f) { damage(f, 16); });
  add("size ends inside a block", UnpackError::kBadBlock,
      "the block at offset " + std::to_string(at[9]) + " expands past the stated size " +
          std::to_string(9 * kCodecBlockSize + 5),
      [&](Bytes& f) { set_size(f, 9 * kCodecBlockSize + 5); });
  add("blocks end before the size", UnpackError::kTruncated,
      "the blocks end after " + size + " of " + std::to_string(image.size() + 7) + " bytes",
      [&](Bytes& f) { set_size(f, static_cast<std::uint32_t>(image.size() + 7)); });
  add("damaged block after the size is reached", UnpackError::kNone, "", [&](Bytes& f) {
    set_size(f, 4 * kCodecBlockSize);
    damage(f, 6);
  });
  for (const Case& c : cases) {
    for (unsigned threads : kThreadCounts) {
      SCOPED_TRACE(c.name + ", " + std::to_string(threads) + " threads");
      UnpackResult r = UnpackDocumentBytes(c.file, *state, threads);
      EXPECT_EQ(r.error, c.error);
      EXPECT_EQ(r.message, c.message);
      if (c.error == UnpackError::kNone) {
        ASSERT_TRUE(r.ok());
        EXPECT_TRUE(std::equal(r.document->image().begin(), r.document->image().end(), image.begin()));
      }
    }
  }
}

TEST(CodecThreads, ThreadCountFollowsBlocksAndCores) {
  // The cores the process may use: what a large document gets, at most all there are.
  const unsigned cores = CodecThreadCount(1 << 20, 0);
  EXPECT_GE(cores, 1u);
  if (std::thread::hardware_concurrency() != 0) {
    EXPECT_LE(cores, std::thread::hardware_concurrency());
  }
  struct Case {
    std::size_t blocks;
    unsigned requested;
    unsigned expected;
  };
  const Case cases[] = {
      {0, 0, 1},
      {1, 0, 1},
      {7, 0, 1},  // a few blocks: one thread
      {8, 0, std::min(2u, cores)},
      {3000, 0, cores},  // left to choose: up to the cores
      {2, 8, std::min(2u, cores)},
      {1, 8, 1},
      {0, 8, 1},  // asked: never more than blocks
      {3000, 1000, cores},
      {3000, 1, 1},  // nor more than the cores
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CodecThreadCount(c.blocks, c.requested), c.expected)
        << c.blocks << " blocks, " << c.requested << " asked";
  }
}

}  // namespace
}  // namespace zv::jobdoc
