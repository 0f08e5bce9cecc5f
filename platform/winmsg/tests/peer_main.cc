// The other process of the window-message tests: creates one window and runs a plain
// message loop. Usage: winmsg_test_peer CLASS TEXT. Prints "ready HWND" on stdout once the
// window is listed. Messages:
//   WM_USER+1  gives wParam * 2 + lParam
//   WM_USER+2  sleeps wParam milliseconds, then gives 1
//   WM_USER+3  sends WM_USER+5 to the window wParam and gives its result + 1
//   WM_USER+4  sets the text to "changed" and removes the property "Zelvora"; gives 1
//   WM_USER+6  gives the number of posted WM_USER+7 seen so far
//   WM_USER+8  starts timer 1 at wParam ms; WM_USER+9 gives the number of ticks seen
//   WM_COPYDATA gives dwData + the sum of the bytes, and keeps the bytes in
//               $ZELVORA_ROOT/copydata.bin
//   WM_CLOSE   destroys the window; the program then ends with exit code 7
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "platform/base/root.h"
#include "platform/winmsg/winmsg.h"

using namespace zv::winmsg;

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  int posted = 0, ticks = 0;
  auto proc = [&](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    switch (m) {
      case WM_USER + 1:
        return static_cast<LRESULT>(w) * 2 + l;
      case WM_USER + 2:
        std::this_thread::sleep_for(std::chrono::milliseconds(w));
        return 1;
      case WM_USER + 3:
        return SendMessage(static_cast<HWND>(w), WM_USER + 5, 0, 0) + 1;
      case WM_USER + 4:
        SetWindowText(h, "changed");
        RemoveProp(h, "Zelvora");
        return 1;
      case WM_USER + 6:
        return posted;
      case WM_USER + 7:
        ++posted;
        return 0;
      case WM_USER + 8:
        SetTimer(h, 1, static_cast<std::uint32_t>(w));
        return 1;
      case WM_USER + 9:
        return ticks;
      case WM_TIMER:
        ++ticks;
        return 0;
      case WM_COPYDATA: {
        const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(l);
        const auto* p = static_cast<const unsigned char*>(cds->lpData);
        LRESULT sum = static_cast<LRESULT>(cds->dwData);
        for (std::uint32_t i = 0; i < cds->cbData; ++i) sum += p[i];
        std::ofstream(zv::RuntimeRoot() + "/copydata.bin", std::ios::binary)
            .write(static_cast<const char*>(cds->lpData), cds->cbData);
        return sum;
      }
      case WM_DESTROY:
        PostQuitMessage(7);
        return 0;
      default:
        return DefWindowProc(h, m, w, l);
    }
  };
  auto hwnd = CreateWindow(argv[1], argv[2], proc);
  if (!hwnd.ok()) {
    std::fprintf(stderr, "%s\n", hwnd.status().ToString().c_str());
    return 3;
  }
  SetProp(*hwnd, "Zelvora", 77);
  std::printf("ready %u\n", *hwnd);
  std::fflush(stdout);
  return RunMessageLoop();
}
