#include "platform/codepage/codepage.h"

#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace zv::codepage {
namespace {

// "印刷" in CP932 and UTF-8; half-width katakana "ｻｰﾋﾞｽ" in CP932 (one byte each).
const std::string kInsatsuCp932 = "\x88\xf3\x8d\xfc";
const std::string kInsatsuUtf8 = "印刷";
const std::string kServiceCp932 = "\xbb\xb0\xcb\xde\xbd";
const std::string kServiceUtf8 = "ｻｰﾋﾞｽ";

TEST(Codepage, Cp932RoundTrips) {
  struct Case {
    std::string cp932, utf8;
  } cases[] = {{"", ""},
               {"abc 123", "abc 123"},
               {kInsatsuCp932, kInsatsuUtf8},
               {kServiceCp932, kServiceUtf8},
               {"A" + kInsatsuCp932 + "\x5c", "A" + kInsatsuUtf8 + "\\"},
               {"\x81\x60", "～"}};  // the CP932 wave dash maps to the full-width tilde
  for (const auto& c : cases) {
    EXPECT_EQ(Cp932ToUtf8(c.cp932).value(), c.utf8);
    EXPECT_EQ(Utf8ToCp932(c.utf8).value(), c.cp932);
  }
}

TEST(Codepage, FitLengthKeepsDoubleByteCharactersWhole) {
  struct Case {
    std::string bytes;
    size_t max, fit;
  } cases[] = {{"abc", 5, 3},
               {"abc", 2, 2},
               {"a" + kInsatsuCp932, 2, 1},  // the lead byte of "印" would be cut off
               {"a" + kInsatsuCp932, 3, 3},
               {kServiceCp932, 4, 4},  // half-width katakana are single bytes
               {"", 0, 0}};
  for (const auto& c : cases) EXPECT_EQ(Cp932FitLength(c.bytes, c.max), c.fit) << c.bytes << " " << c.max;
}

TEST(Codepage, CharactersSplitAtLeadBytes) {
  using V = std::vector<std::string>;
  struct Case {
    std::string bytes;
    V chars;
  } cases[] = {{"", {}},
               {"ab", {"a", "b"}},
               {"a" + kInsatsuCp932, {"a", kInsatsuCp932.substr(0, 2), kInsatsuCp932.substr(2, 2)}},
               {"\xe0\x40x", {"\xe0\x40", "x"}},  // the upper lead range too
               {"a\x82", {"a", "\x82"}},          // a lead byte at the end stands alone
               {kServiceCp932.substr(0, 2), {kServiceCp932.substr(0, 1), kServiceCp932.substr(1, 1)}}};
  for (const auto& c : cases) {
    V got;
    for (std::string_view ch : Cp932Chars(c.bytes)) got.emplace_back(ch);
    EXPECT_EQ(got, c.chars) << c.bytes;
  }
}

TEST(Codepage, UnmappableAndInvalidInput) {
  // A character CP932 lacks: a clear error by default, "?" when substitution is asked.
  auto r = Utf8ToCp932("a😀b");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.status().code(), Status::Code::kInvalidArgument);
  EXPECT_NE(r.status().message().find("byte 1"), std::string::npos) << r.status().message();
  EXPECT_EQ(Utf8ToCp932("a😀b" + kInsatsuUtf8, OnError::kSubstitute).value(), "a?b" + kInsatsuCp932);
  // Invalid CP932: a lead byte cut off at the end, a bad trail byte.
  EXPECT_FALSE(Cp932ToUtf8("ab\x88").ok());
  EXPECT_EQ(Cp932ToUtf8("ab\x88", OnError::kSubstitute).value(), "ab\xEF\xBF\xBD");
  EXPECT_EQ(Cp932ToUtf8("x\xa0y", OnError::kSubstitute).value(), "x\xEF\xBF\xBDy");
  // Invalid UTF-8.
  EXPECT_FALSE(Utf8ToCp932("a\xff").ok());
  EXPECT_EQ(Utf8ToCp932("a\xffz", OnError::kSubstitute).value(), "a?z");
}

