#include "capture/sarquen/session.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "capture/common/blocks.h"
#include "capture/common/kept.h"
#include "capture/common/log.h"
#include "capture/common/title.h"
#include "capture/sarquen/rerecord.h"
#include "platform/fs/files.h"
#include "platform/gdi/dib.h"
#include "platform/gdi/emf/reader.h"
#include "platform/gdi/handles/handles.h"
#include "platform/gdi/recorder/recorder.h"
#include "platform/paths/install_layout.h"
#include "platform/paths/paths.h"
#include "platform/registry/registry.h"
#include "platform/shm/shm.h"
#include "platform/winmsg/winmsg.h"

namespace zv::capture {
namespace {

using namespace std::chrono_literals;

constexpr char kTooLargeText[] = "データが大きいため、最後まで処理することができませんでした。";
constexpr char kBadInputText[] = "データ解析中にエラーが発生しました。再試行してください。";
constexpr char kAccessText[] = "Windows2000では、Administrator権限以外では文書を作成できません。設定をご確認下さい。";
constexpr char kKeyText[] = "Software\\Orbelin\\Zelvora\\1.0";
constexpr std::uint64_t kMaxCaptureFile = 0xFFFFFFFFull;  // offsets are 32-bit
constexpr std::size_t kMaxInputFile = std::size_t{1} << 31;
constexpr int kMaxDeviceSide = 100000;  // pixels of a page's reference device
// These calls run inside the printing application: a hung window must not hold it for longer.
constexpr auto kSendLimit = 10s;

struct SessionTable {
  std::mutex mu;
  std::map<ZvCaptureSession, std::shared_ptr<CaptureSession>> sessions;
  ZvCaptureSession next = 1;
};

SessionTable& Table() {
  static SessionTable* t = new SessionTable;  // never destroyed: exports may run during exit
  return *t;
}

std::shared_ptr<CaptureSession> Find(ZvCaptureSession id) {
  SessionTable& t = Table();
  std::lock_guard lock(t.mu);
  auto it = t.sessions.find(id);
  return it == t.sessions.end() ? nullptr : it->second;
}

std::shared_ptr<CaptureSession> Take(ZvCaptureSession id) {
  SessionTable& t = Table();
  std::lock_guard lock(t.mu);
  auto it = t.sessions.find(id);
  if (it == t.sessions.end()) return nullptr;
  auto s = it->second;
  t.sessions.erase(it);
  return s;
}

ZvCaptureSession Register(std::shared_ptr<CaptureSession> s) {
  SessionTable& t = Table();
  std::lock_guard lock(t.mu);
  ZvCaptureSession id;
  do {
    id = t.next++;
    if (t.next == 0) t.next = 1;
  } while (id == 0 || t.sessions.count(id) != 0);
  t.sessions.emplace(id, std::move(s));
  return id;
}

winmsg::HWND ResidentWindow() { return winmsg::FindWindow(nullptr, kResidentWindowText); }

std::int64_t SendToResident(winmsg::UINT msg, winmsg::WPARAM w, winmsg::LPARAM l) {
  winmsg::HWND hwnd = ResidentWindow();
  if (hwnd == 0) return 0;
  auto r = winmsg::SendMessageTimeout(hwnd, msg, w, l, kSendLimit);
  return r.ok() ? *r : 0;
}

std::uint16_t Get16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
std::uint32_t Get32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

Status WriteCapture(CaptureSession& s, std::span<const std::uint8_t> data) {
  if (s.fd < 0) return Status::IOError("capture file not open");
  if (s.write_position + data.size() > kMaxCaptureFile) return Status::IOError("capture file would pass 4 GiB");
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::pwrite(s.fd, data.data() + done, data.size() - done, static_cast<off_t>(s.write_position + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Status::IOError(fs::ErrnoText("write " + s.path, errno));
    done += static_cast<std::size_t>(n);
  }
  s.write_position += data.size();
  s.file_length = std::max(s.file_length, s.write_position);
  return Status::Ok();
}

void SetTooLarge(CaptureSession& s) {
  s.too_large = true;
  s.error = kErrorTooLarge;
}
void SetBadInput(CaptureSession& s) {
  s.open = false;
  s.error = kErrorBadInput;
}

// The trailer of a page that did not arrive with a page record: the device mode's paper.
jobdoc::PageTrailer TrailerFromDevmode(const CaptureSession& s) {
  jobdoc::PageTrailer t;
  t.paper_code = static_cast<std::uint16_t>(s.devmode.dmPaperSize);
  t.orientation = s.devmode.dmOrientation == 2 ? 2 : 1;
  t.width = s.format.paper_width;
  t.length_mm = s.format.paper_length;
  return t;
}

// Writes a page (already in its final form) and its trailer; sets the flags.
void WritePage(CaptureSession& s, std::span<const std::uint8_t> page, std::span<const std::uint8_t> trailer) {
  // Pages always go at the end, wherever an earlier write left the position.
  s.write_position = s.file_length;
  Status st = WriteCapture(s, page);
  if (st.ok()) st = WriteCapture(s, trailer);
  if (!st.ok()) {
    AppendCaptureLog("capture file write failed: " + st.ToString());
    SetTooLarge(s);
    return;
  }
  s.page_written = true;
}

// Re-records one metafile page into the capture file, followed by its trailer.
void StoreMetafilePage(CaptureSession& s, std::span<const std::uint8_t> page, std::span<const std::uint8_t> trailer) {
  auto mf = emf::Metafile::Parse(page);
  if (!mf.ok() || mf->header().device.cx > kMaxDeviceSide || mf->header().device.cy > kMaxDeviceSide) {
    AppendCaptureLog("page refused: " + (mf.ok() ? std::string("reference device too large") : mf.status().ToString()));
    SetBadInput(s);
    return;
  }
  RerecordOptions options;
  options.text_height = TextHeightForQuality(s.devmode.dmPrintQuality);
  options.frame_filter = s.ie55_frame_off != 0;
  options.on_comment = [&s](std::span<const std::uint8_t> rec) { HandleControlComment(s, rec); };
  auto page_out = RerecordPage(mf->bytes(), options);
  if (!page_out.ok()) {
    AppendCaptureLog("page refused: " + page_out.status().ToString());
    if (page_out.status().code() == Status::Code::kIOError) {
      SetTooLarge(s);
    } else {
      SetBadInput(s);
    }
    return;
  }
  WritePage(s, page_out->bytes, trailer);
}

std::span<const std::uint8_t> AsBytes(const jobdoc::PageTrailer& t) {
  return {reinterpret_cast<const std::uint8_t*>(&t), sizeof t};
}

// Reads a page file for AddEmf, SetEmf and SetDIB.
Result<std::string> ReadPageFile(const char* path) {
  if (path == nullptr || *path == '\0') return Status::NotFound("no page file");
  return fs::ReadFile(path, kMaxInputFile);
}

// An empty page file given after real pages leaves the job as it was; as the only page call
// it makes the job one without pages.
void EmptyPageFile(CaptureSession& s) { s.page_delivered = s.nonempty_page_calls > 0; }

// Sends the text to a window by WM_COPYDATA (with its NUL).
bool SendCopyData(winmsg::HWND hwnd, std::uintptr_t number, const std::string& text) {
  winmsg::COPYDATASTRUCT cds;
  cds.dwData = number;
  cds.cbData = static_cast<std::uint32_t>(text.size() + 1);
  cds.lpData = text.c_str();
  auto r = winmsg::SendMessageTimeout(hwnd, winmsg::WM_COPYDATA, 0, reinterpret_cast<winmsg::LPARAM>(&cds), kSendLimit);
  // A window that answers 0 did not take the text (a client printing unattended refuses
  // jobs that arrive meanwhile).
  return r.ok() && *r != 0;
}

// The client program: ostrane in "AppPath" of the machine key when it lies there, else the
// install's own, <prefix>/bin/ostrane beside the library's folder <prefix>/lib. "AppPath" is
// normally the user's data folder, which holds no program.
std::string ClientProgram() {
  std::string folder;
  if (auto key = registry::Key::Open(registry::RootKey::kLocalMachine, kKeyText); key.ok()) {
    if (auto app = key->GetString("AppPath"); app.ok() && !app->empty()) {
      if (auto local = paths::ToLocalPath(*app); local.ok()) folder = *local;
    }
  }
  std::string prefix = LibraryFolder();
  const std::size_t slash = prefix.rfind('/');
  prefix = slash == std::string::npos ? std::string() : prefix.substr(0, slash);
  return paths::ProgramIn(folder, prefix, "ostrane");
}

// Hands the capture file to the client main program. Gives false (logged) when it could not.
bool HandOver(CaptureSession& s) {
  const std::string title = TitleToUtf8(DeriveDocumentTitle(s.document_name));
  if (s.task_combinate != 0) {
    std::int64_t client = SendToResident(WM_PERM_GETCLIENTWND, 0, 0);
    auto hwnd = static_cast<winmsg::HWND>(client);
    if (client != 0 && hwnd != kNoClientWindow && winmsg::IsWindowEnabled(hwnd)) {
      for (int attempt = 0; attempt < 4; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(1000ms);
        // The resident may know the client's window before the client has marked it ready to take
        // jobs: a few tries a second apart give it time.
        if (winmsg::GetProp(hwnd, kClientProperty) == 0) continue;
        if (SendCopyData(hwnd, 0, s.path + " /n \"" + title + "\" ")) {
          winmsg::SetForegroundWindow(hwnd);
          return true;
        }
        AppendCaptureLog("the client window refused the job " + s.path);
        break;
      }
    }
  }
  const std::string command = "\"" + ClientProgram() + "\" \"" + s.path + "\" /n \"" + title + "\" ";
  winmsg::HWND resident = ResidentWindow();
  if (resident == 0 || !SendCopyData(resident, static_cast<std::uintptr_t>(s.file_length & 0xFFFFFFFFu), command)) {
    // Nobody starts a client now: the job waits in the kept folder for the next client start
    // instead of being lost in the temporary folder.
    Status kept = KeepCapture(s.path, ClientProgram(), title);
    AppendCaptureLog("the resident program did not take the job " + s.path + " (" + command + "); " +
                     (kept.ok() ? "it is kept and handed over at the next client start"
                                : "it could not be kept: " + kept.ToString()));
    return false;
  }
  return true;  // the resident program keeps the job until a client has taken it
}

void FailOpen(CaptureSession& s, int error, const std::string& why) {
  s.error = error;
  AppendCaptureLog("OpenMkExe failed (error " + std::to_string(error) + "): " + why);
  ReportOutcome(s, false);
}

}  // namespace

std::string LibraryFolder() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&LibraryFolder), &info) != 0 && info.dli_fname != nullptr) {
    std::string p = info.dli_fname;
    char resolved[PATH_MAX];
    if (p.find('/') != std::string::npos && ::realpath(p.c_str(), resolved) != nullptr) p = resolved;
    auto program = paths::ProgramPath();
    const std::size_t slash = p.rfind('/');
    // The exports linked into the running program itself (as the tests link them) stand for
    // the library installed beside that program's folder.
    if (slash != std::string::npos && !(program.ok() && p == *program)) return p.substr(0, slash);
  }
  auto lib = paths::InstalledFolder(paths::kLibrariesFolder);
  return lib.ok() ? *lib : std::string();
}

