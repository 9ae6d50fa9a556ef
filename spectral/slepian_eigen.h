// The program's own solver for the few smallest eigenpairs of the negated
// Slepian tridiagonal matrix (the fast taper path).
#pragma once

#include <memory_resource>
#include <span>

namespace quorvane::spectral {

// The eigenvectors of eigenvalues 1..count (ascending) of the symmetric
// tridiagonal matrix with diagonal d (n entries) and off-diagonal e (n - 1
// entries; e[i] couples rows i and i + 1; no zero in e), as
// smallest_tridiagonal_eigenpairs (lapack_tridiagonal.h) finds them: unit
// length, largest component positive. They are converted to single
// precision and written to v (column k at v[k * n], n * count values),
// without a double eigenvector matrix; work storage comes from memory.
// Matrices outside the reach of the folded method (not persymmetric, too
// many eigenpairs asked, eigenvalues not alternating in parity) are handed to
// LAPACK.
void smallest_slepian_eigenvectors_single(std::span<const double> d, std::span<const double> e,
                                          int count, float* v, std::pmr::memory_resource* memory);

}  // namespace quorvane::spectral
