#include "recon/misfit_sweep.h"

#include "recon/misfit_kernel.h"

namespace quorvane::recon {

#if defined(QUORVANE_MISFIT_AVX512)
void sweep_misfits_avx512(const float* r1, const float* r2, const float* r3, const float* xdm,
                          std::size_t n, const float* wa, const float* wb, const float* wc,
                          float* sums, std::size_t count);
#endif

void sweep_misfits(const float* r1, const float* r2, const float* r3, const float* xdm,
                   std::size_t n, const float* wa, const float* wb, const float* wc, float* sums,
                   std::size_t count) {
#if defined(QUORVANE_MISFIT_AVX512)
  if (__builtin_cpu_supports("avx512f")) {
    sweep_misfits_avx512(r1, r2, r3, xdm, n, wa, wb, wc, sums, count);
    return;
  }
#endif
  // Four-lane vectors, which every x86-64 and most other processors have.
  sweep_kernel<4, 4>(r1, r2, r3, xdm, n, wa, wb, wc, sums, count);
}

}  // namespace quorvane::recon
