// The system's discrete Fourier transform.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <span>
#include <vector>

#include "spectral/numerics/two_halves.h"

namespace quorvane::spectral {

// pi to 15 significant digits, the value the transform's twiddles and the
// Slepian taper matrix are computed with. It lies 3e-15 below the double
// nearest pi; keeping it keeps the double-precision transforms and tapers
// reproducible bit for bit (the single-precision spectra did not change in
// any case checked with the nearer value, but the transforms do).
inline constexpr double kPi15 = 3.14159265358979;

// In-place radix-2 decimation-in-time complex FFT in double precision, with
// the positive exponent and no scaling:
//   X(j) = sum_m x(m) exp(+2 pi i j m / nn),  nn = xr.size() = xi.size().
// xr and xi hold the real and imaginary parts; nn must be a power of two.
// The twiddle factor of each stage is carried by a rotation recurrence (one
// cos and sin per stage; where a table holds twiddles, it holds the
// recurrence's values); its rounding is part of every result, which is
// therefore bit for bit that of the classic loop nest.
void fft2(std::span<double> xr, std::span<double> xi);

// fft2 without its first step, for data already in bit-reversed order:
// element m of the sequence at index order[m] (bit_reversal_order). A
// caller that fills the vectors anyway can place the values there directly
// and save the exchange pass; the result is exactly that of fft2.
void fft2_bit_reversed(std::span<double> xr, std::span<double> xi);

// order[m] = the index where fft2's bit-reversal permutation moves element m
// (order.size() a power of two). The permutation is its own inverse.
void bit_reversal_order(std::span<std::uint32_t> order);

// A pass of FftPlan over memory doing stages s+1 .. s+g.
struct FftPass {
  int s = 0, g = 0;
  std::size_t cursor_start = 0;  // first stored recurrence state (late passes)
};

// A transform length with the twiddle factors of fft2, computed once and
// shared by every transform of a run in either engine. The transforms run
// the butterflies of fft2 in a cache-friendly order: the early stages block
// by block while the block sits in the fast caches, the late ones several
// stages per pass over memory. Each butterfly still combines the same values
// with the same twiddle values (those of fft2's recurrence, taken from tables
// or from the recurrence resumed at stored points), so every result is bit
// for bit that of fft2.
class FftPlan {
 public:
  // nn must be a power of two. The butterflies run four lanes at a time
  // where the processor has AVX, two otherwise (wide = false: always two);
  // the results are the same.
  explicit FftPlan(std::size_t nn,
                   std::pmr::memory_resource* memory = std::pmr::get_default_resource(),
                   bool wide = true);

  std::size_t size() const { return nn_; }

  // Whether transform_real can share one transform between two threads
  // (long transforms only; a short one is done on the calling thread).
  bool splits_work() const { return splits_work_; }

  // fft2 of the real sequence x(0..count-1) zero-padded to size(), where
  // value(t) gives x(t) as a double. xr and xi (size() values each) receive
  // the transform; count must not exceed size(). Their previous contents
  // are not read. With two_threads (and splits_work()), a second thread
  // takes half of every step; value is then called from both threads.
  template <typename Value>
  void transform_real(std::size_t count, const Value& value, std::span<double> xr,
                      std::span<double> xi, bool two_threads = false) const {
    tiled_transform<false>(
        count, [&](std::size_t t, double& re, double&) { re = static_cast<double>(value(t)); },
        xr, xi, two_threads);
  }

  // fft2 of the complex sequence x(0..count-1) zero-padded to size(), where
  // value(t, re, im) sets the real and imaginary parts of x(t) (doubles).
  // As transform_real otherwise: xr and xi receive the transform, their
  // previous contents are not read, so they must not be what value reads.
  template <typename Value>
  void transform_complex(std::size_t count, const Value& value, std::span<double> xr,
                         std::span<double> xi, bool two_threads = false) const {
    tiled_transform<true>(count, value, xr, xi, two_threads);
  }

  // fft2_bit_reversed with this plan's tables: xr and xi (size() values
  // each) hold the data in bit-reversed order and receive the transform.
  void transform_bit_reversed(std::span<double> xr, std::span<double> xi) const {
    butterfly_stages(xr.data(), xi.data(), 1, false);
  }

 private:
  using Pass = FftPass;

  // transform_real places the data in tiles of up to 2^5 rows of 2^6
  // values (32 KiB with the imaginary parts, in L1).
  static constexpr int kTileRowBits = 5, kTileColumnBits = 6;
  struct Tile {
    double re[1 << kTileRowBits][1 << kTileColumnBits];
    double im[1 << kTileRowBits][1 << kTileColumnBits];
  };

