#include "capture/backend/spool_backend.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "capture/spool/spool.h"
#include "platform/fs/files.h"

namespace zv::capture {
namespace {

constexpr int kOk = 0;
constexpr int kHold = 3;
constexpr int kCancel = 5;

void Say(const std::string& level, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", level.c_str(), text.c_str());
}

bool DropTo(const passwd& pw) {
  if (::initgroups(pw.pw_name, pw.pw_gid) != 0 || ::setgid(pw.pw_gid) != 0 || ::setuid(pw.pw_uid) != 0) return false;
  // Verified: every id is the user's and root cannot be taken back.
  return ::getuid() == pw.pw_uid && ::geteuid() == pw.pw_uid && ::getgid() == pw.pw_gid && ::getegid() == pw.pw_gid &&
         (pw.pw_uid == 0 || ::setuid(0) != 0);
}

// Copies the document (a file or standard input) to path, synced.
bool CopyDocument(int in, const std::string& path) {
  int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (out < 0) return false;
  char buf[1 << 16];
  bool ok = true;
  for (;;) {
    ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(out, buf + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  if (::fsync(out) != 0) ok = false;
  if (::close(out) != 0) ok = false;
  if (!ok) ::unlink(path.c_str());
  return ok;
}

}  // namespace

int RunSpoolBackend(int argc, char** argv, const SpoolBackendKind& kind) {
  if (argc == 1) {
    std::printf("%s\n", kind.discovery);
    return kOk;
  }
  const std::string usage = std::string("Usage: ") + kind.name +
                            " job-id user title copies options [file]\n"
                            "A CUPS backend of the virtual printer: run by the scheduler as root, it leaves the job's\n"
                            "document (the file, or standard input) and its job file in the job owner's spool folder\n"
                            "(~/.local/state/zelvora/spool, or $ZELVORA_CAPTURE_ROOT with %h for the home), where the\n"
                            "owner's resident program picks it up. Without arguments it prints its device line.\n";
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(usage.c_str(), stdout);
    return kOk;
  }
  if (argc < 6 || argc > 7) {
    std::fputs(usage.c_str(), stderr);
    return kCancel;
  }
  const std::string id = argv[1], user = argv[2], title = argv[3], options = argv[5];
  if (!IsJobId(id)) {
    Say("ERROR", "bad job id");
    return kCancel;
  }
  errno = 0;
  passwd* found = ::getpwnam(user.c_str());
  if (found == nullptr) {
    Say("ERROR", "unknown user " + user + "; job cancelled");
    return kCancel;
  }
  passwd pw = *found;
  const std::string name = pw.pw_name, home = pw.pw_dir ? pw.pw_dir : "";
  pw.pw_name = const_cast<char*>(name.c_str());
  // The scheduler keeps the document readable by root alone (its spool folder is root's, the
  // file mode 0600): it is opened here, before the switch, and only read through this
  // descriptor afterwards. Standard input needs nothing: it is open already.
  int in = 0;
  if (argc == 7) {
    in = ::open(argv[6], O_RDONLY | O_CLOEXEC);
    if (in < 0) {
      Say("ERROR", std::string("cannot read the document: ") + std::strerror(errno));
      return kHold;
    }
  }
  // The print server runs backends with this mode as root so the job can reach the user's own
  // folder: everything after this point runs as that user, never as root.
  if (::geteuid() == 0) {
    if (!DropTo(pw)) {
      // Held, not cancelled: the fault is the machine's, and the job can be released once it is mended.
      Say("ERROR", "could not become user " + user + "; job held");
      return kHold;
    }
  } else if (pw.pw_uid != ::getuid()) {
    Say("ERROR", "this backend serves only its own user; job of " + user + " cancelled");
    return kCancel;
  }
  if (home.empty() || home[0] != '/') {
    Say("ERROR", "user " + user + " has no home folder; job cancelled");
    return kCancel;
  }
  ::umask(077);
  const std::string root = OwnCaptureRoot(home, std::getenv("ZELVORA_CAPTURE_ROOT"));
  const std::string spool = SpoolFolder(root);
  if (Status ready = PrepareSpoolFolder(spool); !ready.ok()) {
    Say("ERROR", ready.ToString() + "; job held");
    return kHold;
  }
  const std::string document = spool + "/" + id + kind.document_extension;
  // The capture side picks up a document by its final name: it appears only once whole and synced.
  const std::string part = document + ".part";
  ::unlink(part.c_str());
  if (!CopyDocument(in, part) || ::rename(part.c_str(), document.c_str()) != 0) {
    ::unlink(part.c_str());
    Say("ERROR", "could not write " + document + "; job held");
    return kHold;
  }
  int copies = std::atoi(argv[4]);
  auto job = JobFromOptions(id, title, copies, options);
  if (!zv::fs::WriteFileAtomic(spool + "/" + id + ".job", FormatJobFile(job), 0600).ok()) {
    ::unlink(document.c_str());
    Say("ERROR", "could not write the job file; job held");
    return kHold;
  }
  Say("INFO", "job " + id + " handed to " + user);
  return kOk;
}

}  // namespace zv::capture
