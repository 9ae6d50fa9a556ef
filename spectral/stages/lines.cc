#include "spectral/stages/lines.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>
#include <vector>

#include "spectral/numerics/two_halves.h"

namespace quorvane::spectral {

namespace {

using Complex = std::complex<double>;

constexpr double kTwoPi = 6.283185307179586;
// The zoom expands exp(-i theta s) over each block in a Taylor series of
// `terms` terms, with blocks short enough that |theta s| stays below
// `phase`: the first term left out is then below 1e-9 of the block's sum of
// magnitudes, far below the single precision of the results even summed
// over the blocks. More terms allow longer blocks: the zoom's own cost grows
// with the terms (one product per sample, taper and term), each evaluation's
// with the number of blocks; the cheaper pair for the record is taken.
struct Expansion {
  std::size_t terms;
  double phase;
};
constexpr Expansion kExpansions[] = {{4, 0.0124}, {6, 0.095}, {8, 0.28}, {12, 0.94}};
constexpr std::size_t kMaxTerms = 12;
constexpr std::size_t kMaxTapers = 8;
// Blocks of at most this many samples, so that long records keep many blocks
// and the rounding of each block's sums stays small.
constexpr std::size_t kMaxBlock = 1024;
constexpr int kGridPerRayleigh = 16;
// Tapered samples (values times tapers) from which the peaks' zooms share
// two threads.
constexpr std::size_t kTwoThreadWork = std::size_t{1} << 18;
constexpr int kGoldenSteps = 30;

// Four doubles: the lanes of the zoom's vector arithmetic. Lanes hold
// independent sums (the four partial sums of a dot product, or the
// evaluations at four offsets), so that each lane performs exactly the
// operations of the one-at-a-time arithmetic, in the same order, whatever
// the width the processor runs them at. The eight- and four-lane code
// exists only inlined into functions compiled for AVX2 (without FMA: every
// product and sum is rounded as in scalar code).
using Quad = double __attribute__((vector_size(32)));
constexpr std::size_t kQuad = 4;

// sum_u v[u] a[u], u < n, in four interleaved partial sums (u mod 4), which
// keep the processor's multiply-add units busy where one running sum would
// wait on each addition; the rest of n goes into the first.
double dot_sums(const float* v, const double* a, std::size_t n) {
  std::size_t u = 0;
  double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
  for (; u + 4 <= n; u += 4) {
    s0 += static_cast<double>(v[u]) * a[u];
    s1 += static_cast<double>(v[u + 1]) * a[u + 1];
    s2 += static_cast<double>(v[u + 2]) * a[u + 2];
    s3 += static_cast<double>(v[u + 3]) * a[u + 3];
  }
  for (; u < n; ++u) s0 += static_cast<double>(v[u]) * a[u];
  return (s0 + s1) + (s2 + s3);
}

bool has_avx2() { return __builtin_cpu_supports("avx2"); }

// The eigencoefficients of a record near one frequency fc: the record is
// shifted down by fc once, and its tapered sums over short blocks are
// expanded in powers of the position within the block. An offset delta then
// costs a few operations per block instead of a pass over the record:
//   Y_k(fc + delta) = sum_b exp(-i theta c_b) sum_m (-i theta h)^m / m! M(b, k, m),
// theta = 2 pi delta dt, c_b the block's centre, h its half-length and
// M(b, k, m) = sum_t v_k(t) x(t) exp(-2 pi i fc dt t) ((t - c_b) / h)^m.
class Zoom {
 public:
  // The zoom of the record x near fc, for offsets up to max_delta and
  // about `evaluations` evaluations; wide_tapers: the record's tapers as
  // doubles (taper k at k * npts), for the AVX2 arithmetic. A zoom is
  // prepared again for each peak and keeps its memory.
  void prepare(const std::vector<float>& x, const TaperedRecord& rec, const double* wide_tapers,
               double fc, double max_delta, int evaluations) {
    nwin_ = static_cast<std::size_t>(rec.nwin);
    dt_ = rec.dt;
    norm_ = rec.norm;
    const std::size_t n = x.size();
    const double most = kTwoPi * max_delta * static_cast<double>(rec.dt);
    double cheapest = 0.0;
    for (const Expansion& e : kExpansions) {
      const double longest = most > 0.0 ? 2.0 * e.phase / most : static_cast<double>(n);
      const std::size_t block = std::clamp<std::size_t>(
          static_cast<std::size_t>(std::min(longest, static_cast<double>(n))), 1, kMaxBlock);
      const double blocks = std::ceil(static_cast<double>(n) / static_cast<double>(block));
      const double work = static_cast<double>(n * nwin_ * e.terms) +
                          evaluations * blocks * static_cast<double>(nwin_ * e.terms + 4);
      if (cheapest == 0.0 || work < cheapest) {
        cheapest = work;
        terms_ = e.terms;
        block_ = block;
      }
    }
    half_ = static_cast<double>(block_) / 2.0;
    blocks_ = (n + block_ - 1) / block_;
    // The centre of block b is first_centre_ + b * block_.
    first_centre_ = half_ - 0.5;
    if (has_avx2()) {
      moments_wide(x, rec, wide_tapers, fc);
    } else {
      moments(x, rec, fc);
    }
  }

