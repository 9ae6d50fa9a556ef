#include "recon/envelope.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "recon/recon_steps.h"
#include "tests/recon/recon_test_support.h"

namespace quorvane::recon {
namespace {

using testing::noise;
using testing::sunspots;

// The grid and eigencoefficients of one series, ready for envel.
struct Prepared {
  ReconGrid grid;
  std::vector<float> xdm;
  EnvelopeInputs inputs;
};

Prepared prepare(const std::vector<float>& y, int nwin, int p, float dt) {
  Prepared run;
  const int npts = static_cast<int>(y.size());
  run.grid = make_grid(npts, nwin, dt);
  transform_series(y, nwin, p, npts, run.grid, run.xdm, run.inputs);
  return run;
}

// Largest |sum over l of conj(amat0(l,k))·zenv(l) - bvec0(k)| relative to the
// largest |bvec0(k)|, amat0 and bvec0 being the untransformed system.
double coefficient_misfit(const Prepared& run, float f, const std::vector<Complex>& zenv) {
  EnvelopeWork fresh;
  EXPECT_TRUE(fillup(f, run.grid, run.inputs, fresh));
  const std::size_t nknot = std::size_t(run.grid.nknot);
  double worst = 0.0, scale = 0.0;
  for (std::size_t k = 0; k < std::size_t(run.grid.nwin); ++k) {
    Complex sum(0.0, 0.0);
    for (std::size_t l = 0; l < nknot; ++l) sum += std::conj(fresh.amat[k * nknot + l]) * zenv[l];
    worst = std::max(worst, std::abs(sum - fresh.bvec[k]));
    scale = std::max(scale, std::abs(fresh.bvec[k]));
  }
  return worst / scale;
}

TEST(Envelope, ReproducesTheEigencoefficientsUnderEveryConstraint) {
  // The conjugate system matrix applied to the envelope gives back the
  // coefficients: the least-norm, least-slope and least-roughness envelopes
  // differ only in what the coefficients cannot see.
  const Prepared yearly = prepare(sunspots(), 5, 3, 1.0f);        // 309 knots, one per year
  const Prepared thinned = prepare(noise(1000, 7), 8, 4, 0.5f);   // 500 knots, every second sample
  ASSERT_EQ(thinned.grid.mstep, 2);
  for (const Prepared* run : {&yearly, &thinned}) {
    for (float f : {0.0f, 0.0908f, 0.3333f, 37.0f * run->grid.df}) {
      for (int icode : {0, 1, 2}) {
        EnvelopeWork work;
        ASSERT_TRUE(envel(f, icode, run->grid, run->inputs, work));
        EXPECT_LT(coefficient_misfit(*run, f, work.zenv), 1e-9) << "f " << f << " icode " << icode;
      }
    }
  }
}

TEST(Envelope, LeastNormIsTheLevelPlusADeviationSummingToZero) {
  const Prepared run = prepare(sunspots(), 4, 3, 1.0f);
  EnvelopeWork work, negative;
  ASSERT_TRUE(envel(0.0908f, 0, run.grid, run.inputs, work));
  Complex deviation(0.0, 0.0);
  double size = 0.0;
  for (const Complex& z : work.zenv) {
    deviation += z - work.cmean;
    size += std::abs(z);
  }
  EXPECT_LT(std::abs(deviation), 1e-10 * size);
  EXPECT_GT(std::abs(work.cmean), 0.0);
  // A negative icode sums nothing: least norm again.
  ASSERT_TRUE(envel(0.0908f, -2, run.grid, run.inputs, negative));
  EXPECT_EQ(work.zenv, negative.zenv);
}

TEST(Envelope, ConstraintsOnNoisyDataGiveSmootherEnvelopes) {
  const Prepared run = prepare(noise(400, 11), 6, 4, 1.0f);
  const auto differences = [](std::vector<Complex> d, int order) {
    for (int pass = 0; pass < order; ++pass) {
      for (std::size_t l = 0; l + 1 < d.size(); ++l) d[l] = d[l + 1] - d[l];
      d.pop_back();
    }
    double sum = 0.0;
    for (const Complex& v : d) sum += std::norm(v);
    return sum;
  };
  EnvelopeWork norm, slope, rough;
  ASSERT_TRUE(envel(0.137f, 0, run.grid, run.inputs, norm));
  ASSERT_TRUE(envel(0.137f, 1, run.grid, run.inputs, slope));
  ASSERT_TRUE(envel(0.137f, 2, run.grid, run.inputs, rough));
  // Each constraint minimises its own measure among all envelopes that
  // reproduce the coefficients (up to the 1.0E-4 weight of the first value).
  EXPECT_LT(differences(slope.zenv, 1), 0.8 * differences(norm.zenv, 1));
  EXPECT_LT(differences(slope.zenv, 1), differences(rough.zenv, 1));
  EXPECT_LT(differences(rough.zenv, 2), 0.5 * differences(norm.zenv, 2));
  EXPECT_LT(differences(rough.zenv, 2), differences(slope.zenv, 2));
}

TEST(Envelope, NearestBinKeepsTheLowerBinHalfWay) {
  ReconGrid grid;
  grid.df = 0.25f;  // exact in binary, so half-way is exact
  int bin = -1;
  float delta = 1.0f;
  ASSERT_TRUE(nearest_bin(0.625f, grid, 10, bin, delta));  // half-way between bins 2 and 3
  EXPECT_EQ(bin, 2);
  EXPECT_EQ(delta, -0.125f);
  ASSERT_TRUE(nearest_bin(0.6875f, grid, 10, bin, delta));
  EXPECT_EQ(bin, 3);
  EXPECT_EQ(delta, 0.0625f);
  ASSERT_TRUE(nearest_bin(2.3f, grid, 10, bin, delta));  // just above the last bin
  EXPECT_EQ(bin, 9);
  for (float outside : {2.4f, -0.3f, 1.0e30f, std::nanf("")}) {
    EXPECT_FALSE(nearest_bin(outside, grid, 10, bin, delta)) << outside;
  }
}

TEST(Envelope, FailuresAreReportedWithAZeroEnvelope) {
  ReconGrid grid;
  grid.df = 0.1f;
  grid.nknot = 2;
  grid.tknot = 1.0f;
  EnvelopeInputs inputs;
  inputs.nbins = 4;
  inputs.yr.assign(12, 1.0f);
  inputs.yi.assign(12, 0.5f);
  EnvelopeWork work;
  const auto fails = [&](int nwin, std::vector<float> v, float f, const char* words) {
    grid.nwin = nwin;
    inputs.v = std::move(v);
    const Status status = envel(f, 0, grid, inputs, work);
    EXPECT_FALSE(status);
    EXPECT_NE(status.message.find(words), std::string::npos) << status.message;
    EXPECT_EQ(work.zenv, std::vector<Complex>(2));
  };
  fails(3, std::vector<float>(6, 1.0f), 0.1f, "more tapers than envelope knots");
  fails(2, {1.0f, 2.0f, 0.0f, 0.0f}, 0.1f, "singular");  // a taper vanishing at every knot
  fails(1, {1.0f, -1.0f}, 0.0f, "constant level");       // tapers summing to zero
  fails(1, {1.0f, 1.0f}, 0.5f, "outside");               // beyond the stored bins
}

}  // namespace
}  // namespace quorvane::recon
