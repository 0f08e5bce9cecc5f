#include "platform/gdi/region.h"

#include <algorithm>

namespace zv::gdi {

Region::Region() { pixman_region32_init(&r_); }

Region::Region(const win::RECT& r) {
  if (r.right > r.left && r.bottom > r.top) {
    pixman_region32_init_rect(&r_, r.left, r.top, unsigned(r.right - r.left), unsigned(r.bottom - r.top));
  } else {
    pixman_region32_init(&r_);
  }
}

Region::Region(std::span<const win::RECT> rects) {
  pixman_region32_init(&r_);
  std::vector<pixman_box32_t> boxes;
  boxes.reserve(rects.size());
  for (const auto& r : rects) {
    if (r.right > r.left && r.bottom > r.top) boxes.push_back({r.left, r.top, r.right, r.bottom});
  }
  if (!boxes.empty()) {
    pixman_region32_fini(&r_);
    pixman_region32_init_rects(&r_, boxes.data(), int(boxes.size()));
  }
}

Region::Region(const Region& other) {
  pixman_region32_init(&r_);
  pixman_region32_copy(&r_, const_cast<pixman_region32_t*>(&other.r_));
}

Region::Region(Region&& other) noexcept : Region() {
  std::swap(r_, other.r_);
  // pixman regions keep a pointer to static empty data when small; swapping is safe because
  // the data pointer is either that static or a heap block owned by the region.
}

Region& Region::operator=(const Region& other) {
  if (this != &other) pixman_region32_copy(&r_, const_cast<pixman_region32_t*>(&other.r_));
  return *this;
}

Region& Region::operator=(Region&& other) noexcept {
  std::swap(r_, other.r_);
  return *this;
}

Region::~Region() { pixman_region32_fini(&r_); }

bool Region::IsEmpty() const { return !pixman_region32_not_empty(const_cast<pixman_region32_t*>(&r_)); }

int Region::Kind() const {
  int n = pixman_region32_n_rects(const_cast<pixman_region32_t*>(&r_));
  if (n == 0) return win::NULLREGION;
  return n == 1 ? win::SIMPLEREGION : win::COMPLEXREGION;
}

win::RECT Region::Box() const {
  if (IsEmpty()) return {0, 0, 0, 0};
  const pixman_box32_t* b = pixman_region32_extents(const_cast<pixman_region32_t*>(&r_));
  return {b->x1, b->y1, b->x2, b->y2};
}

std::vector<win::RECT> Region::Rects() const {
  int n = 0;
  const pixman_box32_t* b = pixman_region32_rectangles(const_cast<pixman_region32_t*>(&r_), &n);
  std::vector<win::RECT> out;
  out.reserve(n);
  for (int i = 0; i < n; ++i) out.push_back({b[i].x1, b[i].y1, b[i].x2, b[i].y2});
  return out;
}

bool Region::Contains(int x, int y) const {
  return pixman_region32_contains_point(const_cast<pixman_region32_t*>(&r_), x, y, nullptr);
}

void Region::Combine(const Region& other, int mode) {
  auto* o = const_cast<pixman_region32_t*>(&other.r_);
  switch (mode) {
    case win::RGN_AND:
      pixman_region32_intersect(&r_, &r_, o);
      break;
    case win::RGN_OR:
      pixman_region32_union(&r_, &r_, o);
      break;
    // pixman has no exclusive-or: it is the union of the two differences.
    case win::RGN_XOR: {
      pixman_region32_t a, b;
      pixman_region32_init(&a);
      pixman_region32_init(&b);
      pixman_region32_subtract(&a, &r_, o);
      pixman_region32_subtract(&b, o, &r_);
      pixman_region32_union(&r_, &a, &b);
      pixman_region32_fini(&a);
      pixman_region32_fini(&b);
      break;
    }
    case win::RGN_DIFF:
      pixman_region32_subtract(&r_, &r_, o);
      break;
    case win::RGN_COPY:
      pixman_region32_copy(&r_, o);
      break;
    default:
      break;
  }
}

void Region::Offset(int dx, int dy) { pixman_region32_translate(&r_, dx, dy); }

bool operator==(const Region& a, const Region& b) {
  return pixman_region32_equal(const_cast<pixman_region32_t*>(&a.r_), const_cast<pixman_region32_t*>(&b.r_));
}

}  // namespace zv::gdi
