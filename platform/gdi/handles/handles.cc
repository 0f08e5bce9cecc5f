#include "platform/gdi/handles/handles.h"

#include <mutex>
#include <unordered_map>

#include "platform/gdi/emf/reader.h"

namespace zv::gdi {
namespace {

// Handles in use at most; a caller that never deletes its handles runs out instead of
// holding memory without end.
constexpr std::size_t kMaxHandles = 1u << 16;

struct Table {
  std::mutex mu;
  std::unordered_map<HENHMETAFILE, std::shared_ptr<const std::vector<std::uint8_t>>> entries;
  HENHMETAFILE next = 1;
};

Table& TheTable() {
  static Table* table = new Table;  // never destroyed: exports may run during exit
  return *table;
}

}  // namespace

HENHMETAFILE SetEnhMetaFileBits(std::span<const std::uint8_t> bytes) {
  auto length = emf::MetafileLength(bytes);
  if (!length.ok()) return 0;
  auto copy = std::make_shared<const std::vector<std::uint8_t>>(bytes.begin(), bytes.begin() + *length);
  Table& t = TheTable();
  std::lock_guard lock(t.mu);
  if (t.entries.size() >= kMaxHandles) return 0;
  HENHMETAFILE h = 0;
  do {
    h = t.next++;
    if (t.next == 0 || t.next == 0xFFFFFFFFu) t.next = 1;
  } while (h == 0 || h == 0xFFFFFFFFu || t.entries.count(h) != 0);
  t.entries.emplace(h, std::move(copy));
  return h;
}

std::shared_ptr<const std::vector<std::uint8_t>> GetEnhMetaFileBits(HENHMETAFILE handle) {
  Table& t = TheTable();
  std::lock_guard lock(t.mu);
  auto it = t.entries.find(handle);
  return it == t.entries.end() ? nullptr : it->second;
}

bool DeleteEnhMetaFile(HENHMETAFILE handle) {
  Table& t = TheTable();
  std::lock_guard lock(t.mu);
  return t.entries.erase(handle) != 0;
}

}  // namespace zv::gdi
