#include "platform/spool/internal/spool_cache.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "platform/fs/files.h"

namespace zv::spool::internal {

namespace fs = std::filesystem;

namespace {
// Folders watched at most (the printers folder, each printer's folder and its jobs folder);
// past it the others are checked by stamp.
constexpr std::size_t kMaxWatchedFolders = 256;
}  // namespace

Result<FileStamp> StampOf(const fs::path& file, bool* whole_seconds) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return Status::NotFound(file.string() + ": no such file");
  FileStamp stamp;
  stamp.dev = st.st_dev;
  stamp.ino = st.st_ino;
  stamp.size = static_cast<std::uint64_t>(st.st_size);
  stamp.mtime_ns = std::int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
  stamp.ctime_ns = std::int64_t(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec;
  *whole_seconds = st.st_mtim.tv_nsec == 0 && st.st_ctim.tv_nsec == 0;
  return stamp;
}

std::int64_t NowUnixNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

SpoolCache::SpoolCache(fs::path root, bool watch) : root_(root.string()), events_tried_(!watch) {}

SpoolCache::~SpoolCache() {
  // No lock is held now: every HeldLock shares this cache's owner.
  for (auto& [path, lock] : locks_)
    if (lock->fd >= 0) ::close(lock->fd);
}

SpoolCache::HeldLock::~HeldLock() {
  if (!lock_) return;
  if (lock_->keep) {
    (void)::flock(lock_->fd, LOCK_UN);
  } else {
    ::close(lock_->fd);  // closing the only descriptor drops the flock
    lock_->fd = -1;
  }
  lock_->threads.unlock();
}

Result<SpoolCache::HeldLock> SpoolCache::Lock(const fs::path& lock_file) {
  const std::string key = lock_file.string();
  std::shared_ptr<KeptLock> lock;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    auto& slot = locks_[key];
    if (!slot) slot = std::make_shared<KeptLock>();
    lock = slot;
  }
  lock->threads.lock();
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      TakeChanges();
      const bool watched = Watch(lock_file.parent_path().string());
      if (lock->stale || !watched) {
        if (lock->fd >= 0) ::close(lock->fd);
        lock->fd = -1;
      }
      lock->stale = false;
      lock->keep = watched && locks_.size() <= kMaxWatchedFolders;
    }
    // Opened for reading only, so that closing it reports no write to anyone watching.
    if (lock->fd < 0) lock->fd = ::open(key.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock->fd < 0) {
      int e = errno;
      lock->threads.unlock();
      return Status::IOError(zv::fs::ErrnoText("open lock " + key, e));
    }
    int r;
    do r = ::flock(lock->fd, LOCK_EX);
    while (r != 0 && errno == EINTR);
    if (r != 0) {
      int e = errno;
      ::close(lock->fd);
      lock->fd = -1;
      lock->threads.unlock();
      return Status::IOError(zv::fs::ErrnoText("flock " + key, e));
    }
    // Locked: the file is still the one at that path unless an event says otherwise (a file
    // put in its place meanwhile, or the one just created here), in which case the lock is
    // taken again on the file that is there now.
    std::lock_guard<std::mutex> guard(mutex_);
    TakeChanges();
    if (!lock->keep || !lock->stale) return HeldLock(lock);
    (void)::flock(lock->fd, LOCK_UN);
  }
}

std::optional<std::vector<std::string>> SpoolCache::Names(const fs::path& folder) {
  std::lock_guard<std::mutex> lock(mutex_);
  TakeChanges();
  if (!Watch(folder.string())) return std::nullopt;
  const auto& names = folders_[folder.string()].names;
  if (!names) return std::nullopt;
  return std::vector<std::string>(names->begin(), names->end());
}

std::vector<std::string> SpoolCache::ListNames(const fs::path& folder) {
  const std::string key = folder.string();
  std::uint64_t seq = 0;
  bool watched = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    TakeChanges();
    watched = Watch(key);
    seq = seq_;
  }
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) names.push_back(entry.path().filename().string());
  if (ec || !watched || names.size() > kMaxCachedEntries) return names;
  std::lock_guard<std::mutex> lock(mutex_);
  TakeChanges();
  // Listed after the watch was armed and no event came meanwhile: every later change to the
  // folder's names arrives as an event.
  if (seq == seq_ && folders_.count(key)) folders_[key].names.emplace(names.begin(), names.end());
  return names;
}

std::optional<bool> SpoolCache::Holds(const fs::path& folder, const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  TakeChanges();
  auto it = folders_.find(folder.string());
  if (it == folders_.end() || !it->second.names) return std::nullopt;
  return it->second.names->count(name) != 0;
}

