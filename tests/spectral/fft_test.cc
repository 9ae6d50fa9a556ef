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

}  // namespace
}  // namespace quorvane::spectral
