#include "spectral/fft.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

namespace quorvane::spectral {

namespace {

// Two doubles per vector: the width every x86-64 and AArch64 unit has.
using Pair = double __attribute__((vector_size(16)));

Pair load(const double* p) {
  Pair v;
  __builtin_memcpy(&v, p, sizeof v);
  return v;
}

void store(double* p, Pair v) { __builtin_memcpy(p, &v, sizeof v); }

// Butterflies x(a + c), x(b + c) for c < count with twiddles tw(c): the
// multiplications, additions and subtractions of the scalar form, two
// lanes at a time (no fused operations, so the roundings are the same).
void butterflies(double* ar, double* ai, double* br, double* bi, const double* twr,
                 const double* twi, std::size_t count) {
  std::size_t c = 0;
  for (; c + 2 <= count; c += 2) {
    const Pair xr = load(br + c), xi = load(bi + c), ur = load(twr + c), ui = load(twi + c);
    const Pair tr = xr * ur - xi * ui;
    const Pair ti = xr * ui + xi * ur;
    const Pair yr = load(ar + c), yi = load(ai + c);
    store(br + c, yr - tr);
    store(bi + c, yi - ti);
    store(ar + c, yr + tr);
    store(ai + c, yi + ti);
  }
  for (; c < count; ++c) {
    const double tr = br[c] * twr[c] - bi[c] * twi[c];
    const double ti = br[c] * twi[c] + bi[c] * twr[c];
    br[c] = ar[c] - tr;
    bi[c] = ai[c] - ti;
    ar[c] += tr;
    ai[c] += ti;
  }
}

}  // namespace

void bit_reversal_order(std::span<std::uint32_t> order) {
  const std::size_t nn = order.size();
  for (std::size_t i = 0; i < nn; ++i) order[i] = static_cast<std::uint32_t>(i);
  // The classic exchange sequence; i and j count from 1, element i lives at
  // index i - 1.
  std::size_t j = 1;
  for (std::size_t i = 1; i < nn; ++i) {
    if (i < j) std::swap(order[i - 1], order[j - 1]);
    std::size_t k = nn / 2;
    while (k < j) {
      j -= k;
      k /= 2;
    }
    j += k;
  }
}

FftPlan::FftPlan(std::size_t nn, std::pmr::memory_resource* memory) : order_(nn, memory) {
  bit_reversal_order(order_);
}

void fft2(std::span<double> xr, std::span<double> xi) {
  const std::size_t nn = xr.size();
  if (nn < 2) return;

  // Bit-reversal permutation. i and j count from 1 as in the classic
  // formulation; element i lives at index i - 1.
  std::size_t j = 1;
  for (std::size_t i = 1; i < nn; ++i) {
    if (i < j) {
      std::swap(xr[i - 1], xr[j - 1]);
      std::swap(xi[i - 1], xi[j - 1]);
    }
    std::size_t k = nn / 2;
    while (k < j) {
      j -= k;
      k /= 2;
    }
    j += k;
  }
  fft2_bit_reversed(xr, xi);
}

void fft2_bit_reversed(std::span<double> xr, std::span<double> xi) {
  const std::size_t nn = xr.size();
  if (nn < 2) return;
  // The stage count uses 0.693147, a little below ln 2, so the quotient sits
  // just above the exact count for every power of two and truncates to it.
  const int stages = static_cast<int>(std::log(static_cast<double>(nn)) / 0.693147);
  // The twiddles of a stage are generated in order by the recurrence, a
  // chunk at a time, and each chunk is applied to every block of the stage.
  // The butterflies of a stage are independent, so this order, which walks
  // memory sequentially, gives exactly the values of the classic loop nest
  // (twiddle outer, blocks inner) with the same twiddle values.
  constexpr std::size_t chunk = 256;
  double twr[chunk], twi[chunk];
  for (int l = 1; l <= stages; ++l) {
    const std::size_t le = std::size_t{1} << l;
    const std::size_t le1 = le / 2;
    double ur = 1.0;
    double ui = 0.0;
    const double wr = std::cos(kPi15 / static_cast<double>(le1));
    const double wi = std::sin(kPi15 / static_cast<double>(le1));
    for (std::size_t j0 = 0; j0 < le1; j0 += chunk) {
      const std::size_t count = std::min(chunk, le1 - j0);
      for (std::size_t c = 0; c < count; ++c) {
        twr[c] = ur;
        twi[c] = ui;
        // The twiddle advances by the rotation recurrence (from the old
        // values), not from cosines taken one by one: its accumulated
        // rounding is part of the result.
        const double ur_old = ur;
        ur = ur_old * wr - ui * wi;
        ui = ur_old * wi + ui * wr;
      }
      for (std::size_t start = j0; start < nn; start += le) {
        butterflies(xr.data() + start, xi.data() + start, xr.data() + start + le1,
                    xi.data() + start + le1, twr, twi, count);
      }
    }
  }
}

}  // namespace quorvane::spectral
