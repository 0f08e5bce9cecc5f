// A page of the print-document object: its attribute word, paper size and extent, its
// metafile bytes (in memory up to 20,480 bytes, above that in a "PRC" temporary file that is
// mapped only while the page is drawn), its 36-byte trailer and its rotation value.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "jobdoc/image.h"
#include "platform/base/status.h"
#include "platform/wintypes/wintypes.h"

namespace zv::viewer {

// Pages up to this many bytes stay in memory; larger ones go to a temporary file.
inline constexpr std::size_t kMaxInMemoryPage = 20480;

// The attribute word (paper code, rotated and landscape bits) and the 36-byte trailer are
// the job document's: jobdoc::kAttr* and jobdoc::kPageTrailerSize.

// Takes a length in 0.1 mm; gives it in page units of 1/28800 inch (truncated).
inline constexpr std::int64_t TenthMmToPageUnits(std::int64_t tenth_mm) { return tenth_mm * 28800 / 254; }

// Rotation values: drawn upright, turned clockwise, turned counter-clockwise.
inline constexpr std::uint16_t kUpright = 0;
inline constexpr std::uint16_t kTurnClockwise = 1;
inline constexpr std::uint16_t kTurnCounterClockwise = 16;

class ViewerPage {
 public:
  // Takes the attribute word and the paper width and length in 0.1 mm; gives an empty page
  // whose extent is computed from them (landscape and rotated bits applied).
  ViewerPage(std::uint16_t attributes, std::uint16_t width, std::uint16_t length);
  // Unmaps and deletes the temporary file, or frees the memory copy.
  ~ViewerPage();
  ViewerPage(const ViewerPage&) = delete;
  ViewerPage& operator=(const ViewerPage&) = delete;

  // Takes flags (bit 1 landscape, bit 0 rotated); recomputes the extent from width and
  // length, then sets each bit not yet set and swaps the extent for it.
  void ApplyOrientation(std::uint32_t flags);
  // Takes bytes that begin with an enhanced metafile; keeps its nBytes bytes (in memory or
  // in a temporary file). InvalidArgument when the bytes do not begin with EMR_HEADER or are
  // shorter than nBytes; IOError when the temporary file cannot be written.
  Status StoreEmfPage(std::span<const std::uint8_t> metafile);
  // Gives the page's metafile bytes (mapping the temporary file on first use) and counts the
  // use; empty when the page has no data or the file cannot be mapped. Pair each call with
  // ReleasePageData.
  std::span<const std::uint8_t> GetPageData();
  // Ends one use; the file mapping goes when the count drops to 0.
  void ReleasePageData();
  // Copies the 36-byte trailer (shorter input is ignored).
  void SetTrailer(std::span<const std::uint8_t> trailer);
  // Fills the trailer from the page: length 36, paper code, orientation 2 for landscape
  // else 1, width, length.
  void FillTrailer();
  std::uint16_t GetRotation() const { return rotation_; }
  void SetRotation(std::uint16_t value) { rotation_ = value; }

  // Gives a new page with the same attributes, extent, trailer, blank mark and data.
  Result<std::unique_ptr<ViewerPage>> Clone() const;

  std::uint16_t attributes() const { return attributes_; }
  void set_attributes(std::uint16_t a, std::uint16_t w, std::uint16_t l);
  std::uint16_t paper_code() const { return attributes_ & jobdoc::kAttrPaperMask; }
  bool landscape() const { return (attributes_ & jobdoc::kAttrLandscape) != 0; }
  bool rotated() const { return (attributes_ & jobdoc::kAttrRotated) != 0; }
  std::uint16_t width() const { return width_; }
  std::uint16_t length() const { return length_; }
  std::int32_t extent_x() const { return extent_x_; }
  std::int32_t extent_y() const { return extent_y_; }
  void set_extent(std::int32_t x, std::int32_t y) {
    extent_x_ = x;
    extent_y_ = y;
  }
  std::uint32_t data_size() const { return data_size_; }
  bool has_data() const { return data_size_ != 0; }
  // The temporary file's path (empty when the bytes are in memory).
  const std::string& file_path() const { return file_path_; }
  const std::uint8_t* trailer() const { return trailer_; }
  std::uint16_t use_count() const { return use_count_; }

  // The blank-page mark: set only by InsertBlankPage, never read from trailer bytes.
  bool blank() const { return blank_; }
  void set_blank(bool b) { blank_ = b; }

  // The sheet rectangle of the sheet on which the page was last drawn.
  const win::RECT& sheet_rect() const { return sheet_rect_; }
  void set_sheet_rect(const win::RECT& r) { sheet_rect_ = r; }

 private:
  void ComputeExtent();
  void DropData();

  std::uint16_t attributes_ = 0;
  std::uint16_t use_count_ = 0;
  std::uint16_t width_ = 0, length_ = 0;
  std::int32_t extent_x_ = 0, extent_y_ = 0;
  std::uint32_t data_size_ = 0;
  std::vector<std::uint8_t> memory_;
  std::string file_path_;
  void* mapping_ = nullptr;
  std::uint8_t trailer_[jobdoc::kPageTrailerSize] = {};
  std::uint16_t rotation_ = kUpright;
  bool blank_ = false;
  win::RECT sheet_rect_{};
};

}  // namespace zv::viewer
