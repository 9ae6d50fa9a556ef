#include "spectral/estimators.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "spectral/fft.h"
#include "spectral/jackknife.h"
#include "spectral/spectrum.h"
#include "spectral/tapers.h"

namespace quorvane::spectral {
namespace {

// Eigencoefficients of one band entry: the line amplitude mu times the taper
// sums plus a residual orthogonal to them, so the least-squares amplitude is
// exactly mu and the residual's sum of squares is known.
struct KnownLine {
  std::vector<float> tapsum;
  float mu_re, mu_im;
  std::vector<float> residual_re, residual_im;  // orthogonal to tapsum
  float expected_f;  // (K - 1) |mu|^2 sum H^2 / sum |residual|^2
};

TEST(FTest, HandBuiltEigencoefficientsGiveTheStatisticWithTwoAndTwoKMinusTwoDegrees) {
  const KnownLine cases[] = {
      // K = 2: H = (1, 1), |mu|^2 = 9, residual (1, -1): F = 1 * 9 * 2 / 2.
      {{1.0f, 1.0f}, 3.0f, 0.0f, {1.0f, -1.0f}, {0.0f, 0.0f}, 9.0f},
      // K = 3: H = (2, 0, 1), |mu|^2 = 5, residual (1, 0, -2): F = 2 * 5 * 5 / 5.
      {{2.0f, 0.0f, 1.0f}, 1.0f, 2.0f, {1.0f, 0.0f, -2.0f}, {0.0f, 0.0f, 0.0f}, 10.0f},
      // K = 4: H = (1, 0, 1, 0), mu = 2i, residual on the tapers with zero sum
      // (0, 1, 0, 2) + i (0, 2, 0, 0): F = 3 * 4 * 2 / 9.
      {{1.0f, 0.0f, 1.0f, 0.0f}, 0.0f, 2.0f, {0.0f, 1.0f, 0.0f, 2.0f}, {0.0f, 2.0f, 0.0f, 0.0f},
       24.0f / 9.0f},
  };
  for (const KnownLine& c : cases) {
    const int nwin = static_cast<int>(c.tapsum.size());
    Eigencoefficients y;
    y.resize(1, nwin);
    for (int k = 0; k < nwin; ++k) {
      const auto uk = static_cast<std::size_t>(k);
      y.yr[y.at(0, k)] = c.tapsum[uk] * c.mu_re + c.residual_re[uk];
      y.yi[y.at(0, k)] = c.tapsum[uk] * c.mu_im + c.residual_im[uk];
    }
    std::vector<float> ftest(1, -1.0f);
    regre(y, c.tapsum, ftest);
    EXPECT_FLOAT_EQ(ftest[0], c.expected_f) << "K " << nwin;
  }
}

// The spectrum engine shares the transforms of long series between two
// threads. Its estimate and F statistic must equal those computed here,
// taper by taper on one thread, from the same tapers and transform.
TEST(Eigencoefficients, LongSeriesSharedBetweenThreadsGiveTheOneThreadResult) {
  for (int nwin : {2, 3, 5, 8}) {
    const int npts = 5000;  // a transform of 8192 points: the threaded length
    std::mt19937 gen(11u + static_cast<unsigned>(nwin));
    std::normal_distribution<float> normal;
    std::vector<float> series(npts);
    for (float& v : series) v = normal(gen);

    SpecSettings s;
    s.npts = npts;
    s.nwin = nwin;
    s.p = nwin <= 3 ? 2 : 4;
    s.iadapt = 0;
    s.inoise = 1;
    s.irobust = 0;
    SpecResults r;
    ASSERT_TRUE(spec(series, s, r).ok);

    // The same steps on one thread: demean, taper, transform each taper.
    float total = 0.0f;
    for (float v : series) total += v;
    const float mean = total / static_cast<float>(npts);
    Tapers tapers;
    taper2(npts, nwin, static_cast<float>(s.p), tapers);
    const int nfft = 8192;
    const int count = r.nf - 1;
    Eigencoefficients y;
    y.resize(count, nwin);
    std::vector<double> xr(nfft), xi(nfft);
    for (int k = 0; k < nwin; ++k) {
      std::fill(xr.begin(), xr.end(), 0.0);
      std::fill(xi.begin(), xi.end(), 0.0);
      for (int t = 0; t < npts; ++t) {
        xr[static_cast<std::size_t>(t)] =
            static_cast<double>(tapers.at(t, k) * (series[static_cast<std::size_t>(t)] - mean));
      }
      fft2(xr, xi);
      for (int i = 0; i < count; ++i) {
        y.yr[y.at(i, k)] = static_cast<float>(xr[static_cast<std::size_t>(i)]);
        y.yi[y.at(i, k)] = static_cast<float>(xi[static_cast<std::size_t>(i)]);
      }
    }
    std::vector<float> estimate(static_cast<std::size_t>(count)), ftest(estimate.size());
    hires(y, tapers.el, estimate);
    regre(y, tapers.tapsum, ftest);
    for (std::size_t i = 0; i < estimate.size(); ++i) {
      ASSERT_EQ(r.specraw0[i], estimate[i]) << "K " << nwin << " entry " << i;
      ASSERT_EQ(r.ftest[i], ftest[i]) << "K " << nwin << " entry " << i;
    }
  }
}

// Eigencoefficients of count entries whose scales differ by many orders of
// magnitude, so that the adaptive iteration ends after different numbers of
// steps in neighbouring entries, with zero entries and an exact line among
// them.
Eigencoefficients varied_entries(int count, int nwin) {
  std::mt19937 gen(static_cast<unsigned>(count + nwin));
  std::normal_distribution<float> normal;
  std::uniform_int_distribution<int> exponent(-20, 20);
  Eigencoefficients y;
  y.resize(count, nwin);
  for (int i = 0; i < count; ++i) {
    const float scale = std::ldexp(1.0f, exponent(gen));
    // A leading taper far above the others makes a lane converge late.
    const float lead = i % 3 == 0 ? 1e3f : 1.0f;
    for (int k = 0; k < nwin; ++k) {
      const float boost = k == 0 ? lead : 1.0f;
      y.yr[y.at(i, k)] = i % 7 == 5 ? 0.0f : scale * boost * normal(gen);
      y.yi[y.at(i, k)] = i % 7 == 5 ? 0.0f : scale * normal(gen);
    }
  }
  return y;
}

Eigencoefficients single_entry(const Eigencoefficients& y, int i) {
  Eigencoefficients one;
  one.resize(1, y.nwin);
  for (int k = 0; k < y.nwin; ++k) {
    one.yr[one.at(0, k)] = y.yr[y.at(i, k)];
    one.yi[one.at(0, k)] = y.yi[y.at(i, k)];
  }
  return one;
}

// Long bands are computed several entries at a time and on two threads; the
// estimate and the F statistic of every entry must be what that entry gives
// alone, bit for bit, whatever its neighbours do.
TEST(Estimators, EveryEntryGetsWhatItGivesAlone) {
  const std::vector<double> el{0.9999999, 0.99998, 0.9996, 0.994, 0.96, 0.85, 0.6, 0.3};
  for (int nwin : {2, 3, 7, 8}) {
    const std::vector<float> tapsum{9.0f, 0.0f, 7.5f, 0.5f, 6.0f, 0.0f, 5.0f, 0.25f};
    for (int count : {5, 8192 + 3}) {
      Eigencoefficients y = varied_entries(count, nwin);
      // An exact line: the eigencoefficients are the taper sums themselves.
      for (int k = 0; k < nwin; ++k) y.yr[y.at(1, k)] = tapsum[static_cast<std::size_t>(k)];
      for (int k = 0; k < nwin; ++k) y.yi[y.at(1, k)] = 0.0f;
      std::vector<float> adaptive(static_cast<std::size_t>(count)), f(adaptive.size());
      adwait(y, std::span(el).first(static_cast<std::size_t>(nwin)), 3.5, adaptive);
      regre(y, std::span(tapsum).first(static_cast<std::size_t>(nwin)), f);
      for (int i = 0; i < count; ++i) {
        const Eigencoefficients one = single_entry(y, i);
        float alone[1], f_alone[1];
        adwait(one, std::span(el).first(static_cast<std::size_t>(nwin)), 3.5, alone);
        regre(one, std::span(tapsum).first(static_cast<std::size_t>(nwin)), f_alone);
        ASSERT_EQ(std::bit_cast<std::uint32_t>(adaptive[static_cast<std::size_t>(i)]),
                  std::bit_cast<std::uint32_t>(alone[0]))
            << "K " << nwin << " entry " << i << " of " << count;
        ASSERT_EQ(std::bit_cast<std::uint32_t>(f[static_cast<std::size_t>(i)]),
                  std::bit_cast<std::uint32_t>(f_alone[0]))
            << "K " << nwin << " entry " << i << " of " << count;
      }
    }
  }
}

// The jackknife interval is computed a block of entries at a time and on two
// threads; every entry's interval must be what that entry gives alone.
TEST(Estimators, EveryJackknifeIntervalIsWhatTheEntryGivesAlone) {
  const std::vector<double> el{0.9999999, 0.99998, 0.9996, 0.994, 0.96, 0.85, 0.6};
  const int count = 2 * 2048 + 5;  // whole blocks on two threads and a short one
  for (int nwin : {3, 7}) {
    const std::span<const double> used = std::span(el).first(static_cast<std::size_t>(nwin));
    const Eigencoefficients y = varied_entries(count, nwin);
    for (bool adaptive : {false, true}) {
      std::vector<float> estimate(static_cast<std::size_t>(count)), lower(estimate), upper(estimate);
      if (adaptive) {
        adwait(y, used, 3.5, estimate);
      } else {
        hires(y, used, estimate);
      }
      jackknife_interval(y, used, adaptive, 3.5, estimate, lower, upper);
      for (int i = 0; i < count; ++i) {
        const std::size_t at = static_cast<std::size_t>(i);
        float lower_alone[1], upper_alone[1];
        jackknife_interval(single_entry(y, i), used, adaptive, 3.5, std::span(&estimate[at], 1),
                           lower_alone, upper_alone);
        ASSERT_EQ(std::bit_cast<std::uint32_t>(lower[at]), std::bit_cast<std::uint32_t>(lower_alone[0]))
            << "K " << nwin << " entry " << i;
        ASSERT_EQ(std::bit_cast<std::uint32_t>(upper[at]), std::bit_cast<std::uint32_t>(upper_alone[0]))
            << "K " << nwin << " entry " << i;
      }
    }
  }
}

}  // namespace
}  // namespace quorvane::spectral
