// Random surrogate series for Monte Carlo significance levels.
#pragma once

#include <cstdint>
#include <span>

namespace quorvane::spectral {

// A reproducible stream of random numbers: xoshiro256** seeded through
// splitmix64 from a seed and a stream number, so that every surrogate has
// its own stream and the values do not depend on which thread draws them,
// nor on the standard library's distribution implementations.
class RandomStream {
 public:
  RandomStream(std::uint64_t seed, std::uint64_t stream);

  std::uint64_t next();
  // Uniform in (0, 1): never 0, so its logarithm is finite.
  double uniform();
  // Standard normal, by the Box-Muller transform (the second value of each
  // pair is kept for the next call).
  double normal();

 private:
  std::uint64_t state_[4];
  double spare_ = 0.0;
  bool has_spare_ = false;
};

// Writes out.size() values of a stationary AR(1) process with coefficient
// rho and variance `variance`:
//   x(0) = sigma e(0),  x(t) = rho x(t-1) + sigma sqrt(1 - rho^2) e(t),
// sigma^2 = variance, e independent standard normal from `random`. Starting
// from the stationary distribution leaves no warm-up transient. Computed in
// double, stored in single precision. Requires |rho| < 1 and variance >= 0.
void ar1_surrogate(double rho, double variance, RandomStream& random, std::span<float> out);

// The same process on a record's own times (time increasing, out.size()
// values): the continuous-time AR(1) of persistence time tau sampled there,
//   x(0) = sigma e(0),  x(j) = a(j) x(j-1) + sigma sqrt(1 - a(j)^2) e(j),
//   a(j) = exp(-(time(j) - time(j-1)) / tau),
// so that gaps and uneven steps decorrelate the values as they do in the
// record (Schulz & Mudelsee 2002, Comput. Geosci. 28:421). tau = 0 gives
// white noise. Computed in double, stored in single precision. Requires
// tau >= 0, variance >= 0 and time.size() >= out.size().
void ar1_surrogate_on_times(std::span<const double> time, double tau, double variance,
                            RandomStream& random, std::span<float> out);

}  // namespace quorvane::spectral
