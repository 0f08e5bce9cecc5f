// The resident program: its blocks after each message, from registry fixtures; programs it
// starts; a second instance; another user.
#include "capture/ulmerith/resident.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "capture/common/kept.h"
#include "capture/common/log.h"
#include "platform/fs/files.h"
#include "platform/paths/paths.h"
#include "platform/process/process.h"
#include "platform/registry/registry.h"
#include "platform/testing/bin_dir.h"
#include "platform/testing/temp_root.h"

namespace zv::capture {
namespace {

namespace sfs = std::filesystem;
using namespace std::chrono_literals;
constexpr char kConv[] = "Software\\Orbelin\\Zelvora\\1.0\\Conv";
constexpr char kSettings[] = "Software\\Orbelin\\Zelvora\\1.0\\Settings";

std::vector<std::byte> BlockBytes(int slot, int kind) {
  auto b = shm::SharedBlock::Open(SlotBlockName(slot, kind), shm::Access::kRead);
  if (!b.ok()) return {};
  return {b->bytes().begin(), b->bytes().end()};
}

std::uint32_t U32(const std::vector<std::byte>& b, std::size_t at) {
  std::uint32_t v = 0;
  if (b.size() >= at + 4) std::memcpy(&v, b.data() + at, 4);
  return v;
}

PermanentSettings Permanent() {
  PermanentSettings ps{};
  auto b = shm::SharedBlock::Open(kPermanentBlock, shm::Access::kRead);
  if (b.ok() && b->size() >= sizeof ps) std::memcpy(&ps, b->bytes().data(), sizeof ps);
  return ps;
}

registry::Key UserKey(const char* path) { return *registry::Key::Create(registry::RootKey::kCurrentUser, path); }

class ResidentTest : public ::testing::Test {
 protected:
  std::unique_ptr<Resident> Start(Resident::Options o = {}) {
    auto r = Resident::Create(std::move(o));
    EXPECT_TRUE(r.ok()) << r.status().ToString();
    return r.ok() ? std::move(*r) : nullptr;
  }
  winmsg::LRESULT Send(Resident& r, winmsg::UINT m, winmsg::WPARAM w = 0, winmsg::LPARAM l = 0) {
    return winmsg::SendMessage(r.hwnd(), m, w, l);
  }
  // Puts a record into "Zvmkexe" as the capture library does, and sends the message.
  void Transfer(Resident& r, winmsg::UINT m, std::uint32_t out_kind, const std::vector<std::byte>& record) {
    auto b = shm::SharedBlock::Create(kTransferBlock, record.size());
    ASSERT_TRUE(b.ok());
    std::memcpy(b->mutable_bytes().data(), record.data(), record.size());
    Send(r, m, out_kind, static_cast<winmsg::LPARAM>(record.size()));
  }
  testing::TempRoot root_;
};

TEST_F(ResidentTest, BlocksFromTheRegistry) {
  {
    auto r = Start();
    for (int slot = 0; slot < kSlotCount; ++slot) {
      for (int kind = 0; kind < kKindCount; ++kind) {
        auto b = BlockBytes(slot, kind);
        ASSERT_EQ(b.size(), SlotBlockSize(slot, kind)) << slot << "_" << kind;
        if (b.empty()) continue;
        EXPECT_EQ(U32(b, 0), b.size());
        EXPECT_TRUE(std::all_of(b.begin() + 4, b.end(), [](std::byte x) { return x == std::byte{0}; }));
      }
    }
    EXPECT_EQ(Send(*r, WM_PERM_LOADSETTINGS), 0);
    PermanentSettings ps = Permanent();
    EXPECT_EQ(ps.task_combinate, 1);
    EXPECT_EQ(ps.ie55_frame_off, 0);
    EXPECT_EQ(ps.out_kind, 0u);
    EXPECT_EQ(ps.init_format[0], 35);
    EXPECT_EQ(ps.init_format[2], 1);
    auto tmp = shm::SharedBlock::Open(kTempPathBlock, shm::Access::kRead);
    ASSERT_TRUE(tmp.ok());
    EXPECT_EQ(CText(tmp->bytes()), root_.str() + "/tmp");
    EXPECT_EQ(Send(*r, WM_PERM_GETCLIENTWND), static_cast<winmsg::LRESULT>(kNoClientWindow));
    Send(*r, WM_PERM_SETCLIENTWND, 77);
    EXPECT_EQ(Send(*r, WM_PERM_GETCLIENTWND), 77);
  }

  struct Case {
    std::string outdir, want_location;
  } cases[] = {{"/srv/out", "/srv/out\\"}, {"C:\\out\\", "C:\\out\\"}, {"/srv/out/", "/srv/out/"}};
  for (const Case& c : cases) {
    EXPECT_TRUE(UserKey(kConv).SetDword("OutKind", 0xFFF).ok());  // slots 5 and 6 have no blocks: masked
    EXPECT_TRUE(UserKey(kConv).SetString("Outdir", c.outdir).ok());
    EXPECT_TRUE(UserKey(kConv).SetString("notice2", "/srv/notice.txt").ok());
    EXPECT_TRUE(UserKey(kConv).SetDword("OutInf_9_3", 0x1234).ok());
    std::string stored(35, '\0');
    for (int i = 0; i < 35; ++i) stored[i] = static_cast<char>(30 + 3);
    stored[0] = 65;
    EXPECT_TRUE(UserKey(kSettings).SetBinary("InitFormat", stored).ok());
    EXPECT_TRUE(UserKey(kSettings).SetDword("TaskCombinate", 0).ok());
    auto m = *registry::Key::Create(registry::RootKey::kLocalMachine, kConv);
    EXPECT_TRUE(m.SetDword("0_ID", 100).ok());
    EXPECT_TRUE(m.SetString("0_EXT", "pdf").ok());
    EXPECT_TRUE(m.SetString("0", "liblumbrel.so").ok());
    EXPECT_TRUE(m.SetString("1", "other.so").ok());  // type and extension carried from slot 0
    auto r = Start();
    Send(*r, WM_PERM_LOADSETTINGS);
    PermanentSettings ps = Permanent();
    EXPECT_EQ(ps.out_kind, 0xF9Fu);
    EXPECT_EQ(ps.task_combinate, 0);
    EXPECT_EQ(ps.init_format[0], 35);
    EXPECT_EQ(ps.init_format[34], 3);
    auto out = ParseOutputRecord(BlockBytes(8, 1));
    ASSERT_TRUE(out.ok());
    EXPECT_EQ(out->location, c.want_location);
    EXPECT_EQ(out->notice, "/srv/notice.txt");
    EXPECT_EQ(U32(BlockBytes(10, 3), 6), 0x1234u);
    auto conv1 = ParseConverterRecord(BlockBytes(1, 0));
    ASSERT_TRUE(conv1.ok());
    EXPECT_EQ(conv1->type, 100u);
    EXPECT_EQ(conv1->extension, "pdf");
    EXPECT_EQ(conv1->module, "other.so");
    EXPECT_EQ(U32(BlockBytes(1, 0), 0), 27u + 8u);
  }

  // An output folder too long for its block is refused, never cut.
  EXPECT_TRUE(UserKey(kConv).SetString("Outdir", "/" + std::string(300, 'x')).ok());
  auto r = Start();
  auto b = BlockBytes(0, 1);
  EXPECT_EQ(U32(b, 0), 526u);
  EXPECT_EQ(b[6], std::byte{0});
  auto log = fs::ReadFile(CaptureLogPath());
  ASSERT_TRUE(log.ok());
  EXPECT_NE(log->find("too long"), std::string::npos);
}

TEST_F(ResidentTest, SetOverlayAndRestore) {
  auto r = Start();
  auto location = [](int slot) {
    auto out = ParseOutputRecord(BlockBytes(slot, 1));
    return out.ok() ? out->location : std::string("?");
  };
  Transfer(*r, WM_PERM_SETSLOT, 1u << 3, BuildOutputRecord(3, {"/a/", ""}));
  EXPECT_EQ(location(3), "/a/");
  EXPECT_EQ(r->out_kind(), 1u << 3);

  Send(*r, WM_PERM_RESTORESLOTS, 0xFFF);  // no overlay: nothing changes
  EXPECT_EQ(location(3), "/a/");

  Transfer(*r, WM_PERM_OVERLAYSLOT, 1u << 4, BuildOutputRecord(3, {"/b/", ""}));
  Transfer(*r, WM_PERM_OVERLAYSLOT, 1u << 5, BuildOutputRecord(3, {"/c/", ""}));
  EXPECT_EQ(location(3), "/c/");
  EXPECT_EQ(r->out_kind(), 1u << 4);  // later overlays leave OutKind alone
  Send(*r, WM_PERM_RESTORESLOTS, 1u << 3);
  EXPECT_EQ(location(3), "/b/");  // the record the second overlay replaced
  EXPECT_EQ(r->out_kind(), 1u << 3);

  // Records that do not fit: no block for the slot, larger than the block.
  Transfer(*r, WM_PERM_SETSLOT, 0, BuildImageOptionsRecord(8, 1, 2, 3, 4));
  auto big = BuildOutputRecord(3, {"/" + std::string(600, 'y') + "/", ""});
  Transfer(*r, WM_PERM_SETSLOT, 0, big);
  EXPECT_EQ(location(3), "/b/");
  Transfer(*r, WM_PERM_SETSLOT, 0, BuildImageOptionsRecord(3, 1, 0, 9, 4));
  EXPECT_EQ(U32(BlockBytes(3, 2), 0), 12u);
  EXPECT_EQ(BlockBytes(3, 2)[11], std::byte{4});
}

// Pumps the calling thread's messages (the resident's timer among them) until `done`, for a
// minute at most.
bool PumpUntil(const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + 60s;
  while (!done() && std::chrono::steady_clock::now() < end) {
    winmsg::PumpMessages();
    std::this_thread::sleep_for(10ms);
  }
  return done();
}

TEST_F(ResidentTest, CopyDataStartsTheProgramWithItsArguments) {
  auto r = Start();
  const std::string out = root_.str() + "/argv.bin";
  setenv("ZV_ARGV_OUT", out.c_str(), 1);
  const std::string stub = testing::BinPath("capture_stub_program");
  const std::string line = "\"" + stub + "\" \"/tmp/a b/report.txt\" /n \"月次 報告\" ";
  winmsg::COPYDATASTRUCT cds{5, static_cast<std::uint32_t>(line.size() + 1), line.c_str()};
  EXPECT_EQ(Send(*r, winmsg::WM_COPYDATA, 0, reinterpret_cast<winmsg::LPARAM>(&cds)), 1);
  ASSERT_TRUE(PumpUntil([&] { return sfs::exists(out); }));
  unsetenv("ZV_ARGV_OUT");
  auto got = fs::ReadFile(out);
  ASSERT_TRUE(got.ok()) << got.status().ToString();
  EXPECT_EQ(*got, stub + std::string(1, '\0') + "/tmp/a b/report.txt" + std::string(1, '\0') + "/n" +
                      std::string(1, '\0') + "月次 報告" + std::string(1, '\0'));

  // A program that is slow to start never holds the window.
  const std::string sleeper = "/bin/sleep 1";
  winmsg::COPYDATASTRUCT s{0, static_cast<std::uint32_t>(sleeper.size() + 1), sleeper.c_str()};
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(Send(*r, winmsg::WM_COPYDATA, 0, reinterpret_cast<winmsg::LPARAM>(&s)), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s);
}

// A captured job stays with the resident program until a client has taken it: a client that
// ends without taking it (here one that fails at once) leaves it kept, however long the
// client took, and the next client window gets it; a window that refuses it leaves it kept.
TEST_F(ResidentTest, AJobNoClientTookWaitsForTheNextClient) {
  auto r = Start();
  auto tmp = paths::TempFolder();
  ASSERT_TRUE(tmp.ok());
  const std::string capture = *tmp + "/WXQ0000abcd.tmp";
  ASSERT_TRUE(fs::WriteFileAtomic(capture, "capture", 0600).ok());
  const std::string kept = KeptFolder(*tmp) + "/WXQ0000abcd.tmp";
  const std::string line = "\"/bin/false\" \"" + capture + "\" /n \"月次 報告\" ";
  winmsg::COPYDATASTRUCT cds{7, static_cast<std::uint32_t>(line.size() + 1), line.c_str()};
  EXPECT_EQ(Send(*r, winmsg::WM_COPYDATA, 0, reinterpret_cast<winmsg::LPARAM>(&cds)), 1);
  // Started, ended, and kept: the file waits outside the temporary folder.
  auto log_has = [](const std::string& text) {
    auto log = fs::ReadFile(CaptureLogPath());
    return log.ok() && log->find(text) != std::string::npos;
  };
  ASSERT_TRUE(PumpUntil([&] { return log_has("the client ended without taking it"); }));
  EXPECT_TRUE(sfs::exists(kept));
  EXPECT_FALSE(sfs::exists(capture));
  EXPECT_EQ(ListKeptJobs(KeptFolder(*tmp)).size(), 1u);
  EXPECT_FALSE(log_has("Timeout"));

  std::vector<std::string> received;
  winmsg::LRESULT answer = 0;
  // A client window that records what it is handed and answers `answer`.
  auto client = [&] {
    auto w = winmsg::Window::Create("ClientFrame", "client",
                                    [&](winmsg::HWND h, winmsg::UINT m, winmsg::WPARAM wp, winmsg::LPARAM lp) {
                                      if (m != winmsg::WM_COPYDATA) return winmsg::DefWindowProc(h, m, wp, lp);
                                      auto* c = reinterpret_cast<const winmsg::COPYDATASTRUCT*>(lp);
                                      received.emplace_back(static_cast<const char*>(c->lpData));
                                      return answer;
                                    });
    if (w.ok()) winmsg::SetProp(w->hwnd(), kClientProperty, 1);
    return w;
  };
  auto w = client();
  ASSERT_TRUE(w.ok());
  // Refused: kept, and not offered to the same window again.
  ASSERT_TRUE(PumpUntil([&] { return received.size() == 1; }));
  for (int i = 0; i < 30; ++i) {
    winmsg::PumpMessages();
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(received.size(), 1u);
  EXPECT_TRUE(sfs::exists(kept));
  // The next client window takes it, from the temporary folder where a client removes it.
  w->Reset();
  answer = 1;
  auto w2 = client();
  ASSERT_TRUE(w2.ok());
  ASSERT_TRUE(PumpUntil([&] { return received.size() == 2; }));
  EXPECT_EQ(received[1], capture + " /n \"月次 報告\" ");
  EXPECT_TRUE(sfs::exists(capture));
  EXPECT_TRUE(ListKeptJobs(KeptFolder(*tmp)).empty());
}

TEST_F(ResidentTest, SecondInstanceLeavesTheBlocksAlone) {
  process::StartOptions o;
  o.argv = {testing::BinPath("ulmerith")};
  o.ready_signal = true;
  auto first = process::Start(o);
  ASSERT_TRUE(first.ok());
  ASSERT_TRUE(first->WaitReady(10000).ok());
  {
    auto b = shm::SharedBlock::Open(SlotBlockName(3, 2), shm::Access::kReadWrite);
    ASSERT_TRUE(b.ok());
    b->mutable_bytes()[8] = std::byte{0x5A};  // as the client writes its image options
  }
  o.ready_signal = false;
  auto second = process::Start(o);
  ASSERT_TRUE(second.ok());
  auto code = second->Wait(10000);
  ASSERT_TRUE(code.ok());
  EXPECT_EQ(*code, 0);
  EXPECT_EQ(BlockBytes(3, 2)[8], std::byte{0x5A});
  EXPECT_NE(winmsg::FindWindow(nullptr, kResidentWindowText), 0u);

  // Another local user can neither read the settings nor reach the window.
  if (::geteuid() == 0 && sfs::exists("/usr/sbin/runuser")) {
    char dir[] = "/tmp/zv-probe.XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    ::chmod(dir, 0755);
    const std::string probe = std::string(dir) + "/probe";
    sfs::copy_file(testing::BinPath("capture_stub_program"), probe);
    ::chmod(probe.c_str(), 0755);
    process::StartOptions p;
    p.argv = {"/usr/sbin/runuser", "-u", "nobody", "--", probe, "--probe"};
    p.output_file = root_.str() + "/probe.txt";
    auto run = process::Start(p);
    ASSERT_TRUE(run.ok());
    EXPECT_TRUE(run->Wait(10000).ok());
    sfs::remove_all(dir);
    auto said = fs::ReadFile(p.output_file);
    ASSERT_TRUE(said.ok());
    EXPECT_NE(said->find("block=0 window=0"), std::string::npos) << *said;
  }

  ASSERT_TRUE(first->Kill(SIGTERM).ok());
  auto ended = first->Wait(10000);
  ASSERT_TRUE(ended.ok());
  EXPECT_EQ(*ended, 0);
}

}  // namespace
}  // namespace zv::capture
