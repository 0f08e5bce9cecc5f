// The index of an engine's own folder (own_folder.h).
#include "engine/core/own_folder.h"

#include <filesystem>
#include <system_error>

namespace zv::engine {

void OwnFolderIndex::ListLocked(const std::string& folder) {
  names_.clear();
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) names_.insert(e.path().filename().string());
  folder_ = folder;
  listed_ = true;
}

std::vector<std::string> OwnFolderIndex::Names(const std::string& folder) {
  std::lock_guard<std::mutex> l(mu_);
  if (!listed_ || folder_ != folder) ListLocked(folder);
  return {names_.begin(), names_.end()};
}

void OwnFolderIndex::Added(const std::string& folder, const std::string& name) {
  std::lock_guard<std::mutex> l(mu_);
  // Another folder than the one listed is listed afresh when it is asked for.
  if (listed_ && folder_ == folder) names_.insert(name);
}

void OwnFolderIndex::Removed(const std::string& folder, const std::string& name) {
  std::lock_guard<std::mutex> l(mu_);
  if (listed_ && folder_ == folder) names_.erase(name);
}

}  // namespace zv::engine
