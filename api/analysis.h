// The steps of one analysis that the dialogue and the command line share:
// the default settings of a new series, the rules by which one setting
// follows another, the spectrum run with its signals list, the sum of the
// reconstructed signals. The dialogue asks its
// questions and calls these; the command line calls them with its options,
// so that both give the same numbers for the same settings.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "api/analysis_record.h"
#include "common/status.h"
#include "input/series_file.h"
#include "spectral/estimators/even.h"
#include "spectral/stages/peaks.h"

namespace quorvane::api {

// Which analysis a series' spectrum gets: the one its sampling calls for
// (automatic), or one chosen by the user.
enum class SamplingChoice { automatic, even, gaps, uneven, interpolate };

// Puts the chosen series into r (title, values, times, npts, dt, sampling
// class) with the spectrum method its sampling and `choice` call for, and
// writes a warning to `warnings` where the choice changes what the spectrum
// means:
// - automatic: even, gaps or uneven, as the series' class;
// - even: the evenly spaced engine; a series with gaps or uneven steps is
//   analysed at its mean step, as if evenly spaced (warning);
// - gaps: the missing-data method (an evenly spaced series too, as a grid
//   with nothing missing); refused for uneven steps;
// - uneven: the Lomb-Scargle method, for any times;
// - interpolate: the values interpolated linearly to the median step, then
//   the evenly spaced engine (warning); an evenly spaced series is analysed
//   as it is.
// A record whose gaps (or one wide step) cover more than half its span is
// also warned of, as its spectrum's resolution is that of the whole span
// while its values cover little of it; with `span` left_out it is not, for
// analyses of windows along the record, each with the resolution of its own
// length.
// The defaults are not set (call set_defaults next). On refusal (also a grid
// or an interpolation too long for the engine or the memory) r is left as
// it was and `series` unspecified.
enum class SpanWarning { given, left_out };
Status load_series(AnalysisRecord& r, input::ChosenSeries&& series, SamplingChoice choice,
                   const MessageSink& warnings, SpanWarning span = SpanWarning::given);

// The names of a sampling class ("even", "gaps", "uneven") and of a
// spectrum method ("multitaper", "mean_step_multitaper",
// "missing_data_multitaper", "lomb_scargle_multitaper",
// "interpolated_multitaper"), as the summaries and the library give them.
std::string sampling_class_name(spectral::SamplingClass kind);
std::string method_name(SpectrumMethod method);

// A diagnostic line of the engine (a dialogue line, with its leading
// blank) as a note of the library's results: the text alone.
std::string note_text(std::string_view line);

// One line saying which analysis the spectrum of a series with gaps or
// uneven steps uses, for the dialogue to show once the series is read;
// empty for an evenly spaced analysis.
std::string sampling_line(const AnalysisRecord& r);

// Whether the reconstruction can run on r's series: it needs evenly spaced
// values, so a series analysed by the gaps or uneven methods is refused.
Status check_reconstruction(const AnalysisRecord& r);

// Sets every analysis setting of `r` to its default for the series in r.y
// (npts values, time step dt; npts >= 2 and dt > 0): resolution 2 with 3
// tapers (bandwidth 4/T over the span T: npts dt, or for the gaps and
// uneven methods the grid positions times dt and the time from the first
// value to the last plus the median step), the whole band up to the Nyquist
// frequency 0.5/dt, red noise with a
// robust background smoothed over a fifth of the band (at least the
// bandwidth), log misfit, adaptive estimate, reshaping at 95 %. Also
// computes the series mean and empties the signals list. The
// reconstruction constraint is left as it is.
void set_defaults(AnalysisRecord& r);

// After r.p changed: the bandwidth 2p/T (T the span, as for set_defaults),
// and a smoothing width raised to it when narrower.
void apply_resolution(AnalysisRecord& r);

// After r.fmin or r.fmax changed: the band width, and a smoothing width of a
// fifth of it, at least the bandwidth.
void apply_band(AnalysisRecord& r);

// After r.signal_assumption changed: the harmonic assumption tests against
// locally-white noise.
void apply_signal(AnalysisRecord& r);

// The engine settings of the record's analysis settings.
spectral::SpecSettings spec_settings(const AnalysisRecord& r);

// The refusal of a smoothing width that no one gave (r.fsmooth_derived)
// and that spans more frequencies than the band of `settings` holds: it is
// then the bandwidth, and the message says so rather than ask for a width
// the user never chose. Success otherwise (and for the Lomb-Scargle method,
// whose grid is its own), leaving every other check to the engine.
Status check_derived_smoothing(const AnalysisRecord& r, const spectral::SpecSettings& settings);

// What a spectrum run may do beyond the record's settings (the command
// line's significance options); the defaults give the dialogue's run.
struct RunRefinements {
  spectral::SpecRefinements engine;            // padding, concentrations, levels
  int max_peaks = spectral::kDefaultMaxPeaks;  // capped at nsigmax
  // Each listed peak's line between the transform's bins (most of a short
  // series' time); a caller that keeps only the peaks' own columns, as the
  // grids' maps do, goes without.
  bool lines = true;
};

// Runs the spectrum with the record's settings (and the refinements) into
// r.spectra by r.method (the evenly spaced engine, spec_gaps or
// spec_uneven) and fills the signals list with the significant peaks (at most
// max_peaks and nsigmax, none selected). The engine's diagnostic lines go
// to `sink`. On refusal returns the reason and leaves r.spectra and the
// signals list as they were. With a session, the run uses its tapers and
// memory (the same results; see spectral::SpecSession).
Status run_spectrum(AnalysisRecord& r, const MessageSink& sink,
                    const RunRefinements& refinements = {},
                    spectral::SpecSession* session = nullptr);

// Reconstructs every entry of the signals list selected in r.iuse, in list
// order, with the record's tapers, resolution and constraint: each into
// r.rsig (then `each_signal` is called with the entry's index) and their sum
// into r.signal (npts values, zero when nothing is selected). An entry the
// reconstruction refuses adds nothing and its message goes to `sink`.
// The series is transformed once for all the entries. Returns the refusal of
// the whole run (check_reconstruction, too few values, too many tapers, more
// memory than the machine has) with r.signal and r.rsig untouched. With a session whose
// tapers fit the series, the reconstruction uses them (the same results).
Status reconstruct_selected(AnalysisRecord& r, const std::function<void(int entry)>& each_signal,
                            const MessageSink& sink,
                            const spectral::SpecSession* session = nullptr);

}  // namespace quorvane::api
