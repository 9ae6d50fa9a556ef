// The spectrum engine: multitaper spectrum, harmonic F-test, line reshaping,
// noise background and confidence levels, and the list of significant peaks.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "common/status.h"
#include "quorvane/settings.h"

namespace quorvane::spectral {

// Refinements of the levels and of the estimate beyond the dialogue's
// settings; the defaults leave every result as the settings alone give it.
struct SpecRefinements {
  int pad = 1;  // transform length factor 1, 2, 4 or 8 (see check_spec)
  // Concentrations of the computed tapers (taper_concentrations) instead of
  // the asymptotic formula, wherever the estimate weighs the tapers.
  bool exact_concentrations = false;
  // The running median divided by the median-to-mean ratio of the estimate
  // before the background is taken from it.
  bool median_bias_correction = false;
  bool jackknife = false;  // 95 % jackknife interval of the spectrum
  // Monte Carlo levels from this many AR(1) surrogates (0: chi-square
  // levels only), their random seed, and the threads that share them.
  int surrogates = 0;
  std::uint64_t seed = 0;
  int jobs = 1;
  // Asked between the stages of a run (tapers, each taper's transform, the
  // estimate, the levels, the F-test, the median, the background fit) and
  // before each surrogate, from any of the jobs' threads; when it returns
  // true the run is refused as interrupted (interrupted_run). Unlike other
  // refusals, a run stopped after its levels leaves the arrays of out
  // rewritten. Empty: never.
  std::function<bool()> cancelled;
};

// Whether settings.cancelled asks the run to stop.
bool run_cancelled(const SpecRefinements& settings);
// The refusal of a run stopped by its cancellation callback.
Status interrupted_run();

// The analysis settings that the engine reads, with the refinements.
struct SpecSettings : SpecRefinements {
  int nwin = 3;        // number of tapers K
  int p = 2;           // resolution, multiples of the Rayleigh frequency
  float dt = 1.0f;     // sampling interval
  int npts = 0;        // number of values
  float fmin = 0.0f;   // band
  float fmax = 0.5f;
  Noise noise = Noise::red;
  Background background = Background::robust;
  Fit fit = Fit::log;  // misfit of the red-noise fit
  float fsmooth = 0.1f;
  Signal signal = Signal::both;
  Estimate estimate = Estimate::adaptive;
  Normalize normalize = Normalize::none;
  bool reshape = true;  // reshape at the lines detected at level isiglev
  int isiglev = 3;      // 1..6: 50, 90, 95, 99, 99.5, 99.9 %
};

// Whether a run with these settings takes the running median of its
// estimate: for a robust background or for locally-white noise.
bool uses_median(const SpecSettings& settings);

// Everything one spectrum run returns. The frequency-indexed arrays hold the
// band entries; entry i (0-based) lies at frequency f0 + i * df, and the
// first nf - 1 entries are filled.
struct SpecResults {
  int nf = 0;       // band length; nf - 1 entries are filled
  float df = 0.0f;  // bin spacing
  float f0 = 0.0f;  // frequency of the first entry
  std::vector<float> specraw0;   // raw multitaper spectrum
  std::vector<float> specmed0;   // running median of the raw spectrum
  std::vector<float> specresh0;  // reshaped spectrum
  std::vector<float> harmonic0;  // harmonic (line) spectrum
  std::vector<float> specback0;  // noise background
  std::vector<float> ftest;      // harmonic F statistic
  std::array<float, 4> conf{};   // chi-square ratios at 50, 90, 95, 99 %
  std::array<float, 6> fconf{};  // F levels at 50, 90, 95, 99, 99.5, 99.9 %
  int nbw = 0;                   // bandwidth 2W in bins
  // With the jackknife: the 95 % interval of the spectrum estimate (specraw0);
  // empty otherwise.
  std::vector<float> jackknife_lower, jackknife_upper;
  // With Monte Carlo levels: the ratio to specback0 of the 50, 90, 95 and
  // 99 % levels at each entry; empty otherwise (conf holds for every entry).
  std::array<std::vector<float>, 4> montecarlo_conf;
  // With Monte Carlo levels: the band-wide 95 and 99 % ratios, the
  // quantiles of each surrogate's largest ratio to its background over the
  // band (see montecarlo.h); 0 otherwise.
  std::array<float, 2> global_conf{};
  float s0raw = 0.0f, s0 = 0.0f, rho0 = 0.0f, rho = 0.0f, tau0 = 0.0f, tau = 0.0f;
};

// Checks that a run with these settings is possible (at least 2 values, dt
// positive, 1 <= nwin <= 8, p positive, a band inside 0..Nyquist holding at
// least one entry, a smoothing width the band can hold, the series within the
// engine's capacity). The message names the offending value.
// Also refused: more tapers than values, p of half the number of values or
// more (the half-bandwidth would reach the Nyquist frequency), option codes
// outside their ranges, and, when the median is needed (robust background or
// locally-white noise), a negative smoothing width or one wider than the
// band: int(fsmooth / df) above the number of band entries. The length of
// the series is bounded by the memory of the machine (see spec), not here.
// The transform length is max(smallest power of two >= pad * npts, 1024);
// refused: pad other than 1, 2, 4, 8 and a padded length above 2^30; the
// jackknife with one taper; a median bias correction without a median (raw
// background and red or white noise); negative surrogates, jobs below 1,
// and Monte Carlo levels for a harmonic-only analysis (Signal::harmonic), whose
// peaks are judged by the F-test alone.
Status check_spec(const SpecSettings& settings);

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

// The list of significant peaks: at most max_peaks entries, ordered by
// frequency (entry i at results.f0 + i * df); sigpct holds 99, 95 or 90.
// Entries are judged by the raw spectrum over its background (not Signal::harmonic;
// a zero background gives ratio 0) against conf, or against the entry's
// montecarlo_conf when the results hold Monte Carlo levels, or by the F
// statistic (Signal::harmonic) against fconf, in windows of nbw entries either
// side; a window's maximum on a rising flank climbs to the flank's top, and
// one below a higher maximum within nbw entries that no listed peak covers
// yet moves on to it, so that every peak listed is a local maximum of its
// ratio and no line's maximum is hidden by the entries flagged around it;
// of all candidates, the max_peaks with the largest ratios are kept
// (equal ratios in the order found). max_peaks below 1 gives no peaks.
struct PeakList {
  std::vector<float> sigfreq;
  std::vector<float> sigpct;
};
constexpr int kDefaultMaxPeaks = 40;
PeakList findpeaks(Signal signal, const SpecResults& results, int max_peaks = kDefaultMaxPeaks);

}  // namespace quorvane::spectral
