#include "spectral/numerics/tapers.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory_resource>
#include <string>
#include <vector>

#include "spectral/numerics/fft.h"
#include "spectral/numerics/lapack_tridiagonal.h"
#include "spectral/numerics/slepian_eigen.h"
#include "spectral/numerics/work_arena.h"

namespace quorvane::spectral {

namespace {

// The longest tapers whose scaling sums are taken in single precision.
constexpr std::size_t kSingleSumLength = 65536;

}  // namespace

// Up to kSingleSumLength values the sums are taken in single precision on
// the single-precision values, which keeps the tapers of those lengths bit
// for bit as they are. Longer tapers
// take their sums in double precision: a single-precision sum of a million
// squares misses n by several parts in ten thousand, and the sum of an
// antisymmetric taper would not vanish.
float scale_taper(std::span<float> column) {
  const std::size_t un = column.size();
  const int n = static_cast<int>(un);
  if (un <= kSingleSumLength) {
    float sum = 0.0f;
    float ssq = 0.0f;
    for (std::size_t i = 0; i < un; ++i) {
      sum += column[i];
      ssq += column[i] * column[i];
    }
    const float rms = std::sqrt(ssq / static_cast<float>(n));
    for (std::size_t i = 0; i < un; ++i) column[i] /= rms;
    return sum / rms;
  }
  double sum = 0.0;
  double ssq = 0.0;
  for (std::size_t i = 0; i < un; ++i) {
    sum += column[i];
    ssq += static_cast<double>(column[i]) * column[i];
  }
  const double scale = std::sqrt(static_cast<double>(n) / ssq);
  for (std::size_t i = 0; i < un; ++i) column[i] = static_cast<float>(column[i] * scale);
  return static_cast<float>(sum * scale);
}

Status check_taper_arguments(int npts, int nwin, int p, int max_tapers) {
  if (nwin < 1 || nwin > max_tapers) {
    return Status::failure("The number of tapers must be between 1 and " +
                           std::to_string(max_tapers) + " (it is " + std::to_string(nwin) + ").");
  }
  if (nwin > npts) {
    return Status::failure("The number of tapers (" + std::to_string(nwin) +
                           ") exceeds the number of values (" + std::to_string(npts) + ").");
  }
  if (p < 1) {
    return Status::failure("The resolution p must be positive (it is " + std::to_string(p) + ").");
  }
  if (2 * static_cast<long long>(p) >= npts) {
    return Status::failure("The resolution p (" + std::to_string(p) +
                           ") must be below half the number of values (" + std::to_string(npts) +
                           ").");
  }
  return Status::success();
}

void compute_tapers(int n, int nwin, float npi, std::span<float> v, std::span<double> el,
                    std::span<float> tapsum, std::span<double> dlam, EigenPath path,
                    std::pmr::memory_resource* memory) {
  const std::size_t un = static_cast<std::size_t>(n);
  const std::size_t uk = static_cast<std::size_t>(nwin);
  const double w = static_cast<double>(npi) / n;
  const double sn = std::sin(2.0 * kPi15 * w);
  const double cs = std::cos(2.0 * kPi15 * w);

  // The unit eigenvectors, converted to single precision, go straight into
  // the taper store and are scaled there in place, each as soon as it is
  // complete (on the fast path, on the thread that solved it).
  auto scale_column = [&](std::size_t k) { tapsum[k] = scale_taper(v.subspan(k * un, un)); };
  if (path == EigenPath::Reference) {
    std::vector<double> d(un), e(un - 1), eigenvalues, z;
    for (std::size_t i = 0; i < un; ++i) d[i] = slepian_diagonal(un, cs, i);
    for (std::size_t i = 0; i + 1 < un; ++i) e[i] = slepian_off_diagonal(un, i);
    smallest_tridiagonal_eigenpairs(d, e, nwin, kEigenTolerance, eigenvalues, z);
    for (std::size_t i = 0; i < un * uk; ++i) v[i] = static_cast<float>(z[i]);
    for (std::size_t k = 0; k < uk; ++k) scale_column(k);
  } else {
    smallest_slepian_eigenvectors_single(un, cs, nwin, v.data(), scale_column, memory);
  }

  // The eigenvalues of the matrix are not concentrations; el takes the larger
  // of two asymptotic approximations of the concentration instead, the
  // standard large-N forms for the eigenvalues of the discrete prolate
  // spheroidal sequences (Slepian 1978, Bell Syst. Tech. J. 57; Percival and
  // Walden 1993, Spectral Analysis for Physical Applications, ch. 8). With
  // NW = npi, c = pi NW and k counted from 0:
  //   1 - lambda_k ~ 4 sqrt(pi c) (8c)^k / k! exp(-2c), close for the
  //     well-concentrated first tapers (a[k] below), and
  //   lambda_k ~ 1 / (1 + exp(-pi^2 (2NW - k - 1/2) / (ln(8 N sin 2 pi W) + gamma))),
  //     Euler's gamma, close for k near 2NW (dlam below).
  const double cprime = kPi15 * static_cast<double>(npi);
  const double euler_gamma = 0.5772156649;
  std::vector<double> a(uk);
  a[0] = 4.0 * std::sqrt(kPi15 * cprime) * std::exp(-2.0 * cprime);
  for (std::size_t k = 0; k + 1 < uk; ++k) a[k + 1] = a[k] * 8.0 * cprime / static_cast<double>(k + 1);
  const double denom = std::log(8.0 * n * sn) + euler_gamma;
  for (std::size_t k = 0; k < uk; ++k) {
    const double x = -kPi15 * (2.0 * kPi15 * (static_cast<double>(npi) - static_cast<double>(k) / 2.0 - 0.25)) / denom;
    dlam[k] = 1.0 / (1.0 + std::exp(x));
    el[k] = std::max(1.0 - a[k], dlam[k]);
  }
}

std::size_t taper_work_bytes(int n) { return slepian_work_bytes(static_cast<std::size_t>(n)); }

void taper2(int n, int nwin, float npi, Tapers& out, EigenPath path) {
  const std::size_t count = static_cast<std::size_t>(n) * static_cast<std::size_t>(nwin);
  out.n = n;
  out.nwin = nwin;
  out.v.resize(count);
  out.el.resize(static_cast<std::size_t>(nwin));
  out.tapsum.resize(static_cast<std::size_t>(nwin));
  out.dlam.resize(static_cast<std::size_t>(nwin));
  WorkArena memory;
  compute_tapers(n, nwin, npi, out.v, out.el, out.tapsum, out.dlam, path, &memory);
}

}  // namespace quorvane::spectral