  // Y_k(fc + delta), k < K, divided by the record's normalisation.
  void at(double delta, std::vector<Complex>& y) const {
    y.resize(nwin_);
    if (has_avx2()) {
      at_by_taper(delta, y.data());
    } else {
      evaluate<double, 1>(&delta, y.data());
    }
  }

  // Y_k(fc + deltas[j]) into y[j * K + k], each exactly as `at` gives it:
  // four offsets at a time where the processor has AVX2. terms[j] holds
  // what offset_terms gives for deltas[j] on a zoom of the same layout.
  void at_each(const std::vector<double>& deltas, const std::vector<const double*>& terms,
               std::vector<Complex>& y) const {
    y.resize(deltas.size() * nwin_);
    std::size_t j = 0;
    if (has_avx2()) j = quads(terms.data(), deltas.size() / kQuad, y.data());
    for (; j < deltas.size(); ++j) evaluate<double, 1>(&deltas[j], &y[j * nwin_]);
  }

  // What an evaluation at offset delta computes before it reads the
  // moments, which depends on the offset and on the zoom's layout (block
  // and terms) alone, not on the peak: the factors (-i theta h)^m / m!
  // (real parts, then imaginary), then exp(-i theta c_0) and exp(-i theta
  // block) (real, imaginary), offset_stride() values. Peaks whose zooms
  // share a layout share these for the grid's offsets.
  void offset_terms(double delta, double* out) const {
    const double theta = kTwoPi * delta * static_cast<double>(dt_);
    double* factor_re = out;
    double* factor_im = out + terms_;
    factor_re[0] = 1.0;
    factor_im[0] = 0.0;
    for (std::size_t m = 1; m < terms_; ++m) {
      const double scale = theta * half_ / static_cast<double>(m);
      factor_re[m] = factor_im[m - 1] * scale;
      factor_im[m] = -factor_re[m - 1] * scale;
    }
    const Complex shift = std::polar(1.0, -theta * first_centre_);
    const Complex advance = std::polar(1.0, -theta * static_cast<double>(block_));
    out[2 * terms_] = shift.real();
    out[2 * terms_ + 1] = shift.imag();
    out[2 * terms_ + 2] = advance.real();
    out[2 * terms_ + 3] = advance.imag();
  }
  std::size_t offset_stride() const { return 2 * terms_ + 4; }
  // The layout: two zooms of the same layout give the same offset_terms.
  std::pair<std::size_t, std::size_t> layout() const { return {block_, terms_}; }

 private:
  template <typename V>
  static double lane(const V& v, std::size_t l) {
    if constexpr (std::is_same_v<V, double>) {
      return v;
    } else {
      return v[l];
    }
  }
  template <typename V>
  static void set_lane(V& v, std::size_t l, double value) {
    if constexpr (std::is_same_v<V, double>) {
      v = value;
    } else {
      v[l] = value;
    }
  }

  // Y_k(fc + delta[l]) / norm into y[l * K + k] for the W lanes of V (a
  // double, or four): with theta = 2 pi delta dt,
  //   sum_b exp(-i theta c_b) sum_m (-i theta h)^m / m! M(b, k, m),
  // every lane by the same operations in the same order, so the lanes'
  // results are bit for bit those of one offset at a time.
  template <typename V, std::size_t W>
  [[gnu::always_inline]] inline void evaluate(const double* delta, Complex* y) const {
    double terms[W][2 * kMaxTerms + 4];
    const double* given[W];
    for (std::size_t l = 0; l < W; ++l) {
      offset_terms(delta[l], terms[l]);
      given[l] = terms[l];
    }
    evaluate_given<V, W>(given, y);
  }

