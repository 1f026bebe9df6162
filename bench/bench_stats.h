// Order statistics of a set of timings.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace bench {

// The value below which a fraction q of the samples lie (nearest rank); 0 when empty.
inline double Rank(std::vector<double> samples, double q) {
  if (samples.empty()) return 0.0;
  std::sort(samples.begin(), samples.end());
  const double pos = q * static_cast<double>(samples.size());
  size_t i = static_cast<size_t>(pos);
  if (static_cast<double>(i) < pos) ++i;  // ceiling
  i = std::clamp<size_t>(i, 1, samples.size());
  return samples[i - 1];
}

}  // namespace bench
