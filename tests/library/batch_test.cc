// The batch engine against spectrum() series by series: the same bits in
// every row whatever the number of threads, missing rows left out, and the
// refusals naming the series.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "quorvane/quorvane.h"

namespace quorvane {
namespace {

// `count` rows of red noise, row 1 with a strong line at 0.2 cycles per step.
std::vector<float> block(int count, int n, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<float> normal;
  std::vector<float> values;
  for (int row = 0; row < count; ++row) {
    float last = 0.0f;
    for (int i = 0; i < n; ++i) {
      last = 0.5f * last + normal(random);
      const float line = row == 1 ? 3.0f * std::sin(2.0f * 3.14159265f * 0.2f * static_cast<float>(i)) : 0.0f;
      values.push_back(last + line);
    }
  }
  return values;
}

std::vector<double> steps(int n, double dt) {
  std::vector<double> t(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) t[static_cast<std::size_t>(i)] = i * dt;
  return t;
}

bool same_bits(const float* a, const float* b, std::size_t n) {
  return n == 0 || std::memcmp(a, b, n * sizeof(float)) == 0;
}

// Every row of `b` holds spectrum() of that row of `values`.
void expect_rows_of_spectrum(const BatchSpectra& b, const std::vector<float>& values,
                             const std::vector<double>& times, const Settings& settings) {
  const std::size_t n = times.size(), nf = b.frequency.size();
  for (int i = 0; i < b.count; ++i) {
    Series s;
    s.times = times;
    s.values.assign(values.begin() + static_cast<std::ptrdiff_t>(i * n),
                    values.begin() + static_cast<std::ptrdiff_t>((i + 1) * n));
    const Result<Spectrum> plain = spectrum(s, settings);
    ASSERT_TRUE(plain) << plain.message();
    ASSERT_EQ(plain->frequency, b.frequency);
    const std::size_t at = static_cast<std::size_t>(i) * nf;
    EXPECT_TRUE(same_bits(plain->estimate.data(), b.estimate.data() + at, nf)) << i;
    EXPECT_TRUE(same_bits(plain->background.data(), b.background.data() + at, nf)) << i;
    EXPECT_TRUE(same_bits(plain->F.data(), b.F.data() + at, nf)) << i;
    for (std::size_t k = 0; k < 4; ++k)
      EXPECT_TRUE(same_bits(plain->levels[k].data(), b.levels[k].data() + at, nf)) << i;
    EXPECT_EQ(plain->bandwidth, b.bandwidth);
  }
}

TEST(BatchSpectra, RowsAreTheSpectraOfTheSeriesForAnyNumberOfThreads) {
  const int count = 5, n = 300;
  const std::vector<float> values = block(count, n, 7);
  const std::vector<double> times = steps(n, 0.5);
  Settings settings;
  settings.tapers = 3;
  const Result<BatchSpectra> one = batch_spectra(values, count, times, settings, 1);
  ASSERT_TRUE(one) << one.message();
  EXPECT_EQ(one->method, "multitaper");
  expect_rows_of_spectrum(*one, values, times, settings);
  const Result<BatchSpectra> three = batch_spectra(values, count, times, settings, 3);
  ASSERT_TRUE(three) << three.message();
  EXPECT_EQ(one->estimate, three->estimate);
  EXPECT_TRUE(same_bits(one->band_p_value.data(), three->band_p_value.data(), count));
  // The planted line is the strongest and stands out over the whole band;
  // its p-value is far below the noise rows'.
  EXPECT_NEAR(one->peak_frequency[1], 0.4f, one->bandwidth);  // 0.2 per step of 0.5
  EXPECT_LT(one->band_p_value[1], 1e-6f);
  for (int i : {0, 2, 3, 4}) EXPECT_GT(one->band_p_value[i], 1e-4f) << i;
}

TEST(BatchSpectra, UnevenTimesGetTheirOwnAnalysisAndMissingRowsAreLeftOut) {
  const int count = 3, n = 200;
  std::vector<float> values = block(count, n, 11);
  std::vector<double> times = steps(n, 1.0);
  for (std::size_t i = 0; i < times.size(); ++i) times[i] += 0.3 * std::sin(0.7 * static_cast<double>(i));
  for (int i = 0; i < n; ++i) values[static_cast<std::size_t>(2 * n + i)] = NAN;
  const Result<BatchSpectra> b = batch_spectra(values, count, times, Settings{}, 2);
  ASSERT_TRUE(b) << b.message();
  EXPECT_EQ(b->method, "lomb_scargle_multitaper");
  BatchSpectra first_two = *b;
  first_two.count = 2;
  expect_rows_of_spectrum(first_two, values, times, Settings{});
  const std::size_t nf = b->frequency.size();
  for (std::size_t j = 0; j < nf; ++j) EXPECT_TRUE(std::isnan(b->estimate[2 * nf + j]));
  EXPECT_TRUE(std::isnan(b->band_p_value[2]) && std::isnan(b->peak_frequency[2]));
}

TEST(BatchSpectra, RefusalsNameTheSettingOrTheSeries) {
  const std::vector<double> times = steps(100, 1.0);
  std::vector<float> values = block(3, 100, 5);
  Settings bad;
  bad.tapers = 9;
  const Result<BatchSpectra> tapers = batch_spectra(values, 3, times, bad);
  ASSERT_FALSE(tapers);
  EXPECT_NE(tapers.message().find("taper"), std::string::npos) << tapers.message();
  EXPECT_FALSE(batch_spectra(values, 2, times, Settings{}));  // 300 values are not 2 series
  EXPECT_FALSE(batch_spectra(values, 3, times, Settings{}, 0));
  values[2 * 100 + 5] = INFINITY;
  const Result<BatchSpectra> row = batch_spectra(values, 3, times, Settings{}, 2);
  ASSERT_FALSE(row);
  EXPECT_EQ(row.message().rfind("series 2: ", 0), 0u) << row.message();
  EXPECT_TRUE(std::isnan(band_wide_ratio(1.5, 10.0, 3)));  // a chance above 1
}

}  // namespace
}  // namespace quorvane
