// The page view's renderer: one worker thread that draws rows of a document (one page, or
// one sheet of several pages) into ScreenSurface images under the library's drawing lock,
// so the window thread never waits for a page. Requests are served oldest first; the
// finished image is handed to a delivery function on the worker thread (the window posts it
// on to its own thread). Before a document's pages change, the owner calls CancelAndWait:
// queued requests are dropped and the running one is waited for, and images of earlier
// generations are to be ignored by the receiver.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/gdi/surfaces.h"
#include "viewer/sheet_layout.h"

namespace zv::viewer {
class CViewerDoc;
}

namespace zv::viewer::view {

// One row to draw.
struct RenderRequest {
  int row = 0;                // the row's index (the receiver's cache key)
  int first_page = 0;         // the first page of the row
  int width = 0, height = 0;  // the row slot in pixels
  int resolution = 96;        // display resolution
  int screen_res = 96;        // the surface's own resolution (LOGPIXELSX/Y)
  bool turned = false;        // one page flagged rotated: drawn upright and turned clockwise
  SheetLayout layout;
  std::uint32_t background = 0x808080;  // the slot outside the sheet
  std::uint64_t generation = 0;         // set by the worker
};

// A finished row; `surface` is null when the image could not be made.
struct RenderedRow {
  RenderRequest request;
  std::unique_ptr<gdi::ScreenSurface> surface;
};

// Takes a document, a slot request and a surface of the slot's size; draws the row into it
// (the caller holds nothing; the drawing lock is taken here). Used by the worker and by
// windows that need one row at once (the lens, the page flip).
void DrawRow(CViewerDoc& doc, const RenderRequest& request, gdi::ScreenSurface& surface);

class PageWorker {
 public:
  using Deliver = std::function<void(RenderedRow)>;
  // Takes the delivery function (called on the worker thread). Starts the thread.
  explicit PageWorker(Deliver deliver);
  // Cancels, waits and ends the thread.
  ~PageWorker();
  PageWorker(const PageWorker&) = delete;
  PageWorker& operator=(const PageWorker&) = delete;

  // Takes the document the requests draw (may be null); cancels and waits first.
  void SetDocument(CViewerDoc* doc);
  // Takes a request; queues it unless that row is queued or being drawn in this
  // generation. Gives the generation it belongs to.
  std::uint64_t Request(RenderRequest request);
  // Drops queued requests, waits for the running one, and starts a new generation.
  void CancelAndWait();
  // Waits until nothing is queued or running (tests and modal windows).
  void WaitIdle();
  std::uint64_t generation() const;
  // Whether the row is queued or running in the current generation.
  bool Pending(int row) const;

 private:
  void Run();

  Deliver deliver_;
  mutable std::mutex mu_;
  std::condition_variable cv_;       // work arrived or stop
  std::condition_variable idle_cv_;  // the running request ended
  std::deque<RenderRequest> queue_;
  CViewerDoc* doc_ = nullptr;
  std::uint64_t generation_ = 1;
  bool running_ = false;
  int running_row_ = -1;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace zv::viewer::view
