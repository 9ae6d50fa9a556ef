#include "spectral/estimators.h"

#include <cmath>
#include <limits>

namespace quorvane::spectral {

void hires(const Eigencoefficients& y, std::span<const double> el, std::span<float> s) {
  const int nwin = y.nwin;
  float w[8];
  for (int k = 0; k < nwin; ++k) {
    w[k] = static_cast<float>(1.0 / (nwin * el[static_cast<std::size_t>(k)]));
  }
  for (int i = 0; i < y.count; ++i) {
    float sum = 0.0f;
    for (int k = 0; k < nwin; ++k) {
      const std::size_t at = y.at(i, k);
      sum += w[k] * (y.yr[at] * y.yr[at] + y.yi[at] * y.yi[at]);
    }
    s[static_cast<std::size_t>(i)] = sum;
  }
}

void adwait(const Eigencoefficients& y, std::span<const double> el, double sig2,
            std::span<float> s) {
  const int nwin = y.nwin;
  double bias[8], sqrt_el[8], sk[8];
  for (int k = 0; k < nwin; ++k) {
    bias[k] = 1.0 - el[static_cast<std::size_t>(k)];
    sqrt_el[k] = std::sqrt(el[static_cast<std::size_t>(k)]);
  }
  for (int i = 0; i < y.count; ++i) {
    if (sig2 == 0.0) {
      s[static_cast<std::size_t>(i)] = 0.0f;
      continue;
    }
    for (int k = 0; k < nwin; ++k) {
      const std::size_t at = y.at(i, k);
      const float power = y.yr[at] * y.yr[at] + y.yi[at] * y.yi[at];
      sk[k] = power / sig2;
    }
    double estimate = nwin > 1 ? (sk[0] + sk[1]) / 2.0 : sk[0];
    for (int iteration = 0; iteration < 20 && estimate != 0.0; ++iteration) {
      double num = 0.0, den = 0.0;
      for (int k = 0; k < nwin; ++k) {
        const double elk = el[static_cast<std::size_t>(k)];
        const double d = sqrt_el[k] * estimate / (elk * estimate + bias[k]);
        num += d * d * sk[k];
        den += d * d;
      }
      const double next = num / den;
      if (std::fabs(next - estimate) / estimate < 0.0003) break;
      estimate = next;
    }
    s[static_cast<std::size_t>(i)] = std::fabs(static_cast<float>(sig2 * estimate));
  }
}

void regre(const Eigencoefficients& y, std::span<const float> tapsum, std::span<float> ftest) {
  const int nwin = y.nwin;
  float ssq = 0.0f;
  for (int k = 0; k < nwin; ++k) ssq += tapsum[static_cast<std::size_t>(k)] * tapsum[static_cast<std::size_t>(k)];
  const float dof = static_cast<float>(nwin - 1);
  for (int i = 0; i < y.count; ++i) {
    float amr = 0.0f, ami = 0.0f;
    for (int k = 0; k < nwin; ++k) {
      const std::size_t at = y.at(i, k);
      amr += y.yr[at] * tapsum[static_cast<std::size_t>(k)] / ssq;
      ami += y.yi[at] * tapsum[static_cast<std::size_t>(k)] / ssq;
    }
    float sse = 0.0f;
    for (int k = 0; k < nwin; ++k) {
      const std::size_t at = y.at(i, k);
      const float er = y.yr[at] - tapsum[static_cast<std::size_t>(k)] * amr;
      const float ei = y.yi[at] - tapsum[static_cast<std::size_t>(k)] * ami;
      sse += er * er + ei * ei;
    }
    const float explained = (amr * amr + ami * ami) * dof * ssq;
    float f = 0.0f;
    if (sse > 0.0f) {
      f = explained / sse;
    } else if (explained > 0.0f) {
      f = std::numeric_limits<float>::max();
    }
    if (!std::isfinite(f)) f = std::numeric_limits<float>::max();
    ftest[static_cast<std::size_t>(i)] = f;
  }
}

std::array<float, 6> f_levels(int nwin) {
  // Quantiles of F(2, 2K - 2), that is (nu2 / 2) ((1 - level)^(-2 / nu2) - 1)
  // with nu2 = 2K - 2, to the digits of printed F tables (three decimals below
  // 1, two above): the thresholds users look up and compare against.
  static constexpr float table[7][6] = {
      {1.0f, 9.0f, 19.0f, 99.0f, 199.0f, 999.0f},
      {0.828f, 4.32f, 6.94f, 18.0f, 26.28f, 61.25f},
      {0.780f, 3.46f, 5.14f, 10.92f, 14.54f, 27.0f},
      {0.757f, 3.11f, 4.46f, 8.65f, 11.04f, 18.49f},
      {0.743f, 2.92f, 4.10f, 7.56f, 9.43f, 14.91f},
      {0.735f, 2.81f, 3.89f, 6.93f, 8.51f, 12.97f},
      {0.729f, 2.73f, 3.74f, 6.51f, 7.92f, 11.78f},
  };
  std::array<float, 6> row{};
  if (nwin >= 2 && nwin <= 8) {
    for (int j = 0; j < 6; ++j) row[static_cast<std::size_t>(j)] = table[nwin - 2][j];
  }
  return row;
}

}  // namespace quorvane::spectral
