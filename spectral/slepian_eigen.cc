#include "spectral/slepian_eigen.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory_resource>
#include <span>
#include <vector>

#include "spectral/lapack_tridiagonal.h"
#include "spectral/two_halves.h"

namespace quorvane::spectral {

// How this finds the same eigenpairs as LAPACK's dstebz/dstein, faster:
// - The Slepian matrix is persymmetric (d(i) = d(N-1-i), and so is the
//   off-diagonal), so its eigenvectors are symmetric or antisymmetric about
//   the centre, and the eigenpairs of each kind are those of a tridiagonal
//   matrix of half the order (the "folded" matrices below). The sequences of
//   even order are symmetric and those of odd order antisymmetric, so each
//   half problem needs only half of the eigenpairs, and the two run on two
//   threads.
// - The smallest eigenvalues lie within a few tens (for large time-bandwidth
//   products a few ten-thousands) of the Gershgorin lower bound, while the
//   spectrum spans about N^2/2: bisection starts from a short bracket that a
//   geometric ladder of Sturm counts above that bound provides, and ends at
//   the relative tolerance of dstebz (two units in the last place).
// - The Sturm recurrences of several shifts run side by side in vector
//   lanes, so their divisions overlap.
// - Each eigenvector comes from inverse iteration with the converged
//   eigenvalue as shift, like dstein, and is normalised like dstein (unit
//   length, largest component positive).
namespace {

// Two doubles per vector: the width every x86-64 and AArch64 unit has.
using Lanes = double __attribute__((vector_size(16)));
using LaneMask = long long __attribute__((vector_size(16)));
constexpr int kLanes = 2;
constexpr int kMaxShifts = 8;

using Doubles = std::pmr::vector<double>;

struct Matrix {
  const double* d;
  const double* e2;  // squared off-diagonal, e2[i] couples rows i and i + 1
  std::size_t n;
  double pivmin;
};

// counts[s] = number of eigenvalues below or at shifts[s], for V * kLanes
// shifts in one sweep.
template <int V>
void sturm_sweep(const Matrix& m, const double* shifts, int* counts) {
  // Branch-free form of "if |t| < pivmin then t = -pivmin" (which keeps the
  // next division finite) and of "count t <= 0", in bit operations that
  // every vector unit has.
  const LaneMask sign_bit = LaneMask{} + static_cast<long long>(0x8000000000000000ull);
  const Lanes pivmin = Lanes{} + m.pivmin;
  const LaneMask neg_pivmin = (LaneMask)pivmin | sign_bit;
  const Lanes zero = Lanes{};
  Lanes shift[V], q[V];
  LaneMask c[V];
  auto guard = [&](Lanes t) {
    const LaneMask bits = (LaneMask)t;
    const LaneMask small = (Lanes)(bits & ~sign_bit) < pivmin;
    return (Lanes)((bits & ~small) | (neg_pivmin & small));
  };
  for (int v = 0; v < V; ++v) {
    for (int l = 0; l < kLanes; ++l) shift[v][l] = shifts[v * kLanes + l];
    q[v] = guard(m.d[0] - shift[v]);
    c[v] = -(q[v] <= zero);
  }
  for (std::size_t i = 1; i < m.n; ++i) {
    const double di = m.d[i];
    const double ei = m.e2[i - 1];
#pragma GCC unroll 4
    for (int v = 0; v < V; ++v) {
      q[v] = guard(di - ei / q[v] - shift[v]);
      c[v] -= (q[v] <= zero);
    }
  }
  for (int v = 0; v < V; ++v) {
    for (int l = 0; l < kLanes; ++l) counts[v * kLanes + l] = static_cast<int>(c[v][l]);
  }
}

// Up to kMaxShifts shifts; unused lanes repeat the last shift.
void sturm_counts(const Matrix& m, const double* shifts, int nshift, int* counts) {
  double padded[kMaxShifts];
  int all[kMaxShifts];
  for (int s = 0; s < kMaxShifts; ++s) padded[s] = shifts[std::min(s, nshift - 1)];
  if (nshift <= kLanes) {
    sturm_sweep<1>(m, padded, all);
  } else if (nshift <= 2 * kLanes) {
    sturm_sweep<2>(m, padded, all);
  } else {
    sturm_sweep<4>(m, padded, all);
  }
  for (int s = 0; s < nshift; ++s) counts[s] = all[s];
}

// The count smallest eigenvalues (count <= kMaxShifts), ascending.
// e2 is work space of at least n values.
void smallest_eigenvalues(const Doubles& d, const Doubles& e, int count, Doubles& e2,
                          std::vector<double>& values) {
  const std::size_t n = d.size();
  const std::size_t uk = static_cast<std::size_t>(count);
  double gl = d[0], gu = d[0], emax2 = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double left = i > 0 ? std::fabs(e[i - 1]) : 0.0;
    const double right = i + 1 < n ? std::fabs(e[i]) : 0.0;
    if (i + 1 < n) {
      e2[i] = e[i] * e[i];
      emax2 = std::max(emax2, e2[i]);
    }
    gl = std::min(gl, d[i] - left - right);
    gu = std::max(gu, d[i] + left + right);
  }
  const Matrix m{d.data(), e2.data(), n, std::numeric_limits<double>::min() * std::max(1.0, emax2)};
  // Widen the Gershgorin interval a little, as dstebz does, so that its ends
  // stay strict bounds despite rounding.
  constexpr double eps = std::numeric_limits<double>::epsilon();
  const double margin = 2.1 * eps * std::max(std::fabs(gl), std::fabs(gu)) + 2.1 * m.pivmin;
  gl -= margin;
  gu += margin;

