#include "spectral/numerics/tapers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory_resource>
#include <mutex>
#include <tuple>
#include <utility>
#include <vector>

#include "spectral/numerics/concentrations.h"

namespace quorvane::spectral {
namespace {

#include "tests/spectral/reference_values.inc"

template <typename T>
int peak_index(const T* v, int n) {
  return static_cast<int>(std::max_element(v, v + n, [](T a, T b) { return std::fabs(a) < std::fabs(b); }) - v);
}

// +1 or -1: the sign that makes `ours` match `ref`, judged at ref's largest value.
template <typename A, typename B>
double relative_sign(const A* ref, const B* ours, int n) {
  const int peak = peak_index(ref, n);
  return ref[peak] * ours[peak] < 0 ? -1.0 : 1.0;
}

// What every taper set must satisfy: sum of squares N, even orders symmetric
// and odd ones antisymmetric (so their sum vanishes), concentrations in
// (0, 1] falling with order.
void expect_taper_shape(const Tapers& t) {
  const int n = t.n;
  for (int k = 0; k < t.nwin; ++k) {
    SCOPED_TRACE(testing::Message() << "n " << n << " taper " << k);
    const float mirror = k % 2 == 0 ? 1.0f : -1.0f;
    double squares = 0.0;
    for (int i = 0; i < n; ++i) {
      squares += static_cast<double>(t.at(i, k)) * t.at(i, k);
      ASSERT_NEAR(t.at(i, k), mirror * t.at(n - 1 - i, k), 1e-5f) << i;
    }
    EXPECT_NEAR(squares, n, 1e-4 * n);
    const float tapsum = std::fabs(t.tapsum[static_cast<std::size_t>(k)]);
    EXPECT_TRUE(k % 2 == 1 ? tapsum < 1e-3f : tapsum > 0.5f * std::sqrt(static_cast<float>(n))) << tapsum;
    const double el = t.el[static_cast<std::size_t>(k)];
    EXPECT_TRUE(el > 0.0 && el <= 1.0 && (k == 0 || el <= t.el[static_cast<std::size_t>(k) - 1])) << el;
  }
}

class BothPaths : public ::testing::TestWithParam<EigenPath> {};

TEST_P(BothPaths, TapersAndConcentrationsMatchScipyAndHaveTheirSymmetry) {
  for (const DpssReference& ref : kDpssReferences) {
    Tapers t;
    taper2(ref.n, ref.k, static_cast<float>(ref.nw), t, GetParam());
    expect_taper_shape(t);
    for (int k = 0; k < ref.k; ++k) {
      const double* theirs = ref.values + k * ref.n;
      const double sign = relative_sign(theirs, t.column(k), ref.n);
      for (int i = 0; i < ref.n; ++i) {
        ASSERT_NEAR(sign * t.at(i, k), theirs[i], 2e-6 * std::max(1.0, std::fabs(theirs[i])))
            << "N " << ref.n << " NW " << ref.nw << " taper " << k << " value " << i;
      }
    }
  }
  // The exact concentrations of these tapers; one value has a flat
  // spectrum, so the band |f| <= W holds 2W of it.
  for (const ConcentrationReference& ref : kConcentrationReferences) {
    Tapers t;
    taper2(ref.n, ref.k, static_cast<float>(ref.nw), t, GetParam());
    std::vector<double> el(static_cast<std::size_t>(ref.k));
    taper_concentrations(ref.n, ref.k, static_cast<float>(ref.nw), t.v, el);
    for (int k = 0; k < ref.k; ++k) EXPECT_NEAR(el[static_cast<std::size_t>(k)], ref.values[k], 1e-6) << ref.n;
  }
  std::vector<double> one(1);
  taper_concentrations(1, 1, 0.25f, std::vector<float>{1.0f}, one);
  EXPECT_NEAR(one[0], 0.5, 1e-15);
  Tapers odd;  // an odd length has a centre value, zero in odd orders
  taper2(201, 5, 3.0f, odd, GetParam());
  expect_taper_shape(odd);
  taper2(64, 1, 2.0f, odd, GetParam());
  expect_taper_shape(odd);
  EXPECT_GT(odd.el[0], 0.99);
}

INSTANTIATE_TEST_SUITE_P(Tapers, BothPaths, ::testing::Values(EigenPath::Reference, EigenPath::Fast));

TEST(TaperPaths, FastTapersAreTheLapackTapersInSinglePrecision) {
  // Up to 65536 values they differ only where the double eigenvectors
  // straddle a rounding boundary: by at most two units in the last place of
  // the taper's peak (one from the conversion to single precision, one from
  // the scaling). Above that (the long-record path) they agree within 1e-5.
  // The cases cover tiny, odd, even and threaded lengths; then odd and even
  // lengths above 65536 (the odd ones have a centre value), the most tapers
  // the program offers, and a band reaching most of the way to the Nyquist
  // frequency, where the diagonal turns positive.
  for (const auto& [n, nwin, npi] :
       {std::tuple{2, 1, 1.0f}, {3, 2, 1.0f}, {17, 3, 2.0f}, {1000, 5, 3.0f}, {1001, 8, 4.0f}, {5001, 7, 8.0f},
        {32768, 8, 4.0f}, {131073, 7, 4.0f}, {70000, 4, 2.0f}, {65537, 16, 8.0f}, {70001, 2, 30000.0f}}) {
    Tapers fast, lapack;
    taper2(n, nwin, npi, fast, EigenPath::Fast);
    taper2(n, nwin, npi, lapack, EigenPath::Reference);
    for (int k = 0; k < nwin; ++k) {
      const float* ref = lapack.column(k);
      const double sign = relative_sign(ref, fast.column(k), n);
      const float peak = std::fabs(ref[peak_index(ref, n)]);
      const double unit = std::nextafter(peak, 1e30f) - peak;
      for (int i = 0; i < n; ++i) {
        const double difference = std::fabs(sign * fast.at(i, k) - ref[i]);
        ASSERT_TRUE(n > 65536 ? difference < 1e-5 : difference <= 2.0 * unit)
            << "n " << n << " taper " << k << " value " << i << " differs by " << difference;
      }
    }
  }
}

// Long records: the fast path must stay accurate where the matrix entries
// reach N^2/4 and the reference path becomes slow.
TEST(LongTapers, AMillionValueTaperSetIsOrthonormal) {
#ifdef QUORVANE_SANITIZED
  // The unoptimised instrumented build takes seconds per million values; an
  // eighth of the length takes the same path (above 65536 values).
  constexpr int n = 1 << 17;
#else
  constexpr int n = 1 << 20;
#endif
  constexpr int nwin = 7;
  Tapers t;
  taper2(n, nwin, 4.0f, t, EigenPath::Fast);
  expect_taper_shape(t);
  for (int j = 0; j < nwin; ++j) {
    for (int k = 0; k <= j; ++k) {
      double dot = 0.0;
      for (int i = 0; i < n; ++i) dot += static_cast<double>(t.at(i, j)) * t.at(i, k);
      EXPECT_NEAR(dot / n, j == k ? 1.0 : 0.0, 1e-6) << "tapers " << j << " and " << k;
    }
  }
}

// Counts what is taken from it; hands the work to the ordinary heap.
class CountingMemory final : public std::pmr::memory_resource {
 public:
  std::size_t taken() const { return taken_; }

