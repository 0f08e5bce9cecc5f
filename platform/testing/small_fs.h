// A test's folder on a small file system of its own, to see what a full one does: a tmpfs
// mounted over the folder in a mount namespace of this process alone (nothing of the
// machine's mounts changes, and the mount goes with the process), the folder's files, modes
// and owners copied onto it. Needs root; a test without it skips.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace zv::testing {

class SmallFileSystem {
 public:
  SmallFileSystem() = default;
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;
  ~SmallFileSystem() { Unmount(); }
  // Takes the small file system away (the folder shows what it held before); again: nothing.
  void Unmount() {
    if (!at_.empty()) ::umount2(at_.c_str(), MNT_DETACH);
    at_.clear();
  }

  // Takes a folder that exists and the tmpfs size ("1m"); mounts the small file system over
  // the folder with the folder's contents (copied through "<folder>.saved" beside it).
  // Gives "" when mounted, else why not (no root, no mount namespace, a failed copy).
  std::string Mount(const std::string& folder, const std::string& size = "1m") {
    if (::geteuid() != 0) return "needs root for a mount namespace";
    if (::unshare(CLONE_NEWNS) != 0) return std::string("unshare: ") + std::strerror(errno);
    if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      return std::string("private mounts: ") + std::strerror(errno);
    const std::string saved = folder + ".saved";
    if (std::system(("cp -a '" + folder + "' '" + saved + "'").c_str()) != 0) return "cannot copy " + folder;
    const std::string options = "size=" + size + ",mode=0755";
    if (::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0)
      return std::string("mount tmpfs: ") + std::strerror(errno);
    at_ = folder;
    if (std::system(("cp -a '" + saved + "/.' '" + folder + "/' && rm -rf '" + saved + "'").c_str()) != 0)
      return "cannot copy back " + folder;
    return "";
  }

  // Takes a path on the small file system; writes a file there until no byte more fits.
  // Gives whether the file system is full (the last write failed with ENOSPC).
  static bool Fill(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    const std::string block(4096, 'f');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    const bool full = errno == ENOSPC;
    ::close(fd);
    return full;
  }

 private:
  std::string at_;
};

}  // namespace zv::testing
