#include "api/analysis.h"

#include <algorithm>

#include "recon/recon.h"

namespace quorvane::api {

void set_defaults(AnalysisRecord& r) {
  r.y.resize(static_cast<std::size_t>(std::max(r.npts, 0)));
  float sum = 0.0f;
  for (int i = 0; i < r.npts; ++i) sum += r.y[static_cast<std::size_t>(i)];
  // Only series of at least two values with a positive time step reach
  // here, so these divisions are safe.
  r.ymean = sum / static_cast<float>(r.npts);
  r.icomputed = 0;
  r.p = 2;
  r.nwin = 3;
  r.fmax = 0.5f / r.dt;
  r.bndwdth = 4.0f / (r.dt * static_cast<float>(r.npts));
  r.fmin = 0.0f;
  r.frange = r.fmax - r.fmin;
  r.inorm = 0;
  r.iadapt = 1;
  r.ireshape = 1;
  r.isiglev = 3;
  r.siglev = 95.0f;
  r.inoise = 0;
  r.irobust = 1;
  r.fsmooth = std::max(r.frange / 5.0f, r.bndwdth);
  r.ilogfit = 1;
  r.isignal = 0;
  r.irecon = 0;
  r.iuse.fill(0);
  r.sigpct.fill(0.0f);
  r.sigfreq.fill(0.0f);
  r.nsig = 0;
  r.ishowraw = r.ishowresh = r.ishowmed = r.ishowconf = r.ishowf = 1;
}

void apply_resolution(AnalysisRecord& r) {
  r.bndwdth = 2.0f * static_cast<float>(r.p) / (static_cast<float>(r.npts) * r.dt);
  r.fsmooth = std::max(r.fsmooth, r.bndwdth);
}

void apply_band(AnalysisRecord& r) {
  r.frange = r.fmax - r.fmin;
  r.fsmooth = std::max(r.frange / 5.0f, r.bndwdth);
}

void apply_signal(AnalysisRecord& r) {
  if (r.isignal == 2) {
    r.inoise = 2;
    r.ishowmed = 0;
    r.ishowconf = 0;
  }
}

spectral::SpecSettings spec_settings(const AnalysisRecord& r) {
  spectral::SpecSettings s;
  s.nwin = r.nwin;
  s.p = r.p;
  s.dt = r.dt;
  s.npts = r.npts;
  s.fmin = r.fmin;
  s.fmax = r.fmax;
  s.inoise = r.inoise;
  s.irobust = r.irobust;
  s.ilogfit = r.ilogfit;
  s.fsmooth = r.fsmooth;
  s.isignal = r.isignal;
  s.iadapt = r.iadapt;
  s.inorm = r.inorm;
  s.ireshape = r.ireshape;
  s.isiglev = r.isiglev;
  return s;
}

Status run_spectrum(AnalysisRecord& r, const MessageSink& sink, const RunRefinements& refinements,
                    spectral::SpecSession* session) {
  spectral::SpecSettings settings = spec_settings(r);
  static_cast<spectral::SpecRefinements&>(settings) = refinements.engine;
  Status status = session != nullptr ? spectral::spec(r.y, settings, *session, r.spectra, sink)
                                     : spectral::spec(r.y, settings, r.spectra, sink);
  if (!status) return status;
  spectral::PeakList peaks =
      spectral::findpeaks(r.isignal, r.spectra, std::min(refinements.max_peaks, nsigmax));
  const std::size_t found = std::min<std::size_t>(peaks.sigfreq.size(), nsigmax);
  for (std::size_t i = 0; i < found; ++i) {
    r.sigfreq[i] = peaks.sigfreq[i];
    r.sigpct[i] = peaks.sigpct[i];
  }
  r.nsig = static_cast<int>(found);
  r.iuse.fill(0);
  return status;
}

std::vector<int> spectrum_plot_kinds(const AnalysisRecord& r) {
  std::vector<int> kinds;
  if (r.ishowraw == 1 && r.ishowconf == 1) kinds.push_back(1);
  if (r.ishowresh == 1) kinds.push_back(2);
  if (r.ishowmed == 1) kinds.push_back(3);
  if (r.ishowf == 1) kinds.push_back(5);
  return kinds;
}

display::PlotInput spectrum_plot(const AnalysisRecord& r, int kind) {
  const spectral::SpecResults& s = r.spectra;
  display::PlotInput plot;
  plot.kind = kind;
  plot.n = s.nf;
  // The abscissa starts at the frequency of the first band entry, which
  // lies on the transform grid and so may differ slightly from fmin.
  plot.fmin = s.f0;
  plot.df = s.df;
  plot.dt = r.dt;
  plot.specraw0 = s.specraw0;
  plot.specmed0 = s.specmed0;
  plot.specresh0 = s.specresh0;
  plot.harmonic0 = s.harmonic0;
  plot.specback0 = s.specback0;
  plot.ftest = s.ftest;
  plot.conf = s.conf;
  for (std::size_t k = 0; k < plot.level_ratios.size(); ++k) plot.level_ratios[k] = s.montecarlo_conf[k];
  plot.fconf = s.fconf;
  plot.title = r.title;
  plot.y = r.y;
  plot.signal = r.signal;
  return plot;
}

Status reconstruct_selected(AnalysisRecord& r, const std::function<void(int entry)>& each_signal,
                            const MessageSink& sink, const spectral::SpecSession* session) {
  Status check = recon::check_recon(r.nwin, r.p, r.dt, r.npts);
  if (!check) return check;
  // The series is transformed once for all its signals; nothing to prepare
  // when no entry is selected.
  recon::PreparedSeries series;
  const auto selected = [&r](int i) { return r.iuse[static_cast<std::size_t>(i)] == 1; };
  bool any = false;
  for (int i = 0; i < r.nsig && !any; ++i) any = selected(i);
  if (any) {
    const std::span<const float> tapers =
        session != nullptr ? session->taper_values(r.npts, r.nwin, r.p) : std::span<const float>();
    check = tapers.empty() ? recon::prepare_series(r.y, r.nwin, r.p, r.dt, r.npts, series)
                           : recon::prepare_series(r.y, r.nwin, r.p, r.dt, r.npts, tapers, series);
    if (!check) return check;
  }
  const auto n = static_cast<std::size_t>(r.npts);
  r.rsig.assign(n, 0.0f);
  r.signal.assign(n, 0.0f);
  for (int i = 0; i < r.nsig; ++i) {
    const auto k = static_cast<std::size_t>(i);
    if (!selected(i)) continue;
    r.freq0 = r.sigfreq[k];
    Status status = recon::recon(series, r.bndwdth, r.freq0, r.iconstr, r.rsig);
    if (!status && sink) sink(status.message);
    if (each_signal) each_signal(i);
    for (std::size_t j = 0; j < n; ++j) r.signal[j] += r.rsig[j];
  }
  return check;
}

display::PlotInput reconstruction_plot(const AnalysisRecord& r) {
  display::PlotInput input;
  input.kind = 6;
  input.n = r.npts;
  input.ymean = r.ymean;
  input.dt = r.dt;
  input.title = r.title;
  input.y = r.y;
  input.signal = r.signal;
  return input;
}

}  // namespace quorvane::api
