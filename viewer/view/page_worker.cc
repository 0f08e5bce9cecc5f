#include "viewer/view/page_worker.h"

#include "platform/gdi/dib.h"
#include "viewer/render.h"
#include "viewer/viewer_doc.h"

namespace zv::viewer::view {

void DrawRow(CViewerDoc& doc, const RenderRequest& rq, gdi::ScreenSurface& surface) {
  gdi::DeviceContext& dc = surface.dc();
  const RECT slot{0, 0, rq.width, rq.height};
  std::lock_guard<std::recursive_mutex> lock(DrawingLock());
  dc.FillRgn(gdi::Region(slot), gdi::Brush::Solid(rq.background));
  ViewerPage* page = doc.page(rq.first_page);
  if (!page) return;
  if (rq.turned) {
    // One page flagged rotated: drawn upright into a bitmap of the slot turned on its
    // side, then turned clockwise into the slot (the upright row y becomes column
    // height - 1 - y).
    const int uw = rq.height, uh = rq.width;
    auto upright = gdi::MemoryBitmap::Create(uw, uh, 24, rq.screen_res);
    if (!upright.ok()) return;
    gdi::DeviceContext& udc = (*upright)->dc();
    udc.FillRgn(gdi::Region(RECT{0, 0, uw, uh}), gdi::Brush::Solid(rq.background));
    const RECT up_rect{0, 0, uw, uh};
    doc.RenderPage(udc, rq.resolution, 0, std::int16_t(rq.first_page), &up_rect);
    std::vector<std::uint32_t> pixels(std::size_t(uw) * std::size_t(uh));
    for (int y = 0; y < uh; ++y) {
      for (int x = 0; x < uw; ++x) pixels[std::size_t(y) * std::size_t(uw) + std::size_t(x)] = (*upright)->Pixel(x, y);
    }
    const std::vector<std::uint32_t> turned = TurnPixels(pixels, uw, uh, kTurnClockwise);
    const gdi::Dib dib = gdi::EncodeDib(rq.width, rq.height, turned);
    dc.StretchDIBits(0, 0, rq.width, rq.height, 0, 0, rq.width, rq.height, dib.ref(), win::SRCCOPY);
  } else {
    doc.DrawSheetPages(dc, rq.resolution, 0, std::uint16_t(rq.first_page), &slot, &rq.layout);
  }
  surface.Flush();
}

PageWorker::PageWorker(Deliver deliver) : deliver_(std::move(deliver)) {
  thread_ = std::thread([this] { Run(); });
}

PageWorker::~PageWorker() {
  {
    std::unique_lock<std::mutex> lock(mu_);
    stop_ = true;
    queue_.clear();
  }
  cv_.notify_all();
  thread_.join();
}

void PageWorker::SetDocument(CViewerDoc* doc) {
  CancelAndWait();
  std::lock_guard<std::mutex> lock(mu_);
  doc_ = doc;
}

std::uint64_t PageWorker::Request(RenderRequest request) {
  std::unique_lock<std::mutex> lock(mu_);
  request.generation = generation_;
  if ((running_ && running_row_ == request.row) ||
      std::any_of(queue_.begin(), queue_.end(), [&](const RenderRequest& q) { return q.row == request.row; })) {
    return generation_;
  }
  queue_.push_back(request);
  cv_.notify_all();
  return generation_;
}

void PageWorker::CancelAndWait() {
  std::unique_lock<std::mutex> lock(mu_);
  queue_.clear();
  // Rows already drawing for the old generation are dropped on delivery; waiting for the running
  // one means the caller may change the document as soon as this returns.
  ++generation_;
  idle_cv_.wait(lock, [&] { return !running_; });
}

void PageWorker::WaitIdle() {
  std::unique_lock<std::mutex> lock(mu_);
  idle_cv_.wait(lock, [&] { return !running_ && queue_.empty(); });
}

std::uint64_t PageWorker::generation() const {
  std::lock_guard<std::mutex> lock(mu_);
  return generation_;
}

bool PageWorker::Pending(int row) const {
  std::lock_guard<std::mutex> lock(mu_);
  if (running_ && running_row_ == row) return true;
  return std::any_of(queue_.begin(), queue_.end(), [&](const RenderRequest& q) { return q.row == row; });
}

void PageWorker::Run() {
  for (;;) {
    RenderRequest rq;
    CViewerDoc* doc = nullptr;
    {
      std::unique_lock<std::mutex> lock(mu_);
      cv_.wait(lock, [&] { return stop_ || !queue_.empty(); });
      if (stop_) return;
      rq = queue_.front();
      queue_.pop_front();
      doc = doc_;
      running_ = true;
      running_row_ = rq.row;
    }
    RenderedRow out;
    out.request = rq;
    if (doc && rq.width > 0 && rq.height > 0) {
      auto surface = gdi::ScreenSurface::Create(rq.width, rq.height, rq.screen_res);
      if (surface.ok()) {
        try {
          DrawRow(*doc, rq, **surface);
          out.surface = std::move(*surface);
          // An exception on this thread would end the program: a row that fails to draw is delivered
          // empty instead.
        } catch (...) {
          out.surface.reset();
        }
      }
    }
    bool current;
    {
      std::lock_guard<std::mutex> lock(mu_);
      current = rq.generation == generation_;
    }
    // Delivered outside the lock: the callback may call back into the worker (generation,
    // Request), which takes the same lock.
    if (current && deliver_) deliver_(std::move(out));
    {
      std::lock_guard<std::mutex> lock(mu_);
      running_ = false;
      running_row_ = -1;
    }
    idle_cv_.notify_all();
  }
}

}  // namespace zv::viewer::view
