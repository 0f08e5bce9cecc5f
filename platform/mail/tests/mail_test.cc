#include "platform/mail/mail.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

namespace zv::mail {
namespace {

// Decodes ISO-2022-JP with the system's converter, as a mail reader would.
std::string Decode(const std::string& jis) {
  iconv_t cd = iconv_open("UTF-8", "ISO-2022-JP");
  std::string in = jis, out(jis.size() * 4 + 16, '\0');
  char* ip = in.data();
  char* op = out.data();
  size_t il = in.size(), ol = out.size();
  size_t r = iconv(cd, &ip, &il, &op, &ol);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1)) return "<undecodable>";
  out.resize(out.size() - ol);
  return out;
}

TEST(Iso2022Jp, ConvertsTheCharactersOfTheNotices) {
  struct Case {
    std::string utf8, decoded;
  } cases[] = {
      {"plain text 123", "plain text 123"},
      {"印刷枚数制限の通知", "印刷枚数制限の通知"},
      {"依頼者　　：a（b）", "依頼者　　：a（b）"},
      {"1ヶ月 ◎", "1ヶ月 ◎"},
      // The full-width tilde has no JIS form of its own: it is sent as the wave dash.
      {"月曜～日曜", "月曜〜日曜"},
  };
  for (const Case& c : cases) {
    std::string jis = Utf8ToIso2022Jp(c.utf8);
    for (unsigned char b : jis) EXPECT_LT(b, 0x80) << c.utf8;  // 7-bit only
    EXPECT_EQ(Decode(jis), c.decoded) << c.utf8;
  }
}

TEST(Iso2022Jp, ModeSwitchesAndBadBytes) {
  EXPECT_EQ(Cp932ToIso2022Jp("A\x88\xf3"
                             "B"),
            "A\x1b$B0u\x1b(BB");                               // 印
  EXPECT_EQ(Cp932ToIso2022Jp("\xb1"), "\x1b(I1\x1b(B");        // half-width ア
  EXPECT_EQ(Cp932ToIso2022Jp("\x87\x40"), "\x1b$B-!\x1b(B");   // ① in row 13
  EXPECT_EQ(Cp932ToIso2022Jp("\xfa\x40"), "\x1b$B\".\x1b(B");  // no JIS row: 〓
  EXPECT_EQ(Cp932ToIso2022Jp("\x88"), "?");                    // lead byte at the end
  EXPECT_EQ(Cp932ToIso2022Jp("\x88\x20x"), "? x");             // lead byte, bad trail
}

TEST(HeaderText, AsciiStaysAndJapaneseIsEncodedInShortWords) {
  EXPECT_EQ(EncodeHeaderText("Quota notice [2026/03/15 09:05]"), "Quota notice [2026/03/15 09:05]");
  std::string subject = "印刷枚数制限の通知 [2026/03/15 09:05]";
  std::string enc = EncodeHeaderText(subject);
  EXPECT_EQ(enc.rfind("=?ISO-2022-JP?B?", 0), 0u);
  size_t start = 0;
  while (start < enc.size()) {
    size_t end = enc.find("\r\n ", start);
    std::string word = enc.substr(start, end == std::string::npos ? std::string::npos : end - start);
    EXPECT_LE(word.size(), 75u) << word;
    start = end == std::string::npos ? enc.size() : end + 3;
  }
}

TEST(ComposeMessage, HeadersBodyAndRefusedLineEnds) {
  MailMessage m{"from@example.org",
                "to@example.org",
                "件名",
                {"一行目", "", "line 3"},
                {"X-Mailer: test", "Content-Type: text/plain; charset=\"iso-2022-jp\""}};
  auto text = ComposeMessage(m, "Wed, 09 Dec 2026 23:40:00 +0900");
  ASSERT_TRUE(text.ok());
  EXPECT_NE(text->find("From: from@example.org\r\nTo: to@example.org\r\nSubject: =?ISO-2022-JP?B?"), std::string::npos);
  EXPECT_NE(text->find("X-Mailer: test\r\nContent-Type: text/plain; charset=\"iso-2022-jp\"\r\n\r\n"),
            std::string::npos);
  EXPECT_NE(text->find("\r\n\r\nline 3\r\n"), std::string::npos);
  for (auto bad : {&MailMessage::from, &MailMessage::to, &MailMessage::subject}) {
    MailMessage b = m;
    b.*bad += "\r\nBcc: victim@example.org";
    EXPECT_FALSE(ComposeMessage(b, "d").ok());
  }
  MailMessage b = m;
  b.header_lines.push_back("X-A: 1\nBcc: x");
  EXPECT_FALSE(ComposeMessage(b, "d").ok());
  b = m;
  b.to.clear();
  EXPECT_FALSE(ComposeMessage(b, "d").ok());
}

TEST(Rfc5322Date, FormsTheDateWithItsOffset) {
  EXPECT_EQ(Rfc5322Date(1796247600, 540), "Thu, 03 Dec 2026 06:40:00 +0900");
  EXPECT_EQ(Rfc5322Date(0, -150), "Wed, 31 Dec 1969 21:30:00 -0230");
}

}  // namespace
}  // namespace zv::mail
