// Spectra under age-model uncertainty: one record's values analysed on
// every chronology of an age ensemble (each member on its own times, with
// the multitaper Lomb-Scargle estimate, all on one frequency grid), the
// spread of the estimate across members and the fraction of members in
// which each frequency and each line is significant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "quorvane/settings.h"
#include "quorvane/status.h"

namespace quorvane {

// The chronologies of a record: member m gives sample j the age
// ages[m * samples + j].
struct AgeModel {
  std::size_t members = 0, samples = 0;
  std::vector<double> ages;
  // What they are, for the summary ("file ages.csv", "counted, miscount
  // 0.05, seed 1", ...), and the seed of a generated model (0 otherwise).
  std::string description;
  std::uint64_t seed = 0;
};

// The banded age model of a layer-counted chronology (strictly increasing
// ages, one layer being one unit of age): in each member every step between
// neighbouring samples independently gains a unit with probability
// `missed` and loses one with probability `doubled`, the errors
// accumulating down the record. The same seed gives the same members.
Result<AgeModel> counted_age_model(const std::vector<double>& counted, double missed,
                                   double doubled, std::size_t members, std::uint64_t seed);

// Tie points (depth, age, 1-sigma error; depths strictly increasing): in
// each member every tie point's age is drawn from its normal distribution,
// the draws sorted into increasing order, and each sample's age is the
// linear interpolation at its depth (the end segments extended).
Result<AgeModel> tiepoint_age_model(const std::vector<double>& depth,
                                    const std::vector<double>& tie_depth,
                                    const std::vector<double>& tie_age,
                                    const std::vector<double>& tie_sigma, std::size_t members,
                                    std::uint64_t seed);

struct EnsembleSettings {
  // Lines are listed when the F-test finds them in at least this fraction
  // of the members (0 < agreement <= 1).
  double agreement = 0.5;
  // Keep every member's estimate, background and F statistic.
  bool members = false;
};

// A line significant in at least the agreed fraction of members: a row of
// <name>.ensemble-peaks.csv.
struct EnsembleLine {
  float frequency = 0.0f;  // median over the members that have it
  float period = 0.0f;     // 1 / frequency
  float lower = 0.0f, upper = 0.0f;  // 2.5 and 97.5 % quantiles of its frequency
  float spread = 0.0f;               // standard deviation of its frequency
  int members = 0;
  float fraction = 0.0f;
};

// The columns of <name>.ensemble.csv, one entry per frequency of the band.
struct Ensemble {
  std::string name;
  std::vector<float> frequency;
  // Quantiles of the estimate across members: 2.5, 25, 50, 75, 97.5 %.
  std::vector<float> q025, q25, median, q75, q975;
  std::vector<float> background;  // median background
  // Fractions of members whose estimate exceeds its own 90, 95, 99 %
  // chi-square level, and whose F statistic exceeds its 95, 99 % level.
  std::vector<float> exceed90, exceed95, exceed99, f95, f99;
  std::vector<EnsembleLine> lines;  // by frequency
  int members = 0;                  // analysed
  int refused = 0;                  // members whose ages do not strictly increase
  std::vector<int> member;          // the 1-based numbers of the analysed members
  // With EnsembleSettings::members: member k's entries at k * frequency.size().
  std::vector<float> member_power, member_background, member_F;
  double span = 0.0;        // the span every member covers, plus dt: the grid's
  float dt = 0.0f;          // the coarsest member's median step
  float bandwidth = 0.0f;   // 2P / span
  double lines_level = 0.0; // percent: the F level of the lines (the reshape level)
  std::vector<std::string> notes;
  Settings used;
};

// The ensemble spectrum of `values` (one per sample) on every member of
// `ages`, with `settings` as spectrum() takes them (jobs: threads sharing
// the members; the results do not depend on it; the band defaults to 0 up
// to the Nyquist frequency of the coarsest member's median step). Members
// whose ages do not strictly increase are left out and counted. Refused:
// what spectrum() refuses for the first member, no member left, values
// and samples of different numbers, Monte Carlo levels or the jackknife.
Result<Ensemble> ensemble(const std::string& name, const std::vector<float>& values,
                          const AgeModel& ages, const Settings& settings = {},
                          const EnsembleSettings& options = {});

}  // namespace quorvane
