// The thread's last error: the Windows error code that a library export leaves behind for
// its caller. Windows keeps it per thread in one place that every library shares; here one
// small shared library (libzvlasterror) holds it, so a library that sets it and the program
// that reads it see the same value even when both hide their other symbols.
#pragma once

#include <cerrno>
#include <cstdint>

extern "C" {
// Takes a Windows error code; stores it as the calling thread's last error.
void ZvSetLastError(std::uint32_t code);
// Gives the calling thread's last error (0 when none was set).
std::uint32_t ZvGetLastError();
}

namespace zv::win {

// Windows error codes that exports report.
constexpr std::uint32_t kErrorSuccess = 0;
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorNotEnoughMemory = 8;
constexpr std::uint32_t kErrorBadEnvironment = 10;
constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::uint32_t kErrorSharingViolation = 32;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorInvalidName = 123;
constexpr std::uint32_t kErrorRegistryCorrupt = 1015;

// Takes an errno value; gives the Windows error code that stands for it (ERROR_GEN_FAILURE
// for causes Windows has no code of its own for).
inline std::uint32_t ErrorFromErrno(int e) {
  switch (e) {
    case 0:
      return kErrorSuccess;
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case ELOOP:
      return kErrorAccessDenied;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EWOULDBLOCK:
    case EBUSY:
    case ETXTBSY:
      return kErrorSharingViolation;
    case EINVAL:
      return kErrorInvalidParameter;
    default:
      return kErrorGenFailure;
  }
}

}  // namespace zv::win
