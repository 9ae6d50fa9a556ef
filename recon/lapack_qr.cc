#include "recon/lapack_qr.h"

#include <algorithm>
#include <cstddef>

extern "C" {
void zgeqrf_(const int* m, const int* n, std::complex<double>* a, const int* lda,
             std::complex<double>* tau, std::complex<double>* work, const int* lwork, int* info);
// The trailing lengths are the hidden lengths of the two character arguments.
void zunmqr_(const char* side, const char* trans, const int* m, const int* n, const int* k,
             const std::complex<double>* a, const int* lda, const std::complex<double>* tau,
             std::complex<double>* c, const int* ldc, std::complex<double>* work,
             const int* lwork, int* info, std::size_t side_len, std::size_t trans_len);
}

namespace quorvane::recon {
namespace {

// LAPACK reports the optimal work size as the real part of work[0] after a
// query with lwork = -1; the buffer grows to it once and is reused.
int reserve(std::vector<Complex>& work, const Complex& query, int minimum) {
  int wanted = std::max(minimum, static_cast<int>(query.real()));
  if (static_cast<int>(work.size()) < wanted) work.resize(static_cast<std::size_t>(wanted));
  return static_cast<int>(work.size());
}

}  // namespace

int qr_factor(int m, int n, Complex* a, Complex* tau, std::vector<Complex>& work) {
  int info = 0;
  int lwork = -1;
  Complex query;
  zgeqrf_(&m, &n, a, &m, tau, &query, &lwork, &info);
  if (info != 0) return info;
  lwork = reserve(work, query, std::max(1, n));
  zgeqrf_(&m, &n, a, &m, tau, work.data(), &lwork, &info);
  return info;
}

int qr_apply_q(int m, int n, const Complex* a, const Complex* tau, Complex* y,
               std::vector<Complex>& work) {
  const char side = 'L';
  const char trans = 'N';
  const int columns = 1;
  int info = 0;
  int lwork = -1;
  Complex query;
  zunmqr_(&side, &trans, &m, &columns, &n, a, &m, tau, y, &m, &query, &lwork, &info, 1, 1);
  if (info != 0) return info;
  lwork = reserve(work, query, 1);
  zunmqr_(&side, &trans, &m, &columns, &n, a, &m, tau, y, &m, work.data(), &lwork, &info, 1, 1);
  return info;
}

}  // namespace quorvane::recon
