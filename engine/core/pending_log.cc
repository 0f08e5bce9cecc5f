#include "engine/core/pending_log.h"

#include <stdio.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>

#include "engine/core/own_folder.h"
#include "platform/base/ascii.h"
#include "platform/base/root.h"
#include "platform/fs/files.h"
#include "platform/paths/paths.h"

namespace zv::engine {
namespace fsys = std::filesystem;
namespace {

std::string Escape(const std::string& s) {
  std::string o;
  for (char c : s) {
    switch (c) {
      case '\\':
        o += "\\\\";
        break;
      case '\t':
        o += "\\t";
        break;
      case '\n':
        o += "\\n";
        break;
      case '\r':
        o += "\\r";
        break;
      default:
        o += c;
    }
  }
  return o;
}

bool Unescape(const std::string& s, std::string* out) {
  out->clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      *out += s[i];
      continue;
    }
    if (++i >= s.size()) return false;
    switch (s[i]) {
      case '\\':
        *out += '\\';
        break;
      case 't':
        *out += '\t';
        break;
      case 'n':
        *out += '\n';
        break;
      case 'r':
        *out += '\r';
        break;
      default:
        return false;
    }
  }
  return true;
}

bool ToInt(const std::string& s, int32_t* v) {
  if (s.empty() || s.size() > 11) return false;
  size_t i = s[0] == '-' ? 1 : 0;
  if (i == s.size()) return false;
  long long x = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    x = x * 10 + (s[i] - '0');
  }
  if (s[0] == '-') x = -x;
  if (x < INT32_MIN || x > INT32_MAX) return false;
  *v = static_cast<int32_t>(x);
  return true;
}

// A kept file holds the rows of one print, a short line each; a file beyond this is
// no file the engine wrote and is not read into memory.
constexpr size_t kMaxKeptFileBytes = 16u << 20;

// The folder of kept and held rows, made where missing: for writing rows there.
Result<std::string> PendingFolder() { return paths::RootFolder("engine/pending-printlog"); }
// The same folder for reading and moving rows, not made: a folder that is not there holds
// no rows, and the calls to make it would be spent at every look.
Result<std::string> PendingPath() { return RuntimeRoot() + "/engine/pending-printlog"; }

// The folder's files as this process wrote and removed them (listed once).
OwnFolderIndex pending_index;

// Stores of kept rows follow each other; the identities of the files removed since their
// rows were stored, to be deleted from the database with the next rows stored.
std::mutex store_lock;
std::vector<std::string> forget_ids;
constexpr size_t kForgetBatch = 32;

std::atomic<void (*)(const char*)> step_hook{nullptr};
void Step(const char* step) {
  if (auto hook = step_hook.load()) hook(step);
}

// The identity of a kept file written without one: its name (the time it was kept, the
// process and a counter) with the machine's name.
std::string LegacyKeptId(const std::string& file_name) {
  char host[65] = {};
  (void)::gethostname(host, sizeof host - 1);
  std::string id = std::string("file-") + std::string(host).substr(0, 40) + "-" + file_name;
  return id.substr(0, CZvmDatbase::kKeptIdMax);
}

// Takes the folder and an extension; gives the paths of its files with that extension, in
// order (oldest first: names begin with the time they were kept).
std::vector<fsys::path> PendingFiles(const std::string& dir, const std::string& extension) {
  std::vector<fsys::path> out;
  for (const std::string& name : pending_index.Names(dir))
    if (fsys::path(name).extension() == extension) out.push_back(fsys::path(dir) / name);
  return out;
}

}  // namespace

std::string FormatPendingRows(const std::vector<PrintLogRecord>& rows) {
  std::string t;
  for (const auto& r : rows) {
    t += std::to_string(r.UID) + "\t" + std::to_string(r.PID) + "\t" + std::to_string(r.PDate) + "\t" +
         std::to_string(r.PTime) + "\t" + Escape(r.JobName) + "\t" + Escape(r.SpoolName) + "\t" +
         std::to_string(r.Pages) + "\t" + std::to_string(r.Ptype) + "\t" + std::to_string(r.ThumbnailCount) + "\t" +
         std::to_string(r.PaperSize) + "\t" + std::to_string(r.JobPages) + "\t" + Escape(r.Account) + "\n";
  }
  return t;
}

namespace {
constexpr char kKeptLine[] = "#kept\t";

// An identity is 1 to 64 ASCII letters and digits.
bool IsPlainId(const std::string& id) {
  if (id.empty() || id.size() > 64) return false;
  for (char c : id)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
  return true;
}
}  // namespace

std::string FormatKeptFile(const KeptFile& file) { return kKeptLine + file.id + "\n" + FormatPendingRows(file.rows); }

