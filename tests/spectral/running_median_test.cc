#include "spectral/numerics/running_median.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace quorvane::spectral {
namespace {

// The definition: the lower middle value of each clipped window after a
// stable sort, compared bit for bit. Of equal values the one earlier in the
// series ranks lower, which decides whether a zero median is +0 or -0.
std::vector<std::uint32_t> stable_median_bits(const std::vector<float>& x, int half) {
  const int n = static_cast<int>(x.size());
  std::vector<std::uint32_t> out;
  for (int i = 0; i < n; ++i) {
    std::vector<float> window(x.begin() + std::max(0, i - half), x.begin() + std::min(n, i + half + 1));
    std::stable_sort(window.begin(), window.end());
    out.push_back(std::bit_cast<std::uint32_t>(window[(window.size() + 1) / 2 - 1]));
  }
  return out;
}

std::vector<std::uint32_t> median_bits(const std::vector<float>& x, int half) {
  std::vector<float> out(x.size());
  running_median(x, half, out);
  std::vector<std::uint32_t> bits(out.size());
  std::transform(out.begin(), out.end(), bits.begin(), [](float v) { return std::bit_cast<std::uint32_t>(v); });
  return bits;
}

TEST(RunningMedian, IsTheStableSortedWindowMedianBitForBitForAnySignMagnitudeAndTies) {
  std::mt19937 gen(5);
  const float inf = std::numeric_limits<float>::infinity();
  const float tiny = std::numeric_limits<float>::denorm_min();
  const std::vector<float> pool_zeros = {0.0f, -0.0f, 0.0f, -0.0f, 1.0f};
  const std::vector<float> pool_signs = {-inf, -3.5f, -tiny, -0.0f, 0.0f, tiny, 1e-38f, 2.0f, 1e30f, inf};
  std::uniform_int_distribution<std::size_t> pick(0, 100);
  std::vector<std::vector<float>> series;
  for (const auto* pool : {&pool_zeros, &pool_signs}) {
    for (int n : {1, 9, 300}) {
      std::vector<float> x(static_cast<std::size_t>(n));
      for (float& v : x) v = (*pool)[pick(gen) % pool->size()];
      series.push_back(x);
    }
  }
  std::vector<float> ascending(200), descending(200);
  for (std::size_t i = 0; i < 200; ++i) {
    ascending[i] = static_cast<float>(i) - 50.0f;
    descending[i] = -ascending[i];
  }
  series.push_back(ascending);
  series.push_back(descending);
  series.push_back(std::vector<float>(64, -0.0f));
  std::exponential_distribution<float> power(1.0f);  // ordinary positive data with a run of ties
  for (int n : {2, 7, 1001}) {
    std::vector<float> x(static_cast<std::size_t>(n));
    for (float& v : x) v = power(gen);
    if (n > 10) std::fill(x.begin() + 3, x.begin() + 8, x[2]);
    series.push_back(x);
  }
  // Enough values for three levels of the rank set, half of them repeated:
  // with a narrow window the median often moves across long stretches of
  // ranks outside the window.
  std::vector<float> many(20000);
  for (std::size_t i = 0; i < many.size(); ++i) many[i] = i % 2 == 0 ? power(gen) : many[i / 2];
  EXPECT_EQ(median_bits(many, 7), stable_median_bits(many, 7));
  for (const std::vector<float>& x : series) {
    const int n = static_cast<int>(x.size());
    // Down to a single value, and up to windows wider than the whole band.
    for (int half : {0, 1, 4, 37, n, 3 * n + 1}) {
      EXPECT_EQ(median_bits(x, half), stable_median_bits(x, half)) << "n " << n << " half " << half;
    }
  }
}

}  // namespace
}  // namespace quorvane::spectral
