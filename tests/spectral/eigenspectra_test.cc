#include "spectral/stages/eigenspectra.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "spectral/estimators/even.h"
#include "spectral/numerics/fft.h"
#include "spectral/numerics/tapers.h"
#include "spectral/stages/jackknife.h"

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
  const int npts = 5000, nfft = 8192;  // a transform of 8192 points: the threaded length
  for (int nwin : {2, 3, 5, 8}) {
    std::mt19937 gen(11u + static_cast<unsigned>(nwin));
    std::normal_distribution<float> normal;
    std::vector<float> series(npts);
    for (float& v : series) v = normal(gen);
    SpecSettings s;
    s.npts = npts, s.nwin = nwin, s.p = nwin <= 3 ? 2 : 4, s.iadapt = 0, s.inoise = 1, s.irobust = 0;
    SpecResults r;
    ASSERT_TRUE(spec(series, s, r).ok);

    // The same steps on one thread: demean, taper, transform each taper.
    float total = 0.0f;
    for (float v : series) total += v;
    const float mean = total / static_cast<float>(npts);
    Tapers tapers;
    taper2(npts, nwin, static_cast<float>(s.p), tapers);
    const int count = r.nf - 1;
    Eigencoefficients y;
    y.resize(count, nwin);
    for (int k = 0; k < nwin; ++k) {
      std::vector<double> xr(nfft, 0.0), xi(nfft, 0.0);
      for (int t = 0; t < npts; ++t)
        xr[static_cast<std::size_t>(t)] = static_cast<double>(tapers.at(t, k) * (series[static_cast<std::size_t>(t)] - mean));
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

// Long bands are computed several entries at a time, in blocks and on two
// threads; the estimates, the F statistic and the jackknife interval of
// every entry must be what that entry gives alone, bit for bit, whatever its
// neighbours do.
TEST(Estimators, EveryEntryGetsWhatItGivesAlone) {
  const std::vector<double> all_el{0.9999999, 0.99998, 0.9996, 0.994, 0.96, 0.85, 0.6, 0.3};
  const std::vector<float> all_tapsum{9.0f, 0.0f, 7.5f, 0.5f, 6.0f, 0.0f, 5.0f, 0.25f};
  const auto bits = [](float v) { return std::bit_cast<std::uint32_t>(v); };
  for (int nwin : {2, 3, 7, 8}) {
    const auto el = std::span(all_el).first(static_cast<std::size_t>(nwin));
    const auto tapsum = std::span(all_tapsum).first(static_cast<std::size_t>(nwin));
    // Whole blocks of 2048 on two threads and a short one.
    for (int count : {5, 2 * 2048 + 5, 8192 + 3}) {
      Eigencoefficients y = varied_entries(count, nwin);
      // An exact line: the eigencoefficients are the taper sums themselves.
      for (int k = 0; k < nwin; ++k) y.yr[y.at(1, k)] = tapsum[static_cast<std::size_t>(k)];
      for (int k = 0; k < nwin; ++k) y.yi[y.at(1, k)] = 0.0f;
      const std::size_t m = static_cast<std::size_t>(count);
      std::vector<float> adaptive(m), high(m), f(m), lower(m), upper(m), hires_lower(m), hires_upper(m);
      adwait(y, el, 3.5, adaptive);
      hires(y, el, high);
      regre(y, tapsum, f);
      jackknife_interval(y, el, true, 3.5, adaptive, lower, upper);
      jackknife_interval(y, el, false, 3.5, high, hires_lower, hires_upper);
      for (std::size_t i = 0; i < m; ++i) {
        const Eigencoefficients one = single_entry(y, static_cast<int>(i));
        float alone[7];
        adwait(one, el, 3.5, std::span(alone, 1));
        hires(one, el, std::span(alone + 1, 1));
        regre(one, tapsum, std::span(alone + 2, 1));
        jackknife_interval(one, el, true, 3.5, std::span(&adaptive[i], 1), std::span(alone + 3, 1),
                           std::span(alone + 4, 1));
        jackknife_interval(one, el, false, 3.5, std::span(&high[i], 1), std::span(alone + 5, 1),
                           std::span(alone + 6, 1));
        const float together[7] = {adaptive[i], high[i], f[i], lower[i], upper[i], hires_lower[i],
                                   hires_upper[i]};
        for (int q = 0; q < 7; ++q)
          ASSERT_EQ(bits(together[q]), bits(alone[q]))
              << "K " << nwin << " entry " << i << " of " << count << ", quantity " << q;
      }
    }
  }
}

// An entry whose power lies in the middle taper, far above the other two
// (a steep spectrum next to a leaky taper), swings its weights for some
// two hundred iterations; after 20 its estimate is still six times its
// fixed point. The estimate must end where the weights it gives reproduce
// it, alone and side by side with another entry.
TEST(Estimators, AdaptiveWeightsIterateUntilTheEstimateSettles) {
  const std::vector<double> el{0.99999, 0.9997, 0.995};
  const double sk[3] = {1.1979360e-05, 1.2406455e-03, 1.1227812e-05};
  Eigencoefficients y;
  y.resize(3, 3);
  for (int i = 0; i < 3; ++i) {
    for (int k = 0; k < 3; ++k) y.yr[y.at(i, k)] = static_cast<float>(std::sqrt(sk[k]));
  }
  std::vector<float> s(3);
  adwait(y, el, 1.0, s);
  for (int i = 0; i < 3; ++i) {
    // One more step of the iteration from the result.
    const double estimate = s[static_cast<std::size_t>(i)];
    double num = 0.0, den = 0.0;
    for (int k = 0; k < 3; ++k) {
      const double d = std::sqrt(el[k]) * estimate / (el[k] * estimate + 1.0 - el[k]);
      const double power = static_cast<double>(y.yr[y.at(i, k)]) * y.yr[y.at(i, k)];
      num += d * d * power;
      den += d * d;
    }
    EXPECT_NEAR(num / den, estimate, 4e-4 * estimate) << "entry " << i;
  }
}

}  // namespace
}  // namespace quorvane::spectral