void SpoolCache::ForgetFile(const std::string& key) {
  descriptions.erase(key);
  job_records.erase(key);
  texts.erase(key);
}

void SpoolCache::ForgetWatched() {
  auto forget = [](auto& cache) { std::erase_if(cache, [](const auto& e) { return e.second.watched; }); };
  forget(descriptions);
  forget(job_records);
  forget(texts);
  for (auto& [path, w] : folders_) w.names.reset();
  for (auto& [path, lock] : locks_) lock->stale = true;
}

bool SpoolCache::DropWatches(const std::string& folder) {
  bool dropped = false;
  for (auto it = folders_.lower_bound(folder); it != folders_.end();) {
    const std::string& path = it->first;
    if (path.compare(0, folder.size(), folder) != 0) break;
    if (path.size() != folder.size() && path[folder.size()] != '/') {
      ++it;
      continue;
    }
    if (events_) events_->Remove(it->second.id);
    by_id_.erase(it->second.id);
    it = folders_.erase(it);
    dropped = true;
  }
  return dropped;
}

std::uint64_t SpoolCache::Writing(const fs::path& file) {
  std::lock_guard<std::mutex> lock(mutex_);
  TakeChanges();
  return seq_;
}

bool SpoolCache::TakeChanges(const std::string* own) {
  if (!events_) return false;
  auto batch = events_->Take();
  if (!batch.ok()) {
    // The queue cannot be read: nothing it said can be relied on, now or later.
    events_.reset();
    folders_.clear();
    by_id_.clear();
    ForgetWatched();
    ++seq_;
    return false;
  }
  if (batch->changes.empty() && batch->gone.empty() && !batch->overflow) return false;
  ++seq_;
  bool forget_all = batch->overflow;
  // Whether the changes are those of one replacement of *own and nothing else.
  bool only_own = own && batch->gone.empty() && !batch->overflow;
  int replaced = 0;
  if (own) {
    const std::string folder = fs::path(*own).parent_path().string();
    const std::string name = fs::path(*own).filename().string();
    const std::string temporary = "." + name + ".tmp";
    for (const auto& c : batch->changes) {
      auto it = by_id_.find(c.folder);
      if (it == by_id_.end() || it->second != folder) {
        only_own = false;
      } else if (c.name == name) {
        ++replaced;
        only_own = only_own && c.appeared && !c.went;
      } else if (c.name.rfind(temporary, 0) != 0) {
        only_own = false;
      }
    }
  }
  for (int id : batch->gone) {
    if (auto it = by_id_.find(id); it != by_id_.end()) forget_all = DropWatches(std::string(it->second)) || forget_all;
  }
  for (const auto& c : batch->changes) {
    auto it = by_id_.find(c.folder);
    if (it == by_id_.end()) continue;  // a folder dropped meanwhile
    const std::string path = it->second + "/" + c.name;
    ForgetFile(path);
    if (c.appeared || c.went)
      if (auto lock = locks_.find(path); lock != locks_.end()) lock->second->stale = true;
    if (auto& names = folders_[it->second].names) {
      if (c.appeared) names->insert(c.name);
      if (c.went) names->erase(c.name);
      if (names->size() > kMaxCachedEntries) names.reset();
    }
    // A folder moved or removed below a watched one: what was watched there is gone with it,
    // and a folder moved in under that name is not the one watched.
    if (c.appeared || c.went) forget_all = DropWatches(path) || forget_all;
  }
  if (forget_all) ForgetWatched();
  return only_own && replaced == 1;
}

bool SpoolCache::Watch(const std::string& folder) {
  if (folders_.count(folder)) return true;
  if (!events_) {
    if (events_tried_) return false;
    events_tried_ = true;
    auto events = zv::fs::FolderEvents::Open();
    if (!events.ok()) return false;
    events_ = std::move(*events);
  }
  // The folders between the root and this one are watched first, so that a move or removal
  // of any of them is seen; a folder outside the root is not watched.
  if (folder != root_) {
    if (folder.compare(0, root_.size(), root_) != 0 || folder.size() <= root_.size() || folder[root_.size()] != '/')
      return false;
    const std::string parent = fs::path(folder).parent_path().string();
    if (!Watch(parent)) return false;
  }
  if (folders_.size() >= kMaxWatchedFolders) return false;
  auto id = events_->Add(folder);
  if (!id.ok()) return false;
  // The same folder under another path (through a link): its events name the other path.
  if (by_id_.count(*id)) return false;
  folders_[folder] = Watched{*id, std::nullopt};
  by_id_[*id] = folder;
  return true;
}

}  // namespace zv::spool::internal
