// Evolutive spectra of records with gaps and uneven steps: tracks that
// follow a line switching frequency halfway and no more tracks than chance
// elsewhere, windows too thin to analyse left empty with their reason, each
// window analysed as its own samples call for, plans reused only where the
// sampling repeats, and the refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "spectral/analyses/evolutive.h"
#include "spectral/estimators/even.h"
#include "spectral/estimators/gaps.h"
#include "spectral/estimators/uneven.h"
#include "spectral/sampling.h"
#include "spectral/significance/surrogates.h"

namespace quorvane::spectral {
namespace {

constexpr double kTwoPi = 6.283185307179586;

struct Record {
  std::vector<double> time;
  std::vector<float> y;
  Sampling sampling;
};

// White noise plus a sine of amplitude 1 whose frequency is `before` up to
// time `at` and `after` from then on (its phase continuous).
Record with_line(std::vector<double> time, double at, double before, double after,
                 std::uint64_t stream) {
  Record r;
  r.time = std::move(time);
  r.y.resize(r.time.size());
  RandomStream random(9, stream);
  ar1_surrogate(0.0, 1.0, random, r.y);
  for (std::size_t j = 0; j < r.y.size(); ++j) {
    const double t = r.time[j];
    const double phase = t < at ? before * t : before * at + after * (t - at);
    r.y[j] += static_cast<float>(std::sin(kTwoPi * phase));
  }
  EXPECT_TRUE(sampling_of(r.time, r.sampling).ok);
  return r;
}

// 3000 positions of step 1 without those in [first, last) of each gap.
std::vector<double> gappy_times(std::initializer_list<std::pair<int, int>> gaps) {
  std::vector<double> t;
  for (int j = 0; j < 3000; ++j) {
    bool missing = false;
    for (const auto& [first, last] : gaps) missing = missing || (j >= first && j < last);
    if (!missing) t.push_back(j);
  }
  return t;
}

// 3000 steps spread evenly over 0.5 .. 1.5.
std::vector<double> jittered_times(std::uint64_t stream) {
  std::vector<double> t(3000);
  RandomStream random(4, stream);
  for (std::size_t j = 1; j < t.size(); ++j) t[j] = t[j - 1] + 0.5 + random.uniform();
  return t;
}

SpecSettings window_settings(int length, double dt) {
  SpecSettings s;
  s.npts = length;
  s.dt = static_cast<float>(dt);
  s.fmax = 0.5f / s.dt;
  s.p = 3, s.nwin = 5;
  s.isiglev = 4;  // tracks of the F maxima above 99 %
  return s;
}

struct Rows {
  std::vector<EvolutiveRow> rows;           // copies, without the spectrum
  std::vector<std::vector<float>> estimate;  // each analysed row's spectrum, else empty
};

Status collect(const Record& r, int length, int step, int min_samples, const SpecSettings& s,
               int jobs, Rows& out) {
  return evolutive_on_times(r.time, r.y, r.sampling, length, step, min_samples, s, jobs,
                            [&](const EvolutiveRow& row) {
                              EvolutiveRow copy = row;
                              copy.ratio = {};
                              copy.spectrum = nullptr;
                              out.rows.push_back(copy);
                              out.estimate.emplace_back();
                              if (row.spectrum != nullptr)
                                out.estimate.back().assign(
                                    row.spectrum->specraw0.begin(),
                                    row.spectrum->specraw0.begin() +
                                        static_cast<long>(row.entries));
                              return Status::success();
                            });
}

TEST(TimedEvolutive, TracksFollowALineThatSwitchesHalfwayAndChanceLinesStayRare) {
  const int length = 300, step = 100;
  struct Case {
    const char* name;
    Record record;
  };
  // The line moves from 0.1 to 0.25 cycles per unit at time 1500; the gappy
  // record misses three stretches, the last too long for its windows.
  const Case cases[] = {
      {"gaps", with_line(gappy_times({{400, 440}, {1900, 1960}, {2450, 2700}}), 1500, 0.1, 0.25, 1)},
      {"uneven", with_line(jittered_times(2), 1500, 0.1, 0.25, 3)},
  };
  const double controls[] = {0.17, 0.33, 0.42};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Record& r = c.record;
    const double dt = r.sampling.median_step;
    const SpecSettings s = window_settings(length, dt);
    const double half_bandwidth = s.p / (length * dt);
    Rows got;
    const Status status = collect(r, length, step, 12, s, 2, got);
    ASSERT_TRUE(status.ok) << status.message;
    int analysed = 0, followed = 0, chance = 0;
    std::size_t empty = 0;
    double entries_near = 0.0;
    for (const EvolutiveRow& row : got.rows) {
      if (row.method == WindowMethod::empty) {
        ++empty;
        EXPECT_FALSE(row.empty.empty());
        EXPECT_TRUE(row.lines.empty());
        continue;
      }
      const double first = r.time.front() + static_cast<double>(row.start) * dt;
      const double last = first + length * dt;
      entries_near = 2 * half_bandwidth / row.df + 1;
      for (const auto& line : row.lines)
        for (double f : controls) chance += std::fabs(line.frequency - f) <= half_bandwidth;
      if (first < 1500 && last > 1500) continue;  // the switch inside the window
      const double truth = last <= 1500 ? 0.1 : 0.25;
      ++analysed;
      bool near = false;
      for (const auto& line : row.lines) near = near || std::fabs(line.frequency - truth) <= half_bandwidth;
      followed += near;
    }
    EXPECT_GE(analysed, 20);
    EXPECT_EQ(followed, analysed);
    // An entry's F exceeds its 99 % level one time in a hundred.
    EXPECT_LE(chance, 0.01 * entries_near * 3 * static_cast<double>(got.rows.size()) + 2);
    if (std::string(c.name) == "gaps") {
      // The windows of [2400, 2700) and [2500, 2800) lack 250 and 200 of their 300 steps.
      ASSERT_EQ(empty, 2u);
      EXPECT_NE(got.rows[24].empty.find("more than half"), std::string::npos) << got.rows[24].empty;
      EXPECT_EQ(got.rows[0].method, WindowMethod::even);
      EXPECT_EQ(got.rows[3].method, WindowMethod::gaps);
    } else {
      EXPECT_EQ(empty, 0u);
      EXPECT_EQ(got.rows[0].method, WindowMethod::uneven);
      // Jittered times never repeat: no window borrows another's plan.
      for (const EvolutiveRow& row : got.rows) EXPECT_FALSE(row.plan_reused) << row.window;
    }
  }
}

TEST(TimedEvolutive, EachWindowIsItsSamplesAnalysedAloneAndJobsChangeNothing) {
  const Record r = with_line(gappy_times({{350, 380}, {1000, 1100}}), 1e9, 0.2, 0.2, 5);
  const SpecSettings s = window_settings(200, 1.0);
  Rows one, two;
  ASSERT_TRUE(collect(r, 200, 50, 12, s, 1, one).ok);
  ASSERT_TRUE(collect(r, 200, 50, 12, s, 3, two).ok);
  ASSERT_EQ(one.rows.size(), two.rows.size());
  for (std::size_t w = 0; w < one.rows.size(); ++w) EXPECT_EQ(one.estimate[w], two.estimate[w]) << w;
  // A window of complete samples: spec on its values; a window with a gap:
  // the missing-data estimate of its positions.
  const auto values = [&](int first, int count) {
    std::vector<float> v;
    std::vector<std::int64_t> index;
    for (std::size_t j = 0; j < r.time.size(); ++j) {
      if (r.time[j] >= first && r.time[j] < first + count) {
        v.push_back(r.y[j]);
        index.push_back(static_cast<std::int64_t>(r.time[j]) - first);
      }
    }
    return std::make_pair(v, index);
  };
  SpecResults alone;
  ASSERT_EQ(one.rows[1].method, WindowMethod::even);
  ASSERT_TRUE(spec(values(50, 200).first, s, alone).ok);
  EXPECT_EQ(one.estimate[1], std::vector<float>(alone.specraw0.begin(),
                                                alone.specraw0.begin() + one.rows[1].entries));
  ASSERT_EQ(one.rows[4].method, WindowMethod::gaps);
  const auto [y, index] = values(200, 200);
  ASSERT_TRUE(spec_gaps(index, y, s, alone).ok);
  EXPECT_EQ(one.estimate[4], std::vector<float>(alone.specraw0.begin(),
                                                alone.specraw0.begin() + one.rows[4].entries));
  // Windows 17 .. 19 ([850, 1050) ..) lose 50, 100 and 100 steps: not more
  // than half, so analysed; none is short of 12 samples.
  for (const EvolutiveRow& row : one.rows) EXPECT_NE(row.method, WindowMethod::empty) << row.window;
  // Asking for more samples than a window with the long gap holds empties it.
  Rows strict;
  ASSERT_TRUE(collect(r, 200, 50, 150, s, 2, strict).ok);
  EXPECT_EQ(strict.rows[19].method, WindowMethod::empty);
  EXPECT_NE(strict.rows[19].empty.find("fewer than the 150"), std::string::npos)
      << strict.rows[19].empty;
  EXPECT_TRUE(strict.estimate[19].empty());
}

TEST(TimedEvolutive, RefusesWhatCannotBeWindowed) {
  const Record r = with_line(jittered_times(11), 1e9, 0.1, 0.1, 12);
  const double dt = r.sampling.median_step;
  const SpecSettings s = window_settings(200, dt);
  const auto run = [&](std::span<const double> time, int length, int step, int min_samples,
                       const SpecSettings& settings) {
    return evolutive_on_times(time, r.y, r.sampling, length, step, min_samples, settings, 1,
                              [](const EvolutiveRow&) { return Status::success(); });
  };
  std::vector<double> backwards(r.time.rbegin(), r.time.rend());
  SpecSettings jackknife = s;
  jackknife.jackknife = true;
  struct Case {
    const char* name;
    Status status;
    const char* words;
  };
  const Case cases[] = {
      {"min samples", run(r.time, 200, 50, 5, s), "at least 6 samples"},
      {"decreasing", run(backwards, 200, 50, 12, s), "increasing"},
      {"too long", run(r.time, 5000, 50, 12, window_settings(5000, dt)), "longer than the record"},
      {"no step", run(r.time, 200, 0, 12, s), "at least one value"},
      {"jackknife", run(r.time, 200, 50, 12, jackknife), "jackknife"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(c.status.ok) << c.name;
    EXPECT_NE(c.status.message.find(c.words), std::string::npos) << c.name << ": " << c.status.message;
  }
}

}  // namespace
}  // namespace quorvane::spectral
