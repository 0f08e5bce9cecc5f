// The installed layout below one prefix, the same in the build tree: programs in
// <prefix>/bin, shared libraries and plug-ins in <prefix>/lib, data (help pages, PPDs) in
// <prefix>/share/zelvora, the machine-wide settings in <prefix>/etc. Lookups between deliverables go through these names, so a program
// or a library finds the others wherever the prefix lies.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>

#include "platform/base/status.h"
#include "platform/paths/paths.h"

namespace zv::paths {

inline constexpr char kProgramsFolder[] = "bin";
inline constexpr char kLibrariesFolder[] = "lib";
inline constexpr char kDataFolder[] = "share/zelvora";
// The machine-wide settings the installer writes (SystemConfigFolder).
inline constexpr char kSystemConfigFolder[] = "etc";

// Takes a prefix and one of the folders above; gives "<prefix>/<folder>" (a prefix "/" or ""
// gives "/<folder>").
inline std::string PrefixFolder(std::string_view prefix, std::string_view folder) {
  std::string out(prefix);
  while (!out.empty() && out.back() == '/') out.pop_back();
  out += '/';
  out += folder;
  return out;
}

// Takes one of the folders above; gives it below the running program's prefix
// (InstallPrefix), or the error that gave.
inline Result<std::string> InstalledFolder(std::string_view folder) {
  auto prefix = InstallPrefix();
  if (!prefix.ok()) return prefix.status();
  return PrefixFolder(*prefix, folder);
}

// Takes a folder that may hold a program (empty: none), the prefix of an install and a
// program name; gives folder/name when that is a regular file, else <prefix>/bin/name (which
// need not exist; the caller reports what it could not start).
inline std::string ProgramIn(std::string_view folder, std::string_view prefix, std::string_view name) {
  if (!folder.empty()) {
    std::string path(folder);
    if (path.back() != '/') path += '/';
    path += name;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return path;
  }
  return PrefixFolder(prefix, kProgramsFolder) + "/" + std::string(name);
}

// Takes the program folder of the settings ("AppPath"; empty: none), the install's data
// folder (<prefix>/share/zelvora) and a file name; gives the file in the first folder that
// holds it as a regular file (the settings' folder when neither does, so a viewer names the
// file it missed). The help commands of the programs find their pages through this.
inline std::string FileInFolders(std::string_view app_path, std::string_view data_folder, std::string_view name) {
  for (std::string_view folder : {app_path, data_folder}) {
    if (folder.empty()) continue;
    std::string path(folder);
    if (path.back() != '/') path += '/';
    path += name;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return path;
  }
  std::string path(app_path.empty() ? data_folder : app_path);
  if (!path.empty() && path.back() != '/') path += '/';
  return path + std::string(name);
}

}  // namespace zv::paths