Result<KeptFile> ParseKeptFile(const std::string& text) {
  KeptFile file;
  size_t start = 0;
  if (text.starts_with(kKeptLine)) {
    size_t eol = text.find('\n');
    if (eol == std::string::npos) return Status::Corruption("unfinished identity line");
    file.id = text.substr(sizeof kKeptLine - 1, eol - (sizeof kKeptLine - 1));
    if (!IsPlainId(file.id)) return Status::Corruption("bad identity line");
    start = eol + 1;
  }
  auto rows = ParsePendingRows(text.substr(start));
  if (!rows.ok()) return rows.status();
  file.rows = std::move(*rows);
  return file;
}

std::string NewKeptId() {
  unsigned char bytes[16] = {};
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n > 0) got += static_cast<size_t>(n);
    else if (n < 0 && errno != EINTR) break;
  }
  if (got < sizeof bytes) {
    // No random source: the time, the process and a counter are still unique on this
    // machine, and the host name sets machines apart.
    static std::atomic<unsigned> seq{0};
    char host[64] = {};
    (void)::gethostname(host, sizeof host - 1);
    const uint64_t mix = static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) ^
                         (static_cast<uint64_t>(::getpid()) << 40) ^ seq++ ^ std::hash<std::string>{}(host);
    for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] ^= static_cast<unsigned char>(mix >> (8 * (i % 8)) ^ i);
  }
  static const char kHex[] = "0123456789abcdef";
  std::string id;
  for (unsigned char b : bytes) {
    id += kHex[b >> 4];
    id += kHex[b & 15];
  }
  return id;
}

Result<std::vector<PrintLogRecord>> ParsePendingRows(const std::string& text) {
  std::vector<PrintLogRecord> rows;
  size_t pos = 0;
  int line_no = 0;
  // The identity line of a kept file is not a row.
  if (text.starts_with(kKeptLine)) {
    pos = text.find('\n');
    pos = pos == std::string::npos ? text.size() : pos + 1;
  }
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) return Status::Corruption("unfinished line " + std::to_string(line_no + 1));
    std::string line = text.substr(pos, eol - pos);
    pos = eol + 1;
    ++line_no;
    std::vector<std::string> f;
    size_t s = 0;
    for (;;) {
      size_t t = line.find('\t', s);
      f.push_back(line.substr(s, t == std::string::npos ? std::string::npos : t - s));
      if (t == std::string::npos) break;
      s = t + 1;
    }
    PrintLogRecord r;
    // Rows kept before the account was recorded have 11 fields.
    bool ok = (f.size() == 11 || f.size() == 12) && ToInt(f[0], &r.UID) && ToInt(f[1], &r.PID) &&
              ToInt(f[2], &r.PDate) && ToInt(f[3], &r.PTime) && Unescape(f[4], &r.JobName) &&
              Unescape(f[5], &r.SpoolName) && ToInt(f[6], &r.Pages) && ToInt(f[7], &r.Ptype) &&
              ToInt(f[8], &r.ThumbnailCount) && ToInt(f[9], &r.PaperSize) && ToInt(f[10], &r.JobPages) &&
              (f.size() == 11 || Unescape(f[11], &r.Account));
    if (!ok) return Status::Corruption("bad print-log line " + std::to_string(line_no));
    rows.push_back(std::move(r));
  }
  return rows;
}

namespace {
// A fresh name in the folder, ordered by time: "<microseconds>-<pid>-<n><extension>".
std::string FreshName(const char* extension) {
  static std::atomic<unsigned> seq{0};
  auto now = std::chrono::system_clock::now().time_since_epoch();
  return std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(now).count()) + "-" +
         std::to_string(getpid()) + "-" + std::to_string(seq++) + extension;
}

constexpr char kHeld[] = ".held";

Result<std::string> HeldPath(const std::string& name) {
  if (name.size() <= sizeof kHeld - 1 || name.compare(name.size() - (sizeof kHeld - 1), std::string::npos, kHeld) != 0)
    return Status::InvalidArgument("not held rows: " + name);
  auto dir = PendingPath();
  if (!dir.ok()) return dir.status();
  return paths::JoinInside(*dir, name);
}
}  // namespace

Status SavePendingRows(const std::vector<PrintLogRecord>& rows) {
  auto dir = PendingFolder();
  if (!dir.ok()) return dir.status();
  // Synced (the default): these rows are the only record of pages already printed, and a
  // power loss must not give them back to the user's quota.
  const std::string name = FreshName(".tsv");
  Status s = fs::WriteFileAtomic(*dir + "/" + name, FormatKeptFile({NewKeptId(), rows}), 0600);
  if (s.ok()) pending_index.Added(*dir, name);
  return s;
}

