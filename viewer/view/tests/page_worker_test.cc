// The page worker draws rows off the calling thread and drops work of earlier generations.
#include "viewer/view/page_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "jobdoc/sample/sample_document.h"
#include "platform/testing/temp_root.h"
#include "viewer/playback/playback.h"
#include "viewer/tests/fixtures.h"
#include "viewer/viewer_doc.h"

namespace zv::viewer::view {
namespace {

std::uint32_t PixelAt(const gdi::ScreenSurface& s, int x, int y) {
  const std::uint8_t* p = const_cast<gdi::ScreenSurface&>(s).data() + y * s.stride() + x * 4;
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16;
}

TEST(PageWorkerTest, DrawsRowsAndCancels) {
  zv::testing::TempRoot root;
  CViewerDoc doc;
  const auto image = testing::ImageOf(jobdoc::sample::MakeDocument(12, 10, false));
  ASSERT_EQ(doc.LoadFromBuffer(image, 12), 1);

  std::mutex mu;
  std::vector<RenderedRow> got;
  PageWorker worker([&](RenderedRow r) {
    std::lock_guard<std::mutex> lock(mu);
    got.push_back(std::move(r));
  });
  worker.SetDocument(&doc);
  RenderRequest rq;
  rq.width = 105;
  rq.height = 148;
  rq.resolution = 12;
  for (int row = 0; row < 4; ++row) {
    rq.row = row;
    rq.first_page = row;
    rq.turned = row == 3;  // the sample's fourth page is flagged rotated
    worker.Request(rq);
  }
  worker.Request(rq);  // a row already queued is not drawn twice
  worker.WaitIdle();
  ASSERT_EQ(got.size(), 4u);
  for (const RenderedRow& r : got) {
    ASSERT_NE(r.surface, nullptr);
    EXPECT_EQ(r.surface->width(), 105);
    // The slot round the sheet keeps the background; the page's middle is paper white.
    EXPECT_EQ(PixelAt(*r.surface, 52, 74), 0xFFFFFFu) << r.request.row;
  }

  // Cancelled work is never delivered, and a new generation starts. Another thread holds the
  // drawing lock until the cancel has begun, so however the threads are scheduled the worker
  // can have started at most one row.
  got.clear();
  const std::uint64_t before = worker.generation();
  std::atomic<bool> held{false};
  std::thread holder([&] {
    std::lock_guard<std::recursive_mutex> lock(playback::DrawingLock());
    held = true;
    while (worker.generation() == before) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  while (!held) std::this_thread::yield();
  for (int row = 0; row < 12; ++row) {
    rq.row = row;
    rq.first_page = row;
    rq.turned = false;
    worker.Request(rq);
  }
  worker.CancelAndWait();
  holder.join();
  EXPECT_GT(worker.generation(), before);
  worker.WaitIdle();
  EXPECT_LE(got.size(), 1u) << "at most the row that was running when cancelled";
  EXPECT_FALSE(worker.Pending(11));
}

// Page edits on the window thread while the worker draws: the document changes its pages
// only under the drawing lock the worker draws under (the sanitizer run catches a race).
TEST(PageWorkerTest, EditsWhileDrawingWaitForTheRowBeingDrawn) {
  zv::testing::TempRoot root;
  CViewerDoc doc;
  const auto image = testing::ImageOf(jobdoc::sample::MakeDocument(12, 40, false));
  ASSERT_EQ(doc.LoadFromBuffer(image, 12), 1);
  std::atomic<int> delivered{0};
  PageWorker worker([&](RenderedRow r) {
    if (r.surface) ++delivered;
  });
  worker.SetDocument(&doc);
  RenderRequest rq;
  rq.width = 210;
  rq.height = 297;
  rq.resolution = 24;
  const testing::Bytes page = testing::BlankA4Page(30000);  // kept in a temporary file
  for (int round = 0; round < 6; ++round) {
    for (int row = 0; row < 12; ++row) {
      rq.row = round * 100 + row;
      rq.first_page = row;
      worker.Request(rq);
    }
    EXPECT_EQ(doc.DeletePages(0, 3), 1);
    EXPECT_EQ(doc.MovePages(0, 1, 6), 1);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(doc.AppendData(0x8000, 9, 2100, 2970, page, 0, 1), 1);
    }
    EXPECT_EQ(doc.CopyPage(2), 1);
    EXPECT_EQ(doc.PastePage(0), 1);
    EXPECT_EQ(doc.DeletePage(0, 1), 1);
  }
  worker.WaitIdle();
  EXPECT_EQ(doc.page_count(), 12);
  EXPECT_GT(delivered.load(), 0);
}

}  // namespace
}  // namespace zv::viewer::view
