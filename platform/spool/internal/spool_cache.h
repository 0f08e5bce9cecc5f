// The folder spooler's memory of the printers' files: printer descriptions, job records, the
// default printer's name and the names in each jobs folder, with how each is known to be
// still current.
//
// Where inotify watches a file's folder (armed before the file is read), an entry stays until
// an event names its file, or the folder goes, or events were lost (the queue overflowed):
// reading it again then costs no file-system call, and a walk of a jobs folder costs what
// changed in it, not what it holds. Elsewhere (no inotify, a folder on a network file system,
// more folders than are watched) an entry is checked against the file's stamp on every read,
// and a file changed moments ago is always read afresh. Both ways another process's change is
// seen by the next read that follows it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/base/status.h"
#include "platform/fs/watch.h"
#include "platform/spool/folder_spooler.h"

namespace zv::spool::internal {

// What a file was like when it was read: a rewrite through a rename gives it a new inode, an
// edit in place a new size or time.
struct FileStamp {
  std::uint64_t dev = 0, ino = 0, size = 0;
  std::int64_t mtime_ns = 0, ctime_ns = 0;
  bool operator==(const FileStamp&) const = default;
};

template <typename T>
struct CacheEntry {
  FileStamp stamp;       // when trusted by stamp
  bool watched = false;  // trusted until an event names the file
  Result<T> value;       // a missing file is kept (as NotFound) only when watched
};

class SpoolCache {
 public:
  // Takes the printers folder (every folder watched lies in it) and whether to watch at all
  // (without, every entry is checked by stamp).
  SpoolCache(std::filesystem::path root, bool watch);

  // How far a kept value may stand for the file.
  enum class Trust {
    kWatchOrStamp,  // for reads
    kWatchOnly,     // for a read that a write will follow (under the writers' lock): a value
                    // kept by stamp could be a tick old, and the write would undo a change
  };
  // Takes a file, one of the caches below and the file's reader (path -> Result<T>); gives the
  // file's value, read again only when the file may have changed since it was last read.
  template <typename T, typename ReadFn>
  Result<T> Read(std::map<std::string, CacheEntry<T>>& cache, const std::filesystem::path& file, ReadFn&& read,
                 Trust trust = Trust::kWatchOrStamp);

  // As Read, for several files of one folder (a walk of a jobs folder): the changes are taken
  // once for all of them, so unchanged files of a watched folder cost no call at all. Gives
  // their values in the order of `files`.
  template <typename T, typename ReadFn>
  std::vector<Result<T>> ReadEach(std::map<std::string, CacheEntry<T>>& cache, const std::filesystem::path& folder,
                                  const std::vector<std::string>& names, ReadFn&& read);

  // Takes a folder; gives every name in it when the watch keeps them, else nothing.
  std::optional<std::vector<std::string>> Names(const std::filesystem::path& folder);
  // Takes a folder; lists it and gives its names, and keeps them when its watch guarantees no
  // change was missed while listing. Empty when the folder cannot be read.
  std::vector<std::string> ListNames(const std::filesystem::path& folder);
  // Takes a folder and a name; gives whether the folder holds that name, when the watch keeps
  // the folder's names (nothing when it does not).
  std::optional<bool> Holds(const std::filesystem::path& folder, const std::string& name);

  // Takes a file the caller is about to replace (holding the lock every writer of it takes);
  // gives the token to hand to Wrote.
  std::uint64_t Writing(const std::filesystem::path& file);
  // Takes the file just replaced, one of the caches below, the value of what was written and
  // the token of Writing; keeps the value as the file's when the only changes seen since
  // Writing are that write's own (its temporary file and the rename onto the file).
  template <typename T>
  void Wrote(std::map<std::string, CacheEntry<T>>& cache, const std::filesystem::path& file, Result<T> value,
             std::uint64_t token);

  class HeldLock;
  // Takes a lock file (created when missing; its folder must exist); gives an exclusive lock
  // on it, held against other processes (flock) and this process's other threads alike.
  // Where the watch shows the lock file stays the same, its descriptor is kept open for the
  // next lock. IOError when the file cannot be opened.
  Result<HeldLock> Lock(const std::filesystem::path& lock_file);

  std::map<std::string, CacheEntry<FolderPrinter>> descriptions;
  std::map<std::string, CacheEntry<JobInfo>> job_records;
  std::map<std::string, CacheEntry<std::string>> texts;  // first lines: the default's name, the job counter

