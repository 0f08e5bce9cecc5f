#include "driver/textpdf/text_pdf.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <charconv>
#include <memory>
#include <utility>
#include <vector>

#include "capture/spool/spool.h"
#include "driver/settings/ppd.h"
#include "platform/codepage/codepage.h"

namespace zv::driver {
namespace {

constexpr double kPointsPerTenthMm = 72.0 / 254.0;
// A logical line is laid out in pieces of at most this many bytes, so that a file without
// line ends does not become one paragraph of the whole file.
constexpr std::size_t kPieceBytes = 32768;

bool Same(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// Takes an option value; gives it as a number within [low, high], or none.
std::optional<double> Number(std::string_view v, double low, double high) {
  double d = 0;
  auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), d);
  if (ec != std::errc() || end != v.data() + v.size() || !(d >= low && d <= high)) return std::nullopt;
  return d;
}

struct CairoDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
  void operator()(cairo_t* c) const { cairo_destroy(c); }
  void operator()(PangoLayout* l) const { g_object_unref(l); }
  void operator()(PangoFontDescription* f) const { pango_font_description_free(f); }
  void operator()(PangoFontMetrics* m) const { pango_font_metrics_unref(m); }
};
template <typename T>
using Owned = std::unique_ptr<T, CairoDeleter>;

struct Sink {
  const TextPdfWrite* write;
  bool failed = false;
};

cairo_status_t WriteChunk(void* closure, const unsigned char* data, unsigned int length) {
  auto* sink = static_cast<Sink*>(closure);
  if (sink->failed || !(*sink->write)({data, length})) {
    sink->failed = true;
    return CAIRO_STATUS_WRITE_ERROR;
  }
  return CAIRO_STATUS_SUCCESS;
}

// Takes valid UTF-8 and a byte limit; gives the length of the longest start within the limit
// that ends on a character boundary.
std::size_t CharBoundary(std::string_view s, std::size_t limit) {
  if (s.size() <= limit) return s.size();
  std::size_t n = limit;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return n;
}

// Takes valid UTF-8; gives the byte ranges of its Greek and Cyrillic letters (U+0370 to
// U+052F), which a Japanese face draws full-width.
std::vector<std::pair<std::size_t, std::size_t>> WesternRuns(std::string_view s) {
  std::vector<std::pair<std::size_t, std::size_t>> runs;
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    char32_t cp = n == 1 ? c : c & (0x7F >> n);
    for (std::size_t k = 1; k < n && i + k < s.size(); ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
    if (cp >= 0x370 && cp <= 0x52F) {
      if (!runs.empty() && runs.back().second == i) runs.back().second = i + n;
      else runs.emplace_back(i, i + n);
    }
    i += n;
  }
  return runs;
}

// Takes a layout and a face; gives the width of the digit 0 in that face at 10 points (in
// points), 0 when nothing was laid out.
double DigitWidth(PangoLayout* pl, const char* family) {
  Owned<PangoFontDescription> font(pango_font_description_new());
  pango_font_description_set_family(font.get(), family);
  pango_font_description_set_absolute_size(font.get(), 10.0 * PANGO_SCALE);
  pango_layout_set_font_description(pl, font.get());
  pango_layout_set_text(pl, "0", 1);
  int width = 0;
  pango_layout_get_size(pl, &width, nullptr);
  return static_cast<double>(width) / PANGO_SCALE;
}

}  // namespace

