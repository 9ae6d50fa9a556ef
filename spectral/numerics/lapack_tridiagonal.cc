#include "spectral/numerics/lapack_tridiagonal.h"

#include <algorithm>
#include <cstddef>
#include <numeric>

extern "C" {
void dstebz_(const char* range, const char* order, const int* n, const double* vl,
             const double* vu, const int* il, const int* iu, const double* abstol,
             const double* d, const double* e, int* m, int* nsplit, double* w, int* iblock,
             int* isplit, double* work, int* iwork, int* info, std::size_t range_len,
             std::size_t order_len);
void dstein_(const int* n, const double* d, const double* e, const int* m, const double* w,
             const int* iblock, const int* isplit, double* z, const int* ldz, double* work,
             int* iwork, int* ifail, int* info);
void dsyev_(const char* jobz, const char* uplo, const int* n, double* a, const int* lda, double* w,
            double* work, const int* lwork, int* info, std::size_t jobz_len, std::size_t uplo_len);
}

namespace quorvane::spectral {

int smallest_tridiagonal_eigenpairs(const std::vector<double>& d, const std::vector<double>& e,
                                    int count, double abstol, std::vector<double>& eigenvalues,
                                    std::vector<double>& z) {
  const std::size_t un = d.size();
  const int n = static_cast<int>(un);
  // LAPACK reads e[0..n-2]; one spare element keeps the pointer valid for n = 1.
  // Copied element by element: GCC 12 at -O3 takes the count of copy_n for
  // one that may wrap below zero (-Wstringop-overflow).
  std::vector<double> off(un + 1, 0.0);
  for (std::size_t i = 0; i + 1 < un; ++i) off[i] = e[i];

  const double vl = 0.0, vu = 0.0;
  const int il = 1, iu = count;
  int m = 0, nsplit = 0, info = 0;
  std::vector<double> w(un + 1);
  std::vector<int> iblock(un + 1), isplit(un + 1), iwork(3 * un + 1);
  std::vector<double> work(4 * un + 1);
  dstebz_("I", "E", &n, &vl, &vu, &il, &iu, &abstol, d.data(), off.data(), &m, &nsplit, w.data(),
          iblock.data(), isplit.data(), work.data(), iwork.data(), &info, 1, 1);
  const std::size_t um = static_cast<std::size_t>(std::max(m, 0));

  // Order 'E' lists the values in ascending order over the whole matrix;
  // dstein wants them grouped by diagonal block. The Slepian matrix never
  // splits (its off-diagonal is at least (N - 1)/2), but stay correct if a
  // matrix does.
  std::vector<std::size_t> by_block(um);
  std::iota(by_block.begin(), by_block.end(), std::size_t{0});
  std::stable_sort(by_block.begin(), by_block.end(),
                   [&](std::size_t a, std::size_t b) { return iblock[a] < iblock[b]; });
  std::vector<double> w_grouped(um + 1);
  std::vector<int> block_grouped(um + 1);
  for (std::size_t k = 0; k < um; ++k) {
    w_grouped[k] = w[by_block[k]];
    block_grouped[k] = iblock[by_block[k]];
  }

  std::vector<double> z_grouped(un * um + 1);
  std::vector<double> work2(5 * un + 1);
  std::vector<int> iwork2(un + 1), ifail(um + 1);
  int info2 = 0;
  const int ldz = std::max(n, 1);
  dstein_(&n, d.data(), off.data(), &m, w_grouped.data(), block_grouped.data(), isplit.data(),
          z_grouped.data(), &ldz, work2.data(), iwork2.data(), ifail.data(), &info2);

  eigenvalues.assign(static_cast<std::size_t>(count), 0.0);
  z.assign(un * static_cast<std::size_t>(count), 0.0);
  for (std::size_t k = 0; k < um && k < static_cast<std::size_t>(count); ++k) {
    const std::size_t src = by_block[k];  // ascending position of grouped column k
    eigenvalues[src] = w_grouped[k];
    std::copy_n(z_grouped.begin() + static_cast<std::ptrdiff_t>(k * un), un,
                z.begin() + static_cast<std::ptrdiff_t>(src * un));
  }
  return info != 0 ? info : info2;
}

int symmetric_eigenpairs(int n, std::vector<double>& a, std::vector<double>& eigenvalues) {
  eigenvalues.assign(static_cast<std::size_t>(std::max(n, 0)), 0.0);
  if (n < 1) return 0;
  const int lda = n;
  // dsyev's blocked reduction wants at least 3n - 1 work values; a few
  // times more lets it use its block size.
  const int lwork = std::max(1, 66 * n);
  std::vector<double> work(static_cast<std::size_t>(lwork));
  int info = 0;
  dsyev_("V", "L", &n, a.data(), &lda, eigenvalues.data(), work.data(), &lwork, &info, 1, 1);
  return info;
}

}  // namespace quorvane::spectral