  // The transforms of data given value by value (value(t, re, im); with
  // kImaginary false only re is set and the imaginary parts are 0).
  // t = (hi, mid, lo) goes to (rev lo, rev mid, rev hi). A tile of the
  // values of one mid reads a run of consecutive inputs for each hi and,
  // once its first stages are done, writes a run of consecutive outputs
  // for each lo, where element by element the accesses would scatter over
  // all the data. The tiles are taken in the order of their outputs.
  template <bool kImaginary, typename Value>
  void tiled_transform(std::size_t count, const Value& value, std::span<double> xr,
                       std::span<double> xi, bool two_threads) const {
    const auto get = [&](std::size_t t, double& re, double& im) {
      re = 0.0;
      im = 0.0;
      if (t < count) value(t, re, im);
    };
    if (nn_ == 1) {
      get(0, xr[0], xi[0]);
      return;
    }
    const int mid_bits = stages_ - tile_row_bits_ - tile_column_bits_;
    const std::size_t rows = std::size_t{1} << tile_row_bits_;
    const std::size_t columns = std::size_t{1} << tile_column_bits_;
    const auto place = [&](std::size_t begin, std::size_t end) {
      Tile tile;
      double ignored = 0.0;
      for (std::size_t out = begin; out < end; ++out) {
        const std::size_t mid = reversed(out, mid_bits);
        for (std::size_t hi = 0; hi < rows; ++hi) {
          double* row = tile.re[reversed_rows_[hi]];
          double* row_im = tile.im[reversed_rows_[hi]];
          const std::size_t first = (hi << (stages_ - tile_row_bits_)) | (mid << tile_column_bits_);
          if (first + columns <= count) {
            for (std::size_t lo = 0; lo < columns; ++lo) {
              value(first + lo, row[lo], kImaginary ? row_im[lo] : ignored);
            }
          } else {
            for (std::size_t lo = 0; lo < columns; ++lo) {
              get(first + lo, row[lo], kImaginary ? row_im[lo] : ignored);
            }
          }
        }
        finish_tile(tile, out, xr.data(), xi.data(), kImaginary);
      }
    };
    const std::size_t tiles = std::size_t{1} << mid_bits;
    const bool split = two_threads && splits_work();
    if (split) {
      run_two_halves([&] { place(0, tiles / 2); }, [&] { place(tiles / 2, tiles); });
    } else {
      place(0, tiles);
    }
    butterfly_stages(xr.data(), xi.data(), tile_row_bits_ + 1, split);
  }

  static std::size_t reversed(std::size_t i, int width) {
    std::size_t r = 0;
    for (int b = 0; b < width; ++b) r |= ((i >> b) & 1u) << (width - 1 - b);
    return r;
  }

  // Stages 1 .. tile_row_bits_ on the columns of a tile whose real parts
  // are in re (rows in transform order) and whose imaginary parts are in im
  // (imaginary) or 0; then writes the columns to xr and xi at the places of
  // output tile `out`.
  void finish_tile(Tile& tile, std::size_t out, double* xr, double* xi, bool imaginary) const;

  // All butterfly stages from stage `first` on, on data in bit-reversed
  // order; with split, each step's halves on two threads.
  void butterfly_stages(double* xr, double* xi, int first, bool split) const;
  void block_stages(double* xr, double* xi, int first) const;
  void table_pass(double* xr, double* xi, const Pass& pass) const;
  // Columns [begin, end) of a late pass; begin is 0 or half a row.
  void cursor_pass(double* xr, double* xi, const Pass& pass, std::size_t begin,
                   std::size_t end) const;

  // The butterfly loops for this processor.
  using ButterflyRun = void (*)(double*, double*, double*, double*, const double*, const double*,
                                std::size_t);
  using SameTwiddleRun = void (*)(double*, double*, double*, double*, double, double,
                                  std::size_t);
  ButterflyRun butterflies_ = nullptr;
  SameTwiddleRun same_twiddle_ = nullptr;

  std::size_t nn_ = 0;
  int stages_ = 0;
  int block_stages_ = 0;  // stages done per block in L1
  // Stages with a twiddle table. A long transform (more than one block of
  // 2^16 values) does them block by block, each block in L2; otherwise they
  // are only the stages done in L1.
  int table_stages_ = 0;
  bool splits_work_ = false;
  int tile_row_bits_ = 0, tile_column_bits_ = 0;
  std::uint8_t reversed_rows_[1 << kTileRowBits] = {};
  std::uint8_t reversed_columns_[1 << kTileColumnBits] = {};
  // Twiddles of stage l (le1 = 2^(l-1) of them) at [le1, 2 le1).
  std::pmr::vector<double> twr_, twi_;
  std::pmr::vector<Pass> table_passes_, cursor_passes_;
  // The late stages' recurrence states at the start and the middle of
  // every row of their pass.
  std::pmr::vector<double> cursor_r_, cursor_i_;
};

}  // namespace quorvane::spectral
