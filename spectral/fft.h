// The system's discrete Fourier transform.
#pragma once

#include <cstdint>
#include <span>

namespace quorvane::spectral {

// In-place radix-2 decimation-in-time complex FFT in double precision, with
// the positive exponent and no scaling:
//   X(j) = sum_m x(m) exp(+2 pi i j m / nn),  nn = xr.size() = xi.size().
// xr and xi hold the real and imaginary parts; nn must be a power of two.
// The twiddle factor of each stage is carried by a rotation recurrence, not
// taken from a table, so results match the program's reference arithmetic.
void fft2(std::span<double> xr, std::span<double> xi);

// fft2 without its first step, for data already in bit-reversed order:
// element m of the sequence at index order[m] (bit_reversal_order). A
// caller that fills the vectors anyway can place the values there directly
// and save the exchange pass; the result is exactly that of fft2.
void fft2_bit_reversed(std::span<double> xr, std::span<double> xi);

// order[m] = the index where fft2's bit-reversal permutation moves element m
// (order.size() a power of two). The permutation is its own inverse.
void bit_reversal_order(std::span<std::uint32_t> order);

}  // namespace quorvane::spectral