Result<std::string> SafeLocalPath(std::string_view text) {
  auto local = paths::ToLocalPath(text);
  if (!local.ok()) return local.status();
  const std::string& p = *local;
  if (p.empty() || p[0] != '/') return Status::InvalidArgument("not an absolute path: " + p);
  std::size_t start = 0;
  while (start <= p.size()) {
    std::size_t end = p.find('/', start);
    if (end == std::string::npos) end = p.size();
    if (p.compare(start, end - start, "..") == 0) return Status::InvalidArgument("path climbs with ..: " + p);
    for (std::size_t i = start; i < end; ++i)
      if (static_cast<unsigned char>(p[i]) < 0x20) return Status::InvalidArgument("control character in path");
    start = end + 1;
  }
  return p;
}

void ReportOutcome(const CaptureSession& s, bool success) {
  if (s.out_kind == 0) return;
  int error = success ? 0 : (s.error == 0 ? kErrorBadInput : s.error);
  if (!s.notice.empty()) {
    auto path = SafeLocalPath(s.notice);
    if (path.ok()) {
      std::string text =
          "gifcount=" + std::to_string(success ? s.converted_pages : 0) + "\nerror=" + std::to_string(error) + "\n";
      Status st = fs::WriteFileAtomic(*path, text, 0644);
      if (!st.ok()) AppendCaptureLog("notice file not written: " + st.ToString());
    } else {
      AppendCaptureLog("notice path refused: " + path.status().ToString());
    }
  }
  if (s.status_window != 0) {
    winmsg::LPARAM code = success ? 0 : (error == kErrorTooLarge ? 2 : 3);
    (void)winmsg::SendMessageTimeout(s.status_window, winmsg::WM_USER, s.status_value, code, kSendLimit);
  }
}

