#include "platform/registry/registry.h"

#include <unistd.h>

#include <cstring>
#include <mutex>
#include <optional>

#include "platform/base/root.h"
#include "platform/fs/files.h"
#include "platform/fs/watch.h"
#include "platform/paths/paths.h"

namespace zv::registry {
namespace {

std::string HiveBaseName(RootKey root) {
  // One machine hive shared by all users, one per-user hive by user id, as the two roots are.
  return root == RootKey::kLocalMachine ? "machine" : "user-" + std::to_string(::getuid());
}

Result<HiveData> ReadHive(const std::string& path) {
  auto text = fs::ReadFile(path, kMaxHiveFileSize);
  if (!text.ok()) {
    if (text.status().code() == Status::Code::kNotFound) return HiveData();
    return text.status();
  }
  return HiveData::Parse(*text);
}

// Gives the machine-wide hive file's hive, or an empty one when it is missing or cannot be
// read (a link, a folder, no permission: the installer never wrote it so); Corruption when it
// is damaged.
Result<HiveData> ReadSystemHive(const std::string& path) {
  auto text = fs::ReadFile(path, kMaxHiveFileSize);
  if (!text.ok()) return HiveData();
  auto hive = HiveData::Parse(*text);
  if (!hive.ok()) return Status::Corruption("machine-wide registry hive " + path + ": " + hive.status().message());
  return hive;
}

// A hive as last read, kept while a watch on its folder sees no change there: a program
// reads many values one after the other (the engine some thirty at each look at its
// settings), and each would otherwise read and parse the whole file again.
struct KeptHive {
  std::string path;
  fs::FolderChanges changes;
  std::optional<Result<HiveData>> hive;
};
std::mutex kept_mutex;
KeptHive kept_hives[2];  // this root's hive and the machine-wide one
size_t next_kept = 0;

// Takes a hive file's path and how to read it; gives its hive, from the kept copy when the
// file's folder has not changed since it was read.
Result<HiveData> LoadKept(const std::string& path, Result<HiveData> (*read)(const std::string&)) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
  std::lock_guard<std::mutex> l(kept_mutex);
  KeptHive* kept = nullptr;
  for (KeptHive& k : kept_hives)
    if (k.path == path) kept = &k;
  if (!kept) {
    kept = &kept_hives[next_kept++ % 2];
    kept->path = path;
    kept->hive.reset();
  }
  // A false arms the watch (where the folder can be watched) before the read below, so a
  // change made while it reads is seen at the next look.
  if (kept->changes.Unchanged(folder) && kept->hive) return *kept->hive;
  kept->hive = read(path);
  return *kept->hive;
}

// Takes a hive file's path; gives its hive (an empty one when the file is missing).
Result<HiveData> Load(const std::string& path) { return LoadKept(path, &ReadHive); }

// Gives the machine-wide hive (see ReadSystemHive).
Result<HiveData> LoadSystem() {
  std::string path = SystemHivePath();
  if (path.empty()) return HiveData();
  return LoadKept(path, &ReadSystemHive);
}

// Takes the hive below and the hive above; copies every key and value of the upper hive into
// the lower one, so that values of the upper hive win. Gives the first failure.
Status LayOver(HiveData& below, const HiveData& above, const std::string& path) {
  if (Status s = below.CreateKey(path); !s.ok()) return s;
  auto names = above.ValueNames(path);
  if (!names.ok()) return names.status();
  for (const auto& name : *names) {
    if (Status s = below.Set(path, name, *above.Find(path, name)); !s.ok()) return s;
  }
  auto subkeys = above.SubKeyNames(path);
  if (!subkeys.ok()) return subkeys.status();
  for (const auto& sub : *subkeys) {
    if (Status s = LayOver(below, above, path.empty() ? sub : path + "\\" + sub); !s.ok()) return s;
  }
  return Status::Ok();
}

// Takes a key path; true when the machine-wide hive holds that key (a damaged or missing
// hive holds none).
bool SystemHasKey(const std::string& path) {
  auto system = LoadSystem();
  return system.ok() && system->HasKey(path);
}

Status WrongType(std::string_view name) {
  return Status::InvalidArgument("registry value of wrong type: " + std::string(name));
}

}  // namespace

