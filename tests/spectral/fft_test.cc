// The optimised transforms against the transform as classically written,
// bit for bit. (Their accuracy shows in the spectra checked elsewhere, among
// them the uneven estimator's exact sums on evenly spaced records.)
#include "spectral/numerics/fft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

namespace quorvane::spectral {
namespace {

// Bit reversal by exchange, then per stage the twiddle loop outside and the
// blocks inside.
void classic_fft(std::vector<double>& xr, std::vector<double>& xi) {
  const std::size_t nn = xr.size();
  const int bits = std::countr_zero(nn);
  for (std::size_t i = 0; i < nn; ++i) {
    std::size_t r = 0;
    for (int b = 0; b < bits; ++b) r |= ((i >> b) & 1u) << (bits - 1 - b);
    if (i < r) std::swap(xr[i], xr[r]), std::swap(xi[i], xi[r]);
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

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// Every length from 2 to 2^20: fft2 of complex data and from bit-reversed
// data, and FftPlan of a real series, whole or in part padded with zeros, on
// one thread or two, with the widest vectors or two lanes; signed zeros and
// magnitudes from 1e-300 to 1e150 included.
TEST(Transforms, AreBitForBitTheClassicLoopNestAtEveryLength) {
  std::mt19937 gen(5);
  std::normal_distribution<double> normal;
  std::uniform_int_distribution<int> kind(0, 5);
  const auto value = [&] {
    switch (kind(gen)) {
      case 0: return 0.0;
      case 1: return -0.0;
      case 2: return normal(gen) * 1e150;
      case 3: return normal(gen) * 1e-300;
      default: return normal(gen);
    }
  };
  for (int bits = 0; bits <= 20; ++bits) {
    const std::size_t nn = std::size_t{1} << bits;
    std::vector<double> xr(nn), xi(nn), pr(nn), pi(nn);
    std::vector<std::uint32_t> order(nn);
    bit_reversal_order(order);
    for (std::size_t m = 0; m < nn; ++m) {
      xr[m] = value(), xi[m] = m % 3 == 0 ? value() : 0.0;
      pr[order[m]] = xr[m], pi[order[m]] = xi[m];
    }
    std::vector<double> real = xr, imag = xi, cr = xr, ci = xi;
    classic_fft(cr, ci);
    fft2(xr, xi);
    fft2_bit_reversed(pr, pi);
    ASSERT_TRUE(same_bits(xr, cr) && same_bits(xi, ci)) << "fft2, nn " << nn;
    ASSERT_TRUE(same_bits(pr, cr) && same_bits(pi, ci)) << "fft2_bit_reversed, nn " << nn;
    if (bits == 0) continue;
    const bool wide = bits % 2 == 0;
    const FftPlan plan(nn, std::pmr::get_default_resource(), wide);
    for (const std::size_t count : {nn, nn / 2 + 1, bits <= 12 ? std::size_t{1} : nn}) {
      std::vector<double> expected_r(nn, 0.0), expected_i(nn, 0.0);
      std::copy_n(real.begin(), count, expected_r.begin());
      classic_fft(expected_r, expected_i);
      for (const bool two_threads : {false, true}) {
        std::vector<double> yr(nn, 7.0), yi(nn, 7.0);
        plan.transform_real(count, [&](std::size_t t) { return real[t]; }, yr, yi, two_threads);
        ASSERT_TRUE(same_bits(yr, expected_r) && same_bits(yi, expected_i))
            << "nn " << nn << " count " << count << " two threads " << two_threads << " wide " << wide;
      }
      // Both parts given: every third value has an imaginary part.
      std::fill(expected_r.begin(), expected_r.end(), 0.0);
      std::fill(expected_i.begin(), expected_i.end(), 0.0);
      std::copy_n(real.begin(), count, expected_r.begin());
      std::copy_n(imag.begin(), count, expected_i.begin());
      classic_fft(expected_r, expected_i);
      for (const bool two_threads : {false, true}) {
        std::vector<double> yr(nn, 7.0), yi(nn, 7.0);
        plan.transform_complex(
            count, [&](std::size_t t, double& re, double& im) { re = real[t], im = imag[t]; }, yr,
            yi, two_threads);
        ASSERT_TRUE(same_bits(yr, expected_r) && same_bits(yi, expected_i))
            << "complex, nn " << nn << " count " << count << " two threads " << two_threads;
      }
    }
  }
}

}  // namespace
}  // namespace quorvane::spectral
