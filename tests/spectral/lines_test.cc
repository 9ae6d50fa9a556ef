#include "spectral/stages/lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <utility>
#include <random>
#include <span>
#include <vector>

#include "spectral/estimators/gaps.h"
#include "spectral/stages/pipeline.h"
#include "spectral/stages/peaks.h"
#include "spectral/estimators/even.h"
#include "tests/spectral/spectral_test_support.h"

namespace quorvane::spectral {
namespace {

constexpr double kPi = 3.14159265358979323846;

using test_support::settings_for;

// amplitude cos(2 pi f t dt + 1) plus white noise of variance 1.
std::vector<float> sine_in_noise(int n, double f, float dt, double amplitude, unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<float> y(static_cast<std::size_t>(n));
  for (std::size_t t = 0; t < y.size(); ++t)
    y[t] = static_cast<float>(amplitude * std::cos(2.0 * kPi * f * static_cast<double>(t) * dt + 1.0) +
                              normal(gen));
  return y;
}

// The test ratio findpeaks judges entry i by.
float test_ratio(Signal signal, const SpecResults& r, std::size_t i) {
  return signal == Signal::harmonic ? r.ftest[i] : r.specraw0[i] / r.specback0[i];
}

TEST(LinePeaks, EveryPeakIsALocalMaximumAndAStrongLineIsListedAtItsMaximum) {
  // 30 cos(2 pi f t + 1) in unit white noise, 1000 values, for 40 line
  // frequencies between 0.2 and 0.21: on and between the bins.
  for (Signal signal : {Signal::both, Signal::harmonic}) {
    SpecSettings s = settings_for(1000, 1.0f);
    s.signal = signal;
    for (int j = 0; j < 40; ++j) {
      const double f = 0.2 + 0.01 * j / 39.0;
      SCOPED_TRACE(testing::Message() << "signal " << static_cast<int>(signal) << ", f " << f);
      SpecResults r;
      ASSERT_TRUE(spec(sine_in_noise(1000, f, 1.0f, 30.0, static_cast<unsigned>(j)), s, r));
      const PeakList peaks = findpeaks(signal, r);
      const std::size_t m = static_cast<std::size_t>(r.nf - 1);
      std::vector<long> listed;
      for (float p : peaks.sigfreq) {
        const long e = std::lround((p - r.f0) / r.df);
        listed.push_back(e);
        const float here = test_ratio(signal, r, static_cast<std::size_t>(e));
        if (e > 0) {
          EXPECT_GE(here, test_ratio(signal, r, static_cast<std::size_t>(e - 1))) << p;
        }
        if (static_cast<std::size_t>(e) + 1 < m) {
          EXPECT_GE(here, test_ratio(signal, r, static_cast<std::size_t>(e + 1))) << p;
        }
      }
      if (signal == Signal::harmonic) continue;  // F's largest value may lie anywhere in the band
      std::size_t top = 0;
      for (std::size_t i = 0; i < m; ++i)
        if (test_ratio(signal, r, i) > test_ratio(signal, r, top)) top = i;
      EXPECT_TRUE(std::any_of(listed.begin(), listed.end(), [&](long e) {
        return std::abs(e - static_cast<long>(top)) <= 1;
      })) << "largest ratio at " << r.f0 + static_cast<float>(top) * r.df;
    }
  }
}

// The lines of the peaks of one run on y (with the grid positions `index`
// of a record with gaps, or evenly spaced when empty), in peak order.
struct LineRun {
  SpecResults spectra;
  PeakList peaks;
  std::vector<LineEstimate> lines;
  std::vector<float> tapers;
};

// The record y (evenly spaced) as the settings s taper it, without its tapers.
TaperedRecord record_of(const std::vector<float>& y, const SpecSettings& s) {
  TaperedRecord record;
  record.values = y;
  record.npts = s.npts;
  record.nwin = s.nwin;
  record.p = s.p;
  record.dt = s.dt;
  record.norm = band_normalisation(s);
  return record;
}

LineRun run_lines(const std::vector<float>& y, const std::vector<std::int64_t>& index,
              const SpecSettings& s) {
  LineRun run;
  TaperedRecord record = record_of(y, s);
  RunTapers tapers;
  GapsPlan plan;
  if (index.empty()) {
    EXPECT_TRUE(spec_tapers(s, tapers));
    EXPECT_TRUE(spec(y, s, tapers, run.spectra));
    run.tapers = tapers.v;
  } else {
    EXPECT_TRUE(GapsPlan::make(index, s, plan));
    EXPECT_TRUE(plan.run(y, s, run.spectra));
    record.index = index;
    run.tapers = plan.tapers().v;
  }
  record.tapers = run.tapers;
  run.peaks = findpeaks(s.signal, run.spectra);
  run.lines = line_estimates(record, run.spectra, run.peaks.sigfreq);
  return run;
}

// The F statistic at frequency f by direct sums over the tapered record,
// in double precision.
double direct_F(const std::vector<float>& y, const std::vector<std::int64_t>& index,
                const LineRun& run, const SpecSettings& s, double f) {
  double mean = 0.0;
  for (float v : y) mean += v;
  mean /= static_cast<double>(y.size());
  const std::size_t k_count = static_cast<std::size_t>(s.nwin), n = static_cast<std::size_t>(s.npts);
  std::vector<std::complex<double>> coefficient(k_count);
  std::vector<double> tapsum(k_count, 0.0);
  for (std::size_t k = 0; k < k_count; ++k) {
    for (std::size_t t = 0; t < n; ++t) tapsum[k] += run.tapers[k * n + t];
    for (std::size_t j = 0; j < y.size(); ++j) {
      const std::size_t t = index.empty() ? j : static_cast<std::size_t>(index[j]);
      coefficient[k] += run.tapers[k * n + t] * (y[j] - mean) *
                        std::polar(1.0, -2.0 * kPi * f * static_cast<double>(t) * s.dt);
    }
  }
  std::complex<double> mu(0.0, 0.0);
  double ssq = 0.0, sse = 0.0;
  for (std::size_t k = 0; k < k_count; ++k) {
    mu += tapsum[k] * coefficient[k];
    ssq += tapsum[k] * tapsum[k];
  }
  mu /= ssq;
  for (std::size_t k = 0; k < k_count; ++k) sse += std::norm(coefficient[k] - tapsum[k] * mu);
  return std::norm(mu) * static_cast<double>(k_count - 1) * ssq / sse;
}

// The line of the peak nearest f.
LineEstimate line_near(const LineRun& run, double f) {
  LineEstimate best;
  double distance = 1e30;
  for (std::size_t i = 0; i < run.peaks.sigfreq.size(); ++i) {
    if (std::fabs(run.peaks.sigfreq[i] - f) < distance) {
      distance = std::fabs(run.peaks.sigfreq[i] - f);
      best = run.lines[i];
    }
  }
  return best;
}

TEST(LineEstimates, FindLinesBetweenTheBinsAtTheirFrequency) {
  // Monthly records of 50 years (Rayleigh frequency 0.02 cycles/yr; the
  // 1024-point transform's bins 0.0117 apart): 1 cycle/yr lies a third of a
  // bin off the grid, where the F-test of the grid misses it. With 15 %
  // missing, the record goes through the gap tapers.
  struct Case {
    double f, amplitude, missing;
  };
  const float dt = 1.0f / 12.0f;
  const int n = 600;
  const double rayleigh = 1.0 / (n * dt);
  for (const Case& c : {Case{1.0, 1.0, 0.0}, Case{1.0, 1.0, 0.15}, Case{2.5, 0.7, 0.0}}) {
    SCOPED_TRACE(testing::Message() << "f " << c.f << ", missing " << c.missing);
    std::vector<float> y = sine_in_noise(n, c.f, dt, c.amplitude, 7);
    std::vector<std::int64_t> index;
    if (c.missing > 0.0) {
      std::mt19937 gen(3);
      std::uniform_real_distribution<double> u(0.0, 1.0);
      std::vector<float> kept;
      for (int t = 0; t < n; ++t) {
        if (t > 0 && t < n - 1 && u(gen) < c.missing) continue;
        index.push_back(t);
        kept.push_back(y[static_cast<std::size_t>(t)]);
      }
      y = kept;
    }
    const LineRun run = run_lines(y, index, settings_for(n, dt));
    const LineEstimate line = line_near(run, c.f);
    EXPECT_NEAR(line.frequency, c.f, 0.1 * rayleigh);
    // F there is that of direct sums over the record, and a maximum.
    const SpecSettings s = settings_for(n, dt);
    const double F = direct_F(y, index, run, s, line.frequency);
    EXPECT_NEAR(line.F, F, 1e-4 * F);
    for (double side : {-1e-3, 1e-3})
      EXPECT_LE(direct_F(y, index, run, s, line.frequency + side * rayleigh), F * (1.0 + 1e-5));
    EXPECT_GE(line.significance, 99.0f);
    EXPECT_NEAR(line.significance, f_significance(line.F, 3), 1e-4f);
    EXPECT_GT(line.frequency_sd, 0.0f);
    EXPECT_LT(line.frequency_sd, 0.1 * rayleigh);
  }
}

TEST(LineEstimates, AgreeWithTheGridsFTestOnABinAndScatterAsTheirBound) {
  const float dt = 1.0f / 12.0f;
  const int n = 600;
  const double rayleigh = 1.0 / (n * dt);
  const SpecSettings s = settings_for(n, dt);
  // A line on bin 85: the search starts there and keeps it, with at least
  // the grid's F.
  const double bin = 85.0 * 12.0 / 1024.0;
  const LineRun on_bin = run_lines(sine_in_noise(n, bin, dt, 1.0, 11), {}, s);
  const LineEstimate line = line_near(on_bin, bin);
  EXPECT_NEAR(line.frequency, bin, 0.05 * rayleigh);
  EXPECT_GE(line.F, on_bin.spectra.ftest[85] * (1.0f - 1e-4f));

  // Over many records the frequencies scatter about the truth by about
  // their stated standard deviation (the bound, which the tapers' loss of
  // resolution may exceed somewhat).
  double sum_squares = 0.0, sum_sd = 0.0;
  const int records = 40;
  for (int seed = 0; seed < records; ++seed) {
    const LineRun run = run_lines(sine_in_noise(n, 1.0, dt, 1.0, 100 + static_cast<unsigned>(seed)), {}, s);
    const LineEstimate estimate = line_near(run, 1.0);
    sum_squares += (estimate.frequency - 1.0) * (estimate.frequency - 1.0);
    sum_sd += estimate.frequency_sd;
  }
  const double scatter = std::sqrt(sum_squares / records), stated = sum_sd / records;
  EXPECT_GT(scatter / stated, 0.7);
  EXPECT_LT(scatter / stated, 2.0);
}

// FNV-1a over the bits of every line's four values, in peak order.
std::uint64_t fingerprint(const std::vector<LineEstimate>& lines) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const LineEstimate& line : lines) {
    for (float v : {line.frequency, line.F, line.significance, line.frequency_sd}) {
      std::uint32_t bits = 0;
      std::memcpy(&bits, &v, sizeof bits);
      for (int byte = 0; byte < 4; ++byte) {
        hash = (hash ^ ((bits >> (8 * byte)) & 0xffu)) * 1099511628211ull;
      }
    }
  }
  return hash;
}

