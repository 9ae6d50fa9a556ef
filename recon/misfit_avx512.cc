// The misfit sweep in 16-lane AVX-512 vectors. Built with -mavx512f and
// -ffp-contract=off on x86-64 (see CMakeLists.txt) and called only where the
// processor has AVX-512; elsewhere this file is empty.
#if defined(__AVX512F__)

#include "recon/misfit_kernel.h"

namespace quorvane::recon {

void sweep_misfits_avx512(const float* r1, const float* r2, const float* r3, const float* xdm,
                          std::size_t n, const float* wa, const float* wb, const float* wc,
                          float* sums, std::size_t count) {
  sweep_kernel<16, 4>(r1, r2, r3, xdm, n, wa, wb, wc, sums, count);
}

}  // namespace quorvane::recon

#endif