  // evaluate from each lane's offset_terms (given[l]).
  // kTerms: the expansion's length when the caller knows it (then equal
  // to terms_), else 0.
  template <typename V, std::size_t W, std::size_t kTerms = 0>
  [[gnu::always_inline]] inline void evaluate_given(const double* const* given, Complex* y) const {
    const std::size_t terms = kTerms != 0 ? kTerms : terms_;
    // (-i theta h)^m / m!, in real and imaginary parts.
    V factor_re[kMaxTerms], factor_im[kMaxTerms];
    for (std::size_t m = 0; m < terms; ++m) {
      for (std::size_t l = 0; l < W; ++l) {
        set_lane(factor_re[m], l, given[l][m]);
        set_lane(factor_im[m], l, given[l][terms + m]);
      }
    }
    V y_re[kMaxTapers], y_im[kMaxTapers];
    for (std::size_t k = 0; k < nwin_; ++k) y_re[k] = y_im[k] = V{};
    // exp(-i theta c_b), block by block; the blocks are few enough (at
    // most the record over kMaxBlock, or a few dozen) that the recurrence
    // keeps double precision far beyond what the results need.
    V shift_re{}, shift_im{}, advance_re{}, advance_im{};
    for (std::size_t l = 0; l < W; ++l) {
      set_lane(shift_re, l, given[l][2 * terms]);
      set_lane(shift_im, l, given[l][2 * terms + 1]);
      set_lane(advance_re, l, given[l][2 * terms + 2]);
      set_lane(advance_im, l, given[l][2 * terms + 3]);
    }
    const std::size_t stride = nwin_ * terms;
    for (std::size_t b = 0; b < blocks_; ++b) {
      const double* mr = &moments_re_[b * stride];
      const double* mi = &moments_im_[b * stride];
      for (std::size_t k = 0; k < nwin_; ++k) {
        V sr{}, si{};
        for (std::size_t m = 0; m < terms; ++m) {
          sr += factor_re[m] * mr[k * terms + m] - factor_im[m] * mi[k * terms + m];
          si += factor_re[m] * mi[k * terms + m] + factor_im[m] * mr[k * terms + m];
        }
        y_re[k] += shift_re * sr - shift_im * si;
        y_im[k] += shift_re * si + shift_im * sr;
      }
      // shift *= advance, as the complex product forms it for finite values
      const V re = shift_re * advance_re - shift_im * advance_im;
      shift_im = shift_re * advance_im + shift_im * advance_re;
      shift_re = re;
    }
    for (std::size_t l = 0; l < W; ++l) {
      for (std::size_t k = 0; k < nwin_; ++k) {
        y[l * nwin_ + k] = Complex(lane(y_re[k], l), lane(y_im[k], l)) / norm_;
      }
    }
  }

  // evaluate<double, 1> with the tapers in the lanes: the same operations
  // on each taper's sums, four tapers at a time.
  [[gnu::target("avx2")]] void at_by_taper(double delta, Complex* y) const {
    const double theta = kTwoPi * delta * static_cast<double>(dt_);
    double factor_re[kMaxTerms], factor_im[kMaxTerms];
    factor_re[0] = 1.0;
    factor_im[0] = 0.0;
    for (std::size_t m = 1; m < terms_; ++m) {
      const double scale = theta * half_ / static_cast<double>(m);
      factor_re[m] = factor_im[m - 1] * scale;
      factor_im[m] = -factor_re[m - 1] * scale;
    }
    const Complex first = std::polar(1.0, -theta * first_centre_);
    const Complex advance = std::polar(1.0, -theta * static_cast<double>(block_));
    double shift_re = first.real(), shift_im = first.imag();
    Quad y_re[kMaxTapers / kQuad], y_im[kMaxTapers / kQuad];
    for (std::size_t g = 0; g < groups_; ++g) y_re[g] = y_im[g] = Quad{};
    // Up to four tapers, the usual case: one group, with the expansion's
    // length known to the compiler.
    if (groups_ == 1 && one_group(factor_re, factor_im, shift_re, shift_im, advance, y_re[0], y_im[0])) {
      for (std::size_t k = 0; k < nwin_; ++k) y[k] = Complex(y_re[0][k], y_im[0][k]) / norm_;
      return;
    }
    const std::size_t width = groups_ * kQuad;
    for (std::size_t b = 0; b < blocks_; ++b) {
      for (std::size_t g = 0; g < groups_; ++g) {
        const double* mr = &by_taper_re_[b * terms_ * width + g * kQuad];
        const double* mi = &by_taper_im_[b * terms_ * width + g * kQuad];
        Quad sr{}, si{};
        for (std::size_t m = 0; m < terms_; ++m) {
          Quad r, i;
          std::memcpy(&r, mr + m * width, sizeof r);
          std::memcpy(&i, mi + m * width, sizeof i);
          sr += factor_re[m] * r - factor_im[m] * i;
          si += factor_re[m] * i + factor_im[m] * r;
        }
        y_re[g] += shift_re * sr - shift_im * si;
        y_im[g] += shift_re * si + shift_im * sr;
      }
      const double re = shift_re * advance.real() - shift_im * advance.imag();
      shift_im = shift_re * advance.imag() + shift_im * advance.real();
      shift_re = re;
    }
    for (std::size_t k = 0; k < nwin_; ++k) {
      y[k] = Complex(y_re[k / kQuad][k % kQuad], y_im[k / kQuad][k % kQuad]) / norm_;
    }
  }