TEST(LineEstimates, KeepTheirBitsWhateverTheOrderOfEvaluation) {
  // The grid's evaluations may run side by side; every line must still be
  // the one of evaluating the frequencies one at a time in grid order (the
  // first of equal F values wins, and F's rounding decides ties). The
  // fingerprints are those of the one-at-a-time search, over records that
  // take every expansion length (short and long records, wide and narrow
  // bands, K from 2 to 8) and a record with gaps.
  struct Case {
    int n, nwin, p;
    double f, missing;
    std::uint64_t expected;
  };
  const Case cases[] = {
      {1024, 3, 2, 0.1234, 0.0, 0x54f97fb6dd347327ull},
      {600, 3, 2, 0.31, 0.15, 0x4ab2a5b020460be9ull},
      {5000, 7, 4, 0.0712, 0.0, 0x7caf7e6aecfec6e0ull},
      {300, 8, 5, 0.4, 0.0, 0x8da048936b4149b2ull},
      {2048, 2, 1, 0.25, 0.0, 0x5fdbab055722ca14ull},
      {100000, 3, 2, 0.01, 0.0, 0x4d71ac89e4e4a48bull},  // two threads
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "n " << c.n << ", K " << c.nwin << ", missing " << c.missing);
    SpecSettings s = settings_for(c.n);
    s.nwin = c.nwin;
    s.p = c.p;
    std::vector<float> y = sine_in_noise(c.n, c.f, 1.0f, 0.8, static_cast<unsigned>(c.n));
    std::vector<std::int64_t> index;
    if (c.missing > 0.0) {
      std::mt19937 gen(5);
      std::uniform_real_distribution<double> u(0.0, 1.0);
      std::vector<float> kept;
      for (int t = 0; t < c.n; ++t) {
        if (t > 0 && t < c.n - 1 && u(gen) < c.missing) continue;
        index.push_back(t);
        kept.push_back(y[static_cast<std::size_t>(t)]);
      }
      y = kept;
    }
    const LineRun run = run_lines(y, index, s);
    ASSERT_GE(run.lines.size(), 1u);
    EXPECT_EQ(fingerprint(run.lines), c.expected);
  }
}

