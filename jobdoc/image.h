// The document image: the unpacked content of a job document. It holds a 35-byte
// page-format record at offset 0, the pages as enhanced metafiles from offset 35 (each
// optionally followed by a 36-byte page trailer), and a chain of document-information
// records (name, two texts, page attribute changes, attachments) ended by one 0 byte.
// All numbers are little-endian. Texts are stored as ANSI bytes (CP932) and kept so here.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/base/status.h"
#include "platform/wintypes/filetime.h"

namespace zv::jobdoc {

constexpr std::size_t kPageFormatRecordSize = 35;
constexpr std::size_t kPageTrailerSize = 36;
constexpr std::size_t kOlderPageFormatSize = 21;

// Flags byte of the page-format record.
constexpr std::uint8_t kFormatRotated = 0x01;         // page attribute bit 14 of the first page
constexpr std::uint8_t kFormatLandscape = 0x02;       // page attribute bit 15 of the first page
constexpr std::uint8_t kFormatViewPassword = 0x04;    // a viewing password is set
constexpr std::uint8_t kFormatSecondPassword = 0x10;  // a second password is set
constexpr std::uint8_t kFormatWrittenFlags = 0x17;    // bits 3, 5, 6, 7 are written as 0

#pragma pack(push, 1)
// The page-format record at offset 0 of every image.
struct PageFormatRecord {
  std::uint8_t length;            // 35 ('#')
  std::uint8_t mouse_mode;        // preview mouse mode
  std::uint16_t page_count;       // pages of the image
  std::uint8_t zoom;              // preview zoom
  std::uint8_t placement;         // preview placement
  std::uint8_t page_pane;         // preview initial page pane
  std::uint16_t paper_code;       // paper of the first page (DMPAPER_ value)
  std::uint16_t paper_width;      // first page, 0.1 mm
  std::uint16_t paper_length;     // first page, 0.1 mm
  std::uint8_t flags;             // kFormat... bits
  std::uint8_t view_password[8];  // each character stored as its code + 1, rest 0
  std::uint32_t chain_offset;     // offset of the record chain from offset 0; 0 = none
  std::uint8_t client_mode;       // 0, 1 or 2 (a reader takes above 2 as 0)
  std::uint8_t second_password[8];
  friend bool operator==(const PageFormatRecord&, const PageFormatRecord&) = default;
};
#pragma pack(pop)
static_assert(sizeof(PageFormatRecord) == kPageFormatRecordSize);

// Gives the record's client mode as readers take it: 0, 1 or 2, any larger value as 0.
inline std::uint8_t ClientMode(const PageFormatRecord& record) {
  return record.client_mode > 2 ? 0 : record.client_mode;
}

// Gives the record of a document with no stored default: all zero except the length 35,
// a page count of 1 and zoom, placement and page pane 1.
PageFormatRecord DefaultPageFormatRecord();

// Takes a page-format record of any stored form and gives the 35-byte form in `out`:
// a length byte above 35 takes the first 35 bytes; 2 to 35 takes that many and zeroes the
// rest; 0 or 1 marks the older 21-byte record, copied to `older` (when given) beside an
// all-zero record. The length byte is then 35. Gives false, leaving `out` alone, when
// `source` is shorter than the form its length byte names.
bool JustfyShoshiki(std::span<const std::uint8_t> source, PageFormatRecord& out,
                    std::vector<std::uint8_t>* older = nullptr);

// Page attribute word: paper code in bits 0-13, bit 14 rotated, bit 15 landscape.
constexpr std::uint16_t kAttrPaperMask = 0x3FFF;
constexpr std::uint16_t kAttrRotated = 0x4000;
constexpr std::uint16_t kAttrLandscape = 0x8000;

// The attributes of one page.
struct PageAttributes {
  std::uint16_t word = 0;    // attribute word
  std::uint16_t width = 0;   // paper width, 0.1 mm
  std::uint16_t length = 0;  // paper length, 0.1 mm