  // The blocks' loop of at_by_taper for one group of tapers, by the same
  // operations, for each length of expansion; false (nothing done) for a
  // length it does not know.
  [[gnu::always_inline]] inline bool one_group(const double* factor_re, const double* factor_im,
                                               double shift_re, double shift_im,
                                               const Complex& advance, Quad& y_re,
                                               Quad& y_im) const {
    switch (terms_) {
      case 4: one_group<4>(factor_re, factor_im, shift_re, shift_im, advance, y_re, y_im); return true;
      case 6: one_group<6>(factor_re, factor_im, shift_re, shift_im, advance, y_re, y_im); return true;
      case 8: one_group<8>(factor_re, factor_im, shift_re, shift_im, advance, y_re, y_im); return true;
      case 12: one_group<12>(factor_re, factor_im, shift_re, shift_im, advance, y_re, y_im); return true;
      default: return false;
    }
  }
  template <std::size_t kTerms>
  [[gnu::always_inline]] inline void one_group(const double* factor_re, const double* factor_im,
                                               double shift_re, double shift_im,
                                               const Complex& advance, Quad& y_re,
                                               Quad& y_im) const {
    for (std::size_t b = 0; b < blocks_; ++b) {
      const double* mr = &by_taper_re_[b * kTerms * kQuad];
      const double* mi = &by_taper_im_[b * kTerms * kQuad];
      Quad sr{}, si{};
      for (std::size_t m = 0; m < kTerms; ++m) {
        Quad r, i;
        std::memcpy(&r, mr + m * kQuad, sizeof r);
        std::memcpy(&i, mi + m * kQuad, sizeof i);
        sr += factor_re[m] * r - factor_im[m] * i;
        si += factor_re[m] * i + factor_im[m] * r;
      }
      y_re += shift_re * sr - shift_im * si;
      y_im += shift_re * si + shift_im * sr;
      const double re = shift_re * advance.real() - shift_im * advance.imag();
      shift_im = shift_re * advance.imag() + shift_im * advance.real();
      shift_re = re;
    }
  }

  template <std::size_t kTerms>
  [[gnu::target("avx2")]] void quads_of(const double* const* terms, std::size_t groups,
                                        Complex* y) const {
    for (std::size_t g = 0; g < groups; ++g) {
      evaluate_given<Quad, kQuad, kTerms>(terms + g * kQuad, y + g * kQuad * nwin_);
    }
  }

  // `groups` groups of four offsets; returns the offsets done.
  [[gnu::target("avx2")]] std::size_t quads(const double* const* terms, std::size_t groups,
                                            Complex* y) const {
    // The expansion's length known to the compiler for every length used.
    switch (terms_) {
      case 4: quads_of<4>(terms, groups, y); break;
      case 6: quads_of<6>(terms, groups, y); break;
      case 8: quads_of<8>(terms, groups, y); break;
      case 12: quads_of<12>(terms, groups, y); break;
      default: quads_of<0>(terms, groups, y); break;
    }
    return groups * kQuad;
  }

  // M(b, k, m) of every block, from the record shifted down by fc: the
  // reference arithmetic, one product and one sum at a time, in four
  // interleaved partial sums (see dot_sums).
  void moments(const std::vector<float>& x, const TaperedRecord& rec, double fc) {
    const std::size_t n = x.size();
    const std::size_t stride = nwin_ * terms_;
    moments_re_.assign(blocks_ * stride, 0.0);
    moments_im_.assign(blocks_ * stride, 0.0);
    const std::size_t npts = static_cast<std::size_t>(rec.npts);
    // The shifted record times the powers of the position, for one block:
    // power m of the block's sample u at re/im[m * block + u].
    std::vector<double> re(terms_ * block_), im(terms_ * block_), position(block_);
    for (std::size_t b = 0; b < blocks_; ++b) {
      const std::size_t first = b * block_;
      const std::size_t length = std::min(n, first + block_) - first;
      shifted_block(x, fc, rec.dt, first, length, re.data(), im.data(), position.data());
      // Each power from the one below, a row at a time.
      for (std::size_t m = 1; m < terms_; ++m) {
        for (std::size_t u = 0; u < length; ++u) {
          re[m * block_ + u] = re[(m - 1) * block_ + u] * position[u];
          im[m * block_ + u] = im[(m - 1) * block_ + u] * position[u];
        }
      }
      for (std::size_t k = 0; k < nwin_; ++k) {
        const float* v = &rec.tapers[k * npts + first];
        double* out_re = &moments_re_[b * stride + k * terms_];
        double* out_im = &moments_im_[b * stride + k * terms_];
        for (std::size_t m = 0; m < terms_; ++m) {
          out_re[m] = dot_sums(v, &re[m * block_], length);
          out_im[m] = dot_sums(v, &im[m * block_], length);
        }
      }
    }
    transpose_by_taper();
  }

