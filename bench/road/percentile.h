// The road benchmarks' one statistic.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace zv::bench {

// Takes values (milliseconds) and a fraction; gives that percentile (nearest rank), 0 for none.
inline double Percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t rank = static_cast<std::size_t>(q * static_cast<double>(v.size()) + 0.999999);
  return v[std::min(v.size(), std::max<std::size_t>(rank, 1)) - 1];
}

}  // namespace zv::bench
