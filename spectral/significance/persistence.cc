#include "spectral/significance/persistence.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "spectral/numerics/vector_lanes.h"

namespace quorvane::spectral {

namespace {

constexpr std::size_t kMinValues = 10;

// Brent's minimisation of f on [a, b] by golden-section steps and parabolic
// interpolation (Brent 1973, ch. 5, procedure localmin): the abscissa of a
// local minimum, to within tol plus a relative 1.5e-8 (the square root of
// the double precision's unit, below which a sum of squares is flat).
template <typename F>
double brent_minimum(const F& f, double a, double b, double tol) {
  const double golden = 0.5 * (3.0 - std::sqrt(5.0));
  const double relative = 1.5e-8;
  double x = a + golden * (b - a), w = x, v = x;
  double fx = f(x), fw = fx, fv = fx;
  double d = 0.0, e = 0.0;
  for (int iteration = 0; iteration < 200; ++iteration) {
    const double middle = 0.5 * (a + b);
    const double tol1 = relative * std::fabs(x) + tol / 3.0;
    const double tol2 = 2.0 * tol1;
    if (std::fabs(x - middle) <= tol2 - 0.5 * (b - a)) break;
    double p = 0.0, q = 0.0, r = 0.0;
    if (std::fabs(e) > tol1) {
      r = (x - w) * (fx - fv);
      q = (x - v) * (fx - fw);
      p = (x - v) * q - (x - w) * r;
      q = 2.0 * (q - r);
      if (q > 0.0) p = -p;
      q = std::fabs(q);
      r = e;
      e = d;
    }
    if (std::fabs(p) < std::fabs(0.5 * q * r) && p > q * (a - x) && p < q * (b - x)) {
      d = p / q;  // parabolic step
      const double u = x + d;
      if (u - a < tol2 || b - u < tol2) d = x < middle ? tol1 : -tol1;
    } else {
      e = (x < middle ? b : a) - x;  // golden-section step
      d = golden * e;
    }
    const double u = x + (std::fabs(d) >= tol1 ? d : (d > 0.0 ? tol1 : -tol1));
    const double fu = f(u);
    if (fu <= fx) {
      (u < x ? b : a) = x;
      v = w, fv = fw;
      w = x, fw = fx;
      x = u, fx = fu;
    } else {
      (u < x ? a : b) = u;
      if (fu <= fw || w == x) {
        v = w, fv = fw;
        w = u, fw = fu;
      } else if (fu <= fv || v == x || v == w) {
        v = u, fv = fu;
      }
    }
  }
  return x;
}

// exp(z) of every z <= 0 (-inf included) of `in` into `out`, L at a time:
// z = (k + f) ln 2 with k the nearest whole number to z log2 e (by the
// 1.5 2^52 shift) and |f| <= 1/2, 2^f = exp(f ln 2) by its Taylor series
// to the 13th power (the first omitted term is below 5e-18), times 2^k
// built in the exponent bits; 0 below -700. Relative errors stay below 1e-16
// near 0 and 5e-14 at -700 (the rounding of z log2 e, whose whole part
// goes into 2^k). The same operations in the same order whatever L, and
// without fused steps, so the values do not depend on the processor. The
// persistence search takes tens of exponentials a value at every step, and
// the library's, one call each, were most of its time.
// R registers of L values at once, their steps interleaved: each is one
// long chain of dependent steps.
template <std::size_t L, std::size_t R>
[[gnu::always_inline]] inline void exp_block(const double* in, double* out) {
  using Doubles = Vector<double, L>;
  using Ints = Vector<std::int64_t, L>;
  constexpr double kLog2e = 1.4426950408889634074, kLn2 = 0.6931471805599453094;
  constexpr double kShift = 0x1.8p52;
  // 1 / m! for m = 13 down to 0.
  static constexpr double kTerms[] = {1.0 / 6227020800.0, 1.0 / 479001600.0, 1.0 / 39916800.0,
                                      1.0 / 3628800.0,    1.0 / 362880.0,    1.0 / 40320.0,
                                      1.0 / 5040.0,       1.0 / 720.0,       1.0 / 120.0,
                                      1.0 / 24.0,         1.0 / 6.0,         0.5,
                                      1.0,                1.0};
  const Doubles shift = Doubles{} + kShift;
  Ints shift_bits;
  std::memcpy(&shift_bits, &shift, sizeof shift_bits);
  Ints usable[R];
  Doubles y[R], g[R], p[R];
#pragma GCC unroll 4
  for (std::size_t r = 0; r < R; ++r) {
    Doubles z;
    std::memcpy(&z, in + r * L, sizeof z);
    usable[r] = z >= -700.0;
    const Doubles t = usable[r] ? z * kLog2e : Doubles{};
    y[r] = t + shift;
    g[r] = (t - (y[r] - shift)) * kLn2;
    p[r] = Doubles{} + kTerms[0];
  }
  for (std::size_t m = 1; m < std::size(kTerms); ++m) {
#pragma GCC unroll 4
    for (std::size_t r = 0; r < R; ++r) p[r] = p[r] * g[r] + kTerms[m];
  }
#pragma GCC unroll 4
  for (std::size_t r = 0; r < R; ++r) {
    Ints y_bits;
    std::memcpy(&y_bits, &y[r], sizeof y_bits);
    const Ints scale_bits = ((y_bits - shift_bits) + 1023) << 52;
    Doubles scale;
    std::memcpy(&scale, &scale_bits, sizeof scale);
    const Doubles value = p[r] * scale;
    Ints value_bits;
    std::memcpy(&value_bits, &value, sizeof value_bits);
    value_bits &= usable[r];
    std::memcpy(out + r * L, &value_bits, sizeof value_bits);
  }
}

template <std::size_t L>
[[gnu::always_inline]] inline void exp_lanes(std::span<const double> in, std::span<double> out) {
  constexpr std::size_t kBlock = 4 * L;
  std::size_t j = 0;
  for (; j + kBlock <= in.size(); j += kBlock) exp_block<L, 4>(in.data() + j, out.data() + j);
  // The rest through the same lanes.
  if (j < in.size()) {
    double z[kBlock] = {}, e[kBlock];
    for (std::size_t l = 0; j + l < in.size(); ++l) z[l] = in[j + l];
    exp_block<L, 4>(z, e);
    for (std::size_t l = 0; j + l < in.size(); ++l) out[j + l] = e[l];
  }
}

[[gnu::target("avx2")]] void exp_wide(std::span<const double> in, std::span<double> out) {
  exp_lanes<4>(in, out);
}

void exp_nonpositive(std::span<const double> in, std::span<double> out) {
  if (__builtin_cpu_supports("avx2")) return exp_wide(in, out);
  exp_lanes<2>(in, out);
}

}  // namespace

Status persistence_time(std::span<const double> time, std::span<const float> y, double& tau,
                        const std::function<bool()>& cancelled) {
  const std::size_t n = time.size();
  if (y.size() != n) {
    return Status::failure("The record has " + std::to_string(n) + " times but " +
                           std::to_string(y.size()) + " values.");
  }
  if (n < kMinValues) {
    return Status::failure("The persistence time needs at least " + std::to_string(kMinValues) +
                           " values (the series has " + std::to_string(n) + ").");
  }
  for (std::size_t j = 0; j < n; ++j) {
    if (!std::isfinite(time[j]) || !std::isfinite(y[j])) {
      return Status::failure("Time or value " + std::to_string(j + 1) +
                             " of the series is not a finite number.");
    }
    if (j > 0 && !(time[j] > time[j - 1])) {
      return Status::failure("The times of the series do not increase at value " +
                             std::to_string(j + 1) + ".");
    }
  }
  double mean = 0.0;
  for (float value : y) mean += value;
  mean /= static_cast<double>(n);
  double ssq = 0.0;
  for (float value : y) ssq += (value - mean) * (value - mean);
  const double sd = std::sqrt(ssq / static_cast<double>(n - 1));
  if (!(sd > 0.0)) {
    return Status::failure("The values of the series are all equal; they have no persistence"
                           " time.");
  }
  const double span = time[n - 1] - time[0];
  const double step = span / static_cast<double>(n - 1);
  std::vector<double> x(n), gap(n), power(n, 1.0);
  for (std::size_t j = 0; j < n; ++j) {
    x[j] = (y[j] - mean) / sd;
    gap[j] = j == 0 ? 0.0 : (time[j] - time[j - 1]) / step;
  }
  // Once cancelled, every misfit is 0, so that the search ends at once.
  bool stopped = false;
  const auto misfit = [&](double a) {
    if (stopped || (cancelled && cancelled())) {
      stopped = true;
      return 0.0;
    }
    const double log_a = std::log(a);  // -inf at a = 0, where every a^gap is 0
    for (std::size_t j = 1; j < n; ++j) power[j] = gap[j] * log_a;
    exp_nonpositive(power, power);
    double sum = 0.0;
    for (std::size_t j = 1; j < n; ++j) {
      const double error = x[j] - power[j] * x[j - 1];
      sum += error * error;
    }
    return sum;
  };
  const double a_hat = brent_minimum(misfit, 0.0, 1.0, 1e-10);
  if (stopped) return Status::interrupted("The run was interrupted.");
  if (misfit(0.0) <= misfit(a_hat)) {
    tau = 0.0;
    return Status::success();
  }
  const double count = static_cast<double>(n);
  const double corrected = (a_hat * (count - 1.0) + 1.0) / (count - 4.0);
  tau = corrected >= 1.0 ? span : std::min(-step / std::log(corrected), span);
  return Status::success();
}

float coefficient_of(double tau, float dt) {
  const float rho = tau > 0.0 ? static_cast<float>(std::exp(-static_cast<double>(dt) / tau)) : 0.0f;
  return std::min(rho, std::nextafter(1.0f, 0.0f));
}

double persistence_of(float rho, float dt) {
  return rho > 0.0f ? -static_cast<double>(dt) / std::log(static_cast<double>(rho)) : 0.0;
}

}  // namespace quorvane::spectral
