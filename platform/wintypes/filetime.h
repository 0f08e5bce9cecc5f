// FILETIME: a point in time as 100-nanosecond ticks since 1601-01-01 UTC, stored as two
// 32-bit halves (low first). Job documents carry it with each attachment.
#pragma once

#include <climits>
#include <cstdint>

#include "platform/wintypes/wintypes.h"

namespace zv::win {

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
  friend bool operator==(const FILETIME&, const FILETIME&) = default;
};
static_assert(sizeof(FILETIME) == 8);

// Ticks between 1601-01-01 and the Unix epoch 1970-01-01.
constexpr std::uint64_t kFileTimeUnixEpoch = 116444736000000000ull;

// Gives the FILETIME of a Unix time in nanoseconds (times before 1601 become 0).
constexpr FILETIME FileTimeFromUnixNanos(std::int64_t nanos) {
  std::int64_t ticks = nanos / 100 + static_cast<std::int64_t>(kFileTimeUnixEpoch);
  std::uint64_t t = ticks < 0 ? 0 : static_cast<std::uint64_t>(ticks);
  return FILETIME{static_cast<DWORD>(t & 0xFFFFFFFFu), static_cast<DWORD>(t >> 32)};
}

// Gives the Unix time in nanoseconds of a FILETIME; times outside what 64-bit nanoseconds can
// hold (before 1677 or after 2262, e.g. a zero FILETIME) are clamped to the nearest end.
constexpr std::int64_t UnixNanosFromFileTime(FILETIME ft) {
  constexpr std::uint64_t kMaxTicks = static_cast<std::uint64_t>(INT64_MAX / 100);
  std::uint64_t t = (std::uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  if (t >= kFileTimeUnixEpoch) {
    std::uint64_t d = t - kFileTimeUnixEpoch;
    return d > kMaxTicks ? INT64_MAX : static_cast<std::int64_t>(d) * 100;
  }
  std::uint64_t d = kFileTimeUnixEpoch - t;
  return d > kMaxTicks ? INT64_MIN : -static_cast<std::int64_t>(d) * 100;
}

}  // namespace zv::win
