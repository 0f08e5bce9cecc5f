#include "client/app/panel_values.h"

#include <cstdlib>
#include <string>

namespace zv::client::app {

LayoutEnables EnablesFor(int pages_per_sheet) {
  if (pages_per_sheet <= 1) return {false, false};
  if (pages_per_sheet == 2) return {false, true};
  return {true, true};
}

PreviewSplit ToPreviewSplit(const LayoutChoice& c, int first_width, int first_height) {
  PreviewSplit s;
  s.pages = c.pages_per_sheet;
  if (c.pages_per_sheet <= 1) return s;
  s.direction = c.direction;
  if (c.pages_per_sheet == 2 && first_width > 0 && first_height > 0) s.direction = first_width <= first_height ? 2 : 1;
  static constexpr int kPreviewSeparator[] = {3, 1, 2, 0};
  s.separator = c.separator >= 0 && c.separator <= 3 ? kPreviewSeparator[c.separator] : 0;
  return s;
}

int ThumbnailCode(int pages_per_sheet) {
  switch (pages_per_sheet) {
    case 2:
      return 1;
    case 4:
      return 2;
    case 8:
      return 3;
    default:
      return 0;
  }
}

int PagesPerSheet(int thumbnail_code) {
  static constexpr int kPages[] = {1, 2, 4, 8};
  return thumbnail_code >= 0 && thumbnail_code <= 3 ? kPages[thumbnail_code] : 1;
}

int ClampCopies(std::string_view text) {
  std::string s(text);
  long v = std::strtol(s.c_str(), nullptr, 10);
  if (v < 1) return 1;
  if (v > 100) return 100;
  return static_cast<int>(v);
}

int JobRowForPage(const std::vector<int>& page_counts, int page) {
  int start = 0;
  for (size_t r = 0; r < page_counts.size(); ++r) {
    const int end = start + page_counts[r];
    if (page >= start && page < end) return static_cast<int>(r);
    start = end;
  }
  return static_cast<int>(page_counts.size()) - 1;
}

bool IsOffsetNumber(std::string_view text) {
  if (text.empty()) return false;
  bool dot = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') continue;
    if (c == '.' && !dot) {
      dot = true;
      continue;
    }
    if (c == '-' && i == 0) continue;
    return false;
  }
  return true;
}

float ReadOffset(std::string_view text) {
  const std::string s(text);
  return std::strtof(s.c_str(), nullptr);
}

float StepOffset(float value, int step, const OffsetField& field) {
  if (step < 0) return value >= field.max ? value : value + 0.1f;
  if (step > 0) return value <= field.min ? value : value - 0.1f;
  return value;
}

int OffsetTenths(float value) { return static_cast<int>(value * 10.0f); }

}  // namespace zv::client::app
