// Test helper: the folder of the built programs (build/bin), where tests find the programs
// they start. ctest passes it as ZELVORA_TEST_BIN_DIR; a test run by hand falls back to its
// own folder, since tests and programs are built into the same one.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace zv::testing {

// Gives the programs' folder, without a trailing slash.
inline std::string BinDir() {
  if (const char* dir = std::getenv("ZELVORA_TEST_BIN_DIR"); dir && *dir) return dir;
  std::string self(4096, '\0');
  ssize_t n = ::readlink("/proc/self/exe", self.data(), self.size());
  if (n <= 0) return ".";
  self.resize(static_cast<std::size_t>(n));
  std::size_t slash = self.rfind('/');
  return slash == std::string::npos ? "." : self.substr(0, slash);
}

// Gives the path of the built program `name`.
inline std::string BinPath(const std::string& name) { return BinDir() + "/" + name; }

}  // namespace zv::testing
