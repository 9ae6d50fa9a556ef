#include "spectral/concentrations.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "spectral/tapers.h"

namespace quorvane::spectral {
namespace {

#include "tests/spectral/reference_values.inc"

std::vector<double> concentrations_of(const Tapers& t, int nw) {
  std::vector<double> el(static_cast<std::size_t>(t.nwin));
  taper_concentrations(t.n, t.nwin, static_cast<float>(nw), t.v, el);
  return el;
}

TEST(TaperConcentrations, AgreeWithSciPyOnBothEigenPaths) {
  for (const ConcentrationReference& ref : kConcentrationReferences) {
    for (EigenPath path : {EigenPath::Fast, EigenPath::Reference}) {
      SCOPED_TRACE(testing::Message() << "n " << ref.n << " nw " << ref.nw << " path "
                                      << (path == EigenPath::Fast ? "fast" : "reference"));
      Tapers t;
      taper2(ref.n, ref.k, static_cast<float>(ref.nw), t, path);
      const std::vector<double> el = concentrations_of(t, ref.nw);
      for (int k = 0; k < ref.k; ++k) EXPECT_NEAR(el[static_cast<std::size_t>(k)], ref.values[k], 1e-6) << k;
    }
  }
}

TEST(TaperConcentrations, OfASingleValueTaperIsTheWholeBandFraction) {
  // One value: its spectrum is flat, so the band |f| <= W holds 2W of it.
  const std::vector<float> v = {1.0f};
  std::vector<double> el(1);
  taper_concentrations(1, 1, 0.25f, v, el);
  EXPECT_NEAR(el[0], 0.5, 1e-15);
}

}  // namespace
}  // namespace quorvane::spectral
