// Records far longer than the short series the other tests use: a million
// values, the memory such runs need, and a session that keeps the tapers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "common/memory.h"
#include "spectral/estimators/even.h"
#include "spectral/stages/peaks.h"

namespace quorvane::spectral {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kLong = 1 << 20;

SpecSettings long_settings(int npts) {
  SpecSettings s;
  s.npts = npts;
  s.fsmooth = 0.1f;
  return s;
}

// AR(1) noise of unit innovations plus sinusoids of the given frequencies
// and amplitude.
std::vector<float> ar1_with_lines(int n, double coefficient, std::vector<double> lines,
                                  double amplitude, unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> normal;
  std::vector<float> y(static_cast<std::size_t>(n));
  double previous = 0.0;
  for (int t = 0; t < n; ++t) {
    previous = coefficient * previous + normal(gen);
    double value = previous;
    for (double f : lines) value += amplitude * std::sin(2.0 * kPi * f * t);
    y[static_cast<std::size_t>(t)] = static_cast<float>(value);
  }
  return y;
}

bool lists(const PeakList& peaks, double f, double tolerance) {
  return std::any_of(peaks.sigfreq.begin(), peaks.sigfreq.end(),
                     [&](float g) { return std::fabs(g - f) <= tolerance; });
}

// One session for both long runs: they share a length, a number of tapers
// and a resolution, so the second reuses the first one's tapers.
TEST(LongRecord, AMillionValuesFindTheirLinesAndKeepTheWhiteNoiseLevel) {
  SpecSession session;
  const SpecSettings s = long_settings(kLong);
  // Red noise with three lines, the middle one on the transform grid: on a
  // band of half a million entries the weaker candidates at low frequencies
  // outnumber any fixed list, yet the three lines are the strongest.
  const std::vector<double> lines = {0.0371, 131072.0 / kLong, 0.31};
  SpecResults r;
  ASSERT_TRUE(spec(ar1_with_lines(kLong, 0.7, lines, 0.05, 1), s, session, r));
  EXPECT_EQ(r.nf, kLong / 2 + 1);
  const PeakList peaks = findpeaks(s.signal, r);
  for (double f : lines) EXPECT_TRUE(lists(peaks, f, 2.0 * s.p / kLong)) << f;
  EXPECT_TRUE(session.holds_tapers_for(s));

  // White noise of unit variance without normalisation: the spectrum's
  // band mean is N sigma^2.
  SpecResults white;
  ASSERT_TRUE(spec(ar1_with_lines(kLong, 0.0, {}, 0.0, 2), s, session, white));
  double total = 0.0;
  for (int i = 0; i < white.nf - 1; ++i) total += white.specraw0[static_cast<std::size_t>(i)];
  const double sigma2 = 1.0;
  EXPECT_NEAR(total / (white.nf - 1) / (kLong * sigma2), 1.0, 0.01);
}

TEST(LongRecord, ASessionGivesTheResultsOfAFreshRunAndKeepsOnlyFittingTapers) {
  const std::vector<float> y = ar1_with_lines(3000, 0.6, {0.1}, 1.0, 4);
  SpecSession session;
  SpecSettings s = long_settings(3000);
  for (int p : {2, 3, 2}) {  // the change of p makes the session compute new tapers
    s.p = p;
    s.nwin = 2 * p - 1;
    SpecResults fresh, kept;
    ASSERT_TRUE(spec(y, s, fresh));
    ASSERT_TRUE(spec(y, s, session, kept));
    EXPECT_EQ(kept.specraw0, fresh.specraw0) << p;
    EXPECT_EQ(kept.specback0, fresh.specback0) << p;
    EXPECT_EQ(kept.ftest, fresh.ftest) << p;
    EXPECT_TRUE(session.holds_tapers_for(s));
  }
  s.exact_concentrations = true;
  EXPECT_FALSE(session.holds_tapers_for(s));
  // Tapers computed once for many runs give what a plain run gives, and
  // tapers of another length, count or concentration choice are refused.
  RunTapers tapers;
  ASSERT_TRUE(spec_tapers(s, tapers).ok);
  SpecResults plain, shared;
  ASSERT_TRUE(spec(y, s, plain).ok);
  ASSERT_TRUE(spec(y, s, tapers, shared).ok);
  EXPECT_EQ(shared.specraw0, plain.specraw0);
  EXPECT_EQ(shared.ftest, plain.ftest);
  for (auto change : {+[](SpecSettings& t) { t.npts = 3001; }, +[](SpecSettings& t) { t.nwin = 4; },
                      +[](SpecSettings& t) { t.exact_concentrations = false; }}) {
    SpecSettings other = s;
    change(other);
    shared.nf = 3;
    EXPECT_FALSE(spec(std::vector<float>(3001, 1.0f), other, tapers, shared).ok);
    EXPECT_EQ(shared.nf, 3);
  }
}

TEST(LongRecord, MemoryGrowsWithTheRecordAndTooMuchIsRefusedSayingHowMuch) {
  const std::uint64_t short_run = spec_memory(long_settings(1 << 16));
  const std::uint64_t long_run = spec_memory(long_settings(1 << 20));
  EXPECT_NEAR(static_cast<double>(long_run) / static_cast<double>(short_run), 16.0, 0.5);
  SpecSettings s = long_settings(1 << 20);
  EXPECT_LT(spec_memory(s, true), long_run);  // tapers given
  s.nwin = 7;
  s.p = 4;
  EXPECT_LT(spec_memory(s), std::uint64_t{200} << 20);  // within what a million values may take

  const Status refused = check_memory(3'400'000'000, "A spectrum of 10000000 values", 2'000'000'000);
  EXPECT_EQ(refused.code, StatusCode::out_of_memory);
  EXPECT_EQ(refused.message,
            "A spectrum of 10000000 values needs about 3.4 GB of memory, more than available:"
            " this machine has 2 GB available and keeps an eighth of it free.");
  EXPECT_TRUE(check_memory(1'000'000, "A spectrum", 2'000'000'000));
  EXPECT_TRUE(check_memory(1'000'000, "A spectrum", std::nullopt));  // the system does not say
  // Against the system's own figure: a small need goes ahead unasked, an
  // exabyte is still refused.
  EXPECT_TRUE(check_memory(1'000'000, "A spectrum"));
  EXPECT_EQ(check_memory(std::uint64_t{1} << 60, "A spectrum").code, StatusCode::out_of_memory);
}

}  // namespace
}  // namespace quorvane::spectral
