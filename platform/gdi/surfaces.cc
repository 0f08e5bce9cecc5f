// Memory bitmaps and the screen surface: cairo image surfaces with a cairo device context.
#include "platform/gdi/surfaces.h"

#include <cstring>

#include "platform/gdi/internal/cairo_dc.h"

namespace zv::gdi {

namespace {

cairo_surface_t* NewWhiteSurface(int w, int h) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return nullptr;
  }
  cairo_surface_flush(s);
  std::memset(cairo_image_surface_get_data(s), 0xFF, size_t(cairo_image_surface_get_stride(s)) * h);
  cairo_surface_mark_dirty(s);
  return s;
}

Status CheckSize(int w, int h) {
  // 32767 is the largest side cairo's image surfaces take; the area bound keeps one surface
  // within 1 GiB.
  if (w <= 0 || h <= 0 || w > 32767 || h > 32767 || std::int64_t(w) * h > (std::int64_t(1) << 28)) {
    return Status::InvalidArgument("surface size " + std::to_string(w) + "x" + std::to_string(h) + " out of range");
  }
  return Status::Ok();
}

}  // namespace

struct MemoryBitmap::Impl {
  cairo_surface_t* surface = nullptr;
  std::unique_ptr<detail::CairoDC> dc;
  ~Impl() {
    // The context draws on the surface: it goes first.
    dc.reset();
    if (surface) cairo_surface_destroy(surface);
  }
};

Result<std::unique_ptr<MemoryBitmap>> MemoryBitmap::Create(int width, int height, int bits, double dpi,
                                                           std::vector<win::RGBQUAD> palette) {
  if (Status s = CheckSize(width, height); !s.ok()) return s;
  if (bits != 1 && bits != 24) return Status::InvalidArgument("memory bitmaps have 1 or 24 bits per pixel");
  if (!(dpi > 0)) return Status::InvalidArgument("resolution must be positive");
  std::unique_ptr<MemoryBitmap> b(new MemoryBitmap());
  b->impl_ = std::make_unique<Impl>();
  b->impl_->surface = NewWhiteSurface(width, height);
  if (!b->impl_->surface) return Status::IOError("cannot allocate a bitmap of that size");
  detail::DeviceInfo info{width, height, dpi, dpi, win::DT_RASDISPLAY, bits};
  b->impl_->dc = std::make_unique<detail::CairoDC>(b->impl_->surface, info);
  b->width_ = width;
  b->height_ = height;
  b->bits_ = bits;
  if (bits == 1) {
    if (palette.size() < 2) palette = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    palette.resize(2);
  }
  b->palette_ = std::move(palette);
  return b;
}

MemoryBitmap::~MemoryBitmap() = default;

DeviceContext& MemoryBitmap::dc() { return *impl_->dc; }

namespace {
int Nearer(std::uint32_t rgb, const std::vector<win::RGBQUAD>& pal) {
  auto dist = [&](const win::RGBQUAD& q) {
    int dr = int((rgb >> 16) & 0xFF) - q.rgbRed, dg = int((rgb >> 8) & 0xFF) - q.rgbGreen,
        db = int(rgb & 0xFF) - q.rgbBlue;
    return dr * dr + dg * dg + db * db;
  };
  return dist(pal[1]) < dist(pal[0]) ? 1 : 0;
}
std::uint32_t QuadRgb(const win::RGBQUAD& q) {
  return (std::uint32_t(q.rgbRed) << 16) | (std::uint32_t(q.rgbGreen) << 8) | q.rgbBlue;
}
}  // namespace

std::uint32_t MemoryBitmap::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  cairo_surface_flush(impl_->surface);
  const auto* px = reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(impl_->surface));
  std::uint32_t v = px[size_t(y) * (cairo_image_surface_get_stride(impl_->surface) / 4) + x] & 0xFFFFFF;
  // cairo has no 1-bit surface to draw on: a two-colour bitmap is drawn in colour and each pixel
  // read as the nearer of its two colours.
  if (bits_ == 1) return QuadRgb(palette_[Nearer(v, palette_)]);
  return v;
}

Dib MemoryBitmap::ToDib() const {
  cairo_surface_flush(impl_->surface);
  const auto* px = reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(impl_->surface));
  const int sstride = cairo_image_surface_get_stride(impl_->surface) / 4;
  Dib d;
  win::BITMAPINFOHEADER h{};
  h.biSize = sizeof(h);
  h.biWidth = width_;
  h.biHeight = height_;
  h.biPlanes = 1;
  h.biBitCount = win::WORD(bits_);
  h.biCompression = win::BI_RGB;
  const size_t stride = ((size_t(width_) * bits_ + 31) / 32) * 4;
  h.biSizeImage = win::DWORD(stride * height_);
  double dpi = impl_->dc->info().dpi_x;
  h.biXPelsPerMeter = h.biYPelsPerMeter = win::LONG(dpi / 0.0254 + 0.5);
  h.biClrUsed = bits_ == 1 ? 2 : 0;
  d.info.resize(sizeof(h) + (bits_ == 1 ? 8 : 0));
  std::memcpy(d.info.data(), &h, sizeof(h));
  if (bits_ == 1) std::memcpy(d.info.data() + sizeof(h), palette_.data(), 8);
  d.bits.assign(stride * height_, 0);
  for (int y = 0; y < height_; ++y) {
    const std::uint32_t* src = px + size_t(height_ - 1 - y) * sstride;
    std::uint8_t* dst = d.bits.data() + stride * y;
    for (int x = 0; x < width_; ++x) {
      std::uint32_t v = src[x];
      if (bits_ == 1) {
        if (Nearer(v & 0xFFFFFF, palette_)) dst[x >> 3] |= std::uint8_t(0x80 >> (x & 7));
      } else {
        dst[3 * x] = std::uint8_t(v);
        dst[3 * x + 1] = std::uint8_t(v >> 8);
        dst[3 * x + 2] = std::uint8_t(v >> 16);
      }
    }
  }
  return d;
}

struct ScreenSurface::Impl {
  cairo_surface_t* surface = nullptr;
  std::unique_ptr<detail::CairoDC> dc;
  ~Impl() {
    dc.reset();
    if (surface) cairo_surface_destroy(surface);
  }
};

Result<std::unique_ptr<ScreenSurface>> ScreenSurface::Create(int width, int height, double dpi) {
  if (!(dpi > 0)) return Status::InvalidArgument("resolution must be positive");
  std::unique_ptr<ScreenSurface> s(new ScreenSurface());
  s->dpi_ = dpi;
  if (Status st = s->Resize(width, height); !st.ok()) return st;
  return s;
}

ScreenSurface::~ScreenSurface() = default;

Status ScreenSurface::Resize(int width, int height) {
  if (Status s = CheckSize(width, height); !s.ok()) return s;
  auto impl = std::make_unique<Impl>();
  impl->surface = NewWhiteSurface(width, height);
  if (!impl->surface) return Status::IOError("cannot allocate a surface of that size");
  detail::DeviceInfo info{width, height, dpi_, dpi_, win::DT_RASDISPLAY, 32};
  impl->dc = std::make_unique<detail::CairoDC>(impl->surface, info);
  impl_ = std::move(impl);
  width_ = width;
  height_ = height;
  return Status::Ok();
}

DeviceContext& ScreenSurface::dc() { return *impl_->dc; }
std::uint8_t* ScreenSurface::data() { return cairo_image_surface_get_data(impl_->surface); }
int ScreenSurface::stride() const { return cairo_image_surface_get_stride(impl_->surface); }
void ScreenSurface::Flush() { cairo_surface_flush(impl_->surface); }

}  // namespace zv::gdi
