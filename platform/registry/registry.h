// The registry: two hives, the machine's (HKEY_LOCAL_MACHINE) and the current user's
// (HKEY_CURRENT_USER), with keys named by paths such as "Software\Orbelin\Zelvora\1.0"
// and values of type REG_SZ, REG_DWORD and REG_BINARY (others are kept as bytes).
//
// Storage: $ZELVORA_ROOT/registry/machine.reg and $ZELVORA_ROOT/registry/user-<uid>.reg,
// text files (see hive.h) of mode 0600 (the machine hive holds the database password).
// Every change is a read-modify-write of the hive file under an exclusive lock on its
// lock file, written to a temporary file and renamed into place: readers in any process
// see a whole hive, and concurrent writers never lose each other's values. A reader reads
// the file afresh on every call, so a change by another process is seen at once.
//
// The machine hive every program reads is the runtime root's own machine.reg laid over the
// machine-wide hive <paths::SystemConfigFolder()>/machine.reg that the installer writes for
// every user (read only): a key exists when either hive has it, a value of the root's own
// hive wins over one of the same name in the machine-wide hive, and the subkey and value
// names are those of both. Writes go to the root's own hive only (a key seen only in the
// machine-wide hive gets its copy there on the first write); deleting a value or key of the
// root's own hive lets a machine-wide one of the same name show again, and a value or key
// that only the machine-wide hive holds cannot be deleted (NotSupported). A missing or
// unreadable machine-wide hive is simply absent; a damaged one makes reads of the machine
// hive give Corruption naming that file. The user hive has no such layer.
//
// Read semantics follow the Windows calls: a missing value is NotFound; a value of another
// type than asked is InvalidArgument ("wrong type"); a buffer too small is MoreData with
// the needed size (QueryValue).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/status.h"
#include "platform/registry/hive.h"

namespace zv::registry {

enum class RootKey { kLocalMachine, kCurrentUser };

// Gives the hive file of a root key under the current $ZELVORA_ROOT.
std::string HivePath(RootKey root);

// Gives the machine-wide hive file (<system folder>/machine.reg), or "" when no system folder
// is known.
std::string SystemHivePath();

// Gives a copy of the whole hive as programs see it now: for the machine hive the root's own
// laid over the machine-wide one (an empty hive when there is no file yet). Corruption when a
// file is damaged.
Result<HiveData> Snapshot(RootKey root);

// Runs fn on the root's own hive file (never the machine-wide one) under the hive's exclusive lock and, when fn returns Ok, writes the
// changed hive back atomically; gives fn's status (or the write's failure). This is the
// read-modify-write that two processes may run at once without losing an update, e.g.
// incrementing a counter. fn must not call other registry functions of the same hive.
Status Update(RootKey root, const std::function<Status(HiveData&)>& fn);

// The installer's write of the machine-wide hive: runs fn on SystemHivePath()'s hive (an
// empty one when there is no file yet; the folder is created) under a lock file beside it
// and, when fn returns Ok, writes it back atomically with mode 0644 (every user reads it; it
// holds no secrets). InvalidArgument when no system folder is known; Corruption when the file
// is damaged (it is never overwritten then). Programs never call this.
Status UpdateMachineWide(const std::function<Status(HiveData&)>& fn);

// An open key: a root key and a path. Opening checks that the key exists; each later call
// reads or changes the hive file on disk.
class Key {
 public:
  // Takes a root key and a key path; gives the key when it exists (RegOpenKeyEx), else
  // NotFound. InvalidArgument for a path with an overlong part.
  static Result<Key> Open(RootKey root, std::string_view path);
  // As Open, but creates the key and its missing parents first (RegCreateKeyEx).
  static Result<Key> Create(RootKey root, std::string_view path);

  RootKey root() const { return root_; }
  const std::string& path() const { return path_; }

  // RegQueryValueEx. Takes a value name and optional out pointers. Missing value:
  // NotFound. Otherwise *type gets the type (when type is not null); with data null and
  // size not null, *size gets the byte count; with data not null, size must not be null
  // (InvalidArgument) and, when *size is smaller than the value, *size gets the needed
  // count and the result is MoreData (data untouched); else the bytes are copied and
  // *size gets their count.
  Status QueryValue(std::string_view name, uint32_t* type, void* data, uint32_t* size) const;

  // Takes a value name; gives its type and bytes. NotFound when missing (or the key was
  // deleted meanwhile).
  Result<Value> GetValue(std::string_view name) const;
  // Gives a REG_SZ or REG_EXPAND_SZ value's text up to its first zero byte (all of it when
  // it has none). NotFound when missing; InvalidArgument for another type.
  Result<std::string> GetString(std::string_view name) const;
  // Gives a REG_DWORD value (4 bytes, little-endian). NotFound when missing;
  // InvalidArgument for another type or size.
  Result<uint32_t> GetDword(std::string_view name) const;
  // Gives a REG_BINARY value's bytes. NotFound when missing; InvalidArgument for another
  // type.
  Result<std::string> GetBinary(std::string_view name) const;

  // RegSetValueEx: stores a value of any type with the given bytes. NotFound when the key
  // was deleted; InvalidArgument over the size limits of hive.h.
  Status SetValue(std::string_view name, uint32_t type, std::string_view data) const;
  // Stores text as REG_SZ with its terminating zero byte.
  Status SetString(std::string_view name, std::string_view text) const;
  // Stores a number as REG_DWORD (4 bytes, little-endian).
  Status SetDword(std::string_view name, uint32_t value) const;
  // Stores bytes as REG_BINARY.
  Status SetBinary(std::string_view name, std::string_view bytes) const;
  // Deletes a value. NotFound when it is missing.
  Status DeleteValue(std::string_view name) const;

  // Gives the names of the direct subkeys (sorted without regard to case).
  Result<std::vector<std::string>> SubKeyNames() const;
  // Gives the value names in the order they were first set.
  Result<std::vector<std::string>> ValueNames() const;
  // Deletes the subkey at the relative path with everything below it. NotFound when
  // missing.
  Status DeleteSubKey(std::string_view relative_path) const;

 private:
  Key(RootKey root, std::string path) : root_(root), path_(std::move(path)) {}
  RootKey root_;
  std::string path_;
};

}  // namespace zv::registry
