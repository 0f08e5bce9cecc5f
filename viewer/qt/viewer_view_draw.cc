// CViewerView's drawing: the page image cache, asking the page worker for rows and taking
// its images in, rotated pages drawn at once, waiting for the rows on screen, and painting
// the page area (pages, the picked slot, the lens, the middle-button mark, the selection).
#include "viewer/qt/viewer_view.h"

#include <QCoreApplication>
#include <QListWidget>
#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <memory>

#include "viewer/qt/viewer_view_parts.h"

namespace zv::viewer {

void CViewerView::DiscardCaches() {
  cache_.Clear();
  lens_.cache.Clear();
}

void CViewerView::Repaint() {
  if (host_) host_->update();
}

void CViewerView::RequestRow(int row, int first_visible, int last_visible) {
  if (!doc_ || worker_->Pending(row) || !cache_.HasRoomFor(first_visible, last_visible)) return;
  worker_->Request(RowRequest(row, page_w_, page_h_, display_res_));
}

void CViewerView::OnRowReady(std::shared_ptr<view::RenderedRow> row) {
  if (!row || row->request.generation != worker_->generation()) return;
  // A row drawn for an earlier zoom still arrives after the change; its image is the wrong size.
  if (row->request.width != page_w_ || row->request.height != page_h_ || !row->surface) return;
  const win::RECT area = AreaRect();
  const view::RowSpan vis = view::VisibleRows(area, area, page_w_, page_h_, hpos_, vpos_, layout_);
  if (cache_.Insert(row->request.row, std::move(row->surface), vis.first, vis.last)) {
    most_cached_ = std::max(most_cached_, cache_.size());
    if (host_) host_->update(ToQRect(RowRect(row->request.row)));
  }
}

int CViewerView::RenderRotatedPages(const std::uint16_t* pages, int width, int height, int resolution) {
  if (!doc_ || !pages) return 0;
  int drawn = 0;
  const win::RECT area = AreaRect();
  const view::RowSpan vis = view::VisibleRows(area, area, page_w_, page_h_, hpos_, vpos_, layout_);
  for (const std::uint16_t* p = pages; *p != 0xFFFF; ++p) {
    auto surface = gdi::ScreenSurface::Create(width, height, screen_res_);
    if (!surface.ok()) continue;
    view::RenderRequest rq;
    rq.row = *p;
    rq.first_page = *p;
    rq.width = width;
    rq.height = height;
    rq.resolution = resolution;
    rq.screen_res = screen_res_;
    rq.turned = true;
    rq.background = kBackground & 0xFFFFFF;
    view::DrawRow(*doc_, rq, **surface);
    if (cache_.Insert(*p, std::move(*surface), vis.first, vis.last)) ++drawn;
  }
  return drawn;
}

void CViewerView::WaitForPages() {
  // Asks for the rows on screen (a window not yet exposed paints nothing), waits for the
  // worker and takes its images in, until every row on screen is cached or no room is left.
  for (int i = 0; i < 50 && host_ && page_count_ > 0 && page_w_ > 0; ++i) {
    QCoreApplication::sendPostedEvents();
    const win::RECT area = AreaRect();
    const view::RowSpan vis = view::VisibleRows(area, area, page_w_, page_h_, hpos_, vpos_, layout_);
    bool all = true;
    for (int r = vis.first; r <= vis.last; ++r) {
      if (!cache_.Find(r)) {
        all = false;
        RequestRow(r, vis.first, vis.last);
      }
    }
    if (all || !cache_.HasRoomFor(vis.first, vis.last)) break;
    worker_->WaitIdle();
    QCoreApplication::sendPostedEvents();
  }
  // The thumbnails of the pane's entries on screen.
  if (pane_ && pane_->isVisible() && pane_kind_ == 0) {
    for (int i = 0; i < 20; ++i) {
      bool all = true;
      for (int row = 0; row < pane_->count(); ++row) {
        const QRect r = pane_->visualItemRect(pane_->item(row));
        if (!r.intersects(pane_->viewport()->rect())) continue;
        if (!Thumbnail(row)) all = false;
      }
      if (all) break;
      thumb_worker_->WaitIdle();
      QCoreApplication::sendPostedEvents();
    }
  }
  if (host_) host_->repaint();
}

void CViewerView::Paint(QPainter& p, const QRect& update) {
  const win::RECT area = AreaRect();
  const QRect clip = update.intersected(ToQRect(area));
  p.setClipRect(clip);
  p.fillRect(clip, QColor(kBackground));
  if (page_count_ == 0 || page_w_ <= 0 || page_h_ <= 0) return;
  const view::RowSpan vis = view::VisibleRows(ToRect(clip), area, page_w_, page_h_, hpos_, vpos_, layout_);
  const view::RowSpan all = view::VisibleRows(area, area, page_w_, page_h_, hpos_, vpos_, layout_);
  for (int r = vis.first; r <= vis.last; ++r) {
    const QRect slot = ToQRect(RowRect(r));
    if (gdi::ScreenSurface* s = cache_.Find(r)) {
      p.drawImage(slot.topLeft(), ImageOf(*s));
    } else {
      p.fillRect(slot.adjusted(2, 2, -2, -2), QColor(kPlaceholder));
      RequestRow(r, all.first, all.last);
    }
  }
  // The picked page slot, inverted.
  if (selected_sheet_ >= vis.first && selected_sheet_ <= vis.last) {
    p.save();
    p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    p.fillRect(ToQRect(PickRect()), Qt::white);
    p.restore();
  }
  if (lens_.open) PaintLens(p);
  if (middle_shown_) {
    p.save();
    p.setPen(QPen(Qt::black, 2));
    p.setBrush(Qt::white);
    p.drawEllipse(middle_origin_, 13, 13);
    p.restore();
  }
  const win::RECT sel = view::Normalised(selection_);
  if (!view::IsEmpty(sel)) {
    p.save();
    QPen pen(Qt::black, 1, Qt::DotLine);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRect(ToQRect(sel).adjusted(0, 0, -1, -1));
    if (mouse_mode_ == kImageSelect && sel.right - sel.left > 6 && sel.bottom - sel.top > 6) {
      p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
      for (QPoint c : {QPoint(sel.left, sel.top), QPoint(sel.right - 6, sel.top), QPoint(sel.left, sel.bottom - 6),
                       QPoint(sel.right - 6, sel.bottom - 6)}) {
        p.fillRect(QRect(c, QSize(6, 6)), Qt::white);
      }
    }
    p.restore();
  }
}

}  // namespace zv::viewer
