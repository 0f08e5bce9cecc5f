// The converter's images: the document's bitmaps read through their colour maps and drawn
// as StretchDIBits (opaque) or AlphaBlend (stencil masks, colour-key masks, stencil and soft
// masks of their own) at their own resolution; 1-bit images too large for 32-bit pixels as
// 1-bit bitmaps, costing their own bits; images beyond reason are dropped, images
// too large for the records or drawn with transparency become pictures of their area. Part
// of the one output device (records_device.h).
#include <GfxState.h>
#include <Stream.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "capture/pdfrecords/records_device.h"
#include "platform/gdi/dib.h"

namespace zv::capture::pdfrecords {

void RecordsDev::drawImageMask(GfxState* state, Object*, Stream* str, int width, int height, bool invert, bool,
                               bool inlineImg) {
  if (Hidden()) {
    Ink(state, ImageBox(state));
    return SkipImage(str, width, height, 1, 1, inlineImg);
  }
  Flush();
  GfxRGB rgb;
  state->getFillRGB(&rgb);
  if (OneBitFits(state, width, height)) {
    // Samples of 0 paint (1 with the mask inverted): black ANDed in, another colour selected
    // by the bitmap between the brush and the page.
    const std::uint32_t fill = Rgb(rgb);
    const bool black = fill == 0;
    const std::uint32_t paint = black ? 0x000000u : 0xFFFFFFu, keep = black ? 0xFFFFFFu : 0x000000u;
    const std::uint32_t colours[2] = {invert ? keep : paint, invert ? paint : keep};
    if (!black) SelectFillBrush(state);
    return DrawOneBit(state, str, width, height, colours, black ? win::SRCAND : kBrushWhereSource);
  }
  if (NotAsRecords(state, str, width, height, 1, 1, inlineImg)) return;
  const std::uint32_t r = colToByte(rgb.r), g = colToByte(rgb.g), b = colToByte(rgb.b);
  std::vector<std::uint32_t> px(static_cast<std::size_t>(width) * height);
  ImageStream img(str, width, 1, 1);
  img.reset();
  for (int y = 0; y < height; ++y) {
    const unsigned char* line = img.getLine();
    for (int x = 0; x < width; ++x) {
      const bool paint = line ? ((line[x] != 0) == invert) : false;
      // Premultiplied: the fill colour where the stencil paints, nothing elsewhere.
      px[static_cast<std::size_t>(y) * width + x] = paint ? (0xFF000000u | (r << 16) | (g << 8) | b) : 0;
    }
  }
  img.close();
  DrawBitmap(state, width, height, px, true);
}

void RecordsDev::drawImage(GfxState* state, Object*, Stream* str, int width, int height, GfxImageColorMap* map, bool,
                           const int* maskColors, bool inlineImg) {
  if (Hidden()) Ink(state, ImageBox(state));
  if (Hidden() || !map || !map->isOk())
    return SkipImage(str, width, height, map ? map->getNumPixelComps() : 1, map ? map->getBits() : 8, inlineImg);
  Flush();
  if (!maskColors && map->getNumPixelComps() == 1 && map->getBits() == 1 && OneBitFits(state, width, height)) {
    unsigned char values[2] = {0, 1};
    unsigned int rgb[2] = {0, 0};
    map->getRGBLine(values, rgb, 2);
    const std::uint32_t colours[2] = {rgb[0] & 0xFFFFFFu, rgb[1] & 0xFFFFFFu};
    return DrawOneBit(state, str, width, height, colours, win::SRCCOPY);
  }
  if (NotAsRecords(state, str, width, height, map->getNumPixelComps(), map->getBits(), inlineImg)) return;
  std::vector<std::uint32_t> px;
  std::vector<std::uint8_t> alpha;
  ReadImage(str, width, height, map, maskColors, &px, maskColors ? &alpha : nullptr);
  if (maskColors) {
    ApplyAlpha(px, alpha);
    DrawBitmap(state, width, height, px, true);
  } else {
    DrawBitmap(state, width, height, px, false);
  }
}

void RecordsDev::drawMaskedImage(GfxState* state, Object*, Stream* str, int width, int height, GfxImageColorMap* map,
                                 bool, Stream* maskStr, int maskWidth, int maskHeight, bool maskInvert, bool) {
  if (Hidden()) Ink(state, ImageBox(state));
  if (Hidden() || !map || !map->isOk()) return;
  DrawMasked(state, str, width, height, map, maskWidth, maskHeight, [&](std::vector<std::uint8_t>& mask) {
    ImageStream m(maskStr, maskWidth, 1, 1);
    m.reset();
    for (int y = 0; y < maskHeight; ++y) {
      const unsigned char* line = m.getLine();
      for (int x = 0; x < maskWidth; ++x)
        mask[static_cast<std::size_t>(y) * maskWidth + x] = line && ((line[x] != 0) != maskInvert) ? 255 : 0;
    }
    m.close();
  });
}

void RecordsDev::drawSoftMaskedImage(GfxState* state, Object*, Stream* str, int width, int height,
                                     GfxImageColorMap* map, bool, Stream* maskStr, int maskWidth, int maskHeight,
                                     GfxImageColorMap* maskMap, bool) {
  if (Hidden()) Ink(state, ImageBox(state));
  if (Hidden() || !map || !map->isOk() || !maskMap || !maskMap->isOk()) return;
  DrawMasked(state, str, width, height, map, maskWidth, maskHeight, [&](std::vector<std::uint8_t>& mask) {
    ImageStream m(maskStr, maskWidth, maskMap->getNumPixelComps(), maskMap->getBits());
    m.reset();
    for (int y = 0; y < maskHeight; ++y) {
      unsigned char* line = m.getLine();
      for (int x = 0; x < maskWidth; ++x) {
        GfxGray grey = 0;
        if (line) maskMap->getGray(line + x * maskMap->getNumPixelComps(), &grey);
        mask[static_cast<std::size_t>(y) * maskWidth + x] = colToByte(grey);
      }
    }
    m.close();
  });
}

bool RecordsDev::ImageFits(int w, int h) const {
  if (w <= 0 || h <= 0 || w > 20000 || h > 20000) return false;
  const std::size_t pixels = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
  return pixels <= (std::size_t{1} << 25) && budget_.bytes + 4 * pixels <= budget_.max_bytes;
}

bool RecordsDev::OneBitFits(GfxState* state, int w, int h) const {
  // An image that fits as 32-bit pixels is drawn so; a larger 1-bit one costs its own bits.
  if (ImageFits(w, h) || Absurd(w, h, 1, 1) || w > 65535 || h > 65535) return false;
  if (NeedsPicture(state, state->getFillOpacity())) return false;
  return budget_.bytes + OneBitStride(w) * std::size_t(h) + 200 <= budget_.max_bytes;
}

void RecordsDev::DrawOneBit(GfxState* state, Stream* str, int width, int height, const std::uint32_t colours[2],
                            win::DWORD rop) {
  neutralised_ = false;
  gdi::Dib dib;
  dib.info.assign(sizeof(win::BITMAPINFOHEADER) + 8, 0);
  win::BITMAPINFOHEADER h{};
  h.biSize = sizeof(h);
  h.biWidth = width;
  h.biHeight = -height;  // top row first, as the stream gives them
  h.biPlanes = 1;
  h.biBitCount = 1;
  h.biCompression = win::BI_RGB;
  h.biClrUsed = 2;
  std::memcpy(dib.info.data(), &h, sizeof(h));
  for (int k = 0; k < 2; ++k) {
    std::uint8_t* q = dib.info.data() + sizeof(h) + 4 * k;
    q[0] = colours[k] & 0xFF;
    q[1] = (colours[k] >> 8) & 0xFF;
    q[2] = (colours[k] >> 16) & 0xFF;
  }
  const std::size_t stride = OneBitStride(width);
  dib.bits.assign(stride * std::size_t(height), 0);
  ImageStream img(str, width, 1, 1);
  img.reset();
  for (int y = 0; y < height; ++y) {
    const unsigned char* line = img.getLine();
    if (!line) break;
    std::uint8_t* row = dib.bits.data() + stride * std::size_t(y);
    for (int x = 0; x < width; ++x)
      if (line[x]) row[x >> 3] |= std::uint8_t(0x80u >> (x & 7));
  }
  img.close();
  ++stats_.images;
  Spend(dib.bits.size() + 200);
  PlaceImage(state, width, height, [&](int x, int y, int cx, int cy) {
    rec_.SetStretchBltMode(win::HALFTONE);
    rec_.StretchDIBits(x, y, cx, cy, 0, 0, width, height, dib.ref(), rop);
  });
}

bool RecordsDev::DropAbsurd(Stream* str, int w, int h, int comps, int bits, bool inlineImg) {
  if (!Absurd(w, h, comps, bits)) return false;
  SkipImage(str, w, h, comps, bits, inlineImg);
  ++stats_.dropped_images;
  return true;
}

bool RecordsDev::NotAsRecords(GfxState* state, Stream* str, int width, int height, int comps, int bits,
                              bool inlineImg) {
  if (DropAbsurd(str, width, height, comps, bits, inlineImg)) return true;
  if (ImageFits(width, height) && !NeedsPicture(state, state->getFillOpacity())) return false;
  SkipImage(str, width, height, comps, bits, inlineImg);
  Picture(state, ImageBox(state));
  return true;
}

void RecordsDev::DrawMasked(GfxState* state, Stream* str, int width, int height, GfxImageColorMap* map, int maskWidth,
                            int maskHeight, const std::function<void(std::vector<std::uint8_t>& mask)>& read_mask) {
  Flush();
  if (DropAbsurd(str, width, height, map->getNumPixelComps(), map->getBits(), false) || Absurd(maskWidth, maskHeight))
    return;
  if (!ImageFits(width, height) || !ImageFits(maskWidth, maskHeight)) return Picture(state, ImageBox(state));
  if (NeedsPicture(state, state->getFillOpacity())) return Picture(state, ImageBox(state));
  std::vector<std::uint32_t> px;
  ReadImage(str, width, height, map, nullptr, &px, nullptr);
  std::vector<std::uint8_t> mask(static_cast<std::size_t>(maskWidth) * maskHeight);
  read_mask(mask);
  ApplyAlpha(px, Resample(mask, maskWidth, maskHeight, width, height));
  DrawBitmap(state, width, height, px, true);
}

void RecordsDev::SkipImage(Stream* str, int width, int height, int comps, int bits, bool inlineImg) {
  // An inline image's bytes must be read past so the content stream goes on after them.
  if (!inlineImg || !str || width <= 0 || height <= 0) return;
  const long long bytes = (static_cast<long long>(width) * comps * bits + 7) / 8 * height;
  str->reset();
  for (long long i = 0; i < bytes && str->getChar() != EOF; ++i) {
  }
  str->close();
}

void RecordsDev::ReadImage(Stream* str, int width, int height, GfxImageColorMap* map, const int* maskColors,
                           std::vector<std::uint32_t>* px, std::vector<std::uint8_t>* alpha) {
  const int comps = map->getNumPixelComps();
  px->assign(static_cast<std::size_t>(width) * height, 0xFFFFFF);
  if (alpha) alpha->assign(px->size(), 255);
  ImageStream img(str, width, comps, map->getBits());
  img.reset();
  std::vector<unsigned int> line_rgb(width);
  for (int y = 0; y < height; ++y) {
    unsigned char* line = img.getLine();
    if (!line) break;
    std::uint32_t* row = px->data() + static_cast<std::size_t>(y) * width;
    map->getRGBLine(line, line_rgb.data(), width);
    for (int x = 0; x < width; ++x) row[x] = line_rgb[x] & 0xFFFFFF;
    if (alpha) {
      for (int x = 0; x < width; ++x) {
        bool keyed = true;
        for (int c = 0; c < comps; ++c) {
          const int v = line[x * comps + c];
          if (v < maskColors[2 * c] || v > maskColors[2 * c + 1]) keyed = false;
        }
        if (keyed) (*alpha)[static_cast<std::size_t>(y) * width + x] = 0;
      }
    }
  }
  img.close();
}

std::vector<std::uint8_t> RecordsDev::Resample(const std::vector<std::uint8_t>& a, int aw, int ah, int w, int h) {
  if (aw == w && ah == h) return a;
  std::vector<std::uint8_t> out(static_cast<std::size_t>(w) * h);
  for (int y = 0; y < h; ++y) {
    const int sy = static_cast<int>(static_cast<long long>(y) * ah / h);
    for (int x = 0; x < w; ++x) {
      const int sx = static_cast<int>(static_cast<long long>(x) * aw / w);
      out[static_cast<std::size_t>(y) * w + x] = a[static_cast<std::size_t>(sy) * aw + sx];
    }
  }
  return out;
}

void RecordsDev::ApplyAlpha(std::vector<std::uint32_t>& px, const std::vector<std::uint8_t>& alpha) {
  for (std::size_t i = 0; i < px.size() && i < alpha.size(); ++i) {
    const std::uint32_t a = alpha[i], p = px[i];
    const std::uint32_t r = ((p >> 16) & 0xFF) * a / 255, g = ((p >> 8) & 0xFF) * a / 255, b = (p & 0xFF) * a / 255;
    px[i] = (a << 24) | (r << 16) | (g << 8) | b;  // premultiplied, as AlphaBlend takes it
  }
}

void RecordsDev::DrawBitmap(GfxState* state, int width, int height, const std::vector<std::uint32_t>& px, bool alpha) {
  neutralised_ = false;
  gdi::Dib dib = gdi::EncodeDib(width, height, px, alpha ? 32 : 24);
  ++stats_.images;
  Spend(dib.bits.size() + 120);
  PlaceImage(state, width, height, [&](int x, int y, int cx, int cy) {
    if (alpha) {
      rec_.DibAlphaBlend(x, y, cx, cy, dib.ref(), 0, 0, width, height,
                         win::BLENDFUNCTION{win::AC_SRC_OVER, 0, 255, win::AC_SRC_ALPHA});
    } else {
      rec_.SetStretchBltMode(win::HALFTONE);
      rec_.StretchDIBits(x, y, cx, cy, 0, 0, width, height, dib.ref(), win::SRCCOPY);
    }
  });
}

void RecordsDev::PlaceImage(GfxState* state, int width, int height,
                            const std::function<void(int x, int y, int cx, int cy)>& draw) {
  const double* c = state->getCTM();
  const double w = width, h = height;
  // Image pixel (u, v), v down from the top row, to device: user (u/w, 1 - v/h).
  double e11 = c[0] / w, e12 = c[1] / w, e21 = -c[2] / h, e22 = -c[3] / h, edx = c[2] + c[4], edy = c[3] + c[5];
  const bool axis = std::abs(e12) < 1e-9 && std::abs(e21) < 1e-9 && e11 > 0 && e22 > 0;
  int x = 0, y = 0, cx = width, cy = height;
  if (axis) {
    x = Clamp32(edx);
    y = Clamp32(edy);
    cx = Clamp32(edx + e11 * w) - x;
    cy = Clamp32(edy + e22 * h) - y;
    if (cx <= 0) cx = 1;
    if (cy <= 0) cy = 1;
  } else {
    rec_.SaveDC();
    rec_.SetGraphicsMode(win::GM_ADVANCED);
    rec_.SetWorldTransform(win::XFORM{static_cast<float>(e11), static_cast<float>(e12), static_cast<float>(e21),
                                      static_cast<float>(e22), static_cast<float>(edx), static_cast<float>(edy)});
  }
  draw(x, y, cx, cy);
  if (!axis) {
    rec_.RestoreDC(-1);
    ForgetObjects();
  }
}

}  // namespace zv::capture::pdfrecords
