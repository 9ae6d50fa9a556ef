// The analysis record: everything one analysis holds, from the chosen series
// through the settings and spectral results to the signals list and the
// reconstruction. The dialogue owns one for its session; the command line and
// the public functions make one per series. Each hands members to the entry
// routine of each subsystem.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "spectral/estimators/even.h"
#include "spectral/sampling.h"
#include "spectral/stages/lines.h"
#include "quorvane/settings.h"

namespace quorvane::api {

// Entries of the signals list.
inline constexpr int nsigmax = 100;

// How the spectrum of the series is estimated: the evenly spaced engine
// (even; mean_step when it analyses a series that is not evenly spaced as
// if it were, at its mean step; interpolate after linear interpolation to
// the median step), the missing-data multitaper method (gaps), or the
// multitaper Lomb-Scargle method (uneven).
enum class SpectrumMethod { even, mean_step, gaps, uneven, interpolate };

struct AnalysisRecord {
  // Series (written by the series input and the caller).
  std::string fname;     // input file name
  int npts = 0;          // number of values of the chosen series
  float dt = 0.0f;       // sampling interval
  std::vector<float> y;  // the series, y[0..npts-1]
  std::string title;     // series name
  float ymean = 0.0f;    // series mean
  // Sampling (written with the series). For an evenly spaced analysis y,
  // npts and dt are those of the grid analysed, so the members above mean
  // what they always have.
  std::vector<double> time;        // the time of each value of y, increasing
  std::vector<float> time_single;  // the same in single precision where it tells them apart, else empty
  spectral::Sampling sampling;     // the class of the series' own times
  SpectrumMethod method = SpectrumMethod::even;
  std::vector<std::int64_t> grid;  // gaps: the grid position of each value (empty otherwise)

  // Analysis settings (defaults set after every series input).
  int p = 0;              // resolution in multiples of the Rayleigh frequency
  int nwin = 0;           // number of tapers
  float bndwdth = 0.0f;   // full multitaper bandwidth 2p/(npts dt)
  float fmin = 0.0f;      // analysis band
  float fmax = 0.0f;
  float frange = 0.0f;    // fmax - fmin
  float fsmooth = 0.0f;   // median smoothing width
  // fsmooth follows from the band and the bandwidth, no width having been
  // given (command line and library; the dialogue always asks for one).
  bool fsmooth_derived = false;
  Noise noise = Noise::red;
  Background background = Background::robust;
  Fit fit = Fit::log;             // red noise only
  Signal signal_assumption = Signal::both;  // the record's `signal` is the reconstruction
  Estimate estimate = Estimate::adaptive;
  Normalize normalize = Normalize::none;
  bool reshape = true;    // reshape at the lines detected at level isiglev
  int isiglev = 3;        // 1..6 for 50, 90, 95, 99, 99.5, 99.9 %
  float siglev = 0.0f;    // the level of isiglev in percent (menu only)
  int iconstr = 0;        // reconstruction constraint; kept across series


  // Spectral results of the last spectrum run.
  spectral::SpecResults spectra;

  // Signals list.
  int nsig = 0;
  std::array<float, nsigmax> sigfreq{};
  std::array<float, nsigmax> sigpct{};
  std::array<int, nsigmax> iuse{};
  // The line of each peak the spectrum run listed (entry k for sigfreq[k]):
  // its frequency between the transform's bins, with F there; entries
  // beyond it (added by hand) have none.
  std::vector<spectral::LineEstimate> lines;

  // Reconstruction.
  float freq0 = 0.0f;        // frequency being reconstructed
  std::vector<float> rsig;   // one reconstructed signal
  std::vector<float> signal; // sum of the reconstructed signals of a run
};

}  // namespace quorvane::api
