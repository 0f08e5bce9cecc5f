#include "jobdoc/sample/sample_document.h"

#include <span>
#include <string>

#include "jobdoc/private_records.h"
#include "platform/gdi/emf/builder.h"
#include "platform/wintypes/emf.h"

namespace zv::jobdoc::sample {

std::vector<std::uint8_t> MakePage(int page_number, int lines) {
  emf::Writer::Options options;
  options.device = {4960, 7016};
  options.millimeters = {210, 297};
  options.frame = win::RECTL{0, 0, 21000, 29700};
  emf::MetafileBuilder mf(options);
  // Private records go in whole; the builder takes what follows their 8-byte prefix.
  auto add = [&mf](const std::vector<std::uint8_t>& record) {
    mf.Raw(win::EMR_GDICOMMENT, std::span<const std::uint8_t>(record).subspan(8));
  };
  add(BuildFontScaleRecord(100));
  static const char* const kWords[] = {"quota", "printer", "sheet", "colour", "layout", "copies"};
  for (int line = 0; line < lines; ++line) {
    TextRun run;
    run.x = 300;
    run.y = 400 + line * 120;
    run.text = "Page " + std::to_string(page_number) + ", line " + std::to_string(line + 1) + ": " +
               kWords[(page_number + line) % 6] + " " + kWords[line % 6];
    if (line % 5 == 0) run.extension = TextRunExtension{{0, 0, 4960, 7016}, 4, 0, 0};
    add(*BuildTextRunRecord(run));
    if (line % 8 == 7) {
      std::vector<CharListItem> chars;
      for (int c = 0; c < 6; ++c) {
        chars.push_back({300 + c * 60, run.y + 60, static_cast<std::uint16_t>(0x82A0 + c), 1, 0});
      }
      add(*BuildCharListRecord(chars));
      mf.Rectangle(280, run.y - 100, 4600, run.y + 20);
    }
  }
  mf.MoveTo(200, 200).LineTo(4700, 200);
  return mf.Build();
}

DocumentImage MakeDocument(int pages, int lines_per_page, bool attachment, std::size_t attachment_bytes) {
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

namespace {
std::uint32_t Next(std::uint32_t& s) {
  s ^= s << 13;
  s ^= s >> 17;
  s ^= s << 5;
  return s;
}
}  // namespace

std::vector<std::uint8_t> TextLike(std::size_t n, std::uint32_t seed) {
  static const char* const kWords[] = {"the",    "print",  "job",    "page",  "of",      "document", "server", "quota",
                                       "user",   "group",  "colour", "sheet", "layout",  "and",      "a",      "to",
                                       "header", "footer", "copies", "range", "printer", "paper",    "A4",     "2026"};
  std::vector<std::uint8_t> out;
  out.reserve(n);
  std::uint32_t s = seed | 1;
  while (out.size() < n) {
    std::string w = kWords[Next(s) % (sizeof kWords / sizeof *kWords)];
    for (char c : w) out.push_back(static_cast<std::uint8_t>(c));
    out.push_back(Next(s) % 11 == 0 ? '\n' : ' ');
  }
  out.resize(n);
  return out;
}

std::vector<std::uint8_t> Random(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint8_t> out(n);
  std::uint32_t s = seed | 1;
  for (auto& b : out) b = static_cast<std::uint8_t>(Next(s) >> 7);
  return out;
}

}  // namespace zv::jobdoc::sample
