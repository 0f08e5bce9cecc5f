#include "platform/winmsg/winmsg.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/root.h"
#include "platform/shm/owner.h"
#include "platform/testing/temp_root.h"
#include "platform/winmsg/tests/peer.h"

namespace zv::winmsg {
namespace {

using namespace std::chrono_literals;
using testing::Peer;

std::vector<std::string> TableFiles(const std::string& suffix) {
  std::vector<std::string> out;
  std::string dir = RuntimeRoot() + "/run/winmsg";
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      std::string n = e->d_name;
      if (n.size() > suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0) {
        out.push_back(dir + "/" + n);
      }
    }
    ::closedir(d);
  }
  return out;
}

LRESULT CopyData(HWND to, std::uint32_t number, const std::string& bytes, Status* status = nullptr) {
  COPYDATASTRUCT cds{number, static_cast<std::uint32_t>(bytes.size()), bytes.data()};
  auto r = SendMessageTimeout(to, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), 10s);
  if (status) *status = r.status();
  return r.ok() ? *r : -1;
}

class WinmsgTest : public ::testing::Test {
 protected:
  zv::testing::TempRoot root_;
};

TEST_F(WinmsgTest, AnotherProcessAnswersFindsAndCloses) {
  Peer peer("ZvPeer", "ZvPermanent");
  ASSERT_NE(peer.hwnd(), 0u);
  EXPECT_LT(peer.hwnd(), 0x80000000u);

  EXPECT_EQ(FindWindow(nullptr, "ZvPermanent"), peer.hwnd());
  EXPECT_EQ(FindWindow("zvpeer", nullptr), peer.hwnd());  // ASCII case does not matter
  EXPECT_EQ(FindWindow("ZvPeer", "ZVPERMANENT"), peer.hwnd());
  EXPECT_EQ(FindWindow("ZvPeer", "other"), 0u);
  EXPECT_EQ(GetClassName(peer.hwnd()), "ZvPeer");
  EXPECT_EQ(GetWindowProcessId(peer.hwnd()), static_cast<std::uint32_t>(peer.pid()));
  EXPECT_EQ(GetProp(peer.hwnd(), "zelvora"), 77);
  EXPECT_TRUE(IsWindowEnabled(peer.hwnd()));

  EXPECT_EQ(SendMessage(peer.hwnd(), WM_USER + 1, 20, 2), 42);
  EXPECT_EQ(SendMessage(peer.hwnd(), WM_USER + 1, 0, -9), -9);

  // WM_COPYDATA: number and bytes arrive whole, NULs and all, up to the limit.
  std::string text = "/tmp/WXQ1a.tmp /n \"title\" ";
  text.push_back('\0');
  LRESULT sum = 0x4000;
  for (unsigned char c : text) sum += c;
  EXPECT_EQ(CopyData(peer.hwnd(), 0x4000, text), sum);
  std::ifstream in(RuntimeRoot() + "/copydata.bin", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);
  std::string big(kMaxCopyDataBytes, '\x01');
  EXPECT_EQ(CopyData(peer.hwnd(), 0, big), static_cast<LRESULT>(kMaxCopyDataBytes));
  EXPECT_EQ(CopyData(peer.hwnd(), 5, ""), 5);
  Status refused;
  EXPECT_EQ(CopyData(peer.hwnd(), 0, big + "x", &refused), -1);
  EXPECT_EQ(refused.code(), Status::Code::kInvalidArgument);
  COPYDATASTRUCT wide{std::uintptr_t{1} << 40, 0, nullptr};
  EXPECT_FALSE(SendMessageTimeout(peer.hwnd(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&wide), 1s).ok());
  EXPECT_FALSE(PostMessage(peer.hwnd(), WM_COPYDATA, 0, 0));

  // Posted messages queue up and are handled in order.
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(PostMessage(peer.hwnd(), WM_USER + 7, 0, 0));
  auto until = std::chrono::steady_clock::now() + 10s;
  while (SendMessage(peer.hwnd(), WM_USER + 6, 0, 0) < 5 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(SendMessage(peer.hwnd(), WM_USER + 6, 0, 0), 5);

  // Text and property changes made over there are seen here.
  EXPECT_EQ(SendMessage(peer.hwnd(), WM_USER + 4, 0, 0), 1);
  EXPECT_EQ(GetWindowText(peer.hwnd()), "changed");
  EXPECT_EQ(GetProp(peer.hwnd(), "Zelvora"), 0);
  EXPECT_EQ(FindWindow(nullptr, "changed"), peer.hwnd());

  // While this thread waits for the peer, the peer's call back to our window is served.
  std::thread::id ran_on;
  auto mine = Window::Create("ZvTest", "caller", [&](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    if (m != WM_USER + 5) return DefWindowProc(h, m, w, l);
    ran_on = std::this_thread::get_id();
    return 40;
  });
  ASSERT_TRUE(mine.ok());
  EXPECT_EQ(SendMessage(peer.hwnd(), WM_USER + 3, mine->hwnd(), 0), 41);
  EXPECT_EQ(ran_on, std::this_thread::get_id());

  // WM_CLOSE takes the default handling: the window goes and the peer's loop ends.
  EXPECT_EQ(SendMessage(peer.hwnd(), WM_CLOSE, 0, 0), 0);
  EXPECT_EQ(peer.Wait(), 7);
  EXPECT_FALSE(IsWindow(peer.hwnd()));
  EXPECT_EQ(FindWindow(nullptr, "changed"), 0u);
  EXPECT_EQ(SendMessage(peer.hwnd(), WM_USER + 1, 1, 1), 0);
  EXPECT_EQ(LastError().code(), Status::Code::kNotFound);
}

TEST_F(WinmsgTest, KilledPeerIsGoneAtOnceAndItsEntriesAreCleaned) {
  Peer peer("ZvPeer", "victim");
  ASSERT_NE(peer.hwnd(), 0u);
  ASSERT_EQ(TableFiles(".sock").size(), 1u);

  // A sender waiting on a handler learns of the death at once, not at its time limit.
  std::thread killer([&] {
    std::this_thread::sleep_for(200ms);
    ::kill(peer.pid(), SIGKILL);
  });
  auto start = std::chrono::steady_clock::now();
  auto r = SendMessageTimeout(peer.hwnd(), WM_USER + 2, 20000, 0, 20s);
  killer.join();
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.status().code(), Status::Code::kIOError) << r.status().ToString();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);

  // Not reaped yet (a zombie): already no window.
  for (int i = 0; i < 1000 && shm::ProcessStartTime(peer.pid()) != 0; ++i) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(FindWindow("ZvPeer", nullptr), 0u);
  EXPECT_FALSE(IsWindow(peer.hwnd()));
  EXPECT_EQ(SendMessageTimeout(peer.hwnd(), WM_USER + 1, 1, 1, 1s).status().code(), Status::Code::kNotFound);
  EXPECT_FALSE(PostMessage(peer.hwnd(), WM_USER + 7, 0, 0));
  EXPECT_EQ(GetWindowText(peer.hwnd()), "");
  EXPECT_TRUE(TableFiles(".win").empty());
  EXPECT_TRUE(TableFiles(".sock").empty());
  EXPECT_EQ(peer.Wait(), -1);
}

