#include "platform/spool/folder_spooler.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/base/root.h"
#include "platform/fs/files.h"
#include "platform/spool/internal/kv_file.h"
#include "platform/spool/internal/spool_cache.h"
#include "platform/spool/media.h"

namespace zv::spool {

namespace fs = std::filesystem;
using internal::EscapeValue;
using internal::KvLine;
using internal::ParseInt;
using internal::ReadKvFile;

Status WriteFileAtomic(const fs::path& path, const std::string& content) {
  return zv::fs::WriteFileAtomic(path.string(), content);
}

// An exclusive lock on a lock file; not held when the file cannot be opened.
class FileLock {
 public:
  explicit FileLock(const fs::path& path) {
    auto lock = zv::fs::FileLock::Acquire(path.string());
    if (lock.ok()) lock_ = std::move(*lock);
  }
  bool ok() const { return lock_.held(); }

 private:
  zv::fs::FileLock lock_;
};

namespace {

constexpr const char* kDescription = "printer.ini";
constexpr std::uint64_t kMaxPdfBytes = std::uint64_t(4) << 30;

std::string Hex(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", v);
  return buf;
}

std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (auto b : bytes) {
    s += d[b >> 4];
    s += d[b & 15];
  }
  return s;
}

std::optional<std::vector<std::uint8_t>> ParseHexBytes(const std::string& s) {
  // The driver's private bytes are counted by a 16-bit field of the device mode, so more than
  // 0xFFFF of them could never be carried to a job.
  if (s.size() % 2 != 0 || s.size() > 2 * 0xFFFF) return std::nullopt;
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < s.size(); i += 2) {
    auto v = ParseInt("0x" + s.substr(i, 2), 0, 255);
    if (!v) return std::nullopt;
    out.push_back(static_cast<std::uint8_t>(*v));
  }
  return out;
}

std::vector<std::string> Split(const std::string& s, char sep, std::size_t max_parts = 0) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (true) {
    if (max_parts && out.size() + 1 == max_parts) {
      out.push_back(s.substr(start));
      break;
    }
    auto p = s.find(sep, start);
    if (p == std::string::npos) {
      out.push_back(s.substr(start));
      break;
    }
    out.push_back(s.substr(start, p - start));
    start = p + 1;
  }
  for (auto& part : out) {
    auto b = part.find_first_not_of(' ');
    auto e = part.find_last_not_of(' ');
    part = b == std::string::npos ? std::string() : part.substr(b, e - b + 1);
  }
  return out;
}

std::optional<Resolution> ParseResolution(const std::string& s) {
  auto parts = Split(s, 'x');
  if (parts.size() == 1) parts.push_back(parts[0]);
  if (parts.size() != 2) return std::nullopt;
  // Resolutions travel in the device mode's signed 16-bit fields.
  auto x = ParseInt(parts[0], 1, 32767);
  auto y = ParseInt(parts[1], 1, 32767);
  if (!x || !y) return std::nullopt;
  return Resolution{static_cast<std::int32_t>(*x), static_cast<std::int32_t>(*y)};
}

std::string FormatResolution(const Resolution& r) { return std::to_string(r.x) + "x" + std::to_string(r.y); }

// A folder name for a printer: the name's safe characters, others as '_'.
std::string SafeFolderName(const std::string& name) {
  std::string out;
  for (unsigned char c : name) {
    out += (std::isalnum(c) || c == '-' || c == '_' || c == ' ') ? char(c) : '_';
  }
  // A leading dot would hide the folder from listings (or name "." / ".."); the length cap keeps
  // the folder name well inside the 255-byte limit of one path component.
  if (out.empty() || out[0] == '.') out.insert(0, "p");
  if (out.size() > 100) out.resize(100);
  return out;
}

std::string CurrentUser() {
  if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name) return pw->pw_name;
  if (const char* u = std::getenv("USER"); u && *u) return u;
  return "unknown";
}

std::string HostName() {
  char buf[256] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0) return "localhost";
  return buf;
}

std::int64_t NowUnixMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

fs::path JobFile(const fs::path& dir, std::uint32_t id) { return dir / "jobs" / (std::to_string(id) + ".job"); }
fs::path JobPdf(const fs::path& dir, std::uint32_t id) { return dir / "jobs" / (std::to_string(id) + ".pdf"); }

