#include "spectral/stages/eigenspectra.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>

#include "spectral/numerics/two_halves.h"

namespace quorvane::spectral {

void hires(const Eigencoefficients& y, std::span<const double> el, std::span<float> s,
           HiresWeights weights) {
  const int nwin = y.nwin;
  double inverse_sum = 0.0;
  for (int k = 0; k < nwin; ++k) inverse_sum += 1.0 / el[static_cast<std::size_t>(k)];
  float w[8];
  for (int k = 0; k < nwin; ++k) {
    const double elk = el[static_cast<std::size_t>(k)];
    w[k] = static_cast<float>(weights == HiresWeights::unit_sum ? 1.0 / (elk * inverse_sum)
                                                                : 1.0 / (nwin * elk));
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

namespace {

// Entries side by side, one per lane of a 16-byte vector: each lane does
// exactly the operations the entry would do alone (element-wise IEEE
// arithmetic, no fused multiply-add), so the results are those of one entry
// at a time while the divisions, which dominate, run in parallel.
constexpr int kDoubleLanes = 2;
constexpr int kFloatLanes = 4;
using DoubleLanes = double __attribute__((vector_size(16)));
using MaskLanes = long long __attribute__((vector_size(16)));
using FloatLanes = float __attribute__((vector_size(16)));

DoubleLanes splat(double value) { return DoubleLanes{} + value; }
FloatLanes splat(float value) { return FloatLanes{} + value; }

DoubleLanes absolute(DoubleLanes x) {
  return reinterpret_cast<DoubleLanes>(reinterpret_cast<MaskLanes>(x) & 0x7fffffffffffffffLL);
}

// Entries at least this many go to two threads.
constexpr int kThreadedCount = 8192;

// Runs body(first, last) over entries [0, count), in two halves on two
// threads for long bands. Each half writes only its own entries.
template <typename Body>
void over_entries(int count, Body body) {
  if (count >= kThreadedCount) {
    const int middle = count / 2 / kFloatLanes * kFloatLanes;
    run_two_halves([&] { body(0, middle); }, [&] { body(middle, count); });
  } else {
    body(0, count);
  }
}

// The adaptive weights are iterated until the estimate changes by less than
// kSettled of itself. Almost every entry settles within a few iterations;
// one whose weights swing between tapers of very different leakage (a steep
// spectrum next to a low-concentration taper) can need some dozens, and is
// then still far from its fixed point after 20. The cap only guards against
// an iteration that never settles.
constexpr int kMaxAdaptiveIterations = 1000;
constexpr double kSettled = 0.0003;

// The adaptive estimate of one entry from its eigenspectra sk[0..K-1].
double adaptive_entry(const double* sk, int nwin, std::span<const double> el, const double* bias,
                      const double* sqrt_el) {
  double estimate = nwin > 1 ? (sk[0] + sk[1]) / 2.0 : sk[0];
  for (int iteration = 0; iteration < kMaxAdaptiveIterations && estimate != 0.0; ++iteration) {
    double num = 0.0, den = 0.0;
    for (int k = 0; k < nwin; ++k) {
      const double elk = el[static_cast<std::size_t>(k)];
      const double d = sqrt_el[k] * estimate / (elk * estimate + bias[k]);
      num += d * d * sk[k];
      den += d * d;
    }
    const double next = num / den;
    if (std::fabs(next - estimate) / estimate < kSettled) break;
    estimate = next;
  }
  return estimate;
}

// The same for kDoubleLanes entries at once. A lane stops where its entry would
// stop: its estimate stays once the relative change is small, or once it is
// zero; the others go on.
DoubleLanes adaptive_lanes(const DoubleLanes* sk, int nwin, std::span<const double> el,
                           const double* bias, const double* sqrt_el) {
  DoubleLanes estimate = nwin > 1 ? (sk[0] + sk[1]) / 2.0 : sk[0];
  MaskLanes active = estimate != 0.0;
  for (int iteration = 0; iteration < kMaxAdaptiveIterations; ++iteration) {
    bool any = false;
    for (int lane = 0; lane < kDoubleLanes; ++lane) any = any || active[lane] != 0;
    if (!any) break;
    DoubleLanes num = splat(0.0), den = splat(0.0);
    for (int k = 0; k < nwin; ++k) {
      const double elk = el[static_cast<std::size_t>(k)];
      const DoubleLanes d = sqrt_el[k] * estimate / (elk * estimate + bias[k]);
      num += d * d * sk[k];
      den += d * d;
    }
    const DoubleLanes next = num / den;
    const MaskLanes settled = absolute(next - estimate) / estimate < kSettled;
    const MaskLanes moves = active & ~settled;
    estimate = moves ? next : estimate;
    active = moves & (next != 0.0);
  }
  return estimate;
}

}  // namespace

void adwait(const Eigencoefficients& y, std::span<const double> el, double sig2,
            std::span<float> s, const std::function<bool()>& cancelled) {
  const int nwin = y.nwin;
  if (sig2 == 0.0) {
    std::fill(s.begin(), s.begin() + y.count, 0.0f);
    return;
  }
  double bias[8], sqrt_el[8];
  for (int k = 0; k < nwin; ++k) {
    bias[k] = 1.0 - el[static_cast<std::size_t>(k)];
    sqrt_el[k] = std::sqrt(el[static_cast<std::size_t>(k)]);
  }
  auto power = [&](int i, int k) {
    const std::size_t at = y.at(i, k);
    return y.yr[at] * y.yr[at] + y.yi[at] * y.yi[at];
  };
  // Each half goes in blocks of whole lanes, so that a long band asks
  // `cancelled` every kCancelBlock entries; the entries that go through the
  // lanes and the single tail are those of one pass over the half.
  constexpr int kCancelBlock = 1 << 16;
  static_assert(kCancelBlock % kDoubleLanes == 0);
  const auto entries = [&](int first, int last) {
    int i = first;
    for (; i + kDoubleLanes <= last; i += kDoubleLanes) {
      DoubleLanes sk[8];
      for (int k = 0; k < nwin; ++k) {
        for (int lane = 0; lane < kDoubleLanes; ++lane) sk[k][lane] = power(i + lane, k);
        sk[k] /= sig2;
      }
      const DoubleLanes estimate = adaptive_lanes(sk, nwin, el, bias, sqrt_el);
      for (int lane = 0; lane < kDoubleLanes; ++lane) {
        const float value = static_cast<float>(sig2 * estimate[lane]);
        s[static_cast<std::size_t>(i + lane)] = std::fabs(value);
      }
    }
    for (; i < last; ++i) {
      double sk[8];
      for (int k = 0; k < nwin; ++k) sk[k] = power(i, k) / sig2;
      const double estimate = adaptive_entry(sk, nwin, el, bias, sqrt_el);
      s[static_cast<std::size_t>(i)] = std::fabs(static_cast<float>(sig2 * estimate));
    }
  };
  over_entries(y.count, [&](int first, int last) {
    for (int block = first; block < last; block += kCancelBlock) {
      if (cancelled && cancelled()) return;
      entries(block, last - block > kCancelBlock ? block + kCancelBlock : last);
    }
  });
}

namespace {

// The F statistic from the explained and residual sums of one entry.
float f_statistic(float explained, float sse) {
  float f = 0.0f;
  if (sse > 0.0f) {
    f = explained / sse;
  } else if (explained > 0.0f) {
    f = std::numeric_limits<float>::max();
  }
  if (!std::isfinite(f)) f = std::numeric_limits<float>::max();
  return f;
}

}  // namespace

void regre(const Eigencoefficients& y, std::span<const float> tapsum, std::span<float> ftest) {
  const int nwin = y.nwin;
  float ssq = 0.0f;
  for (int k = 0; k < nwin; ++k) {
    ssq += tapsum[static_cast<std::size_t>(k)] * tapsum[static_cast<std::size_t>(k)];
  }
  const float dof = static_cast<float>(nwin - 1);
  auto one_entry = [&](int i) {
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
    ftest[static_cast<std::size_t>(i)] = f_statistic(explained, sse);
  };
  // The same for kFloatLanes entries at once, lane by lane the same operations.
  auto lanes = [&](int i) {
    FloatLanes yr[8], yi[8];
    for (int k = 0; k < nwin; ++k) {
      for (int lane = 0; lane < kFloatLanes; ++lane) {
        const std::size_t at = y.at(i + lane, k);
        yr[k][lane] = y.yr[at];
        yi[k][lane] = y.yi[at];
      }
    }
    FloatLanes amr = splat(0.0f), ami = splat(0.0f);
    for (int k = 0; k < nwin; ++k) {
      const float t = tapsum[static_cast<std::size_t>(k)];
      amr += yr[k] * t / ssq;
      ami += yi[k] * t / ssq;
    }
    FloatLanes sse = splat(0.0f);
    for (int k = 0; k < nwin; ++k) {
      const float t = tapsum[static_cast<std::size_t>(k)];
      const FloatLanes er = yr[k] - t * amr;
      const FloatLanes ei = yi[k] - t * ami;
      sse += er * er + ei * ei;
    }
    const FloatLanes explained = (amr * amr + ami * ami) * dof * ssq;
    for (int lane = 0; lane < kFloatLanes; ++lane) {
      ftest[static_cast<std::size_t>(i + lane)] = f_statistic(explained[lane], sse[lane]);
    }
  };
  over_entries(y.count, [&](int first, int last) {
    int i = first;
    for (; i + kFloatLanes <= last; i += kFloatLanes) lanes(i);
    for (; i < last; ++i) one_entry(i);
  });
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