  // The record x shifted down by fc over one block (samples first ..
  // first + length - 1) into re/im, and the samples' positions relative to
  // the block's centre in half-lengths.
  [[gnu::always_inline]] inline void shifted_block(const std::vector<float>& x, double fc, float dt,
                                                   std::size_t first, std::size_t length,
                                                   double* re, double* im,
                                                   double* position) const {
    const double step = kTwoPi * fc * static_cast<double>(dt);
    const Complex turn = std::polar(1.0, -step);
    const double centre = static_cast<double>(first) + (half_ - 0.5);
    // Each block starts from an exact rotation, so rounding cannot build
    // up along the record.
    const Complex start = std::polar(1.0, -std::fmod(step * static_cast<double>(first), kTwoPi));
    // rotation *= turn as the complex product forms it for finite values,
    // which these unit numbers always are, without its check for NaN.
    double rotation_re = start.real(), rotation_im = start.imag();
    for (std::size_t u = 0; u < length; ++u) {
      const double value = x[first + u];
      position[u] = (static_cast<double>(first + u) - centre) / half_;
      re[u] = value * rotation_re;
      im[u] = value * rotation_im;
      const double next_re = rotation_re * turn.real() - rotation_im * turn.imag();
      rotation_im = rotation_re * turn.imag() + rotation_im * turn.real();
      rotation_re = next_re;
    }
  }

  // shifted_block for every block at once, into re/im[t] for sample t:
  // four blocks side by side in the lanes, each lane performing the
  // operations of one block's rotation in the same order, so that the
  // blocks' independent recurrences do not wait on one another.
  [[gnu::always_inline]] inline void shifted_record_wide(const std::vector<float>& x, double fc,
                                                         float dt, double* re,
                                                         double* im) const {
    const std::size_t n = x.size();
    const double step = kTwoPi * fc * static_cast<double>(dt);
    const Complex turn = std::polar(1.0, -step);
    for (std::size_t b = 0; b < blocks_; b += kQuad) {
      const std::size_t lanes = std::min(kQuad, blocks_ - b);
      Quad rotation_re = {1.0, 1.0, 1.0, 1.0}, rotation_im = {};
      for (std::size_t l = 0; l < lanes; ++l) {
        const double first = static_cast<double>((b + l) * block_);
        const Complex start = std::polar(1.0, -std::fmod(step * first, kTwoPi));
        rotation_re[l] = start.real();
        rotation_im[l] = start.imag();
      }
      for (std::size_t u = 0; u < block_; ++u) {
        Quad value = {};
        for (std::size_t l = 0; l < lanes; ++l) {
          const std::size_t t = (b + l) * block_ + u;
          if (t < n) value[l] = x[t];
        }
        const Quad shifted_re = value * rotation_re;
        const Quad shifted_im = value * rotation_im;
        for (std::size_t l = 0; l < lanes; ++l) {
          const std::size_t t = (b + l) * block_ + u;
          if (t < n) {
            re[t] = shifted_re[l];
            im[t] = shifted_im[l];
          }
        }
        const Quad next_re = rotation_re * turn.real() - rotation_im * turn.imag();
        rotation_im = rotation_re * turn.imag() + rotation_im * turn.real();
        rotation_re = next_re;
      }
    }
  }

  // The moments with the tapers innermost, in groups of four (the missing
  // tapers of a group 0), for evaluations whose lanes are tapers.
  void transpose_by_taper() {
    const std::size_t stride = nwin_ * terms_;
    groups_ = (nwin_ + kQuad - 1) / kQuad;
    by_taper_re_.assign(blocks_ * terms_ * groups_ * kQuad, 0.0);
    by_taper_im_.assign(blocks_ * terms_ * groups_ * kQuad, 0.0);
    for (std::size_t b = 0; b < blocks_; ++b) {
      for (std::size_t k = 0; k < nwin_; ++k) {
        for (std::size_t m = 0; m < terms_; ++m) {
          const std::size_t to = (b * terms_ + m) * groups_ * kQuad + k;
          by_taper_re_[to] = moments_re_[b * stride + k * terms_ + m];
          by_taper_im_[to] = moments_im_[b * stride + k * terms_ + m];
        }
      }
    }
  }