 private:
  // A lock file's descriptor kept open between locks. `fd` and `keep` belong to whoever holds
  // `threads`; `stale` (set when an event says the file was replaced or removed) to mutex_.
  struct KeptLock {
    std::mutex threads;
    int fd = -1;
    bool keep = false;
    bool stale = false;
  };
  struct Watched {
    int id = -1;
    std::optional<std::set<std::string>> names;  // every name in the folder, when known
  };
  // The read of a file no watch vouches for: the file's stamp is checked on every call, and
  // the value kept only for a file that changed long enough ago.
  template <typename T, typename ReadFn>
  Result<T> ReadByStamp(std::map<std::string, CacheEntry<T>>& cache, const std::filesystem::path& file, ReadFn&& read);
  // The rest run with mutex_ held.
  // Keeps a value that the watch vouches for; a failure other than a missing file is not kept
  // (and drops what was kept).
  template <typename T>
  void KeepWatched(std::map<std::string, CacheEntry<T>>& cache, const std::string& key, const Result<T>& value);
  // Takes every queued event and forgets what each one names. Gives, when `own` names a file,
  // whether every change taken was part of replacing that file through a temporary one beside
  // it (files written by zv::fs::WriteFileAtomic) and it was replaced once.
  bool TakeChanges(const std::string* own = nullptr);
  // Takes a folder; gives whether it is watched, arming a watch on it (and on the folders
  // between it and the root) when it is not yet.
  bool Watch(const std::string& folder);
  // Stops watching `folder` and every folder below it; gives whether one was watched.
  bool DropWatches(const std::string& folder);
  // Forgets every entry and name list that a watch vouched for.
  void ForgetWatched();
  void ForgetFile(const std::string& key);

  std::mutex mutex_;
  std::string root_;
  std::unique_ptr<zv::fs::FolderEvents> events_;  // null when inotify is not to be had
  bool events_tried_ = false;
  std::map<std::string, Watched> folders_;  // by folder path
  std::map<int, std::string> by_id_;
  std::map<std::string, std::shared_ptr<KeptLock>> locks_;  // by lock file
  // Counts the events taken: a read or a listing is kept as watched only when no event came
  // in while it ran (which might have named what it read).
  std::uint64_t seq_ = 0;

 public:
  SpoolCache(const SpoolCache&) = delete;
  SpoolCache& operator=(const SpoolCache&) = delete;
  ~SpoolCache();
};

class SpoolCache::HeldLock {
 public:
  HeldLock(HeldLock&& o) noexcept : lock_(std::move(o.lock_)) {}
  HeldLock& operator=(HeldLock&&) = delete;
  ~HeldLock();

 private:
  friend class SpoolCache;
  explicit HeldLock(std::shared_ptr<KeptLock> lock) : lock_(std::move(lock)) {}
  std::shared_ptr<KeptLock> lock_;
};

// Entries kept at most in one cache (and names kept for one folder); past it the cache starts
// afresh.
inline constexpr std::size_t kMaxCachedEntries = 8192;

// A file changed less than this long ago is read afresh on each call when no watch vouches
// for it: the file system's clock moves in coarse ticks (at most 10 ms), so a second rewrite
// within one tick could keep the size and times (and, through a reused inode, the inode) of
// the version cached. A file older than this is trusted by its stamp: any later change gives
// it a later time. A file system that keeps whole seconds only gets the longer wait.
inline constexpr std::int64_t kSettledNs = 100'000'000;
inline constexpr std::int64_t kSettledWholeSecondsNs = 2'000'000'000;

// Takes a file; gives its stamp, and in *whole_seconds whether its times lack fractions.
// NotFound when it is no regular file.
Result<FileStamp> StampOf(const std::filesystem::path& file, bool* whole_seconds);
std::int64_t NowUnixNs();

template <typename T, typename ReadFn>
Result<T> SpoolCache::Read(std::map<std::string, CacheEntry<T>>& cache, const std::filesystem::path& file,
                           ReadFn&& read, Trust trust) {
  const std::string key = file.string();
  const std::string folder = file.parent_path().string();
  std::uint64_t seq = 0;
  bool watched = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    TakeChanges();
    watched = Watch(folder);
    if (watched) {
      if (auto it = cache.find(key); it != cache.end() && it->second.watched) return it->second.value;
      const auto& names = folders_[folder].names;
      if (names && !names->count(file.filename().string())) return Status::NotFound(key + ": no such file");
      seq = seq_;
    }
  }
  if (watched) {
    Result<T> value = read(file);
    std::lock_guard<std::mutex> lock(mutex_);
    TakeChanges();
    if (seq == seq_ && folders_.count(folder))
      KeepWatched(cache, key, value);
    else
      cache.erase(key);
    return value;
  }
  if (trust == Trust::kWatchOnly) return read(file);
  return ReadByStamp(cache, file, read);
}