int64_t KeptPageTotal(int32_t uid, int kind, const PeriodDays& days) {
  auto dir = PendingPath();
  if (!dir.ok()) return 0;
  int64_t total = 0;
  for (const fsys::path& file : PendingFiles(*dir, ".tsv")) {
    auto text = fs::ReadFile(file.string(), kMaxKeptFileBytes);
    auto rows = text.ok() ? ParsePendingRows(*text) : Result<std::vector<PrintLogRecord>>(text.status());
    if (!rows.ok()) continue;
    for (const PrintLogRecord& r : *rows) {
      if (r.UID != uid || r.Ptype != kind) continue;
      bool in = days.form == PeriodDays::kRange   ? r.PDate >= days.first && r.PDate <= days.last
                : days.form == PeriodDays::kOnDay ? r.PDate == days.last
                                                  : r.PDate <= days.last;
      if (in) total += r.Pages;
    }
  }
  return total;
}

bool PeriodPagesUsedByKind(CZvmDatbase& db, int32_t period_index, int32_t days, int32_t limit_date,
                           const std::string& account, int32_t uid, int64_t* mono, int64_t* color) {
  int64_t m = 0, c = 0;
  if (!GetPeriodPageTotals(db, period_index, days, limit_date, account, &m, &c)) return false;
  const PeriodDays period = PeriodSumDays(period_index, days, limit_date);
  *mono = m + KeptPageTotal(uid, kMonoPages, period);
  *color = c + KeptPageTotal(uid, kColorPages, period);
  return true;
}

bool PeriodPagesUsed(CZvmDatbase& db, int32_t period_index, int32_t days, int32_t limit_date,
                     const std::string& account, int32_t uid, int kind, int64_t* pages) {
  int64_t stored = 0;
  if (!GetPeriodPageTotal(db, period_index, days, limit_date, account, kind, &stored)) return false;
  *pages = stored + KeptPageTotal(uid, kind, PeriodSumDays(period_index, days, limit_date));
  return true;
}

bool PeriodPagesUsedAndDupCheck(CZvmDatbase& db, int32_t period_index, int32_t days, int32_t limit_date,
                                const std::string& account, int32_t uid, int kind, int64_t* pages,
                                const DuplicateSearch& search, PrintLogRecord* row, bool* found) {
  int64_t stored = 0;
  if (!GetPeriodPageTotalAndDupCheck(db, period_index, days, limit_date, account, kind, &stored, search, row, found))
    return false;
  *pages = stored + KeptPageTotal(uid, kind, PeriodSumDays(period_index, days, limit_date));
  return true;
}

Result<std::string> HoldRows(const std::vector<PrintLogRecord>& rows) {
  auto dir = PendingFolder();
  if (!dir.ok()) return dir.status();
  std::string name = FreshName(kHeld);
  // Held rows only guard against the engine's own death between the print and the charge;
  // a flush per request would cost more than it saves.
  Status s =
      fs::WriteFileAtomic(*dir + "/" + name, FormatKeptFile({NewKeptId(), rows}), 0600, fs::Durability::kProcessSafe);
  if (!s.ok()) return s;
  pending_index.Added(*dir, name);
  return name;
}

Status RewriteHeldRows(const std::string& name, const std::vector<PrintLogRecord>& rows) {
  auto path = HeldPath(name);
  if (!path.ok()) return path.status();
  auto held = fs::ReadFile(*path, kMaxKeptFileBytes);
  if (!held.ok())
    return held.status().code() == Status::Code::kNotFound ? Status::NotFound("held rows gone: " + name)
                                                           : held.status();
  // The rows keep the identity they were held with.
  auto before = ParseKeptFile(*held);
  std::string text = FormatKeptFile({before.ok() && !before->id.empty() ? before->id : NewKeptId(), rows});
  if (*held == text) return Status::Ok();
  return fs::WriteFileAtomic(*path, text, 0600, fs::Durability::kProcessSafe);
}

Status ChargeHeldRows(const std::string& name) {
  auto path = HeldPath(name);
  if (!path.ok()) return path.status();
  std::string to = path->substr(0, path->size() - (sizeof kHeld - 1)) + ".tsv";
  // One rename charges them: an engine that stops before or after it finds either held or
  // kept rows at its next start, never both, so a job is charged once.
  if (::rename(path->c_str(), to.c_str()) != 0) {
    int e = errno;
    if (e == ENOENT) return Status::NotFound("held rows gone: " + name);
    return Status::IOError(fs::ErrnoText("rename " + *path, e));
  }
  const fsys::path charged(to);
  pending_index.Removed(charged.parent_path().string(), name);
  pending_index.Added(charged.parent_path().string(), charged.filename().string());
  return Status::Ok();
}

