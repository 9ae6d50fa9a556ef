#include "recon/recon.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "recon/envelope.h"
#include "recon/recon_steps.h"

namespace quorvane::recon {
namespace {

constexpr double kPi = std::numbers::pi;

std::vector<float> sunspots() {
  std::ifstream in(std::string(QUORVANE_SOURCE_DIR) + "/examples/sunspots.dat");
  std::string name;
  int first_year = 0;
  in >> name >> first_year;
  std::vector<float> values;
  for (float v; in >> v;) values.push_back(v);
  return values;
}

// A carrier at frequency f whose amplitude swells and fades once over the
// record: 1 + 0.5·sin(2·pi·t/T).
std::vector<float> modulated(int n, double f, double dt) {
  std::vector<float> y(static_cast<std::size_t>(n));
  const double span = n * dt;
  for (int i = 0; i < n; ++i) {
    const double t = i * dt;
    y[std::size_t(i)] = static_cast<float>((1.0 + 0.5 * std::sin(2 * kPi * t / span)) *
                                           std::cos(2 * kPi * f * t + 0.3));
  }
  return y;
}

std::vector<float> anomaly(const std::vector<float>& y) {
  double mean = 0.0;
  for (float v : y) mean += v;
  mean /= static_cast<double>(y.size());
  std::vector<float> x(y.size());
  for (std::size_t i = 0; i < y.size(); ++i) x[i] = static_cast<float>(y[i] - mean);
  return x;
}

// Root-mean-square of a - b over samples from..to-1, relative to that of b.
double relative_error(const std::vector<float>& a, const std::vector<float>& b, int from, int to) {
  double diff = 0.0, size = 0.0;
  for (int i = from; i < to; ++i) {
    diff += std::pow(double(a[std::size_t(i)]) - b[std::size_t(i)], 2);
    size += std::pow(double(b[std::size_t(i)]), 2);
  }
  return std::sqrt(diff / size);
}

TEST(Recon, ModulatedSinusoidOnAndOffABinIsRebuilt) {
  const int npts = 1000;  // two samples per knot
  const float dt = 0.5f;
  const double df = 1.0 / (dt * 8192.0);
  for (double f : {164.0 * df, 0.04, 0.6180339}) {
    const std::vector<float> x = anomaly(modulated(npts, f, dt));
    double best_single = 1.0;
    for (int iconstr : {1, 2, 3}) {
      std::vector<float> rsig(npts);
      ASSERT_TRUE(recon(modulated(npts, f, dt), 5, 3, dt, npts, 0.01f, float(f), iconstr, rsig));
      const double error = relative_error(rsig, x, 0, npts);
      EXPECT_LT(error, 0.1) << "f " << f << " iconstr " << iconstr;
      EXPECT_LT(relative_error(rsig, x, 50, npts - 50), 0.06) << "f " << f << " iconstr " << iconstr;
      best_single = std::min(best_single, error);
    }
    // The least-misfit mixture fits at least as well as any single constraint.
    std::vector<float> rsig(npts);
    ASSERT_TRUE(recon(modulated(npts, f, dt), 5, 3, dt, npts, 0.01f, float(f), 0, rsig));
    EXPECT_LE(relative_error(rsig, x, 0, npts), best_single * (1 + 1e-5)) << "f " << f;
    EXPECT_LT(relative_error(rsig, x, 0, npts), 0.02) << "f " << f;
  }
}

TEST(Recon, LeastMisfitSearchesTheWeightGrid) {
  std::vector<float> r1(200), r2(200), r3(200);
  for (std::size_t i = 0; i < 200; ++i) {
    r1[i] = std::sin(0.1f * float(i));
    r2[i] = std::cos(0.07f * float(i));
    r3[i] = 0.01f * float(i) - 1.0f;
  }
  // 50 single-precision steps of 0.02 stop just short of 1, so the best
  // weight for one pass alone is 0.99999958 and the rest goes to wc.
  MisfitWeights w = least_misfit(r1, r2, r3, r1);
  EXPECT_NEAR(w.wa, 1.0f, 1e-6);
  EXPECT_LT(w.wa, 1.0f);
  EXPECT_EQ(w.wb, 0.0f);
  EXPECT_NEAR(w.wc, 0.0f, 1e-6);
  w = least_misfit(r1, r2, r3, r2);
  EXPECT_EQ(w.wa, 0.0f);
  EXPECT_NEAR(w.wb, 1.0f, 1e-6);
  std::vector<float> mix(200);
  for (std::size_t i = 0; i < 200; ++i) mix[i] = 0.3f * r1[i] + 0.7f * r3[i];
  w = least_misfit(r1, r2, r3, mix);
  EXPECT_NEAR(w.wa, 0.3f, 1e-5);
  EXPECT_EQ(w.wb, 0.0f);
  EXPECT_NEAR(w.wc, 0.7f, 1e-5);
  // Equal passes: every triple fits alike and the first one found stays.
  w = least_misfit(r1, r1, r1, r1);
  EXPECT_EQ(w.wa, 0.0f);
  EXPECT_EQ(w.wb, 0.0f);
  EXPECT_EQ(w.wc, 1.0f);
}

TEST(Recon, LeastMisfitMatchesOneSumPerTriple) {
  // The search accumulates many triples at once; every misfit must still be
  // the single-precision sum over the samples in order, so the choice is
  // exactly that of the plain search.
  std::mt19937 generator(5);
  std::normal_distribution<float> normal(0.0f, 1.0f);
  std::vector<float> r1(777), r2(777), r3(777), x(777);
  for (std::size_t i = 0; i < x.size(); ++i) {
    r1[i] = normal(generator);
    r2[i] = normal(generator);
    r3[i] = normal(generator);
    x[i] = 0.37f * r1[i] + 0.22f * r2[i] + 0.41f * r3[i] + 0.3f * normal(generator);
  }
  MisfitWeights plain;
  float least = 1.0e36f;
  float wa = 0.0f;
  for (int a = 0; a < 51; ++a) {
    float wb = 0.0f;
    for (int b = 0; b < 51; ++b) {
      const float wc = 1.0f - wa - wb;
      if (wc >= 0.0f && wc <= 1.0f) {
        float sum = 0.0f;
        for (std::size_t i = 0; i < x.size(); ++i) {
          const float d = wa * r1[i] + wb * r2[i] + wc * r3[i] - x[i];
          sum += d * d;
        }
        if (sum < least) {
          least = sum;
          plain = {wa, wb, wc};
        }
      }
      wb += 0.02f;
    }
    wa += 0.02f;
  }
  const MisfitWeights fast = least_misfit(r1, r2, r3, x);
  EXPECT_EQ(fast.wa, plain.wa);
  EXPECT_EQ(fast.wb, plain.wb);
  EXPECT_EQ(fast.wc, plain.wc);
  EXPECT_NEAR(fast.wa, 0.38f, 0.03f);
}

TEST(Recon, LeastMisfitKeepsTheLeastNormRebuildOfItsOwnSignal) {
  const int npts = 1000;
  const std::vector<float> y = modulated(npts, 0.04, 0.5);
  std::vector<float> mixed(npts), least_norm(npts), again(npts);
  MisfitWeights chosen;
  // The modulated carrier itself is best fitted by a mixture...
  ASSERT_TRUE(recon(y, 5, 3, 0.5f, npts, 0.01f, 0.04f, 0, mixed, chosen));
  EXPECT_LT(chosen.wa, 0.9f);
  // ...but its least-norm rebuild, analysed again, picks least norm alone.
  ASSERT_TRUE(recon(y, 5, 3, 0.5f, npts, 0.01f, 0.04f, 1, least_norm));
  ASSERT_TRUE(recon(least_norm, 5, 3, 0.5f, npts, 0.01f, 0.04f, 0, again, chosen));
  EXPECT_NEAR(chosen.wa, 1.0f, 1e-6);
  EXPECT_EQ(chosen.wb, 0.0f);
  EXPECT_NEAR(chosen.wc, 0.0f, 1e-6);
}

TEST(Recon, TrendIsTheHalvedRealEnvelopeAtZeroFrequency) {
  const int npts = 300;  // every sample a knot
  std::vector<float> y(npts);
  std::vector<float> ramp(npts);
  for (int i = 0; i < npts; ++i) {
    y[std::size_t(i)] = 0.01f * float(i) + float(std::sin(2 * kPi * 0.1 * i));
    ramp[std::size_t(i)] = 0.01f * (float(i) - 149.5f);
  }
  // freq0 lies below the bandwidth, so the entry is the trend.
  const float bndwdth = 0.01f, freq0 = 0.002f;
  std::vector<float> rsig(npts);
  ASSERT_TRUE(recon(y, 3, 3, 1.0f, npts, bndwdth, freq0, 1, rsig));

  ReconGrid grid = make_grid(npts, 3, 1.0f);
  std::vector<float> xdm;
  EnvelopeInputs inputs;
  transform_series(y, 3, 3, npts, grid, xdm, inputs);
  EnvelopeWork work;
  ASSERT_TRUE(envel(0.0f, 0, grid, inputs, work));
  for (int i = 0; i < npts; ++i) {
    ASSERT_EQ(rsig[std::size_t(i)], 0.5f * static_cast<float>(work.zenv[std::size_t(i)].real()))
        << i;
  }

  // A ramp has no curvature: least roughness rebuilds it nearly exactly.
  ASSERT_TRUE(recon(y, 3, 3, 1.0f, npts, bndwdth, freq0, 3, rsig));
  EXPECT_LT(relative_error(rsig, ramp, 0, npts), 0.01);
  // Just above the bandwidth the same frequency is a carrier, not the trend.
  std::vector<float> carrier(npts);
  ASSERT_TRUE(recon(y, 3, 3, 1.0f, npts, 0.001f, freq0, 3, carrier));
  EXPECT_GT(relative_error(carrier, rsig, 0, npts), 0.1);
}

TEST(Recon, KnotsAndTransformFollowTheSeriesLength) {
  ReconGrid grid = make_grid(500, 3, 1.0f);
  EXPECT_EQ(grid.mstep, 1);
  EXPECT_EQ(grid.nknot, 500);
  EXPECT_EQ(grid.nfft, 8192);
  EXPECT_EQ(grid.ihi, 2 * 4096 + 2);
  grid = make_grid(501, 3, 1.0f);
  EXPECT_EQ(grid.mstep, 2);
  EXPECT_EQ(grid.nknot, 251);
  grid = make_grid(1000, 3, 2.0f);
  EXPECT_EQ(grid.mstep, 2);
  EXPECT_EQ(grid.nknot, 500);
  EXPECT_FLOAT_EQ(grid.tknot, 4.0f);
  EXPECT_FLOAT_EQ(grid.df, 1.0f / (2.0f * 8192.0f));
  grid = make_grid(8192, 3, 1.0f);
  EXPECT_EQ(grid.nfft, 8192);
  EXPECT_EQ(grid.mstep, 17);
  EXPECT_EQ(grid.nknot, 482);
  grid = make_grid(8193, 3, 1.0f);
  EXPECT_EQ(grid.nfft, 16384);
  EXPECT_EQ(grid.ihi, 2 * 8192 + 2);
  EXPECT_EQ(grid.nknot, 482);
}

TEST(Recon, SeriesLongerThanTheBaseGridIsRebuilt) {
  // 10000 values: a 16384-point transform and 455 knots of 22 samples, the
  // last interval running past the end of the series.
  const int npts = 10000;
  const std::vector<float> y = modulated(npts, 0.0123, 1.0);
  std::vector<float> rsig(npts);
  ASSERT_TRUE(recon(y, 5, 3, 1.0f, npts, 0.001f, 0.0123f, 1, rsig));
  EXPECT_LT(relative_error(rsig, anomaly(y), 500, npts - 500), 0.05);
}

TEST(Recon, TailBeyondTheSeriesDependsOnTheConstraint) {
  const std::vector<float> y = sunspots();
  const int npts = static_cast<int>(y.size());
  for (int iconstr : {0, 1, 2, 3}) {
    std::vector<float> rsig(400, -7.0f);
    ASSERT_TRUE(recon(y, 4, 3, 1.0f, npts, 0.01f, 0.0908f, iconstr, rsig));
    for (int i = npts; i < 400; ++i) {
      ASSERT_EQ(rsig[std::size_t(i)], iconstr == 0 ? -7.0f : 0.0f) << iconstr;
    }
    EXPECT_NE(rsig[100], -7.0f);
  }
}

TEST(Recon, NyquistFrequencyReadsItsOwnBin) {
  // Alternating values lie exactly on the Nyquist bin.
  const int npts = 301;
  std::vector<float> y(npts);
  for (int i = 0; i < npts; ++i) y[std::size_t(i)] = (i % 2 == 0 ? 1.0f : -1.0f);
  std::vector<float> rsig(npts);
  ASSERT_TRUE(recon(y, 3, 3, 1.0f, npts, 0.01f, 0.5f, 1, rsig));
  for (int i = 20; i < npts - 20; ++i) {
    ASSERT_GT(rsig[std::size_t(i)] * y[std::size_t(i)], 0.5f) << i;
  }
}

TEST(Recon, BadArgumentsAreRefusedBeforeAnyWork) {
  EXPECT_TRUE(check_recon(5, 3, 1.0f, 309));
  EXPECT_TRUE(check_recon(16, 3, 1.0f, 1000));
  EXPECT_TRUE(check_recon(2, 1, 1.0f, 2));
  const auto refused = [](Status s, const char* words) {
    EXPECT_FALSE(s);
    EXPECT_NE(s.message.find(words), std::string::npos) << s.message;
  };
  refused(check_recon(3, 2, 1.0f, 1), "at least 2 values");
  refused(check_recon(3, 2, 0.0f, 300), "time step");
  refused(check_recon(3, 2, -1.0f, 300), "time step");
  refused(check_recon(3, 2, std::nanf(""), 300), "time step");
  refused(check_recon(3, 2, 1.0e-45f, 300), "time step");
  refused(check_recon(0, 2, 1.0f, 300), "at least 1 taper");
  refused(check_recon(17, 2, 1.0f, 1000), "at most 16 tapers");
  refused(check_recon(5, 2, 1.0f, 4), "only 4 knots");
  refused(check_recon(3, 0, 1.0f, 300), "resolution p");
  refused(check_recon(3, 2, 1.0f, kMaxReconPoints + 1), "at most");

  // recon refuses the same, writing zeros where the signal would have gone.
  const std::vector<float> y = sunspots();
  std::vector<float> rsig(320, 5.0f);
  EXPECT_FALSE(recon(y, 0, 3, 1.0f, 309, 0.01f, 0.1f, 1, rsig));
  EXPECT_EQ(rsig, std::vector<float>(320, 0.0f));
  rsig.assign(320, 5.0f);
  EXPECT_FALSE(recon(y, 3, 3, 1.0f, 400, 0.01f, 0.1f, 0, rsig));  // y holds only 309
  EXPECT_EQ(rsig[0], 0.0f);
  EXPECT_EQ(rsig[310], 0.0f);
}

TEST(Recon, FrequencyOutsideTheBandIsRefused) {
  const std::vector<float> y = sunspots();
  const int npts = static_cast<int>(y.size());
  std::vector<float> rsig(npts, 5.0f);
  for (float f : {0.6f, 1.0e30f, -1.0f, std::nanf("")}) {
    const Status status = recon(y, 3, 3, 1.0f, npts, -2.0f, f, 1, rsig);
    EXPECT_FALSE(status) << f;
    EXPECT_NE(status.message.find("outside the band"), std::string::npos);
    EXPECT_EQ(rsig, std::vector<float>(std::size_t(npts), 0.0f));
  }
}

}  // namespace
}  // namespace quorvane::recon
