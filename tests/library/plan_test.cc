// A spectrum plan against the plain call: the same bits for every series of
// its shape, and a clear refusal of every other series.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "quorvane/quorvane.h"

namespace quorvane {
namespace {

Series noisy(int n, unsigned seed, double dt = 1.0) {
  std::mt19937 random(seed);
  std::normal_distribution<float> normal;
  Series s;
  s.name = "cell " + std::to_string(seed);
  float last = 0.0f;
  for (int i = 0; i < n; ++i) {
    // Red noise with a line, so that the background and the peaks are not
    // trivial.
    last = 0.6f * last + normal(random);
    s.values.push_back(last + 2.0f * std::sin(0.4f * static_cast<float>(i)));
    s.times.push_back(static_cast<double>(i) * dt);
  }
  return s;
}

// Bitwise equality of float arrays (NaN where either run has NaN).
::testing::AssertionResult same_bits(const std::vector<float>& a, const std::vector<float>& b) {
  if (a.size() != b.size())
    return ::testing::AssertionFailure() << a.size() << " values against " << b.size();
  if (!a.empty() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) != 0)
    return ::testing::AssertionFailure() << "the values differ";
  return ::testing::AssertionSuccess();
}

void expect_same(const Spectrum& plain, const Spectrum& planned) {
  for (auto column : {&Spectrum::frequency, &Spectrum::estimate, &Spectrum::reshaped,
                      &Spectrum::harmonic, &Spectrum::median, &Spectrum::background, &Spectrum::F,
                      &Spectrum::jackknife_lower, &Spectrum::jackknife_upper})
    EXPECT_TRUE(same_bits(plain.*column, planned.*column));
  for (std::size_t k = 0; k < plain.levels.size(); ++k)
    EXPECT_TRUE(same_bits(plain.levels[k], planned.levels[k])) << k;
  EXPECT_EQ(std::memcmp(plain.F_levels.data(), planned.F_levels.data(), sizeof plain.F_levels), 0);
  EXPECT_EQ(std::tie(plain.rho, plain.bandwidth, plain.notes),
            std::tie(planned.rho, planned.bandwidth, planned.notes));
  const auto peaks = [](const Spectrum& s) {
    std::vector<float> fields;
    for (const Peak& p : s.peaks)
      fields.insert(fields.end(), {p.frequency, p.period, p.significance, p.ratio, p.F,
                                   p.global_significance, p.line_frequency, p.line_F,
                                   p.line_significance, p.line_frequency_sd,
                                   p.trend ? 1.0f : 0.0f});
    return fields;
  };
  EXPECT_TRUE(same_bits(peaks(plain), peaks(planned)));
}

TEST(SpectrumPlan, ConcurrentCallsEachGetTheirOwnResult) {
  Result<SpectrumPlan> plan = SpectrumPlan::make(512);
  ASSERT_TRUE(plan);
  std::vector<Series> series;
  std::vector<Spectrum> plain;
  for (unsigned seed = 0; seed < 4; ++seed) {
    series.push_back(noisy(512, seed + 10));
    plain.push_back(spectrum(series.back()).value());
  }
  std::vector<Result<Spectrum>> planned(4, Status::failure("not run"));
  std::vector<std::thread> threads;
  for (std::size_t k = 0; k < 4; ++k)
    threads.emplace_back([&, k] {
      for (int again = 0; again < 3; ++again) planned[k] = spectrum(*plan, series[k]);
    });
  for (std::thread& t : threads) t.join();
  for (std::size_t k = 0; k < 4; ++k) {
    ASSERT_TRUE(planned[k]) << planned[k].message();
    expect_same(plain[k], *planned[k]);
  }
}

// A plan classifies the times of its first series once and takes that
// class for later series of the very same times; series of other times
// (later, reversed) are classified as spectrum() classifies them.
TEST(SpectrumPlan, SeriesOfOtherTimesThanTheFirstAreClassifiedAfresh) {
  Result<SpectrumPlan> plan = SpectrumPlan::make(300, 2.0);
  ASSERT_TRUE(plan);
  Series later = noisy(300, 5, 2.0), reversed = noisy(300, 6, 2.0);
  for (double& t : later.times) t += 1000.0;
  std::reverse(reversed.times.begin(), reversed.times.end());
  for (const Series& s : {noisy(300, 4, 2.0), later, reversed, noisy(300, 7, 2.0)}) {
    const Result<Spectrum> planned = spectrum(*plan, s);
    ASSERT_TRUE(planned) << planned.message();
    expect_same(spectrum(s).value(), *planned);
  }
}

template <class T>
::testing::AssertionResult refused_with(const Result<T>& result, const std::string& words) {
  if (!result && result.message().find(words) != std::string::npos)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "not refused with \"" << words << "\": "
                                       << result.message();
}

TEST(SpectrumPlan, RefusesSeriesOfAnotherShapeAndSettingsWithoutEvenTapers) {
  Result<SpectrumPlan> plan = SpectrumPlan::make(200, 2.0);
  ASSERT_TRUE(plan);
  EXPECT_TRUE(
      refused_with(spectrum(*plan, noisy(199, 1, 2.0)), "199 values; the plan is for 200"));
  EXPECT_TRUE(refused_with(spectrum(*plan, noisy(200, 1, 1.0)), "step 1; the plan is for 2"));
  // The same number of values, but with a gap: its own times, its own tapers.
  Series gappy = noisy(200, 1, 2.0);
  for (std::size_t i = 100; i < gappy.times.size(); ++i) gappy.times[i] += 20.0;
  EXPECT_TRUE(refused_with(spectrum(*plan, gappy), "evenly spaced series only"));
  EXPECT_TRUE(spectrum(*plan, noisy(200, 2, 2.0)));  // the refusals leave it working

  EXPECT_TRUE(refused_with(spectrum(SpectrumPlan(), noisy(200, 1)), "empty"));
  EXPECT_TRUE(refused_with(SpectrumPlan::make(1), "at least 2"));
  EXPECT_TRUE(refused_with(SpectrumPlan::make(100, 0.0), "dt"));
  Settings bad;
  bad.tapers = 9;
  EXPECT_TRUE(
      refused_with(SpectrumPlan::make(100, 1.0, bad), spectrum(noisy(100, 1), bad).message()));
  bad = Settings{};
  bad.sampling = Sampling::gaps;
  EXPECT_TRUE(refused_with(SpectrumPlan::make(100, 1.0, bad), "evenly spaced series only"));
}

}  // namespace
}  // namespace quorvane
