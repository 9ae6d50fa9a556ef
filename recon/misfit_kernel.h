// The sweep kernel of misfit_sweep.h, written once for several vector
// widths. Each translation unit that includes it compiles its own private
// copy (internal linkage) with its own instruction set, so nothing here may
// call an inline library function that the linker could share between them.
#pragma once

#include <cstddef>

namespace quorvane::recon {
namespace {

// Samples per chunk: the four input arrays of a chunk (32 kB) stay in the
// first-level cache while every group of triples sweeps over it.
constexpr std::size_t kSweepChunk = 2048;

// Lanes floats per vector, Rows vectors of triples swept side by side (the
// rows hide the latency of each sum's dependency chain). Lanes·Rows must
// divide kMisfitGroup. The arithmetic is that of one triple at a time,
// lane by lane; nothing may be contracted into fused multiply-adds, which
// the including file guarantees.
// Vectors of 4 and 16 floats.
template <int Lanes>
struct FloatVector;
template <>
struct FloatVector<4> {
  typedef float type __attribute__((vector_size(16)));
};
template <>
struct FloatVector<16> {
  typedef float type __attribute__((vector_size(64)));
};

template <int Lanes, int Rows>
void sweep_kernel(const float* r1, const float* r2, const float* r3, const float* xdm,
                  std::size_t n, const float* wa, const float* wb, const float* wc, float* sums,
                  std::size_t count) {
  using Vec = typename FloatVector<Lanes>::type;
  constexpr std::size_t kWidth = static_cast<std::size_t>(Lanes) * Rows;
  // x - 0 in every lane: x itself (a negative zero included), broadcast.
  const auto splat = [](float x) { return x - Vec{}; };
  for (std::size_t start = 0; start < n; start += kSweepChunk) {
    const std::size_t stop = n - start < kSweepChunk ? n : start + kSweepChunk;
    for (std::size_t first = 0; first < count; first += kWidth) {
      Vec a[Rows], b[Rows], c[Rows], s[Rows];
      for (int row = 0; row < Rows; ++row) {
        const std::size_t at = first + static_cast<std::size_t>(row) * Lanes;
        __builtin_memcpy(&a[row], wa + at, sizeof(Vec));
        __builtin_memcpy(&b[row], wb + at, sizeof(Vec));
        __builtin_memcpy(&c[row], wc + at, sizeof(Vec));
        __builtin_memcpy(&s[row], sums + at, sizeof(Vec));
      }
      for (std::size_t i = start; i < stop; ++i) {
        const Vec x1 = splat(r1[i]), x2 = splat(r2[i]), x3 = splat(r3[i]), t = splat(xdm[i]);
        for (int row = 0; row < Rows; ++row) {
          const Vec d = a[row] * x1 + b[row] * x2 + c[row] * x3 - t;
          s[row] += d * d;
        }
      }
      for (int row = 0; row < Rows; ++row) {
        __builtin_memcpy(sums + first + static_cast<std::size_t>(row) * Lanes, &s[row],
                         sizeof(Vec));
      }
    }
  }
}

}  // namespace
}  // namespace quorvane::recon