// Invalid UTF-8 gets one substitute per maximal subpart (Unicode's recommendation): a lead
// whose second byte is out of its range stands alone, a truncated sequence is one.
TEST(Codepage, OneSubstitutePerMaximalInvalidSubpart) {
  const std::string r = "\uFFFD";
  struct Case {
    std::string in, out;
  } cases[] = {
      {"a\xE0\x80\x80z", "a" + r + r + r + "z"},          // overlong: E0 needs A0..BF
      {"a\xED\xA0\x80z", "a" + r + r + r + "z"},          // a surrogate: ED needs 80..9F
      {"a\xF4\x90\x80\x80z", "a" + r + r + r + r + "z"},  // past U+10FFFF
      {"a\xF0\x80\x80\x80z", "a" + r + r + r + r + "z"},  // overlong four bytes
      {"a\xC0\xAFz", "a" + r + r + "z"},                  // C0, C1 never lead
      {"a\xE3\x81z", "a" + r + "z"},                      // a truncated sequence is one
      {"a\xF0\x9F\x98z", "a" + r + "z"},
      {"a\xE3\x81", "a" + r},  // cut off at the end
      {"\x80\x80", r + r},     // lone continuation bytes
  };
  for (const Case& c : cases) {
    auto wide = Utf8ToUtf16(c.in, OnError::kSubstitute);
    ASSERT_TRUE(wide.ok()) << c.in;
    EXPECT_EQ(Utf16ToUtf8(*wide).value(), c.out) << c.in;
  }
}

TEST(Codepage, Utf16) {
  EXPECT_EQ(Utf16ToUtf8(u"印刷 A").value(), "印刷 A");
  EXPECT_EQ(Utf8ToUtf16("印刷 A😀").value(), u"印刷 A😀");
  EXPECT_EQ(Utf8ToUtf16LeBytes("A印").value(), std::string("A\0\x70\x53", 4));
  EXPECT_EQ(Utf16LeBytesToUtf8(std::string("A\0\x70\x53", 4)).value(), "A印");
  // Odd byte count and a lone surrogate.
  EXPECT_FALSE(Utf16LeBytesToUtf8(std::string("A\0B", 3)).ok());
  std::u16string lone = u"a";
  lone.push_back(char16_t(0xD800));
  lone += u"b";
  EXPECT_FALSE(Utf16ToUtf8(lone).ok());
  EXPECT_EQ(Utf16ToUtf8(lone, OnError::kSubstitute).value(),
            "a\xEF\xBF\xBD"
            "b");
  // Surrogate pairs whole, cut off at the end and in the wrong order.
  EXPECT_EQ(Utf16LeBytesToUtf8(std::string("\x3D\xD8\x00\xDE", 4)).value(), "😀");
  EXPECT_EQ(Utf8ToUtf16LeBytes("😀").value(), std::string("\x3D\xD8\x00\xDE", 4));
  for (const std::string& bad : {std::string("a\0\x3D\xD8", 4), std::string("\x00\xDE\x3D\xD8", 4)})
    EXPECT_FALSE(Utf16LeBytesToUtf8(bad).ok());
  // UTF-8 that is not the shortest form, a surrogate written out, past U+10FFFF, cut off.
  for (const char* bad : {"\xC0\x80", "\xE0\x80\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\xE5\x8D"})
    EXPECT_FALSE(Utf8ToUtf16LeBytes(bad).ok()) << bad;
}

TEST(Codepage, ThreadsConvertAtOnce) {
  std::vector<std::thread> threads;
  std::vector<int> bad(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 500; ++i) {
        auto a = Cp932ToUtf8(kInsatsuCp932 + std::to_string(i));
        auto b = Utf8ToCp932("a😀", OnError::kSubstitute);  // leaves a converter mid-error
        bad[t] += !(a.ok() && *a == kInsatsuUtf8 + std::to_string(i) && b.ok() && *b == "a?");
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace zv::codepage
