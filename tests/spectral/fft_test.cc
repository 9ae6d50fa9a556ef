#include "spectral/fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

namespace quorvane::spectral {
namespace {

constexpr double kPi = 3.14159265358979323846;

TEST(Fft2, UnitImpulseTransformsToOnesEverywhere) {
  const std::size_t nn = 1024;
  std::vector<double> xr(nn, 0.0), xi(nn, 0.0);
  xr[0] = 1.0;
  fft2(xr, xi);
  for (std::size_t j = 0; j < nn; ++j) {
    EXPECT_DOUBLE_EQ(xr[j], 1.0) << j;
    EXPECT_DOUBLE_EQ(xi[j], 0.0) << j;
  }
}

TEST(Fft2, NegativeExponentialLandsOnItsBinWithThePositiveConvention) {
  for (std::size_t nn : {std::size_t{8}, std::size_t{1024}, std::size_t{32768}}) {
    const std::size_t k0 = nn / 8 + 3;
    std::vector<double> xr(nn), xi(nn);
    for (std::size_t m = 0; m < nn; ++m) {
      const double phase = -2.0 * kPi * static_cast<double>((m * k0) % nn) / static_cast<double>(nn);
      xr[m] = std::cos(phase);
      xi[m] = std::sin(phase);
    }
    fft2(xr, xi);
    const double tol = 1e-9 * static_cast<double>(nn);
    for (std::size_t j = 0; j < nn; ++j) {
      const double expected = j == k0 % nn ? static_cast<double>(nn) : 0.0;
      ASSERT_NEAR(xr[j], expected, tol) << "nn " << nn << " bin " << j;
      ASSERT_NEAR(xi[j], 0.0, tol) << "nn " << nn << " bin " << j;
    }
  }
}

TEST(Fft2, RealInputHasConjugateSymmetricTransform) {
  const std::size_t nn = 1024;
  std::mt19937 gen(7);
  std::normal_distribution<double> normal;
  std::vector<double> xr(nn), xi(nn, 0.0);
  for (double& x : xr) x = normal(gen);
  fft2(xr, xi);
  for (std::size_t j = 1; j < nn; ++j) {
    EXPECT_NEAR(xr[nn - j], xr[j], 1e-10);
    EXPECT_NEAR(xi[nn - j], -xi[j], 1e-10);
  }
  EXPECT_NEAR(xi[0], 0.0, 1e-10);
  EXPECT_NEAR(xi[nn / 2], 0.0, 1e-10);
}

TEST(Fft2, AgreesWithNaiveDftOnRandomComplexData) {
  for (std::size_t nn : {std::size_t{1}, std::size_t{2}, std::size_t{4}, std::size_t{64},
                         std::size_t{512}}) {
    std::mt19937 gen(static_cast<unsigned>(nn));
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::vector<double> xr(nn), xi(nn);
    for (std::size_t m = 0; m < nn; ++m) {
      xr[m] = uniform(gen);
      xi[m] = uniform(gen);
    }
    std::vector<std::complex<double>> expected(nn);
    for (std::size_t j = 0; j < nn; ++j) {
      for (std::size_t m = 0; m < nn; ++m) {
        const double phase = 2.0 * kPi * static_cast<double>((j * m) % nn) / static_cast<double>(nn);
        expected[j] += std::complex<double>(xr[m], xi[m]) * std::polar(1.0, phase);
      }
    }
    fft2(xr, xi);
    for (std::size_t j = 0; j < nn; ++j) {
      EXPECT_NEAR(xr[j], expected[j].real(), 1e-11 * static_cast<double>(nn)) << nn << ":" << j;
      EXPECT_NEAR(xi[j], expected[j].imag(), 1e-11 * static_cast<double>(nn)) << nn << ":" << j;
    }
  }
}

// The transform as classically written: twiddle loop outside, blocks inside.
void classic_fft(std::vector<double>& xr, std::vector<double>& xi) {
  const std::size_t nn = xr.size();
  std::size_t j = 1;
  for (std::size_t i = 1; i < nn; ++i) {
    if (i < j) {
      std::swap(xr[i - 1], xr[j - 1]);
      std::swap(xi[i - 1], xi[j - 1]);
    }
    std::size_t k = nn / 2;
    while (k < j) {
      j -= k;
      k /= 2;
    }
    j += k;
  }
  const int m = static_cast<int>(std::log(static_cast<double>(nn)) / 0.693147);
  for (int l = 1; l <= m; ++l) {
    const std::size_t le = std::size_t{1} << l, le1 = le / 2;
    double ur = 1.0, ui = 0.0;
    const double wr = std::cos(3.14159265358979 / static_cast<double>(le1));
    const double wi = std::sin(3.14159265358979 / static_cast<double>(le1));
    for (std::size_t jj = 1; jj <= le1; ++jj) {
      for (std::size_t i = jj; i <= nn; i += le) {
        const std::size_t ip = i + le1;
        const double tr = xr[ip - 1] * ur - xi[ip - 1] * ui;
        const double ti = xr[ip - 1] * ui + xi[ip - 1] * ur;
        xr[ip - 1] = xr[i - 1] - tr;
        xi[ip - 1] = xi[i - 1] - ti;
        xr[i - 1] += tr;
        xi[i - 1] += ti;
      }
      const double old = ur;
      ur = old * wr - ui * wi;
      ui = old * wi + ui * wr;
    }
  }
}

TEST(Fft2, GivesBitForBitTheResultOfTheClassicLoopNest) {
  std::mt19937 gen(3);
  std::normal_distribution<double> normal;
  for (std::size_t nn : {std::size_t{2}, std::size_t{1024}, std::size_t{2048}, std::size_t{65536}}) {
    std::vector<double> xr(nn), xi(nn);
    for (std::size_t m = 0; m < nn; ++m) {
      xr[m] = normal(gen);
      xi[m] = m % 3 == 0 ? normal(gen) : 0.0;
    }
    std::vector<double> cr = xr, ci = xi;
    fft2(xr, xi);
    classic_fft(cr, ci);
    ASSERT_EQ(xr, cr) << nn;
    ASSERT_EQ(xi, ci) << nn;
  }
}

TEST(Fft2, DataPlacedInBitReversedOrderGivesTheSameTransform) {
  std::mt19937 gen(5);
  std::normal_distribution<double> normal;
  for (std::size_t nn : {std::size_t{1}, std::size_t{2}, std::size_t{8}, std::size_t{4096}}) {
    std::vector<double> xr(nn), xi(nn);
    for (std::size_t m = 0; m < nn; ++m) {
      xr[m] = normal(gen);
      xi[m] = normal(gen);
    }
    std::vector<std::uint32_t> order(nn);
    bit_reversal_order(order);
    std::vector<double> pr(nn), pi(nn);
    for (std::size_t m = 0; m < nn; ++m) {
      pr[order[m]] = xr[m];
      pi[order[m]] = xi[m];
    }
    fft2(xr, xi);
    fft2_bit_reversed(pr, pi);
    ASSERT_EQ(pr, xr) << nn;
    ASSERT_EQ(pi, xi) << nn;
  }
  std::vector<std::uint32_t> order(8);
  bit_reversal_order(order);
  EXPECT_EQ(order, (std::vector<std::uint32_t>{0, 4, 2, 6, 1, 5, 3, 7}));
}

}  // namespace
}  // namespace quorvane::spectral
