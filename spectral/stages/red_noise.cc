#include "spectral/stages/red_noise.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory_resource>
#include <span>
#include <vector>

#include "spectral/numerics/two_halves.h"

#include "spectral/numerics/vector_lanes.h"

namespace quorvane::spectral {

namespace {

// The pi of the misfit's model curve: 3.1415925, one float step below the
// background's single-precision pi. The step changes the misfit values in
// their last bits (though not the fitted coefficient in any case checked);
// the value is kept so that every misfit, and so every tie the grid search
// resolves, stays bit for bit what it is.
constexpr float kMisfitPi = 3.1415925f;
// A grid point's misfit must lie below this to count: a margin of 100 below
// the float range, so that a misfit near overflow gives no fit rather than a
// meaningless one, and finite, so the pruning bound that starts from it stays
// an ordinary number. On the scale misfit_scale gives, only values that are
// no number or lie some 1e17 times the level s0 reach it.
constexpr float kMisfitCeiling = 1e36f;
// The log misfit's floor, relative to s0: far below any spectrum that single
// precision resolves, so that it only keeps zeros finite.
constexpr float kRelativeFloor = 1e-12f;
// The range of s0 in which the log misfit works on the values as they are:
// the model (at most 1000 s0 on the grid) and the values 1e-12 of s0 below
// it stay normal floats.
constexpr float kLogLow = 0x1p-64f, kLogHigh = 0x1p64f;
constexpr int kGridSize = 999;

float model_value(float s0, float r, float cs) {
  return s0 * (1.0f - r * r) / (1.0f - 2.0f * r * cs + r * r);
}

float entry_cos(const MisfitBand& band, std::size_t i) {
  const float f = static_cast<float>(i) * band.df + band.f0;
  return std::cos(kMisfitPi * f / band.nyquist);
}

// The smallest value the log misfit takes the logarithm of, for the scaled
// level s0; a normal float even where s0 is zero.
float log_floor(float s0) {
  return std::max(kRelativeFloor * s0, std::numeric_limits<float>::min());
}

// A (misfit, grid index) pair as one unsigned number whose order is the
// first-minimum rule: a smaller misfit wins, an equal one wins from a lower
// index. Misfits are sums of squares, so +0, positive, infinite or NaN, and
// the bits of such floats order as the values do (NaN above everything, so
// it never wins).
std::uint64_t ranked(float misfit, int index) {
  return (std::uint64_t{std::bit_cast<std::uint32_t>(misfit)} << 32) |
         static_cast<std::uint32_t>(index);
}

// Nothing found yet: a misfit must lie below kMisfitCeiling to count, and
// the pair (kMisfitCeiling, 0) is below (kMisfitCeiling, any index).
const std::uint64_t kNoFit = ranked(kMisfitCeiling, 0);

// Entries summed between two looks at the bound: looking costs as much as
// the arithmetic of an entry. The first look comes sooner, since most grid
// values are far off and lose within a few entries.
constexpr std::size_t kFirstChunk = 8;
constexpr std::size_t kChunk = 64;


// The screen: a cheap misfit of every grid value with a proven bound on its
// distance from the exact one, so that only the values whose bounds overlap
// the lowest need the exact (scalar, entry by entry) evaluation. The screen
// runs on four entries at a time, eight where the processor has AVX2 (the
// same operations on wider registers: without FMA, every product and sum is
// rounded as in the exact evaluation); its only inexact step is its
// logarithm.
template <std::size_t kWidth>
struct Lanes {
  using Floats = Vector<float, kWidth>;
  using Ints = Vector<std::int32_t, kWidth>;
};
constexpr std::size_t kLanes = 4;
// Entries of one lane summed in single precision before the lanes go into
// a double sum: eight, so that the screen's own summation error stays
// within gamma(8) of its value.
constexpr std::size_t kScreenBlock = 8 * kLanes;
// At most this many entries go into one lane's single-precision sum.
constexpr std::size_t kLaneTerms = kScreenBlock / kLanes;
// The first look at the bound comes after two vectors of entries: most grid
// values are far off and lose within a few entries.
constexpr std::size_t kFirstLook = 8;
// The unit roundoff of single precision.
constexpr double kUnit = 0x1p-24;
// Above this many entries gamma(n), the bound on the rounding of the exact
// sequential sum, grows past 6 % and the screen would keep too much of the
// grid to pay: the plain search runs instead.
constexpr std::size_t kScreenLimit = std::size_t{1} << 20;
// The linear misfit's exact terms cost no logarithm, and pruning them one by
// one beats the screen once gamma(n) leaves several grid values to evaluate
// in full: beyond this many entries the plain search runs.
constexpr std::size_t kLinearScreenLimit = 4096;

// ln x for a positive normal x, with |error| <= 1.5e-7 + 3 u |ln x|: x =
// 2^e m with m in [sqrt(1/2), sqrt(2)), ln m = 2 atanh(s), s = (m - 1) /
// (m + 1), |s| <= 0.1716, summed to s^9 (the rest is below 7.4e-10), in
// single precision (below 1e-7 for |ln m| <= 0.347), and e ln 2 with ln 2
// split so that its larger part times e is exact. (On every float of
// [2^-24, 4.5], the range of D, the error stays below 0.4 of this bound.)
// (Vectors go in and out by reference: the eight-lane versions are only
// ever inlined into the function compiled for AVX2.)
template <std::size_t kWidth, typename Floats = typename Lanes<kWidth>::Floats,
          typename Ints = typename Lanes<kWidth>::Ints>
[[gnu::always_inline]] inline void screen_log(const Floats& x, Floats& out) {
  constexpr float kSqrt2 = 1.41421356f;
  constexpr float kLn2High = 0.693145751953125f;
  constexpr float kLn2Low = 1.42860682030941723212e-6f;
  Ints bits;
  std::memcpy(&bits, &x, sizeof bits);
  Ints exponent = (bits >> 23) - 127;
  const Ints mantissa = (bits & 0x7fffff) | 0x3f800000;
  Floats m;
  std::memcpy(&m, &mantissa, sizeof m);
  const Ints above = m > kSqrt2;  // -1 where true
  m = above ? m * 0.5f : m;
  exponent -= above;
  const Floats f = m - 1.0f;
  const Floats s = f / (f + 2.0f);
  const Floats z = s * s;
  const Floats series =
      s * (2.0f + z * (2.0f / 3.0f + z * (0.4f + z * (2.0f / 7.0f + z * (2.0f / 9.0f)))));
  const Floats e = __builtin_convertvector(exponent, Floats);
  out = e * kLn2High + (e * kLn2Low + series);
}

template <std::size_t kWidth, typename Floats = typename Lanes<kWidth>::Floats>
[[gnu::always_inline]] inline double lane_sum(const Floats& v) {
  double sum = 0.0;
  for (std::size_t l = 0; l < kWidth; ++l) sum += static_cast<double>(v[l]);
  return sum;
}

// gamma(k) = k u / (1 - k u): the relative bound on the rounding of a sum
// of k non-negative terms in single precision, whatever their order.
double gamma(std::size_t k) {
  const double ku = static_cast<double>(k) * kUnit;
  return ku / (1.0 - ku);
}

// What the screen reads: the band's cosines and targets padded to whole
// blocks (the padding weighs 0), and the grid.
struct ScreenInput {
  std::span<const float> cs, target, weight;
  std::size_t n = 0;  // entries of the band
  std::span<const float> grid, level;
  float floor = 0.0f;
  bool log_fit = true;
  double target_bound = 0.0;  // the largest |target|
};

// The approximate misfit of grid value j and its bound: the exact misfit
// lies within [misfit - bound, misfit + bound]; an infinite bound where the
// screen cannot bound it.
//
// Linear misfit: the screen forms each term with the operations of the
// exact evaluation, so the terms are exact and only the order of summation
// differs; the exact sequential sum lies within gamma(n) of the exact sum of
// its terms, the screen's within gamma(8).
//
// Log misfit: the exact term is (T - logf(m))^2 with m = num / D (rounded),
// T the target; the screen's is (fl(T - LN) + q)^2 with LN = ln num rounded
// to single precision and q = screen_log(D), D bit for bit the exact
// evaluation's. With v = T - LN + ln D: the division moves ln m off LN - ln
// D by at most 1.01 u, logf errs by at most one unit in the last place (2 u
// |ln m|), the screen by u |LN| + u |T - LN| + the logarithm's error + u
// |d~|; both differences d^f and d~ then lie within
//   Delta + 5 u |d~|,  Delta = 6 u (max |T| + |LN| + 60)
// of each other, |ln D| <= 14 on the grid (D >= (1 - 0.998)^2). The terms
// then differ by at most 2.1 Delta |d~| + 2.1 Delta^2 + 14 u d~^2 (the
// screen's own rounding of the square included). m is never below the floor
// (checked: num > 8 floor, D <= 4.0001), so the clamp of the exact
// evaluation never acts.
struct Screened {
  double misfit = 0.0, bound = 0.0;
  bool pruned = false;  // abandoned: the exact misfit surely exceeds the limit
};

// The bound on |exact - screened| for a screened sum over k entries: the
// terms' differences, the screen's summation and that of the exact sum.
struct ScreenBound {
  double delta = 0.0;  // Delta above (0 for the linear misfit)
  bool log_fit = true;
  double terms(double sum, double sum_abs, std::size_t k) const {
    const double own = gamma(kLaneTerms) * sum * 1.01;
    if (!log_fit) return own;
    return own + 2.1 * delta * sum_abs * 1.01 + 2.1 * static_cast<double>(k) * delta * delta +
           14.0 * kUnit * sum * 1.01;
  }
};

// Screens grid value j over the first `entries` padded entries (a multiple
// of kScreenBlock); abandons it once its exact misfit surely exceeds limit:
// the exact partial sums of non-negative terms never decrease, and the one
// over the first k entries is at least (1 - gamma(k)) times the sum of its
// terms.
template <std::size_t kWidth>
[[gnu::always_inline]] inline Screened screen_lanes(const ScreenInput& in, std::size_t j,
                                                    std::size_t entries, double limit) {
  using Floats = typename Lanes<kWidth>::Floats;
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  const float rj = in.grid[j];
  const float numerator = in.level[j] * (1.0f - rj * rj);
  const Floats two_r = Floats{} + 2.0f * rj, r2 = Floats{} + rj * rj, num = Floats{} + numerator;
  const Floats one = Floats{} + 1.0f;
  double sum = 0.0, sum_abs = 0.0;
  ScreenBound bound{0.0, in.log_fit};
  Floats shift{};
  if (in.log_fit) {
    if (!(numerator > 8.0f * in.floor) || !std::isfinite(numerator)) return {0.0, kInfinity};
    const double ln = std::log(static_cast<double>(numerator));
    shift = Floats{} + static_cast<float>(ln);
    bound.delta = 6.0 * kUnit * (in.target_bound + std::fabs(ln) + 60.0);
  }
  for (std::size_t block = 0; block < entries;) {
    const std::size_t stop = std::min(entries, block + (block == 0 ? kFirstLook : kScreenBlock));
    Floats squares{}, magnitudes{};
    for (std::size_t i = block; i < stop; i += kWidth) {
      Floats c, t, w;
      std::memcpy(&c, in.cs.data() + i, sizeof c);
      std::memcpy(&t, in.target.data() + i, sizeof t);
      std::memcpy(&w, in.weight.data() + i, sizeof w);
      const Floats d = (one - two_r * c) + r2;
      Floats diff;
      if (in.log_fit) {
        Floats q;
        screen_log<kWidth>(d, q);
        diff = ((t - shift) + q) * w;
        magnitudes += diff < 0.0f ? -diff : diff;
      } else {
        diff = (t - num / d) * w;
      }
      squares += diff * diff;
    }
    sum += lane_sum<kWidth>(squares);
    sum_abs += lane_sum<kWidth>(magnitudes);
    const std::size_t k = std::min(stop, in.n);
    block = stop;
    const double lower = (sum - 1.05 * bound.terms(sum, sum_abs, k)) * (1.0 - 1.05 * gamma(k));
    if (lower > limit) return {sum, 0.0, true};
  }
  if (!std::isfinite(sum)) return {sum, kInfinity};
  const double terms = bound.terms(sum, sum_abs, in.n);
  return {sum, 1.05 * (terms + gamma(in.n) * (sum + terms))};
}

[[gnu::target("avx2")]] Screened screen_eight(const ScreenInput& in, std::size_t j,
                                              std::size_t entries, double limit) {
  return screen_lanes<8>(in, j, entries, limit);
}

Screened screen_one(const ScreenInput& in, std::size_t j, std::size_t entries, double limit) {
  if (__builtin_cpu_supports("avx2")) return screen_eight(in, j, entries, limit);
  return screen_lanes<4>(in, j, entries, limit);
}

// The grid indices whose exact misfit may be the first minimum, lowest
// screened misfit first; empty when the screen does not apply (then every
// grid value must be evaluated). The grid is screened nearest first to the
// minimum of a rough screen (every 8th grid value, then its neighbours, over
// at most 64 entries spread across the band), so that the limit is tight
// from the start and most values are abandoned within a block or two.
std::vector<int> screen_grid(const MisfitBand& band, std::span<const float> cs,
                             std::span<const float> target, std::span<const float> grid,
                             std::span<const float> level, float floor,
                             std::pmr::memory_resource* memory) {
  const std::size_t n = target.size();
  const bool log_fit = band.fit == Fit::log;
  if (n == 0 || n > (log_fit ? kScreenLimit : kLinearScreenLimit)) return {};
  double target_bound = 0.0;
  for (float t : target) {
    if (!std::isfinite(t)) return {};
    target_bound = std::max(target_bound, static_cast<double>(std::fabs(t)));
  }
  auto padded = [](std::size_t count) {
    return (count + kScreenBlock - 1) / kScreenBlock * kScreenBlock;
  };
  // The band, and a sparse look at it, padded to whole blocks of weight 0.
  struct Padded {
    std::pmr::vector<float> cs, target, weight;
  };
  auto pad = [&](std::size_t stride) {
    const std::size_t count = (n + stride - 1) / stride;
    Padded p{std::pmr::vector<float>(padded(count), 0.0f, memory),
             std::pmr::vector<float>(padded(count), 0.0f, memory),
             std::pmr::vector<float>(padded(count), 0.0f, memory)};
    for (std::size_t i = 0, at = 0; i < n; i += stride, ++at) {
      p.cs[at] = cs[i];
      p.target[at] = target[i];
      p.weight[at] = 1.0f;
    }
    return p;
  };
  const Padded whole = pad(1);
  const ScreenInput in{whole.cs, whole.target, whole.weight, n, grid, level,
                       floor, log_fit, target_bound};

  const std::size_t size = grid.size();
  const std::size_t stride = std::max<std::size_t>(1, n / 64);
  const Padded sparse = pad(stride);
  const ScreenInput rough{sparse.cs, sparse.target, sparse.weight, (n + stride - 1) / stride,
                          grid, level, floor, log_fit, target_bound};
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  auto rough_minimum = [&](std::size_t first, std::size_t last, std::size_t step, std::size_t start) {
    std::size_t at = start;
    double lowest = screen_one(rough, start, rough.cs.size(), kInfinity).misfit;
    for (std::size_t j = first; j <= last; j += step) {
      const double value = screen_one(rough, j, rough.cs.size(), kInfinity).misfit;
      if (value < lowest) {
        lowest = value;
        at = j;
      }
    }
    return at;
  };
  const std::size_t coarse = rough_minimum(8, size - 1, 8, 0);
  const std::size_t centre = rough_minimum(coarse >= 7 ? coarse - 7 : 0,
                                           std::min(coarse + 7, size - 1), 1, coarse);

  std::vector<Screened> screened(size);
  double limit = kInfinity;  // the lowest top of a screened range so far
  auto visit = [&](std::size_t j) {
    screened[j] = screen_one(in, j, in.cs.size(), limit);
    if (!screened[j].pruned) limit = std::min(limit, screened[j].misfit + screened[j].bound);
  };
  visit(centre);
  for (std::size_t d = 1; d < size; ++d) {
    if (centre >= d) visit(centre - d);
    if (centre + d < size) visit(centre + d);
  }
  std::vector<int> kept;
  for (std::size_t j = 0; j < size; ++j) {
    if (screened[j].pruned) continue;
    const double bottom = screened[j].misfit - screened[j].bound;
    // A value whose misfit surely exceeds another's cannot win; nor can one
    // whose misfit surely reaches the ceiling.
    if (bottom > limit || bottom >= static_cast<double>(kMisfitCeiling)) continue;
    kept.push_back(static_cast<int>(j));
  }
  std::stable_sort(kept.begin(), kept.end(), [&](int a, int b) {
    return screened[static_cast<std::size_t>(a)].misfit < screened[static_cast<std::size_t>(b)].misfit;
  });
  return kept;
}

}  // namespace

double ar1_band_mean(double r, double low, double high, double nyquist) {
  constexpr double pi = 3.14159265358979323846;
  const double k = (1.0 + r) / (1.0 - r);
  // 2 atan(k tan(theta / 2)) as an angle that stays finite at theta = pi.
  auto integral = [&](double f) {
    const double half = pi * f / nyquist / 2.0;
    return 2.0 * std::atan2(k * std::sin(half), std::cos(half));
  };
  const double mean = (integral(high) - integral(low)) / (pi * (high - low) / nyquist);
  return std::isfinite(mean) && mean > 0.0 ? mean : 1.0;
}

float ar1_band_level(float s0, float r, const MisfitBand& band) {
  if (band.full_band) return s0;
  const double low = static_cast<double>(band.f0);
  const double high = low + static_cast<double>(band.smed.size()) * static_cast<double>(band.df);
  return static_cast<float>(static_cast<double>(s0) /
                            ar1_band_mean(static_cast<double>(r), low,
                                          std::min(high, static_cast<double>(band.nyquist)),
                                          static_cast<double>(band.nyquist)));
}

float misfit_scale(const MisfitBand& band) {
  const float s0 = band.s0;
  if (!(s0 > 0.0f) || !std::isnormal(s0)) return 1.0f;
  if (band.fit == Fit::log && s0 >= kLogLow && s0 <= kLogHigh) return 1.0f;
  int exponent = 0;
  std::frexp(s0, &exponent);  // s0 = m 2^exponent, m in [0.5, 1)
  return std::ldexp(1.0f, 1 - exponent);
}

float mse(float r, const MisfitBand& band) {
  const float scale = misfit_scale(band);
  const float s0 = band.s0 * scale;
  const float floor = log_floor(s0);
  const float level = ar1_band_level(s0, r, band);
  float misfit = 0.0f;
  for (std::size_t i = 0; i < band.smed.size(); ++i) {
    const float model = model_value(level, r, entry_cos(band, i));
    const float value = band.smed[i] * scale;
    if (band.fit == Fit::linear) {
      const float diff = value - model;
      misfit += diff * diff;
    } else {
      const float a = std::max(std::fabs(model), floor);
      const float b = std::max(std::fabs(value), floor);
      const float diff = std::log(b) - std::log(a);
      misfit += diff * diff;
    }
  }
  return misfit;
}

float red_noise_grid_fit(const MisfitBand& band, float fallback,
                         std::pmr::memory_resource* memory) {
  const std::size_t n = band.smed.size();
  // Long bands share every step between two threads.
  const bool two_threads = n >= 4096;
  const float scale = misfit_scale(band);
  const float s0 = band.s0 * scale;
  const float floor = log_floor(s0);
  // What the model is compared with: the scaled values, or their logarithms.
  std::pmr::vector<float> cs(n, memory), target(n, memory);
  auto prepare = [&](std::size_t first, std::size_t last) {
    for (std::size_t i = first; i < last; ++i) {
      cs[i] = entry_cos(band, i);
      const float value = band.smed[i] * scale;
      target[i] = band.fit == Fit::linear ? value : std::log(std::max(std::fabs(value), floor));
    }
  };
  if (two_threads) {
    run_two_halves([&] { prepare(0, n / 2); }, [&] { prepare(n / 2, n); });
  } else {
    prepare(0, n);
  }
  std::vector<float> grid(kGridSize), level(kGridSize);
  float r = 0.0f;
  for (std::size_t j = 0; j < grid.size(); ++j) {
    grid[j] = r;
    level[j] = ar1_band_level(s0, r, band);
    r += 0.001f;
  }

  // The misfit of grid value rj over entries [start, stop), at most kChunk
  // of them, added to sum in entry order with the operations of mse. The
  // models of a chunk are formed before their logarithms, so that the
  // divisions run side by side.
  auto add_entries = [&](int j, std::size_t start, std::size_t stop, float sum) {
    const float rj = grid[static_cast<std::size_t>(j)];
    const float numerator = level[static_cast<std::size_t>(j)] * (1.0f - rj * rj);
    const float r2 = rj * rj;
    const float two_r = 2.0f * rj;
    if (band.fit == Fit::linear) {
      for (std::size_t i = start; i < stop; ++i) {
        const float diff = target[i] - numerator / (1.0f - two_r * cs[i] + r2);
        sum += diff * diff;
      }
      return sum;
    }
    float model[kChunk];
    for (std::size_t i = start; i < stop; ++i) {
      model[i - start] = std::max(std::fabs(numerator / (1.0f - two_r * cs[i] + r2)), floor);
    }
    for (std::size_t i = start; i < stop; ++i) {
      const float diff = target[i] - std::log(model[i - start]);
      sum += diff * diff;
    }
    return sum;
  };

  // Evaluates grid index j and makes it the best if it ranks below it. An
  // evaluation stops once its partial sum ranks above the best: the terms
  // are never negative and a rounded sum of them never decreases, so it
  // could not win any more. Every look reads the latest best of either
  // thread, shared through one atomic (any evaluated misfit is a valid
  // bound), which only stops losers sooner: the winner ranks below every
  // other misfit, so it is never stopped, whatever the timing.
  std::atomic<std::uint64_t> best{kNoFit};
  auto evaluate = [&](int j) {
    float sum = 0.0f;
    for (std::size_t start = 0; start < n;) {
      const std::size_t stop = std::min(n, start + (start == 0 ? kFirstChunk : kChunk));
      sum = add_entries(j, start, stop, sum);
      start = stop;
      if (ranked(sum, j) > best.load(std::memory_order_relaxed)) return;
    }
    const std::uint64_t mine = ranked(sum, j);
    std::uint64_t seen = best.load(std::memory_order_relaxed);
    while (mine < seen && !best.compare_exchange_weak(seen, mine, std::memory_order_relaxed)) {
    }
  };

  // The order of evaluation decides only the speed: nearest first to the
  // minimum of a rough misfit (every 8th grid value, then its neighbours,
  // over about 256 entries spread across the band), so that the bound is
  // tight from the start and most evaluations stop within a few entries.
  const std::size_t stride = std::max<std::size_t>(1, n / 256);
  auto rough_misfit = [&](int j) {
    float sum = 0.0f;
    for (std::size_t i = 0; i < n; i += stride) sum = add_entries(j, i, i + 1, sum);
    return sum;
  };
  auto rough_minimum = [&](int first, int last, int step, int start) {
    int at = start;
    float lowest = rough_misfit(start);
    for (int j = first; j <= last; j += step) {
      const float value = rough_misfit(j);
      if (value < lowest) {
        lowest = value;
        at = j;
      }
    }
    return at;
  };
  std::vector<int> order =
      screen_grid(band, cs, target, grid, level, floor, memory);
  if (order.empty()) {
    const int coarse = rough_minimum(8, kGridSize - 1, 8, 0);
    const int centre =
        rough_minimum(std::max(coarse - 7, 0), std::min(coarse + 7, kGridSize - 1), 1, coarse);
    order.reserve(kGridSize);
    order.push_back(centre);
    for (int d = 1; d < kGridSize; ++d) {
      if (centre - d >= 0) order.push_back(centre - d);
      if (centre + d < kGridSize) order.push_back(centre + d);
    }
  }

  // Each thread takes the next index of the order; which thread evaluates
  // which index changes nothing but the time.
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t k = next.fetch_add(1, std::memory_order_relaxed); k < order.size();
         k = next.fetch_add(1, std::memory_order_relaxed)) {
      evaluate(order[k]);
    }
  };
  if (two_threads) {
    run_two_halves(work, work);
  } else {
    work();
  }
  const std::uint64_t found = best.load();
  return found == kNoFit ? fallback : grid[static_cast<std::size_t>(found & 0xffffffffu)];
}

}  // namespace quorvane::spectral
