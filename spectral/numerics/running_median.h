// Running median of a sequence over a window clipped at the ends.
#pragma once

#include <memory_resource>
#include <span>

namespace quorvane::spectral {

// out[i] = the lower middle value of x[lo..hi], lo = max(0, i - half),
// hi = min(n - 1, i + half), for i = 0..n-1 (n = x.size(); out must hold n
// values). The window is clipped at the ends, not shifted; for an even
// count the lower of the two middle values is taken. half < 0 is taken as 0.
// Cost O(n log n) at most whatever the window (values ranked by a radix sort,
// the window's ranks kept in a bitmap with summary words above it, the
// median moved rank by rank); work storage comes from memory, two indices
// (32-bit ones below 2^32 values) and a bit per value.
void running_median(std::span<const float> x, int half, std::span<float> out,
                    std::pmr::memory_resource* memory = std::pmr::get_default_resource());

}  // namespace quorvane::spectral
