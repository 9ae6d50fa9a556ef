// The program's own solver for the few smallest eigenpairs of the negated
// Slepian tridiagonal matrix (the fast taper path).
#pragma once

#include <memory_resource>
#include <span>
#include <vector>

namespace quorvane::spectral {

// Same contract as smallest_tridiagonal_eigenpairs (lapack_tridiagonal.h):
// eigenvalues 1..count in ascending order and their unit-norm eigenvectors,
// column k at z[k * n]. d has n entries, e has n - 1 (e[i] couples rows i and
// i + 1); the matrix must be unreduced (no zero in e).
void smallest_slepian_eigenpairs(const std::vector<double>& d, const std::vector<double>& e,
                                 int count, std::vector<double>& eigenvalues,
                                 std::vector<double>& z);

// The same eigenvectors converted to single precision, written to v (column
// k at v[k * n], n * count values), without the double eigenvector matrix;
// work storage comes from memory.
void smallest_slepian_eigenvectors_single(std::span<const double> d, std::span<const double> e,
                                          int count, float* v, std::pmr::memory_resource* memory);

}  // namespace quorvane::spectral