std::string FormatJob(const JobInfo& j) {
  std::ostringstream o;
  auto kv = [&](const char* k, const std::string& v) { o << k << '=' << EscapeValue(v) << '\n'; };
  kv("id", std::to_string(j.id));
  kv("printer", j.printer);
  kv("document", j.document);
  kv("owner", j.owner);
  kv("machine", j.machine);
  kv("submitted_ms", std::to_string(j.submitted_unix_ms));
  kv("state", JobStateName(j.state));
  kv("pages", std::to_string(j.total_pages));
  kv("pages_printed", std::to_string(j.pages_printed));
  kv("size", std::to_string(j.size));
  const JobOptions& p = j.options;
  kv("paper", std::to_string(p.paper));
  kv("paper_name", p.paper_name);
  kv("paper_width", std::to_string(p.paper_width));
  kv("paper_length", std::to_string(p.paper_length));
  kv("margins", std::to_string(p.margin_left) + "," + std::to_string(p.margin_top) + "," +
                    std::to_string(p.margin_right) + "," + std::to_string(p.margin_bottom));
  kv("orientation", std::to_string(p.orientation));
  kv("copies", std::to_string(p.copies));
  kv("collate", p.collate ? "1" : "0");
  kv("duplex", std::to_string(p.duplex));
  kv("color", p.color ? "1" : "0");
  kv("resolution", FormatResolution(p.resolution));
  return o.str();
}

constexpr std::size_t kMaxJobRecordBytes = 64 * 1024;

// Takes a job record's text and its file (for errors); gives the job.
Result<JobInfo> ParseJob(const std::string& text, const fs::path& file) {
  auto lines = internal::ParseKvText(text, file);
  if (!lines.ok()) return lines.status();
  JobInfo j;
  bool have_id = false, have_state = false;
  auto bad = [&](const KvLine& l) {
    return Status::Corruption(file.string() + ":" + std::to_string(l.line) + ": bad value for " + l.key);
  };
  for (const auto& l : *lines) {
    const std::string& v = l.value;
    auto num = [&](std::int64_t lo, std::int64_t hi) { return ParseInt(v, lo, hi); };
    if (l.key == "id") {
      auto n = num(1, UINT32_MAX);
      if (!n) return bad(l);
      j.id = static_cast<std::uint32_t>(*n);
      have_id = true;
    } else if (l.key == "printer") {
      j.printer = v;
    } else if (l.key == "document") {
      j.document = v;
    } else if (l.key == "owner") {
      j.owner = v;
    } else if (l.key == "machine") {
      j.machine = v;
    } else if (l.key == "submitted_ms") {
      auto n = num(0, INT64_MAX);
      if (!n) return bad(l);
      j.submitted_unix_ms = *n;
    } else if (l.key == "state") {
      auto s = ParseJobState(v);
      if (!s) return bad(l);
      j.state = *s;
      have_state = true;
    } else if (l.key == "pages" || l.key == "pages_printed") {
      auto n = num(0, UINT32_MAX);
      if (!n) return bad(l);
      (l.key == "pages" ? j.total_pages : j.pages_printed) = static_cast<std::uint32_t>(*n);
    } else if (l.key == "size") {
      auto n = num(0, INT64_MAX);
      if (!n) return bad(l);
      j.size = static_cast<std::uint64_t>(*n);
    } else if (l.key == "paper") {
      auto n = num(INT16_MIN, INT16_MAX);
      if (!n) return bad(l);
      j.options.paper = static_cast<win::SHORT>(*n);
    } else if (l.key == "paper_name") {
      j.options.paper_name = v;
    } else if (l.key == "paper_width" || l.key == "paper_length") {
      auto n = num(0, INT32_MAX);
      if (!n) return bad(l);
      (l.key == "paper_width" ? j.options.paper_width : j.options.paper_length) = static_cast<std::int32_t>(*n);
    } else if (l.key == "margins") {
      auto parts = Split(v, ',');
      if (parts.size() != 4) return bad(l);
      std::int32_t* m[] = {&j.options.margin_left, &j.options.margin_top, &j.options.margin_right,
                           &j.options.margin_bottom};
      for (int i = 0; i < 4; ++i) {
        auto n = ParseInt(parts[i], 0, INT32_MAX);
        if (!n) return bad(l);
        *m[i] = static_cast<std::int32_t>(*n);
      }
    } else if (l.key == "orientation" || l.key == "duplex") {
      auto n = num(1, 3);
      if (!n) return bad(l);
      (l.key == "orientation" ? j.options.orientation : j.options.duplex) = static_cast<win::SHORT>(*n);
    } else if (l.key == "copies") {
      auto n = num(1, 32767);
      if (!n) return bad(l);
      j.options.copies = static_cast<int>(*n);
    } else if (l.key == "collate" || l.key == "color") {
      auto n = num(0, 1);
      if (!n) return bad(l);
      (l.key == "collate" ? j.options.collate : j.options.color) = *n != 0;
    } else if (l.key == "resolution") {
      auto r = ParseResolution(v);
      if (!r) return bad(l);
      j.options.resolution = *r;
    }
  }
  if (!have_id || !have_state) return Status::Corruption(file.string() + ": job record lacks id or state");
  j.status = StatusBitsFor(j.state);
  j.submitted = SystemTimeFromUnixMs(j.submitted_unix_ms);
  return j;
}

Result<JobInfo> ReadJob(const fs::path& file) {
  auto text = zv::fs::ReadFile(file.string(), kMaxJobRecordBytes);
  if (!text.ok()) return text.status();
  return ParseJob(*text, file);
}

