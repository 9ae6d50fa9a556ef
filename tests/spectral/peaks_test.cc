#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "spectral/spectrum.h"

namespace quorvane::spectral {
namespace {

// A band of m entries with a flat background of 1, so that the raw spectrum
// is the test ratio itself; 99/95/90 % ratios of 2.8, 2.1, 1.8.
SpecResults flat_band(int m, int nbw) {
  SpecResults r;
  r.nf = m + 1;
  r.df = 0.001f;
  r.f0 = 0.0f;
  r.nbw = nbw;
  r.specraw0.assign(static_cast<std::size_t>(m + 1), 0.5f);
  r.specback0.assign(r.specraw0.size(), 1.0f);
  r.ftest.assign(r.specraw0.size(), 0.0f);
  r.conf = {0.9f, 1.8f, 2.1f, 2.8f};
  r.fconf = {0.8f, 4.3f, 6.9f, 18.0f, 26.3f, 61.3f};
  return r;
}

float frequency(const SpecResults& r, int index) { return r.f0 + static_cast<float>(index) * r.df; }

TEST(FindPeaks, EachPassRecordsItsLevel) {
  SpecResults r = flat_band(200, 3);
  r.specraw0[20] = 3.0f;   // above the 99 % ratio
  r.specraw0[60] = 2.5f;   // between 95 and 99 %
  r.specraw0[100] = 1.9f;  // between 90 and 95 %
  r.specraw0[140] = 1.7f;  // not significant
  const PeakList peaks = findpeaks(r.f0, 0, r);
  ASSERT_EQ(peaks.sigfreq.size(), 3u);
  EXPECT_EQ(peaks.sigfreq, (std::vector<float>{frequency(r, 20), frequency(r, 60), frequency(r, 100)}));
  EXPECT_EQ(peaks.sigpct, (std::vector<float>{99.0f, 95.0f, 90.0f}));
}

TEST(FindPeaks, TheWindowMaximumIsRecordedAndTheFirstOfEqualMaximaWins) {
  SpecResults r = flat_band(200, 3);
  r.specraw0[20] = 3.0f;  // the scan meets 20 first, then the larger 22
  r.specraw0[22] = 6.0f;
  r.specraw0[50] = 5.0f;  // equal maxima: the first stays
  r.specraw0[52] = 5.0f;
  r.specraw0[81] = 4.0f;  // an equal value before the scanned entry does not replace it
  r.specraw0[83] = 4.0f;
  r.specraw0[80] = 0.5f;
  const PeakList peaks = findpeaks(r.f0, 0, r);
  EXPECT_EQ(peaks.sigfreq, (std::vector<float>{frequency(r, 22), frequency(r, 50), frequency(r, 81)}));
}

TEST(FindPeaks, KeepsTheFortyLargestRatiosOrderedByFrequency) {
  SpecResults r = flat_band(2000, 2);
  std::vector<int> where;
  for (int j = 0; j < 60; ++j) {
    const int index = 10 + 30 * j;
    // Ratios in a scrambled order so that size and frequency disagree.
    r.specraw0[static_cast<std::size_t>(index)] = 3.0f + static_cast<float>((j * 37) % 60);
    where.push_back(index);
  }
  const PeakList peaks = findpeaks(r.f0, 0, r);
  ASSERT_EQ(peaks.sigfreq.size(), 40u);
  EXPECT_TRUE(std::is_sorted(peaks.sigfreq.begin(), peaks.sigfreq.end()));
  std::vector<float> expected;
  for (int index : where) {
    if (r.specraw0[static_cast<std::size_t>(index)] >= 3.0f + 20.0f) expected.push_back(frequency(r, index));
  }
  EXPECT_EQ(peaks.sigfreq, expected);
}

TEST(FindPeaks, SearchStopsAfterThreeHundredCandidates) {
  // Every entry is its own window (nbw = 0) and significant; ratios grow
  // with frequency, so the 40 largest of the first 300 candidates are
  // entries 260..299, not the last 40 of the band.
  SpecResults r = flat_band(1000, 0);
  for (int i = 0; i < 1000; ++i) r.specraw0[static_cast<std::size_t>(i)] = 3.0f + 0.01f * static_cast<float>(i);
  const PeakList peaks = findpeaks(r.f0, 0, r);
  ASSERT_EQ(peaks.sigfreq.size(), 40u);
  EXPECT_EQ(peaks.sigfreq.front(), frequency(r, 260));
  EXPECT_EQ(peaks.sigfreq.back(), frequency(r, 299));
}

TEST(FindPeaks, HarmonicAssumptionJudgesTheFStatisticAgainstTheFLevels) {
  SpecResults r = flat_band(300, 3);
  r.specraw0[40] = 10.0f;  // a strong ratio, but no F
  r.ftest[100] = 20.0f;    // above the 99 % F level 18
  r.ftest[200] = 5.0f;     // 90 %
  const PeakList peaks = findpeaks(r.f0, 2, r);
  EXPECT_EQ(peaks.sigfreq, (std::vector<float>{frequency(r, 100), frequency(r, 200)}));
  EXPECT_EQ(peaks.sigpct, (std::vector<float>{99.0f, 90.0f}));
}

TEST(FindPeaks, ZeroBackgroundGivesNoRatioInsteadOfADivisionByZero) {
  SpecResults r = flat_band(100, 3);
  std::fill(r.specback0.begin(), r.specback0.end(), 0.0f);
  r.specraw0[30] = 5.0f;
  EXPECT_TRUE(findpeaks(r.f0, 0, r).sigfreq.empty());
}

TEST(FindPeaks, FrequenciesCountFromTheGivenStart) {
  SpecResults r = flat_band(100, 3);
  r.specraw0[10] = 4.0f;
  const PeakList peaks = findpeaks(0.25f, 0, r);
  ASSERT_EQ(peaks.sigfreq.size(), 1u);
  EXPECT_EQ(peaks.sigfreq[0], 0.25f + 10.0f * 0.001f);
}

}  // namespace
}  // namespace quorvane::spectral
