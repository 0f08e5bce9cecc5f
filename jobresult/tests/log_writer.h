// Test helper: builds job logs record by record, as a printer-language monitor writes them.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace zv::jobresult::testing {

struct RecordSpec {
  std::string name = "report.doc";
  std::uint32_t job_id = 7;
  std::uint16_t year = 2026, month = 12, day = 10, hour = 10, minute = 0, second = 5, ms = 0;
  std::uint32_t value1 = 11, status = 0, value3 = 33;
  std::uint32_t detail_flag = 0;
  std::uint16_t detail = 0;
  std::uint32_t flags = 0;
  std::uint32_t pad = 0;  // extra bytes after the name
};

inline void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4);
  std::memcpy(&b[at], &v, 4);
}

inline void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) { std::memcpy(&b[at], &v, 2); }

// Takes a record description; gives the record's bytes (name at 112).
inline std::vector<std::uint8_t> Record(const RecordSpec& r) {
  std::vector<std::uint8_t> b(112 + r.name.size() + 1 + r.pad, 0);
  Put32(b, 0, std::uint32_t(b.size()));
  Put32(b, 4, 112);
  Put32(b, 8, r.detail_flag);
  Put32(b, 12, r.flags);
  const std::uint16_t t[8] = {r.year, r.month, 3, r.day, r.hour, r.minute, r.second, r.ms};
  for (int i = 0; i < 8; ++i) Put16(b, 16 + 2 * i, t[i]);
  Put32(b, 32, r.value1);
  Put32(b, 36, r.status);
  Put32(b, 48, r.value3);
  Put32(b, 76, r.job_id);
  b[110] = std::uint8_t(r.detail >> 8);
  b[111] = std::uint8_t(r.detail & 0xFF);
  std::memcpy(&b[112], r.name.data(), r.name.size());
  return b;
}

// A log: the 64-byte header and records placed at chosen offsets.
class LogWriter {
 public:
  LogWriter() : bytes_(64, 0) { std::memcpy(bytes_.data(), "BROVLOG", 8); }

  // Takes a record; writes it at the current position and moves on. Gives its offset.
  std::uint32_t Add(const std::vector<std::uint8_t>& rec) {
    const std::uint32_t at = pos_;
    Place(at, rec);
    pos_ = at + std::uint32_t(rec.size());
    return at;
  }
  // Writes bytes at an offset (growing the log).
  void Place(std::uint32_t at, const std::vector<std::uint8_t>& rec) {
    if (bytes_.size() < at + rec.size()) bytes_.resize(at + rec.size(), 0);
    std::memcpy(&bytes_[at], rec.data(), rec.size());
  }
  void SetPos(std::uint32_t at) { pos_ = at; }
  std::uint32_t pos() const { return pos_; }
  // Sets the header's oldest, end and wrap offsets.
  void Header(std::uint32_t oldest, std::uint32_t end, std::uint32_t wrap) {
    Put32(bytes_, 20, oldest);
    Put32(bytes_, 24, end);
    Put32(bytes_, 28, wrap);
  }
  // A log filled from 64 on: oldest 64, end after the last record, wrap far beyond.
  std::vector<std::uint8_t> Linear() {
    Header(64, pos_, 1u << 20);
    return bytes_;
  }
  std::vector<std::uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::uint32_t pos_ = 64;
};

}  // namespace zv::jobresult::testing
