// Reconstruction of long records: a series prepared once for all its
// signals, the misfit search's vector sweep, and the memory refusal.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "recon/misfit_sweep.h"
#include "recon/recon.h"
#include "recon/recon_steps.h"
#include "spectral/numerics/tapers.h"

namespace quorvane::recon {
namespace {

constexpr double pi = std::numbers::pi;

// amplitude·cos(2·pi·f·i + phase) in unit white noise of standard deviation sigma.
std::vector<float> sinusoid_in_noise(int n, double f, double amplitude, double phase,
                                     float sigma, unsigned seed) {
  std::mt19937 generator(seed);
  std::normal_distribution<float> normal(0.0f, sigma);
  std::vector<float> y(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    y[std::size_t(i)] = float(amplitude * std::cos(2 * pi * f * i + phase)) + normal(generator);
  }
  return y;
}

TEST(LongRecord, ASinusoidJustAboveTheOldCapacityComesBackWithItsAmplitudeAndPhase) {
  // 2^20 + 1 values: the first length whose transform grid is 2^21 points.
  const int npts = (1 << 20) + 1;
  const double f = 0.0123456, amplitude = 2.0, phase = 0.7;
  const std::vector<float> y = sinusoid_in_noise(npts, f, amplitude, phase, 1.0f, 5);
  PreparedSeries series;
  ASSERT_TRUE(prepare_series(y, 2, 2, 1.0f, npts, series));
  EXPECT_EQ(series.grid.nfft, 1 << 21);
  std::vector<float> rsig(std::size_t(npts) + 1, -3.0f);
  ASSERT_TRUE(recon(series, 1.0e-5f, float(f), 2, rsig));
  EXPECT_EQ(rsig.back(), 0.0f);  // a single constraint zeroes what lies beyond npts

  // Amplitude and phase by projection on the carrier over the inner 90 %.
  double c = 0.0, s = 0.0;
  const int from = npts / 20, to = npts - npts / 20;
  for (int i = from; i < to; ++i) {
    c += rsig[std::size_t(i)] * std::cos(2 * pi * f * i);
    s += rsig[std::size_t(i)] * std::sin(2 * pi * f * i);
  }
  c *= 2.0 / (to - from);
  s *= 2.0 / (to - from);
  EXPECT_NEAR(std::hypot(c, s), amplitude, 0.02 * amplitude);
  EXPECT_NEAR(std::atan2(-s, c), phase, 0.02);
}

TEST(LongRecord, APreparedSeriesGivesEverySignalBitForBitAsASingleRun) {
  // Long enough for the threaded transforms and misfit sweep. The order mixes
  // three-pass and one-pass runs, so storage left by one signal must not
  // leak into the next.
  const int npts = 20000;
  std::vector<float> y = sinusoid_in_noise(npts, 0.1234, 1.0, 0.3, 0.5f, 8);
  for (int i = 0; i < npts; ++i) y[std::size_t(i)] += 2e-4f * float(i);
  PreparedSeries series;
  ASSERT_TRUE(prepare_series(y, 5, 3, 0.5f, npts, series));
  struct Case { float freq0; int iconstr; };
  for (Case c : {Case{0.2468f, 0}, Case{0.0005f, 1}, Case{0.31f, 3}, Case{1.0f, 0},
                 Case{0.2468f, 2}, Case{0.05f, 0}}) {
    std::vector<float> single(npts + 3, 9.0f), prepared(npts + 3, 9.0f);
    MisfitWeights single_weights, prepared_weights;
    ASSERT_TRUE(recon(y, 5, 3, 0.5f, npts, 0.001f, c.freq0, c.iconstr, single, single_weights));
    ASSERT_TRUE(recon(series, 0.001f, c.freq0, c.iconstr, prepared, prepared_weights));
    EXPECT_EQ(prepared, single) << c.freq0 << " " << c.iconstr;
    EXPECT_EQ(prepared_weights.wa, single_weights.wa) << c.freq0;
    EXPECT_EQ(prepared_weights.wb, single_weights.wb) << c.freq0;
  }
  // Tapers at hand from elsewhere (a spectrum run) give the same signals.
  spectral::Tapers tapers;
  spectral::taper2(npts, 5, 3.0f, tapers);
  PreparedSeries given;
  ASSERT_TRUE(prepare_series(y, 5, 3, 0.5f, npts, tapers.v, given));
  std::vector<float> from_prepared(npts), from_given(npts);
  ASSERT_TRUE(recon(series, 0.001f, 0.2468f, 0, from_prepared));
  ASSERT_TRUE(recon(given, 0.001f, 0.2468f, 0, from_given));
  EXPECT_EQ(from_given, from_prepared);
  EXPECT_FALSE(prepare_series(y, 4, 3, 0.5f, npts, tapers.v, given));
  EXPECT_EQ(given.npts, 0);

  // A frequency beyond Nyquist is refused with zeros, and the series serves on.
  std::vector<float> rsig(npts, 9.0f);
  EXPECT_FALSE(recon(series, 0.001f, 1.5f, 1, rsig));
  EXPECT_EQ(rsig, std::vector<float>(npts, 0.0f));
  EXPECT_TRUE(recon(series, 0.001f, 0.2468f, 1, rsig));
}

TEST(LongRecord, TheMisfitSearchSumsAndChoosesAsOnePlainLoopPerTriple) {
  // Longer than one chunk of the sweep, with a ragged last chunk.
  const std::size_t n = 5000;
  std::mt19937 generator(2);
  std::normal_distribution<float> normal(0.0f, 1.0f);
  std::vector<float> r1(n), r2(n), r3(n), x(n);
  for (std::size_t i = 0; i < n; ++i) {
    r1[i] = normal(generator);
    r2[i] = 3.0f * normal(generator);
    r3[i] = normal(generator);
    x[i] = 0.5f * r1[i] + 0.1f * r2[i] + normal(generator);
  }
  std::vector<float> wa(kMisfitGroup * 2), wb(wa.size()), wc(wa.size()), sums(wa.size(), 0.0f);
  for (std::size_t c = 0; c < wa.size(); ++c) {
    wa[c] = 0.01f * float(c);
    wb[c] = 0.3f - 0.002f * float(c);
    wc[c] = 1.0f - wa[c] - wb[c];
  }
  // The misfit of one triple, summed in one plain loop.
  const auto plain_misfit = [&](float a, float b, float c) {
    float sum = 0.0f;
    for (std::size_t i = 0; i < n; ++i) {
      const float d = a * r1[i] + b * r2[i] + c * r3[i] - x[i];
      sum += d * d;
    }
    return sum;
  };
  sweep_misfits(r1.data(), r2.data(), r3.data(), x.data(), n, wa.data(), wb.data(), wc.data(),
                sums.data(), wa.size());
  for (std::size_t c = 0; c < wa.size(); ++c) ASSERT_EQ(sums[c], plain_misfit(wa[c], wb[c], wc[c])) << c;

  // The whole search (on two threads at this length) picks the triple a
  // plain search in the same order picks: the first strict minimum.
  MisfitWeights plain_best;
  float least = 1.0e36f, wa_step = 0.0f;
  for (int a = 0; a < 51; ++a, wa_step += 0.02f) {
    float wb_step = 0.0f;
    for (int b = 0; b < 51; ++b, wb_step += 0.02f) {
      const float wc_step = 1.0f - wa_step - wb_step;
      if (wc_step < 0.0f || wc_step > 1.0f) continue;
      const float plain = plain_misfit(wa_step, wb_step, wc_step);
      if (plain < least) {
        least = plain;
        plain_best = {wa_step, wb_step, wc_step};
      }
    }
  }
  const MisfitWeights chosen = least_misfit(r1, r2, r3, x);
  EXPECT_EQ(chosen.wa, plain_best.wa);
  EXPECT_EQ(chosen.wb, plain_best.wb);
  EXPECT_EQ(chosen.wc, plain_best.wc);
  EXPECT_GT(chosen.wa, 0.3f);  // the mixture leans on r1, as the data do
}

TEST(LongRecord, WorkBeyondTheAvailableMemoryIsRefusedUpFrontWithTheAmountNeeded) {
  const int npts = 50000;
  const std::vector<float> y = sinusoid_in_noise(npts, 0.1, 1.0, 0.0, 1.0f, 3);
  const std::uint64_t needed = recon_memory(npts, 5);
  EXPECT_GT(recon_memory(2 * npts, 5), needed);

  PreparedSeries series;
  const Status refused = prepare_series(y, 5, 3, 1.0f, npts, series, needed);
  EXPECT_FALSE(refused);
  EXPECT_NE(refused.message.find("A reconstruction of 50000 values with 5 tapers needs about"),
            std::string::npos)
      << refused.message;
  EXPECT_NE(refused.message.find(describe_bytes(needed)), std::string::npos) << refused.message;
  EXPECT_EQ(series.npts, 0);
  // An unprepared series gives zeros and a reason, never a signal.
  std::vector<float> rsig(npts, 4.0f);
  EXPECT_FALSE(recon(series, 0.001f, 0.1f, 1, rsig));
  EXPECT_EQ(rsig, std::vector<float>(npts, 0.0f));

  // Enough room (an eighth kept back), or a system that does not say: the work goes ahead.
  EXPECT_TRUE(prepare_series(y, 5, 3, 1.0f, npts, series, needed / 7 * 8 + 8));
  EXPECT_TRUE(prepare_series(y, 5, 3, 1.0f, npts, series, std::nullopt));
  EXPECT_EQ(series.npts, npts);
}

}  // namespace
}  // namespace quorvane::recon
