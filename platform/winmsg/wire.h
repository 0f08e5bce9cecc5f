// Private to winmsg: the byte layouts that cross processes. Pure code, no system calls.
//
// A message frame (little-endian):
//   u32 magic "ZVWM", u16 version 1, u16 type, u32 body length, then the body.
//   send / post body: u32 hwnd, u32 message, u64 wParam, i64 lParam, u32 flags;
//     with flag 1 (WM_COPYDATA) a COPYDATASTRUCT32 follows (lpData = offset of the bytes
//     from the start of the body, always 40) and then exactly cbData bytes.
//   reply body: u32 code, i64 result.
// A window record (one file per window in the window table):
//   u32 magic "ZVWR", u16 version 1, u16 flags (bit 0 enabled), u32 hwnd, u32 pid,
//   u64 process start time, u64 creation stamp, then u32-length-prefixed socket path,
//   class name and text, u32 property count and per property a u32-length-prefixed name
//   and an i64 value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/base/status.h"

namespace zv::winmsg::wire {

enum class FrameType : std::uint16_t { kSend = 1, kPost = 2, kReply = 3 };
enum class ReplyCode : std::uint32_t {
  kOk = 0,
  kNoWindow = 1,  // no such window in the receiving process
  kRefused = 2,   // the receiver would not take the message
  kFailed = 3,    // the window went away before its procedure ran
};

inline constexpr std::size_t kFrameHeaderSize = 12;
inline constexpr std::size_t kMessageBodySize = 28;
inline constexpr std::size_t kCopyDataOffset = kMessageBodySize + 12;  // 40
inline constexpr std::size_t kReplyBodySize = 12;
inline constexpr std::uint32_t kFlagCopyData = 1;

struct Frame {
  FrameType type = FrameType::kSend;
  // send / post
  std::uint32_t hwnd = 0;
  std::uint32_t message = 0;
  std::uint64_t wparam = 0;
  std::int64_t lparam = 0;
  bool has_copydata = false;
  std::uint32_t copy_number = 0;
  std::vector<std::uint8_t> copy_bytes;
  // reply
  ReplyCode code = ReplyCode::kOk;
  std::int64_t result = 0;
};

// Takes the most bytes a WM_COPYDATA may carry; gives the largest frame body accepted.
constexpr std::size_t MaxBodySize(std::size_t max_copy) { return kCopyDataOffset + max_copy; }

// Takes a frame; gives its bytes. InvalidArgument when its copy data exceeds max_copy.
Result<std::vector<std::uint8_t>> EncodeFrame(const Frame& frame, std::size_t max_copy);

// Takes at least kFrameHeaderSize bytes of a frame's start; gives the whole frame's length.
// InvalidArgument for a wrong magic, version or type, or a body longer than the limit or of
// a length the type cannot have.
Result<std::size_t> FrameLength(std::span<const std::uint8_t> header, std::size_t max_copy);

// Takes exactly one whole frame; gives it decoded. InvalidArgument for anything malformed.
Result<Frame> DecodeFrame(std::span<const std::uint8_t> bytes, std::size_t max_copy);

struct WindowRecord {
  std::uint32_t hwnd = 0;
  std::uint32_t pid = 0;
  std::uint64_t start_time = 0;
  std::uint64_t created = 0;
  bool enabled = true;
  std::string socket;
  std::string class_name;
  std::string text;
  std::vector<std::pair<std::string, std::int64_t>> props;
};

inline constexpr std::size_t kMaxRecordString = 32768;
inline constexpr std::size_t kMaxRecordProps = 1024;
inline constexpr std::size_t kMaxRecordSize = 1u << 20;

// Takes a window record; gives its bytes.
std::string EncodeRecord(const WindowRecord& record);
// Takes a record file's bytes; gives the record. Corruption for anything malformed.
Result<WindowRecord> DecodeRecord(std::span<const std::uint8_t> bytes);

}  // namespace zv::winmsg::wire
