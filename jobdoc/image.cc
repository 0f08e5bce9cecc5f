#include "jobdoc/image.h"

#include <cstring>
#include <limits>

#include "jobdoc/container.h"
#include "jobdoc/internal/le.h"
#include "platform/fs/files.h"
#include "platform/wintypes/emf.h"

namespace zv::jobdoc {

using internal::Append16;
using internal::Append32;
using internal::Load16;
using internal::Load32;

namespace {
constexpr std::size_t kChainHeaderSize = 6;  // u32 size + u16 type
constexpr std::size_t kPageAttrRecordSize = 14;
constexpr std::size_t kAttachmentFixedSize = 15;  // header, FILETIME, the name's NUL
constexpr std::size_t kMetafileSizeOffset = 48;   // nBytes in the EMR_HEADER record
}  // namespace

PageFormatRecord DefaultPageFormatRecord() {
  PageFormatRecord r{};
  r.length = kPageFormatRecordSize;
  r.page_count = 1;
  r.zoom = 1;
  r.placement = 1;
  r.page_pane = 1;
  return r;
}

bool JustfyShoshiki(std::span<const std::uint8_t> source, PageFormatRecord& out, std::vector<std::uint8_t>* older) {
  if (source.empty()) return false;
  std::uint8_t bytes[kPageFormatRecordSize] = {};
  const std::uint8_t len = source[0];
  if (len <= 1) {
    if (source.size() < kOlderPageFormatSize) return false;
    if (older) older->assign(source.begin(), source.begin() + kOlderPageFormatSize);
  } else {
    std::size_t take = std::min<std::size_t>(len, kPageFormatRecordSize);
    if (source.size() < take) return false;
    std::memcpy(bytes, source.data(), take);
  }
  bytes[0] = kPageFormatRecordSize;
  std::memcpy(&out, bytes, sizeof out);
  return true;
}

PageAttributes FirstPageAttributes(const PageFormatRecord& record) {
  PageAttributes a;
  a.word = static_cast<std::uint16_t>((record.paper_code & kAttrPaperMask) |
                                      ((record.flags & kFormatRotated) ? kAttrRotated : 0) |
                                      ((record.flags & kFormatLandscape) ? kAttrLandscape : 0));
  a.width = record.paper_width;
  a.length = record.paper_length;
  return a;
}

std::pair<std::int32_t, std::int32_t> PageExtent(const PageAttributes& attributes) {
  std::int32_t w = static_cast<std::int32_t>(attributes.width) * 28800 / 254;
  std::int32_t h = static_cast<std::int32_t>(attributes.length) * 28800 / 254;
  // Landscape and rotation each turn the page a quarter: together they leave it as stored.
  if (attributes.landscape()) std::swap(w, h);
  if (attributes.rotated()) std::swap(w, h);
  return {w, h};
}

// ---- reading ----

ImageWalker::ImageWalker(std::span<const std::uint8_t> image, bool page_trailers)
    : image_(image), trailers_(page_trailers) {}

Result<ImageItem> ImageWalker::Fail(std::size_t offset, const std::string& what) {
  failed_ = true;
  return Status::Corruption("document image, offset " + std::to_string(offset) + ": " + what);
}

Result<ImageItem> ImageWalker::Start() {
  started_ = true;
  if (image_.size() < kPageFormatRecordSize) {
    return Fail(0, "the page-format record needs 35 bytes, the image has " + std::to_string(image_.size()));
  }
  std::memcpy(&format_, image_.data(), sizeof format_);
  current_ = FirstPageAttributes(format_);
  const std::size_t chain = format_.chain_offset;
  if (chain != 0) {
    // The chain starts after the record and holds at least its end byte.
    if (chain < kPageFormatRecordSize || chain >= image_.size()) {
      return Fail(22, "chain offset " + std::to_string(chain) + " is outside the image of " +
                          std::to_string(image_.size()) + " bytes");
    }
    chain_active_ = true;
    chain_pos_ = chain;
    page_limit_ = chain;
  } else {
    page_limit_ = image_.size();
  }
  if (page_pos_ < page_limit_) return ReadPage();
  return Next();
}

Result<ImageItem> ImageWalker::ReadPage() {
  const std::size_t at = page_pos_;
  const std::size_t room = page_limit_ - at;
  if (room < kMetafileSizeOffset + 4) {
    return Fail(at, "a page needs a metafile header, " + std::to_string(room) + " bytes remain before the chain");
  }
  const std::uint8_t* p = image_.data() + at;
  if (Load32(p) != win::EMR_HEADER) return Fail(at, "a page does not begin with a metafile header");
  const std::size_t header_size = Load32(p + 4);
  const std::size_t bytes = Load32(p + kMetafileSizeOffset);
  if (header_size < win::ENHMETAHEADER_BASE_SIZE || bytes < header_size) {
    return Fail(at, "page length " + std::to_string(bytes) + " is shorter than its header");
  }
  const std::size_t step = bytes + (trailers_ ? kPageTrailerSize : 0);
  if (step > room) {
    return Fail(at, "page length " + std::to_string(bytes) + " runs past the " +
                        (format_.chain_offset ? "chain" : "image end"));
  }
  ImageItem item;
  item.kind = ImageItem::Kind::kPage;
  item.offset = at;
  item.bytes = image_.subspan(at, bytes);
  item.attributes = current_;
  if (trailers_) {
    const std::uint8_t* t = p + bytes;
    PageTrailer tr;
    std::memcpy(&tr, t, sizeof tr);
    item.trailer = tr;
    // The trailer gives this page's paper, orientation and size; rotation stays.
    item.attributes.word = static_cast<std::uint16_t>(
        (tr.paper_code & kAttrPaperMask) | (current_.word & kAttrRotated) | (tr.orientation == 2 ? kAttrLandscape : 0));
    item.attributes.width = static_cast<std::uint16_t>(tr.width);
    item.attributes.length = static_cast<std::uint16_t>(tr.length_mm);
  }
  page_pos_ = at + step;
  ++pages_read_;
  return item;
}

Result<ImageItem> ImageWalker::Next() {
  if (failed_) return Status::Corruption("document image: the walk has already failed");
  if (!started_) return Start();
  while (chain_active_) {
    const std::size_t at = chain_pos_;
    if (at >= image_.size()) return Fail(at, "the chain has no end byte");
    const std::uint8_t* p = image_.data() + at;
    // The end test looks at the first byte only, as every reader does.
    if (p[0] == 0) {
      chain_active_ = false;
      break;
    }
    const std::size_t room = image_.size() - at;
    if (room < kChainHeaderSize) return Fail(at, "a chain record header is cut short");
    const std::size_t size = Load32(p);
    const std::uint16_t type = Load16(p + 4);
    if (size < kChainHeaderSize) {
      return Fail(at, "chain record size " + std::to_string(size) + " is below its header");
    }
    if (size > room) {
      return Fail(at, "chain record size " + std::to_string(size) + " runs past the image end");
    }
    std::span<const std::uint8_t> data = image_.subspan(at + kChainHeaderSize, size - kChainHeaderSize);
    ImageItem item;
    item.offset = at;
    item.type = type;
    switch (type) {
      case 1:
      case 2:
      case 3: {
        const void* nul = std::memchr(data.data(), 0, data.size());
        if (!nul) return Fail(at, "text record type " + std::to_string(type) + " has no NUL");
        item.kind = ImageItem::Kind::kText;
        item.text = std::string_view(reinterpret_cast<const char*>(data.data()),
                                     static_cast<const std::uint8_t*>(nul) - data.data());
        chain_pos_ = at + size;
        return item;
      }
      case 4: {
        if (size < kPageAttrRecordSize) {
          return Fail(at, "page attribute record size " + std::to_string(size) + " is below 14");
        }
        const std::uint16_t index = Load16(data.data());
        if (index > pages_read_ && page_pos_ < page_limit_) {
          // Names a page still to come: read pages until it is the next one.
          return ReadPage();
        }
        chain_pos_ = at + size;
        item.page_index = index;
        if (index != pages_read_) {
          // Below the pages read, or beyond the last page: it can never apply.
          item.kind = ImageItem::Kind::kStrayRecord;
          return item;
        }
        current_.word = Load16(data.data() + 2);
        current_.width = Load16(data.data() + 4);
        current_.length = Load16(data.data() + 6);
        item.kind = ImageItem::Kind::kPageAttributes;
        item.attributes = current_;
        return item;
      }
      case 5: {
        if (size < kAttachmentFixedSize) {
          return Fail(at, "attachment record size " + std::to_string(size) + " is below 15");
        }
        std::span<const std::uint8_t> rest = data.subspan(8);
        const void* nul = std::memchr(rest.data(), 0, rest.size());
        if (!nul) return Fail(at, "attachment name has no NUL");
        const std::size_t name_len = static_cast<const std::uint8_t*>(nul) - rest.data();
        item.kind = ImageItem::Kind::kAttachment;
        item.time = win::FILETIME{Load32(data.data()), Load32(data.data() + 4)};
        item.text = std::string_view(reinterpret_cast<const char*>(rest.data()), name_len);
        item.bytes = rest.subspan(name_len + 1);
        chain_pos_ = at + size;
        return item;
      }
      default:
        item.kind = ImageItem::Kind::kOtherRecord;
        item.bytes = data;
        chain_pos_ = at + size;
        return item;
    }
  }
  if (page_pos_ < page_limit_) return ReadPage();
  ImageItem end;
  end.kind = ImageItem::Kind::kEnd;
  end.offset = image_.size();
  return end;
}

Result<DocumentImage> ReadDocumentImageFile(const std::string& path) {
  Result<std::string> bytes = fs::ReadFile(path, std::size_t{1} << 31);
  if (!bytes.ok()) return bytes.status();
  return ReadDocumentImage({reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()}, true);
}

Result<DocumentImage> ReadDocumentImage(std::span<const std::uint8_t> image, bool page_trailers) {
  ImageWalker walker(image, page_trailers);
  DocumentImage doc;
  for (;;) {
    Result<ImageItem> r = walker.Next();
    if (!r.ok()) return r.status();
    const ImageItem& item = *r;
    switch (item.kind) {
      case ImageItem::Kind::kPage:
        doc.pages.push_back(
            {std::vector<std::uint8_t>(item.bytes.begin(), item.bytes.end()), item.attributes, item.trailer});
        break;
      case ImageItem::Kind::kText:
        (item.type == 1 ? doc.name : item.type == 2 ? doc.text2 : doc.text3) = std::string(item.text);
        break;
      case ImageItem::Kind::kAttachment:
        doc.attachments.push_back(
            {item.time, std::string(item.text), std::vector<std::uint8_t>(item.bytes.begin(), item.bytes.end())});
        break;
      case ImageItem::Kind::kPageAttributes:
      case ImageItem::Kind::kOtherRecord:
      case ImageItem::Kind::kStrayRecord:
        break;
      case ImageItem::Kind::kEnd:
        doc.format = walker.format();
        return doc;
    }
  }
}

// ---- writing ----

namespace {

Status CheckText(const std::string& text, const char* what) {
  if (text.find('\0') != std::string::npos) {
    return Status::InvalidArgument(std::string(what) + " holds a NUL character");
  }
  return Status::Ok();
}

// Appends a text record; a size that is a multiple of 256 would read as the chain's end
// byte, so such a record carries one more NUL (readers stop at the first).
void AppendText(std::vector<std::uint8_t>& out, std::uint16_t type, const std::string& text) {
  std::size_t size = text.size() + 7;
  const bool pad = size % 256 == 0;
  if (pad) ++size;
  Append32(out, static_cast<std::uint32_t>(size));
  Append16(out, type);
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
  if (pad) out.push_back(0);
}

}  // namespace

Result<std::vector<std::uint8_t>> BuildDocumentImage(const DocumentImage& document, bool page_trailers) {
  const auto& pages = document.pages;
  if (pages.size() > 0xFFFF) return Status::InvalidArgument("a document holds at most 65,535 pages");
  for (const auto* t : {&document.name, &document.text2, &document.text3}) {
    Status s = CheckText(*t, "a document text");
    if (!s.ok()) return s;
  }
  std::uint64_t total = kPageFormatRecordSize + 1;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    const auto& m = pages[i].metafile;
    if (m.size() < win::ENHMETAHEADER_BASE_SIZE || Load32(m.data()) != win::EMR_HEADER ||
        Load32(m.data() + kMetafileSizeOffset) != m.size()) {
      return Status::InvalidArgument("page " + std::to_string(i + 1) +
                                     " is not a metafile whose header gives its size");
    }
    total += m.size() + (page_trailers ? kPageTrailerSize : 0);
    if (i > 0 && !(pages[i].attributes == pages[i - 1].attributes)) total += kPageAttrRecordSize;
  }
  total += document.name.size() + 8 + document.text2.size() + 8 + document.text3.size() + 8;
  for (const Attachment& a : document.attachments) {
    Status s = CheckText(a.name, "an attachment name");
    if (!s.ok()) return s;
    const std::uint64_t size = kAttachmentFixedSize + a.name.size() + std::uint64_t(a.data.size());
    if (size % 256 == 0) {
      return Status::InvalidArgument("attachment \"" + a.name + "\" cannot be stored: its record length " +
                                     std::to_string(size) +
                                     " is a multiple of 256 and would end the chain for every reader");
    }
    total += size;
  }
  if (total > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
    return Status::InvalidArgument("the document image would pass 2 GiB");
  }

