#include "spectral/stages/red_noise.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <array>
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

// The grid values whose exact misfit may be the first minimum, lowest
// screened misfit first: none whose misfit surely exceeds another's or
// surely reaches the ceiling.
std::vector<int> candidates(const ScreenedGrid& screened) {
  double limit = std::numeric_limits<double>::infinity();
  for (std::size_t j = 0; j < screened.misfit.size(); ++j)
    limit = std::min(limit, screened.misfit[j] + screened.bound[j]);
  std::vector<int> kept;
  for (std::size_t j = 0; j < screened.misfit.size(); ++j) {
    const double bottom = screened.misfit[j] - screened.bound[j];
    if (bottom > limit || bottom >= static_cast<double>(kMisfitCeiling)) continue;
    kept.push_back(static_cast<int>(j));
  }
  std::stable_sort(kept.begin(), kept.end(), [&](int a, int b) {
    return screened.misfit[static_cast<std::size_t>(a)] < screened.misfit[static_cast<std::size_t>(b)];
  });
  return kept;
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
  // An abandoned value surely exceeds the limit.
  ScreenedGrid grid_out;
  grid_out.misfit.resize(size);
  grid_out.bound.resize(size);
  for (std::size_t j = 0; j < size; ++j) {
    grid_out.misfit[j] = screened[j].pruned ? kInfinity : screened[j].misfit;
    grid_out.bound[j] = screened[j].pruned ? 0.0 : screened[j].bound;
  }
  return candidates(grid_out);
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

namespace {

// The mean of the AR(1) shape of coefficient r over the band's entries.
double band_shape_mean(float r, const MisfitBand& band) {
  const double low = static_cast<double>(band.f0);
  const double high = low + static_cast<double>(band.smed.size()) * static_cast<double>(band.df);
  return ar1_band_mean(static_cast<double>(r), low,
                       std::min(high, static_cast<double>(band.nyquist)),
                       static_cast<double>(band.nyquist));
}

}  // namespace

float ar1_band_level(float s0, float r, const MisfitBand& band) {
  if (band.full_band) return s0;
  return static_cast<float>(static_cast<double>(s0) / band_shape_mean(r, band));
}

// The series screen (see red_noise_grid_fit). For the log misfit, grid
// value r's exact misfit is the single-precision sum over the band of
//   (t_i - logf(num / D_i))^2,  D_i = 1 - 2 r c_i + r^2,
// t_i the target, num the model's numerator. In real arithmetic that is
// S(r) = sum_i (t_i - LN + L_i(r))^2, LN = ln num, L_i = ln D_i, and
//   S = sum t^2 + 2 sum t L + sum L^2 - 2 LN (sum t + sum L) + n LN^2.
// About a centre r0 of a window of the grid, with w_i = r0 - exp(i theta_i)
// (c_i = cos theta_i) and r = r0 + x h,
//   L_i(r) = ln |w_i|^2 + sum_{p >= 1} 2 (-1)^(p-1) Re((h / w_i)^p) x^p / p,
// and |w_i| >= 1 - r0, so that with h = q (1 - r0) and |x| <= 1 the terms
// beyond p = kSeriesTerms - 1 add up to at most 2 q^8 / (8 (1 - q)). The
// sums over the band of these coefficients (and of their products) depend
// on the band's frequencies alone and are kept; each spectrum adds the
// sums of t_i times them.
//
// The bound, for each grid value: the truncated series moves each L_i by at
// most tau, the screen's LN (ln s0 plus a kept logarithm of the rest of
// num) is within eta of ln num (two roundings of num, and double-precision
// logarithms), so the screen's vector of differences lies within
// sqrt(n) (tau + eta) of the real one d. Against the single-precision
// evaluation, each difference moves by at most rho_i (the rounding of
// D_i in single precision: |D_f / D - 1| <= 2.001 u (|1 - 2 r c| + r |c| +
// r^2) / D, through the logarithm), plus Delta = 3 u (|LN| + 16) (the
// division's rounding, logf's unit in the last place of |ln m| <= |LN| +
// 14), plus u |d| (the subtraction); the square and its rounding then move
// each term by at most 2 A |d| + 4.01 u d^2 + 2.01 A^2 (A = 1.001 (rho_i +
// Delta)), and the sequential sum of the n terms by gamma(n) of their sum.
// Cauchy-Schwarz bounds sum |d| by sqrt(n) |d| and sum rho_i |d| by
// sqrt(sum rho_i^2) |d|; the double-precision arithmetic of the sums is
// bounded by (2n + 200) units of the largest magnitudes it adds.
namespace {

constexpr std::size_t kSeriesTerms = 8;                     // powers 0 .. 7 of x
constexpr std::size_t kSquareTerms = 2 * kSeriesTerms - 1;  // powers 0 .. 14 of x^2 terms
// The window's half-width over its distance from 1: the series' remainder
// is then at most 3.4e-7, below the single-precision roundings it sits
// beside, and the grid takes 17 windows.
constexpr double kWindowRatio = 0.18;

template <std::size_t kCount>
double horner(const double* coefficients, double x) {
  double value = coefficients[kCount - 1];
  for (std::size_t p = kCount - 1; p-- > 0;) value = value * x + coefficients[p];
  return value;
}

}  // namespace

struct RedFitCache::Geometry {
  std::size_t n = 0;
  bool full_band = true;
  std::vector<float> cs;      // each entry's cosine, as the misfit forms it
  std::vector<float> grid;    // the grid values
  std::vector<double> mean;   // band_shape_mean of each grid value (part of the band only)
  std::vector<double> shape;  // ln fl(1 - fl(r r)) - ln mean: ln num less ln s0
  struct Window {
    std::size_t first = 0, last = 0;  // grid indices [first, last)
    double centre = 0.0, half = 0.0;
    double tau = 0.0;       // the series' remainder, with room for its rounding
    double rounding = 0.0;  // sum over the band of rho_i^2 (see above), largest in the window
    bool usable = true;
    std::array<double, kSeriesTerms> sum{}, sum_abs{};        // of the coefficients
    std::array<double, kSquareTerms> square{}, square_abs{};  // of the series squared
  };
  std::vector<Window> windows;
  std::vector<double> coefficients;  // window w, entry i, power p at (w n + i) kSeriesTerms + p

  // The band whose sums are made (made: false before the first), and the
  // last band seen without them.
  struct Key {
    std::size_t n = 0;
    std::uint32_t f0 = 0, df = 0, nyquist = 0;
    bool full_band = true;
    bool operator==(const Key&) const = default;
  };
  Key key, last_seen;
  bool made = false;
  static Key key_of(const MisfitBand& band) {
    return {band.smed.size(), std::bit_cast<std::uint32_t>(band.f0),
            std::bit_cast<std::uint32_t>(band.df), std::bit_cast<std::uint32_t>(band.nyquist),
            band.full_band};
  }
  bool fits(const MisfitBand& band) const { return made && key == key_of(band); }
  // Whether the band was the last one seen; remembers it otherwise.
  bool seen(const MisfitBand& band) {
    const Key k = key_of(band);
    if (k == last_seen) return true;
    last_seen = k;
    return false;
  }
  void make(const MisfitBand& band);
};

void RedFitCache::Geometry::make(const MisfitBand& band) {
  key = key_of(band);
  made = true;
  n = band.smed.size();
  full_band = band.full_band;
  cs.resize(n);
  for (std::size_t i = 0; i < n; ++i) cs[i] = entry_cos(band, i);
  grid.resize(kGridSize);
  float r = 0.0f;
  for (std::size_t j = 0; j < grid.size(); ++j, r += 0.001f) grid[j] = r;
  mean.assign(full_band ? 0 : grid.size(), 1.0);
  shape.resize(grid.size());
  for (std::size_t j = 0; j < grid.size(); ++j) {
    const float rj = grid[j];
    shape[j] = std::log(static_cast<double>(1.0f - rj * rj));
    if (!full_band) {
      mean[j] = band_shape_mean(rj, band);
      shape[j] -= std::log(mean[j]);
    }
  }
  windows.clear();
  for (std::size_t j = 0; j < grid.size();) {
    Window w;
    w.first = j;
    const double low = grid[j];
    w.centre = (low + kWindowRatio) / (1.0 + kWindowRatio);
    w.half = kWindowRatio * (1.0 - w.centre);
    std::size_t end = j + 1;
    while (end < grid.size() && static_cast<double>(grid[end]) <= w.centre + w.half) ++end;
    w.last = end;
    double q = 0.0;
    for (std::size_t k = w.first; k < w.last; ++k)
      q = std::max(q, std::fabs(static_cast<double>(grid[k]) - w.centre) / (1.0 - w.centre));
    w.tau = 2.0 * std::pow(q, 8.0) / (8.0 * (1.0 - q)) + 1e-9;
    w.usable = q < 0.5;
    windows.push_back(w);
    j = end;
  }
  coefficients.resize(windows.size() * n * kSeriesTerms);
  for (std::size_t v = 0; v < windows.size(); ++v) {
    Window& w = windows[v];
    const double r_low = grid[w.first], r_high = grid[w.last - 1];
    for (std::size_t i = 0; i < n; ++i) {
      const double c = cs[i];
      const double s2 = (1.0 - c) * (1.0 + c);
      const double dr = w.centre - c;
      const double d0 = dr * dr + s2;
      double* a = &coefficients[(v * n + i) * kSeriesTerms];
      a[0] = std::log(d0);
      const double zr = w.half * dr / d0, zi = w.half * std::sqrt(s2) / d0;
      double pr = 1.0, pi = 0.0;
      for (std::size_t p = 1; p < kSeriesTerms; ++p) {
        const double next = pr * zr - pi * zi;
        pi = pr * zi + pi * zr;
        pr = next;
        a[p] = (p % 2 == 1 ? 2.0 : -2.0) * pr / static_cast<double>(p);
      }
      for (std::size_t p = 0; p < kSeriesTerms; ++p) {
        w.sum[p] += a[p];
        w.sum_abs[p] += std::fabs(a[p]);
        for (std::size_t q2 = 0; q2 < kSeriesTerms; ++q2) {
          w.square[p + q2] += a[p] * a[q2];
          w.square_abs[p + q2] += std::fabs(a[p] * a[q2]);
        }
      }
      // The rounding of D_i in single precision, largest over the window:
      // its bound is convex in r (largest at an end), D_i is smallest at
      // r = c or at the nearer end.
      auto error = [&](double rr) {
        return 2.001 * kUnit * (std::fabs(1.0 - 2.0 * rr * c) + rr * std::fabs(c) + rr * rr);
      };
      auto shape_at = [&](double rr) { return (rr - c) * (rr - c) + s2; };
      const double smallest =
          c >= r_low && c <= r_high ? s2 : std::min(shape_at(r_low), shape_at(r_high));
      const double rho = std::max(error(r_low), error(r_high)) / smallest * (1.0 + 1e-12);
      if (!(rho < 0.5)) {
        w.usable = false;
        continue;
      }
      const double moved = 1.001 * rho / (1.0 - rho);
      w.rounding += moved * moved;
    }
  }
}

RedFitCache::RedFitCache() = default;
RedFitCache::~RedFitCache() = default;
RedFitCache::RedFitCache(RedFitCache&&) noexcept = default;
RedFitCache& RedFitCache::operator=(RedFitCache&&) noexcept = default;

RedFitCache::Geometry* band_geometry(RedFitCache& cache, const MisfitBand& band, bool at_once) {
  if (!cache.geometry_) cache.geometry_ = std::make_unique<RedFitCache::Geometry>();
  RedFitCache::Geometry& geometry = *cache.geometry_;
  if (geometry.fits(band)) return &geometry;
  // The sums cost several fits' screens: they are made for a band seen a
  // second time in a row, which the next runs are then likely to share.
  if (!at_once && !geometry.seen(band)) return nullptr;
  geometry.make(band);
  return &geometry;
}

namespace {

// sum_i t_i a(w, i, p) for every power p of window w, two groups of four
// lanes (the powers) per entry.
template <std::size_t kUnused = 0>
[[gnu::always_inline]] inline void cross_sums_of(const double* a, const float* target,
                                                 std::size_t n, double* out) {
  using Quad = Vector<double, 4>;
  Quad low0{}, high0{}, low1{}, high1{};
  std::size_t i = 0;
  for (; i + 2 <= n; i += 2) {
    Quad l0, h0, l1, h1;
    std::memcpy(&l0, a + i * kSeriesTerms, sizeof l0);
    std::memcpy(&h0, a + i * kSeriesTerms + 4, sizeof h0);
    std::memcpy(&l1, a + (i + 1) * kSeriesTerms, sizeof l1);
    std::memcpy(&h1, a + (i + 1) * kSeriesTerms + 4, sizeof h1);
    const double t0 = target[i], t1 = target[i + 1];
    low0 += t0 * l0;
    high0 += t0 * h0;
    low1 += t1 * l1;
    high1 += t1 * h1;
  }
  for (; i < n; ++i) {
    Quad l0, h0;
    std::memcpy(&l0, a + i * kSeriesTerms, sizeof l0);
    std::memcpy(&h0, a + i * kSeriesTerms + 4, sizeof h0);
    low0 += static_cast<double>(target[i]) * l0;
    high0 += static_cast<double>(target[i]) * h0;
  }
  const Quad low = low0 + low1, high = high0 + high1;
  for (std::size_t p = 0; p < 4; ++p) {
    out[p] = low[p];
    out[p + 4] = high[p];
  }
}

[[gnu::target("avx2")]] void cross_sums_wide(const double* a, const float* target, std::size_t n,
                                             double* out) {
  cross_sums_of(a, target, n, out);
}

void cross_sums(const double* a, const float* target, std::size_t n, double* out) {
  if (__builtin_cpu_supports("avx2")) {
    cross_sums_wide(a, target, n, out);
  } else {
    cross_sums_of(a, target, n, out);
  }
}

// What the bound of a window's grid values shares (see the derivation
// above): the double-precision allowance and the largest magnitudes it
// applies to, the band's size, the series' and the roundings' parts.
struct WindowBound {
  double arithmetic, joined_reach, line_reach, count, moved, root, rounding_root, rounding, summed;
};

// (By reference: a four-double vector is only passed by value between
// functions compiled for AVX.)
template <typename Quad>
[[gnu::always_inline]] inline void lane_sqrt(Quad& v) {
  for (std::size_t l = 0; l < 4; ++l) v[l] = std::sqrt(v[l]);
}

// The screen's misfits and bounds of window w's grid values into misfit[j]
// and bound[j]: four grid values side by side, so that their series do
// not wait on one another.
template <std::size_t kUnused = 0>
[[gnu::always_inline]] inline void screen_window_of(const RedFitCache::Geometry& geometry,
                                                    const RedFitCache::Geometry::Window& w,
                                                    const double* joined, double sum, double ln_s0,
                                                    const WindowBound& c, double* misfit,
                                                    double* bound) {
  using Quad = Vector<double, 4>;
  constexpr std::size_t kGroups = 2;  // groups of four grid values in flight
  const double inverse_half = 1.0 / w.half;
  const Quad zero{};
  for (std::size_t j = w.first; j < w.last; j += 4 * kGroups) {
    Quad x[kGroups], ln[kGroups], square[kGroups], line[kGroups];
    for (std::size_t g = 0; g < kGroups; ++g) {
      for (std::size_t l = 0; l < 4; ++l) {
        const std::size_t at = std::min(j + 4 * g + l, w.last - 1);
        x[g][l] = (static_cast<double>(geometry.grid[at]) - w.centre) * inverse_half;
        ln[g][l] = ln_s0 + geometry.shape[at];
      }
      square[g] = zero + joined[kSquareTerms - 1];
      line[g] = zero + w.sum[kSeriesTerms - 1];
    }
#pragma GCC unroll 16
    for (std::size_t step = 1; step < kSquareTerms; ++step) {
      const std::size_t p = kSquareTerms - 1 - step;
      for (std::size_t g = 0; g < kGroups; ++g) square[g] = square[g] * x[g] + joined[p];
      if (p < kSeriesTerms - 1)
        for (std::size_t g = 0; g < kGroups; ++g) line[g] = line[g] * x[g] + w.sum[p];
    }
    for (std::size_t g = 0; g < kGroups; ++g) {
      const Quad value = square[g] - 2.0 * ln[g] * (sum + line[g]) + c.count * ln[g] * ln[g];
      const Quad size = ln[g] < 0.0 ? -ln[g] : ln[g];
      const Quad arithmetic_error =
          c.arithmetic * (c.joined_reach + 2.0 * size * c.line_reach + c.count * ln[g] * ln[g]);
      Quad norm = (value > 0.0 ? value : zero) + arithmetic_error;
      lane_sqrt(norm);
      norm += c.moved;
      const Quad delta = 3.0 * kUnit * (size + 16.0);
      const Quad terms = 2.0 * 1.001 * (delta * c.root + c.rounding_root) * norm +
                         2.01 * 1.002 * (2.0 * c.count * delta * delta + 2.0 * c.rounding) +
                         4.01 * kUnit * norm * norm;
      const Quad within = arithmetic_error + 2.0 * norm * c.moved + c.moved * c.moved +
                          terms * (1.0 + c.summed) + c.summed * norm * norm;
      for (std::size_t l = 0; l < 4 && j + 4 * g + l < w.last; ++l) {
        misfit[j + 4 * g + l] = value[l];
        bound[j + 4 * g + l] = 1.05 * within[l];
      }
    }
  }
}

[[gnu::target("avx2")]] void screen_window_wide(const RedFitCache::Geometry& geometry,
                                                const RedFitCache::Geometry::Window& w,
                                                const double* joined, double sum, double ln_s0,
                                                const WindowBound& c, double* misfit,
                                                double* bound) {
  screen_window_of(geometry, w, joined, sum, ln_s0, c, misfit, bound);
}

void screen_window(const RedFitCache::Geometry& geometry, const RedFitCache::Geometry::Window& w,
                   const double* joined, double sum, double ln_s0, const WindowBound& c,
                   double* misfit, double* bound) {
  if (__builtin_cpu_supports("avx2")) {
    screen_window_wide(geometry, w, joined, sum, ln_s0, c, misfit, bound);
  } else {
    screen_window_of(geometry, w, joined, sum, ln_s0, c, misfit, bound);
  }
}

// The series screen of the targets t (of the scaled level s0, with the
// grid's numerators `level`): misfit and bound of every grid value, or
// false where it does not take the band.
bool screen_by_series(const RedFitCache::Geometry& geometry, std::span<const float> target,
                      float s0, std::span<const float> level, float floor, ScreenedGrid& out) {
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  const std::size_t n = target.size();
  if (n == 0 || n != geometry.n || !(s0 > 0.0f) || !std::isfinite(s0)) return false;
  double sum = 0.0, sum_squares = 0.0, largest = 0.0;
  for (float t : target) {
    if (!std::isfinite(t)) return false;
    sum += t;
    sum_squares += static_cast<double>(t) * t;
    largest = std::max(largest, static_cast<double>(std::fabs(t)));
  }
  const double count = static_cast<double>(n);
  const double root = std::sqrt(count);
  const double ln_s0 = std::log(static_cast<double>(s0));
  const double arithmetic = (2.0 * count + 200.0) * 0x1p-53 * 2.0;
  const double eta = 2.03 * kUnit + 1e-14 * (1.0 + std::fabs(ln_s0));
  const double summed = gamma(n);
  out.misfit.assign(geometry.grid.size(), 0.0);
  out.bound.assign(geometry.grid.size(), kInfinity);
  double cross[kSeriesTerms];
  for (std::size_t v = 0; v < geometry.windows.size(); ++v) {
    const RedFitCache::Geometry::Window& w = geometry.windows[v];
    if (!w.usable) continue;
    cross_sums(&geometry.coefficients[v * n * kSeriesTerms], target.data(), n, cross);
    // sum t^2 + 2 sum t L + sum L^2 as one series in x, and sum L.
    double joined[kSquareTerms];
    for (std::size_t p = 0; p < kSquareTerms; ++p)
      joined[p] = w.square[p] + (p < kSeriesTerms ? 2.0 * cross[p] : 0.0);
    joined[0] += sum_squares;
    // The largest magnitudes those sums add, anywhere in the window.
    const double reach = std::max(
        std::fabs(static_cast<double>(geometry.grid[w.first]) - w.centre),
        std::fabs(static_cast<double>(geometry.grid[w.last - 1]) - w.centre)) / w.half;
    const double sum_reach = horner<kSeriesTerms>(w.sum_abs.data(), reach);
    const double joined_reach =
        sum_squares + 2.0 * largest * sum_reach + horner<kSquareTerms>(w.square_abs.data(), reach);
    const double moved = root * (w.tau + eta);
    const double rounding_root = std::sqrt(w.rounding);
    // The misfits first, whose grid values are independent of one
    // another, then their bounds.
    const WindowBound constants{arithmetic, joined_reach, count * largest + sum_reach, count,
                                moved, root, rounding_root, w.rounding, summed};
    screen_window(geometry, w, joined, sum, ln_s0, constants, out.misfit.data(), out.bound.data());
    // A numerator this small or large has no bound (the exact evaluation's
    // clamp to the floor could act).
    for (std::size_t j = w.first; j < w.last; ++j) {
      const float rj = geometry.grid[j];
      const float numerator = level[j] * (1.0f - rj * rj);
      if (numerator > 8.0f * floor && std::isfinite(numerator) && std::isfinite(out.misfit[j]) &&
          std::isfinite(out.bound[j]))
        continue;
      out.misfit[j] = 0.0;
      out.bound[j] = kInfinity;
    }
  }
  return true;
}

}  // namespace

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

namespace {

// What every grid value's misfit reads: the scaled level and floor, each
// entry's cosine and target (the scaled value, or its logarithm), the grid
// and the model's level at each grid value. With a geometry of the band,
// its cosines and shape means are taken from it.
struct FitInputs {
  float scale = 1.0f, s0 = 0.0f, floor = 0.0f;
  std::pmr::vector<float> cs, target;
  std::vector<float> grid, level;
  FitInputs(const MisfitBand& band, bool two_threads, const RedFitCache::Geometry* geometry,
            std::pmr::memory_resource* memory)
      : cs(memory), target(memory) {
    const std::size_t n = band.smed.size();
    scale = misfit_scale(band);
    s0 = band.s0 * scale;
    floor = log_floor(s0);
    if (geometry != nullptr) {
      cs.assign(geometry->cs.begin(), geometry->cs.end());
    } else {
      cs.resize(n);
    }
    target.resize(n);
    auto prepare = [&](std::size_t first, std::size_t last) {
      for (std::size_t i = first; i < last; ++i) {
        if (geometry == nullptr) cs[i] = entry_cos(band, i);
        const float value = band.smed[i] * scale;
        target[i] = band.fit == Fit::linear ? value : std::log(std::max(std::fabs(value), floor));
      }
    };
    if (two_threads) {
      run_two_halves([&] { prepare(0, n / 2); }, [&] { prepare(n / 2, n); });
    } else {
      prepare(0, n);
    }
    grid.resize(kGridSize);
    level.resize(kGridSize);
    float r = 0.0f;
    for (std::size_t j = 0; j < grid.size(); ++j) {
      grid[j] = r;
      // The same quotient ar1_band_level forms, from the kept mean.
      level[j] = geometry == nullptr || band.full_band
                     ? ar1_band_level(s0, r, band)
                     : static_cast<float>(static_cast<double>(s0) / geometry->mean[j]);
      r += 0.001f;
    }
  }
};

// The series screen applies: the log misfit of a band short enough for
// its kept sums, with a cache to keep them in.
bool series_screen_applies(const MisfitBand& band, const RedFitCache* cache) {
  return cache != nullptr && band.fit == Fit::log && !band.smed.empty() &&
         band.smed.size() <= kSeriesScreenEntries;
}

}  // namespace

ScreenedGrid series_screen(const MisfitBand& band, RedFitCache& cache) {
  ScreenedGrid out;
  if (!series_screen_applies(band, &cache)) return out;
  const RedFitCache::Geometry* geometry = band_geometry(cache, band, true);
  const FitInputs in(band, false, geometry, std::pmr::get_default_resource());
  if (!screen_by_series(*geometry, in.target, in.s0, in.level, in.floor, out)) return {};
  return out;
}

float red_noise_grid_fit(const MisfitBand& band, float fallback,
                         std::pmr::memory_resource* memory, RedFitCache* cache) {
  const std::size_t n = band.smed.size();
  // Long bands share every step between two threads.
  const bool two_threads = n >= 4096;
  const RedFitCache::Geometry* geometry =
      series_screen_applies(band, cache) ? band_geometry(*cache, band, false) : nullptr;
  const bool by_series = geometry != nullptr;
  const FitInputs in(band, two_threads, geometry, memory);
  const float floor = in.floor;
  const std::pmr::vector<float>& cs = in.cs;
  const std::pmr::vector<float>& target = in.target;
  const std::vector<float>& grid = in.grid;
  const std::vector<float>& level = in.level;

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
  std::vector<int> order;
  ScreenedGrid screened;
  if (by_series && screen_by_series(*geometry, target, in.s0, level, floor, screened)) {
    order = candidates(screened);
  } else {
    order = screen_grid(band, cs, target, grid, level, floor, memory);
  }
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
