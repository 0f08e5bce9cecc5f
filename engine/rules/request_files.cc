// File input and output of the request and answer classes.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

#include "engine/rules/request_info.h"
#include "engine/rules/request_result.h"

namespace zv::engine {
namespace {
// Temporary until the shared file helpers are available.
Status WriteFileAtomic(const std::string& path, const std::string& content) {
  std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out << content;
    out.flush();
    if (!out) {
      std::remove(tmp.c_str());
      return Status::IOError("cannot write " + tmp);
    }
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return Status::IOError("cannot rename to " + path);
  }
  return Status::Ok();
}
}  // namespace

Status CRequestInfo::ReadTopRequest(const std::string& path, int attempts, std::chrono::milliseconds retry_delay) {
  std::ifstream in;
  int err = 0;
  for (int i = 0; i < attempts; ++i) {
    in.open(path, std::ios::binary);
    if (in.is_open()) break;
    err = errno;
    std::this_thread::sleep_for(retry_delay);
  }
  if (!in.is_open()) {
    std::string why = err ? std::strerror(err) : "cannot open";
    if (err == ENOENT) return Status::NotFound(path + ": " + why);
    return Status::IOError(path + ": " + why);
  }
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return Status::InvalidArgument(path + ": not a file");
  std::string text;
  text.resize(kMaxRequestFileBytes + 1);
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) return Status::IOError(path + ": read failed");
  text.resize(static_cast<size_t>(in.gcount()));
  if (text.size() > kMaxRequestFileBytes) return Status::InvalidArgument(path + ": request file too big");
  if (!ParseRequestText(text)) return Status::InvalidArgument(path + ": no [RequestInfo] section");
  return Status::Ok();
}

Status CRequestResult::CreateResultFile(const std::string& path, bool show_normal, bool show_error) const {
  return WriteFileAtomic(path, ComposeResultText(show_normal, show_error));
}

}  // namespace zv::engine
