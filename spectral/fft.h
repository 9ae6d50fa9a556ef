// The system's discrete Fourier transform.
#pragma once

#include <span>

namespace quorvane::spectral {

// In-place radix-2 decimation-in-time complex FFT in double precision, with
// the positive exponent and no scaling:
//   X(j) = sum_m x(m) exp(+2 pi i j m / nn),  nn = xr.size() = xi.size().
// xr and xi hold the real and imaginary parts; nn must be a power of two.
// The twiddle factor of each stage is carried by a rotation recurrence, not
// taken from a table, so results match the program's reference arithmetic.
void fft2(std::span<double> xr, std::span<double> xi);

}  // namespace quorvane::spectral