 private:
  void* do_allocate(std::size_t bytes, std::size_t alignment) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    taken_ += bytes;
    return std::pmr::new_delete_resource()->allocate(bytes, alignment);
  }
  void do_deallocate(void* p, std::size_t bytes, std::size_t alignment) override {
    std::pmr::new_delete_resource()->deallocate(p, bytes, alignment);
  }
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }

  std::mutex mutex_;
  std::size_t taken_ = 0;
};

TEST(TaperWorkMemory, StaysWithinTheEstimateARunIsCheckedAgainst) {
  // One thread, two threads with an odd length, and the long-record path;
  // one taper leaves the antisymmetric half without work.
  for (const auto& [n, nwin] : {std::pair{1000, 8}, {4097, 5}, {70001, 7}, {70000, 1}}) {
    const std::size_t un = static_cast<std::size_t>(n);
    std::vector<float> v(un * static_cast<std::size_t>(nwin)), tapsum(8);
    std::vector<double> el(8), dlam(8);
    CountingMemory memory;
    compute_tapers(n, nwin, 4.0f, v, el, tapsum, dlam, EigenPath::Fast, &memory);
    EXPECT_LE(memory.taken(), taper_work_bytes(n)) << n;
    if (nwin > 1) {
      EXPECT_GE(memory.taken(), taper_work_bytes(n) * 9 / 10) << n;
    }
    EXPECT_LT(taper_work_bytes(n), 26 * un);
  }
}

}  // namespace
}  // namespace quorvane::spectral
