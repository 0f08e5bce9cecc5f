// The page raster stream of the virtual printer: per page one 652-byte SpoolPageHeader and
// then the printable area's rows of red, green, blue bytes without padding. The writer with
// its failure latch, and a reader that checks every header field before a row is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "driver/settings/devmode.h"
#include "platform/base/status.h"

namespace zv::driver {

inline constexpr char kPageMagic[17] = "INFO-MKSPDD-HEAD";
inline constexpr std::uint16_t kPageHeaderSize = 652;
inline constexpr std::uint16_t kPageHeaderVersion = 1;

struct SpoolPageHeader {
  char magic[17];
  std::uint8_t reserved1[31];
  std::uint16_t header_size;
  std::uint16_t header_version;
  std::uint32_t image_size;
  std::uint32_t image_width;
  std::uint32_t image_height;
  std::uint32_t bytes_per_row;
  std::uint8_t reserved2[12];
  std::uint8_t devmode[sizeof(PRIVDEVMODE)];
  std::uint8_t reserved3[8];
};
static_assert(sizeof(SpoolPageHeader) == 652);
static_assert(offsetof(SpoolPageHeader, header_size) == 48);
static_assert(offsetof(SpoolPageHeader, image_size) == 52);
static_assert(offsetof(SpoolPageHeader, bytes_per_row) == 64);
static_assert(offsetof(SpoolPageHeader, devmode) == 80);

// Takes the job's mode and the image size; gives the page header.
SpoolPageHeader BuildPageHeader(const PRIVDEVMODE& mode, std::uint32_t width, std::uint32_t height);

// Takes bytes and gives whether all were written.
using WriteFn = std::function<bool(std::span<const std::uint8_t>)>;

// Every write of a job goes through here: a write of 0 bytes succeeds without a call; a write
// that fails latches the failure and no later write reaches the port.
class PortWriter {
 public:
  explicit PortWriter(WriteFn write) : write_(std::move(write)) {}
  // Takes bytes; gives whether they were written (false at once after a failure).
  bool Write(std::span<const std::uint8_t> bytes);
  // Gives whether a write has failed.
  bool failed() const { return failed_; }

 private:
  WriteFn write_;
  bool failed_ = false;
};

// One page's header as the reader found it.
struct PageInfo {
  PRIVDEVMODE mode;
  std::uint32_t width = 0, height = 0, bytes_per_row = 0;
  std::uint64_t image_size = 0;
};

// Takes a buffer; fills it from the stream and gives the bytes read (0 at the end, fewer only
// at the end); none on a read error.
using ReadFn = std::function<std::optional<std::size_t>(std::span<std::uint8_t>)>;

// Reads a page raster stream page by page. Every header is checked whole (magic, sizes,
// version, the device mode and the image size it implies) before its rows are read.
class PageStreamReader {
 public:
  explicit PageStreamReader(ReadFn read) : read_(std::move(read)) {}
  // Gives the next page's header; none at a clean end of the stream; Corruption for a bad or
  // cut header, or when the previous page's rows were not all read.
  Result<std::optional<PageInfo>> NextPage();
  // Takes a buffer of the page's bytes_per_row; fills it with the next row. Corruption when
  // the stream ends inside the page or all rows were read.
  Status ReadRow(std::span<std::uint8_t> row);

 private:
  Status ReadExactly(std::span<std::uint8_t> buffer, bool* clean_end);
  ReadFn read_;
  std::uint32_t rows_left_ = 0;
  std::uint32_t row_bytes_ = 0;
};

// Takes a header; gives the page it describes or why it is refused.
Result<PageInfo> CheckPageHeader(const SpoolPageHeader& header);

}  // namespace zv::driver
