#include "capture/common/kept.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <tuple>

#include "platform/base/ascii.h"
#include "platform/fs/files.h"

namespace zv::capture {
namespace {

constexpr char kSideSuffix[] = ".job";

bool HasPrefixAndTmp(std::string_view name, std::string_view prefix) {
  return name.size() > prefix.size() + 4 && EqualsNoCase(name.substr(0, prefix.size()), prefix) &&
         EqualsNoCase(name.substr(name.size() - 4), ".tmp") && name.find('/') == std::string_view::npos;
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Folder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> out;
  DIR* d = ::opendir(folder.c_str());
  if (d == nullptr) return out;
  while (dirent* e = ::readdir(d)) out.emplace_back(e->d_name);
  ::closedir(d);
  return out;
}

// True when a process holds the file's lock.
bool Locked(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return locked;
}

}  // namespace

std::string KeptFolder(std::string_view temp_folder) {
  std::string t(temp_folder);
  while (t.size() > 1 && t.back() == '/') t.pop_back();
  return Folder(t) + "/kept";
}

bool IsCaptureName(std::string_view name) { return HasPrefixAndTmp(name, "WXQ"); }

Status KeepCapture(const std::string& capture_path, const std::string& program, const std::string& title,
                   long long order) {
  if (order == 0) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    order = static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
  }
  const std::string kept = KeptFolder(Folder(capture_path));
  if (Status made = fs::MakeDirs(kept, 0700); !made.ok()) return made;
  const std::string target = kept + "/" + BaseName(capture_path);
  auto clean = [](std::string s) {
    std::replace(s.begin(), s.end(), '\n', ' ');
    return s;
  };
  // The side file first: a capture file in the kept folder always has its program and title.
  const std::string side = std::to_string(order) + "\n" + clean(program) + "\n" + clean(title) + "\n";
  if (Status s = fs::WriteFileAtomic(target + kSideSuffix, side, 0600); !s.ok()) return s;
  if (::rename(capture_path.c_str(), target.c_str()) != 0) {
    const int e = errno;
    ::unlink((target + kSideSuffix).c_str());
    return Status::IOError(fs::ErrnoText("keep " + capture_path, e));
  }
  return Status::Ok();
}

std::vector<KeptJob> ListKeptJobs(const std::string& kept_folder) {
  std::vector<KeptJob> found;
  for (const std::string& name : Names(kept_folder)) {
    if (!IsCaptureName(name)) continue;
    const std::string path = kept_folder + "/" + name;
    auto side = fs::ReadFile(path + kSideSuffix, 1 << 16);
    if (!side.ok()) continue;
    // Three lines: the order, the program, the title.
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < side->size() && lines.size() < 3;) {
      std::size_t nl = side->find('\n', at);
      if (nl == std::string::npos) nl = side->size();
      lines.push_back(side->substr(at, nl - at));
      at = nl + 1;
    }
    if (lines.size() < 2) continue;
    KeptJob job;
    job.path = path;
    job.order = std::atoll(lines[0].c_str());
    job.program = lines[1];
    if (lines.size() > 2) job.title = lines[2];
    found.push_back(std::move(job));
  }
  std::sort(found.begin(), found.end(),
            [](const KeptJob& a, const KeptJob& b) { return std::tie(a.order, a.path) < std::tie(b.order, b.path); });
  return found;
}

void ForgetKeptJob(const KeptJob& job) { ::unlink((job.path + kSideSuffix).c_str()); }

int LockCaptureFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return -1;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::set<std::string> CaptureNames(const std::string& temp_folder) {
  std::set<std::string> out;
  for (const std::string& name : Names(temp_folder))
    if (IsCaptureName(name)) out.insert(name);
  return out;
}

std::vector<std::string> SweepCaptureFolder(const std::string& temp_folder, const std::set<std::string>& spare,
                                            bool page_files) {
  std::vector<std::string> removed;
  for (const std::string& name : Names(temp_folder)) {
    const bool capture = IsCaptureName(name);
    if (!(capture || (page_files && HasPrefixAndTmp(name, "PRC"))) || spare.count(name) != 0) continue;
    const std::string path = temp_folder + "/" + name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || Locked(path)) continue;
    if (::unlink(path.c_str()) == 0) removed.push_back(name);
  }
  return removed;
}

}  // namespace zv::capture
