#include "jobdoc/sample/sample_document.h"

#include <cstring>

#include "jobdoc/internal/le.h"
#include "jobdoc/private_records.h"
#include "platform/wintypes/emf.h"

namespace zv::jobdoc::sample {

using internal::Append32;
using internal::Store32;

MetafileBuilder::MetafileBuilder(std::int32_t width_hmm, std::int32_t height_hmm) {
  win::ENHMETAHEADER h{};
  h.iType = win::EMR_HEADER;
  h.nSize = sizeof h;
  h.rclBounds = {0, 0, width_hmm * 600 / 2540, height_hmm * 600 / 2540};
  h.rclFrame = {0, 0, width_hmm, height_hmm};
  h.dSignature = win::ENHMETA_SIGNATURE;
  h.nVersion = 0x10000;
  h.nHandles = 1;
  h.szlDevice = {4960, 7016};
  h.szlMillimeters = {210, 297};
  h.szlMicrometers = {210000, 297000};
  bytes_.resize(sizeof h);
  std::memcpy(bytes_.data(), &h, sizeof h);
}

void MetafileBuilder::Add(std::span<const std::uint8_t> record) {
  bytes_.insert(bytes_.end(), record.begin(), record.end());
  ++records_;
}

void MetafileBuilder::AddRecord(std::uint32_t type, std::span<const std::uint8_t> payload) {
  std::size_t size = (8 + payload.size() + 3) & ~std::size_t{3};
  Append32(bytes_, type);
  Append32(bytes_, static_cast<std::uint32_t>(size));
  bytes_.insert(bytes_.end(), payload.begin(), payload.end());
  bytes_.resize(bytes_.size() + (size - 8 - payload.size()), 0);
  ++records_;
}

std::vector<std::uint8_t> MetafileBuilder::Finish() {
  std::uint8_t eof[12] = {};
  Store32(eof + 4, 16);  // offPalEntries
  Store32(eof + 8, 20);  // nSizeLast
  AddRecord(win::EMR_EOF, eof);
  std::vector<std::uint8_t> out = std::move(bytes_);
  Store32(out.data() + offsetof(win::ENHMETAHEADER, nBytes), static_cast<std::uint32_t>(out.size()));
  Store32(out.data() + offsetof(win::ENHMETAHEADER, nRecords), records_);
  bytes_.clear();
  records_ = 1;
  return out;
}

namespace {
std::vector<std::uint8_t> Rect(std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b) {
  std::vector<std::uint8_t> p;
  for (std::int32_t v : {l, t, r, b}) Append32(p, static_cast<std::uint32_t>(v));
  return p;
}
std::vector<std::uint8_t> Point(std::int32_t x, std::int32_t y) {
  std::vector<std::uint8_t> p;
  Append32(p, static_cast<std::uint32_t>(x));
  Append32(p, static_cast<std::uint32_t>(y));
  return p;
}
}  // namespace

std::vector<std::uint8_t> MakePage(int page_number, int lines) {
  MetafileBuilder mf;
  mf.Add(BuildFontScaleRecord(100));
  static const char* const kWords[] = {"quota", "printer", "sheet", "colour", "layout", "copies"};
  for (int line = 0; line < lines; ++line) {
    TextRun run;
    run.x = 300;
    run.y = 400 + line * 120;
    run.text = "Page " + std::to_string(page_number) + ", line " + std::to_string(line + 1) +
               ": " + kWords[(page_number + line) % 6] + " " + kWords[line % 6];
    if (line % 5 == 0) run.extension = TextRunExtension{{0, 0, 4960, 7016}, 4, 0, 0};
    mf.Add(*BuildTextRunRecord(run));
    if (line % 8 == 7) {
      std::vector<CharListItem> chars;
      for (int c = 0; c < 6; ++c) {
        chars.push_back({300 + c * 60, run.y + 60, static_cast<std::uint16_t>(0x82A0 + c), 1, 0});
      }
      mf.Add(*BuildCharListRecord(chars));
      mf.AddRecord(win::EMR_RECTANGLE, Rect(280, run.y - 100, 4600, run.y + 20));
    }
  }
  mf.AddRecord(win::EMR_MOVETOEX, Point(200, 200));
  mf.AddRecord(win::EMR_LINETO, Point(4700, 200));
  return mf.Finish();
}

DocumentImage MakeDocument(int pages, int lines_per_page, bool attachment,
                           std::size_t attachment_bytes) {
  DocumentImage doc;
  doc.format = DefaultPageFormatRecord();
  doc.format.client_mode = 1;
  doc.name = "Quarterly report";
  doc.text2 = "Sales department";
  doc.text3 = "Draft for review";
  const PageAttributes a4{9, 2100, 2970};
  const PageAttributes a4_landscape{static_cast<std::uint16_t>(9 | kAttrLandscape), 2100, 2970};
  const PageAttributes b5_rotated{static_cast<std::uint16_t>(13 | kAttrRotated), 1820, 2570};
  for (int i = 0; i < pages; ++i) {
    DocumentPage page;
    page.metafile = MakePage(i + 1, lines_per_page);
    page.attributes = (i % 4 == 2) ? a4_landscape : (i % 4 == 3) ? b5_rotated : a4;
    doc.pages.push_back(std::move(page));
  }
  // The record names the first page's paper, as the writer refreshes it.
  doc.format.page_count = static_cast<std::uint16_t>(pages);
  if (pages > 0) {
    doc.format.paper_code = a4.paper_code();
    doc.format.paper_width = a4.width;
    doc.format.paper_length = a4.length;
  }
  if (attachment) {
    Attachment a;
    a.name = "figures.csv";
    a.last_write_time = win::FileTimeFromUnixNanos(1765000000LL * 1000000000LL);
    std::uint32_t s = 12345;
    for (std::size_t i = 0; i < attachment_bytes; ++i) {
      s = s * 1103515245u + 12345u;
      a.data.push_back(static_cast<std::uint8_t>(s >> 16));
    }
    // Keep the record length off a multiple of 256, which no document can store.
    if ((15 + a.name.size() + a.data.size()) % 256 == 0) a.data.push_back('\n');
    doc.attachments.push_back(std::move(a));
  }
  return doc;
}

}  // namespace zv::jobdoc::sample
