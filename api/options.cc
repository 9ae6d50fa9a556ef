#include "api/options.h"

#include <fmt/format.h>

#include <array>

#include "quorvane/spectrum.h"

namespace quorvane::api {

float level_percent(int isiglev) {
  return static_cast<float>(kFLevelPercents[static_cast<std::size_t>(isiglev - 1)]);
}

std::string option_name(Naming naming, std::string_view name) {
  std::string text(name);
  if (naming == Naming::options) return "--" + text;
  for (char& c : text)
    if (c == '-') c = '_';
  return text;
}

std::string option_value(Naming naming, std::string_view name, std::string_view value) {
  if (naming == Naming::options) return option_name(naming, name) + " " + std::string(value);
  return option_name(naming, name) + "='" + std::string(value) + "'";
}

namespace {

std::string contradicting(const AnalysisOptions& a, const SignificanceOptions& g,
                          const ReconOptions& r, Naming naming) {
  const auto name = [naming](std::string_view option) { return option_name(naming, option); };
  const auto value = [naming](std::string_view option, std::string_view v) {
    return option_value(naming, option, v);
  };
  const std::string harmonic = value("signal", "harmonic");
  const std::string raw = value("background", "raw");
  if (a.signal == Signal::harmonic) {
    // Harmonic detection judges the F statistic against locally-white noise;
    // the dialogue does not offer the background settings with it.
    if (a.noise && *a.noise != Noise::local) return name("noise") + " cannot be red or white with " + harmonic;
    for (const auto& [given, option] :
         {std::pair{a.background.has_value(), "background"}, {a.smoothing.has_value(), "smoothing"},
          {a.fit.has_value(), "fit"}})
      if (given) return name(option) + " cannot be used with " + harmonic;
  }
  if (a.background == Background::raw && a.smoothing)
    return name("smoothing") + " cannot be used with " + raw + " (nothing is smoothed)";
  if (a.fit && a.background == Background::raw) return name("fit") + " cannot be used with " + raw;
  if (a.fit && a.noise && *a.noise != Noise::red)
    return name("fit") + " applies to red noise only (" + value("noise", "red") + ")";

  const std::string montecarlo = value("significance", "montecarlo");
  if ((g.surrogates_given || g.seed_given) && !g.montecarlo)
    return name(g.surrogates_given ? "surrogates" : "seed") + " needs " + montecarlo;
  if (a.signal == Signal::harmonic) {
    // Lines of a harmonic analysis are judged by the F-test, whose levels
    // are exact; the background levels play no part.
    if (g.montecarlo) return montecarlo + " cannot be used with " + harmonic;
    if (g.median_bias_correction)
      return name("median-bias-correction") + " cannot be used with " + harmonic;
  }
  if (g.median_bias_correction && a.background == Background::raw &&
      a.noise.value_or(Noise::red) != Noise::local)
    return name("median-bias-correction") + " cannot be used with " + raw + " (no median is fitted)";
  const int tapers = a.tapers.value_or(default_tapers(a.resolution.value_or(Settings{}.resolution)));
  if (g.jackknife && tapers < 2) return name("jackknife") + " needs at least 2 tapers";

  if (r.level_given && r.mode != ReconOptions::Mode::Peaks)
    return name("recon-level") + " needs " + value("reconstruct", "peaks");
  if (r.constraint_given && r.mode == ReconOptions::Mode::None)
    return name("constraint") + " needs " + name("reconstruct");
  return {};
}

}  // namespace

Status contradiction(const AnalysisOptions& a, const SignificanceOptions& g,
                     const ReconOptions& r, Naming naming) {
  const std::string problem = contradicting(a, g, r, naming);
  return problem.empty() ? Status::success() : Status::failure(problem);
}

Status apply_options(const AnalysisOptions& a, AnalysisRecord& r, Naming naming) {
  if (a.resolution || a.tapers) {
    r.p = a.resolution.value_or(r.p);
    r.nwin = a.tapers.value_or(a.resolution ? default_tapers(r.p) : r.nwin);
    apply_resolution(r);
  }
  if (a.estimate || a.normalize || a.reshape || a.band) {
    if (a.estimate) r.estimate = *a.estimate;
    if (a.normalize) r.normalize = *a.normalize;
    if (a.reshape) {
      r.reshape = *a.reshape != 0;
      if (r.reshape) {
        r.isiglev = *a.reshape;
        r.siglev = level_percent(r.isiglev);
      }
    }
    if (a.band) {
      r.fmin = a.band->first;
      r.fmax = a.band->second;
    }
    apply_band(r);
  }
  if (a.signal) {
    r.signal_assumption = *a.signal;
    apply_signal(r);
  }
  r.fsmooth_derived = !a.smoothing;
  if (a.noise || a.background || a.smoothing || a.fit) {
    if (a.noise) r.noise = *a.noise;
    if (a.background) r.background = *a.background;
    if (r.background == Background::robust && a.smoothing) {
      const float half_range = r.frange * 0.5f;
      if (!(r.bndwdth <= *a.smoothing && *a.smoothing <= half_range)) {
        return Status::failure(
            fmt::format("{} {} lies outside {} to {} (the bandwidth to half the band)",
                        option_name(naming, "smoothing"), *a.smoothing, r.bndwdth, half_range));
      }
      r.fsmooth = *a.smoothing;
    }
    if (r.noise == Noise::red && a.fit) r.fit = *a.fit;
  }
  return Status::success();
}

RunRefinements run_refinements(const SignificanceOptions& g) {
  RunRefinements refinements;
  refinements.engine.pad = g.pad;
  refinements.engine.exact_concentrations = g.exact_concentrations;
  refinements.engine.median_bias_correction = g.median_bias_correction;
  refinements.engine.jackknife = g.jackknife;
  refinements.engine.surrogates = g.montecarlo ? g.surrogates : 0;
  refinements.engine.seed = g.seed;
  refinements.engine.jobs = g.jobs;
  refinements.max_peaks = g.max_peaks;
  return refinements;
}

Status select_signals(const ReconOptions& recon, AnalysisRecord& r, Naming naming) {
  r.iconstr = recon.constraint;
  const auto add = [&r](float frequency) {
    if (r.nsig >= nsigmax) return false;
    const auto k = static_cast<std::size_t>(r.nsig++);
    r.sigfreq[k] = frequency;
    r.sigpct[k] = 0.0f;
    r.iuse[k] = 1;
    return true;
  };
  const std::string reconstruct = option_name(naming, "reconstruct");
  switch (recon.mode) {
    case ReconOptions::Mode::None:
      break;
    case ReconOptions::Mode::Peaks:
      for (int i = 0; i < r.nsig; ++i) {
        const auto k = static_cast<std::size_t>(i);
        if (r.sigfreq[k] >= r.bndwdth && r.sigpct[k] >= recon.level) r.iuse[k] = 1;
      }
      break;
    case ReconOptions::Mode::Trend:
      // Every frequency below the bandwidth reconstructs the trend.
      if (!add(0.0f)) return Status::failure("the signals list is full");
      break;
    case ReconOptions::Mode::Frequencies: {
      const float nyquist = 0.5f / r.dt;
      for (float f : recon.frequencies) {
        if (f > nyquist)
          return Status::failure(fmt::format("{} frequency {} lies above the Nyquist frequency {}",
                                             reconstruct, f, nyquist));
        if (!add(f))
          return Status::failure(
              fmt::format("{}: the signals list holds {} entries", reconstruct, nsigmax));
      }
      break;
    }
  }
  return Status::success();
}

SamplingChoice sampling_choice(int code) {
  switch (code) {
    case 1: return SamplingChoice::even;
    case 2: return SamplingChoice::gaps;
    case 3: return SamplingChoice::uneven;
    case 4: return SamplingChoice::interpolate;
    default: return SamplingChoice::automatic;
  }
}

}  // namespace quorvane::api
