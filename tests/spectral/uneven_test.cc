// The estimator of records with uneven steps: its transform against the
// exact sum, its agreement with the evenly spaced engine, the detection of
// lines in jittered records, the calibration of its levels and the
// persistence time it takes its red-noise background from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

#include "spectral/estimators/even.h"
#include "spectral/estimators/uneven.h"
#include "spectral/numerics/nufft.h"
#include "spectral/significance/persistence.h"
#include "spectral/significance/surrogates.h"
#include "spectral/stages/peaks.h"

namespace quorvane::spectral {
namespace {

constexpr double kTwoPi = 6.283185307179586;

// A record whose steps are spread evenly over 0.5 .. 1.5 (a factor of
// three), AR(1) noise of persistence time tau on those times, plus sines
// of amplitude 0.5 at the given frequencies.
struct Record {
  std::vector<double> time;
  std::vector<float> y;
};
Record jittered(int n, double tau, std::uint64_t stream, std::vector<double> lines = {}) {
  Record r{std::vector<double>(static_cast<std::size_t>(n)), std::vector<float>(static_cast<std::size_t>(n))};
  RandomStream random(5, stream);
  for (std::size_t j = 1; j < r.time.size(); ++j) r.time[j] = r.time[j - 1] + 0.5 + random.uniform();
  ar1_surrogate_on_times(r.time, tau, 1.0, random, r.y);
  for (std::size_t j = 0; j < r.y.size(); ++j) {
    for (double f : lines) r.y[j] += static_cast<float>(0.5 * std::sin(kTwoPi * f * r.time[j]));
  }
  return r;
}

SpecSettings settings_for(const Record& r) {
  std::vector<double> steps(r.time.size() - 1);
  for (std::size_t j = 0; j < steps.size(); ++j) steps[j] = r.time[j + 1] - r.time[j];
  std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
  SpecSettings s;
  s.npts = static_cast<int>(r.y.size());
  s.dt = static_cast<float>(steps[steps.size() / 2]);
  s.fmax = 0.5f / s.dt;
  return s;
}

TEST(NufftPlan, AgreesWithTheExactSumToOnePartInAMillion) {
  struct Case { int points, count; bool clustered, complex_strengths; double f_first; };
  for (const Case c : {Case{1, 1, false, false, 0.0}, Case{50, 7, false, true, 0.3},
                       Case{700, 512, true, false, 0.0}, Case{3000, 1201, false, true, 0.11},
                       Case{2000, 4096, true, true, 0.0}, Case{3000, 1025, false, false, 0.0}}) {
    SCOPED_TRACE(testing::Message() << c.points << " points, " << c.count << " frequencies");
    RandomStream random(3, static_cast<std::uint64_t>(c.points));
    std::vector<double> time(static_cast<std::size_t>(c.points));
    std::vector<std::complex<double>> strength(time.size());
    for (std::size_t j = 0; j < time.size(); ++j) {
      // Clustered: bursts of close times far apart; otherwise jittered.
      time[j] = 1e5 + (c.clustered ? std::floor(j / 10.0) * 37.0 + 0.01 * random.uniform()
                                   : j + 0.8 * random.uniform());
      strength[j] = {random.normal(), c.complex_strengths ? random.normal() : 0.0};
    }
    const double df = 1.0 / (2.0 * (time.back() - time.front() + 1.0));
    // The plan takes its band tables from a plan of other times.
    NufftPlan other, plan;
    ASSERT_TRUE(NufftPlan::make(std::vector<double>(3, 0.5), 0.0, 0.0, 1.0, c.count, other).ok);
    ASSERT_TRUE(NufftPlan::make(time, time.front(), c.f_first, df, c.count, plan, {}, &other).ok);
    std::vector<std::complex<double>> fast(static_cast<std::size_t>(c.count));
    NufftPlan::Work work;
    std::vector<double> real(time.size());
    for (std::size_t j = 0; j < time.size(); ++j) real[j] = strength[j].real();
    if (c.complex_strengths) plan.transform(strength, fast, work);
    else plan.transform(real, fast, work);
    double error = 0.0, norm = 0.0;
    for (int m = 0; m < c.count; ++m) {
      std::complex<double> exact = 0.0;
      for (std::size_t j = 0; j < time.size(); ++j) {
        exact += strength[j] * std::polar(1.0, kTwoPi * (c.f_first + m * df) * (time[j] - time.front()));
      }
      error += std::norm(fast[static_cast<std::size_t>(m)] - exact);
      norm += std::norm(exact);
    }
    EXPECT_LT(std::sqrt(error / norm), 1e-6);
  }
}

TEST(SpecUneven, OnAnEvenlySpacedRecordAgreesWithTheEvenlySpacedEngine) {
  struct Case { int pad; Noise noise; Estimate estimate; bool exact_concentrations; };
  for (const Case c : {Case{1, Noise::white, Estimate::adaptive, false},
                       Case{2, Noise::local, Estimate::hires, false},
                       Case{1, Noise::local, Estimate::adaptive, true},
                       Case{2, Noise::white, Estimate::hires, true}}) {
    SCOPED_TRACE(testing::Message() << "pad " << c.pad << " noise " << static_cast<int>(c.noise)
                                    << " estimate " << static_cast<int>(c.estimate));
    Record r = jittered(1024, 2.0, 1, {0.3});
    for (std::size_t j = 0; j < r.time.size(); ++j) r.time[j] = 1e6 + 0.25 * static_cast<double>(j);
    SpecSettings s = settings_for(r);
    s.nwin = 5, s.p = 3, s.pad = c.pad, s.noise = c.noise, s.estimate = c.estimate;
    s.exact_concentrations = c.exact_concentrations;
    SpecResults even, uneven;
    ASSERT_TRUE(spec(r.y, s, even).ok);
    ASSERT_TRUE(spec_uneven(r.time, r.y, s, uneven).ok);
    ASSERT_EQ(even.nf, uneven.nf);
    EXPECT_EQ(even.nbw, uneven.nbw);
    for (int i = 0; i < even.nf - 1; ++i) {
      EXPECT_NEAR(uneven.specraw0[i], even.specraw0[i], 1e-5 * even.specraw0[i]) << i;
      EXPECT_NEAR(uneven.ftest[i], even.ftest[i], 1e-5 * (1.0f + even.ftest[i])) << i;
      EXPECT_NEAR(uneven.specback0[i], even.specback0[i], 1e-5 * even.specback0[i]) << i;
    }
  }
}

TEST(SpecUneven, FindsLinesUpToTheTopOfTheBandThatTheMeanStepSmearsAway) {
  const std::vector<double> lines = {0.06, 0.23, 0.46};
  constexpr int kRecords = 10;
  int found = 0, found_at_mean_step = 0;
  double false_alarms = 0.0, entries = 0.0;
  for (int n = 0; n < kRecords; ++n) {
    const Record r = jittered(1000, 2.0, 100 + n, lines);
    SpecSettings s = settings_for(r);
    s.median_bias_correction = true;  // levels of the mean, not of the median
    SpecSettings mean_step = s;
    mean_step.dt = static_cast<float>((r.time.back() - r.time.front()) / 999.0);
    mean_step.fmax = 0.5f / mean_step.dt;
    SpecResults uneven, even;
    ASSERT_TRUE(spec_uneven(r.time, r.y, s, uneven).ok);
    ASSERT_TRUE(spec(r.y, mean_step, even).ok);
    // The line at the top of the band, at 99 % within half a bandwidth.
    auto detected = [](const SpecResults& results, double f) {
      const PeakList peaks = findpeaks(Signal::both, results);
      for (std::size_t i = 0; i < peaks.sigfreq.size(); ++i) {
        if (std::fabs(peaks.sigfreq[i] - f) <= results.nbw * results.df / 2 && peaks.sigpct[i] >= 99.0f) return true;
      }
      return false;
    };
    for (double f : lines) found += detected(uneven, f);
    found_at_mean_step += detected(even, lines.back());
    // Entries of the upper half of the band, where uneven steps change the
    // red-noise spectrum most, farther than a bandwidth from every line,
    // above the 99 % level.
    for (int i = (uneven.nf - 1) / 2; i < uneven.nf - 1; ++i) {
      const double f = uneven.f0 + i * uneven.df;
      if (std::none_of(lines.begin(), lines.end(), [&](double g) { return std::fabs(f - g) < uneven.nbw * uneven.df; })) {
        entries += 1.0;
        false_alarms += uneven.specraw0[i] > uneven.specback0[i] * uneven.conf[3];
      }
    }
  }
  EXPECT_EQ(found, 3 * kRecords);
  EXPECT_LE(found_at_mean_step, kRecords / 2);
  EXPECT_LT(false_alarms / entries, 0.02);
}

TEST(SpecUneven, ACycleLeavesTheFittedBackgroundUnderTheRestOfTheBand) {
  // Times jittered by up to 0.3 steps, a cycle of period 52 in white noise.
  Record r{std::vector<double>(2000), std::vector<float>(2000)};
  RandomStream random(8, 1);
  for (std::size_t j = 0; j < r.time.size(); ++j) {
    r.time[j] = static_cast<double>(j) + 0.6 * (random.uniform() - 0.5);
    r.y[j] = static_cast<float>(3.0 * std::sin(kTwoPi * r.time[j] / 52.0) + random.normal());
  }
  for (Background background : {Background::robust, Background::raw}) {
    SCOPED_TRACE(background == Background::robust ? "robust background" : "raw background");
    SpecSettings s = settings_for(r);
    s.background = background;
    SpecResults out;
    ASSERT_TRUE(spec_uneven(r.time, r.y, s, out).ok);
    // The cycle lengthens the persistence seen in the time domain; the fit
    // to the spectrum passes over its line.
    EXPECT_GT(out.rho0, 0.5f);
    EXPECT_LT(out.rho, 0.1f);
    // Away from the line, up to 0.25: above that the jitter spreads a share
    // 1 - sinc^2(0.6 f) of the cycle's own power over the band (a third of
    // the noise level at 0.375), which is in the spectrum, not in the noise.
    double above = 0.0, entries = 0.0;
    for (int i = 0; i < out.nf - 1; ++i) {
      const double f = out.f0 + i * out.df;
      if (std::fabs(f - 1.0 / 52.0) <= out.nbw * out.df || f > 0.25) continue;
      entries += 1.0;
      above += out.specraw0[i] > out.specback0[i] * out.conf[3];
    }
    EXPECT_LE(above / entries, 0.02);
  }
}

TEST(SpecUneven, MonteCarloLevelsHoldTheirFalseAlarmRatesOnUnevenRedNoise) {
#ifdef QUORVANE_SANITIZED
  constexpr int kRecords = 20;
#else
  constexpr int kRecords = 200;
#endif
  double exceeded = 0.0, entries = 0.0;
  int band_wide = 0;
  for (int n = 0; n < kRecords; ++n) {
    const Record r = jittered(256, 3.0, 1000 + n);
    SpecSettings s = settings_for(r);
    s.surrogates = 99, s.seed = 77 + n, s.jobs = 2;
    SpecResults out;
    ASSERT_TRUE(spec_uneven(r.time, r.y, s, out).ok);
    float largest = 0.0f;
    for (int i = 0; i < out.nf - 1; ++i) {
      const float ratio = out.specraw0[i] / out.specback0[i];
      largest = std::max(largest, ratio);
      exceeded += ratio > out.montecarlo_conf[2][i];
      entries += 1.0;
    }
    band_wide += largest > out.global_conf[0];
  }
  EXPECT_NEAR(exceeded / entries, 0.05, kRecords < 100 ? 0.03 : 0.0125);
  EXPECT_LE(band_wide, kRecords < 100 ? 3 : kRecords / 20 + 3);
}

TEST(PersistenceTime, RecoversTheTauOfUnevenRedNoise) {
  for (double tau : {1.0, 3.0}) {
    double total = 0.0;
    constexpr int kRecords = 200;
    for (int n = 0; n < kRecords; ++n) {
      Record r = jittered(400, tau, 5000 + n);
      for (float& v : r.y) v = 10.0f + 2.0f * v;  // standardised first
      double estimate = -1.0;
      ASSERT_TRUE(persistence_time(r.time, r.y, estimate).ok);
      total += estimate;
    }
    // Standard errors of the mean are near 1.5 % of tau here.
    EXPECT_NEAR(total / kRecords, tau, 0.05 * tau);
  }
}

TEST(SpecUneven, RefusesTimesThatDoNotIncreaseNamingTheTwoTimes) {
  Record r = jittered(64, 2.0, 9);
  const SpecSettings s = settings_for(r);
  SpecResults out;
  r.time[40] = r.time[39];
  const Status repeated = spec_uneven(r.time, r.y, s, out);
  EXPECT_EQ(repeated.message.find("Time 41 ("), 0u) << repeated.message;
  double tau = -1.0;
  EXPECT_FALSE(persistence_time(r.time, r.y, tau).ok);
  EXPECT_FALSE(persistence_time(std::span(r.time).first(9), std::span(r.y).first(9), tau).ok);
  EXPECT_EQ(tau, -1.0);
  EXPECT_EQ(out.nf, 0);
}

}  // namespace
}  // namespace quorvane::spectral
