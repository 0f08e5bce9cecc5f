// Vertical forms from a face's GSUB table (internal/vertical_glyphs.h).
#include "platform/gdi/internal/vertical_glyphs.h"

#include <set>
#include <vector>

namespace zv::gdi {
namespace {

// The table's bytes, read big-endian at offsets checked against its end.
class Bytes {
 public:
  explicit Bytes(std::span<const std::uint8_t> b) : b_(b) {}
  bool Has(std::size_t at, std::size_t n) const { return at <= b_.size() && n <= b_.size() - at; }
  std::uint16_t U16(std::size_t at) const {
    return Has(at, 2) ? static_cast<std::uint16_t>(b_[at] << 8 | b_[at + 1]) : 0;
  }
  std::uint32_t U32(std::size_t at) const {
    return Has(at, 4) ? static_cast<std::uint32_t>(U16(at)) << 16 | U16(at + 2) : 0;
  }

 private:
  std::span<const std::uint8_t> b_;
};

// Most glyphs a face may have (glyph ids are 16 bits): bounds every count read from the table.
constexpr std::size_t kMostGlyphs = 65536;

// The steps left of a table's reading.
struct Steps {
  std::size_t left = kMostGsubSteps;
  bool Take() {
    if (left == 0) return false;
    --left;
    return true;
  }
};

// Takes a coverage table's offset; gives its glyphs in coverage order.
std::vector<std::uint16_t> Coverage(const Bytes& t, std::size_t at, Steps& steps) {
  std::vector<std::uint16_t> out;
  const std::uint16_t format = t.U16(at), count = t.U16(at + 2);
  if (format == 1) {
    for (std::size_t i = 0; i < count && t.Has(at + 4 + 2 * i, 2) && steps.Take(); ++i)
      out.push_back(t.U16(at + 4 + 2 * i));
  } else if (format == 2) {
    for (std::size_t i = 0; i < count && t.Has(at + 4 + 6 * i, 6) && steps.Take(); ++i) {
      const std::uint16_t first = t.U16(at + 4 + 6 * i), last = t.U16(at + 6 + 6 * i);
      for (std::uint32_t g = first; g <= last && out.size() < kMostGlyphs && steps.Take(); ++g)
        out.push_back(static_cast<std::uint16_t>(g));
    }
  }
  return out;
}

// Takes a single substitution subtable's offset; adds its substitutions to *out, those
// within the face's glyphs.
void SingleSubstitution(const Bytes& t, std::size_t at, std::size_t glyphs, Steps& steps,
                        std::unordered_map<std::uint16_t, std::uint16_t>* out) {
  const std::uint16_t format = t.U16(at);
  const std::vector<std::uint16_t> covered = Coverage(t, at + t.U16(at + 2), steps);
  auto add = [&](std::uint16_t from, std::uint16_t to) {
    if (to < glyphs) out->emplace(from, to);
  };
  if (format == 1) {
    const std::uint16_t delta = t.U16(at + 4);
    for (std::uint16_t g : covered) add(g, static_cast<std::uint16_t>(g + delta));
  } else if (format == 2) {
    const std::uint16_t count = t.U16(at + 4);
    for (std::size_t i = 0; i < covered.size() && i < count && t.Has(at + 6 + 2 * i, 2); ++i)
      add(covered[i], t.U16(at + 6 + 2 * i));
  }
}

}  // namespace

std::unordered_map<std::uint16_t, std::uint16_t> VerticalSubstitutions(std::span<const std::uint8_t> gsub,
                                                                       std::size_t glyph_count) {
  std::unordered_map<std::uint16_t, std::uint16_t> out;
  const Bytes t(gsub);
  Steps steps;
  if (t.U16(0) != 1) return out;  // major version 1 (minor 0 or 1)
  const std::size_t features = t.U16(6), lookups = t.U16(8);
  // The lookups the vertical features name, each once.
  std::set<std::uint16_t> wanted;
  const std::uint16_t feature_count = t.U16(features);
  for (std::size_t i = 0; i < feature_count && t.Has(features + 2 + 6 * i, 6) && steps.Take(); ++i) {
    const std::size_t record = features + 2 + 6 * i;
    const std::uint32_t tag = t.U32(record);
    if (tag != 0x76657274 /* vert */ && tag != 0x76727432 /* vrt2 */) continue;
    const std::size_t feature = features + t.U16(record + 4);
    const std::uint16_t n = t.U16(feature + 2);
    for (std::size_t k = 0; k < n && t.Has(feature + 4 + 2 * k, 2) && steps.Take(); ++k)
      wanted.insert(t.U16(feature + 4 + 2 * k));
  }
  const std::uint16_t lookup_count = t.U16(lookups);
  std::set<std::size_t> read;  // subtables read already
  for (std::uint16_t index : wanted) {
    if (index >= lookup_count || !t.Has(lookups + 2 + 2 * index, 2)) continue;
    const std::size_t lookup = lookups + t.U16(lookups + 2 + 2 * index);
    const std::uint16_t type = t.U16(lookup), subtables = t.U16(lookup + 4);
    for (std::size_t s = 0; s < subtables && t.Has(lookup + 6 + 2 * s, 2) && steps.Take(); ++s) {
      std::size_t sub = lookup + t.U16(lookup + 6 + 2 * s);
      if (type == 7 && t.U16(sub) == 1 && t.U16(sub + 2) == 1) {
        // An extension: the single substitution lies at a 32-bit offset from it.
        sub += t.U32(sub + 4);
      } else if (type != 1) {
        continue;
      }
      if (read.insert(sub).second) SingleSubstitution(t, sub, glyph_count, steps, &out);
    }
  }
  return out;
}

}  // namespace zv::gdi
