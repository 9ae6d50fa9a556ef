#include "recon/recon.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "recon/envelope.h"
#include "recon/recon_steps.h"
#include "tests/recon/recon_test_support.h"

namespace quorvane::recon {
namespace {

using testing::anomaly;
using testing::modulated;
using testing::noise;
using testing::relative_error;
using testing::sunspots;

TEST(Recon, ModulatedSinusoidOnAndOffABinIsRebuilt) {
  const int npts = 1000;  // two samples per knot
  const float dt = 0.5f;
  for (double f : {164.0 / (dt * 8192.0), 0.04, 0.6180339}) {
    const std::vector<float> y = modulated(npts, f, dt);
    const std::vector<float> x = anomaly(y);
    std::vector<float> rsig(npts);
    double best_single = 1.0;
    for (int iconstr : {1, 2, 3}) {
      ASSERT_TRUE(recon(y, 5, 3, dt, npts, 0.01f, float(f), iconstr, rsig));
      EXPECT_LT(relative_error(rsig, x, 0, npts), 0.1) << f << " " << iconstr;
      EXPECT_LT(relative_error(rsig, x, 50, npts - 50), 0.06) << f << " " << iconstr;
      best_single = std::min(best_single, relative_error(rsig, x, 0, npts));
    }
    // The least-misfit mixture fits at least as well as any single constraint.
    ASSERT_TRUE(recon(y, 5, 3, dt, npts, 0.01f, float(f), 0, rsig));
    EXPECT_LE(relative_error(rsig, x, 0, npts), best_single * (1 + 1e-5)) << f;
    EXPECT_LT(relative_error(rsig, x, 0, npts), 0.02) << f;
  }
}

TEST(Recon, LeastMisfitSearchesTheWeightGrid) {
  const std::vector<float> r1 = noise(777, 1), r2 = noise(777, 2), r3 = noise(777, 3);
  // 50 single-precision steps of 0.02 stop just short of 1 (0.99999958), so
  // a pass alone gets that weight and the rest goes to wc.
  MisfitWeights w = least_misfit(r1, r2, r3, r1);
  EXPECT_NEAR(w.wa, 1.0f, 1e-6);
  EXPECT_LT(w.wa, 1.0f);
  EXPECT_EQ(w.wb, 0.0f);
  EXPECT_NEAR(w.wc, 0.0f, 1e-6);
  w = least_misfit(r1, r2, r3, r2);
  EXPECT_EQ(w.wa, 0.0f);
  EXPECT_NEAR(w.wb, 1.0f, 1e-6);
  // Equal passes fit alike under every triple: the first one found stays.
  w = least_misfit(r1, r1, r1, r1);
  EXPECT_EQ(w.wc, 1.0f);

  // Many triples are accumulated side by side; each misfit must still be the
  // single-precision sum in sample order, so the choice equals the plain search.
  const std::vector<float> extra = noise(777, 4);
  std::vector<float> x(777);
  for (std::size_t i = 0; i < x.size(); ++i) {
    x[i] = 0.37f * r1[i] + 0.22f * r2[i] + 0.41f * r3[i] + 0.3f * extra[i];
  }
  MisfitWeights plain;
  float least = 1.0e36f, wa = 0.0f;
  for (int a = 0; a < 51; ++a, wa += 0.02f) {
    float wb = 0.0f;
    for (int b = 0; b < 51; ++b, wb += 0.02f) {
      const float wc = 1.0f - wa - wb;
      if (wc < 0.0f || wc > 1.0f) continue;
      float sum = 0.0f;
      for (std::size_t i = 0; i < x.size(); ++i) {
        const float d = wa * r1[i] + wb * r2[i] + wc * r3[i] - x[i];
        sum += d * d;
      }
      if (sum < least) least = sum, plain = {wa, wb, wc};
    }
  }
  w = least_misfit(r1, r2, r3, x);
  EXPECT_EQ(w.wa, plain.wa);
  EXPECT_EQ(w.wb, plain.wb);
  EXPECT_EQ(w.wc, plain.wc);
  EXPECT_NEAR(w.wa, 0.38f, 0.03f);
}

TEST(Recon, LeastMisfitKeepsTheLeastNormRebuildOfItsOwnSignal) {
  const int npts = 1000;
  const std::vector<float> y = modulated(npts, 0.04, 0.5);
  std::vector<float> least_norm(npts), rsig(npts);
  MisfitWeights chosen;
  // The modulated carrier itself is best fitted by a mixture...
  ASSERT_TRUE(recon(y, 5, 3, 0.5f, npts, 0.01f, 0.04f, 0, rsig, chosen));
  EXPECT_LT(chosen.wa, 0.9f);
  // ...but its least-norm rebuild, analysed again, picks least norm alone.
  ASSERT_TRUE(recon(y, 5, 3, 0.5f, npts, 0.01f, 0.04f, 1, least_norm));
  ASSERT_TRUE(recon(least_norm, 5, 3, 0.5f, npts, 0.01f, 0.04f, 0, rsig, chosen));
  EXPECT_NEAR(chosen.wa, 1.0f, 1e-6);
  EXPECT_EQ(chosen.wb, 0.0f);
  EXPECT_NEAR(chosen.wc, 0.0f, 1e-6);
}

TEST(Recon, TrendIsTheHalvedRealEnvelopeAtZeroFrequency) {
  const int npts = 300;  // every sample a knot
  std::vector<float> y(npts), ramp(npts);
  for (int i = 0; i < npts; ++i) {
    y[std::size_t(i)] = 0.01f * float(i) + float(std::sin(0.2 * std::numbers::pi * i));
    ramp[std::size_t(i)] = 0.01f * (float(i) - 149.5f);
  }
  // freq0 lies below the bandwidth, so the entry is the trend.
  std::vector<float> rsig(npts);
  ASSERT_TRUE(recon(y, 3, 3, 1.0f, npts, 0.01f, 0.002f, 1, rsig));
  ReconGrid grid = make_grid(npts, 3, 1.0f);
  std::vector<float> xdm;
  EnvelopeInputs inputs;
  transform_series(y, 3, 3, npts, grid, xdm, inputs);
  EnvelopeWork work;
  ASSERT_TRUE(envel(0.0f, 0, grid, inputs, work));
  for (std::size_t i = 0; i < std::size_t(npts); ++i) {
    ASSERT_EQ(rsig[i], 0.5f * static_cast<float>(work.zenv[i].real())) << i;
  }
  // A ramp has no curvature: least roughness rebuilds it nearly exactly.
  ASSERT_TRUE(recon(y, 3, 3, 1.0f, npts, 0.01f, 0.002f, 3, rsig));
  EXPECT_LT(relative_error(rsig, ramp, 0, npts), 0.01);
  // Above a smaller bandwidth the same frequency is a carrier, not the trend.
  std::vector<float> carrier(npts);
  ASSERT_TRUE(recon(y, 3, 3, 1.0f, npts, 0.001f, 0.002f, 3, carrier));
  EXPECT_GT(relative_error(carrier, rsig, 0, npts), 0.1);
}

TEST(Recon, KnotsAndTransformFollowTheSeriesLength) {
  struct Case { int npts, mstep, nknot, nfft; };
  for (Case c : {Case{500, 1, 500, 8192}, Case{501, 2, 251, 8192}, Case{1000, 2, 500, 8192},
                 Case{8192, 17, 482, 8192}, Case{8193, 17, 482, 16384}}) {
    const ReconGrid grid = make_grid(c.npts, 3, 2.0f);
    EXPECT_EQ(grid.mstep, c.mstep) << c.npts;
    EXPECT_EQ(grid.nknot, c.nknot) << c.npts;
    EXPECT_EQ(grid.nfft, c.nfft) << c.npts;
    EXPECT_EQ(grid.ihi, c.nfft + 2) << c.npts;  // 2·i1 + 2, i1 the Nyquist bin
    EXPECT_FLOAT_EQ(grid.tknot, 2.0f * float(c.mstep));
    EXPECT_FLOAT_EQ(grid.df, 1.0f / (2.0f * float(c.nfft)));
  }
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
    EXPECT_NE(rsig[100], -7.0f);
    for (std::size_t i = std::size_t(npts); i < rsig.size(); ++i) {
      ASSERT_EQ(rsig[i], iconstr == 0 ? -7.0f : 0.0f) << iconstr;
    }
  }
}

TEST(Recon, NyquistSignalIsRebuiltAtItsOwnAmplitude) {
  // Alternating values lie on the Nyquist bin, where (as at zero frequency)
  // both sidebands of the real signal share one coefficient.
  const int npts = 301;
  std::vector<float> y(npts);
  for (int i = 0; i < npts; ++i) y[std::size_t(i)] = (i % 2 == 0 ? 1.0f : -1.0f);
  for (int iconstr : {0, 1, 3}) {
    std::vector<float> rsig(npts);
    ASSERT_TRUE(recon(y, 3, 3, 1.0f, npts, 0.01f, 0.5f, iconstr, rsig));
    EXPECT_LT(relative_error(rsig, anomaly(y), 20, npts - 20), 0.01) << iconstr;
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
  refused(check_recon(3, 2, 1.0f, kMaxReconPoints + 1), "at most");
  for (float dt : {0.0f, -1.0f, std::nanf(""), std::numeric_limits<float>::infinity(), 1.0e-45f,
                   3.0e38f}) {
    refused(check_recon(3, 2, dt, 300), "time step");
  }
  refused(check_recon(0, 2, 1.0f, 300), "at least 1 taper");
  refused(check_recon(17, 2, 1.0f, 1000), "at most 16 tapers");
  refused(check_recon(5, 2, 1.0f, 4), "only 4 knots");
  refused(check_recon(3, 0, 1.0f, 300), "resolution p");

  // recon refuses the same, and a series shorter than npts, and a frequency
  // beyond the Nyquist bin, writing zeros where the signal would have gone.
  const std::vector<float> y = sunspots();
  std::vector<float> rsig(320, 5.0f);
  refused(recon(y, 0, 3, 1.0f, 309, 0.01f, 0.1f, 1, rsig), "taper");
  EXPECT_EQ(rsig, std::vector<float>(320, 0.0f));
  rsig.assign(320, 5.0f);
  refused(recon(y, 3, 3, 1.0f, 315, 0.01f, 0.1f, 0, rsig), "315 values");
  for (std::size_t i = 0; i < rsig.size(); ++i) EXPECT_EQ(rsig[i], i < 315 ? 0.0f : 5.0f);
  for (float f : {0.6f, 1.0e30f, -1.0f, std::nanf("")}) {
    rsig.assign(309, 5.0f);
    refused(recon(y, 3, 3, 1.0f, 309, -2.0f, f, 1, rsig), "outside the band");
    EXPECT_EQ(rsig, std::vector<float>(309, 0.0f));
  }
}

}  // namespace
}  // namespace quorvane::recon