TEST_F(WinmsgTest, StoppedPeerRunsIntoTheTimeLimit) {
  Peer peer("ZvPeer", "sleepy");
  ASSERT_NE(peer.hwnd(), 0u);
  ::kill(peer.pid(), SIGSTOP);
  auto r = SendMessageTimeout(peer.hwnd(), WM_USER + 1, 1, 1, 200ms);
  EXPECT_EQ(r.status().code(), Status::Code::kTimeout);
  ::kill(peer.pid(), SIGCONT);
  EXPECT_EQ(SendMessage(peer.hwnd(), WM_USER + 1, 1, 1), 3);
}

TEST_F(WinmsgTest, PeerTimerTicksOnItsLoop) {
  Peer peer("ZvPeer", "timer");
  ASSERT_NE(peer.hwnd(), 0u);
  EXPECT_EQ(SendMessage(peer.hwnd(), WM_USER + 8, 10, 0), 1);
  auto until = std::chrono::steady_clock::now() + 10s;
  while (SendMessage(peer.hwnd(), WM_USER + 9, 0, 0) < 3 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_GE(SendMessage(peer.hwnd(), WM_USER + 9, 0, 0), 3);
}

// Raw bytes written to the peer's socket: malformed and oversized frames are dropped or
// refused, and the peer keeps answering.
TEST_F(WinmsgTest, MalformedAndOversizedFramesLeaveThePeerWorking) {
  Peer peer("ZvPeer", "robust");
  ASSERT_NE(peer.hwnd(), 0u);
  auto socks = TableFiles(".sock");
  ASSERT_EQ(socks.size(), 1u);
  auto put32 = [](std::string& s, std::uint32_t v) { s.append(reinterpret_cast<char*>(&v), 4); };
  auto header = [&](std::uint32_t magic, std::uint16_t type, std::uint32_t body) {
    std::string s;
    put32(s, magic);
    std::uint16_t v = 1;
    s.append(reinterpret_cast<char*>(&v), 2);
    s.append(reinterpret_cast<char*>(&type), 2);
    put32(s, body);
    return s;
  };
  const std::uint32_t magic = 0x4D57565A;
  std::string copy_claiming_more = header(magic, 1, 40 + 10);
  put32(copy_claiming_more, peer.hwnd());
  put32(copy_claiming_more, WM_COPYDATA);
  copy_claiming_more += std::string(16, '\0');
  put32(copy_claiming_more, 1);
  put32(copy_claiming_more, 0);
  put32(copy_claiming_more, 1000);  // cbData beyond the bytes sent
  put32(copy_claiming_more, 40);
  copy_claiming_more += std::string(10, 'x');
  const std::string cases[] = {
      "garbage that is not a frame at all",
      header(0x11111111, 1, 28),
      header(magic, 9, 28),
      header(magic, 1, 0x7fffffff),  // oversized
      header(magic, 1, 40 + static_cast<std::uint32_t>(kMaxCopyDataBytes) + 1),
      header(magic, 1, 28) + "short",                // truncated, then hang-up
      header(magic, 3, 12) + std::string(12, '\0'),  // a reply sent as a request
      copy_claiming_more,
  };
  for (const auto& bytes : cases) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socks[0].c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    ::shutdown(fd, SHUT_WR);
    char buf[64];
    struct pollfd p {
      fd, POLLIN, 0
    };
    ASSERT_EQ(::poll(&p, 1, 10000), 1);  // answered or hung up, never left hanging
    (void)::read(fd, buf, sizeof buf);
    ::close(fd);
    EXPECT_EQ(SendMessage(peer.hwnd(), WM_USER + 1, 4, 0), 8);
  }
}

