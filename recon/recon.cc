#include "recon/recon.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>

#include "recon/recon_steps.h"
#include "spectral/fft.h"
#include "spectral/tapers.h"

namespace quorvane::recon {
namespace {

constexpr int kBaseFft = 8192;   // grid of every series up to this length
constexpr int kMaxKnots = 500;
constexpr int kWeightSteps = 51;  // 0, 0.02, ..., 1 for each misfit weight
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
                      std::vector<float>& xdm, EnvelopeInputs& out) {
  spectral::Tapers tapers;
  spectral::taper2(npts, nwin, static_cast<float>(p), tapers);

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
  std::vector<double> re(plan.size()), im(plan.size());
  for (int k = 0; k < nwin; ++k) {
    const float* v = tapers.column(k);
    plan.transform_real(
        xdm.size(), [&](std::size_t t) { return static_cast<double>(xdm[t] * v[t]); }, re, im);
    for (int j = 0; j < out.nbins; ++j) {
      out.yr[at(j, k, out.nbins)] = static_cast<float>(re[static_cast<std::size_t>(j)]);
      out.yi[at(j, k, out.nbins)] = static_cast<float>(im[static_cast<std::size_t>(j)]);
    }
  }

  out.v.resize(static_cast<std::size_t>(grid.nknot) * static_cast<std::size_t>(nwin));
  for (int k = 0; k < nwin; ++k) {
    for (int l = 0; l < grid.nknot; ++l) out.v[at(l, k, grid.nknot)] = tapers.at(l * grid.mstep, k);
  }
}

MisfitWeights least_misfit(std::span<const float> r1, std::span<const float> r2,
                           std::span<const float> r3, std::span<const float> xdm) {
  // All admissible weight triples first, in search order; then the misfits of
  // several triples are accumulated side by side. Each misfit is still summed
  // over the samples in order, in single precision, so the result is that of
  // one sum per triple, only faster.
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
  // Blocks of triples, each block's misfits held side by side through one
  // sweep over the samples (the padding triples are never chosen).
  constexpr std::size_t kBlock = 8;
  const std::size_t count = wa_of.size();
  const std::size_t padded = (count + kBlock - 1) / kBlock * kBlock;
  wa_of.resize(padded, 0.0f);
  wb_of.resize(padded, 0.0f);
  wc_of.resize(padded, 0.0f);
  std::vector<float> misfit(padded, 0.0f);
  for (std::size_t first = 0; first < padded; first += kBlock) {
    float wa_block[kBlock], wb_block[kBlock], wc_block[kBlock], sum[kBlock];
    for (std::size_t c = 0; c < kBlock; ++c) {
      wa_block[c] = wa_of[first + c];
      wb_block[c] = wb_of[first + c];
      wc_block[c] = wc_of[first + c];
      sum[c] = 0.0f;
    }
    for (std::size_t i = 0; i < xdm.size(); ++i) {
      const float x1 = r1[i], x2 = r2[i], x3 = r3[i], target = xdm[i];
      for (std::size_t c = 0; c < kBlock; ++c) {
        const float d = wa_block[c] * x1 + wb_block[c] * x2 + wc_block[c] * x3 - target;
        sum[c] += d * d;
      }
    }
    for (std::size_t c = 0; c < kBlock; ++c) misfit[first + c] = sum[c];
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
  if (!status) {
    clear_output(rsig, npts, iconstr);
    return status;
  }

  const ReconGrid grid = make_grid(npts, nwin, dt);
  // The entry is the trend when it lies below the bandwidth.
  const float f = freq0 < bndwdth ? 0.0f : freq0;
  int bin = 0;
  float delta = 0.0f;
  if (!nearest_bin(f, grid, grid.nfft / 2 + 1, bin, delta)) {
    clear_output(rsig, npts, iconstr);
    return Status::failure(text("the frequency %g lies outside the band from 0 to %g",
                                double(freq0), double(0.5f / dt)));
  }

  std::vector<float> xdm;
  EnvelopeInputs inputs;
  transform_series(y, nwin, p, npts, grid, xdm, inputs);

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
  std::vector<double> ctab(nsynth), stab(nsynth);
  cossin(ctab, stab, 1.0, 0.0, f, dt);

  EnvelopeWork work;
  std::vector<float> envr(nknot), envi(nknot);
  std::vector<std::vector<float>> recp(static_cast<std::size_t>(passes),
                                       std::vector<float>(nsynth));
  for (int pass = 0; pass < passes; ++pass) {
    const int icode = iconstr == 0 ? pass : iconstr - 1;
    Status solved = envel(f, icode, grid, inputs, work);
    if (!solved && status) status = solved;
    for (std::size_t l = 0; l < nknot; ++l) {
      envr[l] = static_cast<float>(work.zenv[l].real());
      envi[l] = static_cast<float>(work.zenv[l].imag());
    }
    synthesise(grid, envr, envi, ctab, stab, amplitude, recp[static_cast<std::size_t>(pass)]);
  }

  const std::size_t count = static_cast<std::size_t>(npts);
  if (iconstr == 0) {
    chosen = least_misfit(recp[0], recp[1], recp[2], xdm);
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
