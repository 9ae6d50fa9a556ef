#include "recon/envelope.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "recon/recon_steps.h"

namespace quorvane::recon {
namespace {

std::vector<float> sunspots() {
  std::ifstream in(std::string(QUORVANE_SOURCE_DIR) + "/examples/sunspots.dat");
  std::string name;
  int first_year = 0;
  in >> name >> first_year;
  std::vector<float> values;
  for (float v; in >> v;) values.push_back(v);
  return values;
}

std::vector<float> noise(int n, unsigned seed) {
  std::mt19937 generator(seed);
  std::normal_distribution<float> normal(0.0f, 1.0f);
  std::vector<float> values(static_cast<std::size_t>(n));
  for (float& v : values) v = normal(generator);
  return values;
}

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
  const int nknot = run.grid.nknot;
  double worst = 0.0, scale = 0.0;
  for (int k = 0; k < run.grid.nwin; ++k) {
    Complex sum(0.0, 0.0);
    for (int l = 0; l < nknot; ++l) {
      sum += std::conj(fresh.amat[std::size_t(k * nknot + l)]) * zenv[std::size_t(l)];
    }
    worst = std::max(worst, std::abs(sum - fresh.bvec[std::size_t(k)]));
    scale = std::max(scale, std::abs(fresh.bvec[std::size_t(k)]));
  }
  return worst / scale;
}

TEST(Envelope, ReproducesTheEigencoefficientsUnderEveryConstraint) {
  // The conjugate of the system matrix applied to the envelope gives back the
  // coefficients exactly: the least-norm, least-slope and least-roughness
  // envelopes differ only in the part the coefficients cannot see.
  const Prepared yearly = prepare(sunspots(), 5, 3, 1.0f);  // 309 knots, one per year
  const Prepared thinned = prepare(noise(1000, 7), 8, 4, 0.5f);  // 500 knots, every second sample
  ASSERT_EQ(thinned.grid.mstep, 2);
  for (const Prepared* run : {&yearly, &thinned}) {
    for (float f : {0.0f, 0.0908f, 0.3333f, 37.0f * run->grid.df}) {
      for (int icode : {0, 1, 2}) {
        EnvelopeWork work;
        ASSERT_TRUE(envel(f, icode, run->grid, run->inputs, work)) << f << " " << icode;
        EXPECT_LT(coefficient_misfit(*run, f, work.zenv), 1e-9) << "f " << f << " icode " << icode;
      }
    }
  }
}

TEST(Envelope, LeastNormDeviationFromTheLevelSumsToZero) {
  const Prepared run = prepare(sunspots(), 4, 3, 1.0f);
  EnvelopeWork work;
  ASSERT_TRUE(envel(0.0908f, 0, run.grid, run.inputs, work));
  Complex deviation(0.0, 0.0);
  double size = 0.0;
  for (const Complex& z : work.zenv) {
    deviation += z - work.cmean;
    size += std::abs(z);
  }
  EXPECT_LT(std::abs(deviation), 1e-10 * size);
  EXPECT_GT(std::abs(work.cmean), 0.0);
}

TEST(Envelope, NegativeIcodeActsAsLeastNorm) {
  const Prepared run = prepare(sunspots(), 3, 2, 1.0f);
  EnvelopeWork norm, negative;
  ASSERT_TRUE(envel(0.1f, 0, run.grid, run.inputs, norm));
  ASSERT_TRUE(envel(0.1f, -2, run.grid, run.inputs, negative));
  EXPECT_EQ(norm.zenv, negative.zenv);
}

TEST(Envelope, ConstraintsOnNoisyDataGiveSmootherEnvelopes) {
  const Prepared run = prepare(noise(400, 11), 6, 4, 1.0f);
  const auto differences = [](const std::vector<Complex>& z, int order) {
    std::vector<Complex> d = z;
    for (int pass = 0; pass < order; ++pass) {
      for (std::size_t l = 0; l + 1 < d.size(); ++l) d[l] = d[l + 1] - d[l];
      d.pop_back();
    }
    double sum = 0.0;
    for (const Complex& v : d) sum += std::norm(v);
    return sum;
  };
  EnvelopeWork norm, slope, rough;
  const float f = 0.137f;
  ASSERT_TRUE(envel(f, 0, run.grid, run.inputs, norm));
  ASSERT_TRUE(envel(f, 1, run.grid, run.inputs, slope));
  ASSERT_TRUE(envel(f, 2, run.grid, run.inputs, rough));
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
  ASSERT_TRUE(nearest_bin(0.5f, grid, 10, bin, delta));
  EXPECT_EQ(bin, 2);
  EXPECT_EQ(delta, 0.0f);
  ASSERT_TRUE(nearest_bin(0.625f, grid, 10, bin, delta));  // half-way between bins 2 and 3
  EXPECT_EQ(bin, 2);
  EXPECT_EQ(delta, -0.125f);
  ASSERT_TRUE(nearest_bin(0.6875f, grid, 10, bin, delta));
  EXPECT_EQ(bin, 3);
  EXPECT_EQ(delta, 0.0625f);
  ASSERT_TRUE(nearest_bin(2.3f, grid, 10, bin, delta));  // just above the last bin
  EXPECT_EQ(bin, 9);
  EXPECT_FALSE(nearest_bin(2.4f, grid, 10, bin, delta));
  EXPECT_FALSE(nearest_bin(-0.3f, grid, 10, bin, delta));
  EXPECT_FALSE(nearest_bin(1.0e30f, grid, 10, bin, delta));
  EXPECT_FALSE(nearest_bin(std::nanf(""), grid, 10, bin, delta));
}

TEST(Envelope, OnBinTheSystemIsReal) {
  const Prepared run = prepare(sunspots(), 4, 3, 1.0f);
  EnvelopeWork work;
  ASSERT_TRUE(fillup(12.0f * run.grid.df, run.grid, run.inputs, work));
  for (const Complex& a : work.amat) EXPECT_EQ(a.imag(), 0.0);
  for (double s : work.stab) EXPECT_EQ(s, 0.0);
  // bvec is twice the coefficient, spread over the samples of a knot.
  EXPECT_DOUBLE_EQ(work.bvec[1].real(), 2.0 * run.inputs.yr[std::size_t(run.inputs.nbins + 12)]);
}

TEST(Envelope, FailuresAreReportedWithAZeroEnvelope) {
  // Three tapers on two knots.
  ReconGrid grid;
  grid.df = 0.1f;
  grid.nknot = 2;
  grid.mstep = 1;
  grid.tknot = 1.0f;
  grid.nwin = 3;
  EnvelopeInputs inputs;
  inputs.nbins = 4;
  inputs.yr.assign(12, 1.0f);
  inputs.yi.assign(12, 0.5f);
  inputs.v.assign(6, 1.0f);
  EnvelopeWork work;
  Status status = envel(0.1f, 0, grid, inputs, work);
  EXPECT_FALSE(status);
  EXPECT_NE(status.message.find("more tapers than envelope knots"), std::string::npos);
  EXPECT_EQ(work.zenv, std::vector<Complex>(2));

  // A taper that vanishes at every knot makes the factor singular.
  grid.nwin = 2;
  inputs.v = {1.0f, 2.0f, 0.0f, 0.0f};
  status = envel(0.1f, 0, grid, inputs, work);
  EXPECT_FALSE(status);
  EXPECT_NE(status.message.find("singular"), std::string::npos);
  EXPECT_EQ(work.zenv, std::vector<Complex>(2));

  // Tapers summing to zero at the knots leave the constant level undetermined.
  grid.nwin = 1;
  inputs.v = {1.0f, -1.0f};
  status = envel(0.0f, 0, grid, inputs, work);
  EXPECT_FALSE(status);
  EXPECT_NE(status.message.find("constant level"), std::string::npos);
  EXPECT_EQ(work.zenv, std::vector<Complex>(2));

  // A frequency beyond the stored bins.
  inputs.v = {1.0f, 1.0f};
  status = envel(0.5f, 0, grid, inputs, work);
  EXPECT_FALSE(status);
  EXPECT_NE(status.message.find("outside"), std::string::npos);
}

TEST(Envelope, TriangularSolvesInvertTheFactor) {
  // R upper triangular, 3 x 3 stored with leading dimension 4.
  const Complex r[12] = {{2, 1}, {9, 9}, {9, 9}, {9, 9},   {1, -1}, {3, 0}, {9, 9}, {9, 9},
                         {0, 2}, {1, 1}, {-1, 0.5}, {9, 9}};
  const auto at = [&](int i, int j) { return r[j * 4 + i]; };
  const std::vector<Complex> rhs = {{1, 2}, {-3, 0.5}, {0.25, -1}};
  std::vector<Complex> u(3);
  // job 1: R^H·u = rhs.
  zbacktr(3, 4, r, rhs.data(), u.data(), 1);
  for (int j = 0; j < 3; ++j) {
    Complex sum(0, 0);
    for (int i = 0; i <= j; ++i) sum += std::conj(at(i, j)) * u[std::size_t(i)];
    EXPECT_NEAR(std::abs(sum - rhs[std::size_t(j)]), 0.0, 1e-14);
  }
  // job 2: R^H·R·u = rhs, solved in place.
  std::vector<Complex> w = rhs;
  zbacktr(3, 4, r, w.data(), w.data(), 2);
  std::vector<Complex> ru(3);
  for (int i = 0; i < 3; ++i) {
    for (int j = i; j < 3; ++j) ru[std::size_t(i)] += at(i, j) * w[std::size_t(j)];
  }
  for (int j = 0; j < 3; ++j) {
    Complex sum(0, 0);
    for (int i = 0; i <= j; ++i) sum += std::conj(at(i, j)) * ru[std::size_t(i)];
    EXPECT_NEAR(std::abs(sum - rhs[std::size_t(j)]), 0.0, 1e-14);
  }
}

TEST(Envelope, PostmultUndoesTheFirstValueWeightAndSums) {
  std::vector<Complex> z = {{1e-4, 0}, {1, 1}, {2, 0}};
  const std::vector<double> dwt(3, 1.0);
  postmult(1, z, Complex(10, -1), dwt);
  // 1e-4 / 1.0E-4 is not exactly 1: the weight is the single-precision 1.0E-4.
  const double first = 1e-4 / static_cast<double>(1.0e-4f);
  EXPECT_DOUBLE_EQ(z[0].real(), first + 10);
  EXPECT_DOUBLE_EQ(z[2].real(), first + 3 + 10);
  EXPECT_DOUBLE_EQ(z[2].imag(), 1 - 1);
}

TEST(Envelope, CossinFollowsTheCarrier) {
  std::vector<double> c(2000), s(2000);
  cossin(c, s, 1.0, 0.0, 0.123, 0.5);
  for (std::size_t i = 0; i < c.size(); i += 111) {
    const double phase = 2.0 * std::numbers::pi * 0.123 * 0.5 * static_cast<double>(i);
    EXPECT_NEAR(c[i], std::cos(phase), 1e-12);
    EXPECT_NEAR(s[i], std::sin(phase), 1e-12);
  }
  cossin(c, s, 1.0, 0.0, 0.0, 1.0);
  for (std::size_t i = 0; i < c.size(); ++i) {
    ASSERT_EQ(c[i], 1.0);
    ASSERT_EQ(s[i], 0.0);
  }
}

TEST(Envelope, ScaledDivisionStaysInRange) {
  const Complex q = scaled_divide({1, 2}, {3, 4});
  EXPECT_DOUBLE_EQ(q.real(), 11.0 / 25.0);
  EXPECT_DOUBLE_EQ(q.imag(), 2.0 / 25.0);
  const Complex big = scaled_divide({1e300, 1e300}, {1e300, -1e300});
  EXPECT_DOUBLE_EQ(big.real(), 0.0);
  EXPECT_DOUBLE_EQ(big.imag(), 1.0);
}

}  // namespace
}  // namespace quorvane::recon