void DropHeldRows(const std::string& name) {
  auto path = HeldPath(name);
  if (!path.ok()) return;
  ::unlink(path->c_str());
  pending_index.Removed(fsys::path(*path).parent_path().string(), name);
}

void SetKeptRowsStepHook(void (*hook)(const char*)) { step_hook = hook; }

bool HasPendingRows() {
  auto dir = PendingPath();
  return dir.ok() && !PendingFiles(*dir, ".tsv").empty();
}

namespace {

// Drops the rows whose UID no longer belongs to the account they were kept with (the user
// was deleted and the UID given to another), listing them in *dropped. False when the
// users cannot be read.
bool DropForeignRows(CZvmDatbase& db, std::vector<PrintLogRecord>* rows, std::vector<std::string>* dropped,
                     const UserRecord* known) {
  std::map<std::pair<int32_t, std::string>, bool> owner_ok;
  for (const auto& r : *rows) {
    if (r.Account.empty() || owner_ok.count({r.UID, r.Account})) continue;
    if (known && known->UID == r.UID && !known->Account.empty() && EqualsNoCase(known->Account, r.Account)) {
      owner_ok[{r.UID, r.Account}] = true;
      continue;
    }
    std::vector<UserRecord> users;
    if (!db.GetUserInfo(&users, r.UID, -1)) return false;
    owner_ok[{r.UID, r.Account}] = !users.empty() && EqualsNoCase(users.front().Account, r.Account);
  }
  std::vector<PrintLogRecord> keep;
  for (auto& r : *rows) {
    if (r.Account.empty() || owner_ok[{r.UID, r.Account}]) {
      keep.push_back(std::move(r));
    } else if (dropped) {
      dropped->push_back("UID " + std::to_string(r.UID) + " (" + r.Account + "): " + std::to_string(r.Pages) +
                         " pages of " + std::to_string(r.PDate) + " \"" + r.JobName + "\"");
    }
  }
  *rows = std::move(keep);
  return true;
}

}  // namespace

int StorePendingRows(CZvmDatbase& db, std::vector<std::string>* errors, std::vector<std::string>* dropped,
                     const UserRecord* known) {
  auto dir = PendingPath();
  if (!dir.ok()) return 0;
  std::lock_guard<std::mutex> hold(store_lock);
  // Oldest first (names begin with the time they were kept), so the print log keeps its
  // order; the first refusal ends the round, the rest waiting for the next one.
  const std::vector<fsys::path> files = PendingFiles(*dir, ".tsv");
  std::error_code ec;
  int stored = 0;
  for (const auto& f : files) {
    auto text = fs::ReadFile(f.string(), kMaxKeptFileBytes);
    if (!text.ok() && text.status().code() == Status::Code::kNotFound) {
      pending_index.Removed(*dir, f.filename().string());
      continue;
    }
    auto kept = text.ok() ? ParseKeptFile(*text) : Result<KeptFile>(text.status());
    if (!kept.ok()) {
      // A damaged file would be refused at every round: set aside for the administrator.
      const fsys::path bad = fsys::path(f).replace_extension(".bad");
      fsys::rename(f, bad, ec);
      if (!ec) {
        pending_index.Removed(*dir, f.filename().string());
        pending_index.Added(*dir, bad.filename().string());
      }
      continue;
    }
    // A file kept before files had an identity is known by its name on this machine.
    const std::string id = kept->id.empty() ? LegacyKeptId(f.filename().string()) : kept->id;
    std::vector<PrintLogRecord>& rows = kept->rows;
    if (!DropForeignRows(db, &rows, dropped, known)) {
      if (errors) *errors = db.ErrorLines;
      break;
    }
    bool inserted = false;
    if (!rows.empty()) {
      Step("log-inserting");
      bool already = false;
      // Identities of removed files are deleted a batch at a time, with the rows stored.
      const bool forget = forget_ids.size() >= kForgetBatch;
      if (!db.InsertKeptPrintLog(rows, id, forget ? forget_ids : std::vector<std::string>{}, &already)) {
        if (errors) *errors = db.ErrorLines;
        break;
      }
      if (forget) forget_ids.clear();
      inserted = true;
      Step("log-committed");
    }
    Step("log-unlinking");
    fsys::remove(f, ec);
    if (!ec) {
      pending_index.Removed(*dir, f.filename().string());
      // Its identity is no longer needed once the file is gone: deleted with rows stored
      // later. Those an engine that stopped meant to delete stay, a small row each.
      if (inserted) forget_ids.push_back(id);
    }
    Step("log-unlinked");
    ++stored;
  }
  return stored;
}

}  // namespace zv::engine
