#include "spectral/tapers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "spectral/lapack_tridiagonal.h"
#include "spectral/slepian_eigen.h"

namespace quorvane::spectral {
namespace {

#include "tests/spectral/reference_values.inc"

double sum_of_squares(const Tapers& t, int k) {
  double s = 0.0;
  for (int i = 0; i < t.n; ++i) s += static_cast<double>(t.at(i, k)) * t.at(i, k);
  return s;
}

// +1 or -1: the sign that makes taper k of b match taper k of a, judged at
// a's largest value.
template <typename A, typename B>
double relative_sign(const A& a, const B& b, int n) {
  int peak = 0;
  for (int i = 1; i < n; ++i) {
    if (std::fabs(a(i)) > std::fabs(a(peak))) peak = i;
  }
  return a(peak) * b(peak) < 0.0 ? -1.0 : 1.0;
}

class BothPaths : public ::testing::TestWithParam<EigenPath> {};

TEST_P(BothPaths, TapersMatchScipyDpssUpToSign) {
  for (const DpssReference& ref : kDpssReferences) {
    Tapers t;
    taper2(ref.n, ref.k, static_cast<float>(ref.nw), t, GetParam());
    for (int k = 0; k < ref.k; ++k) {
      auto ours = [&](int i) { return static_cast<double>(t.at(i, k)); };
      auto theirs = [&](int i) { return ref.values[k * ref.n + i]; };
      const double sign = relative_sign(theirs, ours, ref.n);
      for (int i = 0; i < ref.n; ++i) {
        ASSERT_NEAR(sign * ours(i), theirs(i), 2e-6 * std::max(1.0, std::fabs(theirs(i))))
            << "N " << ref.n << " NW " << ref.nw << " taper " << k << " value " << i;
      }
    }
  }
}

TEST_P(BothPaths, EachTaperHasSumOfSquaresNAndAlternatingSymmetry) {
  for (int n : {200, 201}) {
    Tapers t;
    taper2(n, 5, 3.0f, t, GetParam());
    ASSERT_EQ(t.v.size(), 5u * static_cast<std::size_t>(n));
    for (int k = 0; k < 5; ++k) {
      EXPECT_NEAR(sum_of_squares(t, k), n, 1e-4 * n) << k;
      // Even orders are symmetric about the centre, odd orders antisymmetric.
      const float mirror = k % 2 == 0 ? 1.0f : -1.0f;
      for (int i = 0; i < n / 2; ++i) {
        EXPECT_NEAR(t.at(i, k), mirror * t.at(n - 1 - i, k), 1e-5f) << k << ":" << i;
      }
      const float tapsum = t.tapsum[static_cast<std::size_t>(k)];
      if (k % 2 == 1) {
        EXPECT_NEAR(tapsum, 0.0f, 1e-3f) << k;
      } else {
        EXPECT_GT(std::fabs(tapsum), 0.5f * std::sqrt(static_cast<float>(n))) << k;
      }
    }
  }
}

TEST_P(BothPaths, SingleTaperIsWellConcentrated) {
  Tapers t;
  taper2(64, 1, 2.0f, t, GetParam());
  EXPECT_NEAR(sum_of_squares(t, 0), 64.0, 1e-3);
  EXPECT_GT(t.el[0], 0.99);
}

INSTANTIATE_TEST_SUITE_P(Tapers, BothPaths,
                         ::testing::Values(EigenPath::Reference, EigenPath::Fast));

TEST(Concentrations, DecreaseWithOrderAndStayInTheUnitInterval) {
  Tapers t;
  taper1(512, 7, 4.0f, t);
  for (std::size_t k = 0; k < 7; ++k) {
    EXPECT_GT(t.el[k], 0.0);
    EXPECT_LE(t.el[k], 1.0);
    if (k > 0) {
      EXPECT_LT(t.el[k], t.el[k - 1]);
    }
  }
}

TEST(Concentrations, FollowTheLargerOfTheTwoAsymptoticForms) {
  // For p = 2, N = 1000: c' = 2 pi, so 1 - a(0) = 1 - 4 sqrt(2 pi^2) e^(-4 pi)
  // and dlam(1) = 1 / (1 + exp(-pi 2 pi 1.75 / (ln(8000 sin(4 pi / 1000)) +
  // 0.5772156649))).
  Tapers t;
  taper2(1000, 3, 2.0f, t);
  const double pi = 3.14159265358979;
  const double a0 = 4.0 * std::sqrt(pi * 2.0 * pi) * std::exp(-4.0 * pi);
  const double denom = std::log(8000.0 * std::sin(4.0 * pi / 1000.0)) + 0.5772156649;
  const double dlam0 = 1.0 / (1.0 + std::exp(-pi * 2.0 * pi * 1.75 / denom));
  EXPECT_DOUBLE_EQ(t.dlam[0], dlam0);
  EXPECT_DOUBLE_EQ(t.el[0], std::max(1.0 - a0, dlam0));
  // Large p with few tapers: the first form is 1 to double precision.
  taper2(1000, 2, 20.0f, t);
  EXPECT_EQ(t.el[0], 1.0);
  EXPECT_EQ(t.el[1], 1.0);
}

TEST(TaperPaths, FastEigenvectorsEqualLapackOnesToRounding) {
  // The eigenvectors are determined to about eps * ||T|| / gap, with ||T||
  // about N^2 / 4 and gaps of order 1 here: 1e-9 leaves room for that at
  // N = 32768 and still catches any real disagreement.
  for (const int n : {5, 64, 1001, 32768}) {
    for (const double npi : {1.0, 4.0}) {
      const double w = npi / n;
      const double cs = std::cos(2.0 * 3.14159265358979 * w);
      std::vector<double> d(static_cast<std::size_t>(n)), e(static_cast<std::size_t>(n - 1));
      for (int i = 0; i < n; ++i) {
        const double t = (n - 1) / 2.0 - i;
        d[static_cast<std::size_t>(i)] = -(t * t) * cs;
        if (i > 0) e[static_cast<std::size_t>(i - 1)] = -(double(n) - i) * i / 2.0;
      }
      const int count = std::min(n, 8);
      std::vector<double> fast_values, fast_z, ref_values, ref_z;
      smallest_slepian_eigenpairs(d, e, count, fast_values, fast_z);
      smallest_tridiagonal_eigenpairs(d, e, count, static_cast<double>(1.0e-13f), ref_values,
                                      ref_z);
      for (int k = 0; k < count; ++k) {
        const double* zf = fast_z.data() + static_cast<std::size_t>(k) * static_cast<std::size_t>(n);
        const double* zr = ref_z.data() + static_cast<std::size_t>(k) * static_cast<std::size_t>(n);
        EXPECT_NEAR(fast_values[static_cast<std::size_t>(k)], ref_values[static_cast<std::size_t>(k)],
                    4e-15 * (double(n) * n + 16.0));
        const double sign =
            relative_sign([&](int i) { return zr[i]; }, [&](int i) { return zf[i]; }, n);
        double worst = 0.0;
        for (int i = 0; i < n; ++i) worst = std::max(worst, std::fabs(sign * zf[i] - zr[i]));
        EXPECT_LT(worst, 1e-9) << "n " << n << " p " << npi << " order " << k;
      }
    }
  }
}

TEST(TaperPaths, FastTapersAreTheReferenceTapersInSinglePrecision) {
  // In single precision nearly every value is bit-identical. The rest differ
  // where the double eigenvectors straddle a rounding boundary: by at most
  // two units in the last place of the taper's peak value (one from the
  // conversion to single precision, whose relative unit can exceed that of
  // the scaled value, one from the scaling).
  struct Case {
    int n, nwin;
    float npi;
  };
  for (const Case c : {Case{2, 1, 1.0f}, Case{3, 2, 1.0f}, Case{17, 3, 2.0f}, Case{309, 3, 2.0f},
                       Case{1000, 5, 3.0f}, Case{1001, 8, 4.0f}, Case{4096, 8, 2.0f},
                       Case{5001, 7, 8.0f}, Case{32768, 8, 4.0f}}) {
    Tapers fast, reference;
    taper2(c.n, c.nwin, c.npi, fast, EigenPath::Fast);
    taper2(c.n, c.nwin, c.npi, reference, EigenPath::Reference);
    for (int k = 0; k < c.nwin; ++k) {
      auto ref = [&](int i) { return static_cast<double>(reference.at(i, k)); };
      auto ours = [&](int i) { return static_cast<double>(fast.at(i, k)); };
      const double sign = relative_sign(ref, ours, c.n);
      double peak = 0.0;
      for (int i = 0; i < c.n; ++i) peak = std::max(peak, std::fabs(ref(i)));
      const double unit = std::nextafter(static_cast<float>(peak), 1e30f) - static_cast<float>(peak);
      int identical = 0;
      for (int i = 0; i < c.n; ++i) {
        ASSERT_LE(std::fabs(sign * ours(i) - ref(i)), 2.0 * unit)
            << "n " << c.n << " taper " << k << " value " << i;
        identical += sign * ours(i) == ref(i) ? 1 : 0;
      }
      EXPECT_GE(identical, c.n - c.n / 100 - 1) << "n " << c.n << " taper " << k;
      EXPECT_EQ(fast.el[static_cast<std::size_t>(k)], reference.el[static_cast<std::size_t>(k)]);
      EXPECT_NEAR(sign * fast.tapsum[static_cast<std::size_t>(k)],
                  reference.tapsum[static_cast<std::size_t>(k)], 1e-6 * c.n);
    }
  }
}

}  // namespace
}  // namespace quorvane::spectral
