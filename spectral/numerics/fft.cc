#include "spectral/numerics/fft.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace quorvane::spectral {

namespace {

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUORVANE_FFT_WIDE 1
#else
#define QUORVANE_FFT_WIDE 0
#endif

// Two doubles per vector: the width every x86-64 and AArch64 unit has.
using Pair = double __attribute__((vector_size(16)));

Pair load(const double* p) {
  Pair v;
  __builtin_memcpy(&v, p, sizeof v);
  return v;
}

void store(double* p, Pair v) { __builtin_memcpy(p, &v, sizeof v); }

// The butterfly of a and b with twiddle (ur, ui), the scalar form of
// the butterflies below.
inline void butterfly(double& ar, double& ai, double& br, double& bi, double ur, double ui) {
  const double tr = br * ur - bi * ui;
  const double ti = br * ui + bi * ur;
  br = ar - tr;
  bi = ai - ti;
  ar += tr;
  ai += ti;
}

// Butterflies x(a + c), x(b + c) for c < count with twiddles tw(c): the
// multiplications, additions and subtractions of the scalar form, two
// lanes at a time (no fused operations, so the roundings are the same).
// Two butterflies, at ar[0..1] and br[0..1], with twiddles (ur, ui).
inline void pair_butterfly(double* ar, double* ai, double* br, double* bi, Pair ur, Pair ui) {
  const Pair xr = load(br), xi = load(bi);
  const Pair tr = xr * ur - xi * ui;
  const Pair ti = xr * ui + xi * ur;
  const Pair yr = load(ar), yi = load(ai);
  store(br, yr - tr);
  store(bi, yi - ti);
  store(ar, yr + tr);
  store(ai, yi + ti);
}

void butterflies(double* ar, double* ai, double* br, double* bi, const double* twr,
                 const double* twi, std::size_t count) {
  std::size_t c = 0;
  for (; c + 2 <= count; c += 2) {
    pair_butterfly(ar + c, ai + c, br + c, bi + c, load(twr + c), load(twi + c));
  }
  for (; c < count; ++c) butterfly(ar[c], ai[c], br[c], bi[c], twr[c], twi[c]);
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
  if (xr.size() < 2) return;
  FftPlan(xr.size()).transform_bit_reversed(xr, xi);
}

namespace {

// Blocks of 2^11 values of each part (32 KiB) do their stages in L1; blocks
// of 2^16 (1 MiB, with the twiddle tables another MiB) do theirs in L2.
constexpr int kBlockStages = 11;
constexpr int kTableStages = 16;
// A pass over memory does up to four stages (16 rows) on kColumns columns
// at a time: 16 KiB of data and 15 rows of twiddles, all in L1.
constexpr int kPassStages = 4;
constexpr std::size_t kColumns = 64;

// The twiddle recurrence of the stage with le1 butterflies per block: the
// rotation by pi / le1, taken from its cosine and sine once.
struct Rotation {
  double wr, wi;
  explicit Rotation(std::size_t le1)
      : wr(std::cos(kPi15 / static_cast<double>(le1))),
        wi(std::sin(kPi15 / static_cast<double>(le1))) {}
  // The next twiddle, from the old values of both parts.
  void advance(double& ur, double& ui) const {
    const double ur_old = ur;
    ur = ur_old * wr - ui * wi;
    ui = ur_old * wi + ui * wr;
  }
};

// Stages first+1 .. last split into passes of at most kPassStages stages,
// as even as possible.
void split_into_passes(int first, int last, std::pmr::vector<FftPass>& passes) {
  const int count = last - first;
  if (count <= 0) return;
  const int n = (count + kPassStages - 1) / kPassStages;
  int s = first;
  for (int p = 0; p < n; ++p) {
    const int g = count / n + (p < count % n ? 1 : 0);
    passes.push_back({s, g, 0});
    s += g;
  }
}

// butterflies() with one twiddle (ur, ui) for all.
void same_twiddle_butterflies(double* ar, double* ai, double* br, double* bi, double ur, double ui,
                              std::size_t count) {
  const Pair vr = {ur, ur}, vi = {ui, ui};
  std::size_t c = 0;
  for (; c + 2 <= count; c += 2) pair_butterfly(ar + c, ai + c, br + c, bi + c, vr, vi);
  for (; c < count; ++c) butterfly(ar[c], ai[c], br[c], bi[c], ur, ui);
}

#if QUORVANE_FFT_WIDE
// The same butterflies four lanes at a time, for processors with AVX (the
// program still runs on every x86-64; the choice is made at run time). The
// operations and their order are those of the two-lane form, without fused
// multiply-adds, so the results are identical.
using Quad = double __attribute__((vector_size(32)));

// Four butterflies, at ar[0..3] and br[0..3], with twiddles (ur, ui).
__attribute__((target("avx"))) inline void quad_butterfly(double* ar, double* ai, double* br,
                                                          double* bi, Quad ur, Quad ui) {
  Quad xr, xi, yr, yi;
  __builtin_memcpy(&xr, br, sizeof xr);
  __builtin_memcpy(&xi, bi, sizeof xi);
  __builtin_memcpy(&yr, ar, sizeof yr);
  __builtin_memcpy(&yi, ai, sizeof yi);
  const Quad tr = xr * ur - xi * ui;
  const Quad ti = xr * ui + xi * ur;
  const Quad out[4] = {yr - tr, yi - ti, yr + tr, yi + ti};
  __builtin_memcpy(br, &out[0], sizeof xr);
  __builtin_memcpy(bi, &out[1], sizeof xr);
  __builtin_memcpy(ar, &out[2], sizeof xr);
  __builtin_memcpy(ai, &out[3], sizeof xr);
}

__attribute__((target("avx"))) void butterflies_wide(double* ar, double* ai, double* br,
                                                     double* bi, const double* twr,
                                                     const double* twi, std::size_t count) {
  std::size_t c = 0;
  for (; c + 4 <= count; c += 4) {
    Quad ur, ui;
    __builtin_memcpy(&ur, twr + c, sizeof ur);
    __builtin_memcpy(&ui, twi + c, sizeof ui);
    quad_butterfly(ar + c, ai + c, br + c, bi + c, ur, ui);
  }
  for (; c < count; ++c) butterfly(ar[c], ai[c], br[c], bi[c], twr[c], twi[c]);
}

__attribute__((target("avx"))) void same_twiddle_butterflies_wide(double* ar, double* ai,
                                                                  double* br, double* bi,
                                                                  double ur, double ui,
                                                                  std::size_t count) {
  const Quad vr = {ur, ur, ur, ur}, vi = {ui, ui, ui, ui};
  std::size_t c = 0;
  for (; c + 4 <= count; c += 4) quad_butterfly(ar + c, ai + c, br + c, bi + c, vr, vi);
  for (; c < count; ++c) butterfly(ar[c], ai[c], br[c], bi[c], ur, ui);
}
#endif

// Stages s+1 .. s+g on columns j0 .. j0+count-1 of one region: 2^g rows of
// 2^s values from x. twiddles(q, r) points to the twiddles of stage s+q at
// indices j0 + r 2^s onwards (real part, imaginary part).
template <typename Run, typename Twiddles>
void pass_columns(Run run, double* xr, double* xi, int s, int g, std::size_t j0,
                  std::size_t count, const Twiddles& twiddles) {
  const std::size_t row = std::size_t{1} << s;
  const std::size_t rows = std::size_t{1} << g;
  for (int q = 1; q <= g; ++q) {
    const std::size_t h = std::size_t{1} << (q - 1);
    for (std::size_t a = 0; a < rows; ++a) {
      if ((a & h) != 0) continue;
      const auto [twr, twi] = twiddles(q, a & (h - 1));
      const std::size_t ia = a * row + j0, ib = (a + h) * row + j0;
      run(xr + ia, xi + ia, xr + ib, xi + ib, twr, twi, count);
    }
  }
}

}  // namespace

FftPlan::FftPlan(std::size_t nn, std::pmr::memory_resource* memory, bool wide)
    : nn_(nn),
      stages_(std::countr_zero(nn)),
      twr_(memory),
      twi_(memory),
      table_passes_(memory),
      cursor_passes_(memory),
      cursor_r_(memory),
      cursor_i_(memory) {
  block_stages_ = std::min(stages_, kBlockStages);
  butterflies_ = butterflies;
  same_twiddle_ = same_twiddle_butterflies;
#if QUORVANE_FFT_WIDE
  if (wide && __builtin_cpu_supports("avx")) {
    butterflies_ = butterflies_wide;
    same_twiddle_ = same_twiddle_butterflies_wide;
  }
#else
  static_cast<void>(wide);
#endif
  tile_row_bits_ = stages_ >= kTileRowBits + kTileColumnBits ? kTileRowBits : stages_ / 2;
  tile_column_bits_ = std::min(stages_ - tile_row_bits_, kTileColumnBits);
  for (std::size_t i = 0; i < (std::size_t{1} << tile_row_bits_); ++i) {
    reversed_rows_[i] = static_cast<std::uint8_t>(reversed(i, tile_row_bits_));
  }
  for (std::size_t i = 0; i < (std::size_t{1} << tile_column_bits_); ++i) {
    reversed_columns_[i] = static_cast<std::uint8_t>(reversed(i, tile_column_bits_));
  }
  // Tables for stages up to 16 are worth their memory (1 MiB) only when
  // they serve several blocks; a shorter transform takes the twiddles of its
  // later stages from the recurrence, once per transform.
  splits_work_ = stages_ > kTableStages;
  table_stages_ = splits_work_ ? kTableStages : block_stages_;
  const std::size_t table = std::size_t{1} << table_stages_;
  twr_.resize(table);
  twi_.resize(table);
  for (std::size_t le1 = 1; le1 < table; le1 *= 2) {
    const Rotation w(le1);
    double ur = 1.0, ui = 0.0;
    for (std::size_t j = 0; j < le1; ++j) {
      twr_[le1 + j] = ur;
      twi_[le1 + j] = ui;
      w.advance(ur, ui);
    }
  }
  split_into_passes(block_stages_, table_stages_, table_passes_);
  split_into_passes(table_stages_, stages_, cursor_passes_);
  // A late pass takes the twiddles of stage s+q at j + r 2^s (r < 2^(q-1))
  // from recurrences resumed at the stored states at r 2^s, or at
  // r 2^s + 2^s / 2 for the second half of the columns.
  // The stages of a pass advance side by side, which lets the processor
  // overlap their recurrences.
  for (Pass& pass : cursor_passes_) {
    pass.cursor_start = cursor_r_.size();
    const std::size_t row = std::size_t{1} << pass.s;
    const std::size_t cursors = (std::size_t{1} << pass.g) - 1;
    cursor_r_.resize(cursor_r_.size() + 2 * cursors);
    cursor_i_.resize(cursor_r_.size());
    const Rotation rotations[kPassStages] = {Rotation(row), Rotation(row << 1),
                                             Rotation(row << 2), Rotation(row << 3)};
    double ur[kPassStages] = {1.0, 1.0, 1.0, 1.0}, ui[kPassStages] = {};
    const std::size_t le1_last = row << (pass.g - 1);
    for (std::size_t j = 0; j < le1_last; j += row / 2) {
      // Stages q >= first still run at j.
      int first = 1;
      while ((row << (first - 1)) <= j) ++first;
      for (int q = first; q <= pass.g; ++q) {
        const std::size_t h = std::size_t{1} << (q - 1);
        const std::size_t at = pass.cursor_start + 2 * (h - 1 + j / row) + (j % row == 0 ? 0 : 1);
        cursor_r_[at] = ur[q - 1];
        cursor_i_[at] = ui[q - 1];
      }
      for (std::size_t step = 0; step < row / 2; ++step) {
        for (int q = first; q <= pass.g; ++q) rotations[q - 1].advance(ur[q - 1], ui[q - 1]);
      }
    }
  }
}

void FftPlan::finish_tile(Tile& tile, std::size_t out, double* xr, double* xi,
                          bool imaginary) const {
  const std::size_t rows = std::size_t{1} << tile_row_bits_;
  const std::size_t columns = std::size_t{1} << tile_column_bits_;
  if (!imaginary) {
    for (std::size_t r = 0; r < rows; ++r) std::fill_n(tile.im[r], columns, 0.0);
  }
  // Stage l pairs row a with row a + 2^(l-1), twiddle (a mod 2^(l-1)).
  for (std::size_t le1 = 1; le1 < rows; le1 *= 2) {
    for (std::size_t a = 0; a < rows; ++a) {
      if ((a & le1) != 0) continue;
      const std::size_t b = a + le1, j = le1 + (a & (le1 - 1));
      same_twiddle_(tile.re[a], tile.im[a], tile.re[b], tile.im[b], twr_[j], twi_[j], columns);
    }
  }
  const int column_shift = stages_ - tile_column_bits_;
  for (std::size_t c = 0; c < columns; ++c) {
    const std::size_t at = (std::size_t{reversed_columns_[c]} << column_shift) |
                           (out << tile_row_bits_);
    for (std::size_t r = 0; r < rows; ++r) {
      xr[at + r] = tile.re[r][c];
      xi[at + r] = tile.im[r][c];
    }
  }
}

void FftPlan::butterfly_stages(double* xr, double* xi, int first, bool split) const {
  if (nn_ < 2) return;
  const std::size_t block = std::size_t{1} << table_stages_;
  const std::size_t small_block = std::size_t{1} << block_stages_;
  const auto early = [&](std::size_t begin, std::size_t end) {
    for (std::size_t start = begin; start < end; start += block) {
      for (std::size_t sub = start; sub < start + block; sub += small_block) {
        block_stages(xr + sub, xi + sub, first);
      }
      for (const Pass& pass : table_passes_) table_pass(xr + start, xi + start, pass);
    }
  };
  if (split) {
    run_two_halves([&] { early(0, nn_ / 2); }, [&] { early(nn_ / 2, nn_); });
  } else {
    early(0, nn_);
  }
  for (const Pass& pass : cursor_passes_) {
    const std::size_t row = std::size_t{1} << pass.s;
    if (split) {
      run_two_halves([&] { cursor_pass(xr, xi, pass, 0, row / 2); },
                     [&] { cursor_pass(xr, xi, pass, row / 2, row); });
    } else {
      cursor_pass(xr, xi, pass, 0, row);
    }
  }
}

// Stages first .. block_stages_ of one block of 2^block_stages_ values.
void FftPlan::block_stages(double* xr, double* xi, int first) const {
  const std::size_t n = std::size_t{1} << block_stages_;
  if (first <= 1) {
    for (std::size_t i = 0; i < n; i += 2) {
      butterfly(xr[i], xi[i], xr[i + 1], xi[i + 1], twr_[1], twi_[1]);
    }
  }
  if (first <= 2 && block_stages_ >= 2) {
    for (std::size_t i = 0; i < n; i += 4) {
      butterfly(xr[i], xi[i], xr[i + 2], xi[i + 2], twr_[2], twi_[2]);
      butterfly(xr[i + 1], xi[i + 1], xr[i + 3], xi[i + 3], twr_[3], twi_[3]);
    }
  }
  for (int l = std::max(first, 3); l <= block_stages_; ++l) {
    const std::size_t le1 = std::size_t{1} << (l - 1);
    for (std::size_t start = 0; start < n; start += 2 * le1) {
      butterflies_(xr + start, xi + start, xr + start + le1, xi + start + le1, twr_.data() + le1,
                  twi_.data() + le1, le1);
    }
  }
}

// One pass of table stages over a block of 2^table_stages_ values.
void FftPlan::table_pass(double* xr, double* xi, const Pass& pass) const {
  const std::size_t row = std::size_t{1} << pass.s;
  const std::size_t region = row << pass.g;
  const std::size_t block = std::size_t{1} << table_stages_;
  for (std::size_t start = 0; start < block; start += region) {
    for (std::size_t j0 = 0; j0 < row; j0 += kColumns) {
      pass_columns(butterflies_, xr + start, xi + start, pass.s, pass.g, j0, kColumns, [&](int q, std::size_t r) {
        const std::size_t at = (row << (q - 1)) + j0 + r * row;
        return std::pair{twr_.data() + at, twi_.data() + at};
      });
    }
  }
}

// One pass of late stages over all the data. The twiddles of a chunk of
// columns serve every region, so each is generated once per transform.
void FftPlan::cursor_pass(double* xr, double* xi, const Pass& pass, std::size_t begin,
                          std::size_t end) const {
  const std::size_t row = std::size_t{1} << pass.s;
  const std::size_t region = row << pass.g;
  // Cursor c = 2^(q-1) - 1 + r follows stage s+q from column r 2^s + begin.
  const std::size_t cursors = (std::size_t{1} << pass.g) - 1;
  const std::size_t half = begin == 0 ? 0 : 1;
  double ur[15], ui[15];
  for (std::size_t c = 0; c < cursors; ++c) {
    ur[c] = cursor_r_[pass.cursor_start + 2 * c + half];
    ui[c] = cursor_i_[pass.cursor_start + 2 * c + half];
  }
  const Rotation rotations[kPassStages] = {Rotation(row), Rotation(row << 1), Rotation(row << 2),
                                           Rotation(row << 3)};
  double twr[15][kColumns], twi[15][kColumns];
  for (std::size_t j0 = begin; j0 < end; j0 += kColumns) {
    for (int q = 1; q <= pass.g; ++q) {
      const std::size_t h = std::size_t{1} << (q - 1);
      const Rotation& w = rotations[q - 1];
      for (std::size_t c = 0; c < kColumns; ++c) {
        for (std::size_t r = 0; r < h; ++r) {
          twr[h - 1 + r][c] = ur[h - 1 + r];
          twi[h - 1 + r][c] = ui[h - 1 + r];
          w.advance(ur[h - 1 + r], ui[h - 1 + r]);
        }
      }
    }
    for (std::size_t start = 0; start < nn_; start += region) {
      pass_columns(butterflies_, xr + start, xi + start, pass.s, pass.g, j0, kColumns,
                   [&](int q, std::size_t r) {
                     const std::size_t c = (std::size_t{1} << (q - 1)) - 1 + r;
                     return std::pair{&twr[c][0], &twi[c][0]};
                   });
    }
  }
}

}  // namespace quorvane::spectral
