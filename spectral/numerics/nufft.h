// The non-uniform discrete Fourier transform of type 1: values at arbitrary
// times to a uniform grid of frequencies, for records whose samples are not
// evenly spaced.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "common/status.h"
#include "spectral/numerics/fft.h"

namespace quorvane::spectral {

// A prepared transform of strengths c(j) at times t(j), j = 0 .. N-1, to
//   F(m) = sum_j c(j) exp(+2 pi i f(m) (t(j) - origin)),
//   f(m) = f_first + m df,  m = 0 .. count-1,
// with the positive exponent of the engine's FFT (fft2).
//
// The method is gridding (Dutt & Rokhlin 1993, SIAM J. Sci. Comput. 14:1368;
// Barnett, Magland & af Klinteberg 2019, SIAM J. Sci. Comput. 41:C479):
// with x(j) = 2 pi df (t(j) - origin) and the central frequency fc =
// f(count / 2), F(m) = sum_j [c(j) e^{2 pi i fc (t(j) - origin)}] e^{i k x(j)}
// for the whole number k = m - count / 2. Each phase-shifted strength is
// spread onto a periodic grid of n >= 4 max|k| cells (about 2 count; n a
// power of two, so an oversampling of 2 to 4) with the "exponential of
// semicircle" kernel
//   phi(z) = exp(beta (sqrt(1 - z^2) - 1)),  |z| <= 1,
// which covers w = 8 cells, beta = 2.30 w (the choice of Barnett et al. for
// an oversampling of 2: errors near 1e-7 relative to the l2 norm of F). One
// FFT of the grid then gives the sums of the spread strengths, and dividing
// mode k by the kernel's Fourier transform at k / n (computed by
// Gauss-Legendre quadrature, as the kernel has no closed form) undoes the
// spreading. The work is O(N w + n log n), the memory O(N w + n) (52 bytes
// a point in the plan, besides the FFT tables); nothing is
// quadratic, and the accuracy does not depend on the times or strengths.
//
// make does what depends on the times alone (kernel values, grid cells and
// phases of every point, the FFT tables, the deconvolution factors) once; a
// made plan is read-only, so several threads may transform with it at once,
// each with its own NufftPlan::Work.
class NufftPlan {
 public:
  NufftPlan();
  ~NufftPlan();
  NufftPlan(NufftPlan&&) noexcept;
  NufftPlan& operator=(NufftPlan&&) noexcept;

  // Prepares the transform of the times `time` (any order, repeats allowed)
  // to count frequencies from f_first in steps of df. Refused: no time or a
  // time that is not finite, count below 1 or above 2^28, df not positive or
  // not finite, f_first or origin not finite; out is then left as it was.
  // The plan keeps no reference to `time`. `cancelled` is asked every
  // 65536 points; when it returns true the call is refused as interrupted.
  // What depends on count alone (the FFT tables and the deconvolution
  // factors) is taken from `like` when that is a plan of the same count,
  // which is how a run that makes many plans of one band (the windows of an
  // uneven record, a record's values and its steps) makes it once.
  static Status make(std::span<const double> time, double origin, double f_first, double df,
                     int count, NufftPlan& out, const std::function<bool()>& cancelled = {},
                     const NufftPlan* like = nullptr);

  std::size_t points() const { return cell_.size(); }
  int frequencies() const { return count_; }
  // The grid length n: the transform's work memory is 32 n + O(w) bytes.
  std::size_t grid_length() const { return n_; }

  // The work buffers of one thread; sized by the first transform.
  struct Work {
    std::vector<double> spread, re, im;  // spread: (re, im) of each padded cell
  };

  // F(m) of real strengths (points() of them) into out (frequencies()
  // values). Nothing is checked beyond the sizes, which must hold.
  // `cancelled` is asked every 65536 points; once it returns true the
  // transform stops and out is unspecified.
  void transform(std::span<const double> strength, std::span<std::complex<double>> out,
                 Work& work, const std::function<bool()>& cancelled = {}) const;
  // The same for complex strengths.
  void transform(std::span<const std::complex<double>> strength,
                 std::span<std::complex<double>> out, Work& work,
                 const std::function<bool()>& cancelled = {}) const;
  // The transforms of `sets` sets of real strengths at once (set s at
  // strength[s * points() ..], its F at out[s * frequencies() ..]), each
  // the same to the bit as its own transform, in less time: every point's
  // tables are read once and the sets' grids fill side by side. The work
  // memory grows by 16 n bytes a set.
  void transform_sets(std::span<const double> strength, std::size_t sets,
                      std::span<std::complex<double>> out, Work& work,
                      const std::function<bool()>& cancelled = {}) const;

 private:
  template <typename Strength>
  void run(const Strength& strength, std::size_t sets, std::span<std::complex<double>> out,
           Work& work, const std::function<bool()>& cancelled) const;

  int count_ = 0;
  std::size_t n_ = 0;
  // Point j covers the cells cell_[j] .. cell_[j] + w - 1 of the padded
  // grid (cell c there is grid cell c - w / 2, wrapped), with the kernel
  // values kernel_[j * w ..] and the phase e^{2 pi i fc (t(j) - origin)}.
  std::vector<std::uint32_t> cell_;
  // Kernel values in single precision: their rounding adds errors near
  // 1e-8 relative, far below the kernel's own.
  std::vector<float> kernel_;
  std::vector<double> phase_re_, phase_im_;
  // What depends on count alone; shared, read-only, between plans of one count.
  struct Frame;
  std::shared_ptr<const Frame> frame_;
};

}  // namespace quorvane::spectral
