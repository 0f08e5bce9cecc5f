// The file rules of the server's share, in one place for the engine and the clients: how a
// request is placed in a slot and told whole from one still being written, how a job file
// is written, how an answer is bound to its request, which modes the files get, and how a
// share that cannot be reached is told from an engine that does not run.
//
// The share is usually another machine's folder reached through a network mount (SMB
// through smbnetfs, sshfs). Such mounts have no hard links and no rename without replace
// (EINVAL), give odd errors for a name that exists (EPERM on sshfs), rename onto an
// existing name in two steps, show every file as the mounting user's, now and then give a
// transient EBUSY, and keep locks on the client machine. Every operation on the share goes
// through one table of file operations (FileOps): the default is the system's calls; a
// layer stacked on it (NetworkMountOps) behaves as those mounts do, so that the local and
// the network behaviour differ in one place and tests drive the network rules on a local
// folder.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <span>
#include <string>
#include <string_view>

#include "platform/base/status.h"

namespace zv::share {

// The table of file operations on the share. Each gives what the system call gives (-1
// with errno set on failure).
class FileOps {
 public:
  // Bumped when an operation is added or changes its meaning.
  static constexpr int kVersion = 1;
  virtual ~FileOps() = default;
  virtual int Open(const std::string& path, int flags, mode_t mode);
  virtual ssize_t Write(int fd, const void* data, size_t size);
  virtual int Close(int fd);
  // renameat2(RENAME_NOREPLACE).
  virtual int RenameNoReplace(const std::string& from, const std::string& to);
  virtual int Link(const std::string& from, const std::string& to);
  virtual int Unlink(const std::string& path);
  virtual int Lstat(const std::string& path, struct stat* st);
};

// The system's own calls.
FileOps& DefaultFileOps();

// A layer over another table that behaves as a network mount does.
enum class MountKind {
  kSmbnetfs,  // no RENAME_NOREPLACE (EINVAL), no links (EPERM)
  kSshfs,     // no RENAME_NOREPLACE (EINVAL); a name that exists gives EPERM, not EEXIST
};
class NetworkMountOps : public FileOps {
 public:
  NetworkMountOps(FileOps& below, MountKind kind) : below_(below), kind_(kind) {}
  int Open(const std::string& path, int flags, mode_t mode) override;
  ssize_t Write(int fd, const void* data, size_t size) override { return below_.Write(fd, data, size); }
  int Close(int fd) override { return below_.Close(fd); }
  int RenameNoReplace(const std::string& from, const std::string& to) override;
  int Link(const std::string& from, const std::string& to) override;
  int Unlink(const std::string& path) override;
  int Lstat(const std::string& path, struct stat* st) override;

  // As a mount with a negative cache (smbnetfs has one, 3 s by default): with this on, a name
  // looked at and not found stays missing for Lstat until ForgetMisses, whatever is
  // written there meanwhile by others (what this layer itself creates or deletes it knows).
  void CacheMisses(bool on) { cache_misses_ = on; }
  void ForgetMisses() { misses_.clear(); }

  // The next `n` exclusive creates fail with EBUSY first (a transient refusal).
  void FailNextCreates(int n) { busy_ = n; }
  // Called with the path just before each exclusive create: a test puts a file there to
  // take the name "meanwhile".
  std::function<void(const std::string& path)> before_create;

