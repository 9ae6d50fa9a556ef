#include "spectral/slepian_eigen.h"

#include "spectral/lapack_tridiagonal.h"

namespace quorvane::spectral {

void smallest_slepian_eigenpairs(const std::vector<double>& d, const std::vector<double>& e,
                                 int count, std::vector<double>& eigenvalues,
                                 std::vector<double>& z) {
  smallest_tridiagonal_eigenpairs(d, e, count, static_cast<double>(1.0e-13f), eigenvalues, z);
}

}  // namespace quorvane::spectral