template <typename T, typename ReadFn>
std::vector<Result<T>> SpoolCache::ReadEach(std::map<std::string, CacheEntry<T>>& cache,
                                            const std::filesystem::path& folder, const std::vector<std::string>& names,
                                            ReadFn&& read) {
  std::vector<Result<T>> out;
  out.reserve(names.size());
  const std::string dir = folder.string();
  std::vector<std::size_t> missing;  // indexes of the files to read
  std::uint64_t seq = 0;
  bool watched = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    TakeChanges();
    watched = Watch(dir);
    if (watched) {
      seq = seq_;
      for (const std::string& name : names) {
        auto it = cache.find(dir + "/" + name);
        if (it != cache.end() && it->second.watched) {
          out.push_back(it->second.value);
        } else {
          out.push_back(Status::NotFound(dir + "/" + name + ": not read yet"));
          missing.push_back(out.size() - 1);
        }
      }
    }
  }
  if (!watched) {
    // Each file by its stamp.
    for (const std::string& name : names) out.push_back(Read(cache, folder / name, read));
    return out;
  }
  for (std::size_t i : missing) out[i] = read(folder / names[i]);
  if (missing.empty()) return out;
  std::lock_guard<std::mutex> lock(mutex_);
  TakeChanges();
  if (seq != seq_ || !folders_.count(dir)) return out;
  for (std::size_t i : missing) KeepWatched(cache, dir + "/" + names[i], out[i]);
  return out;
}

template <typename T>
void SpoolCache::Wrote(std::map<std::string, CacheEntry<T>>& cache, const std::filesystem::path& file, Result<T> value,
                       std::uint64_t token) {
  const std::string key = file.string();
  std::lock_guard<std::mutex> lock(mutex_);
  // Another thread took changes meanwhile: which of them were this write's is not known.
  const bool alone = seq_ == token;
  const bool own = TakeChanges(&key);
  if (alone && own && value.ok() && folders_.count(file.parent_path().string())) KeepWatched(cache, key, value);
}

template <typename T>
void SpoolCache::KeepWatched(std::map<std::string, CacheEntry<T>>& cache, const std::string& key,
                             const Result<T>& value) {
  if (!value.ok() && value.status().code() != Status::Code::kNotFound) {
    cache.erase(key);
    return;
  }
  if (cache.size() >= kMaxCachedEntries) cache.clear();
  cache.insert_or_assign(key, CacheEntry<T>{{}, true, value});
}

template <typename T, typename ReadFn>
Result<T> SpoolCache::ReadByStamp(std::map<std::string, CacheEntry<T>>& cache, const std::filesystem::path& file,
                                  ReadFn&& read) {
  bool whole_seconds = false;
  auto stamp = StampOf(file, &whole_seconds);
  if (!stamp.ok()) return stamp.status();
  const std::string key = file.string();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto it = cache.find(key); it != cache.end() && !it->second.watched && it->second.stamp == *stamp)
      return it->second.value;
  }
  // Read after the stamp was taken: a change in between leaves a newer file than the stamp
  // says, and the next call sees a different stamp and reads again.
  Result<T> value = read(file);
  const std::int64_t now_ns = NowUnixNs();
  const std::int64_t wait_ns = whole_seconds ? kSettledWholeSecondsNs : kSettledNs;
  const bool settled = stamp->mtime_ns < now_ns - wait_ns && stamp->ctime_ns < now_ns - wait_ns;
  std::lock_guard<std::mutex> lock(mutex_);
  if (value.ok() && settled) {
    if (cache.size() >= kMaxCachedEntries) cache.clear();
    cache.insert_or_assign(key, CacheEntry<T>{*stamp, false, value});
  } else {
    cache.erase(key);
  }
  return value;
}

}  // namespace zv::spool::internal
