// The page view's image cache: at most seven rendered rows, oldest first. A new entry goes
// to the end; when that makes eight, the oldest entry that is not on screen goes (the
// oldest of all when every entry is on screen is kept instead, so a full screen never
// evicts what it is about to paint and renders forever). Rows are keyed by their index.
#pragma once

#include <algorithm>
#include <cstddef>
#include <list>
#include <memory>
#include <utility>
#include <vector>

namespace zv::viewer::view {

inline constexpr std::size_t kPageCacheLimit = 7;

template <typename Image>
class PageCache {
 public:
  explicit PageCache(std::size_t limit = kPageCacheLimit) : limit_(std::max<std::size_t>(limit, 1)) {}

  // Takes a row; gives its image, or null when it is not cached.
  Image* Find(int row) const {
    for (const Entry& e : entries_) {
      if (e.row == row) return e.image.get();
    }
    return nullptr;
  }

  // Gives whether one more row can be stored without evicting a row on screen (the rows
  // `first`..`last` are on screen).
  bool HasRoomFor(int first, int last) const {
    if (entries_.size() < limit_) return true;
    return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.row < first || e.row > last; });
  }

  // Takes a row, its image and the rows on screen; stores it at the end, replacing an
  // older image of that row; evicts the oldest row not on screen while above the limit.
  // Gives false (nothing stored) when every cached row is on screen and the cache is full.
  bool Insert(int row, std::unique_ptr<Image> image, int first, int last) {
    Erase(row);
    if (entries_.size() >= limit_) {
      auto victim =
          std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.row < first || e.row > last; });
      if (victim == entries_.end()) return false;
      entries_.erase(victim);
    }
    entries_.push_back(Entry{row, std::move(image)});
    return true;
  }

  void Erase(int row) {
    entries_.remove_if([&](const Entry& e) { return e.row == row; });
  }
  void Clear() { entries_.clear(); }
  std::size_t size() const { return entries_.size(); }
  std::size_t limit() const { return limit_; }
  // The cached rows, oldest first.
  std::vector<int> Rows() const {
    std::vector<int> out;
    for (const Entry& e : entries_) out.push_back(e.row);
    return out;
  }

 private:
  struct Entry {
    int row;
    std::unique_ptr<Image> image;
  };
  std::size_t limit_;
  std::list<Entry> entries_;
};

}  // namespace zv::viewer::view