// Another user reaching the socket (made reachable on purpose) is refused.
TEST_F(WinmsgTest, PeerOfAnotherUserIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  Peer peer("ZvPeer", "guarded");
  ASSERT_NE(peer.hwnd(), 0u);
  auto socks = TableFiles(".sock");
  ASSERT_EQ(socks.size(), 1u);
  for (auto d : {RuntimeRoot(), RuntimeRoot() + "/run", RuntimeRoot() + "/run/winmsg"}) ::chmod(d.c_str(), 0711);
  ::chmod(socks[0].c_str(), 0777);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) _exit(2);
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socks[0].c_str(), sizeof addr.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) _exit(3);
    std::string f;
    auto put = [&](const void* p, std::size_t n) { f.append(static_cast<const char*>(p), n); };
    std::uint32_t magic = 0x4D57565A, body = 28, hwnd = peer.hwnd(), msg = WM_USER + 7, flags = 0;
    std::uint16_t version = 1, type = 2;
    std::uint64_t w = 0, l = 0;
    put(&magic, 4), put(&version, 2), put(&type, 2), put(&body, 4), put(&hwnd, 4), put(&msg, 4);
    put(&w, 8), put(&l, 8), put(&flags, 4);
    if (::send(fd, f.data(), f.size(), MSG_NOSIGNAL) < 0) _exit(0);  // already shut out
    char c;
    _exit(::read(fd, &c, 1) > 0 ? 4 : 0);  // hung up on (or reset), never answered
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(SendMessage(peer.hwnd(), WM_USER + 6, 0, 0), 0);  // the post never arrived
}

