#include "spectral/numerics/running_median.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory_resource>
#include <vector>

namespace quorvane::spectral {

namespace {

// The unsigned key that orders floats as < does: negative values below
// positive ones, -0 and +0 equal (both get the key of +0).
std::uint32_t order_key(float value) {
  const std::uint32_t bits = value == 0.0f ? 0u : std::bit_cast<std::uint32_t>(value);
  return (bits & 0x80000000u) != 0 ? ~bits : bits | 0x80000000u;
}

// The indices 0..n-1 into `sorted`, ordered by value and, among equal values,
// by index (as a stable sort gives): a least-significant-digit radix sort on
// the order keys in three passes of 11, 11 and 10 bits. `spare` is scratch
// of n indices. A pass whose digit is the same for every value is skipped.
template <typename Index>
void sort_by_value(std::span<const float> x, std::span<Index> sorted, std::span<Index> spare) {
  constexpr int kPasses = 3;
  constexpr int kBits = 11;
  constexpr std::size_t kBuckets = std::size_t{1} << kBits;
  const std::size_t n = x.size();
  std::vector<std::array<Index, kBuckets>> counts(kPasses);
  for (auto& c : counts) c.fill(0);
  for (const float v : x) {
    const std::uint32_t key = order_key(v);
    for (int pass = 0; pass < kPasses; ++pass) {
      ++counts[static_cast<std::size_t>(pass)][(key >> (pass * kBits)) & (kBuckets - 1)];
    }
  }
  // Passes alternate between the two buffers; the first reads the identity
  // order without storing it.
  std::span<Index> from = spare, to = sorted;
  bool identity = true;
  for (int pass = 0; pass < kPasses; ++pass) {
    auto& c = counts[static_cast<std::size_t>(pass)];
    const int shift = pass * kBits;
    if (std::find(c.begin(), c.end(), static_cast<Index>(n)) != c.end()) continue;
    Index start = 0;
    for (auto& count : c) {
      const Index next = start + count;
      count = start;
      start = next;
    }
    if (identity) {
      for (std::size_t i = 0; i < n; ++i) {
        to[c[(order_key(x[i]) >> shift) & (kBuckets - 1)]++] = static_cast<Index>(i);
      }
      identity = false;
    } else {
      for (std::size_t i = 0; i < n; ++i) {
        const Index index = from[i];
        to[c[(order_key(x[index]) >> shift) & (kBuckets - 1)]++] = index;
      }
    }
    std::swap(from, to);
  }
  // The result is in `from`; bring it to `sorted`.
  if (identity) {
    for (std::size_t i = 0; i < n; ++i) sorted[i] = static_cast<Index>(i);
  } else if (from.data() != sorted.data()) {
    std::copy(from.begin(), from.end(), sorted.begin());
  }
}

// A set of ranks 0..n-1 as a bitmap with summary levels above it (a bit of
// level l + 1 says whether word of level l is not empty), so that the next
// present rank above or below any rank is found in a few word operations.
class RankSet {
 public:
  RankSet(std::size_t n, std::pmr::memory_resource* memory) : words_(memory) {
    std::size_t total = 0;
    std::size_t size = n;
    do {
      size = (size + 63) / 64;
      offsets_[levels_++] = total;
      total += size;
    } while (size > 1);
    words_.assign(total, 0);
  }

