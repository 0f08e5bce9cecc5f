// The low-level metafile writer: appends records, keeps the header's bounds, record count and
// handle-table size, and at Close writes EMR_EOF and the header and gives the bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/base/status.h"
#include "platform/wintypes/emf.h"

namespace zv::emf {

class Writer {
 public:
  struct Options {
    win::SIZEL device{1000, 1000};     // reference device in pixels (szlDevice)
    win::SIZEL millimeters{100, 100};  // reference device in millimetres (szlMillimeters)
    // The picture frame in 0.01 mm (rclFrame); when none it is computed from the bounds.
    std::optional<win::RECTL> frame;
    std::u16string description;  // stored behind the header when not empty
  };

  // Takes the reference device and frame; starts an empty metafile.
  explicit Writer(const Options& options);

  // Takes one whole record (emr.iType set; nSize is set here to its length padded to a
  // multiple of 4); appends it. Records of the types that carry device bounds at offset 8
  // add those bounds to the header's; records that create objects note their handle index.
  // False (and status() set) for a record shorter than 8 bytes, an EMR_HEADER or EMR_EOF, or
  // when the metafile would pass 4 GB.
  bool Append(std::span<const std::uint8_t> record);

  // Takes a fixed record `head` (iType set) and the bytes that follow it; appends them as one
  // record, as Append above.
  template <typename T>
  requires(!std::is_convertible_v<const T&, std::span<const std::uint8_t>>) bool Append(
      const T& head, std::span<const std::uint8_t> tail = {}) {
    static_assert(std::is_trivially_copyable_v<T> && sizeof(T) >= sizeof(win::EMR));
    std::vector<std::uint8_t> rec(sizeof(T) + tail.size());
    std::memcpy(rec.data(), &head, sizeof(T));
    if (!tail.empty()) std::memcpy(rec.data() + sizeof(T), tail.data(), tail.size());
    return Append(std::span<const std::uint8_t>(rec));
  }

  // Takes a rectangle in device units (inclusive); widens the header's bounds to hold it.
  // An empty rectangle (right < left or bottom < top) is ignored.
  void AddBounds(const win::RECTL& r);
  // Takes a handle index used by the metafile; the handle table grows to hold it.
  void NoteHandle(std::uint32_t ih);

  // The header's bounds so far (empty: 0, 0, -1, -1).
  win::RECTL bounds() const { return bounds_; }
  // Records appended so far (without header and EOF).
  std::size_t records() const { return records_; }
  // Bytes of the header record that Close will write, and of the records appended so far;
  // record k starts at header_size() plus the sizes of the records before it.
  std::size_t header_size() const {
    return (sizeof(win::ENHMETAHEADER) + options_.description.size() * 2 + 3) & ~std::size_t(3);
  }
  std::size_t body_size() const { return body_.size(); }
  // OK unless an Append failed.
  const Status& status() const { return status_; }

  // Writes EMR_EOF and the header (nBytes, nRecords, nHandles, bounds, frame); gives the
  // metafile's bytes, or the error of a failed Append or of a reference device without a
  // positive size. The writer is spent afterwards.
  Result<std::vector<std::uint8_t>> Close();

 private:
  Options options_;
  std::vector<std::uint8_t> body_;  // records after the header
  win::RECTL bounds_{0, 0, -1, -1};
  bool has_bounds_ = false;
  std::uint32_t handles_ = 1;
  std::size_t records_ = 0;
  bool closed_ = false;
  Status status_;
};

// True for record types that carry their device bounds (rclBounds) at offset 8.
bool HasBoundsField(std::uint32_t type);

}  // namespace zv::emf
