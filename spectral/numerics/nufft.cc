#include "spectral/numerics/nufft.h"

#include <bit>
#include <cmath>
#include <string>
#include <utility>

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

// The fractional part of x, in [0, 1).
double fraction(double x) {
  const double f = x - std::floor(x);
  return f < 1.0 ? f : 0.0;
}

}  // namespace

NufftPlan::NufftPlan() = default;
NufftPlan::~NufftPlan() = default;
NufftPlan::NufftPlan(NufftPlan&&) noexcept = default;
NufftPlan& NufftPlan::operator=(NufftPlan&&) noexcept = default;

Status NufftPlan::make(std::span<const double> time, double origin, double f_first, double df,
                       int count, NufftPlan& out, const std::function<bool()>& cancelled) {
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
  plan.n_ = std::max<std::size_t>(std::bit_ceil(2 * static_cast<std::size_t>(count)), 4 * kWidth);
  const std::size_t points = time.size();
  const double n = static_cast<double>(plan.n_);
  const int half = count / 2;
  const double centre = f_first + half * df;
  plan.cell_.resize(points);
  plan.kernel_.resize(points * kWidth);
  plan.phase_re_.resize(points);
  plan.phase_im_.resize(points);
  for (std::size_t j = 0; j < points; ++j) {
    if (j % 65536 == 0 && cancelled && cancelled())
      return Status::interrupted("The run was interrupted.");
    const double elapsed = time[j] - origin;
    double u = n * fraction(df * elapsed);
    if (u >= n) u -= n;
    // The kernel covers the w cells l with u - w/2 < l <= u + w/2; padded
    // cell l + w/2 holds grid cell l.
    const double first = std::floor(u - kWidth / 2.0) + 1.0;
    plan.cell_[j] = static_cast<std::uint32_t>(first + kWidth / 2);
    for (int c = 0; c < kWidth; ++c) {
      plan.kernel_[j * kWidth + static_cast<std::size_t>(c)] =
          static_cast<float>(kernel((first + c - u) / (kWidth / 2.0)));
    }
    const double angle = kTwoPi * fraction(centre * elapsed);
    plan.phase_re_[j] = std::cos(angle);
    plan.phase_im_[j] = std::sin(angle);
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
  plan.deconvolution_.resize(static_cast<std::size_t>(count));
  for (int m = 0; m < count; ++m) {
    plan.deconvolution_[static_cast<std::size_t>(m)] =
        1.0 / transform[static_cast<std::size_t>(std::abs(m - half))];
  }
  plan.order_.resize(plan.n_);
  bit_reversal_order(plan.order_);
  plan.fft_ = std::make_unique<FftPlan>(plan.n_);
  out = std::move(plan);
  return Status::success();
}

template <typename Strength>
void NufftPlan::run(const Strength& strength, std::span<std::complex<double>> out,
                    Work& work, const std::function<bool()>& cancelled) const {
  constexpr std::size_t w = kWidth, half_width = kWidth / 2;
  work.spread_re.assign(n_ + w, 0.0);
  work.spread_im.assign(n_ + w, 0.0);
  double* spread_re = work.spread_re.data();
  double* spread_im = work.spread_im.data();
  for (std::size_t j = 0; j < cell_.size(); ++j) {
    if (j % 65536 == 0 && cancelled && cancelled()) return;
    const std::complex<double> c = strength(j);
    const double ar = c.real() * phase_re_[j] - c.imag() * phase_im_[j];
    const double ai = c.real() * phase_im_[j] + c.imag() * phase_re_[j];
    const float* value = kernel_.data() + j * w;
    double* re = spread_re + cell_[j];
    double* im = spread_im + cell_[j];
    for (std::size_t c2 = 0; c2 < w; ++c2) {
      re[c2] += ar * value[c2];
      im[c2] += ai * value[c2];
    }
  }
  // The padding cells are grid cells -w/2 .. -1 and n .. n + w/2 - 1.
  for (std::size_t c = 0; c < half_width; ++c) {
    spread_re[c + n_] += spread_re[c];
    spread_im[c + n_] += spread_im[c];
    spread_re[c + half_width] += spread_re[c + n_ + half_width];
    spread_im[c + half_width] += spread_im[c + n_ + half_width];
  }
  work.re.resize(n_);
  work.im.resize(n_);
  for (std::size_t l = 0; l < n_; ++l) {
    work.re[order_[l]] = spread_re[l + half_width];
    work.im[order_[l]] = spread_im[l + half_width];
  }
  if (cancelled && cancelled()) return;
  fft_->transform_bit_reversed(work.re, work.im);
  const int half = count_ / 2;
  const long long n = static_cast<long long>(n_);
  for (int m = 0; m < count_; ++m) {
    const long long k = m - half;
    const std::size_t at = static_cast<std::size_t>(k < 0 ? k + n : k);
    const double d = deconvolution_[static_cast<std::size_t>(m)];
    out[static_cast<std::size_t>(m)] = {work.re[at] * d, work.im[at] * d};
  }
}

void NufftPlan::transform(std::span<const double> strength, std::span<std::complex<double>> out,
                          Work& work, const std::function<bool()>& cancelled) const {
  run([&](std::size_t j) { return std::complex<double>(strength[j], 0.0); }, out, work, cancelled);
}

void NufftPlan::transform(std::span<const std::complex<double>> strength,
                          std::span<std::complex<double>> out, Work& work,
                          const std::function<bool()>& cancelled) const {
  run([&](std::size_t j) { return strength[j]; }, out, work, cancelled);
}

}  // namespace quorvane::spectral
