// Private: rounding of device coordinates that may come from damaged input.
#pragma once

#include <algorithm>
#include <cmath>

namespace zv::gdi::detail {

// Rounds to the nearest integer, clamped to +-1e9 (NaN gives 0), so that no later sum of two
// coordinates overflows.
inline int RoundI(double v) {
  if (!(v == v)) return 0;
  return int(std::lround(std::clamp(v, -1e9, 1e9)));
}

}  // namespace zv::gdi::detail