  // Invariant: count(lo[k]) <= k < count(hi[k]), so eigenvalue k lies in
  // (lo[k], hi[k]]. Every Sturm count narrows every bracket it informs.
  std::vector<double> lo(uk, gl), hi(uk, gu);
  double shifts[kMaxShifts];
  int counts[kMaxShifts];
  auto narrow = [&](int nshift) {
    sturm_counts(m, shifts, nshift, counts);
    for (int s = 0; s < nshift; ++s) {
      for (std::size_t k = 0; k < uk; ++k) {
        if (counts[s] > static_cast<int>(k)) {
          hi[k] = std::min(hi[k], shifts[s]);
        } else {
          lo[k] = std::max(lo[k], shifts[s]);
        }
      }
    }
  };
  // Geometric ladder above the lower bound.
  double step = 1.0;
  for (bool covered = false; !covered;) {
    for (int s = 0; s < kMaxShifts; ++s, step *= 2.0) shifts[s] = std::min(gl + step, gu);
    narrow(kMaxShifts);
    covered = counts[kMaxShifts - 1] >= count || shifts[kMaxShifts - 1] >= gu;
  }
  // Multisection to the tolerance of dstebz (kEigenTolerance): a sweep with
  // eight shifts costs about what a sweep with two does, so the open brackets
  // share the eight shifts, several points each.
  const double abstol = kEigenTolerance;
  std::vector<std::size_t> open;
  for (;;) {
    open.clear();
    for (std::size_t k = 0; k < uk; ++k) {
      const double tol = std::max({abstol, m.pivmin, 2.0 * eps * std::max(std::fabs(lo[k]), std::fabs(hi[k]))});
      const double mid = 0.5 * (lo[k] + hi[k]);
      if (hi[k] - lo[k] < tol || mid <= lo[k] || mid >= hi[k]) continue;
      open.push_back(k);
    }
    if (open.empty()) break;
    const int points = std::max(1, kMaxShifts / static_cast<int>(open.size()));
    int nshift = 0;
    for (std::size_t k : open) {
      for (int j = 1; j <= points && nshift < kMaxShifts; ++j) {
        shifts[nshift++] = lo[k] + (hi[k] - lo[k]) * j / (points + 1);
      }
    }
    narrow(nshift);
  }
  values.resize(uk);
  for (std::size_t k = 0; k < uk; ++k) values[k] = 0.5 * (lo[k] + hi[k]);
}

// LU factorisation with partial pivoting of the tridiagonal matrix T - shift
// (the scheme of LAPACK's dlagtf) and solves with it. Tiny pivots are
// replaced by a small multiple of the matrix norm, so that a shift equal to
// an eigenvalue still yields a (huge) solution in the eigenvector's
// direction.
struct TridiagonalLu {
  Doubles a, b, c, d2;
  std::pmr::vector<unsigned char> swapped;

  explicit TridiagonalLu(std::pmr::memory_resource* memory)
      : a(memory), b(memory), c(memory), d2(memory), swapped(memory) {}

  void reserve(std::size_t n) {
    a.resize(n);
    b.resize(n);
    c.resize(n);
    d2.resize(n);
    swapped.resize(n);
  }

