// The one place where the spectral library calls LAPACK: the smallest
// eigenpairs of a real symmetric tridiagonal matrix by bisection (dstebz)
// and inverse iteration (dstein), and every eigenpair of a small dense
// symmetric matrix (dsyev).
#pragma once

#include <vector>

namespace quorvane::spectral {

// The absolute bisection tolerance for the eigenvalues of the Slepian taper
// matrix: 1.0e-13 as a single-precision constant widened to double
// (9.9999998e-14). Inverse iteration starts from the eigenvalues where
// bisection stopped, so this value, rounding included, is part of the
// tapers' last bits; the fast solver stops at the same place.
inline constexpr double kEigenTolerance = static_cast<double>(1.0e-13f);

// Eigenvalues 1..count (in ascending order) of the symmetric tridiagonal
// matrix with diagonal d (n entries) and off-diagonal e (n - 1 entries; e[i]
// couples rows i and i + 1), found by bisection with absolute tolerance
// abstol, and their unit-norm eigenvectors by inverse iteration.
// Writes count eigenvalues to eigenvalues and the eigenvectors column by
// column (column k at z[k * n]) to z; both are resized. Returns LAPACK's
// info code (that of dstebz if it failed, else that of dstein; 0 on
// success). Callers may ignore it: inverse iteration still leaves a usable
// vector when it reports slow convergence.
int smallest_tridiagonal_eigenpairs(const std::vector<double>& d, const std::vector<double>& e,
                                    int count, double abstol, std::vector<double>& eigenvalues,
                                    std::vector<double>& z);

// Every eigenpair of the symmetric n x n matrix a (n * n values, column by
// column; only the lower triangle is read), by LAPACK's dsyev: the
// eigenvalues in ascending order into eigenvalues (resized to n), and a
// overwritten by the unit-norm eigenvectors (column k at a[k * n]). Returns
// LAPACK's info code (0 on success). For the small projected matrices of
// iterative eigensolvers; the work grows as n^3.
int symmetric_eigenpairs(int n, std::vector<double>& a, std::vector<double>& eigenvalues);

}  // namespace quorvane::spectral