void HandleControlComment(CaptureSession& s, std::span<const std::uint8_t> rec) {
  if (rec.size() < 22 || std::memcmp(rec.data() + 14, "PRC\0", 4) != 0) return;
  const std::uint16_t code = Get16(rec.data() + 12);
  const std::uint32_t value = Get32(rec.data() + 18);
  if (code == 202) {
    SendToResident(WM_PERM_RESTORESLOTS, value, 0);
    s.control_job = true;
    return;
  }
  if (code != 200 && code != 201) return;
  if (rec.size() < 26) return;
  const std::uint32_t size = Get32(rec.data() + 22);
  if (size < kRecordHeaderSize || size > rec.size() - 22) {
    AppendCaptureLog("control comment refused: its record does not fit the comment");
    return;
  }
  auto record = std::as_bytes(rec.subspan(22, size));
  Status ok = CheckStorableRecord(record);
  auto head = ReadRecordHeader(record);
  if (ok.ok() && head->kind == 0) {
    auto conv = ParseConverterRecord(record);
    // The module is later loaded by name: a path would let a document load any library.
    if (!conv.ok() || !paths::IsPlainFileName(conv->module, kMaxModuleName)) {
      ok = Status::InvalidArgument("converter module is not a plain name");
    } else if (!std::all_of(conv->extension.begin(), conv->extension.end(),
                            [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; })) {
      ok = Status::InvalidArgument("extension is not alphanumeric");
    }
  } else if (ok.ok() && head->kind == 1) {
    auto out = ParseOutputRecord(record);
    if (!out.ok() || !SafeLocalPath(out->location).ok() || (!out->notice.empty() && !SafeLocalPath(out->notice).ok())) {
      ok = Status::InvalidArgument("output or notice path is not an absolute path");
    }
    // A document may not choose which window receives the status messages.
  } else if (ok.ok() && head->kind == 3 && head->slot == 7) {
    ok = Status::InvalidArgument("the status window is not set from a document");
  }
  if (!ok.ok()) {
    AppendCaptureLog("control comment refused: " + ok.ToString());
    return;
  }
  auto block = shm::SharedBlock::Create(kTransferBlock, size);
  if (!block.ok() || block->size() < size || !block->writable()) return;
  std::memcpy(block->mutable_bytes().data(), record.data(), size);
  // The send is synchronous: the resident copies the block before it returns, so it is closed after.
  SendToResident(code == 200 ? WM_PERM_SETSLOT : WM_PERM_OVERLAYSLOT, value, size);
  block->Close();
  s.control_job = true;
}

