#include "spectral/running_median.h"

#include <algorithm>
#include <cstddef>
#include <memory_resource>
#include <numeric>
#include <vector>

namespace quorvane::spectral {

namespace {

// Counts of the ranks present in the window, as a Fenwick tree that can also
// find the k-th present rank.
class RankCounts {
 public:
  RankCounts(std::size_t n, std::pmr::memory_resource* memory) : tree_(n + 1, 0, memory) {
    top_ = 1;
    while (top_ * 2 <= n) top_ *= 2;
  }
  void add(std::size_t rank, int delta) {
    for (std::size_t i = rank + 1; i < tree_.size(); i += i & (~i + 1)) tree_[i] += delta;
  }
  // The rank (0-based) of the k-th smallest present value, k >= 1.
  std::size_t kth(int k) const {
    std::size_t pos = 0;
    for (std::size_t step = top_; step > 0; step /= 2) {
      if (pos + step < tree_.size() && tree_[pos + step] < k) {
        pos += step;
        k -= tree_[pos];
      }
    }
    return pos;
  }

 private:
  std::pmr::vector<int> tree_;
  std::size_t top_;
};

}  // namespace

void running_median(std::span<const float> x, int half, std::span<float> out,
                    std::pmr::memory_resource* memory) {
  const std::size_t n = x.size();
  if (n == 0) return;
  const std::size_t h = static_cast<std::size_t>(std::max(half, 0));
  // Rank every value once; equal values get distinct ranks, which leaves the
  // k-th smallest value unchanged.
  std::pmr::vector<std::size_t> by_value(n, memory);
  std::iota(by_value.begin(), by_value.end(), std::size_t{0});
  std::stable_sort(by_value.begin(), by_value.end(),
                   [&](std::size_t a, std::size_t b) { return x[a] < x[b]; });
  std::pmr::vector<std::size_t> rank(n, memory);
  for (std::size_t r = 0; r < n; ++r) rank[by_value[r]] = r;

  RankCounts window(n, memory);
  std::size_t lo = 0, hi = 0;  // window is [lo, hi)
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t want_lo = i > h ? i - h : 0;
    const std::size_t want_hi = std::min(n, i + h + 1);
    for (; hi < want_hi; ++hi) window.add(rank[hi], +1);
    for (; lo < want_lo; ++lo) window.add(rank[lo], -1);
    const int m = static_cast<int>(hi - lo);
    out[i] = x[by_value[window.kth((m + 1) / 2)]];
  }
}

}  // namespace quorvane::spectral
