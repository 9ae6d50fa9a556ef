// Slepian sequences of a record with missing samples: of all sequences
// that vanish where no sample was taken, those whose energy is best
// concentrated in the band [-W, W] (Bronez 1988, IEEE Trans. ASSP 36:1862;
// Chave 2019, Geophys. J. Int. 218:2165).
#pragma once

#include <cstdint>
#include <memory_resource>
#include <span>
#include <vector>

#include "common/status.h"

namespace quorvane::spectral {

// K tapers of a regular grid of npts positions of which `present` hold a
// sample.
struct GapTapers {
  int npts = 0;  // N, positions of the grid
  int nwin = 0;  // K
  int p = 0;     // resolution: W = p / N cycles per step
  std::int64_t present = 0;  // M, positions holding a sample
  // v[k * npts + t] is the value of taper k (best concentrated first) at
  // grid position t: 0 where no sample was taken. Each taper is scaled so
  // that the sum of its squares is N, the scale of the ordinary tapers of
  // the span, which puts the spectrum of a record with gaps on the scale of
  // the complete record's.
  std::vector<float> v;
  std::vector<double> el;     // concentration of each taper, its eigenvalue
  std::vector<float> tapsum;  // sum of the values of each taper
  int iterations = 0;         // filtered subspace iterations the solver took
  // Whether every taper met the solver's residual tolerance; when not (an
  // eigenvalue shared almost exactly by the last taper and the next
  // sequence), the tapers are still orthogonal and el are their exact
  // concentrations.
  bool converged = true;
};

// The tapers of the grid positions `index` (strictly increasing, each in
// 0 .. npts - 1) for nwin tapers of resolution p: the nwin leading
// eigenvectors of the sinc kernel
//   A(j, k) = sin(2 pi W (j - k)) / (pi (j - k)),  A(j, j) = 2 W,
// restricted to the positions present, with their eigenvalues (the
// fraction of each taper's energy inside |f| <= W) as concentrations.
//
// Solver: the kernel is a Toeplitz matrix, applied to a vector through one
// complex transform pair of length L >= 2 N (two vectors at once, as the
// real and imaginary parts), never formed. The K leading eigenvectors come
// from subspace iteration with Rayleigh-Ritz on a block of b vectors, b =
// max(K, Shannon number 2 W M) plus four guard vectors, rounded up to an
// even number (the transform carries two vectors), started from the
// ordinary Slepian tapers of the span restricted to the samples present
// and accelerated by a Chebyshev filter that damps [0, a], a the smallest
// Ritz value of the block. The leading eigenvalues cluster near 1 and
// iterations that must tell them apart (Lanczos, power iteration) would
// crawl; here convergence depends only on the gap between the K-th
// eigenvalue and those outside the block, which the guard vectors make
// wide, while the Rayleigh-Ritz step separates the clustered ones exactly.
// Eigenvalues closer than double precision can resolve (a cluster within
// 1e-8, as the best tapers of a large resolution have) do not fix their
// eigenvectors; inside such a cluster the basis is the one that
// diagonalises the ordinary tapers' tridiagonal matrix, so that without a
// gap the tapers are the ordinary ones.
//
// Sign: each taper has a positive inner product with the ordinary taper of
// the same order on the samples present, or, where that product is below
// 1e-3 (a taper unlike its ordinary counterpart), its largest value (the
// first in grid order) positive, the convention of the ordinary tapers.
//
// Refused (out left as it was): nwin outside 1 .. 8 or above the number of
// samples present, p below 1, 2 p >= npts, and an index that is not
// strictly increasing inside the grid. Work storage comes from memory.
// The kernel's applications to the block's vector pairs, and the sums over
// the samples of orthogonalisation and Rayleigh-Ritz, run on up to `jobs`
// threads; each pair's arithmetic, and each sum's order (over fixed
// stretches of samples), are the same whatever the threads, so the tapers
// do not depend on jobs.
Status gap_tapers(std::span<const std::int64_t> index, int npts, int nwin, int p, GapTapers& out,
                  std::pmr::memory_resource* memory = std::pmr::get_default_resource(),
                  int jobs = 1);

// The most memory gap_tapers takes for these sizes and jobs, the tapers
// included, in bytes: linear in npts.
std::uint64_t gap_taper_bytes(std::int64_t npts, std::int64_t present, int nwin, int p,
                              int jobs = 1);

}  // namespace quorvane::spectral