  void factor(const Doubles& diag, const Doubles& off, double shift) {
    const std::size_t n = diag.size();
    a.resize(n);
    b.assign(n, 0.0);
    c.assign(n, 0.0);
    d2.assign(n, 0.0);
    swapped.assign(n, 0);
    double norm = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      a[i] = diag[i] - shift;
      norm = std::max(norm, std::fabs(diag[i]) + (i > 0 ? std::fabs(off[i - 1]) : 0.0) +
                                (i + 1 < n ? std::fabs(off[i]) : 0.0));
    }
    for (std::size_t i = 0; i + 1 < n; ++i) {
      b[i] = off[i];
      c[i] = off[i];
    }
    for (std::size_t k = 0; k + 1 < n; ++k) {
      if (std::fabs(a[k]) >= std::fabs(c[k])) {
        const double mult = a[k] != 0.0 ? c[k] / a[k] : 0.0;
        c[k] = mult;
        a[k + 1] -= mult * b[k];
      } else {
        const double mult = a[k] / c[k];
        a[k] = c[k];
        const double temp = a[k + 1];
        a[k + 1] = b[k] - mult * temp;
        if (k + 2 < n) {
          d2[k] = b[k + 1];
          b[k + 1] = -mult * d2[k];
        }
        b[k] = temp;
        c[k] = mult;
        swapped[k] = 1;
      }
    }
    // The solves multiply by reciprocal pivots: a multiplication does not
    // stall the back substitution the way a division does.
    const double tiny = std::numeric_limits<double>::epsilon() * norm;
    for (std::size_t i = 0; i < n; ++i) {
      if (std::fabs(a[i]) < tiny) a[i] = a[i] < 0.0 ? -tiny : tiny;
      a[i] = 1.0 / a[i];
    }
  }

  void solve(Doubles& y) const {
    const std::size_t n = y.size();
    for (std::size_t k = 0; k + 1 < n; ++k) {
      if (swapped[k]) {
        const double temp = y[k];
        y[k] = y[k + 1];
        y[k + 1] = temp - c[k] * y[k];
      } else {
        y[k + 1] -= c[k] * y[k];
      }
    }
    y[n - 1] *= a[n - 1];
    if (n >= 2) y[n - 2] = (y[n - 2] - b[n - 2] * y[n - 1]) * a[n - 2];
    for (std::size_t k = n - 2; k-- > 0;) {
      y[k] = (y[k] - b[k] * y[k + 1] - d2[k] * y[k + 2]) * a[k];
    }
  }
};

// Inverse iteration for one eigenvalue from a fixed pseudo-random start.
// Two solves are ample: the shift is within a few units in the last place
// of the eigenvalue and the neighbouring eigenvalues are O(1) away, so each
// solve shrinks the other components by a factor of about 1e-8, and two
// take them below the rounding of the solves themselves.
void eigenvector(const Doubles& d, const Doubles& e, double value, std::uint32_t seed,
                 TridiagonalLu& lu, Doubles& y) {
  const std::size_t n = d.size();
  y.resize(n);
  if (n == 1) {
    y[0] = 1.0;
    return;
  }
  lu.factor(d, e, value);
  std::uint32_t state = seed * 2654435761u + 12345u;
  for (std::size_t i = 0; i < n; ++i) {
    state = state * 1664525u + 1013904223u;
    y[i] = static_cast<double>(state >> 8) / 16777216.0 - 0.5;
  }
  for (int iteration = 0; iteration < 2; ++iteration) {
    double big = 0.0;
    for (double x : y) big = std::max(big, std::fabs(x));
    for (double& x : y) x /= big;
    lu.solve(y);
  }
}

// One half problem: the count smallest eigenpairs of a folded matrix.
struct HalfProblem {
  Doubles d, e;  // folded matrix
  int count = 0;
  std::vector<double> values;
  std::pmr::vector<Doubles> vectors;
  Doubles e2;
  TridiagonalLu lu;

  explicit HalfProblem(std::pmr::memory_resource* memory)
      : d(memory), e(memory), vectors(memory), e2(memory), lu(memory) {}

  // All storage is taken before the work starts: the solves never allocate.
  void prepare() {
    const std::size_t n = d.size();
    e2.assign(n, 0.0);
    lu.reserve(n);
    vectors.resize(static_cast<std::size_t>(std::max(count, 0)));
    for (Doubles& v : vectors) v.resize(n);
    values.reserve(static_cast<std::size_t>(std::max(count, 0)));
  }

  void solve() {
    if (count <= 0) return;
    smallest_eigenvalues(d, e, count, e2, values);
    for (int k = 0; k < count; ++k) {
      eigenvector(d, e, values[static_cast<std::size_t>(k)], static_cast<std::uint32_t>(k + 1), lu,
                  vectors[static_cast<std::size_t>(k)]);
    }
  }
};

bool is_persymmetric(std::span<const double> d, std::span<const double> e) {
  const std::size_t n = d.size();
  for (std::size_t i = 0; i < n / 2; ++i) {
    if (d[i] != d[n - 1 - i]) return false;
  }
  for (std::size_t i = 0; i + 1 < n; ++i) {
    if (e[i] != e[n - 2 - i] || e[i] == 0.0) return false;
  }
  return true;
}

}  // namespace

