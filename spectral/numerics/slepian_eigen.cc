#include "spectral/numerics/slepian_eigen.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory_resource>
#include <span>
#include <vector>

#include "spectral/numerics/lapack_tridiagonal.h"
#include "spectral/numerics/two_halves.h"

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
//   the relative tolerance of dstebz (two units in the last place). Above
//   65536 values, Newton steps on the characteristic polynomial replace most
//   of the bisection (newton_refine).
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

// One folded half of the Slepian matrix, its entries generated from the
// formula as they are needed: only the last row differs from the leading
// block of the full matrix (see fold below).
struct HalfMatrix {
  std::size_t n = 0;       // order of the half
  std::size_t length = 0;  // order of the full matrix
  double cs = 0.0;
  double last_diag = 0.0;  // d(n - 1) of the half
  double last_off = 0.0;   // e(n - 2) of the half

  double diag(std::size_t i) const {
    return i + 1 == n ? last_diag : slepian_diagonal(length, cs, i);
  }
  // Couples rows i and i + 1.
  double off(std::size_t i) const { return i + 2 == n ? last_off : slepian_off_diagonal(length, i); }
};

struct Matrix {
  const HalfMatrix* half;
  double pivmin;
};

// Branch-free form of "if |t| < pivmin then t = -pivmin", which keeps the
// next division of a Sturm recurrence finite, in bit operations that every
// vector unit has.
class PivotGuard {
 public:
  explicit PivotGuard(double pivmin)
      : pivmin_(Lanes{} + pivmin), neg_pivmin_((LaneMask)pivmin_ | kSignBit) {}
  Lanes operator()(Lanes t) const {
    const LaneMask bits = (LaneMask)t;
    const LaneMask small = (Lanes)(bits & ~kSignBit) < pivmin_;
    return (Lanes)((bits & ~small) | (neg_pivmin_ & small));
  }

 private:
  static constexpr LaneMask kSignBit = {static_cast<long long>(0x8000000000000000ull),
                                        static_cast<long long>(0x8000000000000000ull)};
  Lanes pivmin_;
  LaneMask neg_pivmin_;
};

