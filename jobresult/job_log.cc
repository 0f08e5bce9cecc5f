#include "jobresult/job_log.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <tuple>
#include <vector>

#include "platform/lasterror/last_error.h"

namespace zv::jobresult {

namespace {

constexpr char kSignature[8] = {'B', 'R', 'O', 'V', 'L', 'O', 'G', '\0'};
constexpr std::uint32_t kIgnoredFlag = 0x80000000u;

std::uint32_t U32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

std::uint16_t U16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

Lookup Fail(std::uint32_t code, std::uint32_t last_error) {
  Lookup l;
  l.code = code;
  l.last_error = last_error;
  return l;
}

Lookup NotALog() { return Fail(kFailed, win::kErrorBadEnvironment); }

// A record's time as compared: year, month, day, hour, minute, second, milliseconds.
using Stamp =
    std::tuple<std::uint16_t, std::uint16_t, std::uint16_t, std::uint16_t, std::uint16_t, std::uint16_t, std::uint16_t>;

Stamp StampOf(const std::uint8_t* rec) {
  // SYSTEMTIME at 16: year, month, day of week, day, hour, minute, second, milliseconds.
  return {U16(rec + 16), U16(rec + 18), U16(rec + 22), U16(rec + 24), U16(rec + 26), U16(rec + 28), U16(rec + 30)};
}

}  // namespace

long long MemoryLog::Read(std::uint64_t offset, std::span<std::uint8_t> out, int* error) {
  if (offset >= bytes_.size()) return 0;
  const std::size_t n = std::min<std::uint64_t>(out.size(), bytes_.size() - offset);
  std::memcpy(out.data(), bytes_.data() + offset, n);
  return static_cast<long long>(n);
}

void UnpackDateTime(std::uint32_t date, std::uint32_t time, JobQuery* q) {
  q->year = std::uint16_t(date >> 16);
  q->month = std::uint16_t((date >> 8) & 0xFF);
  q->day = std::uint16_t(date & 0xFF);
  q->hour = std::uint16_t(time >> 24);
  q->minute = std::uint16_t((time >> 16) & 0xFF);
  q->second = std::uint16_t((time >> 8) & 0xFF);
}

Lookup LookupJob(LogSource& log, const JobQuery& q) {
  std::array<std::uint8_t, kLogHeaderSize> header{};
  int error = 0;
  const long long got = log.Read(0, header, &error);
  if (got < 0) return Fail(kFailed, win::ErrorFromErrno(error));
  if (got == 0) return Fail(kNotFound, win::kErrorSuccess);
  // The three offsets end at byte 32; a shorter header cannot be a log.
  if (got < 32 || std::memcmp(header.data(), kSignature, sizeof kSignature) != 0) return NotALog();
  const std::uint32_t oldest = U32(&header[20]), end = U32(&header[24]), wrap = U32(&header[28]);
  if (wrap <= kLogHeaderSize || oldest < kLogHeaderSize || oldest >= wrap || end < kLogHeaderSize || end >= wrap) {
    return NotALog();
  }

  const std::uint64_t log_size = log.Size();
  // One lap of the ring is every byte between the header and the wrap offset; a scan that
  // goes further never meets the end offset.
  const std::uint64_t lap = std::uint64_t(wrap) - kLogHeaderSize;
  // The query carries whole seconds only: a record matches from that second on, and among the
  // matches the latest (milliseconds counted) wins.
  const Stamp wanted{q.year, q.month, q.day, q.hour, q.minute, q.second, 0};
  std::vector<std::uint8_t> rec;
  bool found = false;
  Stamp best{};
  Lookup result;
  std::uint64_t offset = oldest, advanced = 0;
  for (;;) {
    std::uint8_t size_bytes[4];
    if (log.Read(offset, size_bytes, &error) != 4) return NotALog();
    const std::uint32_t size = U32(size_bytes);
    // A record must hold the fields read, end at or before the wrap offset (ending exactly
    // at it is the normal wrap) and inside the file; this also bounds the buffer by the log.
    if (size < kMinRecordSize || offset + size > wrap || offset + size > log_size) return NotALog();
    if (rec.size() < size) {
      try {
        rec.resize(size);
      } catch (const std::bad_alloc&) {
        return Fail(kOutOfMemory, win::kErrorNotEnoughMemory);
      }
    }
    if (log.Read(offset, std::span<std::uint8_t>(rec.data(), size), &error) != size) return NotALog();

    if ((U32(&rec[12]) & kIgnoredFlag) == 0) {
      const std::uint32_t name_at = U32(&rec[4]);
      if (name_at >= size) return NotALog();
      const auto* name = reinterpret_cast<const char*>(&rec[name_at]);
      const void* nul = std::memchr(name, 0, size - name_at);
      if (!nul) return NotALog();
      const Stamp stamp = StampOf(rec.data());
      const Stamp seconds{std::get<0>(stamp),
                          std::get<1>(stamp),
                          std::get<2>(stamp),
                          std::get<3>(stamp),
                          std::get<4>(stamp),
                          std::get<5>(stamp),
                          0};
      const std::string_view doc(name, static_cast<const char*>(nul) - name);
      if (seconds >= wanted && U32(&rec[76]) == q.job_id && doc == q.document && (!found || stamp >= best)) {
        found = true;
        best = stamp;
        result.code = kFound;
        result.last_error = win::kErrorSuccess;
        result.value1 = U32(&rec[32]);
        result.value3 = U32(&rec[48]);
        const bool has_detail = U32(&rec[8]) != 0;
        result.status = MapPrinterStatus(U32(&rec[36]), has_detail, std::uint32_t(rec[110]) * 256 + rec[111]);
      }
    }

    advanced += size;
    if (advanced > lap) return NotALog();
    offset += size;
    if (offset == end) break;
    if (offset >= wrap) {
      offset = kLogHeaderSize;
      // A writer that filled the ring up to the wrap offset puts its next record at 64.
      if (offset == end) break;
    }
  }
  if (!found) return Fail(kNotFound, win::kErrorSuccess);
  return result;
}

std::uint32_t MapPrinterStatus(std::uint32_t s, bool has_detail, std::uint32_t d) {
  if (s < 300) return 0;
  const std::uint32_t hundreds = (s / 100) % 10;
  if (hundreds == 5) return s == 1500 ? 1500 : 500;
  if (hundreds == 9) return s == 1900 ? 1900 : 1901;
  switch (s) {
    case 300:
      if (!has_detail) return 300;
      if (d == 0x0101 || d == 0x0201) return 371;
      return d == 0xF000 ? 399 : 300;
    case 301:
    case 302:
    case 303:
      return 301;
    case 304:
      return has_detail && d != 0 ? 312 : 304;
    case 305:
    case 306:
    case 307:
    case 308:
    case 405:
    case 406:
    case 407:
    case 408:
    case 409:
    case 410:
    case 411:
    case 412:
      return 305;
    case 309:
    case 310:
    case 311:
    case 312:
      return 312;
    case 313:
    case 413:
      return 313;
    case 314:
    case 315:
    case 316:
    case 317:
    case 318:
    case 450:
    case 451:
      return 314;
    case 319:
    case 419:
    case 420:
    case 422:
      return 420;
    case 320:
    case 321:
    case 322:
      return 321;
    case 330:
    case 331:
    case 332:
      return 330;
    case 350:
      return has_detail && d == 0x0706 ? 358 : 353;
    case 351:
    case 353:
    case 354:
    case 355:
    case 356:
    case 357:
    case 360:
      return 353;
    case 352:
    case 358:
    case 359:
    case 361:
    case 362:
    case 363:
      return s;
    case 371:
    case 372:
    case 373:
      return 371;
    case 700:
      if (!has_detail) return 700;
      return d >= 1 && d <= 6 ? 700 + (d - 1) : 799;
    case 701:
    case 732:
      return 701;
    case 702:
    case 730:
      return 702;
    case 703:
    case 731:
      return 703;
    case 704:
    case 734:
      return 704;
    case 705:
      return 705;
    case 733:
      return 700;
    case 720:
    case 721:
    case 722:
    case 723:
    case 724:
      return 720;
    case 750:
      return 750;
    case 751:
    case 752:
    case 753:
      return 751;
    case 755:
    case 756:
      return 755;
    default:
      break;
  }
  if (s >= 431 && s <= 448) return 314;
  return hundreds == 7 ? 799 : 399;
}

}  // namespace zv::jobresult