  std::vector<std::uint8_t> out;
  out.reserve(static_cast<std::size_t>(total));
  PageFormatRecord rec = document.format;
  rec.length = kPageFormatRecordSize;
  rec.page_count = static_cast<std::uint16_t>(pages.size());
  rec.flags &= kFormatWrittenFlags;
  if (!pages.empty()) {
    const PageAttributes& first = pages[0].attributes;
    rec.paper_code = first.paper_code();
    rec.paper_width = first.width;
    rec.paper_length = first.length;
    rec.flags =
        static_cast<std::uint8_t>((rec.flags & ~(kFormatRotated | kFormatLandscape)) |
                                  (first.rotated() ? kFormatRotated : 0) | (first.landscape() ? kFormatLandscape : 0));
  }
  rec.client_mode = ClientMode(rec);
  out.resize(kPageFormatRecordSize);
  for (const DocumentPage& page : pages) {
    out.insert(out.end(), page.metafile.begin(), page.metafile.end());
    if (page_trailers) {
      PageTrailer t = page.trailer.value_or(PageTrailer{});
      t.length = kPageTrailerSize;
      t.paper_code = page.attributes.paper_code();
      t.orientation = page.attributes.landscape() ? 2 : 1;
      t.width = page.attributes.width;
      t.length_mm = page.attributes.length;
      const auto* b = reinterpret_cast<const std::uint8_t*>(&t);
      out.insert(out.end(), b, b + sizeof t);
    }
  }
  rec.chain_offset = static_cast<std::uint32_t>(out.size());
  std::memcpy(out.data(), &rec, sizeof rec);

