#include "spectral/fft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

namespace quorvane::spectral {
namespace {

constexpr double kPi = 3.14159265358979323846;

// exp(2 pi i jm / nn)
std::complex<double> root(std::size_t jm, std::size_t nn) {
  return std::polar(1.0, 2.0 * kPi * static_cast<double>(jm % nn) / static_cast<double>(nn));
}

TEST(Fft2, MatchesTheNaiveDftWithAPositiveExponent) {
  std::mt19937 gen(1);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  for (std::size_t nn : {1u, 2u, 4u, 64u, 512u}) {
    std::vector<double> xr(nn), xi(nn);
    std::vector<std::complex<double>> expected(nn);
    for (std::size_t m = 0; m < nn; ++m) xr[m] = uniform(gen), xi[m] = uniform(gen);
    for (std::size_t j = 0; j < nn; ++j) {
      for (std::size_t m = 0; m < nn; ++m) expected[j] += std::complex(xr[m], xi[m]) * root(j * m, nn);
    }
    fft2(xr, xi);
    for (std::size_t j = 0; j < nn; ++j) {
      ASSERT_LT(std::abs(std::complex(xr[j], xi[j]) - expected[j]), 1e-11 * double(nn)) << nn << " " << j;
    }
  }
  // At a long length: exp(-2 pi i k0 m / nn) lands wholly on bin k0.
  const std::size_t nn = 32768, k0 = nn / 8 + 3;
  std::vector<double> xr(nn), xi(nn);
  for (std::size_t m = 0; m < nn; ++m) xr[m] = root(m * k0, nn).real(), xi[m] = -root(m * k0, nn).imag();
  fft2(xr, xi);
  for (std::size_t j = 0; j < nn; ++j) {
    ASSERT_LT(std::abs(std::complex(xr[j], xi[j]) - (j == k0 ? double(nn) : 0.0)), 1e-9 * double(nn)) << j;
  }
}

// The transform as classically written: bit reversal by exchange, then per
// stage the twiddle loop outside and the blocks inside.
void classic_fft(std::vector<double>& xr, std::vector<double>& xi) {
  const std::size_t nn = xr.size();
  const int bits = std::countr_zero(nn);
  for (std::size_t i = 0; i < nn; ++i) {
    std::size_t r = 0;
    for (int b = 0; b < bits; ++b) r |= ((i >> b) & 1u) << (bits - 1 - b);
    if (i < r) {
      std::swap(xr[i], xr[r]);
      std::swap(xi[i], xi[r]);
    }
  }
  for (std::size_t le1 = 1; le1 < nn; le1 *= 2) {
    double ur = 1.0, ui = 0.0;
    const double wr = std::cos(3.14159265358979 / static_cast<double>(le1));
    const double wi = std::sin(3.14159265358979 / static_cast<double>(le1));
    for (std::size_t j = 0; j < le1; ++j) {
      for (std::size_t i = j; i < nn; i += 2 * le1) {
        const double tr = xr[i + le1] * ur - xi[i + le1] * ui;
        const double ti = xr[i + le1] * ui + xi[i + le1] * ur;
        xr[i + le1] = xr[i] - tr;
        xi[i + le1] = xi[i] - ti;
        xr[i] += tr;
        xi[i] += ti;
      }
      const double old = ur;
      ur = old * wr - ui * wi;
      ui = old * wi + ui * wr;
    }
  }
}

TEST(Fft2, GivesBitForBitTheClassicResultAlsoFromBitReversedData) {
  std::mt19937 gen(3);
  std::normal_distribution<double> normal;
  for (std::size_t nn : {1u, 2u, 8u, 1024u, 2048u, 65536u, 1u << 18}) {
    std::vector<double> xr(nn), xi(nn), pr(nn), pi(nn);
    std::vector<std::uint32_t> order(nn);
    bit_reversal_order(order);
    for (std::size_t m = 0; m < nn; ++m) {
      xr[m] = normal(gen);
      xi[m] = m % 3 == 0 ? normal(gen) : 0.0;
      pr[order[m]] = xr[m];
      pi[order[m]] = xi[m];
    }
    std::vector<double> cr = xr, ci = xi;
    classic_fft(cr, ci);
    fft2(xr, xi);
    fft2_bit_reversed(pr, pi);
    ASSERT_TRUE(xr == cr && xi == ci) << "fft2, nn " << nn;
    ASSERT_TRUE(pr == cr && pi == ci) << "fft2_bit_reversed, nn " << nn;
  }
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// Every length from 2 to 2^20, the whole series or a part of it padded with
// zeros, on one thread or shared by two, with the widest vectors or two
// lanes: the transform of a real series is bit for bit that of the classic
// loop nest, signed zeros included.
TEST(FftPlan, TransformOfARealSequenceIsBitForBitTheClassicOneAtEveryLength) {
  std::mt19937 gen(5);
  std::normal_distribution<double> normal;
  std::uniform_int_distribution<int> kind(0, 5);
  for (int bits = 1; bits <= 20; ++bits) {
    const std::size_t nn = std::size_t{1} << bits;
    const bool wide = bits % 2 == 0;
    const FftPlan plan(nn, std::pmr::get_default_resource(), wide);
    // Negative and positive values, both zeros, and magnitudes from 1e-300
    // to 1e150 (far from overflow even summed over 2^20 values).
    std::vector<double> x(nn);
    for (double& v : x) {
      switch (kind(gen)) {
        case 0: v = 0.0; break;
        case 1: v = -0.0; break;
        case 2: v = normal(gen) * 1e150; break;
        case 3: v = normal(gen) * 1e-300; break;
        default: v = normal(gen);
      }
    }
    for (const std::size_t count : {nn, nn / 2 + 1, bits <= 12 ? std::size_t{1} : nn}) {
      std::vector<double> expected_r(nn, 0.0), expected_i(nn, 0.0);
      std::copy_n(x.begin(), count, expected_r.begin());
      classic_fft(expected_r, expected_i);
      for (const bool two_threads : {false, true}) {
        std::vector<double> xr(nn, 7.0), xi(nn, 7.0);
        plan.transform_real(count, [&](std::size_t t) { return x[t]; }, xr, xi, two_threads);
        ASSERT_TRUE(same_bits(xr, expected_r) && same_bits(xi, expected_i))
            << "nn " << nn << " count " << count << " two threads " << two_threads << " wide "
            << wide;
      }
    }
  }
}

}  // namespace
}  // namespace quorvane::spectral
