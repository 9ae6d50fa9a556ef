#include "spectral/estimators/even.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <numeric>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "spectral/estimators/gaps.h"
#include "spectral/stages/peaks.h"
#include "tests/spectral/spectral_test_support.h"

namespace quorvane::spectral {
namespace {

constexpr double kPi = 3.14159265358979323846;

using test_support::settings_for;

std::vector<float> white_noise(int n, float sigma, unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<float> normal(0.0f, sigma);
  std::vector<float> y(static_cast<std::size_t>(n));
  for (float& v : y) v = normal(gen);
  return y;
}

std::vector<float> ar1_series(int n, float coefficient, unsigned seed) {
  std::vector<float> y = white_noise(n + 200, 1.0f, seed);
  for (std::size_t t = 1; t < y.size(); ++t) y[t] += coefficient * y[t - 1];
  return std::vector<float>(y.begin() + 200, y.end());  // past the start-up
}

bool all_finite(const SpecResults& r) {
  std::vector<float> all = {r.s0raw, r.s0, r.rho0, r.rho, r.tau0, r.tau};
  for (const auto* v : {&r.specraw0, &r.specmed0, &r.specresh0, &r.harmonic0, &r.specback0, &r.ftest}) {
    all.insert(all.end(), v->begin(), v->end());
  }
  return std::all_of(all.begin(), all.end(), [](float x) { return std::isfinite(x); });
}

// Whether the list holds a peak within `tolerance` of f at the given level.
bool has_peak(const PeakList& peaks, float f, float tolerance, float pct) {
  for (std::size_t i = 0; i < peaks.sigfreq.size(); ++i) {
    if (std::fabs(peaks.sigfreq[i] - f) <= tolerance && peaks.sigpct[i] == pct) return true;
  }
  return false;
}

std::vector<float> sinusoid_in_noise(std::initializer_list<int> bins, unsigned seed) {
  std::vector<float> y = white_noise(1000, 0.1f, seed);
  for (int bin : bins) {  // unit amplitude on transform bin `bin` of 1024
    for (std::size_t t = 0; t < y.size(); ++t) {
      y[t] += static_cast<float>(std::cos(2.0 * kPi * bin * static_cast<double>(t) / 1024.0 + 0.3));
    }
  }
  return y;
}

TEST(FrequencyGrid, TransformLengthBandAndBandwidthFollowTheLengthStepPaddingAndLimits) {
  // The transform is the next power of two, but at least 1024, times the
  // padding; fmin = 0.1 starts at the first bin at or above it. The
  // bandwidth in bins is int(2 p nfft / npts).
  for (const auto& [npts, dt, fmin, pad, nfft, i0, nbw] :
       {std::tuple{1000, 1.0f, 0.0f, 1, 1024, 0, 4}, {1025, 1.0f, 0.0f, 1, 2048, 0, 7},
        {20, 1.0f, 0.0f, 1, 1024, 0, 204}, {65536, 1.0f, 0.0f, 1, 65536, 0, 4},
        {65537, 1.0f, 0.0f, 1, 131072, 0, 7},  // the length the engine once stopped at
        {1000, 1.0f, 0.1f, 1, 1024, 102, 4}, {300, 1.0f / 12.0f, 0.0f, 1, 1024, 0, 13},
        {1000, 1.0f, 0.0f, 2, 2048, 0, 8}, {100, 1.0f, 0.0f, 8, 1024, 0, 40},
        {5000, 1.0f, 0.0f, 4, 32768, 0, 26}}) {
    SCOPED_TRACE(testing::Message() << "npts " << npts << " dt " << dt << " fmin " << fmin
                                    << " pad " << pad);
    SpecSettings s = settings_for(npts, dt);
    s.fmin = fmin;
    s.pad = pad;
    SpecResults r;
    ASSERT_TRUE(spec(white_noise(npts, 1.0f, 1), s, r));
    EXPECT_EQ(r.df, 1.0f / (static_cast<float>(nfft) * dt));
    EXPECT_EQ(r.f0, static_cast<float>(i0) * r.df);
    EXPECT_EQ(r.nf, nfft / 2 - i0 + 1);  // up to the Nyquist frequency
    EXPECT_EQ(r.nbw, nbw);
    EXPECT_TRUE(all_finite(r));
    EXPECT_GT(r.specraw0[static_cast<std::size_t>(r.nf - 2)], 0.0f);
    EXPECT_EQ(r.specraw0[static_cast<std::size_t>(r.nf - 1)], 0.0f);  // the last entry is never filled
  }
}

TEST(Estimates, WhiteNoiseBandMeanIsItsVarianceOnTheChosenScale) {
  const int n = 4000;
  const std::vector<float> y = white_noise(n, 2.0f, 7);
  // Variance 4: the band mean is 4 N unnormalised, 4 / N normalised by N,
  // and 4 N dt^2 normalised by 1/dt.
  for (const auto& [normalize, dt, level] :
       {std::tuple{Normalize::none, 1.0f, 4.0f * n}, {Normalize::n, 1.0f, 4.0f / n},
        {Normalize::dt, 0.5f, 4.0f * n * 0.25f}}) {
    for (Estimate estimate : {Estimate::hires, Estimate::adaptive}) {
      SpecSettings s = settings_for(n, dt);
      s.normalize = normalize;
      s.estimate = estimate;
      SpecResults r;
      ASSERT_TRUE(spec(y, s, r));
      const double sum = std::accumulate(r.specraw0.begin(), r.specraw0.end() - 1, 0.0);
      const float mean = static_cast<float>(sum / (r.nf - 1));
      EXPECT_NEAR(mean, level, 0.1f * level) << "normalize " << static_cast<int>(normalize)
                                         << " estimate " << static_cast<int>(estimate);
      EXPECT_NEAR(r.s0raw, mean, 1e-3f * r.s0raw);
    }
  }
}

TEST(HarmonicLines, SinusoidOnABinIsDetectedAt99PercentWithALargeF) {
  const SpecSettings s = settings_for(1000);
  SpecResults r;
  ASSERT_TRUE(spec(sinusoid_in_noise({100}, 10), s, r));
  EXPECT_GT(r.ftest[100], 10.0f * r.fconf[5]);
  // The spectrum of the line is flat across the bandwidth, so the
  // background-ratio search places it within half a bandwidth of the bin.
  EXPECT_TRUE(has_peak(findpeaks(s.signal, r), 100.0f / 1024.0f, (r.nbw / 2) / 1024.0f, 99.0f));
  // The F statistic peaks on the bin itself.
  EXPECT_TRUE(has_peak(findpeaks(Signal::harmonic, r), 100.0f / 1024.0f, 0.0f, 99.0f));
}

TEST(HarmonicLines, ReshapingBridgesTheLineAndMovesItsPowerIntoTheHarmonicSpectrum) {
  SpecSettings s = settings_for(1000);
  s.signal = Signal::harmonic;  // the background is then the reshaped spectrum
  SpecResults r;
  ASSERT_TRUE(spec(sinusoid_in_noise({200, 3}, 11), s, r));
  const int e = 200;  // entry of the line at bin 200
  const int lo = e - r.nbw / 2, hi = e + r.nbw / 2;
  auto at = [](const std::vector<float>& v, int entry) { return v[static_cast<std::size_t>(entry)]; };
  const float bridge = (at(r.specraw0, lo - 1) + at(r.specraw0, hi + 1)) / 2.0f;
  EXPECT_LT(bridge, 1e-2f * at(r.specraw0, e));
  float line_power = 0.0f;
  for (int j = lo; j <= hi; ++j) {
    EXPECT_EQ(at(r.specresh0, j), bridge) << j;
    line_power += at(r.specraw0, j);
  }
  // nray = int(1024 / 1000) = 1: the line power gathers within one entry of the line.
  const float harmonic_power = at(r.harmonic0, e - 1) + at(r.harmonic0, e) + at(r.harmonic0, e + 1);
  EXPECT_NEAR(harmonic_power, line_power, 1e-5f * line_power);
  EXPECT_EQ(at(r.specresh0, 400), at(r.specraw0, 400));  // away from the line nothing changes
  EXPECT_EQ(at(r.harmonic0, 400), at(r.specraw0, 400));
  // Entries 1..nbw are never bridged, so the line at bin 3 stays.
  for (int i = 0; i < r.nbw; ++i) EXPECT_EQ(at(r.specresh0, i), at(r.specraw0, i)) << i;
  for (int i = 0; i < r.nf - 1; ++i) ASSERT_EQ(at(r.specback0, i), at(r.specresh0, i)) << i;
}

// The levels of a run against published percent points: chi-square with 2K
// degrees of freedom over 2K for the spectrum, F with 2 and 2K - 2 for the
// F-test, and the bridged width of reshaping: the bandwidth 2P/(N dt) in bins.
TEST(Levels, RatiosAndBridgeWidthFollowTheTapersAndTheResolution) {
  struct Case {
    int nwin;
    int p;
    std::array<double, 4> chi2;  // chi-square percent points at 50, 90, 95, 99 % for 2K
  };
  for (const Case& c : {Case{2, 2, {3.356694, 7.779440, 9.487729, 13.276704}},
                        Case{3, 2, {5.348121, 10.644641, 12.591587, 16.811894}},
                        Case{5, 3, {9.341818, 15.987179, 18.307038, 23.209251}}}) {
    SCOPED_TRACE(testing::Message() << "K " << c.nwin);
    SpecSettings s = settings_for(1000);
    s.nwin = c.nwin;
    s.p = c.p;
    s.signal = Signal::harmonic;
    SpecResults r;
    ASSERT_TRUE(spec(sinusoid_in_noise({200}, 11), s, r));
    const double nu = 2.0 * c.nwin;
    for (std::size_t j = 0; j < 4; ++j) EXPECT_NEAR(r.conf[j], c.chi2[j] / nu, 2e-5 * c.chi2[j]) << j;
    // F with 2 and 2K - 2 degrees of freedom: (K - 1) ((1 - q)^(-1/(K - 1)) - 1).
    const double levels[6] = {0.5, 0.9, 0.95, 0.99, 0.995, 0.999};
    for (std::size_t j = 0; j < 6; ++j) {
      const double f = (c.nwin - 1) * (std::pow(1.0 - levels[j], -1.0 / (c.nwin - 1)) - 1.0);
      EXPECT_NEAR(r.fconf[j], f, 2e-3 * f) << levels[j];
    }
    // 1000 values padded to 1024 bins: the bandwidth spans 2P 1024 / 1000 bins,
    // and reshaping bridges that many entries (one less when even) about the line.
    const int bins = static_cast<int>(2.0 * c.p * 1024.0 / 1000.0);
    EXPECT_EQ(r.nbw, bins);
    int bridged = 0;
    for (int e = 190; e < 211; ++e) {
      const auto i = static_cast<std::size_t>(e);
      bridged += r.specresh0[i] != r.specraw0[i];
    }
    EXPECT_EQ(bridged, bins / 2 * 2 + 1);
  }
}

TEST(HarmonicLines, OneTaperRunsWithoutFTestOrReshaping) {
  SpecSettings s = settings_for(1000);
  s.nwin = 1;
  SpecResults r;
  ASSERT_TRUE(spec(sinusoid_in_noise({100}, 14), s, r));
  EXPECT_TRUE(all_finite(r));
  for (std::size_t i = 0; i + 1 < static_cast<std::size_t>(r.nf); ++i) {
    ASSERT_EQ(r.ftest[i], 0.0f);
    ASSERT_EQ(r.specresh0[i], r.specraw0[i]);
    ASSERT_EQ(r.harmonic0[i], r.specraw0[i]);
  }
  EXPECT_TRUE(findpeaks(Signal::harmonic, r).sigfreq.empty());
  EXPECT_FALSE(findpeaks(Signal::both, r).sigfreq.empty());  // the line still stands out
}

TEST(Background, Ar1SeriesGivesItsCoefficientAndDecorrelationTime) {
  SpecResults r;  // dt = 1
  ASSERT_TRUE(spec(ar1_series(8000, 0.5f, 15), settings_for(8000), r));
  EXPECT_NEAR(r.rho, 0.5f, 0.05f);
  EXPECT_NEAR(r.rho0, 0.5f, 0.03f);
  EXPECT_NEAR(r.tau, 1.0f / std::log(2.0f), 0.2f);
  EXPECT_NEAR(r.tau0, -1.0f / std::log(r.rho0), 1e-4f);
  // The background follows the AR(1) shape: high at low frequencies.
  EXPECT_GT(r.specback0[10], 5.0f * r.specback0[static_cast<std::size_t>(r.nf - 3)]);
  // Under the white-noise hypothesis the raw background is flat at the band mean.
  SpecSettings s = settings_for(8000);
  s.noise = Noise::white;
  s.background = Background::raw;
  ASSERT_TRUE(spec(ar1_series(8000, 0.5f, 15), s, r));
  EXPECT_EQ(r.rho0, 0.0f);
  EXPECT_EQ(r.tau0, 1e16f);
  for (std::size_t i = 0; i + 1 < static_cast<std::size_t>(r.nf); ++i) ASSERT_EQ(r.specback0[i], r.s0raw);
}

// The same record in other units: the coefficient and the peaks stay and
// the background scales with the spectrum, under either misfit, from levels
// far below any fixed floor to those where a linear misfit's squares overflow.
TEST(Background, FitDoesNotDependOnTheUnitsOfTheData) {
  std::vector<float> y = ar1_series(1000, 0.7f, 21);
  for (std::size_t t = 0; t < y.size(); ++t) y[t] += 2.0f * static_cast<float>(std::sin(0.6 * t));
  for (Fit fit : {Fit::linear, Fit::log}) {
    const int ilogfit = static_cast<int>(fit);
    SpecSettings s = settings_for(1000);
    s.fit = fit;
    SpecResults base, r;
    ASSERT_TRUE(spec(y, s, base));
    const PeakList base_peaks = findpeaks(s.signal, base);
    ASSERT_FALSE(base_peaks.sigfreq.empty());
    for (double scale : {1e-15, 1e-9, 1e6, 1e12}) {
      std::vector<float> scaled(y.size());
      for (std::size_t t = 0; t < y.size(); ++t) scaled[t] = static_cast<float>(y[t] * scale);
      ASSERT_TRUE(spec(scaled, s, r));
      EXPECT_EQ(r.rho, base.rho) << "ilogfit " << ilogfit << " scale " << scale;
      const PeakList peaks = findpeaks(s.signal, r);
      EXPECT_EQ(peaks.sigfreq, base_peaks.sigfreq) << "ilogfit " << ilogfit << " scale " << scale;
      EXPECT_EQ(peaks.sigpct, base_peaks.sigpct) << "ilogfit " << ilogfit << " scale " << scale;
      for (std::size_t i = 0; i + 1 < static_cast<std::size_t>(r.nf); i += 50) {
        EXPECT_NEAR(r.specback0[i] / (scale * scale), base.specback0[i], 1e-4 * base.specback0[i]);
      }
    }
  }
}

// An AR(1) spectrum depends on f dt alone, and the raw background takes its
// level from the whole band, as the lag-one coefficient is taken from the
// whole series: a band short of 0 or of the Nyquist frequency gives the raw
// background of the full band at the frequencies they share, for either
// estimate and for a record with a gap. The robust fit to a part of the band
// finds the coefficient of the full band.
TEST(Background, Ar1ShapeFollowsTheSamplingStepWhateverTheBand) {
  const std::vector<float> y = ar1_series(4096, 0.7f, 16);
  std::vector<std::int64_t> index;
  std::vector<float> present;
  for (int t = 0; t < 4096; ++t) {
    if (t < 1000 || t >= 1300) {
      index.push_back(t);
      present.push_back(y[static_cast<std::size_t>(t)]);
    }
  }
  const auto run = [&](bool gaps, const SpecSettings& s, SpecResults& r) {
    return gaps ? spec_gaps(index, present, s, r) : spec(y, s, r);
  };
  const std::pair<float, float> bands[] = {{0.0f, 0.25f}, {0.1f, 0.3f}};
  for (bool gaps : {false, true}) {
    for (Estimate estimate : {Estimate::hires, Estimate::adaptive}) {
      const bool iadapt = estimate == Estimate::adaptive;
      SpecSettings full = settings_for(4096);
      full.background = Background::raw;
      full.estimate = estimate;
      SpecResults a, b;
      ASSERT_TRUE(run(gaps, full, a));
      for (const auto& [fmin, fmax] : bands) {
        SpecSettings part = full;
        part.fmin = fmin;
        part.fmax = fmax;
        ASSERT_TRUE(run(gaps, part, b));
        const std::size_t shift = static_cast<std::size_t>(std::lround(b.f0 / a.df));
        for (std::size_t i = 0; i + 1 < static_cast<std::size_t>(b.nf); ++i) {
          ASSERT_NEAR(b.specback0[i] / a.specback0[i + shift], 1.0f, 2e-6f)
              << "gaps " << gaps << " iadapt " << iadapt << " band from " << fmin << " entry " << i;
        }
      }
    }
  }
  SpecSettings full = settings_for(4096);
  SpecSettings half = full;
  half.fmax = 0.25f;
  SpecResults a, b;
  ASSERT_TRUE(spec(y, full, a));
  ASSERT_TRUE(spec(y, half, b));
  EXPECT_NEAR(b.rho, a.rho, 0.02f);
}

TEST(Background, ConstantAndAlternatingSeriesGiveFiniteResultsUnderEveryOption) {
  // A constant series has no variance; the alternating one has lag
  // correlation -1, which makes the raw AR(1) background 0/0 at the top of the band.
  std::vector<float> alternating(1024);
  for (std::size_t t = 0; t < alternating.size(); ++t) alternating[t] = t % 2 == 0 ? 1.0f : -1.0f;
  for (const std::vector<float>& y : {std::vector<float>(500, 3.25f), alternating}) {
    const bool constant = y.size() == 500;
    for (int option = 0; option < 24; ++option) {
      SpecSettings s = settings_for(static_cast<int>(y.size()));
      s.noise = static_cast<Noise>(option % 3);
      s.background = static_cast<Background>(option / 3 % 2);
      s.estimate = static_cast<Estimate>(option / 6 % 2);
      s.signal = option < 12 ? Signal::both : Signal::harmonic;
      SpecResults r;
      ASSERT_TRUE(spec(y, s, r));
      EXPECT_TRUE(all_finite(r)) << "constant " << constant << " option " << option;
      const PeakList peaks = findpeaks(s.signal, r);
      if (constant) {
        EXPECT_EQ(r.tau0, 1e16f);
        EXPECT_TRUE(peaks.sigfreq.empty()) << option;
      } else if (s.noise == Noise::red) {
        EXPECT_EQ(r.rho0, -1.0f);
      }
    }
  }
}

TEST(CheckSpec, RefusesEachImpossibleSettingWithOnePlainLine) {
  const std::pair<void (*)(SpecSettings&), const char*> cases[] = {
      {[](SpecSettings& s) { s.npts = 1; }, "The series has 1 value; at least 2 are needed for a spectrum."},
      {[](SpecSettings& s) { s.npts = 0; }, "The series has 0 values; at least 2 are needed for a spectrum."},
      {[](SpecSettings& s) { s.npts = (1 << 30) + 1; },
       "The series has 1073741825 values; the spectrum engine takes at most 1073741824."},
      {[](SpecSettings& s) { s.dt = 0.0f; }, "The sampling interval must be positive (it is 0)."},
      {[](SpecSettings& s) { s.dt = 1e36f; },
       "The sampling interval 1e+36 is too large or too small for a spectrum."},
      {[](SpecSettings& s) { s.nwin = 9; }, "The number of tapers must be between 1 and 8 (it is 9)."},
      {[](SpecSettings& s) { s.p = 0; }, "The resolution p must be positive (it is 0)."},
      {[](SpecSettings& s) { s.p = 500; },
       "The resolution p (500) must be below half the number of values (1000)."},
      {[](SpecSettings& s) { s.fmin = -0.1f; }, "The lower band limit must not be negative (it is -0.1)."},
      {[](SpecSettings& s) { s.fmin = 0.3f, s.fmax = 0.3f; },
       "The band is empty: fmin (0.3) must lie below fmax (0.3)."},
      {[](SpecSettings& s) { s.fmax = 0.6f; },
       "The upper band limit 0.6 lies above the Nyquist frequency 0.5."},
      {[](SpecSettings& s) { s.fmin = 0.1f, s.fmax = 0.1004f; },
       "The band from 0.1 to 0.1004 holds no frequency of the spectrum (spacing 0.000976562); widen it."},
      {[](SpecSettings& s) { s.fmax = 0.1f, s.fsmooth = 0.2f; },
       "The smoothing width 0.2 spans 204 frequencies, more than the 102 of the band; choose at most "
       "0.0996094."},
      {[](SpecSettings& s) { s.fsmooth = -0.01f; }, "The smoothing width must not be negative (it is -0.01)."},
      {[](SpecSettings& s) { s.isiglev = 7; },
       "The significance level index must be from 1 to 6 (it is 7)."},
      // Refinements that mean nothing (any message).
      {[](SpecSettings& s) { s.pad = 3; }, ""},
      {[](SpecSettings& s) { s.npts = 1 << 28, s.pad = 8; }, ""},  // beyond the largest transform
      {[](SpecSettings& s) { s.nwin = 1, s.jackknife = true; }, ""},
      {[](SpecSettings& s) { s.background = Background::raw, s.median_bias_correction = true; }, ""},  // no median
      {[](SpecSettings& s) { s.signal = Signal::harmonic, s.surrogates = 10; }, ""},  // Monte Carlo of harmonic
      {[](SpecSettings& s) { s.surrogates = -1; }, ""},
      {[](SpecSettings& s) { s.jobs = 0; }, ""},
  };
  const std::vector<float> y(70000, 1.0f);
  for (const auto& [change, message] : cases) {
    SpecSettings s = settings_for(1000);
    change(s);
    SpecResults r;  // spec refuses the same way and leaves the results alone
    r.nf = -7;
    const Status status = spec(y, s, r);
    EXPECT_FALSE(status.ok) << message;
    EXPECT_TRUE(*message ? status.message == message : !status.message.empty()) << status.message;
    if (*message) { EXPECT_EQ(check_spec(s).message, message); }
    EXPECT_EQ(r.nf, -7) << message;
  }
  // The locally-white background is the median itself, so the correction
  // applies there whatever the background option says.
  SpecSettings local = settings_for(1000);
  local.background = Background::raw, local.noise = Noise::local;
  local.median_bias_correction = true;
  SpecResults accepted;
  EXPECT_TRUE(spec(y, local, accepted));
  // The smoothing width matters only for the median.
  SpecSettings s = settings_for(65536);
  s.background = Background::raw;
  s.fsmooth = 10.0f;
  EXPECT_TRUE(check_spec(s));
  // Values spec cannot take.
  std::vector<float> y_nan = white_noise(100, 1.0f, 18);
  y_nan[41] = std::nanf("");
  SpecResults r;
  EXPECT_EQ(spec(y_nan, settings_for(100), r).message, "Value 42 of the series is not a finite number.");
  EXPECT_EQ(spec(white_noise(100, 1e30f, 20), settings_for(100), r).message,
            "The spectrum of this series exceeds the single-precision range; rescale the values.");
  EXPECT_EQ(r.nf, 0);  // untouched
}

}  // namespace
}  // namespace quorvane::spectral
