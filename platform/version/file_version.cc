#include "platform/version/file_version.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace zv::version {
namespace {

constexpr std::size_t kElfHeaderSize = 64, kSectionHeaderSize = 64, kRecordSize = sizeof kRecordMark + 8;
constexpr std::uint32_t kSectionNoBits = 8;
constexpr std::uint16_t kExtendedIndex = 0xFFFF;

std::uint64_t Le(const unsigned char* p, int bytes) {
  std::uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// An open file read at offsets, every read inside the file's size.
class File {
 public:
  explicit File(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    struct stat st {};
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) size_ = static_cast<std::uint64_t>(st.st_size);
  }
  ~File() {
    if (fd_ >= 0) ::close(fd_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  bool Read(std::uint64_t offset, std::uint64_t length, unsigned char* out) const {
    if (offset > size_ || length > size_ - offset) return false;
    std::uint64_t done = 0;
    while (done < length) {
      const ssize_t n = ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
      if (n <= 0) return false;
      done += static_cast<std::uint64_t>(n);
    }
    return true;
  }
  std::uint64_t size() const { return size_; }

 private:
  int fd_;
  std::uint64_t size_ = 0;
};

struct Section {
  std::uint32_t name = 0, type = 0, link = 0;
  std::uint64_t offset = 0, size = 0;
};

bool ReadSection(const File& f, std::uint64_t table, std::uint64_t index, Section* s) {
  if (index > (f.size() - table) / kSectionHeaderSize) return false;
  unsigned char h[kSectionHeaderSize];
  if (!f.Read(table + index * kSectionHeaderSize, sizeof h, h)) return false;
  s->name = static_cast<std::uint32_t>(Le(h, 4));
  s->type = static_cast<std::uint32_t>(Le(h + 4, 4));
  s->offset = Le(h + 24, 8);
  s->size = Le(h + 32, 8);
  s->link = static_cast<std::uint32_t>(Le(h + 40, 4));
  return true;
}

}  // namespace

std::optional<FileVersion> ReadFileVersion(const std::string& path) {
  File f(path);
  unsigned char h[kElfHeaderSize];
  if (!f.Read(0, sizeof h, h)) return std::nullopt;
  // 64-bit (class 2), little-endian (data 1) ELF.
  if (std::memcmp(h,
                  "\x7f"
                  "ELF",
                  4) != 0 ||
      h[4] != 2 || h[5] != 1)
    return std::nullopt;
  const std::uint64_t table = Le(h + 40, 8);
  if (table == 0 || table > f.size() || Le(h + 58, 2) != kSectionHeaderSize) return std::nullopt;
  std::uint64_t count = Le(h + 60, 2), names_index = Le(h + 62, 2);
  // Many sections: the counts stand in section 0.
  Section first;
  if (!ReadSection(f, table, 0, &first)) return std::nullopt;
  if (count == 0) count = first.size;
  if (names_index == kExtendedIndex) names_index = first.link;
  Section names;
  if (names_index >= count || !ReadSection(f, table, names_index, &names)) return std::nullopt;
  const std::uint64_t wanted = sizeof kSectionName;  // with its NUL
  for (std::uint64_t i = 1; i < count; ++i) {
    Section s;
    if (!ReadSection(f, table, i, &s)) return std::nullopt;
    if (s.type == kSectionNoBits || s.size < kRecordSize || s.name >= names.size || names.size - s.name < wanted)
      continue;
    char name[sizeof kSectionName];
    if (!f.Read(names.offset + s.name, wanted, reinterpret_cast<unsigned char*>(name)) ||
        std::memcmp(name, kSectionName, wanted) != 0)
      continue;
    unsigned char record[kRecordSize];
    if (!f.Read(s.offset, sizeof record, record) || std::memcmp(record, kRecordMark, sizeof kRecordMark) != 0)
      return std::nullopt;
    FileVersion v;
    for (int k = 0; k < 4; ++k) v.numbers[k] = static_cast<std::uint16_t>(Le(record + sizeof kRecordMark + 2 * k, 2));
    return v;
  }
  return std::nullopt;
}

std::string VersionText(const FileVersion& v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", v.numbers[0], v.numbers[1], v.numbers[2], v.numbers[3]);
  return buf;
}

}  // namespace zv::version
