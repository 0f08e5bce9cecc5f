// One registry hive held in memory: keys (paths of names joined by "\", looked up without
// regard to ASCII case, stored with the case of their creation) holding typed values.
// Pure logic: parsing and writing the hive file text, no file access.
//
// Hive file text (UTF-8, one item a line):
//   zelvora-registry 1
//   key "Software\Orbelin\Zelvora\1.0"
//   value "AppPath" sz "/srv/zelvora%00"
//   value "MaxPages" dword 50
//   value "LogEnv2" binary hex:0a0b00
// Names and string data are percent-encoded (%, ", space, control characters and 0x7f);
// a value keeps its exact bytes, the terminating zero of a REG_SZ included.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/base/status.h"

namespace zv::registry {

// Value types, numbered as Windows numbers them.
enum ValueType : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegMultiSz = 7,
  kRegQword = 11,
};

// A stored value: its type and its bytes.
struct Value {
  uint32_t type = kRegNone;
  std::string data;
  bool operator==(const Value&) const = default;
};

// Limits that keep a damaged or hostile hive file from growing without end.
inline constexpr size_t kMaxKeyNameLength = 255;  // one part of a key path
inline constexpr size_t kMaxValueNameLength = 16383;
inline constexpr size_t kMaxValueSize = 1u << 20;  // bytes of one value
inline constexpr size_t kMaxHiveFileSize = 64u << 20;

class HiveData {
 public:
  // Gives an empty hive: only the root key "" exists.
  HiveData();

  // Takes hive file text; gives the hive, or Corruption naming the line that is wrong.
  // Empty text is an empty hive.
  static Result<HiveData> Parse(std::string_view text);
  // Gives the hive file text; Parse(Serialize()) gives the same hive.
  std::string Serialize() const;

  // Takes a key path ("A\B\C"; leading, trailing and doubled "\" are ignored); gives it in
  // canonical form ("A\B\C"), or InvalidArgument when a part is longer than
  // kMaxKeyNameLength.
  static Result<std::string> CanonicalPath(std::string_view path);

  // True when the key exists (the root "" always does).
  bool HasKey(std::string_view path) const;
  // Creates the key and its missing parents. InvalidArgument for a bad path.
  Status CreateKey(std::string_view path);
  // Deletes the key with all its subkeys and values. NotFound when missing;
  // InvalidArgument for the root.
  Status DeleteKey(std::string_view path);

  // Gives the value, or null when the key or the value is missing.
  const Value* Find(std::string_view path, std::string_view name) const;
  // Sets a value of an existing key (NotFound when the key is missing). InvalidArgument for
  // a value name over kMaxValueNameLength or data over kMaxValueSize.
  Status Set(std::string_view path, std::string_view name, Value value);
  // Deletes a value. NotFound when the key or the value is missing.
  Status DeleteValue(std::string_view path, std::string_view name);

  // Gives the names of the direct subkeys (in their stored case, sorted without regard to
  // case). NotFound when the key is missing.
  Result<std::vector<std::string>> SubKeyNames(std::string_view path) const;
  // Gives the value names of a key in the order they were first set. NotFound when missing.
  Result<std::vector<std::string>> ValueNames(std::string_view path) const;

 private:
  struct KeyData {
    std::string path;  // as created
    std::vector<std::pair<std::string, Value>> values;
  };
  KeyData* FindKey(std::string_view path);
  const KeyData* FindKey(std::string_view path) const;
  std::map<std::string, KeyData> keys_;  // by lower-case canonical path
};

// Gives s with ASCII letters in lower case (registry names compare this way).
std::string FoldCase(std::string_view s);

}  // namespace zv::registry
