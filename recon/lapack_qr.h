// Complex Householder QR factorisation without pivoting, and the product of
// its unitary factor with a vector: the only LAPACK the reconstruction uses
// (zgeqrf and zunmqr). Nothing outside this pair of files sees the Fortran
// calling conventions.
#pragma once

#include <complex>
#include <vector>

namespace quorvane::recon {

using Complex = std::complex<double>;

// Factorises the m x n column-major matrix a (leading dimension m, m >= n
// >= 1) as Q·R: on return R is in the upper triangle of a, the Householder
// vectors below it and their scalars in tau[0..n-1]. work is scratch, resized
// as needed (keep it between calls to avoid reallocation). Returns LAPACK's
// info (0 on success).
int qr_factor(int m, int n, Complex* a, Complex* tau, std::vector<Complex>& work);

// Replaces y[0..m-1] by Q·y, Q being the unitary factor left in a and tau by
// qr_factor(m, n, ...). Returns LAPACK's info (0 on success).
int qr_apply_q(int m, int n, const Complex* a, const Complex* tau, Complex* y,
               std::vector<Complex>& work);

}  // namespace quorvane::recon
