// The client settings blocks: the named shared-memory blocks through which the resident
// program publishes the user's capture and conversion settings, the records they hold and
// the window messages that change them. Pure layout code shared by the resident program and
// the capture library; every reader checks sizes before it reads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/status.h"

namespace zv::capture {

inline constexpr char kResidentWindowText[] = "ZvPermanent";
inline constexpr char kPermanentBlock[] = "ZvPermanent";
inline constexpr std::size_t kPermanentBlockSize = 47;
inline constexpr char kTempPathBlock[] = "WxnTempPath";
inline constexpr std::size_t kTempPathBlockSize = 261;
inline constexpr char kTransferBlock[] = "Zvmkexe";
// The window property of the client main frame that can take jobs.
inline constexpr char kClientProperty[] = "Zelvora";

// Messages to the resident window.
inline constexpr std::uint32_t WM_PERM_LOADSETTINGS = 0x400;
inline constexpr std::uint32_t WM_PERM_SETSLOT = 0x401;
inline constexpr std::uint32_t WM_PERM_OVERLAYSLOT = 0x402;
inline constexpr std::uint32_t WM_PERM_RESTORESLOTS = 0x403;
inline constexpr std::uint32_t WM_PERM_SETCLIENTWND = 0x40A;
inline constexpr std::uint32_t WM_PERM_GETCLIENTWND = 0x40B;
// What WM_PERM_GETCLIENTWND gives until a client registered its window.
inline constexpr std::uint32_t kNoClientWindow = 0xFFFFFFFFu;

inline constexpr int kSlotCount = 12;
inline constexpr int kKindCount = 4;
// OutKind bits of the slots that have blocks (slots 5 and 6 have none).
inline constexpr std::uint32_t kSlotsWithBlocks = 0xF9Fu;
inline constexpr std::size_t kRecordHeaderSize = 6;
inline constexpr std::size_t kMaxModuleName = 260;
inline constexpr std::size_t kExtensionField = 16;
inline constexpr std::size_t kMaxLocation = 260;

// The settings record of "ZvPermanent".
#pragma pack(push, 1)
struct PermanentSettings {
  std::int32_t task_combinate = 1;
  std::int32_t ie55_frame_off = 0;
  std::uint32_t out_kind = 0;
  std::uint8_t init_format[35] = {};
};
#pragma pack(pop)
static_assert(sizeof(PermanentSettings) == kPermanentBlockSize);

// Takes a slot and a kind; gives the size of that slot's block, or 0 when the pair has no
// block.
std::size_t SlotBlockSize(int slot, int kind);
// Takes a slot and a kind; gives the block name "ZvPerm<slot>_<kind>".
std::string SlotBlockName(int slot, int kind);

// The head of every slot record.
struct RecordHeader {
  std::uint32_t size = 0;
  int slot = 0;
  int kind = 0;
};
// Takes record bytes; gives the head when the bytes hold at least 6 bytes.
std::optional<RecordHeader> ReadRecordHeader(std::span<const std::byte> bytes);
// Takes record bytes; Ok when the record may be stored: size at least 6 and within the bytes
// given, slot and kind that have a block, and a size no larger than that block.
Status CheckStorableRecord(std::span<const std::byte> bytes);

// Kind 0: the converter of a slot.
struct ConverterRecord {
  std::uint32_t type = 0;
  std::string extension;  // without the dot
  std::string module;
};
std::vector<std::byte> BuildConverterRecord(int slot, const ConverterRecord& record);
// Takes a block's bytes; gives its converter record (texts end at their NUL or their
// field). InvalidArgument when the record is shorter than its fields.
Result<ConverterRecord> ParseConverterRecord(std::span<const std::byte> bytes);

// Kind 1: the output location (folder ending in "\" or a file path) and the notice file.
struct OutputRecord {
  std::string location;
  std::string notice;
};
std::vector<std::byte> BuildOutputRecord(int slot, const OutputRecord& record);
Result<OutputRecord> ParseOutputRecord(std::span<const std::byte> bytes);

// Kind 3: slot 7 carries the status window and its wParam; slots 9 to 11 a 32-bit value.
std::vector<std::byte> BuildStatusWindowRecord(std::uint32_t window, std::uint32_t value);
std::vector<std::byte> BuildValueRecord(int slot, std::uint32_t value);

// Kind 2: the 12-byte image options record.
std::vector<std::byte> BuildImageOptionsRecord(int slot, std::uint8_t a, std::uint16_t b, std::uint16_t c,
                                               std::uint8_t d);

// Takes the stored "InitFormat" value (each byte plus 30) of any length; gives the 35-byte
// page-format record: the default record (byte 0 = 35, page count 1, bytes 4 to 6 = 1) with
// as many decoded bytes over it as the stored first byte names and the value holds, byte 0
// then 35.
std::array<std::uint8_t, 35> DecodeInitFormat(std::optional<std::span<const std::uint8_t>> stored);

// Takes bytes; gives the text up to the first NUL (all of it without one).
std::string CText(std::span<const std::byte> bytes);

}  // namespace zv::capture
