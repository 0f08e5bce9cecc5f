#include "jobdoc/codec.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "jobdoc/tests/reference_codec.h"
#include "jobdoc/tests/test_data.h"

namespace zv::jobdoc {
namespace {

class CodecTest : public ::testing::Test {
 protected:
  CodecTest() : state_(std::make_unique<JobCodecState>()) { InitCodecTables(*state_); }

  // Packs one block; gives header + payload.
  std::vector<std::uint8_t> Pack(const std::vector<std::uint8_t>& in) {
    std::vector<std::uint8_t> out(kCodecOutputSize);
    std::uint16_t n = 0;
    EXPECT_EQ(CompressJobData(in.data(), out.data(), static_cast<std::uint16_t>(in.size()), n, *state_), kCodecOk);
    out.resize(n);
    return out;
  }

  // Expands header + payload; gives the block, or nothing when the codec refuses it.
  std::optional<std::vector<std::uint8_t>> Unpack(const std::vector<std::uint8_t>& packed) {
    std::vector<std::uint8_t> out(kCodecBlockSize);
    bool stored = (packed[0] & 0x80) != 0;
    std::uint16_t n = 0xBEEF;
    int rc =
        ExpandJobData(packed.data() + 2, out.data(), static_cast<std::uint16_t>(packed.size() - 2), n, stored, *state_);
    if (rc != kCodecOk) {
      EXPECT_EQ(n, 0xBEEF) << "output length set on failure";
      return std::nullopt;
    }
    out.resize(n);
    return out;
  }

  static unsigned Header(const std::vector<std::uint8_t>& packed) { return (unsigned(packed[0]) << 8) | packed[1]; }

