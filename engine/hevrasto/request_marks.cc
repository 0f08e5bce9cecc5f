#include "engine/hevrasto/request_marks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>

#include "engine/rules/request_info.h"
#include "platform/fs/files.h"
#include "platform/odbc/odbc.h"
#include "platform/paths/paths.h"

namespace zv::engine {

std::string FormatMark(const RequestMark& m) {
  std::string t = "request=" + m.request + "\n";
  if (m.job) t += "job=" + std::to_string(m.job) + "\n";
  if (!m.printer.empty()) t += "printer=" + m.printer + "\n";
  if (!m.rows.empty()) t += "rows=" + m.rows + "\n";
  if (!m.answer.empty()) t += "answer=" + m.answer + "\n";
  if (!m.copy.empty()) t += "copy=" + m.copy + "\n";
  if (!m.job_file.empty()) t += "jobfile=" + m.job_file + "\n";
  return t;
}

Result<RequestMark> ParseMark(const std::string& text) {
  RequestMark m;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    std::string line = text.substr(pos, eol - pos);
    pos = eol + 1;
    size_t eq = line.find('=');
    if (eq == std::string::npos) return Status::Corruption("not a mark line: " + line.substr(0, 40));
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "request") {
      m.request = value;
    } else if (key == "job") {
      char* end = nullptr;
      unsigned long v = value.size() <= 10 ? strtoul(value.c_str(), &end, 10) : 0;
      if (!end || *end || v == 0 || v > UINT32_MAX) return Status::Corruption("bad job id in mark");
      m.job = static_cast<std::uint32_t>(v);
    } else if (key == "printer") {
      m.printer = value;
    } else if (key == "rows") {
      m.rows = value;
    } else if (key == "answer") {
      m.answer = value;
    } else if (key == "copy") {
      m.copy = value;
    } else if (key == "jobfile") {
      m.job_file = value;
    }  // other keys are passed over, so a mark with more to say still reads
  }
  if (m.request.empty()) return Status::Corruption("mark names no request");
  return m;
}

Result<std::string> RequestIdentity(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    int e = errno;
    if (e == ENOENT || e == ENOTDIR) return Status::NotFound(fs::ErrnoText("lstat " + path, e));
    return Status::IOError(fs::ErrnoText("lstat " + path, e));
  }
  // A request placed again in the slot is a new file (renamed in): a new inode, or a reused
  // one with a later change time, so the marks of the one before never pass for it.
  return std::to_string(st.st_ino) + ":" + std::to_string(st.st_ctim.tv_sec) + "." + std::to_string(st.st_ctim.tv_nsec);
}

Result<std::set<std::string>> WaitingJobNames(const std::string& folder, const RequestFolderScan& scan) {
  std::set<std::string> named;
  for (int i = 0; i < kSlotCount; ++i) {
    if (!scan.present[i]) continue;
    CRequestInfo r;
    r.Init();
    Status read = r.ReadTopRequest(folder + "/" + SlotFileName(i), 1, std::chrono::milliseconds(0));
    if (!read.ok()) return read;
    named.insert(r.JobFileName);
  }
  return named;
}

Result<LeftoverSweep> SweepLeftovers(const std::string& folder, const std::string& jobs,
                                     const std::function<void(const RequestMark&)>& settle) {
  auto scan = ScanRequestFolder(folder);
  if (!scan.ok()) return scan.status();
  // A waiting request that cannot be read might name any job: then none is removed.
  auto named = WaitingJobNames(folder, *scan);
  const int jobs_dir =
      jobs.empty() || !named.ok() ? -1 : ::open(jobs.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  LeftoverSweep out;
  for (int i = 0; i < kSlotCount; ++i) {
    if (!scan->marked[i]) continue;
    std::string now_in_slot;
    if (scan->present[i]) {
      auto id = RequestIdentity(folder + "/" + SlotFileName(i));
      if (!id.ok()) continue;  // judged at the next scan
      now_in_slot = *id;
    }
    for (const char* suffix : {kTakenSuffix, kAnsweredSuffix}) {
      const std::string name = SlotBaseName(i) + suffix;
      const std::string path = folder + "/" + name;
      struct stat st {};
      auto text = fs::ReadFile(path, kMaxRequestFileBytes, &st);
      if (!text.ok() && text.status().code() == Status::Code::kNotFound) continue;
      auto mark = text.ok() ? ParseMark(*text) : Result<RequestMark>(text.status());
      if (mark.ok() && mark->request == now_in_slot) continue;  // its request's to finish
      const bool own = text.ok() && fs::TrustedForCaller(st) && st.st_nlink == 1;
      if (mark.ok() && own && std::string(suffix) == kTakenSuffix) settle(*mark);
      if (::unlink(path.c_str()) != 0 && errno != ENOENT) continue;
      out.marks.push_back(name);
      if (!mark.ok() || !own || jobs_dir < 0 || mark->job_file.empty() || named->count(mark->job_file) ||
          !paths::IsPlainFileName(mark->job_file))
        continue;
      struct stat job {};
      if (::fstatat(jobs_dir, mark->job_file.c_str(), &job, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(job.st_mode) &&
          job.st_nlink == 1 && ::unlinkat(jobs_dir, mark->job_file.c_str(), 0) == 0)
        out.jobs.push_back(mark->job_file);
    }
  }
  if (jobs_dir >= 0) ::close(jobs_dir);
  return out;
}

std::string StagedName(const std::string& name, const std::string& slot_base) {
  // The slot is part of it: the monitor copy's name already holds it, and two requests of
  // one account and machine never share a staged answer.
  return "." + name + ".staged-" + slot_base;
}

void PhaseStamp(const char* step, const std::string& slot) {
  static const int fd = [] {
    const char* path = std::getenv("ZELVORA_ENGINE_PHASE_LOG");
    return path ? ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600) : -1;
  }();
  if (fd < 0) return;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  std::string line = (slot.empty() ? std::string("-") : slot) + " " + step + " " +
                     std::to_string(static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec) + " " +
                     std::to_string(odbc::RoundTrips()) + "\n";
  (void)!::write(fd, line.data(), line.size());
}

void CrashPoint(const char* step) {
  static const char* at = std::getenv("ZELVORA_ENGINE_CRASH_AT");
  // _exit, not exit: no destructor or buffered write may tidy up after the step, just as
  // after a kill; 86 tells the test the stop was this one.
  if (at && std::strcmp(at, step) == 0) ::_exit(86);
}

void HoldPoint(const char* step) {
  static const char* at = std::getenv("ZELVORA_ENGINE_HOLD_AT");
  static const char* file = std::getenv("ZELVORA_ENGINE_HOLD_FILE");
  if (!at || !file) return;
  bool named = false;
  for (std::string_view list = at; !named && !list.empty();) {
    size_t comma = list.find(',');
    named = list.substr(0, comma) == step;
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
  }
  if (!named) return;
  if (!fs::WriteFileAtomic(file, step).ok()) return;
  struct stat st {};
  while (::lstat(file, &st) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

}  // namespace zv::engine