namespace {

// Solves both half problems and checks the parity order; false when the
// check fails (the caller then keeps to LAPACK).
bool solve_folded(std::span<const double> d, std::span<const double> e, int count,
                  HalfProblem& sym, HalfProblem& anti, std::vector<double>& eigenvalues) {
  const std::size_t n = d.size();
  const std::size_t uk = static_cast<std::size_t>(count);
  // Fold: with h = N/2 (rounded down), a symmetric vector is determined by
  // its first ceil(N/2) entries, an antisymmetric one by its first h.
  const std::size_t h = n / 2;
  const bool odd = n % 2 == 1;
  sym.d.assign(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(odd ? h + 1 : h));
  sym.e.assign(e.begin(), e.begin() + static_cast<std::ptrdiff_t>(odd ? h : h - 1));
  anti.d.assign(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(h));
  anti.e.assign(e.begin(), e.begin() + static_cast<std::ptrdiff_t>(h - 1));
  if (odd) {
    // The centre row couples to both neighbours, equal by symmetry; scaling
    // the centre entry by sqrt(2) keeps the folded matrix symmetric.
    sym.e[h - 1] = std::sqrt(2.0) * e[h - 1];
  } else {
    sym.d[h - 1] = d[h - 1] + e[h - 1];
    anti.d[h - 1] = d[h - 1] - e[h - 1];
  }
  sym.count = (count + 1) / 2;  // orders 0, 2, 4, ...
  anti.count = count / 2;       // orders 1, 3, 5, ...

  sym.prepare();
  anti.prepare();
  if (n >= 2048 && anti.count > 0) {
    run_two_halves([&sym] { sym.solve(); }, [&anti] { anti.solve(); });
  } else {
    sym.solve();
    anti.solve();
  }

  // The orders alternate in parity (a property of the Slepian sequences);
  // check it on the eigenvalues.
  eigenvalues.assign(uk, 0.0);
  for (std::size_t k = 0; k < uk; ++k) {
    eigenvalues[k] = k % 2 == 0 ? sym.values[k / 2] : anti.values[k / 2];
  }
  for (std::size_t k = 1; k < uk; ++k) {
    if (!(eigenvalues[k - 1] < eigenvalues[k])) return false;
  }
  return true;
}

// Unfolds eigenvector k to full length, normalised like dstein (unit length,
// largest component positive), and writes it in single precision.
void unfold(const HalfProblem& sym, const HalfProblem& anti, std::size_t n, std::size_t k, float* out) {
  const Doubles& y = k % 2 == 0 ? sym.vectors[k / 2] : anti.vectors[k / 2];
  const std::size_t h = n / 2;
  const bool odd = n % 2 == 1;
  const double mirror = k % 2 == 0 ? 1.0 : -1.0;
  const double centre = odd && k % 2 == 0 ? std::sqrt(2.0) * y[h] : 0.0;
  // Sum of squares in index order over the full vector; the first largest
  // magnitude decides the sign.
  double ssq = 0.0;
  double peak = 0.0;
  double peak_value = 0.0;
  auto visit = [&](double x) {
    ssq += x * x;
    if (std::fabs(x) > peak) {
      peak = std::fabs(x);
      peak_value = x;
    }
  };
  for (std::size_t i = 0; i < h; ++i) visit(y[i]);
  if (odd) visit(centre);
  for (std::size_t i = h; i-- > 0;) visit(mirror * y[i]);
  const double scale = (peak_value < 0.0 ? -1.0 : 1.0) / std::sqrt(ssq);
  for (std::size_t i = 0; i < h; ++i) {
    out[i] = static_cast<float>(y[i] * scale);
    out[n - 1 - i] = static_cast<float>(mirror * y[i] * scale);
  }
  if (odd) out[h] = static_cast<float>(centre * scale);
}

bool fast_path_applies(std::span<const double> d, std::span<const double> e, int count) {
  return d.size() >= 2 && count > 0 && count <= 2 * kMaxShifts && is_persymmetric(d, e);
}

}  // namespace

void smallest_slepian_eigenvectors_single(std::span<const double> d, std::span<const double> e,
                                          int count, float* v, std::pmr::memory_resource* memory) {
  const std::size_t n = d.size();
  HalfProblem sym(memory), anti(memory);
  std::vector<double> eigenvalues;
  if (!fast_path_applies(d, e, count) || !solve_folded(d, e, count, sym, anti, eigenvalues)) {
    std::vector<double> z;
    smallest_tridiagonal_eigenpairs(std::vector<double>(d.begin(), d.end()),
                                    std::vector<double>(e.begin(), e.end()), count,
                                    kEigenTolerance, eigenvalues, z);
    for (std::size_t i = 0; i < z.size(); ++i) v[i] = static_cast<float>(z[i]);
    return;
  }
  for (std::size_t k = 0; k < static_cast<std::size_t>(count); ++k) unfold(sym, anti, n, k, v + k * n);
}

}  // namespace quorvane::spectral
