// The Slepian tridiagonal matrix and the program's own solver for its few
// smallest eigenpairs (the fast taper path).
#pragma once

#include <cstddef>
#include <functional>
#include <memory_resource>

namespace quorvane::spectral {

// The negated Slepian tridiagonal matrix of order n for a half-bandwidth W
// with cs = cos(2 pi W):
//   d(i) = -((n-1)/2 - i)^2 cs,  e(i) = -(i + 1)(n - i - 1) / 2  (0-based),
// where e(i) couples rows i and i + 1. Negation turns the best-concentrated
// sequences (largest eigenvalues) into the smallest ones, which bisection
// selects by index. Every path takes its entries from these two functions,
// so the fast and the reference paths see the same bits.
inline double slepian_diagonal(std::size_t n, double cs, std::size_t i) {
  const double t = (static_cast<double>(n) - 1.0) / 2.0 - static_cast<double>(i);
  return -(t * t) * cs;
}
inline double slepian_off_diagonal(std::size_t n, std::size_t i) {
  const double j = static_cast<double>(i + 1);
  return -(static_cast<double>(n) - j) * j / 2.0;
}

// The eigenvectors of eigenvalues 1..count (ascending) of that matrix, as
// LAPACK's dstebz/dstein find them (unit length, largest component
// positive), converted to single precision and written to v (column k at
// v[k * n], n * count values), without a double eigenvector matrix and
// without the full matrix in memory; work storage comes from memory.
// done(k) is called once column k is complete, possibly on a second thread
// and in any order, so that work on the column can start while the others
// are still being solved; calls for different columns may run at the same
// time. Requires n >= 1 and 1 <= count <= n. Where the folded method does
// not reach (more than 16 eigenpairs, eigenvalues not alternating in
// parity), LAPACK solves the full matrix instead, and it overwrites columns
// already reported done before reporting them again.
using ColumnDone = std::function<void(std::size_t column)>;
void smallest_slepian_eigenvectors_single(std::size_t n, double cs, int count, float* v,
                                          const ColumnDone& done, std::pmr::memory_resource* memory);

// The most storage smallest_slepian_eigenvectors_single takes from its
// memory resource for a matrix of order n: for each half problem the
// reciprocal pivots, multipliers and row swaps of its factorisation and one
// double vector, 25 bytes per value of its order; the two orders add up to n.
std::size_t slepian_work_bytes(std::size_t n);

}  // namespace quorvane::spectral
