// The notices as window messages: a document with its hidden notification window and a
// view window on the same thread, the posted progress delivered when the thread pumps.
#include "viewer/notify_winmsg.h"

#include <gtest/gtest.h>

#include "platform/testing/temp_root.h"
#include "viewer/tests/fixtures.h"
#include "viewer/viewer_doc.h"

namespace zv::viewer {
namespace {

TEST(NotifyWinmsgTest, ProgressArrivesAsPostedAndSentMessages) {
  zv::testing::TempRoot root;
  CViewerDoc doc;
  auto nw = NotificationWindow::Create(&doc);
  ASSERT_TRUE(nw.ok()) << nw.status().ToString();
  EXPECT_EQ(winmsg::GetClassName((*nw)->hwnd()), "STATIC");
  EXPECT_EQ(winmsg::GetProp((*nw)->hwnd(), "instance->pdata"), std::int64_t(reinterpret_cast<std::uintptr_t>(&doc)));
  std::vector<std::pair<winmsg::UINT, winmsg::WPARAM>> got;
  auto view_window =
      winmsg::Window::Create("ViewerTestView", "", [&](winmsg::HWND, winmsg::UINT m, winmsg::WPARAM w, winmsg::LPARAM) {
        got.emplace_back(m, w);
        return winmsg::LRESULT{0};
      });
  ASSERT_TRUE(view_window.ok());
  WindowView view(view_window->hwnd());
  doc.AttachView(&view);
  got.clear();
  const testing::Bytes image = testing::ImageOf(testing::MakeDocument(3));
  ASSERT_EQ(doc.LoadFromBuffer(image, 3), 1);
  // The reset is sent at once; the progress waits in the notification window's queue.
  EXPECT_EQ(got, (decltype(got){{kNoticeReset, 0}}));
  EXPECT_FALSE(doc.loading_finished());
  winmsg::PumpMessages();
  EXPECT_EQ(
      got,
      (decltype(got){
          {kNoticeReset, 0}, {kNoticeProgress, 1}, {kNoticeProgress, 2}, {kNoticeProgress, 0}, {kNoticeReady, 0}}));
  EXPECT_TRUE(doc.loading_finished());
  doc.DetachView(&view);
  nw->reset();
  // Without the window the document delivers at once again.
  {
    ASSERT_EQ(doc.AppendData(0x8000, 9, 2100, 2970, testing::BlankA4Page(), 0, 1), 1);
    EXPECT_EQ(doc.pages_reported(), 4);
  }
}

}  // namespace
}  // namespace zv::viewer
