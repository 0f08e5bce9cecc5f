#include "deploy/testing/tree_state.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace zv::deploy::testing {
namespace {

namespace sfs = std::filesystem;

// Takes a file's path; gives a 64-bit FNV-1a hash of its bytes as text.
std::string HashOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::uint64_t h = 1469598103934665603ull;
  char buf[1 << 16];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    for (std::streamsize i = 0; i < in.gcount(); ++i) h = (h ^ static_cast<unsigned char>(buf[i])) * 1099511628211ull;
    if (!in) break;
  }
  return std::to_string(h);
}

// Takes an entry's path; gives its type, mode, owner, size and content hash or link target.
std::string StateOf(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return "unreadable";
  std::string s = std::to_string(st.st_mode) + " " + std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid);
  if (S_ISLNK(st.st_mode)) {
    std::error_code ec;
    s += " -> " + sfs::read_symlink(path, ec).string();
  } else if (S_ISREG(st.st_mode)) {
    s += " " + std::to_string(st.st_size) + " " + HashOf(path);
  }
  return s;
}

}  // namespace

std::map<std::string, std::string> TreeState(const std::vector<std::string>& roots,
                                             const std::vector<std::string>& skip_names) {
  std::map<std::string, std::string> state;
  for (const auto& root : roots) {
    std::error_code ec;
    if (!sfs::exists(sfs::symlink_status(root, ec))) {
      state[root] = "absent";
      continue;
    }
    state[root] = StateOf(root);
    for (auto it = sfs::recursive_directory_iterator(root, sfs::directory_options::skip_permission_denied, ec);
         it != sfs::recursive_directory_iterator(); it.increment(ec)) {
      if (ec) break;
      const std::string name = it->path().filename().string();
      if (std::find(skip_names.begin(), skip_names.end(), name) != skip_names.end()) continue;
      state[it->path().string()] = StateOf(it->path().string());
    }
  }
  return state;
}

}  // namespace zv::deploy::testing
