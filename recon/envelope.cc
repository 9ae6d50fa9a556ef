#include "recon/envelope.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <numbers>
#include <string>

namespace quorvane::recon {
namespace {

// Weight of the first value of each summation pass: the single-precision
// constant 1.0E-4 (9.999999747378752E-05), used in double.
constexpr double kFirstWeight = static_cast<double>(1.0e-4f);

std::string refusal(float f, const char* reason) {
  char text[160];
  std::snprintf(text, sizeof text, "cannot reconstruct at frequency %g: %s", static_cast<double>(f),
                reason);
  return text;
}

bool finite(Complex z) { return std::isfinite(z.real()) && std::isfinite(z.imag()); }

std::size_t at(int row, int column, int ld) {
  return static_cast<std::size_t>(column) * static_cast<std::size_t>(ld) +
         static_cast<std::size_t>(row);
}

Status fail(EnvelopeWork& work, float f, const char* reason) {
  for (Complex& z : work.zenv) z = Complex(0.0, 0.0);
  return Status::failure(refusal(f, reason));
}

}  // namespace

Complex scaled_divide(Complex a, Complex b) {
  const double scale = std::max(std::abs(b.real()), std::abs(b.imag()));
  const double ar = a.real() / scale;
  const double ai = a.imag() / scale;
  const double br = b.real() / scale;
  const double bi = b.imag() / scale;
  const double den = br * br + bi * bi;
  return Complex((ar * br + ai * bi) / den, (ai * br - ar * bi) / den);
}

void cossin(std::span<double> c, std::span<double> s, double c1, double s1, double f, double t) {
  if (c.empty()) return;
  const double theta = 2.0 * std::numbers::pi * f * t;
  const double ct = std::cos(theta);
  const double st = std::sin(theta);
  c[0] = c1;
  s[0] = s1;
  for (std::size_t i = 1; i < c.size(); ++i) {
    c[i] = c[i - 1] * ct - s[i - 1] * st;
    s[i] = c[i - 1] * st + s[i - 1] * ct;
  }
}

bool nearest_bin(float f, const ReconGrid& grid, int nbins, int& bin, float& delta) {
  if (!std::isfinite(f)) return false;
  const float position = (f - grid.f0) / grid.df;
  // Anything outside this window has no bin in the band; it also keeps the
  // integer conversion below in range.
  if (!(position > -2.0f && position < static_cast<float>(nbins) + 1.0f)) return false;
  int j = static_cast<int>(position) + 1;  // 1-based, truncated toward zero
  const float fj = static_cast<float>(j - 1) * grid.df + grid.f0;
  float offset;
  if (2.0f * (f - fj) > grid.df) {
    j += 1;
    offset = fj + grid.df - f;
  } else {
    offset = fj - f;
  }
  if (j < 1 || j > nbins) return false;
  bin = j - 1;
  delta = offset;
  return true;
}

bool fillup(float f, const ReconGrid& grid, const EnvelopeInputs& in, EnvelopeWork& work) {
  const int nknot = grid.nknot;
  const int nwin = grid.nwin;
  int bin = 0;
  float delta = 0.0f;
  if (!nearest_bin(f, grid, in.nbins, bin, delta)) return false;

  work.ctab.resize(static_cast<std::size_t>(nknot));
  work.stab.resize(static_cast<std::size_t>(nknot));
  cossin(work.ctab, work.stab, 1.0, 0.0, delta, grid.tknot);

  const double mstep = grid.mstep;
  work.bvec.resize(static_cast<std::size_t>(nwin));
  for (int k = 0; k < nwin; ++k) {
    const std::size_t j = at(bin, k, in.nbins);
    work.bvec[static_cast<std::size_t>(k)] =
        Complex(2.0 * in.yr[j] / mstep, 2.0 * in.yi[j] / mstep);
  }

  work.amat.resize(static_cast<std::size_t>(nknot) * static_cast<std::size_t>(nwin));
  for (int k = 0; k < nwin; ++k) {
    for (int l = 0; l < nknot; ++l) {
      const double v = in.v[at(l, k, nknot)];
      const std::size_t ul = static_cast<std::size_t>(l);
      work.amat[at(l, k, nknot)] = Complex(v * work.ctab[ul], -(v * work.stab[ul]));
    }
  }
  return true;
}

void premult(int icode, const ReconGrid& grid, EnvelopeWork& work) {
  const int nknot = grid.nknot;
  const int nwin = grid.nwin;
  work.dwt.assign(static_cast<std::size_t>(nknot), 1.0);

  work.gvec.resize(static_cast<std::size_t>(nwin));
  for (int k = 0; k < nwin; ++k) {
    Complex sum(0.0, 0.0);
    for (int l = 0; l < nknot; ++l) sum += work.dwt[static_cast<std::size_t>(l)] * work.amat[at(l, k, nknot)];
    work.gvec[static_cast<std::size_t>(k)] = std::conj(sum);
  }

  // Suffix sums are the adjoint of the prefix sums that postmult applies, so
  // the transformed system constrains the differences of the envelope.
  for (int pass = 0; pass < icode; ++pass) {
    for (int k = 0; k < nwin; ++k) {
      Complex* column = work.amat.data() + at(0, k, nknot);
      for (int l = nknot - 2; l >= 0; --l) column[l] += column[l + 1];
      column[0] = Complex(column[0].real() / kFirstWeight, column[0].imag() / kFirstWeight);
    }
  }
}

void zbacktr(int k, int ldx, const Complex* r, const Complex* rhs, Complex* u, int job) {
  for (int j = 0; j < k; ++j) u[j] = rhs[j];
  for (int j = 0; j < k; ++j) {
    Complex sum(0.0, 0.0);
    for (int i = 0; i < j; ++i) sum += std::conj(r[at(i, j, ldx)]) * u[i];
    u[j] = scaled_divide(u[j] - sum, std::conj(r[at(j, j, ldx)]));
  }
  if (job == 1) return;
  for (int j = k - 1; j >= 0; --j) {
    Complex sum(0.0, 0.0);
    for (int i = j + 1; i < k; ++i) sum += r[at(j, i, ldx)] * u[i];
    u[j] = scaled_divide(u[j] - sum, r[at(j, j, ldx)]);
  }
}

void postmult(int icode, std::span<Complex> z, Complex cmean, std::span<const double> dwt) {
  for (int pass = 0; pass < icode; ++pass) {
    z[0] = Complex(z[0].real() / kFirstWeight, z[0].imag() / kFirstWeight);
    for (std::size_t l = 1; l < z.size(); ++l) z[l] = z[l - 1] + z[l];
  }
  for (std::size_t l = 0; l < z.size(); ++l) z[l] = z[l] + cmean * dwt[l];
}

Status envel(float f, int icode, const ReconGrid& grid, const EnvelopeInputs& in,
             EnvelopeWork& work) {
  const int nknot = grid.nknot;
  const int nwin = grid.nwin;
  work.zenv.assign(static_cast<std::size_t>(nknot > 0 ? nknot : 0), Complex(0.0, 0.0));
  work.cmean = Complex(0.0, 0.0);
  if (nwin < 1 || nwin > nknot) return fail(work, f, "more tapers than envelope knots");
  if (!fillup(f, grid, in, work)) return fail(work, f, "it lies outside the transform band");
  premult(icode, grid, work);

  work.qraux.resize(static_cast<std::size_t>(nwin));
  if (qr_factor(nknot, nwin, work.amat.data(), work.qraux.data(), work.lapack_work) != 0) {
    return fail(work, f, "the envelope system could not be factorised");
  }
  for (int j = 0; j < nwin; ++j) {
    const Complex pivot = work.amat[at(j, j, nknot)];
    if (pivot == Complex(0.0, 0.0) || !finite(pivot)) {
      return fail(work, f, "the envelope system is singular");
    }
  }

  work.uvec.resize(static_cast<std::size_t>(nwin));
  const auto project = [&](const std::vector<Complex>& rhs) {
    zbacktr(nwin, nknot, work.amat.data(), rhs.data(), work.uvec.data(), 2);
    Complex sum(0.0, 0.0);
    for (int k = 0; k < nwin; ++k) {
      const std::size_t uk = static_cast<std::size_t>(k);
      sum += std::conj(work.gvec[uk]) * work.uvec[uk];
    }
    return sum;
  };
  const Complex s1 = project(work.bvec);
  const Complex s2 = project(work.gvec);
  if (s2 == Complex(0.0, 0.0) || !finite(s2)) {
    return fail(work, f, "the constant level of the envelope is undetermined");
  }
  work.cmean = scaled_divide(s1, s2);
  for (int k = 0; k < nwin; ++k) {
    const std::size_t uk = static_cast<std::size_t>(k);
    work.bvec[uk] = work.bvec[uk] - work.cmean * work.gvec[uk];
  }

  // Least-norm solution of the transformed system: Q·[R^-H·b; 0].
  zbacktr(nwin, nknot, work.amat.data(), work.bvec.data(), work.zenv.data(), 1);
  if (qr_apply_q(nknot, nwin, work.amat.data(), work.qraux.data(), work.zenv.data(),
                 work.lapack_work) != 0) {
    return fail(work, f, "the envelope system could not be solved");
  }
  postmult(icode, work.zenv, work.cmean, work.dwt);
  for (const Complex& z : work.zenv) {
    if (!finite(z)) return fail(work, f, "the envelope is not finite");
  }
  return Status::success();
}

}  // namespace quorvane::recon
