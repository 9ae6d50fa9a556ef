#include "spectral/spectrum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "spectral/running_median.h"
#include "spectral/tapers.h"

namespace quorvane::spectral {
namespace {

constexpr double kPi = 3.14159265358979323846;

SpecSettings settings_for(int npts, float dt = 1.0f) {
  SpecSettings s;
  s.npts = npts;
  s.dt = dt;
  s.fmin = 0.0f;
  s.fmax = 0.5f / dt;
  s.fsmooth = std::max(s.fmax / 5.0f, 4.0f / (static_cast<float>(npts) * dt));
  return s;
}

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

float band_mean(const std::vector<float>& s, int nf) {
  double total = 0.0;
  for (int i = 0; i < nf - 1; ++i) total += s[static_cast<std::size_t>(i)];
  return static_cast<float>(total / (nf - 1));
}

bool all_finite(const SpecResults& r) {
  for (const std::vector<float>* v :
       {&r.specraw0, &r.specmed0, &r.specresh0, &r.harmonic0, &r.specback0, &r.ftest}) {
    for (float x : *v) {
      if (!std::isfinite(x)) return false;
    }
  }
  for (float x : {r.s0raw, r.s0, r.rho0, r.rho, r.tau0, r.tau}) {
    if (!std::isfinite(x)) return false;
  }
  return true;
}

// --- Frequency grid -------------------------------------------------------

TEST(FrequencyGrid, ThousandValuesGiveA1024PointTransformAnd513Entries) {
  const std::vector<float> y = white_noise(1000, 1.0f, 1);
  SpecResults r;
  ASSERT_TRUE(spec(y, settings_for(1000), r));
  EXPECT_EQ(r.nf, 513);
  EXPECT_EQ(r.df, 1.0f / 1024.0f);
  EXPECT_EQ(r.f0, 0.0f);
  EXPECT_EQ(r.nbw, 4);  // int(2 p nfft / npts) = int(4.096)
  EXPECT_GT(r.specraw0[511], 0.0f);
  EXPECT_EQ(r.specraw0[512], 0.0f);  // the Nyquist bin is never filled
}

TEST(FrequencyGrid, PaddedLengthIsTheNextPowerOfTwoButAtLeast1024) {
  SpecResults r;
  ASSERT_TRUE(spec(white_noise(1025, 1.0f, 2), settings_for(1025), r));
  EXPECT_EQ(r.df, 1.0f / 2048.0f);
  EXPECT_EQ(r.nf, 1025);
  ASSERT_TRUE(spec(white_noise(1024, 1.0f, 3), settings_for(1024), r));
  EXPECT_EQ(r.df, 1.0f / 1024.0f);
  ASSERT_TRUE(spec(white_noise(20, 1.0f, 4), settings_for(20), r));
  EXPECT_EQ(r.df, 1.0f / 1024.0f);
}

TEST(FrequencyGrid, LongestSeriesUsesThe65536PointTransform) {
  SpecSettings s = settings_for(65536);
  s.nwin = 2;
  SpecResults r;
  ASSERT_TRUE(spec(white_noise(65536, 1.0f, 19), s, r));
  EXPECT_EQ(r.df, 1.0f / 65536.0f);
  EXPECT_EQ(r.nf, 32769);
  EXPECT_TRUE(all_finite(r));
}

TEST(FrequencyGrid, LowerBandLimitSelectsTheFirstBinAtOrAboveIt) {
  SpecSettings s = settings_for(1000);
  s.fmin = 0.1f;
  SpecResults r;
  ASSERT_TRUE(spec(white_noise(1000, 1.0f, 5), s, r));
  EXPECT_EQ(r.f0, 102.0f / 1024.0f);  // i0 = 102
  EXPECT_EQ(r.nf, 512 - 102 + 1);
}

TEST(FrequencyGrid, SamplingIntervalScalesTheFrequencies) {
  SpecResults r;
  ASSERT_TRUE(spec(white_noise(500, 1.0f, 6), settings_for(500, 0.25f), r));
  EXPECT_EQ(r.df, 1.0f / (1024.0f * 0.25f));
  EXPECT_EQ(r.nf, 513);
}

// --- Estimates ------------------------------------------------------------

TEST(Estimates, WhiteNoiseNormalisedByNHasBandMeanNearVarianceOverN) {
  const int n = 4000;
  const std::vector<float> y = white_noise(n, 2.0f, 7);
  for (int iadapt : {0, 1}) {
    SpecSettings s = settings_for(n);
    s.inorm = 1;
    s.iadapt = iadapt;
    SpecResults r;
    ASSERT_TRUE(spec(y, s, r));
    EXPECT_NEAR(band_mean(r.specraw0, r.nf), 4.0f / n, 0.1f * 4.0f / n) << "iadapt " << iadapt;
    EXPECT_NEAR(r.s0raw, band_mean(r.specraw0, r.nf), 1e-3f * r.s0raw);
  }
}

TEST(Estimates, NormalisationByOneOverDtScalesTheSpectrumByDtSquared) {
  const std::vector<float> y = white_noise(600, 1.0f, 8);
  SpecSettings s = settings_for(600, 0.5f);
  SpecResults plain, scaled;
  s.inorm = 0;
  ASSERT_TRUE(spec(y, s, plain));
  s.inorm = 2;
  ASSERT_TRUE(spec(y, s, scaled));
  for (int i = 0; i < plain.nf - 1; i += 37) {
    EXPECT_NEAR(scaled.specraw0[static_cast<std::size_t>(i)],
                0.25f * plain.specraw0[static_cast<std::size_t>(i)],
                1e-5f * plain.specraw0[static_cast<std::size_t>(i)]);
  }
}

TEST(Estimates, WithOneTaperTheAdaptiveEstimateIsTheEigenspectrum) {
  const int n = 700;
  const std::vector<float> y = white_noise(n, 1.0f, 9);
  SpecSettings s = settings_for(n);
  s.nwin = 1;
  SpecResults adaptive, highres;
  s.iadapt = 1;
  ASSERT_TRUE(spec(y, s, adaptive));
  s.iadapt = 0;
  ASSERT_TRUE(spec(y, s, highres));
  // The high-resolution weight of a single taper is 1 / el.
  Tapers t;
  taper2(n, 1, 2.0f, t);
  for (int i = 0; i < adaptive.nf - 1; ++i) {
    const float eigenspectrum = static_cast<float>(highres.specraw0[static_cast<std::size_t>(i)] * t.el[0]);
    EXPECT_NEAR(adaptive.specraw0[static_cast<std::size_t>(i)], eigenspectrum, 1e-5f * eigenspectrum);
  }
}

// --- Harmonic F-test, reshaping and peaks -----------------------------------

struct LineCase {
  std::vector<float> y;
  int bin;  // transform bin of the line (nfft = 1024)
};

LineCase sinusoid_in_noise(int n, int bin, float amplitude, float sigma, unsigned seed) {
  LineCase c{white_noise(n, sigma, seed), bin};
  for (int t = 0; t < n; ++t) {
    c.y[static_cast<std::size_t>(t)] +=
        amplitude * static_cast<float>(std::cos(2.0 * kPi * bin * t / 1024.0 + 0.3));
  }
  return c;
}

TEST(HarmonicLines, SinusoidOnABinIsDetectedAt99PercentWithALargeF) {
  const LineCase c = sinusoid_in_noise(1000, 100, 1.0f, 0.1f, 10);
  const SpecSettings s = settings_for(1000);
  SpecResults r;
  ASSERT_TRUE(spec(c.y, s, r));
  EXPECT_GT(r.ftest[100], 10.0f * 61.25f);
  EXPECT_EQ(r.fconf[5], 61.25f);
  // The spectrum of the line is flat across the bandwidth, so the
  // background-ratio search places it within half a bandwidth of the bin.
  const PeakList peaks = findpeaks(r.f0, s.isignal, r);
  bool found = false;
  for (std::size_t i = 0; i < peaks.sigfreq.size(); ++i) {
    if (std::fabs(peaks.sigfreq[i] * 1024.0f - 100.0f) <= static_cast<float>(r.nbw / 2)) {
      found = true;
      EXPECT_EQ(peaks.sigpct[i], 99.0f);
    }
  }
  EXPECT_TRUE(found);
  // Under the harmonic assumption only the F-test decides, and it peaks on
  // the bin itself.
  const PeakList harmonic = findpeaks(r.f0, 2, r);
  ASSERT_FALSE(harmonic.sigfreq.empty());
  const auto line = std::find(harmonic.sigfreq.begin(), harmonic.sigfreq.end(), 100.0f / 1024.0f);
  ASSERT_NE(line, harmonic.sigfreq.end());
  EXPECT_EQ(harmonic.sigpct[static_cast<std::size_t>(line - harmonic.sigfreq.begin())], 99.0f);
}

TEST(HarmonicLines, ReshapingBridgesTheLineAndMovesItsPowerIntoTheHarmonicSpectrum) {
  const LineCase c = sinusoid_in_noise(1000, 200, 1.0f, 0.1f, 11);
  const SpecSettings s = settings_for(1000);
  SpecResults r;
  ASSERT_TRUE(spec(c.y, s, r));
  const int nbw = r.nbw;            // 4
  const int nray = 1024 / 1000;     // bins per Rayleigh frequency
  const int e = 201;                // 1-based entry of bin 200
  auto at = [](const std::vector<float>& v, int entry) { return v[static_cast<std::size_t>(entry - 1)]; };
  const int lo = e - nbw / 2, hi = e + nbw / 2;
  const float bridge = (at(r.specraw0, lo - 1) + at(r.specraw0, hi + 1)) / 2.0f;
  float line_power = 0.0f;
  for (int j = lo; j <= hi; ++j) {
    EXPECT_EQ(at(r.specresh0, j), bridge) << j;
    line_power += at(r.specraw0, j);
  }
  EXPECT_LT(bridge, 1e-2f * at(r.specraw0, e));
  const int lo2 = e - nray / 2 - 1, hi2 = e + nray / 2 + 1;
  float harmonic_power = 0.0f;
  for (int j = lo2; j <= hi2; ++j) harmonic_power += at(r.harmonic0, j);
  EXPECT_NEAR(harmonic_power, line_power, 1e-5f * line_power);
  // Away from the line nothing changes.
  EXPECT_EQ(at(r.specresh0, 400), at(r.specraw0, 400));
  EXPECT_EQ(at(r.harmonic0, 400), at(r.specraw0, 400));
}

TEST(HarmonicLines, EntriesBelowTheBandwidthAreNeverReshaped) {
  const LineCase c = sinusoid_in_noise(1000, 3, 1.0f, 0.1f, 12);
  SpecResults r;
  ASSERT_TRUE(spec(c.y, settings_for(1000), r));
  for (int i = 0; i < r.nbw - 1; ++i) {
    EXPECT_EQ(r.specresh0[static_cast<std::size_t>(i)], r.specraw0[static_cast<std::size_t>(i)]) << i;
  }
}

TEST(HarmonicLines, HarmonicAssumptionTakesTheReshapedSpectrumAsBackground) {
  const LineCase c = sinusoid_in_noise(1000, 300, 1.0f, 0.1f, 13);
  SpecSettings s = settings_for(1000);
  s.isignal = 2;
  SpecResults r;
  ASSERT_TRUE(spec(c.y, s, r));
  for (int i = 0; i < r.nf - 1; ++i) {
    ASSERT_EQ(r.specback0[static_cast<std::size_t>(i)], r.specresh0[static_cast<std::size_t>(i)]);
  }
  EXPECT_LT(r.specresh0[300], 1e-2f * r.specraw0[300]);
}

TEST(HarmonicLines, OneTaperHasNoFTestNoReshapingAndNoHarmonicPeaks) {
  const LineCase c = sinusoid_in_noise(1000, 100, 1.0f, 0.1f, 14);
  SpecSettings s = settings_for(1000);
  s.nwin = 1;
  SpecResults r;
  ASSERT_TRUE(spec(c.y, s, r));
  EXPECT_TRUE(all_finite(r));
  for (int i = 0; i < r.nf - 1; ++i) {
    const std::size_t u = static_cast<std::size_t>(i);
    ASSERT_EQ(r.ftest[u], 0.0f);
    ASSERT_EQ(r.specresh0[u], r.specraw0[u]);
    ASSERT_EQ(r.harmonic0[u], r.specraw0[u]);
  }
  EXPECT_TRUE(findpeaks(r.f0, 2, r).sigfreq.empty());
  EXPECT_FALSE(findpeaks(r.f0, 0, r).sigfreq.empty());  // the line still stands out
}

// --- Background -------------------------------------------------------------

TEST(Background, Ar1SeriesGivesItsCoefficientAndDecorrelationTime) {
  const std::vector<float> y = ar1_series(8000, 0.5f, 15);
  SpecResults r;
  ASSERT_TRUE(spec(y, settings_for(8000), r));
  EXPECT_NEAR(r.rho, 0.5f, 0.05f);
  EXPECT_NEAR(r.rho0, 0.5f, 0.03f);
  EXPECT_NEAR(r.tau, 1.0f / std::log(2.0f), 0.2f);
  EXPECT_NEAR(r.tau0, -1.0f / std::log(r.rho0), 1e-4f);
  // The background follows the AR(1) shape: high at low frequencies.
  EXPECT_GT(r.specback0[10], 5.0f * r.specback0[static_cast<std::size_t>(r.nf - 3)]);
}

TEST(Background, WhiteNoiseHypothesisWithRawBackgroundIsFlatAtTheBandMean) {
  SpecSettings s = settings_for(1000);
  s.inoise = 1;
  s.irobust = 0;
  SpecResults r;
  ASSERT_TRUE(spec(ar1_series(1000, 0.6f, 16), s, r));
  EXPECT_EQ(r.rho0, 0.0f);
  EXPECT_EQ(r.tau0, 1e16f);
  for (int i = 0; i < r.nf - 1; ++i) ASSERT_EQ(r.specback0[static_cast<std::size_t>(i)], r.s0raw);
}

TEST(Background, LocallyWhiteHypothesisUsesTheMedianAlsoWithTheRawBackground) {
  SpecSettings s = settings_for(1000);
  s.inoise = 2;
  s.irobust = 0;
  SpecResults r;
  ASSERT_TRUE(spec(ar1_series(1000, 0.6f, 17), s, r));
  const std::size_t nfv = static_cast<std::size_t>(r.nf - 1);
  std::vector<float> median(nfv);
  running_median(std::span<const float>(r.specraw0.data(), nfv),
                 static_cast<int>(s.fsmooth / r.df) / 2, median);
  for (std::size_t i = 0; i < nfv; ++i) {
    ASSERT_EQ(r.specmed0[i], median[i]);
    ASSERT_EQ(r.specback0[i], r.conf[0] * median[i]);
  }
}

TEST(Background, ConstantSeriesGivesFiniteResultsAndNoPeaks) {
  const std::vector<float> y(500, 3.25f);
  for (int inoise : {0, 1, 2}) {
    for (int irobust : {0, 1}) {
      for (int iadapt : {0, 1}) {
        for (int isignal : {0, 2}) {
          SpecSettings s = settings_for(500);
          s.inoise = inoise;
          s.irobust = irobust;
          s.iadapt = iadapt;
          s.isignal = isignal;
          SpecResults r;
          ASSERT_TRUE(spec(y, s, r));
          EXPECT_TRUE(all_finite(r)) << inoise << irobust << iadapt << isignal;
          EXPECT_EQ(r.tau0, 1e16f);
          EXPECT_TRUE(findpeaks(r.f0, isignal, r).sigfreq.empty());
        }
      }
    }
  }
}

TEST(Background, AlternatingSeriesWithLagCorrelationMinusOneStaysFinite) {
  // rho0 = -1 makes the raw AR(1) background 0/0 at the band's upper end.
  std::vector<float> y(1024);
  for (std::size_t t = 0; t < y.size(); ++t) y[t] = t % 2 == 0 ? 1.0f : -1.0f;
  SpecSettings s = settings_for(1024);
  s.irobust = 0;
  SpecResults r;
  ASSERT_TRUE(spec(y, s, r));
  EXPECT_EQ(r.rho0, -1.0f);
  EXPECT_TRUE(all_finite(r));
  findpeaks(r.f0, 0, r);
}

// --- Refused settings -------------------------------------------------------

TEST(CheckSpec, RefusesEachImpossibleSettingWithOnePlainLine) {
  struct Refusal {
    const char* what;
    SpecSettings settings;
    const char* message;
  };
  std::vector<Refusal> cases;
  auto add = [&](const char* what, auto change, const char* message) {
    SpecSettings s = settings_for(1000);
    change(s);
    cases.push_back({what, s, message});
  };
  add("one value", [](SpecSettings& s) { s.npts = 1; },
      " The series has 1 value; at least 2 are needed for a spectrum.");
  add("no value", [](SpecSettings& s) { s.npts = 0; },
      " The series has 0 values; at least 2 are needed for a spectrum.");
  add("too long", [](SpecSettings& s) { s.npts = 65537; },
      " The series has 65537 values; the spectrum engine takes at most 65536.");
  add("dt zero", [](SpecSettings& s) { s.dt = 0.0f; },
      " The sampling interval must be positive (it is 0).");
  add("dt negative", [](SpecSettings& s) { s.dt = -2.0f; },
      " The sampling interval must be positive (it is -2).");
  add("dt huge", [](SpecSettings& s) { s.dt = 1e36f; },
      " The sampling interval 1e+36 is too large or too small for a spectrum.");
  add("nwin 0", [](SpecSettings& s) { s.nwin = 0; },
      " The number of tapers must be between 1 and 8 (it is 0).");
  add("nwin 9", [](SpecSettings& s) { s.nwin = 9; },
      " The number of tapers must be between 1 and 8 (it is 9).");
  add("p 0", [](SpecSettings& s) { s.p = 0; }, " The resolution p must be positive (it is 0).");
  add("p too large", [](SpecSettings& s) { s.p = 500; },
      " The resolution p (500) must be below half the number of values (1000).");
  add("fmin negative", [](SpecSettings& s) { s.fmin = -0.1f; },
      " The lower band limit must not be negative (it is -0.1).");
  add("empty band", [](SpecSettings& s) { s.fmin = 0.3f, s.fmax = 0.3f; },
      " The band is empty: fmin (0.3) must lie below fmax (0.3).");
  add("above Nyquist", [](SpecSettings& s) { s.fmax = 0.6f; },
      " The upper band limit 0.6 lies above the Nyquist frequency 0.5.");
  add("no entry", [](SpecSettings& s) { s.fmin = 0.1f, s.fmax = 0.1004f; },
      " The band from 0.1 to 0.1004 holds no frequency of the spectrum (spacing 0.000976562); widen it.");
  add("smoothing too wide", [](SpecSettings& s) { s.fmax = 0.1f, s.fsmooth = 0.2f; },
      " The smoothing width 0.2 spans 204 frequencies, more than the 102 of the band; choose at most 0.0996094.");
  add("smoothing negative", [](SpecSettings& s) { s.fsmooth = -0.01f; },
      " The smoothing width must not be negative (it is -0.01).");
  add("bad option", [](SpecSettings& s) { s.isiglev = 7; },
      " An analysis option is outside its range (inoise 0, irobust 1, ilogfit 1, isignal 0, iadapt 1, isiglev 7).");
  for (const Refusal& c : cases) {
    const Status status = check_spec(c.settings);
    EXPECT_FALSE(status.ok) << c.what;
    EXPECT_EQ(status.message, c.message) << c.what;
    // spec refuses the same way and leaves the results alone.
    SpecResults r;
    r.nf = -7;
    const std::vector<float> y(70000, 1.0f);
    EXPECT_EQ(spec(y, c.settings, r).message, c.message) << c.what;
    EXPECT_EQ(r.nf, -7) << c.what;
  }
}

TEST(CheckSpec, AcceptsTheDefaultsAndTheNyquistLimitOfAnyTimeStep) {
  for (float dt : {1.0f, 0.1f, 1.0f / 12.0f, 0.3f, 7.0f}) {
    const SpecSettings s = settings_for(300, dt);
    EXPECT_TRUE(check_spec(s)) << dt << ": " << check_spec(s).message;
  }
  SpecSettings s = settings_for(65536);
  EXPECT_TRUE(check_spec(s));
  s.irobust = 0;  // the smoothing width matters only for the median
  s.fsmooth = 10.0f;
  EXPECT_TRUE(check_spec(s));
}

TEST(CheckSpec, SpecRefusesValuesThatAreNotNumbers) {
  std::vector<float> y = white_noise(100, 1.0f, 18);
  y[41] = std::nanf("");
  SpecResults r;
  EXPECT_EQ(spec(y, settings_for(100), r).message, " Value 42 of the series is not a finite number.");
}

TEST(CheckSpec, SpecRefusesASeriesWhoseSpectrumOverflowsSinglePrecision) {
  std::vector<float> y = white_noise(100, 1e30f, 20);
  SpecResults r;
  r.nf = -7;
  EXPECT_EQ(spec(y, settings_for(100), r).message,
            " The spectrum of this series exceeds the single-precision range; rescale the values.");
  EXPECT_EQ(r.nf, -7);
}

// --- The sunspot record -----------------------------------------------------

TEST(Sunspots, ElevenYearCycleAppearsAsTwo99PercentPeaks) {
  std::ifstream in(std::string(QUORVANE_SOURCE_DIR) + "/examples/sunspots.dat");
  ASSERT_TRUE(in);
  std::string line;
  std::getline(in, line);  // name
  std::getline(in, line);  // first year
  std::vector<float> y;
  for (float v; in >> v;) y.push_back(v);
  ASSERT_EQ(y.size(), 309u);

  const float bndwdth = 4.0f / 309.0f;
  SpecSettings s = settings_for(309);
  s.fsmooth = std::max(0.5f / 5.0f, bndwdth);
  SpecResults r;
  ASSERT_TRUE(spec(y, s, r));
  EXPECT_NEAR(r.rho, 0.805f, 0.0005f);
  const PeakList peaks = findpeaks(r.f0, s.isignal, r);
  ASSERT_FALSE(peaks.sigfreq.empty());
  std::vector<std::string> printed;
  for (std::size_t i = 0; i < peaks.sigfreq.size(); ++i) {
    char text[32];
    std::snprintf(text, sizeof text, "%9.4f %2.0f", static_cast<double>(peaks.sigfreq[i]),
                  static_cast<double>(peaks.sigpct[i]));
    printed.emplace_back(text);
  }
  EXPECT_NE(std::find(printed.begin(), printed.end(), "   0.0869 99"), printed.end());
  EXPECT_NE(std::find(printed.begin(), printed.end(), "   0.1006 99"), printed.end());
  EXPECT_LT(peaks.sigfreq.front(), bndwdth);  // a trend row
  EXPECT_TRUE(std::is_sorted(peaks.sigfreq.begin(), peaks.sigfreq.end()));
}

}  // namespace
}  // namespace quorvane::spectral
