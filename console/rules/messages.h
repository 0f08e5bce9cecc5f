// The console's message table: 47 numbered texts with their message-box styles, and the
// showing of an entry through an injected sink, so that windows stay thin and tests record
// what a person would have seen.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zv::console {

inline constexpr int kAppMessageCount = 47;

// Message-box styles of the table: Yes/No with the question icon, OK with the exclamation
// icon, OK with the stop icon.
inline constexpr uint32_t kStyleQuestion = 0x24;
inline constexpr uint32_t kStyleWarning = 0x30;
inline constexpr uint32_t kStyleError = 0x10;

// Button identifiers a sink gives back.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// Where the console's message boxes go: a window's message box, or a recorder in tests.
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Takes the text and the style; shows it modally and gives the button that closed it.
  virtual int Show(const std::string& text, uint32_t style) = 0;
};

// Takes an entry number and an optional out style; gives the entry's text and stores its
// style. A number outside 0..46 gives an empty text and leaves *style untouched.
std::string GetAppMessage(int number, uint32_t* style);

// Takes a sink and an entry number; shows the entry with its style and gives the button.
// A number outside 0..46 shows nothing and gives kIdCancel.
int ShowAppMessage(MessageSink& sink, int number);

// Takes an entry with two %3d placeholders (9, 10, 11, 14, 15) and the bounds; gives the
// filled text. Empty for an entry outside the table.
std::string FormatBoundsMessage(int number, int lower, int upper);

// Takes an entry with %s placeholders (7: one name; 12: two dates) and the texts; gives
// the filled text. Missing texts fill as empty.
std::string FormatTextMessage(int number, std::string_view first, std::string_view second = {});

// Takes a sink, an entry number and the entry's filled text; shows the text with the
// entry's style and gives the button (kIdCancel for a number outside the table).
int ShowFilledMessage(MessageSink& sink, int number, const std::string& text);

}  // namespace zv::console
