// Test helpers: a captured page played by our player beside poppler's own rendering of the
// source page, compared as a person would (small anti-aliasing differences aside).
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/gdi/emf/records.h"
#include "platform/gdi/player.h"
#include "platform/gdi/surfaces.h"

namespace zv::capture::pdfrecords::testing {

struct Image {
  int width = 0, height = 0;
  std::vector<std::uint32_t> px;  // 0x00RRGGBB, top row first
};

// Plays a page's records onto a white bitmap of the given size.
inline std::optional<Image> PlayPage(const std::vector<std::uint8_t>& emf, int width, int height) {
  auto player = gdi::Player::Open(emf);
  if (!player.ok()) return std::nullopt;
  auto bmp = gdi::MemoryBitmap::Create(width, height, 24, 200);
  if (!bmp.ok()) return std::nullopt;
  win::RECT dest{0, 0, width, height};
  if (!player->Play((*bmp)->dc(), &dest).ok()) return std::nullopt;
  Image out{width, height, std::vector<std::uint32_t>(static_cast<std::size_t>(width) * height)};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) out.px[static_cast<std::size_t>(y) * width + x] = (*bmp)->Pixel(x, y) & 0xFFFFFF;
  return out;
}

// Reads a binary PPM (P6, 8 bits) as pdftoppm writes it.
inline std::optional<Image> ReadPpm(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int w = 0, h = 0, max = 0;
  in >> magic >> w >> h >> max;
  in.get();
  if (magic != "P6" || w <= 0 || h <= 0 || max != 255) return std::nullopt;
  std::vector<unsigned char> raw(static_cast<std::size_t>(w) * h * 3);
  in.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(raw.size()));
  if (!in) return std::nullopt;
  Image out{w, h, std::vector<std::uint32_t>(static_cast<std::size_t>(w) * h)};
  for (std::size_t i = 0; i < out.px.size(); ++i)
    out.px[i] = (std::uint32_t{raw[3 * i]} << 16) | (raw[3 * i + 1] << 8) | raw[3 * i + 2];
  return out;
}

inline int Luma(std::uint32_t p) {
  return static_cast<int>((299 * ((p >> 16) & 0xFF) + 587 * ((p >> 8) & 0xFF) + 114 * (p & 0xFF)) / 1000);
}

// The share of pixels (of the area both images cover) whose luma differs by more than 64,
// counted after a 3x3 erosion of the differing pixels, so edges that anti-aliasing or a
// half-pixel placement moves do not count and only real differences (missing or extra
// drawing) do.
inline double DifferingShare(const Image& a, const Image& b) {
  const int w = std::min(a.width, b.width), h = std::min(a.height, b.height);
  if (w < 3 || h < 3) return 1;
  std::vector<std::uint8_t> diff(static_cast<std::size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      diff[static_cast<std::size_t>(y) * w + x] = std::abs(Luma(a.px[static_cast<std::size_t>(y) * a.width + x]) -
                                                           Luma(b.px[static_cast<std::size_t>(y) * b.width + x])) > 64;
  std::size_t count = 0;
  for (int y = 1; y + 1 < h; ++y)
    for (int x = 1; x + 1 < w; ++x) {
      bool all = true;
      for (int dy = -1; dy <= 1 && all; ++dy)
        for (int dx = -1; dx <= 1 && all; ++dx) all = diff[static_cast<std::size_t>(y + dy) * w + (x + dx)] != 0;
      count += all;
    }
  return static_cast<double>(count) / (static_cast<double>(w) * h);
}

// The text of a page's ExtTextOutW records, in order, one string per record.
inline std::vector<std::u16string> TextRecords(const std::vector<std::uint8_t>& emf) {
  std::vector<std::u16string> out;
  auto player = gdi::Player::Open(emf);
  if (!player.ok()) return out;
  auto bmp = gdi::MemoryBitmap::Create(8, 8, 24);
  if (!bmp.ok()) return out;
  (void)player->Play((*bmp)->dc(), nullptr, [&](gdi::Player&, const emf::Record& r) -> Status {
    if (r.type == 84) {
      auto t = emf::ReadText(r);
      if (t.ok()) out.push_back(t->Utf16());
    }
    return Status::Ok();
  });
  return out;
}

}  // namespace zv::capture::pdfrecords::testing
