#include "platform/winmsg/wire.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "platform/winmsg/winmsg.h"

namespace zv::winmsg::wire {
namespace {

constexpr std::size_t kLimit = 64;

Frame CopyFrame(std::string_view text) {
  Frame f;
  f.type = FrameType::kSend;
  f.hwnd = 0x12345678;
  f.message = WM_COPYDATA;
  f.wparam = 0xfffffffffull;
  f.lparam = -5;
  f.has_copydata = true;
  f.copy_number = 0xBD3;
  f.copy_bytes.assign(text.begin(), text.end());
  return f;
}

TEST(Frame, RoundTripsEveryKind) {
  Frame post;
  post.type = FrameType::kPost;
  post.hwnd = 7;
  post.message = 0xBD3;
  post.wparam = 1;
  post.lparam = -1;
  Frame reply;
  reply.type = FrameType::kReply;
  reply.code = ReplyCode::kNoWindow;
  reply.result = -42;
  for (const Frame& f : {post, reply, CopyFrame("a /n \"title\" "), CopyFrame("")}) {
    auto bytes = EncodeFrame(f, kLimit);
    ASSERT_TRUE(bytes.ok());
    auto len = FrameLength(*bytes, kLimit);
    ASSERT_TRUE(len.ok());
    EXPECT_EQ(*len, bytes->size());
    auto back = DecodeFrame(*bytes, kLimit);
    ASSERT_TRUE(back.ok()) << back.status().ToString();
    EXPECT_EQ(back->type, f.type);
    EXPECT_EQ(back->hwnd, f.hwnd);
    EXPECT_EQ(back->message, f.message);
    EXPECT_EQ(back->wparam, f.wparam);
    EXPECT_EQ(back->lparam, f.lparam);
    EXPECT_EQ(back->has_copydata, f.has_copydata);
    EXPECT_EQ(back->copy_number, f.copy_number);
    EXPECT_EQ(back->copy_bytes, f.copy_bytes);
    EXPECT_EQ(back->code, f.code);
    EXPECT_EQ(back->result, f.result);
  }
}

TEST(Frame, CopyDataCarriesTheThirtyTwoBitDescriptor) {
  auto bytes = *EncodeFrame(CopyFrame("xyz"), kLimit);
  ASSERT_EQ(bytes.size(), kFrameHeaderSize + kCopyDataOffset + 3);
  std::uint32_t cds[3];
  std::memcpy(cds, bytes.data() + kFrameHeaderSize + kMessageBodySize, sizeof cds);
  EXPECT_EQ(cds[0], 0xBD3u);
  EXPECT_EQ(cds[1], 3u);
  EXPECT_EQ(cds[2], kCopyDataOffset);
}

TEST(Frame, OversizedCopyDataIsNotEncoded) {
  EXPECT_EQ(EncodeFrame(CopyFrame(std::string(kLimit + 1, 'x')), kLimit).status().code(),
            Status::Code::kInvalidArgument);
}

// Each case edits a valid WM_COPYDATA frame into a malformed one.
TEST(Frame, MalformedFramesAreRefused) {
  const auto good = *EncodeFrame(CopyFrame("hello"), kLimit);
  auto put32 = [](std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) { std::memcpy(b.data() + at, &v, 4); };
  struct Case {
    const char* label;
    std::function<void(std::vector<std::uint8_t>&)> edit;
  };
  const std::size_t body = kFrameHeaderSize;
  const Case cases[] = {
      {"wrong magic", [&](auto& b) { b[0] ^= 1; }},
      {"wrong version", [&](auto& b) { b[4] = 9; }},
      {"unknown type", [&](auto& b) { b[6] = 77; }},
      {"body shorter than a message",
       [&](auto& b) {
         put32(b, 8, 10);
         b.resize(body + 10);
       }},
      {"body beyond the limit", [&](auto& b) { put32(b, 8, 0x7fffffff); }},
      {"length says more than there is", [&](auto& b) { put32(b, 8, b.size() - body + 1); }},
      {"unknown flag", [&](auto& b) { put32(b, body + 24, 3); }},
      {"byte count larger than the bytes", [&](auto& b) { put32(b, body + 32, 6); }},
      {"byte count smaller than the bytes", [&](auto& b) { put32(b, body + 32, 4); }},
      {"byte count beyond the limit", [&](auto& b) { put32(b, body + 32, 0xffffffff); }},
      {"bytes not where the descriptor says", [&](auto& b) { put32(b, body + 36, 0); }},
      {"flag without descriptor",
       [&](auto& b) {
         b.resize(body + kMessageBodySize);
         put32(b, 8, kMessageBodySize);
       }},
      {"trailing bytes after a plain message", [&](auto& b) { put32(b, body + 24, 0); }},
      {"reply with a wrong length", [&](auto& b) { b[6] = 3; }},
  };
  for (const auto& c : cases) {
    auto b = good;
    c.edit(b);
    EXPECT_FALSE(DecodeFrame(b, kLimit).ok()) << c.label;
  }
  Frame reply;
  reply.type = FrameType::kReply;
  auto r = *EncodeFrame(reply, kLimit);
  put32(r, body, 99);  // unknown reply code
  EXPECT_FALSE(DecodeFrame(r, kLimit).ok());
}

TEST(Frame, EveryTruncationAndRandomDamageIsRefusedOrDecodedSafely) {
  const auto good = *EncodeFrame(CopyFrame("some bytes for the peer"), kLimit);
  for (std::size_t n = 0; n < good.size(); ++n) {
    EXPECT_FALSE(DecodeFrame(std::span(good.data(), n), kLimit).ok()) << n;
    if (n < kFrameHeaderSize) {
      EXPECT_FALSE(FrameLength(std::span(good.data(), n), kLimit).ok());
    }
  }
  std::mt19937 rng(12345);
  for (int i = 0; i < 5000; ++i) {
    auto b = good;
    int flips = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < flips; ++k) b[rng() % b.size()] = static_cast<std::uint8_t>(rng());
    auto f = DecodeFrame(b, kLimit);
    if (f.ok()) {
      EXPECT_LE(f->copy_bytes.size(), kLimit);
    }
  }
}

TEST(Record, RoundTripsAndRefusesDamage) {
  WindowRecord w;
  w.hwnd = 0x00abcdef;
  w.pid = 4242;
  w.start_time = 99;
  w.created = 123456789;
  w.enabled = false;
  w.socket = "/tmp/r/run/winmsg/4242-99.sock";
  w.class_name = "Zelvora Engine";
  w.text = "印刷実行";
  w.props = {{"Zelvora", 77}, {"other", -1}};
  std::string enc = EncodeRecord(w);
  std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(enc.data()), enc.size());
  auto back = DecodeRecord(bytes);
  ASSERT_TRUE(back.ok()) << back.status().ToString();
  EXPECT_EQ(back->hwnd, w.hwnd);
  EXPECT_EQ(back->pid, w.pid);
  EXPECT_EQ(back->start_time, w.start_time);
  EXPECT_EQ(back->created, w.created);
  EXPECT_EQ(back->enabled, w.enabled);
  EXPECT_EQ(back->socket, w.socket);
  EXPECT_EQ(back->class_name, w.class_name);
  EXPECT_EQ(back->text, w.text);
  EXPECT_EQ(back->props, w.props);

  for (std::size_t n = 0; n < enc.size(); ++n) {
    EXPECT_FALSE(DecodeRecord(bytes.first(n)).ok()) << n;
  }
  std::string longer = enc + "x";
  EXPECT_FALSE(DecodeRecord(std::span(reinterpret_cast<const std::uint8_t*>(longer.data()), longer.size())).ok());
  std::mt19937 rng(7);
  for (int i = 0; i < 5000; ++i) {
    std::string b = enc;
    b[rng() % b.size()] = static_cast<char>(rng());
    (void)DecodeRecord(std::span(reinterpret_cast<const std::uint8_t*>(b.data()), b.size()));
  }
}

}  // namespace
}  // namespace zv::winmsg::wire
