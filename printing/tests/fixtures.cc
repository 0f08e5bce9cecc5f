#include "printing/tests/fixtures.h"

#include <cairo-pdf.h>
#include <cairo.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "platform/gdi/dc.h"

namespace zv::printing::testing {

std::uint32_t PageColour(int index) {
  static const std::uint32_t kColours[] = {0xFF0000, 0x00A000, 0x0000FF, 0xC0C000,
                                           0xC000C0, 0x00C0C0, 0x804000, 0x404040};
  return kColours[index % 8];
}

BoxDocument::BoxDocument(int pages, PageFacts facts) : pages_(pages, facts) {}

void BoxDocument::RenderPage(gdi::DeviceContext& dc, int resolution, int index, const win::RECT& rect) {
  drawn.push_back({index, resolution, rect});
  const std::uint32_t c = PageColour(index);
  // COLORREF is 0x00BBGGRR.
  const win::COLORREF ref = ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
  dc.SelectBrush(gdi::Brush::Solid(ref));
  dc.SelectStockObject(win::NULL_PEN);
  dc.Rectangle(rect.left, rect.top, rect.right, rect.bottom);
}

bool BoxDocument::ReplacePagePlaceholders(std::string_view text, int page, int total, std::string* out) const {
  std::string s(text);
  bool replaced = false;
  for (auto [key, value] : {std::pair<std::string, int>{"<総ページ>", total}, {"<ページ>", page}}) {
    for (std::size_t at; (at = s.find(key)) != std::string::npos;) {
      s.replace(at, key.size(), std::to_string(value));
      replaced = true;
    }
  }
  *out = s;
  return replaced;
}

Result<gdi::DeviceContext*> BitmapDevice::StartPage() {
  if (fail_start_at == static_cast<int>(sides.size())) return Status::IOError("no paper");
  auto bmp = gdi::MemoryBitmap::Create(g_.horzres, g_.vertres, 24, g_.logpixels_x);
  if (!bmp.ok()) return bmp.status();
  sides.push_back(std::move(*bmp));
  return &sides.back()->dc();
}

Status BitmapDevice::EndPage() { return Status::Ok(); }

spool::PageGeometry SmallDevice() {
  spool::PageGeometry g;
  g.logpixels_x = g.logpixels_y = 50;
  g.physical_width = 400;
  g.physical_height = 560;
  g.offset_x = 10;
  g.offset_y = 15;
  g.horzres = 400 - 10 - 20;
  g.vertres = 560 - 15 - 25;
  return g;
}

int InkIn(const gdi::MemoryBitmap& bmp, const win::RECT& rect) {
  int n = 0;
  for (int y = std::max(0, int(rect.top)); y < std::min(bmp.height(), int(rect.bottom)); ++y) {
    for (int x = std::max(0, int(rect.left)); x < std::min(bmp.width(), int(rect.right)); ++x) {
      if ((bmp.Pixel(x, y) & 0xFFFFFF) != 0xFFFFFF) ++n;
    }
  }
  return n;
}

namespace {

class RasterPdfSurface : public SheetSurface {
 public:
  RasterPdfSurface(std::string path, int dpi) : path_(std::move(path)), dpi_(dpi) {}
  ~RasterPdfSurface() override {
    if (pdf_) cairo_surface_destroy(pdf_);
  }

  Result<gdi::DeviceContext*> StartPage(const spool::PageGeometry& g) override {
    auto bmp = gdi::MemoryBitmap::Create(g.physical_width, g.physical_height, 24, dpi_);
    if (!bmp.ok()) return bmp.status();
    bmp_ = std::move(*bmp);
    g_ = g;
    return &bmp_->dc();
  }

