// Test helper: a fresh runtime root in a temporary folder for the life of the object.
// Sets ZELVORA_ROOT (restoring the old value afterwards) and removes the folder at the end.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace zv::testing {

class TempRoot {
 public:
  TempRoot() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zelvora-test.XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    if (const char* old = std::getenv("ZELVORA_ROOT")) old_ = old;
    setenv("ZELVORA_ROOT", path_.c_str(), 1);
  }
  ~TempRoot() {
    if (old_) {
      setenv("ZELVORA_ROOT", old_->c_str(), 1);
    } else {
      unsetenv("ZELVORA_ROOT");
    }
    std::error_code ec;
    if (std::getenv("ZELVORA_KEEP_TEST_ROOT") == nullptr) std::filesystem::remove_all(path_, ec);
  }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
  std::optional<std::string> old_;
};

}  // namespace zv::testing