// The first line of a small file's text (a printer's name, a counter), without its line end.
Result<std::string> FirstLine(const std::string& text, const fs::path&) {
  std::string line = text.substr(0, text.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

Result<std::string> ReadFirstLine(const fs::path& file) {
  auto text = zv::fs::ReadFile(file.string(), 64 * 1024);
  if (!text.ok()) return text.status();
  return FirstLine(*text, file);
}

// Replaces a file the cache keeps (a job record, the job counter) while the caller holds the
// lock that every writer of it takes; what was written is then kept as the file's value when
// the watch shows no other change to it came in between.
template <typename T, typename Parse>
Status WriteKept(internal::SpoolCache& cache, std::map<std::string, internal::CacheEntry<T>>& entries,
                 const fs::path& file, const std::string& text, Parse&& parse) {
  const std::uint64_t token = cache.Writing(file);
  Status st = WriteFileAtomic(file, text);
  if (st.ok()) cache.Wrote(entries, file, parse(text, file), token);
  return st;
}

// Reads, changes and rewrites a job record under the printer's job lock. The record is read
// through the cache once the lock is held: every write before it was taken is known then.
template <typename Fn>
Status UpdateJob(internal::SpoolCache& cache, const fs::path& dir, std::uint32_t id, Fn&& change) {
  auto lock = cache.Lock(dir / "jobs" / ".lock");
  if (!lock.ok()) return Status::IOError("cannot lock the job folder of " + dir.string());
  auto job = cache.Read(cache.job_records, JobFile(dir, id), ReadJob, internal::SpoolCache::Trust::kWatchOnly);
  if (!job.ok()) return job.status();
  change(*job);
  return WriteKept(cache, cache.job_records, JobFile(dir, id), FormatJob(*job), ParseJob);
}

// Takes a printer's folder and a job id; removes what the job left besides its record: its
// PDF, the PDF's copy on its way in, and records half-written by a writer that died (those
// are named ".<id>.job.tmp..."). A cancelled job leaves nothing printed behind.
void RemoveJobOutput(const fs::path& dir, std::uint32_t id) {
  std::error_code ec;
  fs::path pdf = JobPdf(dir, id);
  fs::remove(pdf, ec);
  fs::path tmp = pdf;
  tmp += ".tmp";
  fs::remove(tmp, ec);
  FileLock lock(dir / "jobs" / ".lock");  // no live record write has a temporary file then
  if (!lock.ok()) return;
  const std::string prefix = "." + std::to_string(id) + ".job.tmp";
  for (const auto& e : fs::directory_iterator(dir / "jobs", ec))
    if (e.path().filename().string().rfind(prefix, 0) == 0) fs::remove(e.path(), ec);
}

bool LooksLikePdf(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  char head[5] = {};
  in.read(head, 5);
  return in.gcount() == 5 && std::memcmp(head, "%PDF-", 5) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Descriptions

std::string FormatFolderPrinter(const FolderPrinter& p) {
  std::ostringstream o;
  auto kv = [&](const char* k, const std::string& v) { o << k << '=' << EscapeValue(v) << '\n'; };
  o << "# Folder printer: each job lands in jobs/ as a PDF and a job record.\n";
  kv("name", p.info.name);
  kv("port", p.info.port);
  kv("driver", p.info.driver);
  kv("comment", p.info.comment);
  kv("location", p.info.location);
  kv("attributes", Hex(p.info.attributes));
  kv("status", Hex(p.info.status));
  kv("accepting", p.info.accepting ? "1" : "0");
  const Capabilities& c = p.caps;
  kv("color", c.color ? "1" : "0");
  kv("duplex", c.duplex ? "1" : "0");
  kv("collate", c.collate ? "1" : "0");
  kv("copies", std::to_string(c.max_copies));
  std::string res;
  for (const auto& r : c.resolutions) res += (res.empty() ? "" : ",") + FormatResolution(r);
  kv("resolutions", res);
  kv("default_resolution", FormatResolution(c.default_resolution));
  kv("default_paper", std::to_string(c.default_paper));
  kv("default_orientation", std::to_string(c.default_orientation));
  kv("default_color", c.default_color ? "1" : "0");
  kv("default_duplex", std::to_string(c.default_duplex));
  kv("devmode_version", Hex(c.devmode_version));
  kv("driver_version", Hex(c.driver_version));
  kv("driver_extra", HexBytes(c.default_extra));
  for (const auto& pa : c.papers) {
    kv("paper", std::to_string(pa.code) + "," + std::to_string(pa.width) + "," + std::to_string(pa.length) + "," +
                    std::to_string(pa.left) + "," + std::to_string(pa.top) + "," + std::to_string(pa.right) + "," +
                    std::to_string(pa.bottom) + "," + pa.name);
  }
  return o.str();
}

FolderPrinter StandardFolderPrinter(const std::string& name) {
  FolderPrinter p;
  p.info.name = name;
  p.info.port = "FILE:";
  p.info.driver = "Zelvora Folder Printer";
  Capabilities& c = p.caps;
  for (win::SHORT code : {9, 8, 12, 13, 1, 5}) {
    const MediaEntry* m = MediaByCode(code);
    c.papers.push_back({code, m->name, m->width, m->length, 42, 42, 42, 42});
  }
  c.resolutions = {{300, 300}, {600, 600}};
  c.default_resolution = {600, 600};
  c.color = true;
  c.default_color = true;
  c.duplex = true;
  c.collate = true;
  c.max_copies = 999;
  c.default_paper = 9;
  return p;
}

Result<FolderPrinter> ParseFolderPrinter(const fs::path& file) {
  auto lines = ReadKvFile(file);
  if (!lines.ok()) return lines.status();
  FolderPrinter p;
  Capabilities& c = p.caps;
  bool have_default_res = false;
  for (const auto& l : *lines) {
    const std::string& v = l.value;
    auto bad = [&] {
      return Status::Corruption(file.string() + ":" + std::to_string(l.line) + ": bad value for " + l.key);
    };
    auto flag = [&](bool& out) -> bool {
      auto n = ParseInt(v, 0, 1);
      if (!n) return false;
      out = *n != 0;
      return true;
    };
    if (l.key == "name") {
      p.info.name = v;
    } else if (l.key == "port") {
      p.info.port = v;
    } else if (l.key == "driver") {
      p.info.driver = v;
    } else if (l.key == "comment") {
      p.info.comment = v;
    } else if (l.key == "location") {
      p.info.location = v;
    } else if (l.key == "attributes" || l.key == "status") {
      auto n = ParseInt(v, 0, UINT32_MAX);
      if (!n) return bad();
      (l.key == "attributes" ? p.info.attributes : p.info.status) = static_cast<std::uint32_t>(*n);
    } else if (l.key == "accepting") {
      if (!flag(p.info.accepting)) return bad();
    } else if (l.key == "color") {
      if (!flag(c.color)) return bad();
    } else if (l.key == "duplex") {
      if (!flag(c.duplex)) return bad();
    } else if (l.key == "collate") {
      if (!flag(c.collate)) return bad();
    } else if (l.key == "default_color") {
      if (!flag(c.default_color)) return bad();
    } else if (l.key == "copies") {
      auto n = ParseInt(v, 1, 32767);
      if (!n) return bad();
      c.max_copies = static_cast<int>(*n);
    } else if (l.key == "resolutions") {
      c.resolutions.clear();
      if (!v.empty()) {
        for (const auto& part : Split(v, ',')) {
          auto r = ParseResolution(part);
          if (!r) return bad();
          c.resolutions.push_back(*r);
        }
      }
    } else if (l.key == "default_resolution") {
      auto r = ParseResolution(v);
      if (!r) return bad();
      c.default_resolution = *r;
      have_default_res = true;
    } else if (l.key == "default_paper") {
      auto n = ParseInt(v, INT16_MIN, INT16_MAX);
      if (!n) return bad();
      c.default_paper = static_cast<win::SHORT>(*n);
    } else if (l.key == "default_orientation" || l.key == "default_duplex") {
      auto n = ParseInt(v, 1, l.key == "default_orientation" ? 2 : 3);
      if (!n) return bad();
      (l.key == "default_orientation" ? c.default_orientation : c.default_duplex) = static_cast<win::SHORT>(*n);
    } else if (l.key == "devmode_version" || l.key == "driver_version") {
      auto n = ParseInt(v, 0, 0xFFFF);
      if (!n) return bad();
      (l.key == "devmode_version" ? c.devmode_version : c.driver_version) = static_cast<win::WORD>(*n);
    } else if (l.key == "driver_extra") {
      auto bytes = ParseHexBytes(v);
      if (!bytes) return bad();
      c.default_extra = std::move(*bytes);
    } else if (l.key == "paper") {
      auto parts = Split(v, ',', 8);
      auto code = ParseInt(parts[0], 1, INT16_MAX);
      if (!code) return bad();
      Paper pa;
      pa.code = static_cast<win::SHORT>(*code);
      const MediaEntry* m = MediaByCode(pa.code);
      if (m) {
        pa.name = m->name;
        pa.width = m->width;
        pa.length = m->length;
      }
      if (parts.size() == 2 || parts.size() == 4 || parts.size() == 5 || parts.size() == 6) return bad();
      if (parts.size() >= 3) {
        auto w = ParseInt(parts[1], 1, 32767);
        auto h = ParseInt(parts[2], 1, 32767);
        if (!w || !h) return bad();
        pa.width = static_cast<std::int32_t>(*w);
        pa.length = static_cast<std::int32_t>(*h);
      }
      if (parts.size() >= 7) {
        std::int32_t* m4[] = {&pa.left, &pa.top, &pa.right, &pa.bottom};
        for (int i = 0; i < 4; ++i) {
          auto n = ParseInt(parts[3 + i], 0, 32767);
          if (!n) return bad();
          *m4[i] = static_cast<std::int32_t>(*n);
        }
        // Margins that meet or cross would leave no printable area and a zero or negative page size
        // further down.
        if (pa.left + pa.right >= pa.width || pa.top + pa.bottom >= pa.length) return bad();
      }
      if (parts.size() == 8 && !parts[7].empty()) pa.name = parts[7];
      if (pa.width <= 0 || pa.length <= 0) return bad();  // unknown code without a size
      if (pa.name.empty()) pa.name = "Paper " + std::to_string(pa.code);
      if (c.FindPaper(pa.code)) return bad();
      c.papers.push_back(std::move(pa));
    }
  }
  if (p.info.name.empty()) return Status::Corruption(file.string() + ": printer without a name");
  if (!have_default_res && !c.resolutions.empty()) c.default_resolution = c.resolutions.back();
  if (c.resolutions.empty()) c.resolutions.push_back(c.default_resolution);
  if (!c.papers.empty() && !c.FindPaper(c.default_paper)) c.default_paper = c.papers.front().code;
  return p;
}

// ---------------------------------------------------------------------------------------
// The job

class FolderJob : public PrintJob {
 public:
  FolderJob(std::shared_ptr<internal::SpoolCache> cache, fs::path dir, JobInfo info)
      : cache_(std::move(cache)), dir_(std::move(dir)), info_(std::move(info)) {}
  // A job dropped without End or Abort leaves the queue; a destructor cannot report.
  ~FolderJob() override {
    if (!done_) (void)Abort();
  }
  std::uint32_t id() const override { return info_.id; }
  const win::SYSTEMTIME& submitted() const override { return info_.submitted; }
  const JobOptions& options() const override { return info_.options; }

  Status WriteDocument(const fs::path& pdf, int pages) override {
    if (done_) return Status::InvalidArgument("the job has already ended");
    if (pages < 0) return Status::InvalidArgument("negative page count");
    std::error_code ec;
    if (!fs::is_regular_file(pdf, ec)) return Status::NotFound(pdf.string() + ": no such file");
    if (!LooksLikePdf(pdf)) return Status::InvalidArgument(pdf.string() + ": not a PDF file");
    pdf_ = pdf;
    pages_ = pages;
    return Status::Ok();
  }

  Status End() override {
    if (done_) return Status::InvalidArgument("the job has already ended");
    done_ = true;
    if (pdf_.empty()) {
      // Nothing was printed: the job leaves the queue.
      return UpdateJob(*cache_, dir_, info_.id, [](JobInfo& j) { j.state = JobState::kDeleted; });
    }
    auto copied = CopyIn();
    if (!copied.ok()) {
      // The copy's error is the one returned: the job was not printed whether or not the
      // mark as deleted succeeds.
      (void)UpdateJob(*cache_, dir_, info_.id, [](JobInfo& j) { j.state = JobState::kDeleted; });
      return copied.status();
    }
    const std::uint64_t size = *copied;
    int pages = pages_;
    bool cancelled = false;
    Status updated = UpdateJob(*cache_, dir_, info_.id, [&](JobInfo& j) {
      // A test or the device may have moved the job on meanwhile; only a spooling job
      // becomes queued.
      if (j.state == JobState::kSpooling) j.state = JobState::kQueued;
      cancelled = j.state == JobState::kDeleted;
      j.total_pages = static_cast<std::uint32_t>(pages);
      j.size = size;
    });
    // Cancelled while its document was on its way in: the document goes too.
    if (updated.ok() && cancelled) RemoveJobOutput(dir_, info_.id);
    return updated;
  }

  Status Abort() override {
    if (done_) return Status::Ok();
    done_ = true;
    std::error_code ec;
    fs::remove(JobPdf(dir_, info_.id), ec);
    return UpdateJob(*cache_, dir_, info_.id, [](JobInfo& j) { j.state = JobState::kDeleted; });
  }

 private:
  // Copies the document into the queue: to a temporary name beside its place, then renamed
  // there, so the queue never shows half a document; the copy keeps the source's permissions.
  // Gives the bytes copied.
  Result<std::uint64_t> CopyIn() {
    const std::string source = pdf_.string();
    int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (in < 0) return Status::IOError(zv::fs::ErrnoText("open " + source, errno));
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(in);
      return Status::IOError(source + ": not a regular file");
    }
    if (static_cast<std::uint64_t>(st.st_size) > kMaxPdfBytes) {
      ::close(in);
      return Status::InvalidArgument(source + ": document too large");
    }
    fs::path dest = JobPdf(dir_, info_.id);
    fs::path tmp = dest;
    tmp += ".tmp";
    const mode_t mode = st.st_mode & 07777;
    int out = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
    if (out < 0) {
      int e = errno;
      ::close(in);
      return Status::IOError(zv::fs::ErrnoText("cannot copy the document into the queue: open " + tmp.string(), e));
    }
    std::string failed;
    if (::fchmod(out, mode) != 0) failed = zv::fs::ErrnoText("chmod", errno);
    std::uint64_t copied = 0;
    std::vector<std::uint8_t> buf(1 << 16);
    while (failed.empty()) {
      ssize_t n = ::read(in, buf.data(), buf.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) failed = zv::fs::ErrnoText("read " + source, errno);
      if (n <= 0) break;
      if (copied + static_cast<std::uint64_t>(n) > kMaxPdfBytes) failed = source + ": document too large";
      else if (!zv::fs::WriteAll(out, {buf.data(), static_cast<std::size_t>(n)})) failed = zv::fs::ErrnoText("write", errno);
      copied += static_cast<std::uint64_t>(n);
    }
    ::close(in);
    if (::close(out) != 0 && failed.empty()) failed = zv::fs::ErrnoText("close", errno);
    std::error_code ec;
    if (!failed.empty()) {
      fs::remove(tmp, ec);
      return Status::IOError("cannot copy the document into the queue: " + failed);
    }
    if (::rename(tmp.c_str(), dest.c_str()) != 0) {
      int e = errno;
      fs::remove(tmp, ec);
      return Status::IOError(zv::fs::ErrnoText("cannot place the document in the queue", e));
    }
    return copied;
  }

  std::shared_ptr<internal::SpoolCache> cache_;
  fs::path dir_;
  JobInfo info_;
  fs::path pdf_;
  int pages_ = 0;
  bool done_ = false;
};

// ---------------------------------------------------------------------------------------
// The spooler

namespace {
// The printers folder without "." or ".." parts or a trailing slash, so that the paths made
// from it name each folder one way.
fs::path CleanRoot(fs::path root) {
  root = root.lexically_normal();
  if (!root.has_filename() && root.has_parent_path() && root != root.root_path()) root = root.parent_path();
  return root;
}
}  // namespace

FolderSpooler::FolderSpooler(fs::path root, ChangeCheck check)
    : root_(CleanRoot(root.empty() ? fs::path(RuntimeRoot()) / "printers" : std::move(root))),
      cache_(std::make_shared<internal::SpoolCache>(root_, check == ChangeCheck::kWatch)) {}

Result<FolderPrinter> FolderSpooler::Description(const fs::path& dir) {
  return cache_->Read(cache_->descriptions, dir / kDescription, ParseFolderPrinter);
}

Result<FolderSpooler::Located> FolderSpooler::Locate(const std::string& name) {
  if (name.empty()) return Status::InvalidArgument("empty printer name");
  std::error_code ec;
  // The folder made from the name is tried first; any other folder whose description
  // carries the name is found by the scan (none when the printers folder is missing).
  fs::path direct = root_ / SafeFolderName(name);
  if (auto p = Description(direct); p.ok() && p->info.name == name) return Located{direct, std::move(*p)};
  for (const auto& entry : fs::directory_iterator(root_, ec)) {
    if (!entry.is_directory(ec) || entry.path() == direct) continue;
    auto p = Description(entry.path());
    if (p.ok() && p->info.name == name) return Located{entry.path(), std::move(*p)};
  }
  return Status::NotFound("no printer \"" + name + "\"");
}

Result<fs::path> FolderSpooler::FindPrinterDir(const std::string& name) {
  auto found = Locate(name);
  if (!found.ok()) return found.status();
  return std::move(found->dir);
}

Result<FolderPrinter> FolderSpooler::ReadPrinter(const std::string& name) {
  auto found = Locate(name);
  if (!found.ok()) return found.status();
  return std::move(found->printer);
}

Result<std::vector<PrinterInfo>> FolderSpooler::EnumPrinters() {
  std::vector<PrinterInfo> out;
  std::error_code ec;
  if (!fs::is_directory(root_, ec)) return out;
  std::string def;
  if (auto d = DefaultPrinter(); d.ok()) def = *d;
  for (const auto& entry : fs::directory_iterator(root_, ec)) {
    if (!entry.is_directory(ec)) continue;
    auto p = Description(entry.path());
    if (!p.ok()) continue;  // a broken description hides that printer only
    PrinterInfo info = p->info;
    info.is_default = info.name == def;
    if (info.is_default) info.attributes |= PRINTER_ATTRIBUTE_DEFAULT;
    // The jobs counted are those of the folder that holds the name first, as a look-up by
    // name finds it.
    if (auto dir = FindPrinterDir(info.name); dir.ok())
      info.jobs = static_cast<std::uint32_t>(QueuedJobsIn(*dir).size());
    out.push_back(std::move(info));
  }
  std::sort(out.begin(), out.end(), [](const PrinterInfo& a, const PrinterInfo& b) { return a.name < b.name; });
  return out;
}

Result<std::string> FolderSpooler::DefaultName() {
  auto name = cache_->Read(cache_->texts, root_ / "default", ReadFirstLine);
  if (!name.ok() || name->empty()) return Status::NotFound("no default printer");
  return name;
}

Result<std::string> FolderSpooler::DefaultPrinter() {
  auto name = DefaultName();
  if (!name.ok()) return Status::NotFound("no default printer");
  if (!FindPrinterDir(*name).ok()) return Status::NotFound("the default printer \"" + *name + "\" is gone");
  return name;
}

Result<PrinterInfo> FolderSpooler::GetPrinter(const std::string& name) {
  auto found = Locate(name);
  if (!found.ok()) return found.status();
  PrinterInfo info = found->printer.info;
  // The printer named there was just found, so it is the default printer.
  if (auto d = DefaultName(); d.ok() && *d == name) {
    info.is_default = true;
    info.attributes |= PRINTER_ATTRIBUTE_DEFAULT;
  }
  info.jobs = static_cast<std::uint32_t>(QueuedJobsIn(found->dir).size());
  return info;
}

Result<Capabilities> FolderSpooler::GetCapabilities(const std::string& name) {
  auto p = ReadPrinter(name);
  if (!p.ok()) return p.status();
  return p->caps;
}

Result<std::uint32_t> FolderSpooler::NextJobId(const fs::path& printer_dir) {
  // One counter for the whole root, so job ids are unique across printers; the lock keeps two
  // processes from taking the same number.
  auto lock = cache_->Lock(root_ / ".jobid.lock");
  if (!lock.ok()) return Status::IOError("cannot lock the job counter in " + root_.string());
  std::uint32_t last = 0;
  const fs::path counter = root_ / ".jobid";
  if (auto text = cache_->Read(cache_->texts, counter, ReadFirstLine, internal::SpoolCache::Trust::kWatchOnly);
      text.ok()) {
    if (auto n = ParseInt(*text, 0, UINT32_MAX)) last = static_cast<std::uint32_t>(*n);
  }
  // The counter may be missing or behind the jobs folder (a printer folder brought from
  // elsewhere, a lost counter file): an id already taken there would overwrite that job.
  std::uint32_t id = last;
  std::error_code ec;
  for (int tries = 0;; ++tries) {
    if (tries == 1000000) return Status::IOError("no free job id in " + printer_dir.string());
    // Id 0 means "no job" to callers, so the counter skips it when it wraps.
    if (++id == 0) id = 1;
    auto taken = [&](const fs::path& file) {
      if (auto known = cache_->Holds(file.parent_path(), file.filename().string())) return *known;
      return fs::exists(file, ec);
    };
    if (!taken(JobFile(printer_dir, id)) && !taken(JobPdf(printer_dir, id))) break;
  }
  Status st = WriteKept(*cache_, cache_->texts, counter, std::to_string(id) + "\n", FirstLine);
  if (!st.ok()) return st;
  return id;
}

Result<std::unique_ptr<PrintJob>> FolderSpooler::StartDoc(const std::string& printer, const DocInfo& doc,
                                                          const DevMode& mode) {
  auto found = Locate(printer);
  if (!found.ok()) return found.status();
  const fs::path* dir = &found->dir;
  const FolderPrinter* desc = &found->printer;
  if (!desc->info.accepting) {
    return Status::Busy("printer \"" + printer + "\" does not accept jobs");
  }
  std::error_code ec;
  // A jobs folder whose names the cache keeps is there.
  if (!cache_->Holds(*dir / "jobs", ".lock").has_value()) {
    fs::create_directories(*dir / "jobs", ec);
    if (ec) return Status::IOError("cannot make the job folder: " + ec.message());
  }
  auto id = NextJobId(*dir);
  if (!id.ok()) return id.status();

  const Capabilities& caps = desc->caps;
  DevMode merged = spool::MergeDevMode(MakeDefaultDevMode(printer, caps), mode, caps);
  JobInfo info;
  info.id = *id;
  info.printer = printer;
  info.document = doc.document;
  info.owner = CurrentUser();
  info.machine = HostName();
  info.state = JobState::kSpooling;
  info.status = StatusBitsFor(info.state);
  info.submitted_unix_ms = NowUnixMs();
  info.submitted = SystemTimeFromUnixMs(info.submitted_unix_ms);
  info.options = ResolveJobOptions(merged, caps);
  {
    auto lock = cache_->Lock(*dir / "jobs" / ".lock");
    if (!lock.ok()) return Status::IOError("cannot lock the job folder of " + dir->string());
    Status st = WriteKept(*cache_, cache_->job_records, JobFile(*dir, info.id), FormatJob(info), ParseJob);
    if (!st.ok()) return st;
  }
  return std::unique_ptr<PrintJob>(std::make_unique<FolderJob>(cache_, *dir, std::move(info)));
}

std::vector<JobInfo> FolderSpooler::QueuedJobsIn(const fs::path& dir) {
  std::vector<JobInfo> jobs;
  const fs::path folder = dir / "jobs";
  // The names the watch keeps, else a listing (kept for the next walk when it can be).
  auto names = cache_->Names(folder);
  if (!names) names = cache_->ListNames(folder);
  std::erase_if(*names, [](const std::string& name) { return fs::path(name).extension() != ".job"; });
  for (auto& j : cache_->ReadEach(cache_->job_records, folder, *names, ReadJob)) {
    if (!j.ok() || !InQueue(j->state)) continue;
    jobs.push_back(std::move(*j));
  }
  std::sort(jobs.begin(), jobs.end(), [](const JobInfo& a, const JobInfo& b) { return a.id < b.id; });
  return jobs;
}

Result<std::vector<JobInfo>> FolderSpooler::EnumJobs(const std::string& printer) {
  auto dir = FindPrinterDir(printer);
  if (!dir.ok()) return dir.status();
  return QueuedJobsIn(*dir);
}

Result<JobInfo> FolderSpooler::GetJob(const std::string& printer, std::uint32_t id) {
  auto dir = FindPrinterDir(printer);
  if (!dir.ok()) return dir.status();
  auto job = id == 0 ? Result<JobInfo>(Status::NotFound(""))
                     : cache_->Read(cache_->job_records, JobFile(*dir, id), ReadJob);
  if (!job.ok() && job.status().code() == Status::Code::kNotFound)
    return Status::NotFound("no job " + std::to_string(id) + " on \"" + printer + "\"");
  return job;
}

Status FolderSpooler::CancelJob(const std::string& printer, std::uint32_t id) {
  auto dir = FindPrinterDir(printer);
  if (!dir.ok()) return dir.status();
  std::error_code ec;
  if (id == 0 || !fs::exists(JobFile(*dir, id), ec)) {
    return Status::NotFound("no job " + std::to_string(id) + " on \"" + printer + "\"");
  }
  bool cancelled = false;
  Status st = UpdateJob(*cache_, *dir, id, [&](JobInfo& j) {
    if (j.state != JobState::kCompleted) j.state = JobState::kDeleted;
    cancelled = j.state == JobState::kDeleted;
  });
  if (st.ok() && cancelled) RemoveJobOutput(*dir, id);
  return st;
}

Status FolderSpooler::SetJobState(const std::string& printer, std::uint32_t id, JobState state) {
  auto dir = FindPrinterDir(printer);
  if (!dir.ok()) return dir.status();
  std::error_code ec;
  if (id == 0 || !fs::exists(JobFile(*dir, id), ec)) {
    return Status::NotFound("no job " + std::to_string(id) + " on \"" + printer + "\"");
  }
  return UpdateJob(*cache_, *dir, id, [&](JobInfo& j) {
    j.state = state;
    if (state == JobState::kCompleted) j.pages_printed = j.total_pages;
  });
}

Result<fs::path> FolderSpooler::JobDocumentPath(const std::string& printer, std::uint32_t id) {
  auto dir = FindPrinterDir(printer);
  if (!dir.ok()) return dir.status();
  fs::path pdf = JobPdf(*dir, id);
  std::error_code ec;
  if (!fs::exists(pdf, ec)) return Status::NotFound(pdf.string() + ": no document");
  return pdf;
}

Status FolderSpooler::AddPrinter(const FolderPrinter& printer) {
  if (printer.info.name.empty()) return Status::InvalidArgument("empty printer name");
  for (char c : printer.info.name) {
    if (c == '\n' || c == '\r' || c == '\0') return Status::InvalidArgument("bad printer name");
  }
  std::error_code ec;
  fs::path dir;
  if (auto existing = FindPrinterDir(printer.info.name); existing.ok()) {
    dir = *existing;
  } else {
    std::string base = SafeFolderName(printer.info.name);
    dir = root_ / base;
    for (int n = 2; fs::exists(dir, ec); ++n) dir = root_ / (base + "~" + std::to_string(n));
  }
  fs::create_directories(dir / "jobs", ec);
  if (ec) return Status::IOError("cannot make " + dir.string() + ": " + ec.message());
  return WriteFileAtomic(dir / kDescription, FormatFolderPrinter(printer));
}

Status FolderSpooler::RemovePrinter(const std::string& name) {
  auto dir = FindPrinterDir(name);
  if (!dir.ok()) return dir.status();
  std::error_code ec;
  fs::remove_all(*dir, ec);
  if (ec) return Status::IOError("cannot remove " + dir->string() + ": " + ec.message());
  return Status::Ok();
}

Status FolderSpooler::SetDefaultPrinter(const std::string& name) {
  auto dir = FindPrinterDir(name);
  if (!dir.ok()) return dir.status();
  return WriteFileAtomic(root_ / "default", name + "\n");
}

Status FolderSpooler::SetPrinterStatus(const std::string& name, std::uint32_t status) {
  auto dir = FindPrinterDir(name);
  if (!dir.ok()) return dir.status();
  auto lock = cache_->Lock(*dir / "jobs" / ".lock");
  auto p = ParseFolderPrinter(*dir / kDescription);
  if (!p.ok()) return p.status();
  p->info.status = status;
  return WriteFileAtomic(*dir / kDescription, FormatFolderPrinter(*p));
}

}  // namespace zv::spool
