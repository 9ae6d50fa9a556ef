#include "spectral/numerics/nufft.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>

#include "spectral/numerics/turns.h"
#include "spectral/numerics/vector_lanes.h"

namespace quorvane::spectral {

namespace {

// Cells the kernel covers, and its shape parameter (see nufft.h).
constexpr int kWidth = 8;
constexpr double kBeta = 2.30 * kWidth;
// Gauss-Legendre nodes for the kernel's Fourier transform: the integrand is
// smooth and below 1e-8 where its derivative is not (the ends of the
// support), so 32 nodes give it to rounding for every frequency used.
constexpr int kQuadratureNodes = 32;
constexpr int kMaxFrequencies = 1 << 28;

constexpr double kTwoPi = 6.283185307179586476925;

double kernel(double z) { return std::exp(kBeta * (std::sqrt(1.0 - z * z) - 1.0)); }

// The kernel's values at a point are those of w polynomials in the point's
// offset within its cell: with t = u - floor(u) in [0, 1) and x = 2 t - 1,
// cell c of the point's w holds phi((c - (w - 1) / 2 - x / 2) / (w / 2)).
// Each piece is interpolated at the Chebyshev points of degree kDegree and
// evaluated by Horner's rule on all w cells at once, some ten times cheaper
// than w square roots and exponentials. The pieces are analytic inside
// their cells; only the outermost meet the kernel's square-root edge, where
// its values are below 1e-8, so the largest error, 7e-9 of the kernel's
// peak, lies below the single-precision rounding of the stored values.
constexpr int kDegree = 10;

struct KernelPieces {
  // coefficient[d][c]: the coefficient of x^d of cell c's polynomial.
  double coefficient[kDegree + 1][kWidth];
};

KernelPieces kernel_pieces() {
  KernelPieces pieces{};
  constexpr int nodes = kDegree + 1;
  for (int c = 0; c < kWidth; ++c) {
    // Chebyshev coefficients from the values at the nodes cos(pi (i + 1/2) / nodes).
    double chebyshev[nodes] = {};
    for (int i = 0; i < nodes; ++i) {
      const double angle = kTwoPi / 2.0 * (i + 0.5) / nodes;
      const double x = std::cos(angle);
      const double value = kernel((c - (kWidth - 1) / 2.0 - x / 2.0) / (kWidth / 2.0));
      for (int k = 0; k < nodes; ++k) chebyshev[k] += value * std::cos(k * angle) * 2.0 / nodes;
    }
    chebyshev[0] /= 2.0;
    // The sum of chebyshev[k] T_k(x) in powers of x, with T_{k+1} = 2 x T_k - T_{k-1}.
    double previous[nodes] = {1.0}, current[nodes] = {0.0, 1.0};
    pieces.coefficient[0][c] += chebyshev[0];
    if (nodes > 1) pieces.coefficient[1][c] += chebyshev[1];
    for (int k = 2; k < nodes; ++k) {
      double next[nodes] = {};
      for (int d = 0; d < nodes; ++d) {
        next[d] = (d > 0 ? 2.0 * current[d - 1] : 0.0) - previous[d];
      }
      for (int d = 0; d < nodes; ++d) {
        previous[d] = current[d];
        current[d] = next[d];
        pieces.coefficient[d][c] += chebyshev[k] * next[d];
      }
    }
  }
  return pieces;
}

// The nodes in (0, 1) and weights of the q-point Gauss-Legendre rule (q
// even; the others are their mirror images), by Newton's method on the
// Legendre polynomial P_q from the usual asymptotic starting points.
void gauss_legendre_half(int q, std::vector<double>& node, std::vector<double>& weight) {
  node.clear();
  weight.clear();
  for (int i = 1; i <= q / 2; ++i) {
    double z = std::cos(kTwoPi / 2.0 * (i - 0.25) / (q + 0.5));
    double derivative = 1.0;
    for (int iteration = 0; iteration < 100; ++iteration) {
      double p1 = 1.0, p2 = 0.0;
      for (int j = 1; j <= q; ++j) {
        const double p3 = p2;
        p2 = p1;
        p1 = ((2.0 * j - 1.0) * z * p2 - (j - 1.0) * p3) / j;
      }
      derivative = q * (z * p1 - p2) / (z * z - 1.0);
      const double step = p1 / derivative;
      z -= step;
      if (std::fabs(step) < 1e-16) break;
    }
    node.push_back(z);
    weight.push_back(2.0 / ((1.0 - z * z) * derivative * derivative));
  }
}

// The w kernel values of each point from its offset x, cells side by side in
// registers of L doubles kept through Horner's rule; the same operations in
// the same order whatever L, so the values do not depend on the processor.
template <std::size_t L>
[[gnu::always_inline]] inline void kernel_lanes(const KernelPieces& pieces,
                                                std::span<const double> offset, float* out) {
  using Lanes = Vector<double, L>;
  constexpr std::size_t registers = kWidth / L;
  for (std::size_t j = 0; j < offset.size(); ++j) {
    const double x = offset[j];
    Lanes value[registers];
#pragma GCC unroll 4
    for (std::size_t r = 0; r < registers; ++r)
      std::memcpy(&value[r], &pieces.coefficient[kDegree][r * L], sizeof(Lanes));
    for (int d = kDegree - 1; d >= 0; --d) {
#pragma GCC unroll 4
      for (std::size_t r = 0; r < registers; ++r) {
        Lanes c;
        std::memcpy(&c, &pieces.coefficient[d][r * L], sizeof c);
        value[r] = value[r] * x + c;
      }
    }
    float* stored = out + j * kWidth;
    double lanes[kWidth];
    std::memcpy(lanes, value, sizeof lanes);
    for (std::size_t c = 0; c < kWidth; ++c) stored[c] = static_cast<float>(lanes[c]);
  }
}

// Four lanes where the processor has AVX2 (multiplications and additions
// apart, no fused steps), two otherwise.
[[gnu::target("avx2")]] void kernel_values_wide(const KernelPieces& pieces,
                                                std::span<const double> offset, float* out) {
  kernel_lanes<4>(pieces, offset, out);
}

void kernel_values(const KernelPieces& pieces, std::span<const double> offset, float* out) {
  if (__builtin_cpu_supports("avx2")) return kernel_values_wide(pieces, offset, out);
  kernel_lanes<2>(pieces, offset, out);
}

}  // namespace

struct NufftPlan::Frame {
  explicit Frame(std::size_t n) : fft(n) {}
  std::vector<double> deconvolution;  // 1 / (kernel transform) of each frequency
  std::vector<std::uint32_t> order;   // bit-reversed place of each grid cell
  FftPlan fft;
};

NufftPlan::NufftPlan() = default;
NufftPlan::~NufftPlan() = default;
NufftPlan::NufftPlan(NufftPlan&&) noexcept = default;
NufftPlan& NufftPlan::operator=(NufftPlan&&) noexcept = default;

Status NufftPlan::make(std::span<const double> time, double origin, double f_first, double df,
                       int count, NufftPlan& out, const std::function<bool()>& cancelled,
                       const NufftPlan* like) {
  if (time.empty()) return Status::failure("A non-uniform transform needs at least one time.");
  if (count < 1 || count > kMaxFrequencies) {
    return Status::failure("A non-uniform transform takes 1 to " +
                           std::to_string(kMaxFrequencies) + " frequencies (not " +
                           std::to_string(count) + ").");
  }
  if (!(df > 0.0) || !std::isfinite(df) || !std::isfinite(f_first) || !std::isfinite(origin)) {
    return Status::failure("The frequencies of a non-uniform transform need a positive step"
                           " and a finite start and origin.");
  }
  for (std::size_t j = 0; j < time.size(); ++j) {
    if (!std::isfinite(time[j])) {
      return Status::failure("Time " + std::to_string(j + 1) + " is not a finite number.");
    }
  }
  NufftPlan plan;
  plan.count_ = count;
  // The modes k run over -count / 2 .. count - 1 - count / 2, and the kernel
  // is designed for |k| <= n / 4 (an oversampling of 2): n = 4 max |k|
  // rounded up to a power of two. (2 count would double n for an odd count,
  // as a band of 2^m + 1 frequencies has, for no gain.)
  const std::size_t top_mode = static_cast<std::size_t>(std::max(count / 2, count - 1 - count / 2));
  plan.n_ = std::max<std::size_t>(std::bit_ceil(4 * top_mode), 4 * kWidth);
  const std::size_t points = time.size();
  const double n = static_cast<double>(plan.n_);
  const int half = count / 2;
  const double centre = f_first + half * df;
  plan.cell_.resize(points);
  plan.kernel_.resize(points * kWidth);
  plan.phase_re_.resize(points);
  plan.phase_im_.resize(points);
  std::vector<double> offset(points);
  for (std::size_t j = 0; j < points; ++j) {
    if (j % 65536 == 0 && cancelled && cancelled())
      return Status::interrupted("The run was interrupted.");
    const double elapsed = time[j] - origin;
    double u = n * fraction(df * elapsed);
    if (u >= n) u -= n;
    // The kernel covers the w cells l with u - w/2 < l <= u + w/2; padded
    // cell l + w/2 holds grid cell l.
    const double first = whole_floor(u - kWidth / 2.0) + 1.0;
    plan.cell_[j] = static_cast<std::uint32_t>(first + kWidth / 2);
    offset[j] = 2.0 * (u - (first + (kWidth / 2 - 1))) - 1.0;
    plan.phase_re_[j] = fraction(centre * elapsed);
  }
  turns(plan.phase_re_, plan.phase_im_);

  // The pieces depend on nothing but the kernel: made once, read-only after.
  static const KernelPieces pieces = kernel_pieces();
  kernel_values(pieces, offset, plan.kernel_.data());

  if (like != nullptr && like->frame_ && like->count_ == count && like->n_ == plan.n_) {
    plan.frame_ = like->frame_;
    out = std::move(plan);
    return Status::success();
  }
  // The kernel's transform at k / n: (w/2) integral over [-1, 1] of phi(z)
  // cos(pi w k z / n) dz, the cosines of successive k by complex rotation.
  std::vector<double> node, weight;
  gauss_legendre_half(kQuadratureNodes, node, weight);
  const int top = std::max(half, count - 1 - half);
  std::vector<double> transform(static_cast<std::size_t>(top) + 1, 0.0);
  for (std::size_t i = 0; i < node.size(); ++i) {
    const double theta = kTwoPi / 2.0 * kWidth * node[i] / n;
    const std::complex<double> step(std::cos(theta), std::sin(theta));
    std::complex<double> rotation(1.0, 0.0);
    const double scale = kWidth * weight[i] * kernel(node[i]);  // both halves of (w/2) * 2
    for (int k = 0; k <= top; ++k) {
      // Restarting the rotation now and then keeps its rounding at 1e-14.
      if (k % 4096 == 0) rotation = std::polar(1.0, theta * k);
      transform[static_cast<std::size_t>(k)] += scale * rotation.real();
      rotation *= step;
    }
  }
  auto frame = std::make_shared<Frame>(plan.n_);
  frame->deconvolution.resize(static_cast<std::size_t>(count));
  for (int m = 0; m < count; ++m) {
    frame->deconvolution[static_cast<std::size_t>(m)] =
        1.0 / transform[static_cast<std::size_t>(std::abs(m - half))];
  }
  frame->order.resize(plan.n_);
  bit_reversal_order(frame->order);
  plan.frame_ = std::move(frame);
  out = std::move(plan);
  return Status::success();
}

template <typename Strength>
void NufftPlan::run(const Strength& strength, std::size_t sets,
                    std::span<std::complex<double>> out, Work& work,
                    const std::function<bool()>& cancelled) const {
  constexpr std::size_t w = kWidth, half_width = kWidth / 2;
  // Each cell's real and imaginary parts side by side, so that one
  // two-lane step adds a point's share to both; the sets' grids one after
  // another, each point spread onto all of them in turn, so that the adds
  // to one grid's cells, which overlap from point to point, do not wait on
  // each other.
  using Pair = Vector<double, 2>;
  const std::size_t stride = 2 * (n_ + w);
  work.spread.assign(sets * stride, 0.0);
  for (std::size_t j = 0; j < cell_.size(); ++j) {
    if (j % 65536 == 0 && cancelled && cancelled()) return;
    const float* value = kernel_.data() + j * w;
    Pair kernel[w];
#pragma GCC unroll 8
    for (std::size_t c2 = 0; c2 < w; ++c2) kernel[c2] = Pair{} + static_cast<double>(value[c2]);
    const double phase_re = phase_re_[j], phase_im = phase_im_[j];
    const std::size_t at = 2 * static_cast<std::size_t>(cell_[j]);
    for (std::size_t set = 0; set < sets; ++set) {
      const std::complex<double> c = strength(set, j);
      const Pair a = {c.real() * phase_re - c.imag() * phase_im,
                      c.real() * phase_im + c.imag() * phase_re};
      double* cells = work.spread.data() + set * stride + at;
#pragma GCC unroll 8
      for (std::size_t c2 = 0; c2 < w; ++c2) {
        Pair sum;
        std::memcpy(&sum, cells + 2 * c2, sizeof sum);
        sum += a * kernel[c2];
        std::memcpy(cells + 2 * c2, &sum, sizeof sum);
      }
    }
  }
  work.re.resize(n_);
  work.im.resize(n_);
  const std::uint32_t* order = frame_->order.data();
  const int half = count_ / 2;
  const long long n = static_cast<long long>(n_);
  for (std::size_t set = 0; set < sets; ++set) {
    double* spread = work.spread.data() + set * stride;
    // The padding cells are grid cells -w/2 .. -1 and n .. n + w/2 - 1.
    for (std::size_t c = 0; c < half_width; ++c) {
      for (std::size_t part = 0; part < 2; ++part) {
        spread[2 * (c + n_) + part] += spread[2 * c + part];
        spread[2 * (c + half_width) + part] += spread[2 * (c + n_ + half_width) + part];
      }
    }
    for (std::size_t l = 0; l < n_; ++l) {
      work.re[order[l]] = spread[2 * (l + half_width)];
      work.im[order[l]] = spread[2 * (l + half_width) + 1];
    }
    if (cancelled && cancelled()) return;
    frame_->fft.transform_bit_reversed(work.re, work.im);
    std::complex<double>* to = out.data() + set * static_cast<std::size_t>(count_);
    for (int m = 0; m < count_; ++m) {
      const long long k = m - half;
      const std::size_t at = static_cast<std::size_t>(k < 0 ? k + n : k);
      const double d = frame_->deconvolution[static_cast<std::size_t>(m)];
      to[m] = {work.re[at] * d, work.im[at] * d};
    }
  }
}

void NufftPlan::transform(std::span<const double> strength, std::span<std::complex<double>> out,
                          Work& work, const std::function<bool()>& cancelled) const {
  run([&](std::size_t, std::size_t j) { return std::complex<double>(strength[j], 0.0); }, 1, out,
      work, cancelled);
}

void NufftPlan::transform(std::span<const std::complex<double>> strength,
                          std::span<std::complex<double>> out, Work& work,
                          const std::function<bool()>& cancelled) const {
  run([&](std::size_t, std::size_t j) { return strength[j]; }, 1, out, work, cancelled);
}

void NufftPlan::transform_sets(std::span<const double> strength, std::size_t sets,
                               std::span<std::complex<double>> out, Work& work,
                               const std::function<bool()>& cancelled) const {
  const std::size_t points = cell_.size();
  run([&](std::size_t set, std::size_t j) {
        return std::complex<double>(strength[set * points + j], 0.0);
      },
      sets, out, work, cancelled);
}

}  // namespace quorvane::spectral
