// The inner sweep of the least-misfit search: the sums of squares of many
// weight triples over one set of pass signals, in single precision.
#pragma once

#include <cstddef>

namespace quorvane::recon {

// Triples are swept in groups of this many; callers pad their weight and
// sum arrays to a multiple of it (padding triples are computed, never read).
constexpr std::size_t kMisfitGroup = 64;

// For every triple c < count (a multiple of kMisfitGroup) adds to sums[c]
// the sum over samples i < n of
//   (wa[c]·r1[i] + wb[c]·r2[i] + wc[c]·r3[i] - xdm[i])²,
// each product, sum and difference rounded to single precision in exactly
// this order and the samples added in index order, so every sum is bit for
// bit that of one plain loop per triple. Uses the widest vector unit the
// processor has; reads the arrays, writes only sums[0..count-1].
void sweep_misfits(const float* r1, const float* r2, const float* r3, const float* xdm,
                   std::size_t n, const float* wa, const float* wb, const float* wc, float* sums,
                   std::size_t count);

}  // namespace quorvane::recon
