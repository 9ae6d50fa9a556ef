// The evenly spaced estimator: the multitaper spectrum of a series on a
// regular step, with its tapers kept across runs of the same length.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "common/status.h"
#include "spectral/settings.h"
#include "spectral/significance/montecarlo.h"

namespace quorvane::spectral {

// One spectrum run on y[0..npts-1]. Checks the settings first and computes
// nothing when they are refused; also refuses a y shorter than npts, a value
// that is not a finite number, a run that needs more memory than the
// machine has available (spec_memory; the message says how much), and a
// series whose spectrum overflows single precision. On refusal out is left as it was. On success every member of
// out is written; the arrays hold nf entries (the last one 0), and their
// storage is reused when out already has some.
// Degenerate data never yields a NaN or an infinity:
// - a constant series (zero variance) has rho0 = 0, an adaptive spectrum of
//   0 and an F statistic of 0 everywhere;
// - an entry whose F-test residual is zero gets F = 0 when its line
//   amplitude is zero too, otherwise the largest finite float;
// - where the AR(1) background is not finite (a coefficient of +-1, where
//   numerator and denominator vanish together) it is 0;
// - tau and tau0 are 1e16 when the coefficient is not inside (0, 1).
// With the median bias correction specmed0 holds the corrected median, an
// estimate of the local mean level; the locally-white background is then
// that corrected median itself (otherwise conf[0] times the median).
// Monte Carlo levels (montecarlo_levels) use the coefficient rho0 (0, so
// white surrogates, unless the noise is red) and the series' variance; a refusal
// there refuses the run. The reshaping keeps the chi-square threshold.
// Threads: long series use a second thread for part of the work; Monte
// Carlo surrogates share settings.jobs threads.
Status spec(std::span<const float> y, const SpecSettings& settings, SpecResults& out,
            const MessageSink& sink = {});

// The tapers of runs with these settings (their length, number, resolution
// and concentrations), computed once for callers that analyse many series
// of the same length, such as Monte Carlo surrogates.
struct RunTapers {
  int npts = 0, nwin = 0, p = 0;
  bool exact_concentrations = false;
  std::vector<float> v;       // taper k at v[k * npts]
  std::vector<double> el;     // concentrations
  std::vector<float> tapsum;  // sums of the taper values
};

// Computes the tapers of settings that check_spec accepts into out; on
// refusal out is left as it was.
Status spec_tapers(const SpecSettings& settings, RunTapers& out);

// spec with tapers from spec_tapers: the same results, without computing
// the tapers again. Also refuses tapers computed for other settings.
Status spec(std::span<const float> y, const SpecSettings& settings, const RunTapers& tapers,
            SpecResults& out, const MessageSink& sink = {});

// The memory a run with these settings takes at most, in bytes (less the
// tapers when they are given): it grows in proportion to the series, the
// transform and the band, by the number of tapers.
std::uint64_t spec_memory(const SpecSettings& settings, bool tapers_given = false);

class WorkArena;

// What one analysis keeps from one spectrum run to the next: the tapers of
// its last run, used again while the runs keep the same length, number of
// tapers, resolution and kind of concentrations (the same series analysed
// again with another band or background), and the run memory, which stays
// mapped and touched for the next run. For one thread at a time.
class SpecSession {
 public:
  SpecSession();
  ~SpecSession();
  SpecSession(SpecSession&&) noexcept;
  SpecSession& operator=(SpecSession&&) noexcept;

  // Tapers computed elsewhere (by spec_tapers), for the runs they fit.
  void keep_tapers(RunTapers tapers);
  void forget_tapers();
  // Gives the run memory back to the system (the tapers stay): for a caller
  // with no further spectrum run of this length to come.
  void release_memory();
  bool holds_tapers_for(const SpecSettings& settings) const;
  // The taper values it keeps when they are those of npts values, nwin
  // tapers and resolution p (whatever their concentrations); empty
  // otherwise. The reconstruction of the same series uses them too.
  std::span<const float> taper_values(int npts, int nwin, int p) const;

 private:
  friend Status spec(std::span<const float> y, const SpecSettings& settings,
                     SpecSession& session, SpecResults& out, const MessageSink& sink);
  RunTapers tapers_;
  std::unique_ptr<WorkArena> memory_;
};

// spec within a session: the same results, with the session's tapers when
// they fit (otherwise computed and kept in the session) and its memory.
Status spec(std::span<const float> y, const SpecSettings& settings, SpecSession& session,
            SpecResults& out, const MessageSink& sink = {});

// The Monte Carlo levels of an evenly spaced series: surrogate_levels of
// AR(1) series of npts values with coefficient rho and variance `variance`,
// each analysed by spec with the same settings (without Monte Carlo levels
// and jackknife) and the tapers computed once for all of them.
// Refused besides: settings refused by check_spec, |rho| >= 1, a negative
// or non-finite variance, a run that needs more memory than the machine
// has available, settings.cancelled returning true; out is then left as it
// was.
Status montecarlo_levels(const SpecSettings& settings, float rho, float variance, int surrogates,
                         std::uint64_t seed, int jobs, MonteCarloLevels& out);

}  // namespace quorvane::spectral