  AppendText(out, 1, document.name);
  if (!document.text2.empty()) AppendText(out, 2, document.text2);
  if (!document.text3.empty()) AppendText(out, 3, document.text3);
  for (std::size_t i = 1; i < pages.size(); ++i) {
    const PageAttributes& a = pages[i].attributes;
    if (a == pages[i - 1].attributes) continue;
    Append32(out, kPageAttrRecordSize);
    Append16(out, 4);
    Append16(out, static_cast<std::uint32_t>(i));
    Append16(out, a.word);
    Append16(out, a.width);
    Append16(out, a.length);
  }
  for (const Attachment& a : document.attachments) {
    Append32(out, static_cast<std::uint32_t>(kAttachmentFixedSize + a.name.size() + a.data.size()));
    Append16(out, 5);
    Append32(out, a.last_write_time.dwLowDateTime);
    Append32(out, a.last_write_time.dwHighDateTime);
    out.insert(out.end(), a.name.begin(), a.name.end());
    out.push_back(0);
    out.insert(out.end(), a.data.begin(), a.data.end());
  }
  out.push_back(0);
  return out;
}

Result<std::vector<std::uint8_t>> EncodeDocumentData(const DocumentImage& document, DocumentWriteMode mode) {
  const bool unpacked = mode == DocumentWriteMode::kUnpacked;
  Result<std::vector<std::uint8_t>> image = BuildDocumentImage(document, unpacked);
  if (!image.ok() || unpacked) return image;
  std::unique_ptr<JobCodecState> state = NewCodecState();
  std::vector<std::uint8_t> file;
  Status s = PackDocumentImage(*image, file, *state);
  if (!s.ok()) return s;
  return file;
}

Status WriteDocumentData(const DocumentImage& document, DocumentWriteMode mode, const std::string& path) {
  Result<std::vector<std::uint8_t>> bytes = EncodeDocumentData(document, mode);
  if (!bytes.ok()) return bytes.status();
  return fs::WriteFileAtomic(path, std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
}

}  // namespace zv::jobdoc