// The engine's pattern: a worker thread asks the main thread's window to open and print a
// job and waits for each result; the main thread runs the plain loop.
TEST_F(WinmsgTest, WorkerThreadSendsToTheMainThreadsWindow) {
  const auto main_id = std::this_thread::get_id();
  std::vector<std::string> opened;
  bool all_on_main = true;
  auto frame = Window::Create("Zelvora Engine", "", [&](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    all_on_main = all_on_main && std::this_thread::get_id() == main_id;
    switch (m) {
      case WM_USER + 22: {
        const std::string& name = *reinterpret_cast<const std::string*>(w);
        opened.push_back(name);
        return name == "missing.prc" ? 5 : 0;
      }
      case WM_USER + 23:
        return opened.empty() ? 6 : 0;
      case WM_COPYDATA: {
        const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(l);
        return static_cast<LRESULT>(cds->cbData + cds->dwData);
      }
      case WM_DESTROY:
        PostQuitMessage(3);
        return 0;
      default:
        return DefWindowProc(h, m, w, l);
    }
  });
  ASSERT_TRUE(frame.ok());
  const HWND h = frame->hwnd();
  std::vector<LRESULT> results;
  std::thread worker([&] {
    std::string job = "job0001.prc", missing = "missing.prc", none;
    results.push_back(SendMessage(h, WM_USER + 22, reinterpret_cast<WPARAM>(&job), 0));
    results.push_back(SendMessage(h, WM_USER + 23, 0, 0));
    results.push_back(SendMessage(h, WM_USER + 22, reinterpret_cast<WPARAM>(&missing), 0));
    results.push_back(SendMessage(h, WM_USER + 22, reinterpret_cast<WPARAM>(&none), 0));
    std::string bytes = "abc";
    COPYDATASTRUCT cds{10, 3, bytes.data()};
    results.push_back(SendMessage(h, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)));
    PostMessage(h, WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(RunMessageLoop(), 3);
  worker.join();
  EXPECT_TRUE(all_on_main);
  EXPECT_EQ(results, (std::vector<LRESULT>{0, 0, 5, 0, 13}));
  EXPECT_EQ(opened, (std::vector<std::string>{"job0001.prc", "missing.prc", ""}));
  EXPECT_FALSE(IsWindow(h));
}

// Threads in a ring each send to the next one's window while serving their own: a waiting
// sender keeps serving its window, so the ring never locks up, and every answer arrives.
TEST_F(WinmsgTest, ThreadsSendingToEachOtherInARingAllGetTheirAnswers) {
  constexpr int kThreads = 4, kRounds = 200;
  std::vector<HWND> hwnds(kThreads, 0);
  std::atomic<int> created{0}, finished{0};
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      auto w = Window::Create("ZvRing", std::to_string(i), [](HWND h, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m == WM_USER) {
          SetProp(h, "last", static_cast<std::int64_t>(wp));
          return static_cast<LRESULT>(wp) + 1;
        }
        if (m == WM_DESTROY) PostQuitMessage(0);
        return DefWindowProc(h, m, wp, lp);
      });
      if (!w.ok()) return;
      hwnds[i] = w->hwnd();
      ++created;
      while (created < kThreads) std::this_thread::yield();
      HWND next = hwnds[(i + 1) % kThreads];
      for (int r = 0; r < kRounds; ++r) {
        if (SendMessage(next, WM_USER, r, 0) != r + 1) ++wrong[i];
      }
      ++finished;
      RunMessageLoop();
      w->Reset();
    });
  }
  while (finished < kThreads) std::this_thread::sleep_for(1ms);
  for (HWND h : hwnds) {
    EXPECT_EQ(GetProp(h, "last"), kRounds - 1);
    PostMessage(h, WM_CLOSE, 0, 0);
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong, std::vector<int>(kThreads, 0));
  EXPECT_TRUE(EnumWindows().empty());
}

TEST_F(WinmsgTest, WindowOfAnEndedThreadIsGoneAndItsSendersAreReleased) {
  HWND h = 0;
  std::atomic<bool> started{false};
  std::thread owner([&] {
    h = *CreateWindow("ZvGone", "t", DefWindowProc);
    started = true;
    std::this_thread::sleep_for(100ms);  // exits without running a loop or destroying
  });
  while (!started) std::this_thread::yield();
  // Sent while the owner never runs a loop: released when the thread ends.
  auto r = SendMessageTimeout(h, WM_USER, 0, 0, 30s);
  owner.join();
  EXPECT_FALSE(r.ok());
  EXPECT_FALSE(IsWindow(h));
  EXPECT_EQ(FindWindow("ZvGone", nullptr), 0u);
  EXPECT_FALSE(PostMessage(h, WM_USER, 0, 0));
}

