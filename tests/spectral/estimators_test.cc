#include "spectral/estimators.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "spectral/fft.h"
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

}  // namespace
}  // namespace quorvane::spectral