ZvCaptureSession OpenSession(const char* document_name, const void* devmode) {
  auto s = std::make_shared<CaptureSession>();
  if (document_name == nullptr || devmode == nullptr) s->error = kErrorBadInput;
  if (document_name != nullptr) s->document_name = std::string(document_name, strnlen(document_name, 4096));

  SendToResident(WM_PERM_LOADSETTINGS, 0, 0);
  if (auto perm = shm::SharedBlock::Open(kPermanentBlock, shm::Access::kRead);
      perm.ok() && perm->size() >= kPermanentBlockSize) {
    PermanentSettings ps;
    std::memcpy(&ps, perm->bytes().data(), sizeof ps);
    s->task_combinate = ps.task_combinate;
    s->ie55_frame_off = ps.ie55_frame_off;
    s->out_kind = ps.out_kind & kSlotsWithBlocks;
    std::size_t n = ps.init_format[0] < 36 ? ps.init_format[0] : 35;
    std::memcpy(&s->format, ps.init_format, n);
  }
  if (s->out_kind != 0) {
    int slot = __builtin_ctz(s->out_kind);
    auto block = shm::SharedBlock::Open(SlotBlockName(slot, 1), shm::Access::kRead);
    auto out = block.ok() ? ParseOutputRecord(block->bytes()) : Result<OutputRecord>(block.status());
    if (!out.ok()) {
      AppendCaptureLog("OpenMkExe failed: the output block of slot " + std::to_string(slot) +
                       " cannot be read: " + out.status().ToString());
      return 0;
    }
    s->notice = out->notice;
  }
  if (s->out_kind & (1u << 7)) {
    if (auto block = shm::SharedBlock::Open(SlotBlockName(7, 3), shm::Access::kRead);
        block.ok() && block->size() >= 14) {
      s->status_window = Get32(reinterpret_cast<const std::uint8_t*>(block->bytes().data()) + 6);
      s->status_value = Get32(reinterpret_cast<const std::uint8_t*>(block->bytes().data()) + 10);
    }
  }
  if (s->error != 0) {
    FailOpen(*s, s->error, "no document name or device mode");
    return 0;
  }

  std::string folder;
  if (auto tmp = shm::SharedBlock::Open(kTempPathBlock, shm::Access::kRead); tmp.ok()) {
    folder = CText(tmp->bytes());
  }
  auto local_folder = SafeLocalPath(folder);
  auto file = local_folder.ok() ? paths::CreateTempFile(*local_folder, "WXQ", ".tmp")
                                : Result<std::string>(local_folder.status());
  if (file.ok()) {
    s->fd = ::open(file->c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    s->path = *file;
    // Held until the hand-over has been tried: a file left unlocked by a process that ended
    // is swept.
    s->lock_fd = LockCaptureFile(*file);
  }
  if (s->fd < 0 || s->lock_fd < 0) {
    if (s->fd >= 0) ::close(s->fd);
    if (s->lock_fd >= 0) ::close(s->lock_fd);
    if (file.ok()) ::unlink(file->c_str());
    FailOpen(*s, kErrorTooLarge,
             "capture file not created in '" + folder +
                 "': " + (file.ok() ? fs::ErrnoText("open", errno) : file.status().ToString()));
    return 0;
  }

  // The device mode, no further than it says it reaches.
  std::uint16_t dm_size = 0;
  std::memcpy(&dm_size, static_cast<const std::uint8_t*>(devmode) + offsetof(win::DEVMODEA, dmSize), 2);
  std::memcpy(&s->devmode, devmode, std::min<std::size_t>(dm_size, sizeof(win::DEVMODEA)));
  const win::DEVMODEA& dm = s->devmode;
  s->format.paper_code = static_cast<std::uint16_t>(dm.dmPaperSize);
  // A width under 100 mm or a length under 148 mm is taken as unset, and A4's is used.
  s->format.paper_width = static_cast<std::uint16_t>(dm.dmPaperWidth < 1000 ? 2100 : dm.dmPaperWidth);
  s->format.paper_length = static_cast<std::uint16_t>(dm.dmPaperLength < 1480 ? 2970 : dm.dmPaperLength);
  if (dm.dmOrientation == 2) s->format.flags |= jobdoc::kFormatLandscape;
  s->format.chain_offset = 0;
  if (!WriteCapture(*s, {reinterpret_cast<const std::uint8_t*>(&s->format), sizeof s->format}).ok()) {
    ::close(s->fd);
    ::close(s->lock_fd);
    ::unlink(s->path.c_str());
    FailOpen(*s, kErrorTooLarge, "capture file not writable: " + s->path);
    return 0;
  }
  // Every job is combined with a running client; the frame filter stays off.
  s->task_combinate = 1;
  s->ie55_frame_off = 0;
  s->error = kErrorNone;
  return Register(std::move(s));
}

int AddEmfPage(ZvCaptureSession id, const char* path) {
  auto s = Find(id);
  if (!s) return 0;
  s->page_delivered = true;
  if (!s->open || s->too_large) return 1;
  auto bytes = ReadPageFile(path);
  if (!bytes.ok()) {
    AppendCaptureLog("page file not read: " + bytes.status().ToString());
    SetBadInput(*s);
    return 1;
  }
  if (bytes->empty()) {
    EmptyPageFile(*s);
    return 1;
  }
  ++s->nonempty_page_calls;
  auto trailer = TrailerFromDevmode(*s);
  StoreMetafilePage(*s, {reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()}, AsBytes(trailer));
  return 1;
}

int SetEmfPages(ZvCaptureSession id, const char* path, std::uint32_t limit) {
  auto s = Find(id);
  if (!s) return 0;
  s->page_delivered = true;
  if (!s->open || s->too_large) return 1;
  auto file = ReadPageFile(path);
  if (!file.ok()) {
    AppendCaptureLog("page file not read: " + file.status().ToString());
    SetBadInput(*s);
    s->access_message = true;
    return 1;
  }
  if (file->empty()) {
    EmptyPageFile(*s);
    return 1;
  }
  ++s->nonempty_page_calls;
  std::span<const std::uint8_t> all(reinterpret_cast<const std::uint8_t*>(file->data()), file->size());
  const auto trailer = TrailerFromDevmode(*s);
  std::size_t search = 40;  // a signature sits 40 bytes into its header
  std::uint32_t pages = 0;
  while (search + 4 <= all.size() && (limit == 0 || pages < limit)) {
    static constexpr char kSignature[] = " EMF";
    auto it = std::search(all.begin() + static_cast<std::ptrdiff_t>(search), all.end(), kSignature, kSignature + 4);
    if (it == all.end()) break;
    const std::size_t header = static_cast<std::size_t>(it - all.begin()) - 40;
    const std::size_t remaining = all.size() - header;
    const std::uint32_t type = Get32(all.data() + header);
    const std::uint32_t length = remaining >= 52 ? Get32(all.data() + header + 48) : 0;
    if (type != 1 || length < 88 || length > remaining) {
      AppendCaptureLog("page refused at offset " + std::to_string(header) + " of " + path);
      SetBadInput(*s);
      return 1;
    }
    StoreMetafilePage(*s, all.subspan(header, length), AsBytes(trailer));
    if (!s->open || s->too_large) return 1;
    ++pages;
    search = header + length + 40;
  }
  s->page_written = true;
  return 1;
}

int SetDibPage(ZvCaptureSession id, const char* path) {
  auto s = Find(id);
  if (!s || !s->open) return 0;
  s->page_delivered = true;
  if (s->too_large) return 1;
  auto file = ReadPageFile(path);
  if (!file.ok()) {
    AppendCaptureLog("bitmap file not read: " + file.status().ToString());
    SetBadInput(*s);
    return 1;
  }
  if (file->empty()) {
    EmptyPageFile(*s);
    return 1;
  }
  ++s->nonempty_page_calls;
  const auto* p = reinterpret_cast<const std::uint8_t*>(file->data());
  const std::size_t n = file->size();
  std::uint32_t off_bits = n >= 14 ? Get32(p + 10) : 0;
  if (n < 14 + 40 || p[0] != 'B' || p[1] != 'M' || off_bits < 14 + 40 || off_bits > n) {
    AppendCaptureLog(std::string("not a bitmap file: ") + path);
    SetBadInput(*s);
    return 1;
  }
  gdi::DibRef dib{{p + 14, off_bits - 14}, {p + off_bits, n - off_bits}, win::DIB_RGB_COLORS};
  auto decoded = gdi::DecodeDib(dib);
  if (!decoded.ok()) {
    AppendCaptureLog("bitmap refused: " + decoded.status().ToString());
    SetBadInput(*s);
    return 1;
  }
  const int w = decoded->width, h = decoded->height;
  const int pw = s->format.paper_width, pl = s->format.paper_length;
  gdi::MetafileRecorder::Options o;
  o.device = {w, h};
  o.millimeters = {std::max(1, pw / 10), std::max(1, pl / 10)};
  o.frame = win::RECTL{0, 0, pw * 10, pl * 10};
  gdi::MetafileRecorder rec(o);
  rec.StretchDIBits(0, 0, w, h, 0, 0, w, h, dib, win::SRCCOPY);
  auto bytes = rec.Close();
  if (!bytes.ok()) {
    SetTooLarge(*s);
    return 1;
  }
  const win::RECTL bounds{0, 0, w, h};
  std::memcpy(bytes->data() + 8, &bounds, sizeof bounds);
  const auto trailer = TrailerFromDevmode(*s);
  WritePage(*s, *bytes, AsBytes(trailer));
  return 1;
}

int OutEmfPage(const ZvOutEmfRecord* record) {
  if (record == nullptr) return 1;
  ZvOutEmfRecord r;
  std::memcpy(&r, record, sizeof r);
  auto s = Find(r.session);
  if (!s) return 1;
  s->page_delivered = true;
  if (!s->open || s->too_large) return 0;
  ++s->nonempty_page_calls;
  auto bits = r.metafile != 0 ? gdi::GetEnhMetaFileBits(r.metafile) : nullptr;
  if (!bits) {
    AppendCaptureLog("OutEMF without a metafile");
    SetBadInput(*s);
    return 0;
  }
  StoreMetafilePage(*s, *bits, {reinterpret_cast<const std::uint8_t*>(&r), sizeof r});
  return 0;
}

int EndSession(ZvCaptureSession id) {
  auto s = Take(id);
  if (!s) return 1;
  struct Unlock {
    int fd;
    ~Unlock() {
      if (fd >= 0) ::close(fd);
    }
  } unlock{std::exchange(s->lock_fd, -1)};
  const int fd = std::exchange(s->fd, -1);
  // A failed close can mean data never reached the disk: such a file is not handed on.
  if (::close(fd) != 0) {
    AppendCaptureLog("capture file not closed: " + s->path);
    ::unlink(s->path.c_str());
    return 0;
  }
  if (s->control_job || !s->page_delivered) {
    ::unlink(s->path.c_str());
    return 0;
  }
  if (s->out_kind == 0) {
    if (s->page_written && s->open) {
      if (s->too_large) AppendCaptureLog(std::string(kTooLargeText) + " (" + s->path + ")");
      HandOver(*s);
    } else {
      AppendCaptureLog(std::string(s->access_message ? kAccessText : kBadInputText) + " (" + s->path + ")");
    }
    return 0;
  }
  if (s->page_written && s->open && !s->too_large) {
    if (RunConversions(*s) == 0) {
      ReportOutcome(*s, true);
      ::unlink(s->path.c_str());
      return 0;
    }
  }
  AppendCaptureLog("conversion failed (error " + std::to_string(s->error == 0 ? kErrorBadInput : s->error) +
                   "); the capture file stays: " + s->path);
  ReportOutcome(*s, false);
  return 0;
}

}  // namespace zv::capture
