// DrawSheetPages: one sheet of the page view. The paper is fitted into the target, divided
// into cells, and each page of the sheet is played into a cell-sized bitmap (turned pages
// upright into a bitmap of their own, then turned), framed in red (or marked blank) and
// copied to the device context; then come the blue separator lines, the dotted frame of the
// printable area and the header and footer with the sheet number.
#include <algorithm>
#include <cmath>

#include "platform/codepage/codepage.h"
#include "platform/gdi/player.h"
#include "platform/gdi/surfaces.h"
#include "viewer/render.h"

namespace zv::viewer {

namespace {

constexpr const char* kBlankPageText = "空白ページ";

std::u16string Utf16(std::string_view utf8) {
  auto r = codepage::Utf8ToUtf16(utf8, codepage::OnError::kSubstitute);
  return r.ok() ? *r : std::u16string();
}

// Takes the header font as stored (CP932 face) and the height to use; gives the font.
gdi::Font HeaderFont(const win::LOGFONTA& a, int height) {
  return *gdi::FontFromLogFontA(a, height, /*substitute=*/true);
}

void DrawLines(gdi::DeviceContext& dc, const std::vector<LineSegment>& lines) {
  for (const LineSegment& l : lines) {
    dc.MoveToEx(l.from.x, l.from.y);
    dc.LineTo(l.to.x, l.to.y);
  }
}

gdi::Pen SolidPen(win::COLORREF colour, win::UINT style = win::PS_SOLID) {
  gdi::Pen p;
  p.style = style;
  p.width = 1;
  p.color = colour;
  return p;
}

// Reads a memory bitmap's pixels, top row first.
std::vector<std::uint32_t> PixelsOf(const gdi::MemoryBitmap& bmp) {
  std::vector<std::uint32_t> out(std::size_t(bmp.width()) * std::size_t(bmp.height()));
  for (int y = 0; y < bmp.height(); ++y) {
    for (int x = 0; x < bmp.width(); ++x)
      out[std::size_t(y) * std::size_t(bmp.width()) + std::size_t(x)] = bmp.Pixel(x, y);
  }
  return out;
}

// Whether an upright page on a sheet of several pages lies the other way than page 0.
bool OtherOrientation(const SheetLayout& L, bool portrait) {
  // With 2 or 8 pages to a sheet the cells lie across the sheet (a quarter turn from it); with 4
  // they lie as the sheet does.
  if (L.pages == 2 || L.pages == 8) {
    return (portrait && L.orientation == 1) || (!portrait && L.orientation == 2);
  }
  if (L.pages == 4) return (portrait && L.orientation == 2) || (!portrait && L.orientation == 1);
  return false;
}

}  // namespace

int CViewerDocBase::DrawSheetPages(gdi::DeviceContext& dc, int resolution, int flag, std::uint16_t first,
                                   const RECT* target, const SheetLayout* layout) {
  const SheetLayout L = layout ? *layout : SheetLayout{};
  if (view_password_flag_ || !target) return 0;
  ViewerPage* first_page = page(first);
  if (!first_page) return 0;
  std::span<const std::uint8_t> first_data = first_page->GetPageData();
  Result<gdi::Player> first_player = gdi::Player::Open(first_data);
  if (first_data.empty() || !first_player.ok()) {
    if (!first_data.empty()) first_page->ReleasePageData();
    return 0;
  }
  // Held for the whole sheet: the page list and the offsets may not change while the cells are drawn.
  std::lock_guard<std::recursive_mutex> lock(DrawingLock());
  const emf::Header header = first_player->header();

  // Sheet box in page units.
  std::int64_t bw = first_page->extent_x(), bh = first_page->extent_y();
  if (paper_.code == -1 && L.pages == 1) {
    const POINT b = FitPageBox(bw, bh, header.device.cx, header.device.cy);
    bw = b.x;
    bh = b.y;
  }
  if (paper_.code != -1) {
    if (bw > bh) {
      bw = paper_.unit_height;
      bh = paper_.unit_width;
    } else {
      bw = paper_.unit_width;
      bh = paper_.unit_height;
    }
  } else {
    paper_.width = first_page->width();
    paper_.height = first_page->length();
    paper_.unit_width = TenthMmToPageUnits(paper_.width);
    paper_.unit_height = TenthMmToPageUnits(paper_.height);
  }
  if (L.pages != 1) {
    bw = paper_.unit_width;
    bh = paper_.unit_height;
    if (L.orientation == 2) std::swap(bw, bh);
  }
  const bool landscape = bw > bh;

  const RECT sheet = FitCentred(*target, bw, bh);
  const int sheet_w = Width(sheet), sheet_h = Height(sheet);
  first_page->ReleasePageData();
  if (sheet_w <= 0 || sheet_h <= 0) return 0;
  FillWhite(dc, sheet);

  const int cols = L.columns ? int(L.columns) : 1, rows = L.rows ? int(L.rows) : 1;
  const int cw = sheet_w / cols, ch = sheet_h / rows;
  const RECT first_cell{sheet.left, sheet.top, sheet.left + cw, sheet.top + ch};
  const int dpi = dc.GetDeviceCaps(win::LOGPIXELSX);
  std::unique_ptr<gdi::MemoryBitmap> cell;
  if (cw > 0 && ch > 0) {
    auto made = gdi::MemoryBitmap::Create(cw, ch, 24, dpi > 0 ? dpi : 96);
    if (made.ok()) cell = std::move(*made);
  }

  // Margins and printable area.
  const PaperMargins pm = ChooseMargins(paper_.margins, paper_.code == -1, first_page->paper_code());
  int paper_w = paper_.width, paper_h = paper_.height;
  if (landscape) std::swap(paper_w, paper_h);
  const SheetMargins m = MarginsInPixels(sheet_w, sheet_h, paper_w, paper_h, pm, landscape);
  RECT area{sheet.left + m.left, sheet.top + m.top, sheet.right - 1 - m.right, sheet.bottom - 1 - m.bottom};

  draw_ = playback::StartState(resolution, sheet_w, flag ? POINT{0, 0} : POINT{sheet.left, sheet.top});

  // Header and footer font and heights.
  const gdi::Font old_font = dc.GetCurrentFont();
  const gdi::Font hf_font =
      HeaderFont(font_, HeaderFontHeight(font_points_, dc.GetDeviceCaps(win::LOGPIXELSY), screen_width_, sheet_w));
  dc.SelectFont(hf_font);
  header_height_ = 0;
  footer_height_ = 0;
  bool any_text = false;
  const std::string* order[6] = {&header_.left,   &footer_.left,  &header_.centre,
                                 &footer_.centre, &header_.right, &footer_.right};
  for (int i = 0; i < 6; ++i) {
    if (order[i]->empty()) continue;
    any_text = true;
    SIZE sz{};
    dc.GetTextExtentPoint32W(Utf16(*order[i]), &sz);
    (i % 2 == 0 ? header_height_ : footer_height_) = sz.cy;
  }
  const int hh = header_height_, fh = footer_height_;
  const bool room = HeaderRoomApplies(numbering_rule_, first < L.pages);

  POINT origin{sheet.left, sheet.top};
  int k = first;
  for (std::uint32_t s = 0; s < L.pages && k < int(pages_.size()); ++s, ++k) {
    ViewerPage& p = *pages_[std::size_t(k)];
    p.set_sheet_rect(sheet);
    const bool portrait = p.extent_x() <= p.extent_y();
    const int usable_w = std::clamp(cw - m.left - m.right, 0, 0x7FFF);
    const int usable_h = std::clamp(ch - m.top - m.bottom, 0, 0x7FFF);
    const POINT box = FitPageInCell(p.width(), p.length(), portrait, usable_w, usable_h);
    RECT prect;
    prect.left = m.left + OffsetInPixels(left_offset_, sheet_w, paper_w);
    prect.top = m.top + OffsetInPixels(top_offset_, sheet_h, paper_h);
    const double scale = std::isfinite(size_offset_) ? std::clamp(double(size_offset_), 0.0, 1000.0) * 0.01 : 1.0;
    prect.right = prect.left + int(box.x * scale);
    prect.bottom = prect.top + int(box.y * scale);
    if (cell) FillWhite(cell->dc(), RECT{0, 0, cw, ch});
    if (s == 0 && k == 0) {
      reference_rect_ = prect;
      rotation_rect_ = prect;
    }
    draw_ = playback::StartState(resolution, sheet_w, flag ? POINT{0, 0} : POINT{sheet.left, sheet.top});
    if (room) viewer::OffsetSlotRect(&prect, hh, fh, L, int(s));

    RECT copy_rect = prect;
    POINT place{prect.left, prect.top};
    const std::uint16_t rotation = p.GetRotation();
    const bool other = OtherOrientation(L, portrait);
    bool upright = L.pages == 1 || rotation == kUpright;
    if (!upright && cell) {
      // Sizes of the turned image (tw x th) and of the upright one (uw x uh) and its place.
      const int w = Width(prect), h = Height(prect);
      int tw = 0, th = 0, uw = 0, uh = 0, X = prect.left, Y = prect.top;
      const bool known = (L.pages == 2 || L.pages == 4 || L.pages == 8) && (L.orientation == 1 || L.orientation == 2);
      if (known && !other && h > 0 && w > 0) {
        if (portrait) {
          const double r = double(w) / double(h);
          tw = w;
          th = int(w * r);
          uw = int(r * w);
          uh = int(r * h);
          Y = prect.top + (h - th) / 2;
        } else {
          const double r = double(h) / double(w);
          tw = int(r * h);
          th = h;
          uw = int(r * w);
          uh = int(r * h);
          X = (usable_w - tw) / 2;
        }
      } else if (known && other && reference_rect_) {
        RECT ref = *reference_rect_;
        viewer::OffsetSlotRect(&ref, hh, fh, L, int(s));
        rotation_rect_ = ref;
        tw = Width(ref);
        th = Height(ref);
        uw = th;
        uh = tw;
        Y = prect.top + viewer::GetSlotOffset(rotation, hh, fh, L, int(s));
        copy_rect = *reference_rect_;
        if (any_text) viewer::OffsetSlotRect(&copy_rect, hh, fh, L, int(s));
        place = POINT{copy_rect.left, copy_rect.top};
      }
      if (uw > 0 && uh > 0) {
        auto up = gdi::MemoryBitmap::Create(uw, uh, 24, dpi > 0 ? dpi : 96);
        if (!up.ok()) {
          ReportFailure(kRotationFailedMessage);
          p.SetRotation(kUpright);
          copy_rect = prect;
          place = POINT{prect.left, prect.top};
          upright = true;
        } else {
          PlayPage(*this, (*up)->dc(), RECT{0, 0, uw, uh}, k);
          FillWhite(cell->dc(), RECT{0, 0, cw, ch});
          const std::vector<std::uint32_t> turned = TurnPixels(PixelsOf(**up), uw, uh, rotation);
          const gdi::Dib dib = gdi::EncodeDib(uh, uw, turned);
          // Drawn through the cell's own clip: nothing lands outside the cell bitmap.
          cell->dc().StretchDIBits(X, Y, uh, uw, 0, 0, uh, uw, dib.ref(), win::SRCCOPY);
        }
      }
    }
    if (upright && cell) {
      gdi::DeviceContext& cdc = cell->dc();
      cdc.SaveDC();
      cdc.IntersectClipRect(prect.left, prect.top, prect.right, prect.bottom);
      PlayPage(*this, cdc, prect, k);
      cdc.RestoreDC(-1);
    }
    if (cell) {
      gdi::DeviceContext& cdc = cell->dc();
      const RECT F{copy_rect.left, copy_rect.top, copy_rect.right - 1, copy_rect.bottom - 1};
      if (p.blank()) {
        cdc.SaveDC();
        win::LOGFONTW lf = gdi::MakeLogFont("ＭＳ ゴシック", -13, 400, false, win::SHIFTJIS_CHARSET);
        lf.lfQuality = win::DRAFT_QUALITY;
        lf.lfPitchAndFamily = win::FIXED_PITCH | win::FF_ROMAN;
        cdc.SelectFont(gdi::Font{lf});
        cdc.SetBkMode(win::TRANSPARENT);
        cdc.SetTextColor(0x808080);
        cdc.SetTextAlign(win::TA_LEFT | win::TA_TOP);
        const std::u16string text = Utf16(kBlankPageText);
        SIZE sz{};
        cdc.GetTextExtentPoint32W(text, &sz);
        cdc.TextOutW(F.left + (Width(F) - sz.cx) / 2, F.top + (Height(F) - sz.cy) / 2, text);
        cdc.RestoreDC(-1);
      } else {
        const gdi::Pen old = cdc.SelectPen(SolidPen(win::RGB(255, 0, 0)));
        DrawLines(cdc, {{{F.left, F.top}, {F.right, F.top}},
                        {{F.left, F.bottom}, {F.right, F.bottom}},
                        {{F.left, F.top}, {F.left, F.bottom}},
                        {{F.right, F.top}, {F.right, F.bottom + 1}}});
        cdc.SelectPen(old);
      }
      if (upright && L.pages > 1 && other) {
        place.x = (cw - Width(prect)) / 2;
        place.y = (portrait && any_text) ? prect.top : (ch - Height(prect)) / 2;
      }
      dc.BitBlt(origin.x + place.x, origin.y + place.y, Width(copy_rect), Height(copy_rect), &cdc, copy_rect.left,
                copy_rect.top, win::SRCCOPY);
    }
    origin = NextSlotOrigin(origin, first_cell, int(s), L);
  }

  // Separators, printable-area frame, header and footer.
  const int sheet_number = SheetNumber(k, L.pages);
  const gdi::Pen old_pen = dc.GetCurrentPen();
  dc.SaveDC();
  dc.SetBkMode(win::TRANSPARENT);
  dc.SelectPen(SolidPen(win::RGB(0, 0, 255)));
  DrawLines(dc, SlotSeparatorLines(POINT{sheet.left, sheet.top}, first_cell, area, L, hh, fh,
                                   HeaderRoomApplies(numbering_rule_, sheet_number == 1)));
  dc.SelectPen(SolidPen(0, win::PS_DOT));
  DrawLines(dc, PrintableFrameLines(area, room ? hh : 0, room ? fh : 0));
  dc.RestoreDC(-1);
  if (room) {
    const int total = SheetTotal(page_count_, L.pages);
    struct Place {
      const std::string* text;
      int where;  // 0 left, 1 centre, 2 right
      bool footer;
    } places[6] = {{&header_.left, 0, false}, {&header_.centre, 1, false}, {&header_.right, 2, false},
                   {&footer_.left, 0, true},  {&footer_.centre, 1, true},  {&footer_.right, 2, true}};
    for (const Place& pl : places) {
      std::string out;
      ReplacePagePlaceholders(*pl.text, sheet_number, &out, total);
      if (out.empty()) continue;
      const std::u16string text = Utf16(out);
      SIZE sz{};
      dc.GetTextExtentPoint32W(text, &sz);
      int x = area.left;
      if (pl.where == 1) x = area.left + (area.right - area.left) / 2 - sz.cx / 2;
      if (pl.where == 2) x = area.right - sz.cx;
      const int y = pl.footer ? area.bottom - sz.cy : area.top;
      dc.TextOutW(x, y, text);
    }
  }
  dc.SelectPen(old_pen);
  dc.SelectFont(old_font);
  draw_.made_font.reset();
  return 0;
}

}  // namespace zv::viewer
