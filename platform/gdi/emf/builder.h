// Builds small metafiles record by record for tests of every module: typed helpers for the
// common records, Raw() for anything else, and RawBytes() to put malformed bytes in place.
// Bounds are taken as if logical units were device pixels (MM_TEXT, no transform); use the
// recorder for drawings that need real bounds.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gdi/emf/writer.h"
#include "platform/wintypes/emf.h"

namespace zv::emf {

class MetafileBuilder {
 public:
  // Takes the reference device (default 1000 x 1000 pixels on 100 x 100 mm).
  MetafileBuilder();
  explicit MetafileBuilder(const Writer::Options& options);

  // Each helper appends one record and gives the builder for chaining.
  MetafileBuilder& SetMapMode(std::uint32_t mode);
  MetafileBuilder& SetWindowOrg(int x, int y);
  MetafileBuilder& SetWindowExt(int cx, int cy);
  MetafileBuilder& SetViewportOrg(int x, int y);
  MetafileBuilder& SetViewportExt(int cx, int cy);
  MetafileBuilder& SetWorldTransform(const win::XFORM& xf);
  MetafileBuilder& ModifyWorldTransform(const win::XFORM& xf, std::uint32_t mode);
  MetafileBuilder& SaveDC();
  MetafileBuilder& RestoreDC(int relative);
  MetafileBuilder& SetTextColor(win::COLORREF c);
  MetafileBuilder& SetBkColor(win::COLORREF c);
  MetafileBuilder& SetBkMode(std::uint32_t mode);
  MetafileBuilder& SetTextAlign(std::uint32_t align);
  MetafileBuilder& SetROP2(std::uint32_t rop2);
  MetafileBuilder& SetPolyFillMode(std::uint32_t mode);
  // Objects: `ih` is the handle index (1 and up); SelectObject also takes stock objects
  // (ENHMETA_STOCK_OBJECT | n).
  MetafileBuilder& CreatePen(std::uint32_t ih, std::uint32_t style, int width, win::COLORREF c);
  MetafileBuilder& CreateBrush(std::uint32_t ih, std::uint32_t style, win::COLORREF c, std::uint32_t hatch = 0);
  MetafileBuilder& CreateFont(std::uint32_t ih, const win::LOGFONTW& lf);
  MetafileBuilder& SelectObject(std::uint32_t ih);
  MetafileBuilder& DeleteObject(std::uint32_t ih);
  // Shapes.
  MetafileBuilder& MoveTo(int x, int y);
  MetafileBuilder& LineTo(int x, int y);
  MetafileBuilder& Rectangle(int left, int top, int right, int bottom);
  MetafileBuilder& Ellipse(int left, int top, int right, int bottom);
  // `type` is one of the poly record types (32- or 16-bit form).
  MetafileBuilder& Poly(std::uint32_t type, std::span<const win::POINTL> pts);
  MetafileBuilder& PolyPolygon(std::span<const win::POINTL> pts, std::span<const win::DWORD> counts);
  // Clipping: a rectangle list region in device units, or none (RGN_COPY resets).
  MetafileBuilder& ExtSelectClipRgn(std::uint32_t mode, std::span<const win::RECTL> rects);
  MetafileBuilder& IntersectClipRect(int left, int top, int right, int bottom);
  // Text at (x, y) with ETO_* options, an optional rectangle and advances (one per character).
  MetafileBuilder& ExtTextOutW(int x, int y, std::u16string_view text, std::uint32_t options = 0,
                               const win::RECTL* rect = nullptr, std::span<const win::LONG> dx = {});
  MetafileBuilder& ExtTextOutA(int x, int y, std::string_view text, std::uint32_t options = 0,
                               const win::RECTL* rect = nullptr, std::span<const win::LONG> dx = {});
  // A bitmap drawn into (x, y, cx, cy) from all of it: `info` is the bitmap info (header and
  // colour table), `bits` its rows.
  MetafileBuilder& StretchDIBits(int x, int y, int cx, int cy, std::span<const std::uint8_t> info,
                                 std::span<const std::uint8_t> bits, std::uint32_t rop = win::SRCCOPY);
  // A blit without a source bitmap (PATCOPY and friends).
  MetafileBuilder& PatBlt(int x, int y, int cx, int cy, std::uint32_t rop = win::PATCOPY);
  // A comment with `data` as its bytes (cbData = data size).
  MetafileBuilder& Comment(std::span<const std::uint8_t> data);
  // A comment whose field at offset 8 holds `field` and whose remaining bytes are `payload`
  // (the private page records use the field for a marker and an argument).
  MetafileBuilder& CommentField(std::uint32_t field, std::span<const std::uint8_t> payload);
  // Any record: its type and the bytes after the 8-byte prefix (nSize is filled in).
  MetafileBuilder& Raw(std::uint32_t type, std::span<const std::uint8_t> body);
  // Bytes put in as they are, prefix included (nSize is NOT filled in), for malformed cases.
  MetafileBuilder& RawBytes(std::span<const std::uint8_t> bytes);

  // Closes the metafile; gives its bytes (empty when a helper was misused).
  std::vector<std::uint8_t> Build();

 private:
  template <typename T>
  MetafileBuilder& Put(const T& rec, std::span<const std::uint8_t> tail = {});

  Writer writer_;
  // Bytes put in by RawBytes, restored over what the writer made of them.
  struct RawPatch {
    std::size_t body_offset;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<RawPatch> raw_;
};

// A bottom-up BI_RGB bitmap info of width x height at `bits` per pixel (1, 4, 8: a grey or
// black-and-white colour table) and zeroed rows of the right size; for fixtures.
struct TestDib {
  std::vector<std::uint8_t> info;
  std::vector<std::uint8_t> bits;
};
TestDib MakeTestDib(int width, int height, int bits);

}  // namespace zv::emf
