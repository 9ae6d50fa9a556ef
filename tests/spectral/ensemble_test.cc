// Spectra over age ensembles: the two generated age models, the members'
// runs against the same record analysed alone, and a synthetic core whose
// true cycles must survive moderate age errors and fade, the shorter one
// first, as the errors grow.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "spectral/analyses/ensemble.h"
#include "spectral/estimators/uneven.h"
#include "spectral/significance/surrogates.h"

namespace quorvane::spectral {
namespace {

constexpr double kTwoPi = 6.283185307179586;

// A core of n samples on a depth scale of one unit a sample whose true
// ages advance by 1.5 .. 3.5 units a sample (a changing sedimentation
// rate), with a 41-unit and a 23-unit cycle of amplitude 1 in AR(1) noise
// of persistence time 3 on the true ages.
struct Core {
  std::vector<double> depth, age;
  std::vector<float> y;
};
Core synthetic_core(int n) {
  Core c;
  RandomStream random(11, 0);
  for (int j = 0; j < n; ++j) {
    c.depth.push_back(j);
    c.age.push_back(j == 0 ? 0.0 : c.age.back() + 1.5 + 2.0 * random.uniform());
  }
  c.y.resize(c.age.size());
  ar1_surrogate_on_times(c.age, 3.0, 1.0, random, c.y);
  for (std::size_t j = 0; j < c.y.size(); ++j) {
    c.y[j] += static_cast<float>(std::sin(kTwoPi * c.age[j] / 41.0) +
                                 std::sin(kTwoPi * c.age[j] / 23.0));
  }
  return c;
}

// Padded four times: each member's span puts the cycles at their own
// places between the shared grid's bins, and the F-test, taken at the bins
// only, needs them close to one.
SpecSettings core_settings() {
  SpecSettings s;
  s.nwin = 3;
  s.p = 2;
  s.pad = 4;
  s.fsmooth = 0.02f;
  return s;
}

// The fraction of members significant at 95 % (by the F-test) near a
// frequency: the largest over the entries within half a bandwidth.
float f_fraction_near(const EnsembleResult& r, double frequency) {
  const double centre = (frequency - r.f0) / r.df;
  float best = 0.0f;
  for (std::size_t i = 0; i < r.entries; ++i) {
    if (std::fabs(static_cast<double>(i) - centre) <= r.nbw / 2.0)
      best = std::max(best, r.f_exceed[0][i]);
  }
  return best;
}

// The listed line nearest a frequency, within a bandwidth of it.
const EnsembleLine* line_near(const EnsembleResult& r, double frequency) {
  const EnsembleLine* nearest = nullptr;
  for (const auto& line : r.lines) {
    const double distance = std::fabs(line.frequency - frequency);
    if (distance <= r.nbw * r.df &&
        (nearest == nullptr || distance < std::fabs(nearest->frequency - frequency)))
      nearest = &line;
  }
  return nearest;
}

// The mean 95 % exceedance fraction of the entries more than two
// bandwidths from both cycles (and off the lowest ones, where the
// background's fit is loosest).
double chance_rate(const EnsembleResult& r) {
  double sum = 0.0;
  int count = 0;
  for (std::size_t i = 0; i < r.entries; ++i) {
    const double f = r.f0 + static_cast<double>(i) * r.df;
    const double reach = 2.0 * r.nbw * r.df;
    if (f < 0.01 || std::fabs(f - 1.0 / 41) < reach || std::fabs(f - 1.0 / 23) < reach) continue;
    sum += r.exceed[1][i];
    ++count;
  }
  return sum / count;
}

// The mean width of the 2.5 .. 97.5 % band relative to the median.
double band_width(const EnsembleResult& r) {
  double sum = 0.0;
  for (std::size_t i = 1; i < r.entries; ++i)
    sum += std::log(r.quantiles[4][i] / std::max(r.quantiles[0][i], 1e-30f));
  return sum / static_cast<double>(r.entries - 1);
}

TEST(AgeModels, AreReproducibleMemberByMemberAndCentredOnTheirInputs) {
  std::vector<double> counted(400);
  for (std::size_t j = 0; j < counted.size(); ++j) counted[j] = 3.0 * static_cast<double>(j);
  AgeEnsemble few, many, exact;
  ASSERT_TRUE(counted_ages(counted, 0.05, 0.05, 3, 9, few).ok);
  ASSERT_TRUE(counted_ages(counted, 0.05, 0.05, 200, 9, many).ok);
  // A member is the same whatever the number drawn beside it.
  for (std::size_t m = 0; m < 3; ++m) {
    ASSERT_TRUE(std::equal(few.member(m).begin(), few.member(m).end(), many.member(m).begin()));
  }
  // Without miscounts every member is the count itself.
  ASSERT_TRUE(counted_ages(counted, 0.0, 0.0, 2, 9, exact).ok);
  EXPECT_TRUE(std::equal(counted.begin(), counted.end(), exact.member(1).begin()));
  // The errors accumulate as a random walk: at the last sample their
  // variance is about 399 steps times 2 p (1 - p) = 0.095 a step, their mean 0.
  double mean = 0.0, squares = 0.0;
  for (std::size_t m = 0; m < many.members; ++m) {
    const double error = many.member(m).back() - counted.back();
    mean += error;
    squares += error * error;
  }
  mean /= many.members;
  const double variance = squares / many.members - mean * mean;
  EXPECT_NEAR(mean, 0.0, 1.0);
  EXPECT_NEAR(variance, 399 * 0.095, 399 * 0.095 * 0.3);

  // Tie points without errors interpolate linearly and extend the ends.
  const std::vector<double> depth = {-1.0, 0.0, 5.0, 10.0, 12.0};
  const std::vector<double> tie_depth = {0.0, 10.0, 20.0}, tie_age = {100.0, 200.0, 400.0};
  AgeEnsemble tied;
  const std::vector<double> exact_ties(3, 0.0), wide_ties(3, 80.0);
  ASSERT_TRUE(tiepoint_ages(depth, tie_depth, tie_age, exact_ties, 2, 1, tied).ok);
  const std::vector<double> expected = {90.0, 100.0, 150.0, 200.0, 240.0};
  for (std::size_t j = 0; j < depth.size(); ++j) EXPECT_DOUBLE_EQ(tied.member(1)[j], expected[j]);
  // With errors as large as the tie points' distance the draws are sorted,
  // so every member still increases.
  AgeEnsemble wide;
  ASSERT_TRUE(tiepoint_ages(depth, tie_depth, tie_age, wide_ties, 300, 4, wide).ok);
  for (std::size_t m = 0; m < wide.members; ++m) {
    const auto t = wide.member(m);
    EXPECT_TRUE(std::is_sorted(t.begin(), t.end())) << "member " << m;
  }
}

TEST(AgeModels, RefuseWhatCannotBeAChronology) {
  using V = std::vector<double>;
  AgeEnsemble out;
  EXPECT_FALSE(counted_ages(V{0.0, 2.0, 1.0}, 0.1, 0.1, 5, 1, out).ok);
  EXPECT_FALSE(counted_ages(V{0.0, 1.0}, 1.5, 0.1, 5, 1, out).ok);
  EXPECT_FALSE(counted_ages(V{0.0, 1.0}, 0.1, 0.1, 0, 1, out).ok);
  EXPECT_FALSE(tiepoint_ages(V{1.0}, V{0.0, 0.0}, V{1.0, 2.0}, V{0.0, 0.0}, 5, 1, out).ok);
  EXPECT_FALSE(tiepoint_ages(V{1.0}, V{0.0, 1.0}, V{1.0, 2.0}, V{0.0, -1.0}, 5, 1, out).ok);
  EXPECT_FALSE(tiepoint_ages(V{1.0}, V{0.0}, V{1.0}, V{0.0}, 5, 1, out).ok);
}

TEST(EnsembleSpectrum, MembersEqualTheirRecordsAnalysedAloneForAnyNumberOfJobs) {
  const Core core = synthetic_core(300);
  AgeEnsemble ages;
  ASSERT_TRUE(counted_ages(core.age, 0.05, 0.05, 12, 3, ages).ok);
  const SpecSettings s = core_settings();
  EnsembleOptions one;
  one.keep_members = true;
  EnsembleResult serial, parallel;
  ASSERT_TRUE(ensemble_spectrum(ages, core.y, s, one, serial).ok);
  EnsembleOptions three = one;
  three.jobs = 3;
  ASSERT_TRUE(ensemble_spectrum(ages, core.y, s, three, parallel).ok);
  EXPECT_EQ(serial.member_estimate, parallel.member_estimate);
  for (std::size_t q = 0; q < 5; ++q) EXPECT_EQ(serial.quantiles[q], parallel.quantiles[q]);
  EXPECT_EQ(serial.exceed[1], parallel.exceed[1]);
  ASSERT_EQ(serial.lines.size(), parallel.lines.size());

  ASSERT_EQ(serial.members, 12u);
  const std::size_t m = serial.entries;
  for (std::size_t k : {std::size_t{0}, std::size_t{7}}) {
    const auto t = ages.member(k);
    std::vector<double> steps(t.size() - 1);
    for (std::size_t j = 0; j + 1 < t.size(); ++j) steps[j] = t[j + 1] - t[j];
    std::sort(steps.begin(), steps.end());
    SpecSettings alone = s;
    alone.npts = static_cast<int>(t.size());
    alone.dt = static_cast<float>(steps[(steps.size() - 1) / 2]);
    alone.fmin = serial.fmin;
    alone.fmax = serial.fmax;
    UnevenPlan plan;
    ASSERT_TRUE(UnevenPlan::make(t, alone, plan, serial.span).ok);
    SpecResults r;
    ASSERT_TRUE(plan.run(core.y, alone, r).ok);
    ASSERT_EQ(static_cast<std::size_t>(r.nf - 1), m);
    EXPECT_TRUE(std::equal(r.specraw0.begin(), r.specraw0.begin() + static_cast<long>(m),
                           serial.member_estimate.begin() + static_cast<long>(k * m)));
    EXPECT_TRUE(std::equal(r.ftest.begin(), r.ftest.begin() + static_cast<long>(m),
                           serial.member_f.begin() + static_cast<long>(k * m)));
  }
}

TEST(EnsembleSpectrum, CountsTheMembersItRefusesAndRefusesWhatItCannotRun) {
  const Core core = synthetic_core(200);
  AgeEnsemble ages;
  ASSERT_TRUE(counted_ages(core.age, 0.0, 0.0, 5, 1, ages).ok);
  // Members 2 and 4 (1-based) repeat an age and reverse.
  ages.ages[1 * ages.samples + 10] = ages.ages[1 * ages.samples + 9];
  ages.ages[3 * ages.samples + 50] = ages.ages[3 * ages.samples + 48];
  EnsembleResult r;
  ASSERT_TRUE(ensemble_spectrum(ages, core.y, core_settings(), {}, r).ok);
  EXPECT_EQ(r.members, 3u);
  EXPECT_EQ(r.refused, 2u);
  EXPECT_EQ(r.first_refused, 1u);
  EXPECT_EQ(r.analysed, (std::vector<std::size_t>{0, 2, 4}));

  SpecSettings montecarlo = core_settings();
  montecarlo.surrogates = 50;
  EXPECT_FALSE(ensemble_spectrum(ages, core.y, montecarlo, {}, r).ok);
  EnsembleOptions none;
  none.agreement = 0.0;
  EXPECT_FALSE(ensemble_spectrum(ages, core.y, core_settings(), none, r).ok);
  EXPECT_FALSE(ensemble_spectrum(ages, std::span<const float>(core.y).first(100), core_settings(),
                                 {}, r)
                   .ok);
  for (std::size_t m = 0; m < ages.members; ++m) ages.ages[m * ages.samples + 3] = 1e9;
  const Status none_left = ensemble_spectrum(ages, core.y, core_settings(), {}, r);
  EXPECT_FALSE(none_left.ok);
  EXPECT_NE(none_left.message.find("None of the 5 members"), std::string::npos);
}

TEST(EnsembleSpectrum, KeepsTrueCyclesUnderSmallAgeErrorsAndLosesTheShortOneFirst) {
  const Core core = synthetic_core(700);
  const SpecSettings s = core_settings();
  EnsembleOptions options;
  options.jobs = 2;
  const std::size_t members = 60;

  // The banded model with a few miscounts a hundred samples, and tie points
  // every 100 samples with errors of 2 units.
  AgeEnsemble counted, tied, wider;
  ASSERT_TRUE(counted_ages(core.age, 0.01, 0.01, members, 5, counted).ok);
  std::vector<double> tie_depth, tie_age;
  for (std::size_t j = 0; j < core.depth.size(); j += 100) {
    tie_depth.push_back(core.depth[j]);
    tie_age.push_back(core.age[j]);
  }
  tie_depth.push_back(core.depth.back());
  tie_age.push_back(core.age.back());
  const std::vector<double> small(tie_depth.size(), 2.0), large(tie_depth.size(), 4.0);
  ASSERT_TRUE(tiepoint_ages(core.depth, tie_depth, tie_age, small, members, 6, tied).ok);
  ASSERT_TRUE(tiepoint_ages(core.depth, tie_depth, tie_age, large, members, 6, wider).ok);

  EnsembleResult by_count, by_ties, by_wide;
  ASSERT_TRUE(ensemble_spectrum(counted, core.y, s, options, by_count).ok);
  ASSERT_TRUE(ensemble_spectrum(tied, core.y, s, options, by_ties).ok);
  ASSERT_TRUE(ensemble_spectrum(wider, core.y, s, options, by_wide).ok);

  for (const EnsembleResult* r : {&by_count, &by_ties}) {
    for (double period : {41.0, 23.0}) {
      SCOPED_TRACE(testing::Message() << "period " << period);
      EXPECT_GE(f_fraction_near(*r, 1.0 / period), 0.7);
      const EnsembleLine* line = line_near(*r, 1.0 / period);
      ASSERT_NE(line, nullptr);
      EXPECT_NEAR(line->frequency, 1.0 / period, r->nbw * r->df / 2.0);
      EXPECT_GE(line->fraction, 0.7f);
    }
    // Away from the cycles the estimate passes its 95 % level about as
    // often as chance has it: the band holds some 80 independent
    // bandwidths of one noise record, so the rate of this one realisation
    // scatters by about 0.025 around 0.05.
    EXPECT_NEAR(chance_rate(*r), 0.05, 0.045);
  }
  // Errors twice as large widen the band and take the short cycle away
  // before the long one.
  EXPECT_GT(band_width(by_wide), band_width(by_ties));
  const float short_loss = f_fraction_near(by_ties, 1.0 / 23) - f_fraction_near(by_wide, 1.0 / 23);
  const float long_loss = f_fraction_near(by_ties, 1.0 / 41) - f_fraction_near(by_wide, 1.0 / 41);
  EXPECT_GT(short_loss, long_loss + 0.1f);
  EXPECT_GT(short_loss, 0.3f);
}

}  // namespace
}  // namespace quorvane::spectral
