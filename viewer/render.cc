#include "viewer/render.h"

#include <algorithm>
#include <cmath>

#include "platform/gdi/player.h"
#include "platform/gdi/surfaces.h"

namespace zv::viewer {

void FillWhite(gdi::DeviceContext& dc, const RECT& rect) {
  POINT pts[2] = {{rect.left, rect.top}, {rect.right, rect.bottom}};
  dc.LPtoDP(pts);
  RECT d{std::min(pts[0].x, pts[1].x), std::min(pts[0].y, pts[1].y), std::max(pts[0].x, pts[1].x),
         std::max(pts[0].y, pts[1].y)};
  if (d.right <= d.left || d.bottom <= d.top) return;
  dc.FillRgn(gdi::Region(d), gdi::Brush::Solid(0xFFFFFF));
}

std::vector<std::uint32_t> TurnPixels(const std::vector<std::uint32_t>& up, int w, int h, int rotation) {
  std::vector<std::uint32_t> out(std::size_t(w) * std::size_t(h), 0xFFFFFF);
  if (up.size() < out.size()) return out;
  // The turned image is h wide and w high.
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int tx, ty;
      if (rotation == kTurnCounterClockwise) {
        tx = y;  // the top edge becomes the left edge
        ty = w - 1 - x;
      } else {
        tx = h - 1 - y;  // the top edge becomes the right edge
        ty = x;
      }
      out[std::size_t(ty) * std::size_t(h) + std::size_t(tx)] = up[std::size_t(y) * std::size_t(w) + std::size_t(x)];
    }
  }
  return out;
}

int PlayPage(CViewerDocBase& doc, gdi::DeviceContext& dc, const RECT& rect, int page_index) {
  ViewerPage* page = doc.page(page_index);
  if (!page) return 0;
  std::span<const std::uint8_t> data = page->GetPageData();
  if (data.empty()) return 0;
  const int played = playback::PlayRepaired(data, dc, rect, doc.draw_state());
  page->ReleasePageData();
  return played;
}

int CViewerDocBase::RenderPage(gdi::DeviceContext& dc, int resolution, int flag, std::int16_t page_index,
                               const RECT* rect) {
  if (view_password_flag_ || !rect) return 0;
  ViewerPage* page = this->page(page_index);
  if (!page) return 0;
  std::span<const std::uint8_t> data = page->GetPageData();
  Result<gdi::Player> player = gdi::Player::Open(data);
  if (data.empty() || !player.ok()) {
    if (!data.empty()) page->ReleasePageData();
    return 0;
  }
  std::lock_guard<std::recursive_mutex> lock(DrawingLock());
  const emf::Header& h = player->header();
  const POINT box = FitPageBox(page->extent_x(), page->extent_y(), h.device.cx, h.device.cy);
  const RECT draw = FitCentred(*rect, box.x, box.y);
  if (Width(draw) > 0 && Height(draw) > 0) {
    FillWhite(dc, draw);
    draw_ = playback::StartState(resolution, Width(draw), flag ? POINT{0, 0} : POINT{draw.left, draw.top});
    const std::uint16_t rotation = page->GetRotation();
    if (rotation != kTurnClockwise && rotation != kTurnCounterClockwise) {
      dc.SaveDC();
      dc.IntersectClipRect(draw.left, draw.top, draw.right, draw.bottom);
      // A page that plays only in part still shows what it drew; a damaged record is no reason to
      // blank the whole page.
      (void)playback::HookPlayer(*player, dc, &draw, draw_);
      dc.RestoreDC(-1);
    } else {
      // Turned: play upright into a bitmap of the turned size, then copy it turned.
      POINT corners[2] = {{draw.left, draw.top}, {draw.right, draw.bottom}};
      dc.LPtoDP(corners);
      const int dw = std::abs(corners[1].x - corners[0].x), dh = std::abs(corners[1].y - corners[0].y);
      auto bitmap = gdi::MemoryBitmap::Create(dh, dw, 24, resolution > 0 ? resolution : 96);
      if (bitmap.ok()) {
        const RECT upright{0, 0, dh, dw};
        // As above: what played is shown.
        (void)playback::HookPlayer(*player, (*bitmap)->dc(), &upright, draw_);
        std::vector<std::uint32_t> pixels(std::size_t(dh) * std::size_t(dw));
        for (int y = 0; y < dw; ++y) {
          for (int x = 0; x < dh; ++x)
            pixels[std::size_t(y) * std::size_t(dh) + std::size_t(x)] = (*bitmap)->Pixel(x, y);
        }
        const std::vector<std::uint32_t> turned = TurnPixels(pixels, dh, dw, rotation);
        const gdi::Dib dib = gdi::EncodeDib(dw, dh, turned);
        dc.SaveDC();
        dc.IntersectClipRect(draw.left, draw.top, draw.right, draw.bottom);
        dc.StretchDIBits(draw.left, draw.top, Width(draw), Height(draw), 0, 0, dw, dh, dib.ref(), win::SRCCOPY);
        dc.RestoreDC(-1);
        rotation_rect_ = draw;
        rotation_taller_ = Height(draw) > Width(draw);
      } else {
        ReportFailure(kRotationFailedMessage);
      }
    }
    draw_.made_font.reset();
  }
  page->ReleasePageData();
  return 0;
}

}  // namespace zv::viewer
