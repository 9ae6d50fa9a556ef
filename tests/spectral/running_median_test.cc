#include "spectral/running_median.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace quorvane::spectral {
namespace {

// The definition: sort the clipped window and take element (m + 1) / 2
// (1-based), the lower middle value for even m.
std::vector<float> naive_median(const std::vector<float>& x, int half) {
  const int n = static_cast<int>(x.size());
  std::vector<float> out;
  for (int i = 0; i < n; ++i) {
    std::vector<float> window(x.begin() + std::max(0, i - half), x.begin() + std::min(n, i + half + 1));
    std::sort(window.begin(), window.end());
    out.push_back(window[(window.size() + 1) / 2 - 1]);
  }
  return out;
}

TEST(RunningMedian, EqualsTheSortedWindowMedianOnRandomData) {
  std::mt19937 gen(11);
  std::exponential_distribution<float> power(1.0f);
  for (int n : {1, 2, 7, 100, 1001}) {
    std::vector<float> x(static_cast<std::size_t>(n));
    for (float& v : x) v = power(gen);
    // Repeated values test the handling of ties.
    if (n > 10) std::fill(x.begin() + 3, x.begin() + 8, x[2]);
    for (int half : {0, 1, 2, 5, 50, 2000}) {
      std::vector<float> out(x.size());
      running_median(x, half, out);
      EXPECT_EQ(out, naive_median(x, half)) << "n " << n << " half " << half;
    }
  }
}

}  // namespace
}  // namespace quorvane::spectral
