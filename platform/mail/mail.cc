#include "platform/mail/mail.h"

#include <ctime>

#include "platform/codepage/codepage.h"

namespace zv::mail {
namespace {

enum class Mode { kAscii, kKanji, kKana };

void Switch(std::string& out, Mode& mode, Mode to) {
  if (mode == to) return;
  switch (to) {
    case Mode::kAscii:
      out += "\x1b(B";
      break;
    case Mode::kKanji:
      out += "\x1b$B";
      break;
    case Mode::kKana:
      out += "\x1b(I";
      break;
  }
  mode = to;
}

bool IsTrail(unsigned char c) { return c >= 0x40 && c <= 0xFC && c != 0x7F; }

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(std::string_view in) {
  std::string out;
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    unsigned v = (static_cast<unsigned char>(in[i]) << 16) | (static_cast<unsigned char>(in[i + 1]) << 8) |
                 static_cast<unsigned char>(in[i + 2]);
    out += kBase64[(v >> 18) & 63];
    out += kBase64[(v >> 12) & 63];
    out += kBase64[(v >> 6) & 63];
    out += kBase64[v & 63];
  }
  if (i < in.size()) {
    unsigned v = static_cast<unsigned char>(in[i]) << 16;
    if (i + 1 < in.size()) v |= static_cast<unsigned char>(in[i + 1]) << 8;
    out += kBase64[(v >> 18) & 63];
    out += kBase64[(v >> 12) & 63];
    out += i + 1 < in.size() ? kBase64[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

bool HasLineEnd(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// Length in bytes of the UTF-8 character that starts with `c` (1 for a stray byte).
size_t Utf8Length(unsigned char c) {
  if (c >= 0xF0) return 4;
  if (c >= 0xE0) return 3;
  if (c >= 0xC0) return 2;
  return 1;
}

}  // namespace

std::string Cp932ToIso2022Jp(std::string_view in) {
  std::string out;
  out.reserve(in.size() + 16);
  Mode mode = Mode::kAscii;
  for (size_t i = 0; i < in.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(in[i]);
    if (c < 0x80) {
      Switch(out, mode, Mode::kAscii);
      out += static_cast<char>(c);
    } else if (c >= 0xA1 && c <= 0xDF) {
      Switch(out, mode, Mode::kKana);
      out += static_cast<char>(c - 0x80);
    } else if (codepage::IsCp932Lead(c) && i + 1 < in.size() && IsTrail(static_cast<unsigned char>(in[i + 1]))) {
      unsigned char t = static_cast<unsigned char>(in[++i]);
      Switch(out, mode, Mode::kKanji);
      if (c > 0xEF) {  // user-defined and IBM extension rows: no JIS form
        // The geta mark (row 2, cell 14), the customary stand-in for a character with no JIS form.
        out += "\x22\x2e";
        continue;
      }
      int j1 = (c - (c <= 0x9F ? 0x70 : 0xB0)) << 1;
      int j2;
      if (t < 0x9F) {
        j1 -= 1;
        j2 = t - 0x1F - (t >= 0x80 ? 1 : 0);
      } else {
        j2 = t - 0x7E;
      }
      out += static_cast<char>(j1);
      out += static_cast<char>(j2);
    } else {
      Switch(out, mode, Mode::kAscii);
      out += '?';
    }
  }
  // Every encoded piece ends back in ASCII: whatever follows it is read without an escape.
  Switch(out, mode, Mode::kAscii);
  return out;
}

std::string Utf8ToIso2022Jp(std::string_view utf8) {
  auto sjis = codepage::Utf8ToCp932(utf8, codepage::OnError::kSubstitute);
  return Cp932ToIso2022Jp(sjis.ok() ? std::string_view(*sjis) : std::string_view("?"));
}

std::string EncodeHeaderText(std::string_view utf8) {
  bool plain = true;
  for (unsigned char c : utf8) {
    if (c < 0x20 || c >= 0x7F) plain = false;
  }
  if (plain) return std::string(utf8);
  // Each encoded word carries a few characters so that it stays within 75 characters:
  // "=?ISO-2022-JP?B?" + base64 of at most 42 bytes + "?=" is 74.
  std::string out;
  size_t pos = 0;
  while (pos < utf8.size()) {
    std::string chunk;
    size_t end = pos;
    while (end < utf8.size()) {
      size_t n = std::min(Utf8Length(static_cast<unsigned char>(utf8[end])), utf8.size() - end);
      std::string next = Utf8ToIso2022Jp(utf8.substr(pos, end + n - pos));
      if (next.size() > 42 && end > pos) break;
      chunk = std::move(next);
      end += n;
    }
    if (!out.empty()) out += "\r\n ";
    out += "=?ISO-2022-JP?B?" + Base64(chunk) + "?=";
    pos = end;
  }
  return out;
}

Result<std::string> ComposeMessage(const MailMessage& m, std::string_view date) {
  if (m.from.empty() || m.to.empty()) return Status::InvalidArgument("mail without sender or recipient");
  // A line end in a value would let it add header lines of its own.
  if (HasLineEnd(m.from) || HasLineEnd(m.to) || HasLineEnd(m.subject) || HasLineEnd(date))
    return Status::InvalidArgument("line end in a mail header value");
  for (const std::string& h : m.header_lines) {
    if (HasLineEnd(h) || h.find(':') == std::string::npos) return Status::InvalidArgument("bad mail header line: " + h);
  }
  std::string text;
  text += "Date: " + std::string(date) + "\r\n";
  text += "From: " + m.from + "\r\n";
  text += "To: " + m.to + "\r\n";
  text += "Subject: " + EncodeHeaderText(m.subject) + "\r\n";
  text += "MIME-Version: 1.0\r\n";
  text += "Content-Transfer-Encoding: 7bit\r\n";
  for (const std::string& h : m.header_lines) text += h + "\r\n";
  text += "\r\n";
  for (const std::string& line : m.body_lines) {
    std::string enc = Utf8ToIso2022Jp(line);
    // A stray line end inside a body line ends that line here; nothing else is changed.
    for (char c : enc) {
      if (c == '\r') continue;
      if (c == '\n') {
        text += "\r\n";
      } else {
        text += c;
      }
    }
    text += "\r\n";
  }
  return text;
}

std::string Rfc5322Date(long long unix_seconds, int offset_minutes) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  time_t local = static_cast<time_t>(unix_seconds + offset_minutes * 60LL);
  struct tm t {};
  gmtime_r(&local, &t);
  int off = offset_minutes < 0 ? -offset_minutes : offset_minutes;
  char buf[64];
  snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d", kDays[t.tm_wday], t.tm_mday,
           kMonths[t.tm_mon], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec, offset_minutes < 0 ? '-' : '+', off / 60,
           off % 60);
  return buf;
}

std::string Rfc5322DateNow() {
  time_t now = time(nullptr);
  struct tm lt {};
  localtime_r(&now, &lt);
  return Rfc5322Date(now, static_cast<int>(lt.tm_gmtoff / 60));
}

}  // namespace zv::mail