std::string HivePath(RootKey root) { return RuntimeRoot() + "/registry/" + HiveBaseName(root) + ".reg"; }

std::string SystemHivePath() {
  std::string folder = paths::SystemConfigFolder();
  return folder.empty() ? std::string() : folder + "/machine.reg";
}

Result<HiveData> Snapshot(RootKey root) {
  auto own = Load(HivePath(root));
  if (!own.ok() || root != RootKey::kLocalMachine) return own;
  auto system = LoadSystem();
  if (!system.ok()) return system.status();
  if (Status s = LayOver(*system, *own, ""); !s.ok()) return s;
  return system;
}

namespace {

// Takes a hive file, its lock file, the file's mode and a change; runs the change on the hive
// under the lock and writes the hive back atomically when the change returns Ok.
Status UpdateFile(const std::string& path, const std::string& lock_path, mode_t mode,
                  const std::function<Status(HiveData&)>& fn) {
  auto lock = fs::FileLock::Acquire(lock_path);
  if (!lock.ok()) return lock.status();
  // Read afresh, not from the kept copy: the change is made on the file as it is now.
  auto hive = ReadHive(path);
  if (!hive.ok()) return hive.status();  // never overwrite a damaged hive
  Status st = fn(*hive);
  if (!st.ok()) return st;
  // A hive the reader would refuse as too large would lock every program out of all keys.
  std::string text = hive->Serialize();
  if (text.size() > kMaxHiveFileSize) return Status::InvalidArgument("registry hive would grow too large");
  return fs::WriteFileAtomic(path, text, mode);
}

}  // namespace

Status Update(RootKey root, const std::function<Status(HiveData&)>& fn) {
  auto folder = paths::RootFolder("registry", 0700);
  if (!folder.ok()) return folder.status();
  return UpdateFile(HivePath(root), *folder + "/" + HiveBaseName(root) + ".lock", 0600, fn);
}

Status UpdateMachineWide(const std::function<Status(HiveData&)>& fn) {
  std::string folder = paths::SystemConfigFolder();
  if (folder.empty()) return Status::InvalidArgument("no machine-wide settings folder");
  if (Status made = fs::MakeDirs(folder, 0755); !made.ok()) return made;
  return UpdateFile(SystemHivePath(), folder + "/machine.lock", 0644, fn);
}

Result<Key> Key::Open(RootKey root, std::string_view path) {
  auto canon = HiveData::CanonicalPath(path);
  if (!canon.ok()) return canon.status();
  // Readers take no lock: hives are replaced by rename, so a reader sees the old or the new
  // file whole.
  auto hive = Snapshot(root);
  if (!hive.ok()) return hive.status();
  if (!hive->HasKey(*canon)) return Status::NotFound("no registry key " + *canon);
  return Key(root, *canon);
}

Result<Key> Key::Create(RootKey root, std::string_view path) {
  auto canon = HiveData::CanonicalPath(path);
  if (!canon.ok()) return canon.status();
  auto hive = Snapshot(root);
  if (!hive.ok()) return hive.status();
  if (!hive->HasKey(*canon)) {
    Status st = Update(root, [&](HiveData& h) { return h.CreateKey(*canon); });
    if (!st.ok()) return st;
  }
  return Key(root, *canon);
}

Result<Value> Key::GetValue(std::string_view name) const {
  auto hive = Snapshot(root_);
  if (!hive.ok()) return hive.status();
  if (!hive->HasKey(path_)) return Status::NotFound("registry key deleted: " + path_);
  const Value* v = hive->Find(path_, name);
  if (!v) return Status::NotFound("no registry value " + std::string(name));
  return *v;
}

