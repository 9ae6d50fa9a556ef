// The cancellation callback of the engine: asked during every estimator's
// work, it stops a run that is under way with the interrupted refusal; a
// callback that never asks to stop leaves every result as a run without one
// gives it.
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "spectral/analyses/coherence.h"
#include "spectral/estimators/even.h"
#include "spectral/estimators/gaps.h"
#include "spectral/estimators/uneven.h"

namespace quorvane::spectral {
namespace {

constexpr int kValues = 4096;

std::vector<float> noise(unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<float> normal;
  std::vector<float> y(kValues);
  for (float& v : y) v = normal(gen);
  return y;
}

// One estimator's run with the given callback and surrogates.
using Run = std::function<Status(const std::function<bool()>&, int surrogates, SpecResults&)>;

struct Estimator {
  std::string name;
  Run run;
};

std::vector<Estimator> estimators() {
  static const std::vector<float> y = noise(3), other = noise(4);
  static const std::vector<std::int64_t> index = [] {
    std::vector<std::int64_t> positions;
    for (std::int64_t i = 0; i < kValues + kValues / 16; ++i)
      if (i % 37 != 5) positions.push_back(i);
    positions.resize(kValues);
    return positions;
  }();
  static const std::vector<double> time = [] {
    std::vector<double> t(kValues);
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> jitter(0.5, 1.5);
    for (std::size_t j = 1; j < t.size(); ++j) t[j] = t[j - 1] + jitter(gen);
    return t;
  }();
  const auto settings = [](int npts, const std::function<bool()>& cancelled, int surrogates) {
    SpecSettings s;
    s.npts = npts;
    s.fsmooth = 0.1f;
    s.surrogates = surrogates;
    s.seed = 2;
    s.cancelled = cancelled;
    return s;
  };
  return {
      {"even",
       [=](const std::function<bool()>& c, int m, SpecResults& out) {
         return spec(y, settings(kValues, c, m), out);
       }},
      {"gaps",
       [=](const std::function<bool()>& c, int m, SpecResults& out) {
         return spec_gaps(index, y, settings(static_cast<int>(index.back() + 1), c, m), out);
       }},
      {"uneven",
       [=](const std::function<bool()>& c, int m, SpecResults& out) {
         return spec_uneven(time, y, settings(kValues, c, m), out);
       }},
      {"coherence",
       [=](const std::function<bool()>& c, int m, SpecResults& out) {
         CoherenceSettings s;
         s.surrogates = m;
         s.adaptive = m > 0;
         s.cancelled = c;
         CoherenceResult r;
         Status status = coherence(y, other, s, r);
         if (status) out.specraw0 = r.coherence;  // compared below as a spectrum
         return status;
       }},
  };
}

TEST(Cancellation, EveryEstimatorStopsWhenAskedAtAnyOfItsChecksAndLeavesTheResults) {
  for (const Estimator& e : estimators()) {
    SCOPED_TRACE(e.name);
    for (int surrogates : {0, 20}) {
      SpecResults plain, watched;
      const Status run = e.run({}, surrogates, plain);
      ASSERT_TRUE(run) << run.message;
      int asked = 0;
      ASSERT_TRUE(e.run([&] { return ++asked < 0; }, surrogates, watched));
      EXPECT_EQ(watched.specraw0, plain.specraw0);
      EXPECT_EQ(watched.specback0, plain.specback0);
      EXPECT_GE(asked, surrogates > 0 ? 20 : 3);  // between stages, tapers and surrogates

      // Stopped at the first check, half-way and at the last: refused as
      // interrupted, and a later run is whole again.
      for (int stop_at : {1, asked / 2, asked}) {
        int count = 0;
        SpecResults again = plain;
        const Status stopped = e.run([&] { return ++count >= stop_at; }, surrogates, again);
        EXPECT_FALSE(stopped) << "stopped at check " << stop_at << " of " << asked;
        EXPECT_EQ(stopped.message, "The run was interrupted.");
        EXPECT_EQ(stopped.code, StatusCode::interrupted);
        ASSERT_TRUE(e.run({}, surrogates, again));
        EXPECT_EQ(again.specraw0, plain.specraw0);
        EXPECT_EQ(again.specback0, plain.specback0);
      }
    }
  }
}

}  // namespace
}  // namespace quorvane::spectral
