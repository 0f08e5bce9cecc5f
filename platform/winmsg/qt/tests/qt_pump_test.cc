#include "platform/winmsg/qt/qt_pump.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/testing/temp_root.h"
#include "platform/winmsg/tests/peer.h"
#include "platform/winmsg/winmsg.h"

namespace zv::winmsg {
namespace {

using namespace std::chrono_literals;

QCoreApplication& App() {
  static int argc = 1;
  static char name[] = "winmsg_qt_test";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  return app;
}

// A window served by the Qt event loop receives messages sent from a worker thread and
// from another process, posted messages and timer ticks, all on the main thread, and its
// PostQuitMessage ends the Qt loop.
TEST(QtMessagePump, RunsWindowMessagesOnTheQtLoop) {
  zv::testing::TempRoot root;
  QCoreApplication& app = App();
  const auto main_id = std::this_thread::get_id();
  bool all_on_main = true;
  int ticks = 0, posted = 0;

  // Sent before the pump exists: run on the loop's first turn.
  auto early = Window::Create("ZvQtEarly", "", DefWindowProc);
  ASSERT_TRUE(early.ok());
  PostMessage(early->hwnd(), WM_CLOSE, 0, 0);

  QtMessagePump pump;
  auto frame = Window::Create("Welmoric", "monitor", [&](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    all_on_main = all_on_main && std::this_thread::get_id() == main_id;
    switch (m) {
      case WM_USER + 1:
        return static_cast<LRESULT>(w) + 1;
      case WM_USER + 5:
        return 40;  // the peer's call back while our worker waits for it
      case 0xBD3:
        ++posted;
        SetTimer(h, 1, 10);
        return 0;
      case WM_TIMER:
        if (++ticks == 3) {
          KillTimer(h, 1);
          DestroyWindow(h);
        }
        return 0;
      case WM_DESTROY:
        PostQuitMessage(4);
        return 0;
      default:
        return DefWindowProc(h, m, w, l);
    }
  });
  ASSERT_TRUE(frame.ok());
  const HWND h = frame->hwnd();

  testing::Peer peer("ZvPeer", "peer");
  ASSERT_NE(peer.hwnd(), 0u);

  std::vector<LRESULT> results;
  std::thread worker([&] {
    results.push_back(SendMessage(h, WM_USER + 1, 41, 0));
    results.push_back(SendMessage(peer.hwnd(), WM_USER + 3, h, 0));
    PostMessage(h, 0xBD3, 0, 0);
  });
  QTimer watchdog;
  QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
  watchdog.start(20000);
  int code = app.exec();
  worker.join();

  EXPECT_EQ(code, 4);
  EXPECT_TRUE(all_on_main);
  EXPECT_EQ(results, (std::vector<LRESULT>{42, 41}));
  EXPECT_EQ(posted, 1);
  EXPECT_EQ(ticks, 3);
  EXPECT_FALSE(IsWindow(h));
  EXPECT_FALSE(IsWindow(early->hwnd()));
}

// A parent that goes before the pump takes the pump's helpers with it; the pump then
// neither runs on them nor deletes them a second time.
TEST(QtMessagePump, OutlivesItsParent) {
  App();
  auto* parent = new QObject;
  auto pump = std::make_unique<QtMessagePump>(parent);
  delete parent;
  pump->Pump();
  pump.reset();
}

}  // namespace
}  // namespace zv::winmsg
