// The system's discrete Fourier transform.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <span>
#include <vector>

namespace quorvane::spectral {

// pi to 15 significant digits, the value the transform's twiddles and the
// Slepian taper matrix are computed with. It lies 3e-15 below the double
// nearest pi; keeping it keeps the double-precision transforms and tapers
// reproducible bit for bit (the single-precision spectra did not change in
// any case checked with the nearer value, but the transforms do).
inline constexpr double kPi15 = 3.14159265358979;

// In-place radix-2 decimation-in-time complex FFT in double precision, with
// the positive exponent and no scaling:
//   X(j) = sum_m x(m) exp(+2 pi i j m / nn),  nn = xr.size() = xi.size().
// xr and xi hold the real and imaginary parts; nn must be a power of two.
// The twiddle factor of each stage is carried by a rotation recurrence (one
// cos and sin per stage, not a table); its rounding is part of every result,
// which is therefore bit for bit that of the classic loop nest.
void fft2(std::span<double> xr, std::span<double> xi);

// fft2 without its first step, for data already in bit-reversed order:
// element m of the sequence at index order[m] (bit_reversal_order). A
// caller that fills the vectors anyway can place the values there directly
// and save the exchange pass; the result is exactly that of fft2.
void fft2_bit_reversed(std::span<double> xr, std::span<double> xi);

// order[m] = the index where fft2's bit-reversal permutation moves element m
// (order.size() a power of two). The permutation is its own inverse.
void bit_reversal_order(std::span<std::uint32_t> order);

// A transform length with its bit-reversal order, computed once and shared
// by every transform of a run in either engine: each transform places its
// input straight into transform order and so skips fft2's exchange pass,
// with exactly fft2's result.
class FftPlan {
 public:
  // nn must be a power of two; the order is kept in memory.
  explicit FftPlan(std::size_t nn,
                   std::pmr::memory_resource* memory = std::pmr::get_default_resource());

  std::size_t size() const { return order_.size(); }

  // fft2 of the real sequence x(0..count-1) zero-padded to size(), where
  // value(t) gives x(t) as a double. xr and xi (size() values each) receive
  // the transform; count must not exceed size().
  template <typename Value>
  void transform_real(std::size_t count, const Value& value, std::span<double> xr,
                      std::span<double> xi) const {
    std::fill(xi.begin(), xi.end(), 0.0);
    for (std::size_t i = 0; i < xr.size(); ++i) {
      const std::size_t t = order_[i];
      xr[i] = t < count ? value(t) : 0.0;
    }
    fft2_bit_reversed(xr, xi);
  }

 private:
  std::pmr::vector<std::uint32_t> order_;
};

}  // namespace quorvane::spectral
