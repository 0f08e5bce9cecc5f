// The file version of one of the system's modules, read from the module's file: every program
// and library of the system links a version record (a section "zv_version" holding a mark and
// four 16-bit numbers, the project's version) and this reads it back, as the about box lists
// the installed modules with their versions.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace zv::version {

inline constexpr char kSectionName[] = "zv_version";
inline constexpr char kRecordMark[8] = {'Z', 'V', 'F', 'I', 'L', 'E', 'V', '1'};

// The record's bytes: the mark, then major, minor, patch and build, little-endian.
struct FileVersion {
  std::array<std::uint16_t, 4> numbers{};
  friend bool operator==(const FileVersion&, const FileVersion&) = default;
};

// Takes a path; gives the version of the ELF file there, or std::nullopt when the file has
// none: missing or unreadable, not a 64-bit little-endian ELF file, no such section, a short
// or foreign record. Every offset and size of the file is checked before it is read.
std::optional<FileVersion> ReadFileVersion(const std::string& path);

// Takes a version; gives its text "%d.%d.%d.%d".
std::string VersionText(const FileVersion& v);

}  // namespace zv::version