  // For G tapers (v[g], as doubles, from the block's first sample): the
  // sums of v[g] times the power row re/im into out_re/out_im[g * terms_],
  // each as dot_sums forms it. With `raise`, the row is first multiplied by
  // the positions in place (the next power), in the same pass.
  template <std::size_t G>
  [[gnu::always_inline]] inline void row_dots(const double* const* v, double* re, double* im,
                                              const double* position, std::size_t length,
                                              bool raise, double* out_re, double* out_im) const {
    Quad sum_re[G], sum_im[G];
    for (std::size_t g = 0; g < G; ++g) sum_re[g] = sum_im[g] = Quad{};
    std::size_t u = 0;
    for (; u + kQuad <= length; u += kQuad) {
      Quad r, i;
      std::memcpy(&r, re + u, sizeof r);
      std::memcpy(&i, im + u, sizeof i);
      if (raise) {
        Quad p;
        std::memcpy(&p, position + u, sizeof p);
        r *= p;
        i *= p;
        std::memcpy(re + u, &r, sizeof r);
        std::memcpy(im + u, &i, sizeof i);
      }
      for (std::size_t g = 0; g < G; ++g) {
        Quad vv;
        std::memcpy(&vv, v[g] + u, sizeof vv);
        sum_re[g] += vv * r;
        sum_im[g] += vv * i;
      }
    }
    if (raise) {
      for (std::size_t w = u; w < length; ++w) {
        re[w] *= position[w];
        im[w] *= position[w];
      }
    }
    for (std::size_t g = 0; g < G; ++g) {
      double s_re = sum_re[g][0], s_im = sum_im[g][0];
      for (std::size_t w = u; w < length; ++w) {
        s_re += v[g][w] * re[w];
        s_im += v[g][w] * im[w];
      }
      out_re[g * terms_] = (s_re + sum_re[g][1]) + (sum_re[g][2] + sum_re[g][3]);
      out_im[g * terms_] = (s_im + sum_im[g][1]) + (sum_im[g][2] + sum_im[g][3]);
    }
  }

