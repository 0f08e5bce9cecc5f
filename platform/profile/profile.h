// Profile (INI) files with the behaviour of the Windows profile functions that the
// programs rely on:
//   - "[Section]" headers and "Key=Value" lines; section and key names are matched without
//     regard to ASCII case; blanks around names and values are ignored; the first section
//     and the first key of a name win; lines starting with ";" are comments;
//   - a read of a missing file, section or key gives the caller's default; a value written
//     in matching quotes ("x" or 'x') reads without them;
//   - whole-section reads, key-name and section-name lists;
//   - writing a key replaces its line in place (or adds it at the end of its section, or
//     adds the section at the end of the file); a null value deletes the key, deleting a
//     section removes its header and all its lines;
//   - every other line, comments and blank lines included, is kept as it was.
// Writes are atomic (temporary file + rename) and serialised between processes by a lock,
// so readers never see half a file and concurrent writers lose no key.
// Line ends: a file keeps the line ends it has; a new file gets the caller's choice.
// The text is passed through as bytes (the system writes its own INI files in UTF-8).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/base/status.h"

namespace zv::profile {

enum class LineEnd {
  kKeep,  // the file's own line ends; CR LF for a new file
  kCrLf,
  kLf,
};

using KeyValues = std::vector<std::pair<std::string, std::string>>;

// An INI text in memory, line by line. Pure logic: no file access.
class IniDocument {
 public:
  // Takes INI text (CR LF or LF line ends, an optional UTF-8 byte order mark); gives the
  // document. Any text is accepted: lines that are neither headers nor keys are kept as
  // they are.
  static IniDocument Parse(std::string_view text);
  // Gives the text with the given line ends (kKeep: those the parsed text had, CR LF when
  // it had none). Every line, the last included, ends with a line end.
  std::string Serialize(LineEnd line_end = LineEnd::kKeep) const;

  // Gives the value of a key (quotes stripped as above), or nothing when the section or
  // the key is missing.
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  bool HasSection(std::string_view section) const;
  // Gives the section names in file order (each name once).
  std::vector<std::string> SectionNames() const;
  // Gives the key names of a section in file order (empty when it is missing).
  std::vector<std::string> KeyNames(std::string_view section) const;
  // Gives a section's keys and values (values as written, quotes kept), in file order.
  KeyValues Section(std::string_view section) const;

  // Sets a key: replaces the first line of that key in place, or adds "key=value" after
  // the section's last key, or adds the section at the end. InvalidArgument for names
  // holding a line end, "=" in a key, "]" in a section name, empty names, or values with
  // line ends (which would forge further lines).
  Status Set(std::string_view section, std::string_view key, std::string_view value);
  // Deletes every line of a key in a section; false when there was none.
  bool DeleteKey(std::string_view section, std::string_view key);
  // Deletes a section: its header and all lines up to the next header; false when missing.
  bool DeleteSection(std::string_view section);
  // Replaces a section's lines by the given keys and values (adds the section when
  // missing). Same checks as Set.
  Status ReplaceSection(std::string_view section, const KeyValues& entries);

 private:
  enum class Kind { kSection, kKey, kOther };
  struct Line {
    Kind kind = Kind::kOther;
    std::string text;   // the line as it stands, without its line end
    std::string name;   // section or key name (trimmed)
    std::string value;  // key value (trimmed)
  };
  static Line HeaderLine(std::string_view section);
  static Line KeyLine(std::string_view key, std::string_view value);
  // Index of the first header of that section, or -1.
  long FindSection(std::string_view section) const;
  // One past the last line of the section whose header is at index h.
  size_t SectionEnd(size_t h) const;
  std::vector<Line> lines_;
  bool bom_ = false;
  LineEnd found_ = LineEnd::kCrLf;
};

// Gives the document in a file: NotFound when it is missing, InvalidArgument when it is
// larger than 16 MiB, IOError otherwise.
Result<IniDocument> Load(const std::string& path);

// GetPrivateProfileString: gives the value, or `def` when the file, section or key is
// missing. With a buffer size above 0, the value is cut to buffer_size - 1 bytes as the
// Windows call cuts it (and further back to the start of a UTF-8 character cut in two).
// There is no cache: every read sees the file as it is now.
std::string GetString(const std::string& path, std::string_view section, std::string_view key, std::string_view def,
                      size_t buffer_size = 0);

// GetPrivateProfileInt: gives the leading decimal number of the value (an optional sign,
// then digits; 0 when there are none); `def` when the file, section or key is missing or
// the value is empty.
int GetInt(const std::string& path, std::string_view section, std::string_view key, int def);

// Gives the section names (empty when the file is missing).
std::vector<std::string> GetSectionNames(const std::string& path);

// Gives the key names of a section. With a buffer size above 0 the list is cut as the
// Windows call cuts its double-NUL list in a buffer of that many bytes.
std::vector<std::string> GetKeyNames(const std::string& path, std::string_view section, size_t buffer_size = 0);

// GetPrivateProfileSection: a section's keys and values (empty when missing).
KeyValues GetSection(const std::string& path, std::string_view section);

// WritePrivateProfileString: sets a key (creating the file and the section as needed).
Status WriteString(const std::string& path, std::string_view section, std::string_view key, std::string_view value,
                   LineEnd line_end = LineEnd::kKeep);

// WritePrivateProfileString with a null value: deletes a key. Ok also when it was missing.
Status DeleteKey(const std::string& path, std::string_view section, std::string_view key,
                 LineEnd line_end = LineEnd::kKeep);

// WritePrivateProfileString with a null key: deletes a section. Ok also when it was missing.
Status DeleteSection(const std::string& path, std::string_view section, LineEnd line_end = LineEnd::kKeep);

// WritePrivateProfileSection: replaces a section's keys.
Status WriteSection(const std::string& path, std::string_view section, const KeyValues& entries,
                    LineEnd line_end = LineEnd::kKeep);

// Read-modify-write of a whole file under the lock: loads it (an empty document when it
// is missing), runs fn, and when fn returns Ok writes it atomically with the line ends
// asked for. The file keeps its mode; a new file gets 0644.
Status Modify(const std::string& path, const std::function<Status(IniDocument&)>& fn,
              LineEnd line_end = LineEnd::kKeep);

}  // namespace zv::profile
