#include "capture/ulmerith/resident.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>

#include "capture/common/kept.h"
#include "capture/common/log.h"
#include "platform/paths/paths.h"
#include "platform/process/command_line.h"
#include "platform/process/process.h"
#include "platform/registry/registry.h"
#include "platform/sync/guard.h"

namespace zv::capture {
namespace {

constexpr char kConvKey[] = "Software\\Orbelin\\Zelvora\\1.0\\Conv";
constexpr char kSettingsKey[] = "Software\\Orbelin\\Zelvora\\1.0\\Settings";
constexpr std::size_t kMaxRegistryText = 260;

std::optional<std::uint32_t> Dword(const Result<registry::Key>& key, const std::string& name) {
  if (!key.ok()) return std::nullopt;
  auto v = key->GetDword(name);
  return v.ok() ? std::optional(*v) : std::nullopt;
}

std::optional<std::string> Text(const Result<registry::Key>& key, const std::string& name) {
  if (!key.ok()) return std::nullopt;
  auto v = key->GetString(name);
  return v.ok() ? std::optional(*v) : std::nullopt;
}

// A window of a client that takes jobs (it carries the client property and is enabled).
winmsg::HWND FindClientWindow() {
  for (winmsg::HWND h : winmsg::EnumWindows())
    if (winmsg::GetProp(h, kClientProperty) != 0 && winmsg::IsWindowEnabled(h)) return h;
  return 0;
}

// The capture file and title of a client command line ("PROGRAM" "FILE" /n "TITLE"), or
// none for another program's line.
struct CaptureJob {
  std::string path, title;
};
std::optional<CaptureJob> CaptureOf(const std::vector<std::string>& argv) {
  if (argv.size() < 2) return std::nullopt;
  const std::string& path = argv[1];
  const std::size_t slash = path.rfind('/');
  if (path.empty() || path[0] != '/' || !IsCaptureName(path.substr(slash + 1))) return std::nullopt;
  CaptureJob job{path, {}};
  for (std::size_t i = 2; i < argv.size(); ++i) {
    if (argv[i] == "/n" || argv[i] == "-n" || argv[i] == "/N" || argv[i] == "-N") {
      for (std::size_t j = i + 1; j < argv.size(); ++j) job.title += (j > i + 1 ? " " : "") + argv[j];
      break;
    }
  }
  return job;
}

Result<process::Process> StartDetached(const std::vector<std::string>& argv, bool ready_signal) {
  process::StartOptions o;
  o.argv = argv;
  o.detached = true;
  o.ready_signal = ready_signal;
  return process::Start(o);
}

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

}  // namespace

Result<std::string> ResidentTempFolder() { return paths::TempFolder(); }

Resident::~Resident() = default;

shm::SharedBlock* Resident::Block(int slot, int kind) {
  if (SlotBlockSize(slot, kind) == 0) return nullptr;
  shm::SharedBlock& b = blocks_[slot][kind];
  return b.valid() ? &b : nullptr;
}

Result<std::unique_ptr<Resident>> Resident::Create(Options options) {
  std::unique_ptr<Resident> r(new Resident);
  r->options_ = std::move(options);
  for (int slot = 0; slot < kSlotCount; ++slot) {
    for (int kind = 0; kind < kKindCount; ++kind) {
      std::size_t size = SlotBlockSize(slot, kind);
      if (size == 0) continue;
      auto b = shm::SharedBlock::Create(SlotBlockName(slot, kind), size);
      if (!b.ok()) return b.status();
      // A block already there is another running resident's: two residents would overwrite each
      // other's slots, so this one refuses to start.
      if (b->existed()) return Status::Busy("the block " + SlotBlockName(slot, kind) + " belongs to another instance");
      std::uint32_t s32 = static_cast<std::uint32_t>(size);
      std::memcpy(b->mutable_bytes().data(), &s32, 4);
      r->blocks_[slot][kind] = std::move(*b);
    }
  }
  auto perm = shm::SharedBlock::Create(kPermanentBlock, kPermanentBlockSize);
  if (!perm.ok()) return perm.status();
  r->permanent_ = std::move(*perm);
  auto tmp = shm::SharedBlock::Create(kTempPathBlock, kTempPathBlockSize);
  if (!tmp.ok()) return tmp.status();
  r->temp_path_ = std::move(*tmp);
  if (auto folder = ResidentTempFolder(); folder.ok() && folder->size() < kTempPathBlockSize) {
    std::memcpy(r->temp_path_.mutable_bytes().data(), folder->data(), folder->size());
  } else {
    AppendCaptureLog("the temporary folder does not fit its block; captures cannot be made");
  }
  r->LoadConversionSlots();
  Resident* self = r.get();
  auto w = winmsg::Window::Create("#32770", kResidentWindowText,
                                  [self](winmsg::HWND h, winmsg::UINT m, winmsg::WPARAM wp, winmsg::LPARAM lp) {
                                    (void)h;
                                    return self->Handle(m, wp, lp);
                                  });
  if (!w.ok()) return w.status();
  r->window_ = std::move(*w);
  winmsg::SetTimer(r->window_.hwnd(), 1, 100);
  return r;
}

bool Resident::StoreRecord(std::span<const std::byte> record) {
  if (!CheckStorableRecord(record).ok()) return false;
  auto h = ReadRecordHeader(record);
  shm::SharedBlock* b = Block(h->slot, h->kind);
  if (b == nullptr) return false;
  std::memcpy(b->mutable_bytes().data(), record.data(), h->size);
  return true;
}

void Resident::LoadConversionSlots() {
  auto user = registry::Key::Open(registry::RootKey::kCurrentUser, kConvKey);
  if (user.ok()) {
    out_kind_ = Dword(user, "OutKind").value_or(0) & kSlotsWithBlocks;
    saved_out_kind_ = out_kind_;
    std::string outdir = Text(user, "Outdir").value_or("");
    std::string notice = Text(user, "notice2").value_or("");
    if (outdir.empty() || (outdir.back() != '\\' && outdir.back() != '/')) outdir += '\\';
    if (outdir.size() > kMaxRegistryText || notice.size() > kMaxRegistryText ||
        8 + outdir.size() + notice.size() > SlotBlockSize(0, 1)) {
      AppendCaptureLog("Outdir or notice2 too long for the output blocks; not published");
    } else {
      for (int slot = 0; slot < kSlotCount; ++slot) StoreRecord(BuildOutputRecord(slot, {outdir, notice}));
    }
    if (auto inf = Dword(user, "OutInf_9_3")) {
      for (int slot = 9; slot <= 11; ++slot) StoreRecord(BuildValueRecord(slot, *inf));
    }
  }
  auto machine = registry::Key::Open(registry::RootKey::kLocalMachine, kConvKey);
  if (machine.ok()) {
    ConverterRecord carried;  // a value absent for a slot keeps the previous slot's
    for (int slot = 0; slot < kSlotCount; ++slot) {
      const std::string n = std::to_string(slot);
      if (auto id = Dword(machine, n + "_ID")) carried.type = *id;
      if (auto ext = Text(machine, n + "_EXT")) carried.extension = ext->substr(0, kExtensionField - 1);
      if (auto mod = Text(machine, n)) {
        if (mod->size() >= kMaxModuleName) {
          AppendCaptureLog("converter module name of slot " + n + " too long; not published");
        } else {
          carried.module = *mod;
        }
      }
      StoreRecord(BuildConverterRecord(slot, carried));
    }
  }
}

void Resident::LoadSettings() {
  PermanentSettings ps;
  std::optional<std::string> stored;
  auto key = registry::Key::Open(registry::RootKey::kCurrentUser, kSettingsKey);
  if (key.ok()) {
    ps.task_combinate = static_cast<std::int32_t>(Dword(key, "TaskCombinate").value_or(1));
    ps.ie55_frame_off = static_cast<std::int32_t>(Dword(key, "IE5.5FrameOff").value_or(0));
    if (auto v = key->GetBinary("InitFormat"); v.ok()) stored = *v;
  }
  std::optional<std::span<const std::uint8_t>> span;
  if (stored) span = std::span(reinterpret_cast<const std::uint8_t*>(stored->data()), stored->size());
  auto rec = DecodeInitFormat(span);
  std::memcpy(ps.init_format, rec.data(), rec.size());
  ps.out_kind = out_kind_;
  std::memcpy(permanent_.mutable_bytes().data(), &ps, sizeof ps);
}

std::optional<std::vector<std::byte>> Resident::ReadTransferRecord() {
  auto b = shm::SharedBlock::Open(kTransferBlock, shm::Access::kRead);
  if (!b.ok()) return std::nullopt;
  auto bytes = b->bytes();
  if (!CheckStorableRecord(bytes).ok()) {
    AppendCaptureLog("a slot record in transfer was refused");
    return std::nullopt;
  }
  auto h = ReadRecordHeader(bytes);
  return std::vector<std::byte>(bytes.begin(), bytes.begin() + h->size);
}

void Resident::StartProgram(const winmsg::COPYDATASTRUCT* cds) {
  if (cds == nullptr || cds->lpData == nullptr || cds->cbData == 0) return;
  const char* p = static_cast<const char*>(cds->lpData);
  std::string line(p, strnlen(p, cds->cbData));
  std::vector<std::string> argv = process::SplitCommandLine(line);
  if (argv.empty()) return;
  if (options_.start_program) {
    Status s = options_.start_program(argv);
    if (!s.ok()) AppendCaptureLog("program not started: " + line + ": " + s.ToString());
    return;
  }
  auto job = CaptureOf(argv);
  if (!job) {
    auto started = StartDetached(argv, false);
    if (!started.ok()) AppendCaptureLog("program not started: " + line + ": " + started.status().ToString());
    return;
  }
  // Every captured job joins the kept ones, so jobs reach the client in the order they came.
  Keep(job->path, argv[0], job->title, 0, "it waits for the client");
  start_wanted_ = true;  // served on the next tick: the capture library waits for this answer
}

void Resident::Keep(const std::string& capture, const std::string& program, const std::string& title,
                    long long order, const std::string& why) {
  Status kept = KeepCapture(capture, program, title, order);
  if (!kept.ok()) {
    AppendCaptureLog("the job " + capture + " could not be kept (" + kept.ToString() + "); it stays where it is");
    return;
  }
  AppendCaptureLog("the job " + capture + " is kept in " + KeptFolder(capture.substr(0, capture.rfind('/'))) + ": " +
                   why);
}

void Resident::ServeKeptJobs() {
  if (starting_) {
    // The client is waited for as long as it takes to become ready or to end.
    Status ready = starting_->process.WaitReady(0);
    if (ready.code() == Status::Code::kTimeout) return;
    if (!ready.ok() && Exists(starting_->capture)) {
      (void)starting_->process.Wait(5000);  // gone, and its guard with it
      Keep(starting_->capture, starting_->program, starting_->title, starting_->order,
           "the client ended without taking it; it is handed over at the next client start");
      // A client that failed alone is not started again at once (the same failure would
      // follow); one that met another instance still running is, once that one has ended.
      auto other = sync::NamedGuard::IsHeld("Ostrane");
      await_other_client_ = other.ok() && *other;
      start_wanted_ = await_other_client_;
    }
    starting_.reset();
  }
  auto folder = paths::TempFolder();
  if (!folder.ok()) return;
  std::vector<KeptJob> kept = ListKeptJobs(KeptFolder(*folder));
  if (kept.empty()) {
    start_wanted_ = false;
    return;
  }
  const winmsg::HWND client = FindClientWindow();
  if (client != 0) {
    if (client == refused_by_) return;
    for (const KeptJob& job : kept) {
      const std::string name = job.path.substr(job.path.rfind('/') + 1);
      const std::string path = *folder + "/" + name;
      // Back in the temporary folder, where the client reads a capture file once and removes it.
      if (::rename(job.path.c_str(), path.c_str()) != 0) continue;
      const std::string text = path + " /n \"" + job.title + "\" ";
      winmsg::COPYDATASTRUCT cds{0, static_cast<std::uint32_t>(text.size() + 1), text.c_str()};
      auto r = winmsg::SendMessageTimeout(client, winmsg::WM_COPYDATA, 0, reinterpret_cast<winmsg::LPARAM>(&cds),
                                          std::chrono::seconds(30));
      if (r.ok() && *r != 0) {
        ForgetKeptJob(job);
        AppendCaptureLog("the kept job " + path + " was handed to the client");
        continue;
      }
      ::rename(path.c_str(), job.path.c_str());
      refused_by_ = client;  // tried again with the next client window
      AppendCaptureLog("the client refused the kept job " + path + "; it stays kept");
      return;
    }
    start_wanted_ = false;
    return;
  }
  refused_by_ = 0;
  if (!start_wanted_) return;
  if (await_other_client_) {
    const auto now = std::chrono::steady_clock::now();
    if (!probed_.Take(now, std::chrono::milliseconds(500))) return;
    auto other = sync::NamedGuard::IsHeld("Ostrane");
    if (!other.ok() || *other) return;
    await_other_client_ = false;
  }
  start_wanted_ = false;
  const KeptJob& job = kept.front();
  const std::string path = *folder + "/" + job.path.substr(job.path.rfind('/') + 1);
  if (::rename(job.path.c_str(), path.c_str()) != 0) return;
  ForgetKeptJob(job);
  auto started = StartDetached({job.program, path, "/n", job.title}, true);
  if (!started.ok()) {
    AppendCaptureLog("program not started: " + job.program + " " + path + ": " + started.status().ToString());
    Keep(path, job.program, job.title, job.order, "it is handed over at the next client start");
    return;
  }
  starting_ = Starting{std::move(*started), path, job.program, job.title, job.order};
  // The rest follow once the client's window is there.
  start_wanted_ = kept.size() > 1;
}

winmsg::LRESULT Resident::Handle(winmsg::UINT message, winmsg::WPARAM wParam, winmsg::LPARAM lParam) {
  switch (message) {
    case WM_PERM_LOADSETTINGS:
      LoadSettings();
      return 0;
    case WM_PERM_SETSLOT: {
      overlay_ = false;
      out_kind_ = saved_out_kind_ = static_cast<std::uint32_t>(wParam) & kSlotsWithBlocks;
      if (auto rec = ReadTransferRecord(); rec && StoreRecord(*rec)) {
        auto h = ReadRecordHeader(*rec);
        saved_[h->slot][h->kind].reset();
      }
      return 0;
    }
    case WM_PERM_OVERLAYSLOT: {
      // Only the first overlay remembers what to go back to; a second one must not save the
      // overlaid state as the original.
      if (!overlay_) {
        saved_out_kind_ = out_kind_;
        out_kind_ = static_cast<std::uint32_t>(wParam) & kSlotsWithBlocks;
      }
      if (auto rec = ReadTransferRecord()) {
        auto h = ReadRecordHeader(*rec);
        if (shm::SharedBlock* b = Block(h->slot, h->kind)) {
          auto current = b->bytes();
          std::uint32_t size = 0;
          std::memcpy(&size, current.data(), 4);
          size = std::clamp<std::uint32_t>(size, kRecordHeaderSize, static_cast<std::uint32_t>(current.size()));
          saved_[h->slot][h->kind] = std::vector<std::byte>(current.begin(), current.begin() + size);
          StoreRecord(*rec);
        }
      }
      overlay_ = true;
      return 0;
    }
    case WM_PERM_RESTORESLOTS:
      if (!overlay_) return 0;
      overlay_ = false;
      out_kind_ = saved_out_kind_;
      for (int slot = 0; slot < kSlotCount; ++slot) {
        if ((wParam & (1u << slot)) == 0) continue;
        for (int kind = 0; kind < kKindCount; ++kind) {
          auto& copy = saved_[slot][kind];
          if (!copy) continue;
          if (shm::SharedBlock* b = Block(slot, kind)) {
            std::memcpy(b->mutable_bytes().data(), copy->data(), std::min(copy->size(), b->size()));
          }
          copy.reset();
        }
      }
      return 0;
    case WM_PERM_SETCLIENTWND:
      client_window_ = static_cast<std::uint32_t>(wParam);
      return 0;
    case WM_PERM_GETCLIENTWND:
      return client_window_;
    case winmsg::WM_COPYDATA:
      StartProgram(reinterpret_cast<const winmsg::COPYDATASTRUCT*>(lParam));
      return 1;
    case winmsg::WM_TIMER:
      if (!options_.start_program) ServeKeptJobs();
      if (on_tick_) on_tick_();
      return 0;
    case winmsg::WM_DESTROY:
      if (options_.quit_on_destroy) winmsg::PostQuitMessage(0);
      return 0;
    default:
      return winmsg::DefWindowProc(hwnd(), message, wParam, lParam);
  }
}

}  // namespace zv::capture