  std::unique_ptr<JobCodecState> state_;
};

// The tuned coder against the coder as it was: the same packed bytes for blocks of every
// kind and length, and the same verdict and output for sound and damaged payloads.
TEST(CodecAgainstReference, SameBytesAndVerdicts) {
  auto state = std::make_unique<JobCodecState>();
  InitCodecTables(*state);
  auto old = std::make_unique<reference::State>();
  reference::InitTables(*old);
  std::vector<std::vector<std::uint8_t>> inputs;
  for (std::size_t len : {3u, 4u, 31u, 32u, 33u, 100u, 1000u, 4097u, 32767u, 32768u}) {
    inputs.push_back(testdata::TextLike(len, static_cast<std::uint32_t>(len)));
    inputs.push_back(testdata::Random(len, static_cast<std::uint32_t>(len)));
    inputs.push_back(std::vector<std::uint8_t>(len, static_cast<std::uint8_t>(len)));
  }
  // Bytes that repeat with growing periods (long matches, closed and reopened slots), a
  // few byte values that make deep trees, and text with noise: codes of every length.
  std::vector<std::uint8_t> periods, skewed, mixed = testdata::TextLike(32768, 11);
  for (std::size_t i = 0; periods.size() < 32768; ++i) periods.push_back(static_cast<std::uint8_t>(i % (1 + i / 997)));
  for (std::uint32_t x = 1; skewed.size() < 32768;) {
    x = x * 1103515245u + 12345u;
    skewed.push_back(static_cast<std::uint8_t>(__builtin_ctz((x >> 8) | 0x100000u) * 11));
  }
  auto noise = testdata::Random(32768, 5);
  for (std::size_t i = 0; i < mixed.size(); i += 1 + i % 13) mixed[i] = noise[i];
  for (auto* v : {&periods, &skewed, &mixed}) inputs.push_back(*v);

  std::vector<std::uint8_t> got(kCodecOutputSize), want(kCodecOutputSize);
  std::vector<std::uint8_t> out_got(kCodecBlockSize), out_want(kCodecBlockSize);
  auto expand_both = [&](const std::uint8_t* payload, std::size_t n, bool stored) {
    std::uint16_t g = 0, w = 0;
    int rc_got = ExpandJobData(payload, out_got.data(), static_cast<std::uint16_t>(n), g, stored, *state);
    int rc_want = reference::Expand(payload, out_want.data(), static_cast<std::uint16_t>(n), w, stored, *old);
    ASSERT_EQ(rc_got, rc_want);
    ASSERT_EQ(g, w);
    if (rc_got == kCodecOk) {
      ASSERT_TRUE(std::equal(out_got.begin(), out_got.begin() + g, out_want.begin()));
    }
  };
  for (std::size_t k = 0; k < inputs.size(); ++k) {
    const std::vector<std::uint8_t>& in = inputs[k];
    SCOPED_TRACE("input " + std::to_string(k) + " of " + std::to_string(in.size()) + " bytes");
    std::uint16_t g = 0, w = 0;
    ASSERT_EQ(CompressJobData(in.data(), got.data(), static_cast<std::uint16_t>(in.size()), g, *state), kCodecOk);
    ASSERT_EQ(reference::Compress(in.data(), want.data(), static_cast<std::uint16_t>(in.size()), w, *old), kCodecOk);
    ASSERT_EQ(g, w);
    ASSERT_TRUE(std::equal(got.begin(), got.begin() + g, want.begin()));
    const bool stored = (got[0] & 0x80) != 0;
    expand_both(got.data() + 2, g - 2u, stored);
    if (stored) continue;
    // Damaged payloads: cut short, one byte longer, single bytes flipped.
    std::vector<std::uint8_t> payload(got.begin() + 2, got.begin() + g);
    expand_both(payload.data(), payload.size() - 1, false);
    payload.push_back(0);
    expand_both(payload.data(), payload.size(), false);
    payload.pop_back();
    for (std::size_t at = 0; at < payload.size(); at += 1 + payload.size() / 7) {
      std::vector<std::uint8_t> bad = payload;
      bad[at] ^= static_cast<std::uint8_t>(0x5A + at);
      expand_both(bad.data(), bad.size(), false);
    }
  }
}

TEST_F(CodecTest, SubstitutionTablesArePowersOfTwoInGf256AndInverse) {
  EXPECT_EQ(state_->substitution[0], 0);
  EXPECT_EQ(state_->substitution[1], 2);
  EXPECT_EQ(state_->substitution[7], 0x80);
  EXPECT_EQ(state_->substitution[8], 0x2D);  // 0x100 reduced by 0x12D
  EXPECT_EQ(state_->substitution[9], 0x5A);
  EXPECT_EQ(state_->substitution[255], 1);
  EXPECT_EQ(state_->inverse_substitution[1], 255);
  std::vector<bool> seen(256);
  for (int i = 0; i < 256; ++i) {
    EXPECT_FALSE(seen[state_->substitution[i]]) << i;
    seen[state_->substitution[i]] = true;
    EXPECT_EQ(state_->inverse_substitution[state_->substitution[i]], i);
  }
}

// Blocks of every kind go in and come back; the header says stored or packed as expected.
TEST_F(CodecTest, BlocksRoundTripAndChooseStoredOrPacked) {
  struct Case {
    std::string name;
    std::vector<std::uint8_t> data;
    bool stored;
  };
  std::vector<std::uint8_t> ramp(4000);
  for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<std::uint8_t>(i * 7 / 3);
  std::vector<std::uint8_t> pairs;  // "abXabYabZ...": slots that close and reopen
  for (int i = 0; i < 3000; ++i) {
    pairs.push_back('a');
    pairs.push_back('b');
    pairs.push_back(static_cast<std::uint8_t>(i % 251));
  }
  const std::vector<Case> cases = {
      {"empty", {}, true},
      {"one byte", {0x41}, true},
      {"two bytes", {0xFF, 0x00}, true},
      {"three bytes", {'a', 'b', 'c'}, true},
      {"full block of zeros", std::vector<std::uint8_t>(32768, 0), false},
      {"full block of 0xFF", std::vector<std::uint8_t>(32768, 0xFF), false},
      {"full block of text", testdata::TextLike(32768), false},
      {"short text", testdata::TextLike(1234, 3), false},
      {"full random block", testdata::Random(32768), true},
      {"short random block", testdata::Random(777), true},
      {"ramp", ramp, false},
      {"closing slots", pairs, false},
      {"random then zeros",
       [] {
         auto v = testdata::Random(20000);
         v.resize(32768, 0);
         return v;
       }(),
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> packed = Pack(c.data);
    ASSERT_GE(packed.size(), 2u);
    unsigned h = Header(packed);
    EXPECT_EQ((h & 0x8000) != 0, c.stored);
    if (c.stored) {
      EXPECT_EQ(packed.size(), c.data.size() + 2);
      EXPECT_EQ(h & 0x7FFF, c.data.size() & 0x7FFF);  // 32,768 is written as 0
    } else {
      EXPECT_LT(packed.size(), c.data.size() + 2);
      EXPECT_EQ(h, packed.size() - 2);
    }
    if (c.data.empty()) continue;  // header 0x8000 alone would mean 32,768 bytes
    auto back = Unpack(packed);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, c.data);
  }
}

TEST_F(CodecTest, FullBlockOfOneByteValuePacksToAFewBytes) {
  std::vector<std::uint8_t> packed = Pack(std::vector<std::uint8_t>(32768, 'x'));
  EXPECT_LT(packed.size(), 300u);
  // A stored full block is 0x80 0x00 followed by 32,768 substituted bytes.
  std::vector<std::uint8_t> random = testdata::Random(32768);
  std::vector<std::uint8_t> stored = Pack(random);
  ASSERT_EQ(stored.size(), 32770u);
  EXPECT_EQ(stored[0], 0x80);
  EXPECT_EQ(stored[1], 0x00);
  for (std::size_t i = 0; i < 64; ++i) EXPECT_EQ(stored[2 + i], state_->substitution[random[i]]);
}

// The first codes come from fresh trees: byte value s (below 255) has the 8-bit code s+1,
// byte 255 the 9-bit code 000000000; bits fill each byte from the top.
TEST_F(CodecTest, FirstCodesFollowTheInitialTreeShape) {
  std::vector<std::uint8_t> text = testdata::TextLike(2000);
  text[0] = 'T';
  text[1] = 'h';
  std::vector<std::uint8_t> packed = Pack(text);
  ASSERT_EQ(packed[0] & 0x80, 0);
  EXPECT_EQ(packed[2], 'T' + 1);
  EXPECT_EQ(packed[3], 'h' + 1);

  text[0] = 0xFF;
  text[1] = 0x01;
  packed = Pack(text);
  ASSERT_EQ(packed[0] & 0x80, 0);
  EXPECT_EQ(packed[2], 0x00);      // eight of the nine zero bits of 255
  EXPECT_EQ(packed[3], 0x01);      // the ninth zero bit, then the first 7 bits of 0x02
  EXPECT_EQ(packed[4] & 0x80, 0);  // the last bit of 0x02
}

// Pins the stored format: any change to the coder's rules changes these packed bytes.
TEST_F(CodecTest, PackedBytesStayTheSame) {
  auto checksum = [](const std::vector<std::uint8_t>& v) {
    std::uint32_t h = 2166136261u;
    for (std::uint8_t b : v) h = (h ^ b) * 16777619u;
    return h;
  };
  std::vector<std::uint8_t> text = Pack(testdata::TextLike(32768));
  std::vector<std::uint8_t> mixed = testdata::TextLike(9000, 5);
  for (std::size_t i = 0; i < mixed.size(); i += 97) mixed[i] = static_cast<std::uint8_t>(i);
  std::vector<std::uint8_t> mixed_packed = Pack(mixed);
  EXPECT_EQ(text.size(), 7347u);
  EXPECT_EQ(checksum(text), 2244251256u);
  EXPECT_EQ(mixed_packed.size(), 2546u);
  EXPECT_EQ(checksum(mixed_packed), 3701011513u);
}

TEST_F(CodecTest, MalformedPayloadsAreRefused) {
  std::vector<std::uint8_t> packed = Pack(testdata::TextLike(5000));
  ASSERT_EQ(packed[0] & 0x80, 0);

  std::vector<std::uint8_t> spare = packed;
  spare.push_back(0);
  EXPECT_FALSE(Unpack(spare).has_value()) << "spare trailing byte";

  std::vector<std::uint8_t> cut = packed;
  cut.pop_back();
  EXPECT_FALSE(Unpack(cut).has_value()) << "payload cut short";

  EXPECT_FALSE(Unpack({0x00, 0x00}).has_value()) << "empty packed payload";

  // Code 000000001 in a fresh tree 0 is the end symbol: a block cannot start with it.
  EXPECT_FALSE(Unpack({0x00, 0x02, 0x00, 0x80}).has_value());

  // A payload of ones keeps taking right children: runs out of input inside a code, or
  // produces bytes until the output would pass 32,768.
  std::vector<std::uint8_t> ones(2 + 32768, 0xFF);
  ones[0] = 0x00;
  ones[1] = 0x00;
  EXPECT_FALSE(Unpack(ones).has_value());

  // A stored payload longer than a block.
  std::vector<std::uint8_t> in(40000, 1), out(kCodecBlockSize);
  std::uint16_t n = 0;
  EXPECT_EQ(ExpandJobData(in.data(), out.data(), 40000, n, true, *state_), kCodecMalformed);
  std::vector<std::uint8_t> big(kCodecOutputSize);
  EXPECT_EQ(CompressJobData(in.data(), big.data(), 40000, n, *state_), kCodecMalformed);
}

TEST_F(CodecTest, StateIsReusedAcrossBlocksWithoutCarryOver) {
  // Blocks are independent: the same block packs the same after any other block.
  std::vector<std::uint8_t> a = testdata::TextLike(10000, 11);
  std::vector<std::uint8_t> first = Pack(a);
  Pack(testdata::TextLike(32768, 12));
  Unpack(Pack(testdata::Random(3000)));
  EXPECT_EQ(Pack(a), first);
}

}  // namespace
}  // namespace zv::jobdoc
