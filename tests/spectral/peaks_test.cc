#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <vector>

#include "spectral/estimators/even.h"
#include "spectral/stages/peaks.h"

namespace quorvane::spectral {
namespace {

// A band of m entries with a flat background of 1, so that the raw spectrum
// is the test ratio itself; 99/95/90 % ratios of 2.8, 2.1, 1.8.
SpecResults flat_band(int m, int nbw) {
  SpecResults r;
  r.nf = m + 1;
  r.df = 0.001f;
  r.nbw = nbw;
  r.specraw0.assign(static_cast<std::size_t>(m + 1), 0.5f);
  r.specback0.assign(r.specraw0.size(), 1.0f);
  r.ftest.assign(r.specraw0.size(), 0.0f);
  r.conf = {0.9f, 1.8f, 2.1f, 2.8f};
  r.fconf = {0.8f, 4.3f, 6.9f, 18.0f, 26.3f, 61.3f};
  return r;
}

TEST(FindPeaks, RecordsTheFirstWindowMaximumWithTheLevelOfItsPass) {
  SpecResults r = flat_band(300, 3);
  r.specraw0[20] = 3.0f;   // above the 99 % ratio
  r.specraw0[60] = 2.5f;   // between 95 and 99 %
  r.specraw0[100] = 1.9f;  // between 90 and 95 %
  r.specraw0[140] = 1.7f;  // not significant
  r.specraw0[170] = 3.0f;  // the scan meets 170 first, then the larger 172
  r.specraw0[172] = 6.0f;
  r.specraw0[199] = 3.0f;  // two equal larger maxima in its window: the first is recorded
  r.specraw0[200] = 5.0f;
  r.specraw0[202] = 5.0f;
  r.ftest[50] = 20.0f;     // above the 99 % F level 18
  r.ftest[250] = 5.0f;     // 90 %
  r.f0 = 0.25f;
  // Frequencies count from the first entry's.
  auto at = [](std::initializer_list<int> entries) {
    std::vector<float> f;
    for (int i : entries) f.push_back(0.25f + static_cast<float>(i) * 0.001f);
    return f;
  };
  const PeakList ratios = findpeaks(Signal::both, r);
  EXPECT_EQ(ratios.sigfreq, at({20, 60, 100, 172, 200}));
  EXPECT_EQ(ratios.sigpct, (std::vector<float>{99, 95, 90, 99, 99}));
  // Under the harmonic assumption only the F statistic counts.
  const PeakList harmonic = findpeaks(Signal::harmonic, r);
  EXPECT_EQ(harmonic.sigfreq, at({50, 250}));
  EXPECT_EQ(harmonic.sigpct, (std::vector<float>{99, 90}));
  // A zero background gives no ratio instead of a division by zero.
  std::fill(r.specback0.begin(), r.specback0.end(), 0.0f);
  EXPECT_TRUE(findpeaks(Signal::both, r).sigfreq.empty());
}

TEST(FindPeaks, KeepsAsManyPeaksAsAskedChosenFromEveryCandidate) {
  // 1000 significant peaks, every third entry, each its own window, ratios
  // growing with frequency: the strongest are at the top of the band, so
  // the default 40 kept are its last 40 peaks, however many weaker ones come
  // first, and they are listed by frequency, not by size.
  SpecResults r = flat_band(3000, 1);
  for (int i = 0; i < 1000; ++i) r.specraw0[static_cast<std::size_t>(3 * i)] = 3.0f + 0.01f * static_cast<float>(i);
  struct Case {
    int max_peaks;
    std::size_t count;
    int first, last;  // numbers of the lowest and highest peak kept
  };
  EXPECT_EQ(findpeaks(Signal::both, r).sigfreq, findpeaks(Signal::both, r, 40).sigfreq);
  for (const Case& c : {Case{0, 0, 0, 0}, Case{-3, 0, 0, 0}, Case{1, 1, 999, 999},
                        Case{40, 40, 960, 999}, Case{500, 500, 500, 999},
                        Case{2000, 1000, 0, 999}}) {
    SCOPED_TRACE(c.max_peaks);
    const PeakList peaks = findpeaks(Signal::both, r, c.max_peaks);
    ASSERT_EQ(peaks.sigfreq.size(), c.count);
    if (c.count == 0) continue;
    EXPECT_EQ(peaks.sigfreq.front(), static_cast<float>(3 * c.first) * r.df);
    EXPECT_EQ(peaks.sigfreq.back(), static_cast<float>(3 * c.last) * r.df);
  }
}

TEST(FindPeaks, ListsALinesMaximumNotItsFlank) {
  // A rising flank crosses the 99 % ratio at entry 40 and climbs past the
  // end of its window (nbw 3) to its summit at 46; beyond the summit a lower
  // hump at 49. At 100 a sidelobe's maximum (101) lies within nbw of a
  // higher one (104) beyond the window. Then a monotonic slope to the band's
  // end. Each listed peak is the summit, which no flank or sidelobe hides.
  SpecResults r = flat_band(300, 3);
  const float flank[] = {3.0f, 4.0f, 5.0f, 6.0f, 8.0f, 20.0f, 90.0f, 30.0f, 10.0f, 12.0f, 3.0f};
  for (std::size_t j = 0; j < std::size(flank); ++j) r.specraw0[40 + j] = flank[j];
  const float sidelobe[] = {3.0f, 5.0f, 4.0f, 4.5f, 50.0f, 20.0f, 3.0f};
  for (std::size_t j = 0; j < std::size(sidelobe); ++j) r.specraw0[100 + j] = sidelobe[j];
  for (std::size_t i = 200; i < 300; ++i) r.specraw0[i] = 1.0f + 0.012f * static_cast<float>(i - 200);
  r.f0 = 0.0f;
  const PeakList peaks = findpeaks(Signal::both, r);
  EXPECT_EQ(peaks.sigfreq, (std::vector<float>{46 * r.df, 104 * r.df, 299 * r.df}));
  EXPECT_EQ(peaks.sigpct, (std::vector<float>{99, 99, 95}));
  // Mirrored, the same from the other side.
  std::reverse(r.specraw0.begin(), r.specraw0.begin() + 300);
  EXPECT_EQ(findpeaks(Signal::both, r).sigfreq, (std::vector<float>{0 * r.df, 195 * r.df, 253 * r.df}));
}

TEST(FindPeaks, JudgesEachEntryByItsOwnMonteCarloLevels) {
  SpecResults r = flat_band(300, 3);
  r.specraw0[50] = 2.0f;
  r.specraw0[150] = 2.0f;
  r.specraw0[250] = 2.0f;
  // Levels twice as high in the upper half of the band: the same ratio 2 is
  // significant at 99 % below, at 90 % around entry 150, and not at all
  // above.
  for (std::size_t j = 0; j < 4; ++j) r.montecarlo_conf[j].assign(301, 0.0f);
  for (std::size_t i = 0; i < 300; ++i) {
    const float scale = i < 100 ? 1.0f : i < 200 ? 1.15f : 2.0f;
    r.montecarlo_conf[1][i] = 1.7f * scale;
    r.montecarlo_conf[2][i] = 1.8f * scale;
    r.montecarlo_conf[3][i] = 1.9f * scale;
  }
  const PeakList peaks = findpeaks(Signal::both, r);
  EXPECT_EQ(peaks.sigfreq, (std::vector<float>{50 * r.df, 150 * r.df}));
  EXPECT_EQ(peaks.sigpct, (std::vector<float>{99, 90}));
  // The F-test of a harmonic analysis keeps its own levels.
  r.ftest[250] = 20.0f;
  EXPECT_EQ(findpeaks(Signal::harmonic, r).sigfreq, std::vector<float>{250 * r.df});
}

}  // namespace
}  // namespace quorvane::spectral