  Status EndPage() override {
    if (!bmp_) return Status::InvalidArgument("no page");
    const double w = g_.physical_width * 72.0 / dpi_, h = g_.physical_height * 72.0 / dpi_;
    if (!pdf_) {
      pdf_ = cairo_pdf_surface_create(path_.c_str(), w, h);
    } else {
      cairo_pdf_surface_set_size(pdf_, w, h);
    }
    cairo_surface_t* img = cairo_image_surface_create(CAIRO_FORMAT_RGB24, bmp_->width(), bmp_->height());
    unsigned char* data = cairo_image_surface_get_data(img);
    const int stride = cairo_image_surface_get_stride(img);
    for (int y = 0; y < bmp_->height(); ++y) {
      auto* row = reinterpret_cast<std::uint32_t*>(data + y * stride);
      for (int x = 0; x < bmp_->width(); ++x) row[x] = bmp_->Pixel(x, y);
    }
    cairo_surface_mark_dirty(img);
    cairo_t* cr = cairo_create(pdf_);
    cairo_scale(cr, 72.0 / dpi_, 72.0 / dpi_);
    cairo_set_source_surface(cr, img, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    cairo_show_page(cr);
    cairo_destroy(cr);
    cairo_surface_destroy(img);
    bmp_.reset();
    ++pages_;
    return Status::Ok();
  }

  Result<int> Close() override {
    if (bmp_) {
      if (Status st = EndPage(); !st.ok()) return st;
    }
    if (pdf_) {
      cairo_surface_finish(pdf_);
      cairo_surface_destroy(pdf_);
      pdf_ = nullptr;
    }
    return pages_;
  }

 private:
  std::string path_;
  int dpi_;
  cairo_surface_t* pdf_ = nullptr;
  std::unique_ptr<gdi::MemoryBitmap> bmp_;
  spool::PageGeometry g_;
  int pages_ = 0;
};

}  // namespace

namespace {

std::string RunCommand(const std::string& cmd) {
  std::string out;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  ::pclose(p);
  return out;
}

}  // namespace

std::vector<std::string> PdfPageSizes(const std::string& pdf) {
  std::vector<std::string> sizes;
  std::istringstream in(RunCommand("pdfinfo -f 1 -l 9999 '" + pdf + "' 2>/dev/null"));
  for (std::string line; std::getline(in, line);) {
    auto at = line.find(" size:");
    if (line.rfind("Page", 0) != 0 || at == std::string::npos) continue;
    std::istringstream v(line.substr(at + 6));
    double w = 0, h = 0;
    std::string x;
    v >> w >> x >> h;
    sizes.push_back(std::to_string(int(w + 0.5)) + "x" + std::to_string(int(h + 0.5)));
  }
  return sizes;
}

long PdfPixel(const std::string& pdf, int page, int x, int y) {
  const std::string ppm =
      RunCommand("pdftoppm -r 72 -f " + std::to_string(page) + " -l " + std::to_string(page) + " -x " +
                 std::to_string(x) + " -y " + std::to_string(y) + " -W 1 -H 1 '" + pdf + "' 2>/dev/null");
  if (ppm.size() < 3 || ppm.rfind("P6", 0) != 0) return -1;
  const auto* b = reinterpret_cast<const unsigned char*>(ppm.data() + ppm.size() - 3);
  return (long(b[0]) << 16) | (long(b[1]) << 8) | b[2];
}

long PdfDarkPixels(const std::string& pdf, int page, const win::RECT& r) {
  const long w = r.right - r.left, h = r.bottom - r.top;
  const std::string ppm = RunCommand("pdftoppm -r 72 -f " + std::to_string(page) + " -l " + std::to_string(page) +
                                     " -x " + std::to_string(r.left) + " -y " + std::to_string(r.top) + " -W " +
                                     std::to_string(w) + " -H " + std::to_string(h) + " '" + pdf + "' 2>/dev/null");
  if (w <= 0 || h <= 0 || ppm.size() < std::size_t(w * h * 3) || ppm.rfind("P6", 0) != 0) return -1;
  const auto* px = reinterpret_cast<const unsigned char*>(ppm.data() + ppm.size() - w * h * 3);
  long dark = 0;
  for (long i = 0; i < w * h; ++i) {
    if (px[3 * i] < 128 && px[3 * i + 1] < 128 && px[3 * i + 2] < 128) ++dark;
  }
  return dark;
}

bool NearColour(long a, std::uint32_t b) {
  if (a < 0) return false;
  for (int shift : {0, 8, 16}) {
    if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > 24) return false;
  }
  return true;
}

SheetSurfaceFactory RasterPdfSurfaces() {
  return [](const std::string& path, int dpi) -> Result<std::unique_ptr<SheetSurface>> {
    return std::unique_ptr<SheetSurface>(new RasterPdfSurface(path, dpi));
  };
}

}  // namespace zv::printing::testing
