// Regions in device pixels: sets of rectangles (pixman regions) that say their box and
// whether they are one rectangle. Used for clipping and by the region drawing calls.
#pragma once

#include <pixman.h>

#include <span>
#include <vector>

#include "platform/wintypes/gdi.h"

namespace zv::gdi {

class Region {
 public:
  // An empty region.
  Region();
  // The rectangle [left, right) x [top, bottom); empty when inverted or flat.
  explicit Region(const win::RECT& r);
  // The union of the rectangles.
  explicit Region(std::span<const win::RECT> rects);
  Region(const Region& other);
  Region(Region&& other) noexcept;
  Region& operator=(const Region& other);
  Region& operator=(Region&& other) noexcept;
  ~Region();

  // True when the region has no pixels.
  bool IsEmpty() const;
  // NULLREGION, SIMPLEREGION (one rectangle) or COMPLEXREGION.
  int Kind() const;
  // The smallest rectangle holding the region ({0,0,0,0} when empty).
  win::RECT Box() const;
  // The rectangles (y-x banded, non-overlapping).
  std::vector<win::RECT> Rects() const;
  // True when the pixel (x, y) is inside.
  bool Contains(int x, int y) const;

  // Combines `other` into this region with an RGN_* mode (AND, OR, XOR, DIFF, COPY).
  void Combine(const Region& other, int mode);
  // Moves the region by (dx, dy).
  void Offset(int dx, int dy);

  // The underlying pixman region (for the drawing code).
  const pixman_region32_t* raw() const { return &r_; }
  pixman_region32_t* raw() { return &r_; }

  friend bool operator==(const Region& a, const Region& b);

 private:
  pixman_region32_t r_;
};

}  // namespace zv::gdi