// counts[s] = number of eigenvalues below or at shifts[s], for V * kLanes
// shifts in one sweep.
template <int V>
void sturm_sweep(const Matrix& m, const double* shifts, int* counts) {
  // Counting "t <= 0" is branch-free too: a comparison's mask is -1.
  const PivotGuard guard(m.pivmin);
  const Lanes zero = Lanes{};
  Lanes shift[V], q[V];
  LaneMask c[V];
  const HalfMatrix& h = *m.half;
  for (int v = 0; v < V; ++v) {
    shift[v] = Lanes{shifts[v * kLanes], shifts[v * kLanes + 1]};
    q[v] = guard(h.diag(0) - shift[v]);
    c[v] = -(q[v] <= zero);
  }
  for (std::size_t i = 1; i < h.n; ++i) {
    const double di = h.diag(i);
    const double off = h.off(i - 1);
    const double ei = off * off;
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

// One sweep of the Sturm recurrence that also carries its derivative in the
// shift: for each of the V * kLanes shifts, counts[s] as in sturm_sweep and
// traces[s] = d/dshift log|det(T - shift)| = -sum_j 1 / (lambda_j - shift),
// from which a Newton step towards the nearest eigenvalue is -1 / traces[s].
// The recurrence multiplies by the reciprocal of each pivot, which serves
// both the next pivot and the derivative.
template <int V>
void newton_sweep(const Matrix& m, const double* shifts, int* counts, double* traces) {
  const PivotGuard guard(m.pivmin);
  const Lanes zero = Lanes{};
  const Lanes one = zero + 1.0;
  Lanes shift[V], q[V], dq[V], trace[V];
  LaneMask c[V];
  const HalfMatrix& h = *m.half;
  for (int v = 0; v < V; ++v) {
    shift[v] = Lanes{shifts[v * kLanes], shifts[v * kLanes + 1]};
    q[v] = guard(h.diag(0) - shift[v]);
    dq[v] = zero - one;
    trace[v] = zero;
    c[v] = -(q[v] <= zero);
  }
  for (std::size_t i = 1; i < h.n; ++i) {
    const double di = h.diag(i);
    const double off = h.off(i - 1);
    const double ei = off * off;
#pragma GCC unroll 4
    for (int v = 0; v < V; ++v) {
      const Lanes r = one / q[v];
      trace[v] += dq[v] * r;
      const Lanes er = ei * r;
      dq[v] = er * r * dq[v] - one;
      // di - shift does not wait for the previous pivot.
      q[v] = guard((di - shift[v]) - er);
      c[v] -= (q[v] <= zero);
    }
  }
  for (int v = 0; v < V; ++v) {
    trace[v] += dq[v] / q[v];
    for (int l = 0; l < kLanes; ++l) {
      counts[v * kLanes + l] = static_cast<int>(c[v][l]);
      traces[v * kLanes + l] = trace[v][l];
    }
  }
}

void newton_counts(const Matrix& m, const double* shifts, int nshift, int* counts, double* traces) {
  double padded[kMaxShifts];
  int all[kMaxShifts];
  double all_traces[kMaxShifts];
  for (int s = 0; s < kMaxShifts; ++s) padded[s] = shifts[std::min(s, nshift - 1)];
  if (nshift <= kLanes) {
    newton_sweep<1>(m, padded, all, all_traces);
  } else if (nshift <= 2 * kLanes) {
    newton_sweep<2>(m, padded, all, all_traces);
  } else {
    newton_sweep<4>(m, padded, all, all_traces);
  }
  for (int s = 0; s < nshift; ++s) {
    counts[s] = all[s];
    traces[s] = all_traces[s];
  }
}

// Bisection halves a bracket per count; at a million values it takes about
// twenty halvings per eigenvalue. Newton's method on det(T - shift), whose
// step the derivative sweep gives, doubles the correct digits per sweep once
// a bracket holds a single eigenvalue. Lengths up to kBisectionOnlyLength
// keep to multisection alone: its end points fix the last bits of the
// tapers there, and those stay as they are.
constexpr std::size_t kBisectionOnlyLength = 65536;

// A Newton step below this many tolerances ends the refinement: the
// rounding of the recurrence keeps later steps from settling much below the
// tolerance, and the error left after such a step is its square over the
// distance to the next eigenvalue, far below the tolerance.
constexpr double kNewtonSettled = 64.0;

// Bisection alone would narrow the whole Gershgorin interval (about N^2) to
// the tolerance in well under this many sweeps; a guard, not a budget.
constexpr int kMaxRefineSweeps = 200;

// Refines the brackets (lo[k], hi[k]] of eigenvalues k = 0..count-1, as the
// ladder leaves them with the Sturm counts at their ends, to values[k]: a
// Newton step from a point of a bracket that holds eigenvalue k alone,
// bisection otherwise or where the step leaves the bracket. Every sweep's
// counts narrow every bracket. An eigenvalue is done when its Newton step
// settles (kNewtonSettled) or its bracket falls below twice its tolerance.
template <typename Tolerance>
void newton_refine(const Matrix& m, std::vector<double>& lo, std::vector<double>& hi,
                   std::vector<int>& lo_count, std::vector<int>& hi_count, Tolerance tolerance,
                   std::vector<double>& values) {
  const std::size_t uk = lo.size();
  std::vector<double> point(uk);
  std::vector<bool> done(uk, false);
  values.assign(uk, 0.0);
  double shifts[kMaxShifts], traces[kMaxShifts];
  int counts[kMaxShifts];
  std::size_t owner[kMaxShifts];
  for (std::size_t k = 0; k < uk; ++k) point[k] = 0.5 * (lo[k] + hi[k]);
  for (int sweep = 0; sweep < kMaxRefineSweeps; ++sweep) {
    int nshift = 0;
    for (std::size_t k = 0; k < uk; ++k) {
      if (done[k]) continue;
      if (hi[k] - lo[k] < 2.0 * tolerance(k)) {
        values[k] = 0.5 * (lo[k] + hi[k]);
        done[k] = true;
        continue;
      }
      owner[nshift] = k;
      shifts[nshift++] = point[k];
    }
    if (nshift == 0) return;
    newton_counts(m, shifts, nshift, counts, traces);
    for (int s = 0; s < nshift; ++s) {
      for (std::size_t k = 0; k < uk; ++k) {
        if (counts[s] > static_cast<int>(k)) {
          if (shifts[s] < hi[k]) {
            hi[k] = shifts[s];
            hi_count[k] = counts[s];
          }
        } else if (shifts[s] > lo[k]) {
          lo[k] = shifts[s];
          lo_count[k] = counts[s];
        }
      }
    }
    for (int s = 0; s < nshift; ++s) {
      const std::size_t k = owner[s];
      const int kk = static_cast<int>(k);
      const bool alone = lo_count[k] == kk && hi_count[k] == kk + 1;
      const double step = -1.0 / traces[s];
      const double next = shifts[s] + step;
      // A settled step may be below the spacing of doubles at the shift.
      if (alone && std::fabs(step) < kNewtonSettled * tolerance(k)) {
        values[k] = std::clamp(next, lo[k], hi[k]);
        done[k] = true;
      } else if (alone && std::isfinite(next) && next > lo[k] && next <= hi[k]) {
        point[k] = next;
      } else {
        point[k] = 0.5 * (lo[k] + hi[k]);
      }
    }
  }
  for (std::size_t k = 0; k < uk; ++k) {
    if (!done[k]) values[k] = 0.5 * (lo[k] + hi[k]);
  }
}

// The count smallest eigenvalues (count <= kMaxShifts), ascending.
void smallest_eigenvalues(const HalfMatrix& h, int count, std::vector<double>& values) {
  const std::size_t n = h.n;
  const std::size_t uk = static_cast<std::size_t>(count);
  double gl = h.diag(0), gu = h.diag(0), emax2 = 0.0;
  double left = 0.0;  // |e(i - 1)|
  for (std::size_t i = 0; i < n; ++i) {
    const double di = h.diag(i);
    double right = 0.0;
    if (i + 1 < n) {
      const double off = h.off(i);
      right = std::fabs(off);
      emax2 = std::max(emax2, off * off);
    }
    gl = std::min(gl, di - left - right);
    gu = std::max(gu, di + left + right);
    left = right;
  }
  if (h.length > kBisectionOnlyLength) {
    // The half's eigenvalues are eigenvalues of the full matrix, whose
    // Gershgorin interval is the tighter one where the folding scaled the
    // centre coupling by sqrt(2) (odd N): the ladder then starts within a
    // few tens of the smallest eigenvalue at any length.
    gl = gu = slepian_diagonal(h.length, h.cs, 0);
    for (std::size_t i = 0; i < n; ++i) {
      const double di = slepian_diagonal(h.length, h.cs, i);
      const double band = (i > 0 ? std::fabs(slepian_off_diagonal(h.length, i - 1)) : 0.0) +
                          std::fabs(slepian_off_diagonal(h.length, i));
      gl = std::min(gl, di - band);
      gu = std::max(gu, di + band);
    }
  }
  const Matrix m{&h, std::numeric_limits<double>::min() * std::max(1.0, emax2)};
  // Widen the Gershgorin interval a little, as dstebz does, so that its ends
  // stay strict bounds despite rounding.
  constexpr double eps = std::numeric_limits<double>::epsilon();
  const double margin = 2.1 * eps * std::max(std::fabs(gl), std::fabs(gu)) + 2.1 * m.pivmin;
  gl -= margin;
  gu += margin;

  // Invariant: count(lo[k]) <= k < count(hi[k]), so eigenvalue k lies in
  // (lo[k], hi[k]]. Every Sturm count narrows every bracket it informs.
  // lo_count and hi_count hold the counts at the bracket ends.
  std::vector<double> lo(uk, gl), hi(uk, gu);
  std::vector<int> lo_count(uk, 0), hi_count(uk, static_cast<int>(n));
  double shifts[kMaxShifts];
  int counts[kMaxShifts];
  auto narrow = [&](int nshift) {
    sturm_counts(m, shifts, nshift, counts);
    for (int s = 0; s < nshift; ++s) {
      for (std::size_t k = 0; k < uk; ++k) {
        if (counts[s] > static_cast<int>(k)) {
          if (shifts[s] < hi[k]) hi_count[k] = counts[s];
          hi[k] = std::min(hi[k], shifts[s]);
        } else {
          if (shifts[s] > lo[k]) lo_count[k] = counts[s];
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
  auto tolerance = [&](std::size_t k) {
    return std::max({kEigenTolerance, m.pivmin, 2.0 * eps * std::max(std::fabs(lo[k]), std::fabs(hi[k]))});
  };
  if (h.length > kBisectionOnlyLength) {
    newton_refine(m, lo, hi, lo_count, hi_count, tolerance, values);
    return;
  }
  // Multisection to the tolerance of dstebz (kEigenTolerance): a sweep with
  // eight shifts costs about what a sweep with two does, so the open brackets
  // share the eight shifts, several points each.
  std::vector<std::size_t> open;
  for (;;) {
    open.clear();
    for (std::size_t k = 0; k < uk; ++k) {
      const double tol = tolerance(k);
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
// direction. Only the reciprocal pivots, the multipliers and the row swaps
// are stored: the two superdiagonals of U follow from them and the matrix
// (upper and second below), which saves a third of the storage.
struct TridiagonalLu {
  const HalfMatrix* matrix = nullptr;
  double shift = 0.0;
  Doubles a, c;
  std::pmr::vector<unsigned char> swapped;

  explicit TridiagonalLu(std::pmr::memory_resource* memory) : a(memory), c(memory), swapped(memory) {}

  void reserve(std::size_t n) {
    a.resize(n);
    c.resize(n);
    swapped.resize(n);
  }

  // U(k, k + 1), k + 1 < n: where rows k and k + 1 were swapped, the
  // diagonal entry of row k + 1 as it was then (untouched); below a swapped
  // row, the off-diagonal scaled by the elimination of the row above;
  // otherwise the off-diagonal itself.
  double upper(std::size_t k) const {
    if (swapped[k]) return matrix->diag(k + 1) - shift;
    if (k > 0 && swapped[k - 1]) return -c[k - 1] * matrix->off(k);
    return matrix->off(k);
  }

  // U(k, k + 2), k + 2 < n: nonzero only in a swapped row, where it is the
  // untouched off-diagonal e(k + 1).
  double second(std::size_t k) const { return swapped[k] ? matrix->off(k + 1) : 0.0; }

  // One pass over the matrix after the norm: row k is final, and its pivot
  // is inverted, as soon as the elimination has passed it.
  void factor(const HalfMatrix& t, double value) {
    matrix = &t;
    shift = value;
    const std::size_t n = t.n;
    a.resize(n);
    c.resize(n);
    swapped.resize(n);
    double norm = 0.0;
    double left = 0.0;  // |e(i - 1)|
    for (std::size_t i = 0; i < n; ++i) {
      const double right = i + 1 < n ? std::fabs(t.off(i)) : 0.0;
      norm = std::max(norm, std::fabs(t.diag(i)) + left + right);
      left = right;
    }
    // The solves multiply by reciprocal pivots: a multiplication does not
    // stall the back substitution the way a division does.
    const double tiny = std::numeric_limits<double>::epsilon() * norm;
    auto invert = [tiny](double pivot) {
      if (std::fabs(pivot) < tiny) pivot = pivot < 0.0 ? -tiny : tiny;
      return 1.0 / pivot;
    };
    double ak = t.diag(0) - shift;        // a(k) as the elimination leaves it
    double bk = n >= 2 ? t.off(0) : 0.0;  // U(k, k + 1) likewise
    for (std::size_t k = 0; k + 1 < n; ++k) {
      const double ck = t.off(k);
      double next_a = t.diag(k + 1) - shift;
      double next_b = k + 2 < n ? t.off(k + 1) : 0.0;
      if (std::fabs(ak) >= std::fabs(ck)) {
        const double mult = ak != 0.0 ? ck / ak : 0.0;
        next_a -= mult * bk;
        a[k] = invert(ak);
        c[k] = mult;
        swapped[k] = 0;
      } else {
        const double mult = ak / ck;
        const double temp = next_a;
        next_a = bk - mult * temp;
        if (k + 2 < n) next_b = -mult * next_b;
        a[k] = invert(ck);
        c[k] = mult;
        swapped[k] = 1;
      }
      ak = next_a;
      bk = next_b;
    }
    a[n - 1] = invert(ak);
    c[n - 1] = 0.0;
    swapped[n - 1] = 0;
  }

  // Solves (T - shift) x = y / scale in place and returns the largest |x|.
  double solve(Doubles& y, double scale) const {
    const std::size_t n = y.size();
    double current = y[0] / scale;  // y(k) as the forward pass leaves it
    for (std::size_t k = 0; k + 1 < n; ++k) {
      const double next = y[k + 1] / scale;
      if (swapped[k]) {
        y[k] = next;
        current = current - c[k] * next;
      } else {
        y[k] = current;
        current = next - c[k] * current;
      }
    }
    y[n - 1] = current * a[n - 1];
    double big = std::fabs(y[n - 1]);
    if (n >= 2) {
      y[n - 2] = (y[n - 2] - upper(n - 2) * y[n - 1]) * a[n - 2];
      big = std::max(big, std::fabs(y[n - 2]));
    }
    for (std::size_t k = n - 2; k-- > 0;) {
      y[k] = (y[k] - upper(k) * y[k + 1] - second(k) * y[k + 2]) * a[k];
      big = std::max(big, std::fabs(y[k]));
    }
    return big;
  }
};

// Inverse iteration for one eigenvalue from a fixed pseudo-random start.
// Two solves are ample: the shift is within a few units in the last place
// of the eigenvalue and the neighbouring eigenvalues are O(1) away, so each
// solve shrinks the other components by a factor of about 1e-8, and two
// take them below the rounding of the solves themselves. Each solve starts
// from the previous result divided by its largest magnitude.
void eigenvector(const HalfMatrix& t, double value, std::uint32_t seed, TridiagonalLu& lu, Doubles& y) {
  const std::size_t n = t.n;
  y.resize(n);
  if (n == 1) {
    y[0] = 1.0;
    return;
  }
  lu.factor(t, value);
  std::uint32_t state = seed * 2654435761u + 12345u;
  double big = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    state = state * 1664525u + 1013904223u;
    y[i] = static_cast<double>(state >> 8) / 16777216.0 - 0.5;
    big = std::max(big, std::fabs(y[i]));
  }
  for (int iteration = 0; iteration < 2; ++iteration) big = lu.solve(y, big);
}

// Writes eigenvector y of a half problem (order `order` of the full
// sequence: even orders symmetric, odd ones antisymmetric) to full length n,
// normalised like dstein (unit length, largest component positive), in
// single precision.
void unfold(const Doubles& y, std::size_t n, std::size_t order, float* out) {
  const std::size_t h = n / 2;
  const bool odd = n % 2 == 1;
  const bool symmetric = order % 2 == 0;
  const double mirror = symmetric ? 1.0 : -1.0;
  const double centre = odd && symmetric ? std::sqrt(2.0) * y[h] : 0.0;
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

// One half problem: the count smallest eigenpairs of a folded matrix, whose
// eigenvectors are the full sequences of orders first, first + 2, ...
// Each eigenvector goes to the output as soon as it is found, so one double
// vector serves them all.
struct HalfProblem {
  HalfMatrix matrix;
  int count = 0;
  std::size_t first = 0;
  std::vector<double> values;
  Doubles y;
  TridiagonalLu lu;

  explicit HalfProblem(std::pmr::memory_resource* memory) : y(memory), lu(memory) {}

  // All storage is taken before the work starts: the solves never allocate.
  void prepare() {
    if (count <= 0) return;
    lu.reserve(matrix.n);
    y.resize(matrix.n);
    values.reserve(static_cast<std::size_t>(count));
  }

  void solve(float* v, const ColumnDone& done) {
    if (count <= 0) return;
    smallest_eigenvalues(matrix, count, values);
    for (std::size_t k = 0; k < static_cast<std::size_t>(count); ++k) {
      eigenvector(matrix, values[k], static_cast<std::uint32_t>(k + 1), lu, y);
      const std::size_t order = first + 2 * k;
      unfold(y, matrix.length, order, v + order * matrix.length);
      done(order);
    }
  }
};

// Fold: a symmetric vector is determined by its first ceil(N/2) entries, an
// antisymmetric one by its first h = floor(N/2), and the eigenpairs of each
// kind are those of the leading block of that order with its last row
// changed.
void fold(std::size_t n, double cs, HalfMatrix& sym, HalfMatrix& anti) {
  const std::size_t h = n / 2;
  const bool odd = n % 2 == 1;
  for (HalfMatrix* half : {&sym, &anti}) {
    half->length = n;
    half->cs = cs;
  }
  sym.n = odd ? h + 1 : h;
  anti.n = h;
  sym.last_diag = slepian_diagonal(n, cs, sym.n - 1);
  anti.last_diag = slepian_diagonal(n, cs, anti.n - 1);
  sym.last_off = sym.n >= 2 ? slepian_off_diagonal(n, sym.n - 2) : 0.0;
  anti.last_off = anti.n >= 2 ? slepian_off_diagonal(n, anti.n - 2) : 0.0;
  if (odd) {
    // The centre row couples to both neighbours, equal by symmetry; scaling
    // the centre entry by sqrt(2) keeps the folded matrix symmetric.
    sym.last_off = std::sqrt(2.0) * slepian_off_diagonal(n, h - 1);
  } else {
    // Row h - 1 meets its mirror image, row h, through e(h - 1).
    sym.last_diag += slepian_off_diagonal(n, h - 1);
    anti.last_diag -= slepian_off_diagonal(n, h - 1);
  }
}

// Solves both half problems into v and checks the parity order; false when
// the check fails (the caller then keeps to LAPACK, which overwrites v).
bool solve_folded(std::size_t n, double cs, int count, float* v, const ColumnDone& done,
                  std::pmr::memory_resource* memory) {
  HalfProblem sym(memory), anti(memory);
  fold(n, cs, sym.matrix, anti.matrix);
  sym.count = (count + 1) / 2;  // orders 0, 2, 4, ...
  anti.count = count / 2;       // orders 1, 3, 5, ...
  sym.first = 0;
  anti.first = 1;

  sym.prepare();
  anti.prepare();
  if (n >= 2048 && anti.count > 0) {
    run_two_halves([&sym, v, &done] { sym.solve(v, done); }, [&anti, v, &done] { anti.solve(v, done); });
  } else {
    sym.solve(v, done);
    anti.solve(v, done);
  }

  // The orders alternate in parity (a property of the Slepian sequences);
  // check it on the eigenvalues.
  const std::size_t uk = static_cast<std::size_t>(count);
  std::vector<double> eigenvalues(uk);
  for (std::size_t k = 0; k < uk; ++k) {
    eigenvalues[k] = k % 2 == 0 ? sym.values[k / 2] : anti.values[k / 2];
  }
  for (std::size_t k = 1; k < uk; ++k) {
    if (!(eigenvalues[k - 1] < eigenvalues[k])) return false;
  }
  return true;
}

}  // namespace

std::size_t slepian_work_bytes(std::size_t n) {
  // Per half problem: TridiagonalLu's a, c and swapped, and the vector y.
  constexpr std::size_t per_value = 3 * sizeof(double) + sizeof(unsigned char);
  return per_value * n;
}

void smallest_slepian_eigenvectors_single(std::size_t n, double cs, int count, float* v,
                                          const ColumnDone& done, std::pmr::memory_resource* memory) {
  if (n >= 2 && count <= 2 * kMaxShifts && solve_folded(n, cs, count, v, done, memory)) return;
  std::vector<double> d(n), e(n - 1), eigenvalues, z;
  for (std::size_t i = 0; i < n; ++i) d[i] = slepian_diagonal(n, cs, i);
  for (std::size_t i = 0; i + 1 < n; ++i) e[i] = slepian_off_diagonal(n, i);
  smallest_tridiagonal_eigenpairs(d, e, count, kEigenTolerance, eigenvalues, z);
  for (std::size_t i = 0; i < z.size(); ++i) v[i] = static_cast<float>(z[i]);
  for (std::size_t k = 0; k < static_cast<std::size_t>(count); ++k) done(k);
}

}  // namespace quorvane::spectral