Status Key::QueryValue(std::string_view name, uint32_t* type, void* data, uint32_t* size) const {
  if (data && !size) return Status::InvalidArgument("data buffer without a size");
  auto v = GetValue(name);
  if (!v.ok()) return v.status();
  if (type) *type = v->type;
  uint32_t need = static_cast<uint32_t>(v->data.size());
  if (!data) {
    if (size) *size = need;
    return Status::Ok();
  }
  if (*size < need) {
    *size = need;
    return Status::MoreData("registry value needs " + std::to_string(need) + " bytes");
  }
  if (need) std::memcpy(data, v->data.data(), need);
  *size = need;
  return Status::Ok();
}

Result<std::string> Key::GetString(std::string_view name) const {
  auto v = GetValue(name);
  if (!v.ok()) return v.status();
  if (v->type != kRegSz && v->type != kRegExpandSz) return WrongType(name);
  auto nul = v->data.find('\0');
  return nul == std::string::npos ? v->data : v->data.substr(0, nul);
}

Result<uint32_t> Key::GetDword(std::string_view name) const {
  auto v = GetValue(name);
  if (!v.ok()) return v.status();
  if (v->type != kRegDword || v->data.size() != 4) return WrongType(name);
  const auto* b = reinterpret_cast<const unsigned char*>(v->data.data());
  return static_cast<uint32_t>(b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24));
}

Result<std::string> Key::GetBinary(std::string_view name) const {
  auto v = GetValue(name);
  if (!v.ok()) return v.status();
  if (v->type != kRegBinary) return WrongType(name);
  return v->data;
}

Status Key::SetValue(std::string_view name, uint32_t type, std::string_view data) const {
  // A key that only the machine-wide hive holds gets its copy in the root's own hive here.
  bool system_key = root_ == RootKey::kLocalMachine && SystemHasKey(path_);
  return Update(root_, [&](HiveData& h) {
    if (system_key && !h.HasKey(path_)) {
      if (Status s = h.CreateKey(path_); !s.ok()) return s;
    }
    return h.Set(path_, name, Value{type, std::string(data)});
  });
}

Status Key::SetString(std::string_view name, std::string_view text) const {
  std::string bytes(text);
  bytes.push_back('\0');
  return SetValue(name, kRegSz, bytes);
}

Status Key::SetDword(std::string_view name, uint32_t value) const {
  char b[4] = {static_cast<char>(value & 0xff), static_cast<char>((value >> 8) & 0xff),
               static_cast<char>((value >> 16) & 0xff), static_cast<char>(value >> 24)};
  return SetValue(name, kRegDword, std::string_view(b, 4));
}

Status Key::SetBinary(std::string_view name, std::string_view bytes) const { return SetValue(name, kRegBinary, bytes); }

Status Key::DeleteValue(std::string_view name) const {
  Status st = Update(root_, [&](HiveData& h) { return h.DeleteValue(path_, name); });
  if (st.code() != Status::Code::kNotFound || root_ != RootKey::kLocalMachine) return st;
  auto system = LoadSystem();
  if (system.ok() && system->Find(path_, name))
    return Status::NotSupported("registry value is machine-wide (read only): " + std::string(name));
  return st;
}

Result<std::vector<std::string>> Key::SubKeyNames() const {
  auto hive = Snapshot(root_);
  if (!hive.ok()) return hive.status();
  return hive->SubKeyNames(path_);
}

Result<std::vector<std::string>> Key::ValueNames() const {
  auto hive = Snapshot(root_);
  if (!hive.ok()) return hive.status();
  return hive->ValueNames(path_);
}

Status Key::DeleteSubKey(std::string_view relative_path) const {
  auto rel = HiveData::CanonicalPath(relative_path);
  if (!rel.ok()) return rel.status();
  if (rel->empty()) return Status::InvalidArgument("empty subkey path");
  std::string full = path_.empty() ? *rel : path_ + "\\" + *rel;
  Status st = Update(root_, [&](HiveData& h) { return h.DeleteKey(full); });
  if (st.code() == Status::Code::kNotFound && root_ == RootKey::kLocalMachine && SystemHasKey(full))
    return Status::NotSupported("registry key is machine-wide (read only): " + full);
  return st;
}

}  // namespace zv::registry
