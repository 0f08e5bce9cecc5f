// Test helper: the build's artifacts/ folder, where window tests save screenshots for a
// person to look at (beside the programs' folder: build/artifacts).
#pragma once

#include <filesystem>
#include <string>

#include "platform/testing/bin_dir.h"

namespace zv::testing {

// Gives the artifacts folder (made when missing), without a trailing slash.
inline std::string ArtifactsDir() {
  const std::filesystem::path dir = std::filesystem::path(BinDir()).parent_path() / "artifacts";
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return dir.string();
}

}  // namespace zv::testing
