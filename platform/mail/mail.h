// Mail messages as an SMTP peer receives them: Japanese text in ISO-2022-JP (the encoding
// of the notices the engine mails), header words in the MIME "B" encoding, and the whole
// message text with CRLF line ends. Pure code: no network and no clock.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/base/status.h"

namespace zv::mail {

// Takes Shift_JIS (CP932) bytes; gives ISO-2022-JP bytes: ASCII as is, double-byte
// characters as JIS X 0208 rows (the vendor rows 13 and 89-92 as those rows; lead bytes above
// 0xEF, which have no JIS row, as "〓"), half-width
// katakana as JIS X 0201 katakana; the text always ends in ASCII mode. Bytes that form no
// character become "?".
std::string Cp932ToIso2022Jp(std::string_view cp932);

// Takes UTF-8 text; gives it in ISO-2022-JP. Characters with no Shift_JIS form become "?".
std::string Utf8ToIso2022Jp(std::string_view utf8);

// Takes a UTF-8 header text; gives it unchanged when it is printable ASCII, otherwise as
// MIME encoded words "=?ISO-2022-JP?B?...?=", each at most 75 characters, joined by CRLF
// and a space (a folded header line).
std::string EncodeHeaderText(std::string_view utf8);

// A mail to one recipient.
struct MailMessage {
  std::string from;                       // sender address
  std::string to;                         // recipient address
  std::string subject;                    // UTF-8
  std::vector<std::string> body_lines;    // UTF-8, without line ends
  std::vector<std::string> header_lines;  // further header lines, e.g. "X-Mailer: ..."
};

// Takes a message and the text of its Date header (RFC 5322 form); gives the message text:
// Date, From, To, Subject (encoded), MIME-Version, Content-Transfer-Encoding 7bit, the
// caller's header lines, an empty line and the body in ISO-2022-JP, every line ended by
// CRLF. InvalidArgument when an address, the subject or a header line holds a line end
// (which would smuggle in header lines) or an address is empty.
Result<std::string> ComposeMessage(const MailMessage& message, std::string_view date);

// Takes a Unix time and a UTC offset in minutes; gives "Wed, 09 Dec 2026 23:40:00 +0900".
std::string Rfc5322Date(long long unix_seconds, int utc_offset_minutes);

// The Date header text of now, in the machine's time zone.
std::string Rfc5322DateNow();

}  // namespace zv::mail
