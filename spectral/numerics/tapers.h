// Slepian tapers (discrete prolate spheroidal sequences).
#pragma once

#include <cstddef>
#include <memory_resource>
#include <span>
#include <vector>

#include "common/status.h"

namespace quorvane::spectral {

// Checks the taper arguments of a run of either engine on npts values:
// 1 <= nwin <= max_tapers, nwin <= npts, p >= 1, and 2 p < npts, so that the
// half-bandwidth p / npts stays below half a cycle per sample (at or above
// it the concentration band would reach the Nyquist frequency and the
// tapers lose their meaning). The message names the offending value.
Status check_taper_arguments(int npts, int nwin, int p, int max_tapers);

// K tapers of length N for time-bandwidth product npi.
struct Tapers {
  int n = 0;     // N, points per taper
  int nwin = 0;  // K, number of tapers
  // v[k * n + i] is value i (0-based) of taper k (0-based, best concentrated
  // first); each taper is scaled so that the sum of its squares is N.
  std::vector<float> v;
  std::vector<double> el;     // concentration of each taper, in (0, 1]
  std::vector<float> tapsum;  // sum of the values of each taper
  std::vector<double> dlam;   // second concentration approximation

  float at(int i, int k) const { return v[static_cast<std::size_t>(k) * n + i]; }
  float* column(int k) { return v.data() + static_cast<std::size_t>(k) * n; }
  const float* column(int k) const { return v.data() + static_cast<std::size_t>(k) * n; }
};

// How the tridiagonal eigenproblem is solved. Both give the same
// eigenvectors to double-precision rounding; Reference is LAPACK's bisection
// (dstebz) and inverse iteration (dstein), Fast is the program's own faster
// path.
enum class EigenPath { Fast, Reference };

// The K = nwin tapers of length n for time-bandwidth product npi, for the
// spectrum engine and the reconstruction alike (each checks its own
// capacities first). Requires n >= 1, 1 <= nwin <= n.
void taper2(int n, int nwin, float npi, Tapers& out, EigenPath path = EigenPath::Fast);

// The same computation into storage the caller provides: v receives the
// n * nwin taper values (taper k at v[k * n]); el, tapsum and dlam receive
// nwin values each. Work storage comes from memory. The spectrum engine uses
// this to keep the tapers in its own run memory.
void compute_tapers(int n, int nwin, float npi, std::span<float> v, std::span<double> el,
                    std::span<float> tapsum, std::span<double> dlam, EigenPath path,
                    std::pmr::memory_resource* memory);

// Scales a taper so that the sum of its squares is its length, as every
// taper of the engine is scaled, and returns the sum of its scaled values.
// Zeros in the column (positions without a sample) leave both unchanged.
float scale_taper(std::span<float> column);

// The most work storage compute_tapers takes from its memory resource for
// tapers of n values, beyond the tapers themselves: about 25 bytes per value
// on the fast path, whatever the number of tapers. (The reference path works
// in LAPACK's own storage.) For an estimate of a run's memory before it
// starts.
std::size_t taper_work_bytes(int n);

}  // namespace quorvane::spectral
