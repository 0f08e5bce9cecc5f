#include "platform/lasterror/last_error.h"

namespace {
thread_local std::uint32_t last_error = 0;
}  // namespace

extern "C" {
__attribute__((visibility("default"))) void ZvSetLastError(std::uint32_t code) { last_error = code; }
__attribute__((visibility("default"))) std::uint32_t ZvGetLastError() { return last_error; }
}
