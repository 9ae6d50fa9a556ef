#include "spectral/significance/surrogates.h"

#include <cmath>
#include <cstddef>

namespace quorvane::spectral {

namespace {

std::uint64_t splitmix64(std::uint64_t& x) {
  std::uint64_t z = (x += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

}  // namespace

RandomStream::RandomStream(std::uint64_t seed, std::uint64_t stream) {
  // The stream number is mixed in through its own splitmix64 step, so that
  // neighbouring (seed, stream) pairs start far apart.
  std::uint64_t mix = stream;
  std::uint64_t x = seed ^ splitmix64(mix);
  for (std::uint64_t& word : state_) word = splitmix64(x);
}

std::uint64_t RandomStream::next() {
  const std::uint64_t result = rotl(state_[1] * 5, 7) * 9;
  const std::uint64_t t = state_[1] << 17;
  state_[2] ^= state_[0];
  state_[3] ^= state_[1];
  state_[1] ^= state_[2];
  state_[0] ^= state_[3];
  state_[2] ^= t;
  state_[3] = rotl(state_[3], 45);
  return result;
}

double RandomStream::uniform() {
  // The top 53 bits, shifted by half a unit into the open interval.
  return (static_cast<double>(next() >> 11) + 0.5) * 0x1.0p-53;
}

double RandomStream::normal() {
  if (has_spare_) {
    has_spare_ = false;
    return spare_;
  }
  constexpr double two_pi = 6.283185307179586476925;
  const double radius = std::sqrt(-2.0 * std::log(uniform()));
  const double angle = two_pi * uniform();
  spare_ = radius * std::sin(angle);
  has_spare_ = true;
  return radius * std::cos(angle);
}

void ar1_surrogate(double rho, double variance, RandomStream& random, std::span<float> out) {
  if (out.empty()) return;
  const double sigma = std::sqrt(variance);
  const double innovation = sigma * std::sqrt(1.0 - rho * rho);
  double x = sigma * random.normal();
  out[0] = static_cast<float>(x);
  for (std::size_t t = 1; t < out.size(); ++t) {
    x = rho * x + innovation * random.normal();
    out[t] = static_cast<float>(x);
  }
}

void ar1_surrogate_on_times(std::span<const double> time, double tau, double variance,
                            RandomStream& random, std::span<float> out) {
  const double sigma = std::sqrt(variance);
  double x = 0.0;
  for (std::size_t j = 0; j < out.size(); ++j) {
    const double a = j == 0 || tau <= 0.0 ? 0.0 : std::exp(-(time[j] - time[j - 1]) / tau);
    x = a * x + sigma * std::sqrt(1.0 - a * a) * random.normal();
    out[j] = static_cast<float>(x);
  }
}

}  // namespace quorvane::spectral
