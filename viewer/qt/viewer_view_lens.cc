// CViewerView's magnifier lens: opening it over a page (the page drawn at twice the screen
// resolution into the lens's own cache), following the cursor, closing it, and painting it
// as a rounded panel over the page area.
#include "viewer/qt/viewer_view.h"

#include <QPainter>
#include <QPainterPath>
#include <QWidget>
#include <algorithm>
#include <cstdint>

#include "viewer/qt/viewer_view_parts.h"

namespace zv::viewer {

void CViewerView::OpenLensAt(QPoint pt) {
  if (!doc_ || page_count_ == 0) return;
  const win::RECT area = AreaRect();
  const int row = view::RowAt(win::POINT{pt.x(), pt.y()}, area, page_w_, page_h_, hpos_, vpos_, layout_);
  if (row < 0) return;
  const int lens_res = 2 * screen_res_;
  const int w = int(std::int64_t(page_w_) * lens_res / std::max(1, display_res_));
  const int h = int(std::int64_t(page_h_) * lens_res / std::max(1, display_res_));
  if (!lens_.cache.Find(row)) {
    auto surface = gdi::ScreenSurface::Create(std::max(1, w), std::max(1, h), screen_res_);
    if (!surface.ok()) return;
    view::DrawRow(*doc_, RowRequest(row, w, h, lens_res), **surface);
    lens_.cache.Insert(row, std::move(*surface), row, row);
  }
  lens_.open = true;
  lens_.row = row;
  if (host_) host_->setCursor(Qt::BlankCursor);
  UpdateLens(pt);
}

void CViewerView::UpdateLens(QPoint pt) {
  if (!lens_.open) return;
  const QRect old = ToQRect(view::LensRect(win::POINT{lens_.centre.x(), lens_.centre.y()}));
  const win::RECT slot = RowRect(lens_.row);
  const win::POINT off = view::LensPlacement(win::POINT{pt.x(), pt.y()}, slot, display_res_, screen_res_);
  lens_.centre = pt;
  lens_.offset = QPoint(off.x, off.y);
  const QRect now = ToQRect(view::LensRect(win::POINT{pt.x(), pt.y()}));
  if (host_) host_->update(old.united(now).adjusted(-2, -2, 2, 2).intersected(ToQRect(AreaRect())));
}

void CViewerView::CloseLens() {
  if (!lens_.open) return;
  lens_.open = false;
  if (host_) {
    host_->update(ToQRect(view::LensRect(win::POINT{lens_.centre.x(), lens_.centre.y()})).adjusted(-2, -2, 2, 2));
    SetMouseMode(mouse_mode_);
  }
}

void CViewerView::PaintLens(QPainter& p) {
  gdi::ScreenSurface* s = lens_.cache.Find(lens_.row);
  const QRect lens = ToQRect(view::LensRect(win::POINT{lens_.centre.x(), lens_.centre.y()}));
  QPainterPath path;
  path.addRoundedRect(QRectF(lens), view::kLensCorner / 2.0, view::kLensCorner / 2.0);
  p.save();
  p.setClipPath(path, Qt::IntersectClip);
  p.fillRect(lens, QColor(kBackground));
  if (s) p.drawImage(lens_.centre + lens_.offset, ImageOf(*s));
  p.restore();
  p.save();
  p.setPen(QPen(Qt::black, 3));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(QRectF(lens).adjusted(1, 1, -1, -1), view::kLensCorner / 2.0, view::kLensCorner / 2.0);
  p.restore();
}

}  // namespace zv::viewer
