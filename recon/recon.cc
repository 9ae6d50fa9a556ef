#include "recon/recon.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>

#include "common/memory.h"
#include "recon/misfit_sweep.h"
#include "recon/recon_steps.h"
#include "spectral/numerics/fft.h"
#include "spectral/numerics/tapers.h"
#include "spectral/numerics/two_halves.h"

namespace quorvane::recon {
namespace {

constexpr int kBaseFft = 8192;   // grid of every series up to this length
constexpr int kMaxKnots = 500;
constexpr int kWeightSteps = 51;  // 0, 0.02, ..., 1 for each misfit weight
// From this transform length on, the transforms of the tapered series run
// on two threads.
constexpr int kThreadedTransformPoints = 1 << 15;
// From this many samples on, the misfit search runs on two threads.
constexpr std::size_t kThreadedMisfitPoints = 4096;
// A weight triple's misfit must lie below this to be chosen: a margin of 100
// below the float range, so that a misfit near overflow (or NaN) is never
// chosen and the search keeps the default weights (1, 0, 0) instead.
constexpr float kMisfitCeiling = 1.0e36f;

template <typename... Args>
std::string text(const char* format, Args... args) {
  char buffer[200];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

// Zeroes what a run would have written, so that a caller summing the
// returned signals adds nothing for a refused or failed call.
void clear_output(std::span<float> rsig, int npts, int iconstr) {
  const std::size_t written = iconstr != 0 ? rsig.size()
                                           : std::min(rsig.size(), static_cast<std::size_t>(
                                                                       std::max(npts, 0)));
  std::fill(rsig.begin(), rsig.begin() + static_cast<std::ptrdiff_t>(written), 0.0f);
}

Status outside_band(float freq0, float dt) {
  return Status::failure(text("the frequency %g lies outside the band from 0 to %g",
                              double(freq0), double(0.5f / dt)));
}

// Transform length: 8192, or the next power of two for a longer series.
int grid_length(int npts) {
  int nfft = kBaseFft;
  while (nfft < npts) nfft *= 2;
  return nfft;
}

std::size_t at(int row, int column, int ld) {
  return static_cast<std::size_t>(column) * static_cast<std::size_t>(ld) +
         static_cast<std::size_t>(row);
}

// One pass's signal: the envelope, interpolated linearly between knots (the
// end value beyond the last knot extrapolated as 2·z(L) - z(L-1)), modulates
// the carrier cos + i·sin of ctab, stab. Writes L·mstep samples.
void synthesise(const ReconGrid& grid, std::span<const float> envr, std::span<const float> envi,
                std::span<const double> ctab, std::span<const double> stab, float amplitude,
                std::span<float> out) {
  const int nknot = grid.nknot;
  const int mstep = grid.mstep;
  const std::size_t last = static_cast<std::size_t>(nknot - 1);
  const float end_r = 2.0f * envr[last] - envr[last - 1];
  const float end_i = 2.0f * envi[last] - envi[last - 1];
  for (std::size_t b = 0; b <= last; ++b) {
    const double r0 = envr[b];
    const double i0 = envi[b];
    const double r1 = b < last ? static_cast<double>(envr[b + 1]) : end_r;
    const double i1 = b < last ? static_cast<double>(envi[b + 1]) : end_i;
    for (int m = 0; m < mstep; ++m) {
      const std::size_t i = b * static_cast<std::size_t>(mstep) + static_cast<std::size_t>(m);
      const float zr = static_cast<float>(((mstep - m) * r0 + m * r1) / mstep);
      const float zi = static_cast<float>(((mstep - m) * i0 + m * i1) / mstep);
      const float value = static_cast<float>(static_cast<double>(zi) * stab[i] +
                                             static_cast<double>(zr) * ctab[i]);
      out[i] = value * amplitude;
    }
  }
}

}  // namespace

Status check_recon(int nwin, int p, float dt, int npts) {
  if (npts < 2) {
    return Status::failure(
        text("a reconstruction needs at least 2 values; the series has %d", npts));
  }
  if (npts > kMaxReconPoints) {
    return Status::failure(text("the series has %d values; the reconstruction takes at most %d",
                                npts, kMaxReconPoints));
  }
  if (!(dt > 0.0f) || !std::isfinite(dt)) {
    return Status::failure(
        text("the time step must be positive for a reconstruction; it is %g", double(dt)));
  }
  // df, the Nyquist frequency and the knot spacing must all be ordinary
  // numbers for the bin arithmetic to hold.
  const int nfft = grid_length(npts);
  const int mstep = (npts - 1) / kMaxKnots + 1;
  const float df = 1.0f / (dt * static_cast<float>(nfft));
  if (!std::isnormal(df) || !std::isnormal(0.5f / dt) ||
      !std::isfinite(static_cast<float>(mstep) * dt)) {
    return Status::failure(
        text("the time step %g is out of range for the reconstruction grid", double(dt)));
  }
  if (Status status = spectral::check_taper_arguments(npts, nwin, p, kMaxReconTapers); !status) {
    return status;
  }
  const int nknot = (npts + mstep - 1) / mstep;
  if (nwin > nknot) {
    return Status::failure(
        text("%d tapers were asked for, but the envelope of %d values has only %d knots", nwin,
             npts, nknot));
  }
  return Status::success();
}

ReconGrid make_grid(int npts, int nwin, float dt) {
  ReconGrid grid;
  grid.nfft = grid_length(npts);
  grid.df = 1.0f / (dt * static_cast<float>(grid.nfft));
  const int i0 = 0;
  const int i1 = static_cast<int>((0.5f / dt + 0.1f * grid.df) / grid.df);
  grid.f0 = static_cast<float>(i0) * grid.df;
  grid.nfreq = i1 - i0 + 1;
  grid.f1 = static_cast<float>(grid.nfreq - 1) * grid.df + grid.f0;
  grid.nwin = nwin;
  grid.mstep = (npts - 1) / kMaxKnots + 1;
  grid.nknot = (npts + grid.mstep - 1) / grid.mstep;
  grid.tknot = static_cast<float>(grid.mstep) * dt;
  return grid;
}

void transform_series(std::span<const float> y, int nwin, int p, int npts, const ReconGrid& grid,
                      std::vector<float>& xdm, EnvelopeInputs& out,
                      std::span<const float> given_tapers) {
  const std::size_t n = static_cast<std::size_t>(npts);
  spectral::Tapers computed;
  const float* tapers = given_tapers.data();
  if (given_tapers.size() != n * static_cast<std::size_t>(nwin)) {
    spectral::taper2(npts, nwin, static_cast<float>(p), computed);
    tapers = computed.v.data();
  }

  float sum = 0.0f;
  for (int i = 0; i < npts; ++i) sum += y[static_cast<std::size_t>(i)];
  const float mean = sum / static_cast<float>(npts);
  xdm.resize(static_cast<std::size_t>(npts));
  for (int i = 0; i < npts; ++i) {
    xdm[static_cast<std::size_t>(i)] = y[static_cast<std::size_t>(i)] - mean;
  }

  // Bins 0 .. nfft/2: the Nyquist bin is kept so that a signal there reads
  // its own coefficients.
  out.nbins = grid.nfft / 2 + 1;
  const std::size_t stored = static_cast<std::size_t>(out.nbins) * static_cast<std::size_t>(nwin);
  out.yr.resize(stored);
  out.yi.resize(stored);
  const spectral::FftPlan plan(static_cast<std::size_t>(grid.nfft));
  // Tapers first, second, ... (stride apart) from `first` on, each
  // transformed in its own buffers.
  const auto transform = [&](int first, int stride) {
    std::vector<double> re(plan.size()), im(plan.size());
    for (int k = first; k < nwin; k += stride) {
      const float* v = tapers + static_cast<std::size_t>(k) * n;
      plan.transform_real(
          xdm.size(), [&](std::size_t t) { return static_cast<double>(xdm[t] * v[t]); }, re, im);
      for (int j = 0; j < out.nbins; ++j) {
        out.yr[at(j, k, out.nbins)] = static_cast<float>(re[static_cast<std::size_t>(j)]);
        out.yi[at(j, k, out.nbins)] = static_cast<float>(im[static_cast<std::size_t>(j)]);
      }
    }
  };
  // The transforms are independent; a long series shares them between two
  // threads, alternately.
  if (nwin > 1 && grid.nfft >= kThreadedTransformPoints) {
    spectral::run_two_halves([&] { transform(0, 2); }, [&] { transform(1, 2); });
  } else {
    transform(0, 1);
  }

  out.v.resize(static_cast<std::size_t>(grid.nknot) * static_cast<std::size_t>(nwin));
  for (int k = 0; k < nwin; ++k) {
    for (int l = 0; l < grid.nknot; ++l) {
      out.v[at(l, k, grid.nknot)] = tapers[at(l * grid.mstep, k, npts)];
    }
  }
}

MisfitWeights least_misfit(std::span<const float> r1, std::span<const float> r2,
                           std::span<const float> r3, std::span<const float> xdm) {
  // All admissible weight triples first, in search order; then their misfits
  // are swept side by side. Each misfit is still summed over the samples in
  // order, in single precision, so the result is that of one sum per triple,
  // only faster.
  std::vector<float> wa_of, wb_of, wc_of;
  float wa = 0.0f;
  for (int a = 0; a < kWeightSteps; ++a) {
    float wb = 0.0f;
    for (int b = 0; b < kWeightSteps; ++b) {
      const float wc = 1.0f - wa - wb;
      if (wc >= 0.0f && wc <= 1.0f) {
        wa_of.push_back(wa);
        wb_of.push_back(wb);
        wc_of.push_back(wc);
      }
      wb += 0.02f;
    }
    wa += 0.02f;
  }
  // Padded to whole groups of the sweep (the padding triples are never chosen).
  const std::size_t count = wa_of.size();
  const std::size_t padded = (count + kMisfitGroup - 1) / kMisfitGroup * kMisfitGroup;
  wa_of.resize(padded, 0.0f);
  wb_of.resize(padded, 0.0f);
  wc_of.resize(padded, 0.0f);
  std::vector<float> misfit(padded, 0.0f);
  const std::size_t n = xdm.size();
  const auto sweep = [&](std::size_t first, std::size_t last) {
    sweep_misfits(r1.data(), r2.data(), r3.data(), xdm.data(), n, wa_of.data() + first,
                  wb_of.data() + first, wc_of.data() + first, misfit.data() + first, last - first);
  };
  // Each triple's sum is independent of the others, so the triples split
  // between two threads with the same sums; a short series is not worth a thread.
  if (n >= kThreadedMisfitPoints) {
    const std::size_t half = padded / kMisfitGroup / 2 * kMisfitGroup;
    spectral::run_two_halves([&] { sweep(0, half); }, [&] { sweep(half, padded); });
  } else {
    sweep(0, padded);
  }
  MisfitWeights best;
  float least = kMisfitCeiling;
  for (std::size_t c = 0; c < count; ++c) {
    if (misfit[c] < least) {
      least = misfit[c];
      best = {wa_of[c], wb_of[c], wc_of[c]};
    }
  }
  return best;
}

std::uint64_t recon_memory(int npts, int nwin) {
  const std::uint64_t n = static_cast<std::uint64_t>(std::max(npts, 0));
  const std::uint64_t k = static_cast<std::uint64_t>(std::max(nwin, 0));
  const std::uint64_t nfft = static_cast<std::uint64_t>(grid_length(std::max(npts, 1)));
  const std::uint64_t coefficients = 2 * 4 * k * (nfft / 2 + 1);  // yr and yi, single precision
  const std::uint64_t tapers = 4 * k * n;
  // The Slepian eigenvector solve: the tridiagonal matrix, its factors and a
  // double-precision vector per taper, all of length n, with room to spare.
  const std::uint64_t taper_solve = 8 * n * (k + 10);
  // Two threads' transform buffers (real and imaginary, double), the
  // transform order, the anomaly and the coefficients being filled.
  const std::uint64_t transforms = 2 * 2 * 8 * nfft + 4 * nfft + 4 * n + coefficients;
  // One signal: the carrier tables (double), the three passes' signals and
  // the anomaly, besides the coefficients kept (n + kMaxKnots bounds the
  // samples synthesised).
  const std::uint64_t synthesis = (2 * 8 + 3 * 4) * (n + kMaxKnots) + 4 * n + coefficients;
  return tapers + std::max({taper_solve, transforms, synthesis});
}

Status prepare_series(std::span<const float> y, int nwin, int p, float dt, int npts,
                      PreparedSeries& out, std::optional<std::uint64_t> available) {
  return prepare_series(y, nwin, p, dt, npts, {}, out, available);
}

Status prepare_series(std::span<const float> y, int nwin, int p, float dt, int npts,
                      std::span<const float> tapers, PreparedSeries& out,
                      std::optional<std::uint64_t> available) {
  out = PreparedSeries{};
  Status status = check_recon(nwin, p, dt, npts);
  if (status && y.size() < static_cast<std::size_t>(npts)) {
    status = Status::failure(text("the series must hold %d values", npts));
  }
  if (status && !tapers.empty() &&
      tapers.size() != static_cast<std::size_t>(npts) * static_cast<std::size_t>(nwin)) {
    status = Status::failure(text("the tapers must hold %d x %d values", npts, nwin));
  }
  if (status) {
    status = check_memory(recon_memory(npts, nwin),
                          text("A reconstruction of %d values with %d tapers", npts, nwin),
                          available);
  }
  if (!status) return status;

  out.grid = make_grid(npts, nwin, dt);
  out.dt = dt;
  transform_series(y, nwin, p, npts, out.grid, out.xdm, out.inputs, tapers);
  out.npts = npts;
  return status;
}

Status recon(std::span<const float> y, int nwin, int p, float dt, int npts, float bndwdth,
             float freq0, int iconstr, std::span<float> rsig) {
  MisfitWeights chosen;
  return recon(y, nwin, p, dt, npts, bndwdth, freq0, iconstr, rsig, chosen);
}

Status recon(std::span<const float> y, int nwin, int p, float dt, int npts, float bndwdth,
             float freq0, int iconstr, std::span<float> rsig, MisfitWeights& chosen) {
  chosen = MisfitWeights{};
  Status status = check_recon(nwin, p, dt, npts);
  if (status && (y.size() < static_cast<std::size_t>(npts) ||
                 rsig.size() < static_cast<std::size_t>(npts))) {
    status = Status::failure(text("the series and the signal must hold %d values", npts));
  }
  // A frequency outside the band is refused before the series is transformed.
  if (status) {
    const ReconGrid grid = make_grid(npts, nwin, dt);
    int bin = 0;
    float delta = 0.0f;
    if (!nearest_bin(freq0 < bndwdth ? 0.0f : freq0, grid, grid.nfft / 2 + 1, bin, delta)) {
      status = outside_band(freq0, dt);
    }
  }
  PreparedSeries series;
  if (status) status = prepare_series(y, nwin, p, dt, npts, series);
  if (!status) {
    clear_output(rsig, npts, iconstr);
    return status;
  }
  return recon(series, bndwdth, freq0, iconstr, rsig, chosen);
}

Status recon(PreparedSeries& series, float bndwdth, float freq0, int iconstr,
             std::span<float> rsig) {
  MisfitWeights chosen;
  return recon(series, bndwdth, freq0, iconstr, rsig, chosen);
}

Status recon(PreparedSeries& series, float bndwdth, float freq0, int iconstr,
             std::span<float> rsig, MisfitWeights& chosen) {
  chosen = MisfitWeights{};
  const int npts = series.npts;
  const ReconGrid& grid = series.grid;
  if (npts < 2) {
    clear_output(rsig, npts, iconstr);
    return Status::failure("the series was not prepared for a reconstruction");
  }
  if (rsig.size() < static_cast<std::size_t>(npts)) {
    clear_output(rsig, npts, iconstr);
    return Status::failure(text("the signal must hold %d values", npts));
  }
  // The entry is the trend when it lies below the bandwidth.
  const float f = freq0 < bndwdth ? 0.0f : freq0;
  int bin = 0;
  float delta = 0.0f;
  if (!nearest_bin(f, grid, grid.nfft / 2 + 1, bin, delta)) {
    clear_output(rsig, npts, iconstr);
    return outside_band(freq0, series.dt);
  }

  // At zero frequency, and likewise at the Nyquist frequency, the two
  // sidebands of a real signal fall on one bin, which doubles the envelope.
  const bool zero = f < 0.1f * grid.df;
  const bool nyquist = std::abs(f - grid.f1) < 0.1f * grid.df;
  const float amplitude = zero || nyquist ? 0.5f : 1.0f;
  const int passes = iconstr == 0 ? 3 : 1;
  const std::size_t nknot = static_cast<std::size_t>(grid.nknot);
  // Synthesis runs to the end of the last knot interval, up to mstep - 1
  // samples beyond npts; those stay in this scratch.
  const std::size_t nsynth = nknot * static_cast<std::size_t>(grid.mstep);
  std::vector<double>& ctab = series.ctab;
  std::vector<double>& stab = series.stab;
  ctab.resize(nsynth);
  stab.resize(nsynth);
  cossin(ctab, stab, 1.0, 0.0, f, series.dt);

  Status status = Status::success();
  EnvelopeWork& work = series.work;
  std::vector<float>& envr = series.envr;
  std::vector<float>& envi = series.envi;
  envr.resize(nknot);
  envi.resize(nknot);
  std::array<std::vector<float>, 3>& recp = series.recp;
  for (int pass = 0; pass < passes; ++pass) {
    const int icode = iconstr == 0 ? pass : iconstr - 1;
    Status solved = envel(f, icode, grid, series.inputs, work);
    if (!solved && status) status = solved;
    for (std::size_t l = 0; l < nknot; ++l) {
      envr[l] = static_cast<float>(work.zenv[l].real());
      envi[l] = static_cast<float>(work.zenv[l].imag());
    }
    std::vector<float>& signal = recp[static_cast<std::size_t>(pass)];
    signal.resize(nsynth);
    synthesise(grid, envr, envi, ctab, stab, amplitude, signal);
  }

  const std::size_t count = static_cast<std::size_t>(npts);
  if (iconstr == 0) {
    const std::span<const float> xdm(series.xdm);
    chosen = least_misfit(std::span<const float>(recp[0]).first(count),
                          std::span<const float>(recp[1]).first(count),
                          std::span<const float>(recp[2]).first(count), xdm);
    for (std::size_t i = 0; i < count; ++i) {
      rsig[i] = chosen.wa * recp[0][i] + chosen.wb * recp[1][i] + chosen.wc * recp[2][i];
    }
  } else {
    std::copy(recp[0].begin(), recp[0].begin() + static_cast<std::ptrdiff_t>(count), rsig.begin());
    std::fill(rsig.begin() + static_cast<std::ptrdiff_t>(count), rsig.end(), 0.0f);
  }
  return status;
}

}  // namespace quorvane::recon