TEST(LineEstimates, OfAPeakDoNotDependOnTheOtherPeaksSearchedInTheSameCall) {
  // The peaks of one call share work memory and what the grid's offsets
  // need: each line must be bit for bit the one of searching its peak
  // alone, in any order, for peaks inside the band and at its edges.
  for (const int nwin : {3, 6}) {
    SCOPED_TRACE(testing::Message() << "K " << nwin);
    SpecSettings s = settings_for(1024);
    s.nwin = nwin;
    s.p = nwin == 3 ? 2 : 4;
    std::vector<float> y = sine_in_noise(1024, 0.1234, 1.0f, 0.8, 3);
    const std::vector<float> second = sine_in_noise(1024, 0.3071, 1.0f, 0.5, 4);
    for (std::size_t t = 0; t < y.size(); ++t) y[t] += second[t];
    const LineRun run = run_lines(y, {}, s);
    TaperedRecord record = record_of(y, s);
    record.tapers = run.tapers;
    const std::vector<float> frequencies = {0.1234f, 0.0005f, 0.3071f, 0.4998f, 0.25f, 0.1234f};
    const std::vector<LineEstimate> together = line_estimates(record, run.spectra, frequencies);
    std::vector<float> reversed(frequencies.rbegin(), frequencies.rend());
    const std::vector<LineEstimate> backwards = line_estimates(record, run.spectra, reversed);
    ASSERT_EQ(together.size(), frequencies.size());
    for (std::size_t i = 0; i < frequencies.size(); ++i) {
      SCOPED_TRACE(testing::Message() << "peak " << frequencies[i]);
      const std::vector<LineEstimate> alone =
          line_estimates(record, run.spectra, std::span<const float>(&frequencies[i], 1));
      EXPECT_EQ(fingerprint(alone), fingerprint({together[i]}));
      EXPECT_EQ(fingerprint(alone), fingerprint({backwards[frequencies.size() - 1 - i]}));
      EXPECT_FALSE(std::isnan(together[i].frequency));
    }
  }
}

TEST(LineEstimates, NeedTwoTapers) {
  // The significance of F(2, 2K - 2) at the 99 % levels of the F table.
  for (const auto& [F, nwin] : {std::pair{99.0f, 2}, std::pair{18.0f, 3}, std::pair{10.92f, 4},
                                std::pair{6.51f, 8}}) {
    EXPECT_NEAR(f_significance(F, nwin), 99.0f, 0.01f) << nwin;
  }
  EXPECT_TRUE(std::isnan(f_significance(50.0f, 1)));
  SpecSettings s = settings_for(600, 1.0f / 12.0f);
  s.nwin = 1;
  const LineRun run = run_lines(sine_in_noise(600, 1.0, s.dt, 3.0, 5), {}, s);
  ASSERT_FALSE(run.lines.empty());
  for (const LineEstimate& line : run.lines) {
    EXPECT_TRUE(std::isnan(line.frequency) && std::isnan(line.F) && std::isnan(line.significance) &&
                std::isnan(line.frequency_sd));
  }
}

}  // namespace
}  // namespace quorvane::spectral
