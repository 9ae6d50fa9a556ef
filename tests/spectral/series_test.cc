#include "spectral/series.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <vector>

#include "spectral/settings.h"
#include "spectral/significance/montecarlo.h"

namespace quorvane::spectral {
namespace {

TEST(SeriesSums, DemeanAndVarianceOfSamplesOnAGridWithGapsMatchTheSamplesAlone) {
  const std::vector<float> y = {2.0f, 4.0f, 9.0f, 1.0f};
  EXPECT_FLOAT_EQ(series_mean(y), 4.0f);
  std::vector<float> x(y.size());
  demean(y, x);
  EXPECT_EQ(x, (std::vector<float>{-2.0f, 0.0f, 5.0f, -3.0f}));
  EXPECT_DOUBLE_EQ(sum_of_squares(x), 38.0);
  EXPECT_FLOAT_EQ(series_variance(x, x.size()), 9.5f);
  // The same samples on a grid with zeros where none was taken: the zeros
  // add nothing, and the variance is over the samples present.
  const std::vector<float> grid = {-2.0f, 0.0f, 0.0f, 0.0f, 5.0f, 0.0f, -3.0f};
  EXPECT_EQ(sum_of_squares(grid), sum_of_squares(x));
  EXPECT_EQ(series_variance(grid, 4), series_variance(x, 4));
  // Squares in single precision: 1 + 2^-12 squared loses its 2^-24 there.
  const float near_one = 1.0f + 0x1p-12f;
  EXPECT_EQ(sum_of_squares(std::vector<float>{near_one}),
            static_cast<double>(near_one * near_one));
  EXPECT_NE(sum_of_squares(std::vector<float>{near_one}),
            static_cast<double>(near_one) * static_cast<double>(near_one));
}

TEST(BandGrid, PlacesTheBandAsTheEvenGridDoesOnAnySpacing) {
  SpecSettings s;
  s.npts = 500;
  s.dt = 0.5f;
  s.fmin = 0.13f;
  s.fmax = 0.71f;
  const Grid even = frequency_grid(s);
  const Grid band = band_grid(s, even.df);
  EXPECT_EQ(band.i0, even.i0);
  EXPECT_EQ(band.i1, even.i1);
  EXPECT_EQ(band.nf, even.nf);
  EXPECT_EQ(band.nfv, even.nfv);
  EXPECT_EQ(band.f0, even.f0);
  EXPECT_EQ(band.nfft, 0);
  // A limit within a tenth of a bin below a bin counts as that bin.
  s.fmin = 0.0f;
  s.fmax = 0.995f;
  const Grid tenth = band_grid(s, 0.1f);
  EXPECT_EQ(tenth.i0, 0);
  EXPECT_EQ(tenth.i1, 10);
  EXPECT_EQ(tenth.nfv, 10);
  s.fmax = 0.985f;  // further below: the bin before
  EXPECT_EQ(band_grid(s, 0.1f).i1, 9);
}

// A plan whose spectrum is the surrogate itself over a background of 1,
// so that each level is a quantile of the surrogate values at that entry.
TEST(LevelsOnTimes, RunsEachSurrogateOnTheTimesWithoutLevelsOrJackknife) {
  const std::vector<double> time = {0.0, 1.0, 2.5, 3.0, 7.0, 8.0};
  SpecSettings s;
  s.npts = static_cast<int>(time.size());
  s.surrogates = 99;
  s.seed = 5;
  s.jackknife = true;
  std::atomic<int> runs{0}, wrong{0};
  const PlanRun echo = [&](std::span<const float> values, const SpecSettings& plain,
                           SpecResults& r, WorkArena* memory) {
    ++runs;
    if (plain.surrogates != 0 || plain.jackknife || memory == nullptr ||
        values.size() != time.size() || plain.seed != s.seed) {
      ++wrong;
    }
    r.nf = static_cast<int>(values.size()) + 1;
    r.specraw0.assign(values.begin(), values.end());
    r.specback0.assign(values.size(), 1.0f);
    return Status::success();
  };
  MonteCarloLevels one_job, two_jobs;
  s.jobs = 1;
  ASSERT_TRUE(levels_on_times(time, 2.0, 4.0, s, echo, one_job));
  s.jobs = 2;
  ASSERT_TRUE(levels_on_times(time, 2.0, 4.0, s, echo, two_jobs));
  EXPECT_EQ(runs, 2 * 99);
  EXPECT_EQ(wrong, 0);
  ASSERT_EQ(one_job.local[0].size(), time.size() + 1);
  EXPECT_EQ(one_job.local, two_jobs.local);
  // Standard deviation 2: the 99 % level of a normal value lies near 2.33 sd.
  for (std::size_t i = 0; i < time.size(); ++i) {
    EXPECT_LT(one_job.local[0][i], one_job.local[3][i]);
    EXPECT_GT(one_job.local[3][i], 2.0f);
    EXPECT_LT(one_job.local[3][i], 8.0f);
  }
}

}  // namespace
}  // namespace quorvane::spectral