 private:
  FileOps& below_;
  MountKind kind_;
  int busy_ = 0;
  bool cache_misses_ = false;
  std::set<std::string> misses_;
};

// Modes of what the clients write into the share: a queued request and a job file are
// their writer's alone (the engine reads them as root); nobody else may read the request's
// key or the job's pages.
inline constexpr mode_t kRequestMode = 0600;
inline constexpr mode_t kJobMode = 0600;

// The request's key: "RequestID=<24 hex digits>" as the first key of "[RequestInfo]", and
// "RequestEnd=<the same key>" as the request's last line. The engine echoes the key in the
// answer and its copy ("RequestID" in "[PrintResult]"); a client shows only an answer that
// carries its request's key.
inline constexpr char kRequestIdKey[] = "RequestID";
inline constexpr char kRequestEndKey[] = "RequestEnd";

// Gives a fresh key: 24 lowercase hex digits (96 bits) from the system's random source
// (short enough to pass to the job monitor beside the answer's name in its 128-byte block).
std::string NewRequestId();
// Gives whether a text is a key as requests carry it: 16 to 64 hex digits.
bool IsRequestId(std::string_view text);

// Takes a request text that starts with its "[RequestInfo]" line and a key; gives it with
// the key as the first key and the closing "RequestEnd" line appended.
std::string SealRequestText(std::string_view text, std::string_view id);

// Whether a request file's text is a whole request. A sealed text (its first key is
// "RequestID") is whole only once its closing "RequestEnd" line with the same key has
// arrived; an empty text, or one that may still become a sealed one, is partial. Any other
// text is an unsealed request of an older client, which placed it whole (by rename).
enum class RequestTextState { kWhole, kPartial };
RequestTextState ClassifyRequestText(std::string_view text);
// Gives the key a request or answer text carries ("RequestID=" line of its first section,
// letter case of the name ignored); "" when it carries none that is a key.
std::string RequestIdOf(std::string_view text);

// Takes the key a request carried ("" for a request without one), the key an answer
// carries and whether the client is set to read answers of engines that echo no key; gives
// whether the answer is this request's: its key matches, or it has none and keyless answers
// are read.
bool AnswerBelongs(std::string_view sent, std::string_view carried, bool accept_keyless);

// An answer copy "orderNN-<account>-<machine>.an2" is named by the slot, so the answer to
// the next request in that slot for the same account and machine takes its place. A
// sender of that user on that machine may not yet have read it when another sender of the
// same user takes the slot again: a slot that a client found free with no copy may be
// taken by another sender, answered and freed before that client claims it (over SMB each
// look and the claim are round trips, and one user's senders share one mount), and a mount
// may keep for a while a name it did not find (smbnetfs has a negative cache). So the
// engine holds a request whose answer would replace a copy another request's sender has
// not taken yet, and serves the other requests meanwhile: until the copy is taken (its
// reader deletes it), or for at most kAwaitedCopyHoldMs after it was written (a sender
// that is gone, or the job monitor, which keeps the copy it read until its popup closes).
// A live sender reads its copy within its poll cycle, so the held request waits about
// that long.
inline constexpr int kAwaitedCopyHoldMs = 10000;
// How often the engine looks again at a held request's copy.
inline constexpr int kAwaitedCopyPollMs = 20;

// Takes the path of the answer copy a request's answer will be written to, that request's
// key, the owner the engine gives that account's answers and the time now; gives whether
// the name holds another request's answer still awaited: a plain file of that owner or
// root (one the engine wrote), written less than kAwaitedCopyHoldMs ago, carrying a key
// that is not this request's. A keyless copy, one another member planted, and an old one
// hold nothing.
bool AnswerCopyAwaited(const std::string& copy_path, std::string_view key, uid_t owner,
                       std::chrono::system_clock::time_point now);

// The requests the engine holds for an awaited copy (AnswerCopyAwaited), by slot.
class AwaitedCopyHolds {
 public:
  // Takes a slot, its request file's path, the path of the answer copy its answer will be
  // written to, its key, the owner of that account's answers and now; gives whether the
  // request is held, and remembers it while it is.
  bool Hold(int slot, const std::string& request_path, const std::string& copy_path, std::string_view key,
            uid_t owner, std::chrono::system_clock::time_point now);
  // Takes the slots a scan found (one flag a slot) and the longest wait; clears the flag of
  // each slot still held and gives the wait, at most kAwaitedCopyPollMs while one is held.
  // A request whose copy was taken or grew old, or whose file went or changed, is let go.
  int PassOver(std::span<bool> present, int wait_ms, std::chrono::system_clock::time_point now);
  bool empty() const { return held_.empty(); }

 private:
  struct Held {
    std::string request_path, copy_path, key;
    uid_t owner = 0;
    ino_t ino = 0;
    std::int64_t mtime_ns = 0;
  };
  std::map<int, Held> held_;
};

// How long the engine waits for a claimed request slot to be written whole before it sets
// the claim aside as abandoned.
inline constexpr int kClaimAbandonMs = 60000;

// Takes the table, the request folder, the whole request text, the slot to start from and
// a function that says of each free slot whether it may be taken (may be empty: every free
// slot may); places the text on the first free slot it allows, in ring order, never
// replacing one: renamed there whole from a
// temporary name (never matching "order*.lst") where the mount can rename without
// replacing, else claimed by an exclusive create and written in place (the engine takes it
// once its closing line is there). A slot taken meanwhile is passed over whatever error
// the mount gives for it; a transient EBUSY is tried again. Gives the slot; Busy when every
// slot is taken; NoSpace when the share (or the writer's quota) is full, IOError when the
// text could not be written otherwise (nothing is left either way).
Result<int> PlaceRequestText(FileOps& ops, const std::string& folder, const std::string& text, int start,
                             const std::function<bool(int slot)>& slot_allowed = {});

// Takes the table, the jobs folder, the machine name and the job's bytes; creates the first
// free "<machine><n>.prc" (n from 0 to 4999) exclusively (kJobMode) and writes the bytes
// into it in place: no rename onto an existing name is needed (a network mount does that
// in two steps), and the engine reads the file only once a request names it, after it was
// written whole. A name taken meanwhile is passed over whatever error the mount gives; a
// transient EBUSY is tried again. Gives the name; Busy when none is free; InvalidArgument
// when the machine name is not plain; NoSpace when the share (or the writer's quota) is
// full; IOError for other failures (nothing is left then, holding no name).
inline constexpr int kMaxJobFileNumber = 4999;
Result<std::string> WriteJobFile(FileOps& ops, const std::string& folder, const std::string& machine,
                                 std::span<const std::uint8_t> bytes);

// What a look at the server's request folder found.
struct ShareCheck {
  enum State {
    kRunning,      // the folder can be read and the engine's "Wakeup.inf" is there
    kNotRunning,   // the folder can be read, "Wakeup.inf" is missing
    kUnreachable,  // the folder cannot be reached (missing, the link down, an I/O error)
    kUnreadable,   // the folder may not be read (permission denied)
  } state = kUnreachable;
  int error = 0;  // the errno of an unreachable or unreadable folder
};
ShareCheck CheckRequestFolder(FileOps& ops, const std::string& folder);

}  // namespace zv::share
