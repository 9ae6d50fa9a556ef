// Series shared by the reconstruction tests.
#pragma once

#include <cmath>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace quorvane::recon::testing {

// Yearly sunspot numbers 1700-2008 (309 values).
inline std::vector<float> sunspots() {
  std::ifstream in(std::string(QUORVANE_SOURCE_DIR) + "/examples/sunspots.dat");
  std::string name;
  int first_year = 0;
  in >> name >> first_year;
  std::vector<float> values;
  for (float v; in >> v;) values.push_back(v);
  return values;
}

inline std::vector<float> noise(int n, unsigned seed) {
  std::mt19937 generator(seed);
  std::normal_distribution<float> normal(0.0f, 1.0f);
  std::vector<float> values(static_cast<std::size_t>(n));
  for (float& v : values) v = normal(generator);
  return values;
}

// A carrier at frequency f whose amplitude swells and fades once over the
// record: (1 + 0.5·sin(2·pi·t/T))·cos(2·pi·f·t + 0.3).
inline std::vector<float> modulated(int n, double f, double dt) {
  constexpr double pi = std::numbers::pi;
  std::vector<float> y(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    const double t = i * dt;
    y[std::size_t(i)] = static_cast<float>((1.0 + 0.5 * std::sin(2 * pi * t / (n * dt))) *
                                           std::cos(2 * pi * f * t + 0.3));
  }
  return y;
}

inline std::vector<float> anomaly(const std::vector<float>& y) {
  double mean = 0.0;
  for (float v : y) mean += v;
  mean /= static_cast<double>(y.size());
  std::vector<float> x(y.size());
  for (std::size_t i = 0; i < y.size(); ++i) x[i] = static_cast<float>(y[i] - mean);
  return x;
}

// Root-mean-square of a - b over samples from..to-1, relative to that of b.
inline double relative_error(const std::vector<float>& a, const std::vector<float>& b, int from,
                             int to) {
  double diff = 0.0, size = 0.0;
  for (int i = from; i < to; ++i) {
    diff += std::pow(double(a[std::size_t(i)]) - b[std::size_t(i)], 2);
    size += std::pow(double(b[std::size_t(i)]), 2);
  }
  return std::sqrt(diff / size);
}

}  // namespace quorvane::recon::testing
