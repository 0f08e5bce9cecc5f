#include "engine/hevrasto/result_sweep.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

namespace zv::engine {
namespace {

bool IsAnswerCopy(std::string_view name) {
  // "order" + slot digits + "-" ... ".an2"
  if (!name.starts_with("order") || !name.ends_with(".an2")) return false;
  size_t i = 5;
  while (i < name.size() && name[i] >= '0' && name[i] <= '9') ++i;
  return i > 5 && i < name.size() && name[i] == '-';
}

bool IsStagedAnswer(std::string_view name) {
  return name.size() > 1 && name[0] == '.' && name.find(".staged-") != std::string_view::npos;
}

}  // namespace

std::vector<std::string> StaleAnswerCopies(const std::vector<JobFileAge>& files,
                                           std::chrono::system_clock::time_point now, std::chrono::seconds max_age) {
  std::vector<std::string> out;
  for (const JobFileAge& f : files)
    if ((IsAnswerCopy(f.name) || IsStagedAnswer(f.name)) && now - f.written > max_age) out.push_back(f.name);
  return out;
}

int SweepAnswerCopies(const std::string& result, std::chrono::system_clock::time_point now,
                      std::chrono::seconds max_age) {
  int dir = ::open(result.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir < 0) return 0;
  std::vector<JobFileAge> files;
  if (DIR* d = ::fdopendir(::dup(dir))) {
    while (dirent* e = ::readdir(d)) {
      std::string_view name = e->d_name;
      if (!IsAnswerCopy(name) && !IsStagedAnswer(name)) continue;
      struct stat st {};
      if (::fstatat(dir, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
      files.push_back(JobFileAge{e->d_name, std::chrono::system_clock::from_time_t(st.st_mtime)});
    }
    ::closedir(d);
  }
  int removed = 0;
  for (const std::string& name : StaleAnswerCopies(files, now, max_age))
    removed += ::unlinkat(dir, name.c_str(), 0) == 0;
  ::close(dir);
  return removed;
}

}  // namespace zv::engine