TEST_F(WinmsgTest, PropertiesTextAndEnabledState) {
  auto w = Window::Create("ZvProps", "first", DefWindowProc);
  ASSERT_TRUE(w.ok());
  HWND h = w->hwnd();
  EXPECT_EQ(GetProp(h, "Zelvora"), 0);
  EXPECT_TRUE(SetProp(h, "Zelvora", 123456789012));
  EXPECT_EQ(GetProp(h, "ZELVORA"), 123456789012);
  EXPECT_TRUE(SetProp(h, "zelvora", 5));
  EXPECT_EQ(GetProp(h, "Zelvora"), 5);
  EXPECT_EQ(RemoveProp(h, "Zelvora"), 5);
  EXPECT_EQ(RemoveProp(h, "Zelvora"), 0);
  EXPECT_FALSE(SetProp(h, "", 1));
  EXPECT_TRUE(SetWindowText(h, "印刷実行"));
  EXPECT_EQ(GetWindowText(h), "印刷実行");
  EXPECT_EQ(FindWindow(nullptr, "印刷実行"), h);
  EXPECT_FALSE(SetWindowText(h, std::string(kMaxWindowTextLength + 1, 'x')));
  EXPECT_FALSE(EnableWindow(h, false));
  EXPECT_FALSE(IsWindowEnabled(h));
  EXPECT_TRUE(EnableWindow(h, true));
  EXPECT_TRUE(SetForegroundWindow(h));
  MSG msg;
  ASSERT_TRUE(PeekMessage(&msg));
  EXPECT_EQ(msg.message, WM_ACTIVATE);
  EXPECT_EQ(msg.wParam, WA_ACTIVE);
  EXPECT_FALSE(SetForegroundWindow(0x7ffffff0));
  EXPECT_FALSE(CreateWindow("", "x", DefWindowProc).ok());
  EXPECT_FALSE(CreateWindow(std::string(257, 'c'), "x", DefWindowProc).ok());
  EXPECT_FALSE(SetProp(0x7ffffff0, "x", 1));
  EXPECT_FALSE(DestroyWindow(0x7ffffff0));
}

TEST_F(WinmsgTest, PropertiesBeyondTheRecordLimitAreRefusedAndTheWindowStaysListed) {
  auto w = Window::Create("ZvManyProps", "t", DefWindowProc);
  ASSERT_TRUE(w.ok());
  HWND h = w->hwnd();
  int accepted = 0;
  for (int i = 0; i < 1100; ++i) accepted += SetProp(h, "p" + std::to_string(i), i);
  EXPECT_EQ(accepted, 1024);
  EXPECT_TRUE(SetProp(h, "p5", 50));  // an existing property can still change
  EXPECT_EQ(FindWindow("ZvManyProps", nullptr), h);
}

TEST_F(WinmsgTest, EachRootHasItsOwnWindowTable) {
  auto w = Window::Create("ZvRoot", "a", DefWindowProc);
  ASSERT_TRUE(w.ok());
  {
    zv::testing::TempRoot other;
    EXPECT_EQ(FindWindow("ZvRoot", nullptr), 0u);
  }
  EXPECT_EQ(FindWindow("ZvRoot", nullptr), w->hwnd());
}

TEST_F(WinmsgTest, TimersTickWithoutPilingUp) {
  int ticks = 0;
  auto w = Window::Create("ZvTimer", "", [&](HWND h, UINT m, WPARAM id, LPARAM l) -> LRESULT {
    if (m == WM_TIMER && id == 9 && ++ticks == 3) {
      KillTimer(h, 9);
      PostQuitMessage(0);
    }
    return 0;
  });
  ASSERT_TRUE(w.ok());
  ASSERT_TRUE(SetTimer(w->hwnd(), 9, 10));
  EXPECT_EQ(RunMessageLoop(), 0);
  EXPECT_EQ(ticks, 3);
  EXPECT_FALSE(KillTimer(w->hwnd(), 9));

  ASSERT_TRUE(SetTimer(w->hwnd(), 4, 100));
  std::this_thread::sleep_for(500ms);  // five intervals pass unserved
  MSG msg;
  ASSERT_TRUE(PeekMessage(&msg));
  EXPECT_EQ(msg.message, WM_TIMER);
  EXPECT_EQ(msg.wParam, 4u);
  EXPECT_FALSE(PeekMessage(&msg));
  EXPECT_TRUE(KillTimer(w->hwnd(), 4));
}

TEST_F(WinmsgTest, PumpRunsWhatWaitsAndReportsTheQuit) {
  int seen = 0;
  auto w = Window::Create("ZvPump", "", [&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
    seen += m == WM_USER;
    return 0;
  });
  ASSERT_TRUE(w.ok());
  PostMessage(w->hwnd(), WM_USER, 0, 0);
  PostMessage(w->hwnd(), WM_USER, 0, 0);
  EXPECT_TRUE(PumpMessages());
  EXPECT_EQ(seen, 2);
  PostQuitMessage(9);
  int code = 0;
  EXPECT_FALSE(PumpMessages(&code));
  EXPECT_EQ(code, 9);
  EXPECT_TRUE(PumpMessages());
}

}  // namespace
}  // namespace zv::winmsg