  std::uint16_t paper_code() const { return word & kAttrPaperMask; }
  bool rotated() const { return (word & kAttrRotated) != 0; }
  bool landscape() const { return (word & kAttrLandscape) != 0; }
  friend bool operator==(const PageAttributes&, const PageAttributes&) = default;
};

// Gives the attributes that the page-format record names for the first page.
PageAttributes FirstPageAttributes(const PageFormatRecord& record);

// Takes page attributes; gives the page's extent in 1/28800 inch (width, height): each
// length × 28800 / 254, swapped once when landscape and once more when rotated.
std::pair<std::int32_t, std::int32_t> PageExtent(const PageAttributes& attributes);

// The 36-byte trailer behind a page in images that carry trailers.
struct PageTrailer {
  std::uint32_t length = kPageTrailerSize;
  std::uint32_t carried1 = 0, carried2 = 0;  // offsets 4, 8: kept and written back
  std::uint32_t paper_code = 0;              // low 16 bits used
  std::uint32_t orientation = 1;             // 2 = landscape, anything else portrait
  std::uint32_t width = 0, length_mm = 0;    // 0.1 mm, low 16 bits used
  std::uint32_t carried3 = 0, carried4 = 0;  // offsets 28, 32: kept and written back
  friend bool operator==(const PageTrailer&, const PageTrailer&) = default;
};
static_assert(sizeof(PageTrailer) == kPageTrailerSize);

// One page: a complete enhanced metafile (its header's nBytes equals its size).
struct DocumentPage {
  std::vector<std::uint8_t> metafile;
  PageAttributes attributes;
  std::optional<PageTrailer> trailer;  // as read, for the values a trailer carries along
  friend bool operator==(const DocumentPage&, const DocumentPage&) = default;
};

// An attached file: its last-write time, display name (ANSI bytes) and content.
struct Attachment {
  win::FILETIME last_write_time{};
  std::string name;
  std::vector<std::uint8_t> data;
  friend bool operator==(const Attachment&, const Attachment&) = default;
};

// The whole content of an image.
struct DocumentImage {
  PageFormatRecord format = DefaultPageFormatRecord();
  std::vector<DocumentPage> pages;
  std::string name;   // record type 1
  std::string text2;  // record type 2
  std::string text3;  // record type 3
  std::vector<Attachment> attachments;
  friend bool operator==(const DocumentImage&, const DocumentImage&) = default;
};

// Record types of the document-information chain.
enum class ChainRecordType : std::uint16_t {
  kName = 1,
  kText2 = 2,
  kText3 = 3,
  kPageAttributes = 4,
  kAttachment = 5,
};

// One step of the walk over an image, in the order a loader meets them.
struct ImageItem {
  enum class Kind {
    kPage,            // `bytes` is the metafile, `attributes` its attributes, `trailer` if any
    kText,            // `type` 1, 2 or 3; `text` without its NUL
    kPageAttributes,  // a type 4 record: `page_index`, `attributes` (now current)
    kAttachment,      // `time`, `text` the name, `bytes` the file
    kOtherRecord,     // a record of another type: `type`, `bytes` its data; stepped over
    kStrayRecord,     // a type 4 record whose page is never reached: `page_index`; skipped
    kEnd,             // no page remains and the chain has reached its end byte
  };
  Kind kind = Kind::kEnd;
  std::size_t offset = 0;  // where the page or record starts in the image
  std::span<const std::uint8_t> bytes;
  PageAttributes attributes;
  std::optional<PageTrailer> trailer;
  std::uint16_t type = 0;
  std::uint16_t page_index = 0;
  std::string_view text;
  win::FILETIME time{};
};

// Walks an image the way the document loaders do: the first page, then the chain until a
// page attribute record names a page not yet read, then the next page, and so on. Every
// length and offset is checked before it is read; a damaged image gives Corruption with
// the offset, never a read outside the image, and a zero length never loops. Whether the
// pages carry trailers is not in the image: the caller says (capture files and version 0
// documents do).
class ImageWalker {
 public:
  // Takes the image (kept by the caller while walking) and whether pages carry trailers.
  ImageWalker(std::span<const std::uint8_t> image, bool page_trailers);

  // Gives the next item; kEnd once the image is fully walked (and again after that), or
  // Corruption. After an error the walker stays failed.
  Result<ImageItem> Next();

  // Gives the page-format record (valid once the first Next() did not fail).
  const PageFormatRecord& format() const { return format_; }
  // Gives the number of pages met so far.
  std::size_t pages_read() const { return pages_read_; }

 private:
  Result<ImageItem> Start();
  Result<ImageItem> ReadPage();
  Result<ImageItem> Fail(std::size_t offset, const std::string& what);

  std::span<const std::uint8_t> image_;
  bool trailers_;
  bool started_ = false;
  bool failed_ = false;
  bool chain_active_ = false;
  PageFormatRecord format_{};
  PageAttributes current_;
  std::size_t page_pos_ = kPageFormatRecordSize;
  std::size_t page_limit_ = 0;
  std::size_t chain_pos_ = 0;
  std::size_t pages_read_ = 0;
};

// Takes an image and whether its pages carry trailers; gives its whole content.
// Corruption (with the offset) when it is damaged. Records of unknown types and page
// attribute records whose page is never reached are stepped over.
Result<DocumentImage> ReadDocumentImage(std::span<const std::uint8_t> image, bool page_trailers);

// Takes the path of a file that holds an image whose pages carry trailers (a capture file);
// gives its whole content as ReadDocumentImage does, or the error of reading the file.
// Files over 2 GiB are refused.
Result<DocumentImage> ReadDocumentImageFile(const std::string& path);

// How a document is written.
enum class DocumentWriteMode {
  kPacked = 0,    // a ".prc" file: version 2, the image length, the packed blocks
  kUnpacked = 1,  // the bare image with a 36-byte trailer behind each page
};

// Takes a document and whether to put trailers behind the pages; gives the image: the
// page-format record (page count, the first page's paper code, width, length, rotated and
// landscape bits, client mode and chain offset refreshed), the pages, record 1 (name),
// records 2 and 3 when not empty, a type 4 record for each page whose attributes differ
// from the page before, a type 5 record per attachment and the end byte. InvalidArgument
// when a page is not a metafile whose nBytes is its size, a text holds a NUL, there are
// more than 65,535 pages, the image would pass 2^31-1 bytes, or an attachment's record
// length is a multiple of 256 (its first byte would read as the end of the chain).
// A text record of such a length gets one extra NUL so that it never ends the chain.
Result<std::vector<std::uint8_t>> BuildDocumentImage(const DocumentImage& document, bool page_trailers);

// Takes a document, the mode and a target path; writes the document: kPacked as a packed
// ".prc" file, kUnpacked as the image with page trailers. The file is written under a
// temporary name and renamed into place. Gives the error of building or writing.
Status WriteDocumentData(const DocumentImage& document, DocumentWriteMode mode, const std::string& path);

// As WriteDocumentData, into memory: gives the bytes the file would hold.
Result<std::vector<std::uint8_t>> EncodeDocumentData(const DocumentImage& document, DocumentWriteMode mode);

}  // namespace zv::jobdoc