  void insert(std::size_t rank) {
    for (int l = 0; l < levels_; ++l) {
      std::uint64_t& word = level(l)[rank / 64];
      const bool was_empty = word == 0;
      word |= std::uint64_t{1} << (rank % 64);
      if (!was_empty) return;
      rank /= 64;
    }
  }
  void erase(std::size_t rank) {
    for (int l = 0; l < levels_; ++l) {
      std::uint64_t& word = level(l)[rank / 64];
      word &= ~(std::uint64_t{1} << (rank % 64));
      if (word != 0) return;
      rank /= 64;
    }
  }
  // The smallest present rank above `rank`, or kNone.
  std::size_t next(std::size_t rank) const {
    int l = 0;
    for (;; ++l) {
      if (l == levels_) return kNone;
      const std::size_t bit = rank % 64;
      const std::uint64_t above =
          bit == 63 ? 0 : level(l)[rank / 64] & (~std::uint64_t{0} << (bit + 1));
      if (above != 0) {
        rank = rank / 64 * 64 + static_cast<std::size_t>(std::countr_zero(above));
        break;
      }
      rank /= 64;
    }
    for (; l > 0; --l) {
      rank = rank * 64 + static_cast<std::size_t>(std::countr_zero(level(l - 1)[rank]));
    }
    return rank;
  }
  // The largest present rank below `rank`, or kNone.
  std::size_t previous(std::size_t rank) const {
    int l = 0;
    for (;; ++l) {
      if (l == levels_) return kNone;
      const std::size_t bit = rank % 64;
      const std::uint64_t below = level(l)[rank / 64] & ((std::uint64_t{1} << bit) - 1);
      if (below != 0) {
        rank = rank / 64 * 64 + 63 - static_cast<std::size_t>(std::countl_zero(below));
        break;
      }
      rank /= 64;
    }
    for (; l > 0; --l) {
      rank = rank * 64 + 63 - static_cast<std::size_t>(std::countl_zero(level(l - 1)[rank]));
    }
    return rank;
  }

  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

 private:
  std::uint64_t* level(int l) { return words_.data() + offsets_[static_cast<std::size_t>(l)]; }
  const std::uint64_t* level(int l) const {
    return words_.data() + offsets_[static_cast<std::size_t>(l)];
  }

  std::pmr::vector<std::uint64_t> words_;
  std::array<std::size_t, 12> offsets_{};  // 64^11 ranks exceed any size_t
  int levels_ = 0;
};

// The running median with ranks and indices of type Index, wide enough for n.
template <typename Index>
void running_median_with(std::span<const float> x, std::size_t h, std::span<float> out,
                         std::pmr::memory_resource* memory) {
  const std::size_t n = x.size();
  // Rank every value once; equal values get distinct ranks in index order,
  // which leaves the k-th smallest value unchanged and, of a +0 and a -0,
  // picks the same one as a stable sort would.
  std::pmr::vector<Index> by_value(n, memory), rank(n, memory);
  sort_by_value<Index>(x, by_value, rank);
  for (std::size_t r = 0; r < n; ++r) rank[by_value[r]] = static_cast<Index>(r);

  // The window's ranks, and its median rank `median` with the count of the
  // window's ranks below it. One step moves the median by at most one
  // present rank per value entering or leaving, so the run is linear in n
  // apart from the set's few word operations.
  RankSet window(n, memory);
  std::size_t median = RankSet::kNone, below = 0;
  std::size_t lo = 0, hi = 0;  // window is [lo, hi)
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t want_lo = i > h ? i - h : 0;
    const std::size_t want_hi = std::min(n, i + h + 1);
    for (; hi < want_hi; ++hi) {
      const std::size_t r = rank[hi];
      window.insert(r);
      if (median == RankSet::kNone) {
        median = r;
      } else if (r < median) {
        ++below;
      }
    }
    for (; lo < want_lo; ++lo) {
      const std::size_t r = rank[lo];
      window.erase(r);
      if (r < median) {
        --below;
      } else if (r == median) {
        // The window is never empty here: it holds at least entry i.
        median = window.next(r);
        if (median == RankSet::kNone) {
          median = window.previous(r);
          --below;
        }
      }
    }
    const std::size_t target = (hi - lo + 1) / 2 - 1;
    while (below > target) {
      median = window.previous(median);
      --below;
    }
    while (below < target) {
      median = window.next(median);
      ++below;
    }
    out[i] = x[by_value[median]];
  }
}

}  // namespace

void running_median(std::span<const float> x, int half, std::span<float> out,
                    std::pmr::memory_resource* memory) {
  if (x.empty()) return;
  const std::size_t h = static_cast<std::size_t>(std::max(half, 0));
  // 32-bit ranks halve the memory of all bands but the impossibly long.
  if (x.size() <= std::numeric_limits<std::uint32_t>::max()) {
    running_median_with<std::uint32_t>(x, h, out, memory);
  } else {
    running_median_with<std::size_t>(x, h, out, memory);
  }
}

}  // namespace quorvane::spectral