  // `moments` in four lanes: the same products and the same partial sums,
  // bit for bit, with each power row formed in the pass that sums it
  // against up to four tapers at once, so that a row is read once for
  // those tapers and never stored apart from the one below. `wide_tapers`
  // holds the tapers as doubles (taper k at k * npts), converted once for
  // every peak.
  [[gnu::target("avx2")]] void moments_wide(const std::vector<float>& x, const TaperedRecord& rec,
                                            const double* wide_tapers, double fc) {
    const std::size_t n = x.size();
    const std::size_t stride = nwin_ * terms_;
    moments_re_.resize(blocks_ * stride);
    moments_im_.resize(blocks_ * stride);
    const std::size_t npts = static_cast<std::size_t>(rec.npts);
    whole_re_.resize(n);
    whole_im_.resize(n);
    position_.resize(block_);
    double* const whole_re = whole_re_.data();
    double* const whole_im = whole_im_.data();
    double* const position = position_.data();
    shifted_record_wide(x, fc, rec.dt, whole_re, whole_im);
    // A sample's position relative to its block's centre depends on its
    // place in the block alone: first + u - (first + half - 1/2) is formed
    // exactly, whatever the block.
    for (std::size_t u = 0; u < block_; ++u) {
      position[u] = (static_cast<double>(u) - (half_ - 0.5)) / half_;
    }
    for (std::size_t b = 0; b < blocks_; ++b) {
      const std::size_t first = b * block_;
      const std::size_t length = std::min(n, first + block_) - first;
      double* re = whole_re + first;
      double* im = whole_im + first;
      for (std::size_t m = 0; m < terms_; ++m) {
        for (std::size_t k = 0; k < nwin_; k += kQuad) {
          const double* v[kQuad];
          const std::size_t count = std::min(kQuad, nwin_ - k);
          for (std::size_t g = 0; g < count; ++g) v[g] = wide_tapers + (k + g) * npts + first;
          // The first group of a power above 0 raises the row.
          const bool raise = m > 0 && k == 0;
          double* out_re = &moments_re_[b * stride + k * terms_ + m];
          double* out_im = &moments_im_[b * stride + k * terms_ + m];
          switch (count) {
            case 1: row_dots<1>(v, re, im, position, length, raise, out_re, out_im); break;
            case 2: row_dots<2>(v, re, im, position, length, raise, out_re, out_im); break;
            case 3: row_dots<3>(v, re, im, position, length, raise, out_re, out_im); break;
            default: row_dots<4>(v, re, im, position, length, raise, out_re, out_im); break;
          }
        }
      }
    }
    transpose_by_taper();
  }
  std::size_t nwin_ = 0;
  float dt_ = 1.0f;
  double norm_ = 1.0;
  // The shifted record and the positions in a block (AVX2 arithmetic).
  std::vector<double> whole_re_, whole_im_, position_;
  std::size_t terms_ = 1;  // Taylor terms
  std::size_t block_ = 1;  // samples per block
  double half_ = 0.5;
  std::size_t blocks_ = 0;
  double first_centre_ = 0.0;
  // M(b, k, m) at (b * K + k) * terms + m, real and imaginary parts
  std::vector<double> moments_re_, moments_im_;
  // M(b, k, m) at (b * terms + m) * groups_ * 4 + k
  std::size_t groups_ = 0;
  std::vector<double> by_taper_re_, by_taper_im_;
};

// The harmonic F-test of eigencoefficients y with the tapers' sums: the
// regression amplitude mu of the line and F = |mu|^2 (K - 1) ssq / sse.
struct LineFit {
  double F = 0.0;
  Complex mu;
};

// One thread's work vectors: the coefficients at one offset, the grid's
// offsets, their offset terms and their coefficients, and the offset terms
// of the whole grid for the zoom layout they were made for.
struct Work {
  Zoom zoom;
  std::vector<Complex> y;
  std::vector<double> deltas;
  std::vector<const double*> terms;
  std::vector<Complex> grid;
  std::vector<double> grid_terms;  // offset j * step at (j + steps) * stride
  std::pair<std::size_t, std::size_t> layout{0, 0};
};

LineFit line_fit(const std::vector<Complex>& y, const std::vector<double>& tapsum) {
  double ssq = 0.0;
  Complex mu(0.0, 0.0);
  for (std::size_t k = 0; k < y.size(); ++k) {
    ssq += tapsum[k] * tapsum[k];
    mu += y[k] * tapsum[k];
  }
  LineFit fit;
  if (!(ssq > 0.0)) return fit;
  mu /= ssq;
  double sse = 0.0;
  for (std::size_t k = 0; k < y.size(); ++k) sse += std::norm(y[k] - tapsum[k] * mu);
  const double power = std::norm(mu) * static_cast<double>(y.size() - 1) * ssq;
  fit.mu = mu;
  fit.F = sse > 0.0 ? power / sse : power > 0.0 ? std::numeric_limits<float>::max() : 0.0;
  return fit;
}

}  // namespace

float f_significance(float F, int nwin) {
  if (nwin < 2 || std::isnan(F)) return LineEstimate::kNone;
  const double dof = static_cast<double>(nwin - 1);
  const double value = std::max(static_cast<double>(F), 0.0);
  return static_cast<float>(100.0 * -std::expm1(-dof * std::log1p(value / dof)));
}

std::vector<LineEstimate> line_estimates(const TaperedRecord& rec, const SpecResults& results,
                                         std::span<const float> frequencies,
                                         const std::function<bool()>& cancelled) {
  std::vector<LineEstimate> out(frequencies.size());
  const std::size_t npts = static_cast<std::size_t>(std::max(rec.npts, 0));
  const std::size_t nwin = static_cast<std::size_t>(std::max(rec.nwin, 0));
  if (rec.nwin < 2 || nwin > kMaxTapers || npts < 2 || rec.p < 1 || !(rec.dt > 0.0f) ||
      rec.tapers.size() < npts * nwin || frequencies.empty()) {
    return out;
  }
  // The samples less their mean, on the whole grid; their times' spread.
  const std::size_t present = rec.values.size();
  auto position = [&](std::size_t j) {
    return rec.index.empty() ? static_cast<std::size_t>(j) : static_cast<std::size_t>(rec.index[j]);
  };
  double mean = 0.0, mean_position = 0.0;
  for (std::size_t j = 0; j < present; ++j) {
    mean += rec.values[j];
    mean_position += static_cast<double>(position(j));
  }
  mean /= static_cast<double>(present);
  mean_position /= static_cast<double>(present);
  std::vector<float> x(npts, 0.0f);
  double spread = 0.0;  // sum of (t - mean t)^2 in time units squared
  for (std::size_t j = 0; j < present; ++j) {
    const std::size_t t = position(j);
    if (t >= npts) return out;
    x[t] = static_cast<float>(static_cast<double>(rec.values[j]) - mean);
    const double d = (static_cast<double>(t) - mean_position) * static_cast<double>(rec.dt);
    spread += d * d;
  }
  std::vector<double> tapsum(nwin, 0.0);
  double energy = 0.0;  // the tapers' mean sum of squares
  for (std::size_t k = 0; k < nwin; ++k) {
    for (std::size_t t = 0; t < npts; ++t) {
      const double v = rec.tapers[k * npts + t];
      tapsum[k] += v;
      energy += v * v;
    }
  }
  energy /= static_cast<double>(nwin);
  // Every peak's zoom reads the tapers as doubles; the conversion is exact.
  const std::vector<double> wide_tapers(rec.tapers.begin(),
                                        rec.tapers.begin() + static_cast<std::ptrdiff_t>(npts * nwin));

  const double span = static_cast<double>(rec.npts) * static_cast<double>(rec.dt);
  const double rayleigh = 1.0 / span;
  const double half_band = static_cast<double>(rec.p) * rayleigh;
  const double nyquist = 0.5 / static_cast<double>(rec.dt);
  const double step = rayleigh / kGridPerRayleigh;
  const int steps = kGridPerRayleigh * rec.p;
  // The line of peak i into out[i], with the caller's work vectors.
  auto estimate = [&](std::size_t i, Work& work) {
    std::vector<Complex>& y = work.y;
    const double fc = frequencies[i];
    if (!std::isfinite(fc)) return;
    const double low = std::max(-half_band, -fc), high = std::min(half_band, nyquist - fc);
    if (!(low <= high)) return;
    const int evaluations = 2 * steps + 1 + kGoldenSteps + 2;
    Zoom& zoom = work.zoom;
    zoom.prepare(x, rec, wide_tapers.data(), fc, std::max(-low, high), evaluations);
    auto fit_at = [&](double delta) {
      zoom.at(delta, y);
      return line_fit(y, tapsum);
    };
    // The grid's largest F (the first of equal ones), the peak's own
    // frequency among the grid's.
    // The grid's offsets are evaluated together (see Zoom::at_each), then
    // compared in grid order.
    double best = 0.0;
    LineFit best_fit = fit_at(0.0);
    const std::size_t stride = zoom.offset_stride();
    if (zoom.layout() != work.layout) {
      work.layout = zoom.layout();
      work.grid_terms.resize(static_cast<std::size_t>(2 * steps + 1) * stride);
      for (int j = -steps; j <= steps; ++j) {
        zoom.offset_terms(j * step, &work.grid_terms[static_cast<std::size_t>(j + steps) * stride]);
      }
    }
    work.deltas.clear();
    work.terms.clear();
    for (int j = -steps; j <= steps; ++j) {
      const double delta = j * step;
      if (delta < low || delta > high || j == 0) continue;
      work.deltas.push_back(delta);
      work.terms.push_back(&work.grid_terms[static_cast<std::size_t>(j + steps) * stride]);
    }
    zoom.at_each(work.deltas, work.terms, work.grid);
    for (std::size_t j = 0; j < work.deltas.size(); ++j) {
      y.assign(work.grid.begin() + static_cast<std::ptrdiff_t>(j * nwin),
               work.grid.begin() + static_cast<std::ptrdiff_t>((j + 1) * nwin));
      const LineFit fit = line_fit(y, tapsum);
      if (fit.F > best_fit.F) {
        best = work.deltas[j];
        best_fit = fit;
      }
    }
    // Golden section between the grid neighbours of that maximum; keeps
    // the largest F met, so it never ends below the grid's.
    double a = std::max(best - step, low), b = std::min(best + step, high);
    const double ratio = 0.6180339887498949;
    double c = b - ratio * (b - a), d = a + ratio * (b - a);
    LineFit fc_fit = fit_at(c), fd_fit = fit_at(d);
    for (int iteration = 0; iteration < kGoldenSteps; ++iteration) {
      if (fc_fit.F >= fd_fit.F) {
        b = d;
        d = c;
        fd_fit = fc_fit;
        c = b - ratio * (b - a);
        fc_fit = fit_at(c);
      } else {
        a = c;
        c = d;
        fc_fit = fd_fit;
        d = a + ratio * (b - a);
        fd_fit = fit_at(d);
      }
    }
    for (const auto& [delta, fit] : {std::pair{c, fc_fit}, std::pair{d, fd_fit}}) {
      if (fit.F > best_fit.F) {
        best = delta;
        best_fit = fit;
      }
    }

    LineEstimate& line = out[i];
    line.frequency = static_cast<float>(fc + best);
    line.F = static_cast<float>(std::min(best_fit.F, static_cast<double>(std::numeric_limits<float>::max())));
    line.significance = f_significance(line.F, rec.nwin);
    // The background at the band entry nearest the line.
    const int filled = results.nf - 1;
    if (filled >= 1 && results.df > 0.0f && results.specback0.size() >= static_cast<std::size_t>(filled)) {
      const long entry = std::clamp(std::lround((line.frequency - results.f0) / results.df), 0L,
                                    static_cast<long>(filled - 1));
      const double background = results.specback0[static_cast<std::size_t>(entry)];
      const double eta = 2.0 * std::norm(best_fit.mu) * energy / background;
      if (background > 0.0 && eta > 0.0 && spread > 0.0 && std::isfinite(eta)) {
        line.frequency_sd = static_cast<float>(1.0 / (kTwoPi * std::sqrt(eta * spread)));
      }
    }
  };
  // Each zoom passes over the whole record; on long records the peaks are
  // shared between this thread and a second one.
  const auto share = [&](std::size_t parity) {
    Work work;
    for (std::size_t i = parity; i < frequencies.size(); i += 2) {
      if (cancelled && cancelled()) return;
      estimate(i, work);
    }
  };
  if (npts * nwin >= kTwoThreadWork && frequencies.size() > 1) {
    run_two_halves([&] { share(0); }, [&] { share(1); });
  } else {
    Work work;
    for (std::size_t i = 0; i < frequencies.size(); ++i) {
      if (cancelled && cancelled()) break;
      estimate(i, work);
    }
  }
  return out;
}

}  // namespace quorvane::spectral