TextLayout TextLayoutForJob(std::string_view ppd, std::string_view options) {
  TextLayout l;
  const auto pairs = capture::SplitOptions(options);
  const bool names_paper = std::any_of(pairs.begin(), pairs.end(), [](const auto& p) {
    return (Same(p.first, "PageSize") || Same(p.first, "media")) &&
           capture::FindPaper(std::string_view(p.second).substr(0, p.second.find(',')));
  });
  // The PPD's default paper where the job names none of the queue's papers.
  std::string merged(options);
  if (auto def = PpdDefault(ppd, "PageSize"); def && !names_paper) merged += " PageSize=" + *def;
  const capture::SpoolJob job = capture::JobFromOptions("", "", 1, merged);
  const capture::VirtualPaper paper = capture::FindPaper(job.paper).value_or(capture::VirtualPapers()[0]);
  l.width = paper.width * kPointsPerTenthMm;
  l.height = paper.length * kPointsPerTenthMm;
  if (job.orientation == 2) std::swap(l.width, l.height);
  for (const auto& [name, value] : pairs) {
    const double half = std::min(l.width, l.height) / 2;
    std::optional<double> v;
    if (Same(name, "cpi") && (v = Number(value, 1, 100))) l.cpi = *v;
    if (Same(name, "lpi") && (v = Number(value, 1, 100))) l.lpi = *v;
    if (Same(name, "page-left") && (v = Number(value, 0, half))) l.left = *v;
    if (Same(name, "page-right") && (v = Number(value, 0, half))) l.right = *v;
    if (Same(name, "page-top") && (v = Number(value, 0, half))) l.top = *v;
    if (Same(name, "page-bottom") && (v = Number(value, 0, half))) l.bottom = *v;
  }
  return l;
}

