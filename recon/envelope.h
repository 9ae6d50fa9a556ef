// Envelope inversion: the complex envelope of one signal at the knots of the
// reconstruction grid, from the K eigencoefficients of the series at the
// signal's frequency.
//
// The K coefficients give K linear equations in the L >= K knot values, so
// the envelope is underdetermined. A constant complex level cmean is taken
// out unpenalised; of the remaining solutions envel keeps the one of least
// norm (icode 0), least first differences (icode 1) or least second
// differences (icode 2) - in general icode passes of summation, a negative
// icode acting as 0. The first value of each summation pass carries the
// weight 1.0E-4, which leaves it nearly free.
//
// Every routine here works on storage owned by one reconstruction run; none
// prints or keeps state of its own.
#pragma once

#include <complex>
#include <span>
#include <vector>

#include "recon/lapack_qr.h"
#include "common/status.h"

namespace quorvane::recon {

// The reconstruction grid of one run: transform length, band and knots.
struct ReconGrid {
  int nfft = 8192;   // transform length: 8192, or the next power of two above a longer series
  int nknot = 0;     // L, number of envelope knots, ceiling(npts / mstep) <= 500
  float f0 = 0.0f;   // frequency of bin i0 = 0, where the band starts
  float df = 0.0f;   // bin spacing 1/(dt·nfft)
  float f1 = 0.0f;   // frequency of the Nyquist bin, (nfreq - 1)·df + f0
  int nfreq = 0;     // i1 - i0 + 1 bins in the band
  float tknot = 0.0f;  // knot spacing in time, mstep·dt
  int nwin = 0;      // K, number of tapers
  int mstep = 1;     // samples between knots, (npts - 1)/500 + 1
};

// What envel reads besides the grid: the eigencoefficients of the series and
// the tapers at the knots.
struct EnvelopeInputs {
  int nbins = 0;          // bins kept, 0 .. nbins - 1
  std::vector<float> yr;  // yr[k * nbins + j]: real part of taper k's transform at bin j
  std::vector<float> yi;  // imaginary part, same layout
  std::vector<float> v;   // v[k * nknot + l]: taper k at knot l (every mstep-th sample)
};

// Working storage of envel; sized on first use, reused across calls.
struct EnvelopeWork {
  std::vector<Complex> amat;   // L x K column-major: the system, then its QR factors
  std::vector<Complex> bvec;   // K: right-hand side
  std::vector<Complex> gvec;   // K: the system's response to a constant envelope
  std::vector<Complex> qraux;  // K: Householder scalars of the factorisation
  std::vector<Complex> uvec;   // K: solution of the triangular solves
  std::vector<Complex> zenv;   // L: the envelope at the knots (the result)
  std::vector<double> ctab;    // L: cos of the offset carrier at the knots
  std::vector<double> stab;    // L: sin of the offset carrier at the knots
  std::vector<double> dwt;     // L: knot weights, all 1
  Complex cmean;               // the constant level separated from the envelope
  std::vector<Complex> lapack_work;
};

// Complex division a/b with both operands first scaled by the larger
// component of b, which keeps the intermediate products in range.
Complex scaled_divide(Complex a, Complex b);

// Rotation recurrence in double precision: c[0] = c1, s[0] = s1 and each next
// pair is the previous one turned by theta = 2·pi·f·t (cos and sin of theta
// taken once). With c1 = 1, s1 = 0: c[i] = cos(2·pi·f·i·t), s[i] likewise.
// Fills c.size() entries; s must be at least as long.
void cossin(std::span<double> c, std::span<double> s, double c1, double s1, double f, double t);

// The transform bin nearest to frequency f (a target exactly half-way keeps
// the lower bin) and delta = (frequency of that bin) - f, in single
// precision. Returns false, leaving bin and delta unset, when f is not finite
// or its bin lies outside 0 .. nbins - 1.
bool nearest_bin(float f, const ReconGrid& grid, int nbins, int& bin, float& delta);

// Builds amat(l, k) = v(l, k)·exp(-2·pi·i·delta·l·tknot) and
// bvec(k) = 2·(yr + i·yi)(bin, k) / mstep at the bin nearest to f.
// Returns false when f has no bin in the stored band.
bool fillup(float f, const ReconGrid& grid, const EnvelopeInputs& in, EnvelopeWork& work);

// Sets dwt to 1, gvec(k) = conj(sum over l of dwt(l)·amat(l, k)) from the
// untransformed amat, then icode times turns every column of amat into its
// suffix sums and divides its first entry by 1.0E-4.
void premult(int icode, const ReconGrid& grid, EnvelopeWork& work);

// Triangular solves with the upper triangle r (K x K, leading dimension ldx)
// of a factorised matrix: job 1 gives u = R^-H·rhs, any other job
// u = (R^H·R)^-1·rhs. u and rhs may be the same storage. The caller
// guarantees a nonzero diagonal.
void zbacktr(int k, int ldx, const Complex* r, const Complex* rhs, Complex* u, int job);

// Undoes the transform of premult on the envelope: icode times, divide the
// first value by 1.0E-4 and take prefix sums; then add cmean·dwt(l).
void postmult(int icode, std::span<Complex> z, Complex cmean, std::span<const double> dwt);

// The envelope zenv[0..L-1] at frequency f under constraint icode. It
// reproduces the coefficients it was fitted to:
//   sum over l of conj(amat0(l, k))·zenv(l) = bvec0(k),  k = 0..K-1,
// amat0 and bvec0 being what fillup builds. Failure (f outside the stored
// band, more tapers than knots, a vanishing pivot of the factorisation, a
// vanishing constraint norm, or a non-finite result) is returned with a
// message, and zenv is then all zero.
Status envel(float f, int icode, const ReconGrid& grid, const EnvelopeInputs& in,
             EnvelopeWork& work);

}  // namespace quorvane::recon
