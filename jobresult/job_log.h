// The printer job log: a ring of variable-length records that a printer-language monitor
// keeps of finished jobs, and the lookup of one job's outcome in it. Pure code over a
// positioned reader, so the rules run the same on a file, in memory and under a fuzzer.
//
// Header (the first 64 bytes): "BROVLOG" and a NUL at 0, then u32 values at 20 (the oldest
// record), 24 (where the next record will be written: the end of the valid records) and 28
// (the wrap offset: no record starts at or beyond it; reading continues at 64).
// Record: u32 size at 0 (this field included), u32 offset of the NUL-terminated document
// name at 4, u32 detail flag at 8, u32 flags at 12 (top bit: ignore the record), SYSTEMTIME
// at 16, u32 values at 32 (first result), 36 (printer status), 48 (third result), 76 (job
// id), detail code bytes at 110 (high) and 111 (low).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zv::jobresult {

constexpr std::size_t kLogHeaderSize = 64;
// A record must reach the last field read (the detail code's low byte at 111).
constexpr std::uint32_t kMinRecordSize = 112;

// Result codes of the lookup.
constexpr std::uint32_t kFound = 0;
constexpr std::uint32_t kMissingArgument = 2;
constexpr std::uint32_t kNotFound = 4;
constexpr std::uint32_t kOutOfMemory = 900;
constexpr std::uint32_t kFailed = 999;

// Reads bytes of a log at a position. Read gives the number of bytes read (fewer at the
// end of the log) or -1 with an errno value in *error.
class LogSource {
 public:
  virtual ~LogSource() = default;
  // Takes an offset and a buffer; fills the buffer from the offset on as far as the log
  // reaches. Gives the byte count, or -1 with *error set.
  virtual long long Read(std::uint64_t offset, std::span<std::uint8_t> out, int* error) = 0;
  // Gives the log's size in bytes.
  virtual std::uint64_t Size() const = 0;
};

// A log held in memory (tests, fuzzing).
class MemoryLog : public LogSource {
 public:
  explicit MemoryLog(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  long long Read(std::uint64_t offset, std::span<std::uint8_t> out, int* error) override;
  std::uint64_t Size() const override { return bytes_.size(); }

 private:
  std::span<const std::uint8_t> bytes_;
};

// What is asked: the document name (compared exactly), the job id and the earliest time
// (year, month, day, hour, minute, second) a record may carry.
struct JobQuery {
  std::string_view document;
  std::uint32_t job_id = 0;
  std::uint16_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Takes the export's packed date (year << 16 | month << 8 | day) and time (hour << 24 |
// minute << 16 | second << 8; the low byte is ignored); gives them in the query.
void UnpackDateTime(std::uint32_t date, std::uint32_t time, JobQuery* query);

// The outcome: a result code, the Windows last error that goes with it, and on kFound the
// record's first value, mapped printer status and third value.
struct Lookup {
  std::uint32_t code = kNotFound;
  std::uint32_t last_error = 0;
  std::uint32_t value1 = 0, status = 0, value3 = 0;
};

// Takes a log and a query; scans every record once from the oldest and gives the outcome:
// kFound with the latest candidate (ties: the one read later), kNotFound when the log is
// empty or nothing matches, kFailed with ERROR_BAD_ENVIRONMENT (10) when the log is not a
// log or a record cannot be read (even after a match), kFailed with the system's code when
// reading fails, kOutOfMemory when a record buffer cannot be had. Every malformed log ends
// within one lap of the ring.
Lookup LookupJob(LogSource& log, const JobQuery& query);

// Takes a record's printer status code, its detail flag and the detail code (high byte *
// 256 + low byte); gives the coarse result code callers see.
std::uint32_t MapPrinterStatus(std::uint32_t status, bool has_detail, std::uint32_t detail);

}  // namespace zv::jobresult