std::string PrintableText(std::string_view bytes) {
  // Through UTF-16 with substitution: every invalid sequence becomes U+FFFD.
  std::string utf8;
  auto wide = codepage::Utf8ToUtf16(bytes, codepage::OnError::kSubstitute);
  if (wide.ok()) {
    auto back = codepage::Utf16ToUtf8(*wide, codepage::OnError::kSubstitute);
    if (back.ok()) utf8 = std::move(*back);
  }
  std::string_view in = utf8;
  if (in.substr(0, 3) == "\xEF\xBB\xBF") in.remove_prefix(3);
  std::string out;
  out.reserve(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(in[i]);
    if (c == '\r') {
      if (i + 1 < in.size() && in[i + 1] == '\n') continue;
      out.push_back('\n');
    } else if (c < 0x20 && c != '\t' && c != '\n' && c != '\f') {
      continue;
    } else if (c == 0x7F) {
      continue;
    } else if (c == 0xC2 && i + 1 < in.size() && static_cast<unsigned char>(in[i + 1]) < 0xA0) {
      ++i;  // a C1 control character (U+0080 to U+009F)
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

Status WriteTextPdf(std::string_view text, const TextLayout& layout, const TextPdfWrite& write, int* pages) {
  if (pages) *pages = 0;
  const double text_width = layout.width - layout.left - layout.right;
  const double text_height = layout.height - layout.top - layout.bottom;
  const double pitch = 72.0 / layout.lpi;
  const double advance = 72.0 / layout.cpi;
  if (text_width < advance || text_height < pitch)
    return Status::InvalidArgument("the margins leave no room for a line of text");
  const int rows = static_cast<int>(text_height / pitch);

  Sink sink{&write};
  Owned<cairo_surface_t> surface(cairo_pdf_surface_create_for_stream(WriteChunk, &sink, layout.width, layout.height));
  if (!layout.title.empty()) cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_TITLE, layout.title.c_str());
  cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATOR, "Zelvora");
  Owned<cairo_t> cr(cairo_create(surface.get()));
  Owned<PangoLayout> pl(pango_cairo_create_layout(cr.get()));
  PangoContext* context = pango_layout_get_context(pl.get());
  pango_context_set_language(context, pango_language_from_string("ja"));
  pango_layout_context_changed(pl.get());

  // The faces' sizes: a half-width character (the digit 0) advances 1/cpi inch in each.
  auto size_for = [&](const std::string& family) {
    const double probe = DigitWidth(pl.get(), family.c_str());
    return probe > 0 ? 10.0 * advance / probe : 2 * advance;
  };
  const double western_size = size_for(layout.western_family);
  const double size = size_for(layout.family);
  Owned<PangoFontDescription> font(pango_font_description_new());
  pango_font_description_set_family(font.get(), layout.family.c_str());
  pango_font_description_set_absolute_size(font.get(), size * PANGO_SCALE);
  pango_layout_set_font_description(pl.get(), font.get());
  Owned<PangoFontMetrics> metrics(pango_context_get_metrics(context, font.get(), pango_language_from_string("ja")));
  const double ascent = static_cast<double>(pango_font_metrics_get_ascent(metrics.get())) / PANGO_SCALE;
  const double descent = static_cast<double>(pango_font_metrics_get_descent(metrics.get())) / PANGO_SCALE;
  // The line's ink sits in the middle of its pitch.
  const double baseline = (pitch - ascent - descent) / 2 + ascent;

  pango_layout_set_width(pl.get(), static_cast<int>(text_width * PANGO_SCALE));
  // A long line breaks at its last space (or other break) that fits, inside a word only
  // where the word alone is wider than the line.
  pango_layout_set_wrap(pl.get(), PANGO_WRAP_WORD_CHAR);
  cairo_set_source_rgb(cr.get(), 0, 0, 0);
  // Each piece's attributes: a line broken inside a word gets no hyphen (the text stays as
  // the file has it), and its Greek and Cyrillic letters come from the western face.
  auto set_attributes = [&](std::string_view piece) {
    PangoAttrList* attrs = pango_attr_list_new();
    pango_attr_list_insert(attrs, pango_attr_insert_hyphens_new(FALSE));
    for (const auto& [from, to] : WesternRuns(piece)) {
      for (PangoAttribute* a : {pango_attr_family_new(layout.western_family.c_str()),
                                pango_attr_size_new_absolute(static_cast<int>(western_size * PANGO_SCALE))}) {
        a->start_index = static_cast<guint>(from);
        a->end_index = static_cast<guint>(to);
        pango_attr_list_insert(attrs, a);
      }
    }
    pango_layout_set_attributes(pl.get(), attrs);
    pango_attr_list_unref(attrs);
  };

  int done = 0, row = 0;
  bool break_pending = false;
  auto show_page = [&] {
    cairo_show_page(cr.get());
    ++done;
    row = 0;
  };
  auto put_piece = [&](std::string_view piece) {
    pango_layout_set_text(pl.get(), piece.data(), static_cast<int>(piece.size()));
    set_attributes(piece);
    const int n = pango_layout_get_line_count(pl.get());
    for (int i = 0; i < n && !sink.failed; ++i) {
      if (break_pending || row == rows) {
        show_page();
        break_pending = false;
      }
      cairo_move_to(cr.get(), layout.left, layout.top + row * pitch + baseline);
      pango_cairo_show_layout_line(cr.get(), pango_layout_get_line_readonly(pl.get(), i));
      ++row;
    }
  };
  auto put_line = [&](std::string_view line) {
    do {
      const std::size_t n = CharBoundary(line, kPieceBytes);
      put_piece(line.substr(0, n));
      line.remove_prefix(n);
    } while (!line.empty() && !sink.failed);
  };

  std::size_t at = 0;
  while (at < text.size() && !sink.failed) {
    const std::size_t end = text.find_first_of("\n\f", at);
    if (end == std::string_view::npos) {
      put_line(text.substr(at));
      break;
    }
    std::size_t next = end + 1;
    if (text[end] == '\n') {
      put_line(text.substr(at, end - at));
    } else {
      if (end > at) put_line(text.substr(at, end - at));
      // Two form feeds in a row leave a blank page between them; one at the start or at the
      // end of the file adds no page.
      if (row > 0 || break_pending) {
        if (break_pending) show_page();
        break_pending = true;
      }
      if (next < text.size() && text[next] == '\n') ++next;  // the line end after a form feed
    }
    at = next;
  }
  if (!sink.failed) show_page();
  cr.reset();
  cairo_surface_finish(surface.get());
  if (sink.failed) return Status::IOError("the PDF could not be written");
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
    return Status::IOError(std::string("cairo: ") + cairo_status_to_string(cairo_surface_status(surface.get())));
  if (pages) *pages = done;
  return Status::Ok();
}

}  // namespace zv::driver
