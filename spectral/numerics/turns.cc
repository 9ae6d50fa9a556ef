#include "spectral/numerics/turns.h"

#include <cstdint>
#include <cstring>

#include "spectral/numerics/vector_lanes.h"

namespace quorvane::spectral {

namespace {

constexpr double kTwoPi = 6.283185307179586476925;

// cos and sin of 2 pi x for each x in [0, 1) of `re`, into `re` and `im`,
// to some 1e-15: x is the quarter turn q nearest to it (by the 1.5 2^52
// shift) plus r, |r| <= 1/8, and the sine and cosine of the angle 2 pi r (at
// most pi / 4) are their Taylor series to the 15th and 16th powers, whose
// first omitted terms are below 2e-16. L values at a time, the same
// operations whatever L: several times cheaper than the library's sine and
// cosine of any angle, which counts for the points of a plan.
template <std::size_t L>
[[gnu::always_inline]] inline void turn_lanes(std::span<double> re, std::span<double> im) {
  using Doubles = Vector<double, L>;
  using Wholes = Vector<std::int64_t, L>;
  constexpr double kShift = 0x1.8p52;
  const Doubles shift = Doubles{} + kShift;
  Wholes shift_bits;
  std::memcpy(&shift_bits, &shift, sizeof shift_bits);
  const std::size_t count = re.size();
  for (std::size_t j = 0; j < count; j += L) {
    double in[L] = {};
    for (std::size_t l = 0; l < L && j + l < count; ++l) in[l] = re[j + l];
    Doubles x;
    std::memcpy(&x, in, sizeof x);
    const Doubles y = 4.0 * x + shift;
    Wholes q;
    std::memcpy(&q, &y, sizeof q);
    q -= shift_bits;  // 0 .. 4
    const Doubles a = kTwoPi * (x - 0.25 * (y - shift));
    const Doubles a2 = a * a;
    const Doubles s =
        a * (1.0 + a2 * (-1.0 / 6 + a2 * (1.0 / 120 + a2 * (-1.0 / 5040 + a2 * (1.0 / 362880 +
             a2 * (-1.0 / 39916800 + a2 * (1.0 / 6227020800.0 + a2 * (-1.0 / 1307674368000.0))))))));
    const Doubles c =
        1.0 + a2 * (-0.5 + a2 * (1.0 / 24 + a2 * (-1.0 / 720 + a2 * (1.0 / 40320 +
             a2 * (-1.0 / 3628800 + a2 * (1.0 / 479001600.0 + a2 * (-1.0 / 87178291200.0 +
             a2 * (1.0 / 20922789888000.0))))))));
    // cos and sin of q pi / 2 + a.
    const Wholes odd = (q & 1) != 0;
    const Doubles first = odd ? s : c, second = odd ? c : s;
    const Doubles cosine = ((q + 1) & 2) != 0 ? -first : first;
    const Doubles sine = (q & 2) != 0 ? -second : second;
    double out_c[L], out_s[L];
    std::memcpy(out_c, &cosine, sizeof out_c);
    std::memcpy(out_s, &sine, sizeof out_s);
    for (std::size_t l = 0; l < L && j + l < count; ++l) {
      re[j + l] = out_c[l];
      im[j + l] = out_s[l];
    }
  }
}

[[gnu::target("avx2")]] void turns_wide(std::span<double> re, std::span<double> im) {
  turn_lanes<4>(re, im);
}

}  // namespace

void turns(std::span<double> re, std::span<double> im) {
  if (__builtin_cpu_supports("avx2")) return turns_wide(re, im);
  turn_lanes<2>(re, im);
}


}  // namespace quorvane::spectral
