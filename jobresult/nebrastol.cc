#include "jobresult/nebrastol.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>

#include "jobresult/job_log.h"
#include "platform/base/root.h"
#include "platform/lasterror/last_error.h"
#include "platform/paths/paths.h"
#include "platform/registry/registry.h"

namespace zv::jobresult {
namespace {

constexpr const char* kLogKey = "SOFTWARE\\Kandrel\\Tessaly-PrtLog";
constexpr const char* kLogValue = "LogFileName";
constexpr const char* kDefaultLogName = "BrovPrt.Log";

// A log file read with pread.
class FileLog : public LogSource {
 public:
  FileLog(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  long long Read(std::uint64_t offset, std::span<std::uint8_t> out, int* error) override {
    std::size_t done = 0;
    while (done < out.size()) {
      const ssize_t n = pread(fd_, out.data() + done, out.size() - done, off_t(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        *error = errno;
        return -1;
      }
      if (n == 0) break;
      done += std::size_t(n);
    }
    return static_cast<long long>(done);
  }
  std::uint64_t Size() const override { return size_; }

 private:
  int fd_;
  std::uint64_t size_;
};

// Closes a descriptor when the lookup ends, whichever way it returns.
struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) close(fd);
  }
};

// Gives the log file's local path: the registry's value, else the default file. On a
// registry failure *failure says why.
Result<std::string> LogPath(Lookup* failure) {
  const std::string fallback = RuntimeRoot() + "/system/" + kDefaultLogName;
  Result<registry::Key> key = registry::Key::Open(registry::RootKey::kLocalMachine, kLogKey);
  Status status = key.status();
  if (key.ok()) {
    Result<registry::Value> value = key->GetValue(kLogValue);
    if (value.ok()) {
      std::string name = value->data.substr(0, value->data.find('\0'));
      Result<std::string> local = paths::ToLocalPath(name);
      if (!local.ok()) {
        failure->code = kFailed;
        failure->last_error = win::kErrorInvalidName;
      }
      return local;
    }
    status = value.status();
  }
  if (status.code() == Status::Code::kNotFound) return fallback;
  failure->code = kFailed;
  failure->last_error = status.code() == Status::Code::kCorruption ? win::kErrorRegistryCorrupt : win::kErrorGenFailure;
  return status;
}

Lookup Run(const char* document, std::uint32_t job_id, std::uint32_t date, std::uint32_t time) {
  Lookup failure;
  Result<std::string> path = LogPath(&failure);
  if (!path.ok()) return failure;
  // Not blocking (a FIFO named as the log must not hang the caller); only a regular file
  // is read. The exclusive lock stands in for opening without sharing: while the monitor
  // writes the log, the lookup fails with a sharing violation.
  const int fd = open(path->c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    const int e = errno;
    failure.code = e == ENOENT ? kNotFound : kFailed;
    failure.last_error = win::ErrorFromErrno(e);
    return failure;
  }
  FdCloser closer{fd};
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    failure.code = kFailed;
    failure.last_error = win::ErrorFromErrno(errno);
    return failure;
  }
  if (!S_ISREG(st.st_mode)) {
    failure.code = kFailed;
    failure.last_error = win::kErrorAccessDenied;
    return failure;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    failure.code = kFailed;
    failure.last_error = win::ErrorFromErrno(errno);
    return failure;
  }
  FileLog log(fd, std::uint64_t(st.st_size));
  JobQuery query;
  query.document = document;
  query.job_id = job_id;
  UnpackDateTime(date, time, &query);
  return LookupJob(log, query);
}

}  // namespace
}  // namespace zv::jobresult

extern "C" __attribute__((visibility("default"))) std::uint32_t BrovGetPrintJobResult(
    const char* document, std::uint32_t job_id, std::uint32_t date, std::uint32_t time, std::uint32_t* value1,
    std::uint32_t* status, std::uint32_t* value3) {
  using namespace zv::jobresult;
  if (!document || !value1 || !status || !value3) {
    ZvSetLastError(zv::win::kErrorInvalidParameter);
    return kMissingArgument;
  }
  Lookup result;
  try {
    result = Run(document, job_id, date, time);
  } catch (const std::bad_alloc&) {
    result.code = kOutOfMemory;
    result.last_error = zv::win::kErrorNotEnoughMemory;
    // No exception may cross into the C caller, which has no way to catch it.
  } catch (...) {
    result.code = kFailed;
    result.last_error = zv::win::kErrorGenFailure;
  }
  if (result.code == kFound) {
    *value1 = result.value1;
    *status = result.status;
    *value3 = result.value3;
  }
  ZvSetLastError(result.last_error);
  return result.code;
}
