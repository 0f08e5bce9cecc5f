// The virtual printer's device mode PRIVDEVMODE (the standard DEVMODEW followed by a private
// part tagged "PRIV"), the paper and resolution tables and the rules that build, merge and
// convert device modes. Pure: printer data, the code page and the computer name come through
// the PlatformOps interface (platform.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "driver/settings/platform.h"
#include "platform/wintypes/wintypes.h"

namespace zv::driver {

// The private part behind the standard device mode; all numbers little-endian.
struct PrivatePart {
  char tag[4];          // "PRIV"
  std::uint32_t flags;  // 0x20|0x80 for code page 1252 or CJK; 0x1000 always
  std::uint8_t reserved1[80];
  std::uint8_t color_adjustment[24];  // COLORADJUSTMENT layout
  std::uint8_t reserved2[68];
  char computer_name[16];  // ANSI code page, NUL-terminated
  std::uint8_t reserved3[16];
  std::uint16_t user_paper_width;   // 0.1 mm
  std::uint16_t user_paper_height;  // 0.1 mm
  std::uint8_t reserved4[16];
  std::uint16_t margin_left, margin_right, margin_top, margin_bottom;  // 0.1 mm
  std::uint8_t reserved5[2];
  std::uint8_t user_may_change;  // set by the paper property page; nothing else reads it
  std::uint8_t reserved6[101];
};
static_assert(sizeof(PrivatePart) == 344);
static_assert(offsetof(PrivatePart, flags) == 4);
static_assert(offsetof(PrivatePart, color_adjustment) == 88);
static_assert(offsetof(PrivatePart, computer_name) == 180);
static_assert(offsetof(PrivatePart, user_paper_width) == 212);
static_assert(offsetof(PrivatePart, user_paper_height) == 214);
static_assert(offsetof(PrivatePart, margin_left) == 232);
static_assert(offsetof(PrivatePart, margin_bottom) == 238);
static_assert(offsetof(PrivatePart, user_may_change) == 242);

struct PRIVDEVMODE {
  win::DEVMODEW dm;
  PrivatePart priv;
};
static_assert(sizeof(PRIVDEVMODE) == 564);
static_assert(offsetof(PRIVDEVMODE, priv) == 220);
static_assert(offsetof(PRIVDEVMODE, dm.dmSpecVersion) == 64);
static_assert(offsetof(PRIVDEVMODE, dm.dmSize) == 68);
static_assert(offsetof(PRIVDEVMODE, dm.dmDriverExtra) == 70);
static_assert(offsetof(PRIVDEVMODE, dm.dmFields) == 72);
static_assert(offsetof(PRIVDEVMODE, dm.dmOrientation) == 76);
static_assert(offsetof(PRIVDEVMODE, dm.dmPrintQuality) == 90);
static_assert(offsetof(PRIVDEVMODE, dm.dmYResolution) == 96);
static_assert(offsetof(PRIVDEVMODE, dm.dmFormName) == 102);

inline constexpr std::uint16_t kStdDevmodeSize = 220;
inline constexpr std::uint16_t kPrivateSize = 344;
inline constexpr std::uint16_t kDriverVersion = 0x0101;
inline constexpr std::uint32_t kDefaultFields = 0x6D0F;
inline constexpr std::uint16_t kDefaultMargin = 50;
inline constexpr std::uint16_t kMaxMargin = 300;
inline constexpr std::uint16_t kMinUserPaper = 1000;
inline constexpr std::uint16_t kMaxUserPaper = 8400;
inline constexpr int kDefaultResolution = 200;
// The smallest dmSize a caller's device mode may have: it must reach past dmFields.
inline constexpr std::uint16_t kMinDevmodeSize = 76;

// ---- Resolutions ----

struct ResolutionEntry {
  int dpi;
  int label_id;
  const char* label;
};
// Takes nothing; gives the seven resolutions 75 to 600 in table order.
std::span<const ResolutionEntry> ResolutionTable();
// Takes a resolution and a fallback; gives the index of the resolution in the table, else
// of the fallback, else 7 (the end entry).
int ResolutionIndex(int resolution, int fallback);
// Takes a resolution; gives whether it is one of the seven.
bool IsKnownResolution(int resolution);

// ---- Papers ----

// One row of the paper table, columns as named.
struct PaperRow {
  std::uint16_t code, dpi;
  std::uint16_t width_px, height_px;  // paper
  std::uint16_t printable_w_px, printable_h_px;
  std::uint16_t left_px, top_px;          // printable area's offset
  std::uint16_t width_mm10, height_mm10;  // paper, 0.1 mm
  std::uint16_t printable_w_mm10, printable_h_mm10;
  std::uint16_t name_id;
};

struct PaperInfo {
  std::uint16_t code;
  int name_id;
  const char* name;      // the paper's name as the property sheets show it (UTF-8)
  const char* ppd_name;  // its PPD PageSize keyword
};
inline constexpr int kPaperCount = 12;
inline constexpr int kPaperRowCount = 84;
inline constexpr int kA4At200Row = 51;
inline constexpr std::uint16_t kUserPaperCode = 259;
// Takes nothing; gives the twelve papers in row order.
std::span<const PaperInfo> Papers();
// Takes a paper code; gives its paper, or null.
const PaperInfo* PaperByCode(std::uint16_t code);
// Takes a PPD PageSize keyword (case-insensitive); gives its paper, or null.
const PaperInfo* PaperByPpdName(std::string_view name);
// Takes a row index 0..83; gives the static portrait row (printable area = whole paper).
PaperRow StaticPaperRow(int row);

// Takes a resolution and a length in 0.1 mm; gives pixels: length × (dpi × 1000 / 254) / 1000
// in unsigned arithmetic with the factor truncated first.
std::uint32_t TenthMmToPixels(std::uint32_t resolution, std::uint32_t length);

// Takes a private part; gives the margins and user paper size it stands for: a margin above
// 300 becomes 50, a user paper side outside 1000..8400 becomes A4's.
struct PaperSettings {
  std::uint16_t left, right, top, bottom, user_width, user_height;
};
PaperSettings EffectivePaperSettings(const PrivatePart& priv);

// Takes a row index and a mode; gives the row as the mode sees it: the user paper size for
// the user-defined paper and the printable area less the margins. The shared table is never
// written. `landscape` gives the row's landscape twin.
PaperRow ComputePaperRow(int row, const PRIVDEVMODE& mode, bool landscape = false);
// Takes a mode, the platform and the printer; gives the row of the mode's paper at its
// resolution (else the fallback resolution, A4, or row 51). Never fails.
int FindPaperRow(const PRIVDEVMODE& mode, PlatformOps& ops, std::string_view printer);
// Takes a mode; gives the row of its paper at exactly dmPrintQuality, or -1.
int FindPaperRowExact(const PRIVDEVMODE& mode);

// ---- Defaults and merge ----

// Takes the platform and the printer name (empty: none); gives "DefaultResolution" when it is
// one of the seven, else 200.
int GetDefaultResolution(PlatformOps& ops, std::string_view printer);
// Takes a mode and the printer name; sets the standard defaults and the private paper and
// margin defaults.
void InitDevmodeDefaults(PRIVDEVMODE& mode, PlatformOps& ops, std::string_view printer);
// Takes the platform and the printer name; gives the printer's default device mode.
PRIVDEVMODE BuildDefaultDevmode(PlatformOps& ops, std::string_view printer);
// Takes a default mode and a caller's device mode as bytes (empty: none); takes the caller's
// accepted fields into the default. Gives 1 when taken (or none given), 0 with last error 87
// when the bytes do not hold a device mode of a known version (the default is unchanged).
int MergeDevmode(PlatformOps& ops, std::string_view printer, PRIVDEVMODE& target, std::span<const std::uint8_t> source);
// Takes a private part; makes it safe to use: margins and user paper as
// EffectivePaperSettings gives them, the computer name NUL-terminated.
void SanitizePrivatePart(PrivatePart& priv);

// Takes a mode; gives its bytes.
inline std::span<const std::uint8_t> Bytes(const PRIVDEVMODE& mode) {
  return {reinterpret_cast<const std::uint8_t*>(&mode), sizeof mode};
}
inline std::span<std::uint8_t> MutableBytes(PRIVDEVMODE& mode) {
  return {reinterpret_cast<std::uint8_t*>(&mode), sizeof mode};
}

// ---- Form information ----

struct FormInfo {
  std::uint32_t flags = 0;
  std::string name;             // UTF-8
  std::int32_t cx = 0, cy = 0;  // micrometres
  std::int32_t left = 0, top = 0, right = 0, bottom = 0;
};
// Takes a mode; gives the form of its exact row (size = printable area) and writes the
// paper's name into dmFormName. Gives 0, or 2 when there is no exact row.
int GetFormInfo(PRIVDEVMODE& mode, FormInfo& out);

// ---- Conversions (each takes the device mode's bytes; the header must fit) ----

// Takes a device mode's bytes; gives 0x0320, 0x0400, 0x0401 by dmSize, dmSpecVersion for
// another size, 0 for none or bytes too short for the header.
std::uint16_t GetDevmodeVersion(std::span<const std::uint8_t> mode);
// Takes a source and a destination; copies the common standard part and private part and
// gives the bytes copied, -1 when either is of no version or does not fit its span.
int ConvertDevmode(std::span<const std::uint8_t> source, std::span<std::uint8_t> destination);
// Takes a source, an optional template and a destination; copies or converts. Gives 1 or 0
// (last error 87 when a span is too short).
int CopyOrConvertDevmode(std::span<const std::uint8_t> source, std::span<const std::uint8_t> templ,
                         std::span<std::uint8_t> destination);
struct DevmodeVersions {
  std::uint16_t current_driver, current_private, old_driver, old_private;
};
inline constexpr int kConvertToCurrent = 1, kConvertTo351 = 2, kConvertDriverDefault = 4;
// Takes an input mode, an output buffer, the in-out size (null: error 87), the mode and the
// version table; gives 0 false, 1 true, 2 not handled (last error 87 or 122 on failures).
int CommonConvertDevmode(std::span<const std::uint8_t> in, std::span<std::uint8_t> out, std::uint32_t* size, int mode,
                         const DevmodeVersions& versions);

// ---- Text helpers ----

// Takes a destination of `count` UTF-16 units and a source; copies at most count-1 units and
// fills the rest with NUL.
void CopyStringW(char16_t* destination, std::u16string_view source, std::size_t count);
// Takes a code page; gives whether it is 932, 936, 949 or 950.
bool IsCjkCodePage(std::uint32_t code_page);
// Takes UTF-8 text and a code page; gives the text in that code page (932: Shift_JIS, else
// ASCII with "?" for anything else).
std::string WideToAnsi(std::string_view utf8, std::uint32_t code_page);
// Takes the platform; gives whether the user's country uses metric paper.
bool IsMetricCountry(PlatformOps& ops);
// Takes a UTF-16 field; gives its text up to the first NUL as UTF-8.
std::string FieldText(const char16_t* field, std::size_t count);

}  // namespace zv::driver
