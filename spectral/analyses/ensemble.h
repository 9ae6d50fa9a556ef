// Spectra under age-model uncertainty: one record's values analysed on
// every chronology of an age ensemble, each member on its own times with
// the multitaper Lomb-Scargle estimate of the uneven estimator, all on one
// frequency grid, summarised per frequency by the spread of the estimate and
// the fraction of members in which it is significant, and per line by the
// fraction of members in which the F-test finds it and the spread of its
// frequency across them. The two generated age models are the banded age
// model of layer counts (Comboul et al. 2014, Clim. Past 10, 825-841) and
// Gaussian tie points with linear interpolation between them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/status.h"
#include "spectral/settings.h"

namespace quorvane::spectral {

// The chronologies of one record: member m gives sample j the age
// ages[m * samples + j].
struct AgeEnsemble {
  std::size_t members = 0, samples = 0;
  std::vector<double> ages;
  std::span<const double> member(std::size_t m) const {
    return std::span<const double>(ages).subspan(m * samples, samples);
  }
};

// The banded age model of a layer-counted chronology `counted` (strictly
// increasing ages, a layer being one unit of age): in each member every step
// between neighbouring samples independently gains one unit with
// probability `missed` (a layer the count passed over) and loses one with
// probability `doubled` (a layer counted twice); the first sample keeps its
// age and the errors accumulate down the record. The draws come from
// RandomStream(seed, member), so each member is the same whatever else is
// drawn. A step of one unit that loses its layer leaves two samples of one
// age: such members are kept, for the analysis to refuse with a count.
// Refused: fewer than 2 samples or no member, ages that are not finite or
// not strictly increasing, probabilities outside 0 .. 1.
Status counted_ages(std::span<const double> counted, double missed, double doubled,
                    std::size_t members, std::uint64_t seed, AgeEnsemble& out);

// Tie points at depths tie_depth (strictly increasing) with ages tie_age
// and their 1-sigma errors tie_sigma: in each member every tie point's age
// is drawn from the normal distribution of its age and sigma
// (RandomStream(seed, member)), the draws are sorted into increasing order
// (a chronology cannot reverse), and each sample's age is the linear
// interpolation at its depth between the neighbouring tie points, the end
// segments extended beyond the first and last. Refused: fewer than 2 tie
// points, tie depths not strictly increasing, a value that is not finite, a
// negative sigma, no member or no sample.
Status tiepoint_ages(std::span<const double> depth, std::span<const double> tie_depth,
                     std::span<const double> tie_age, std::span<const double> tie_sigma,
                     std::size_t members, std::uint64_t seed, AgeEnsemble& out);

// The quantiles of the estimate across members, in this order.
inline constexpr std::array<double, 5> kEnsembleQuantiles = {0.025, 0.25, 0.5, 0.75, 0.975};

struct EnsembleOptions {
  // A line is listed when the F-test finds it in at least this fraction of
  // the analysed members (0 < agreement <= 1).
  double agreement = 0.5;
  // Keep every member's estimate, background and F statistic.
  bool keep_members = false;
  // Threads that share the members (the results are the same for any number).
  int jobs = 1;
  // Whether settings.fmin .. settings.fmax was chosen; otherwise the band is
  // 0 up to the Nyquist frequency of the coarsest member's median step, the
  // widest band every member holds.
  bool band_given = false;
};

// A line found in at least the agreed fraction of members. A member's lines
// are its F-test maxima above the level of settings.isiglev (as
// f_test_maxima) that are the largest within half a bandwidth; those of
// different members are one line when they lie within a quarter bandwidth
// of the frequency where most members have one.
struct EnsembleLine {
  float frequency = 0.0f;  // median over the members that have it
  float lower = 0.0f, upper = 0.0f;  // 2.5 and 97.5 % quantiles of its frequency
  float spread = 0.0f;               // standard deviation of its frequency
  std::size_t members = 0;           // members in which the F-test finds it
  float fraction = 0.0f;             // members / analysed members
};

struct EnsembleResult {
  std::size_t members = 0;   // analysed
  std::size_t refused = 0;   // members whose ages do not strictly increase
  std::size_t first_refused = 0;  // 0-based number of the first of them
  std::vector<std::size_t> analysed;  // 0-based numbers of the analysed members
  double span = 0.0;  // the span of the grid
  float dt = 0.0f;    // the coarsest member's median step
  float fmin = 0.0f, fmax = 0.0f;
  float f0 = 0.0f, df = 0.0f;
  std::size_t entries = 0;  // band entries: entry i at f0 + i df
  int nbw = 0;              // bandwidth in entries (of the grid's own span)
  // Per entry: the quantiles of kEnsembleQuantiles of the estimate
  // (specraw0), the median background, the fraction of members whose
  // estimate lies above its own 90, 95 and 99 % chi-square level, and whose
  // F statistic lies above its 95 and 99 % level.
  std::array<std::vector<float>, 5> quantiles;
  std::vector<float> background;
  std::array<std::vector<float>, 3> exceed;
  std::array<std::vector<float>, 2> f_exceed;
  std::vector<EnsembleLine> lines;  // by frequency
  // With keep_members: member k's (analysed[k]) entries at k * entries.
  std::vector<float> member_estimate, member_background, member_f;
  std::vector<std::string> notes;  // diagnostic lines of the members' runs, numbered
};

// The grid span of an ensemble: the span that every member covers, from the
// latest first age to the earliest last age, plus the coarsest median step
// (the span the uneven estimator gives a record of those ends). Members must
// be strictly increasing.
double shared_span(const AgeEnsemble& ages, std::span<const std::size_t> members, double dt);

// Analyses y (one value per sample) on every member of `ages` with
// `settings` (its dt and npts are each member's own: its median step and
// the number of samples), all on the grid of the shared span. Members whose
// ages are not finite or do not strictly increase are left out and counted.
// Refused: no member left, fewer values than samples, settings that the
// uneven estimator refuses for a member (naming it), Monte Carlo levels and
// the jackknife (each member would need its own), jobs below 1, an
// agreement outside 0 < a <= 1, a cancelled run. Messages begin with a
// blank, like spec's.
Status ensemble_spectrum(const AgeEnsemble& ages, std::span<const float> y,
                         const SpecSettings& settings, const EnsembleOptions& options,
                         EnsembleResult& out);

}  // namespace quorvane::spectral
