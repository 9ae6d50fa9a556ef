#include "spectral/stages/peaks.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvane::spectral {

namespace {

struct Candidate {
  float frequency;
  float ratio;
  float level;
};

}  // namespace

PeakList findpeaks(Signal signal, const SpecResults& results, int max_peaks) {
  const int m = results.nf - 1;
  PeakList list;
  if (m < 1 || max_peaks < 1) return list;
  const std::size_t keep = static_cast<std::size_t>(max_peaks);
  const std::size_t um = static_cast<std::size_t>(m);
  const int nbw = results.nbw;

  // The test ratio of each entry: the raw spectrum over its background, or
  // the F statistic for harmonic signals. A zero background (a constant
  // series) gives ratio 0, not a division by zero.
  std::vector<float> ratio(um, 0.0f);
  for (std::size_t i = 0; i < um; ++i) {
    if (signal == Signal::harmonic) {
      ratio[i] = results.ftest[i];
    } else {
      const float back = results.specback0[i];
      const float value = back != 0.0f ? results.specraw0[i] / back : 0.0f;
      ratio[i] = std::isfinite(value) ? value : 0.0f;
    }
  }
  // Pass 0, 1, 2 tests the 99, 95 and 90 % level: index 3, 2, 1 of the
  // levels, which are the same for every entry unless Monte Carlo levels
  // give one per entry.
  const std::array<std::vector<float>, 4>& by_entry = results.montecarlo_conf;
  const bool per_entry = signal != Signal::harmonic && by_entry[1].size() >= um && by_entry[2].size() >= um &&
                         by_entry[3].size() >= um;
  auto threshold = [&](int pass, std::size_t i) {
    const std::size_t level = static_cast<std::size_t>(3 - pass);
    if (signal == Signal::harmonic) return results.fconf[level];
    return per_entry ? by_entry[level][i] : results.conf[level];
  };
  const float pass_levels[3] = {99.0f, 95.0f, 90.0f};

  // The first maximum of each entry's window [i - nbw, i + nbw], clipped to
  // the band: both ends only move up with i, so a queue of decreasing
  // values (earliest first among equals) yields it in one sweep. The ratios
  // are the same in every pass, and so are the maxima.
  std::vector<std::uint32_t> top(um), queue(um);
  {
    std::size_t head = 0, tail = 0;  // queue[head..tail)
    std::size_t next = 0;            // first entry not yet queued
    const std::size_t half = static_cast<std::size_t>(std::max(nbw, 0));
    for (std::size_t i = 0; i < um; ++i) {
      for (const std::size_t hi = std::min(um - 1, i + half); next <= hi; ++next) {
        while (tail > head && ratio[queue[tail - 1]] < ratio[next]) --tail;
        queue[tail++] = static_cast<std::uint32_t>(next);
      }
      const std::size_t lo = i > half ? i - half : 0;
      while (queue[head] < lo) ++head;
      top[i] = queue[head];
    }
  }

  // Where a climb from each entry ends: uphill to the right while the ratio
  // rises strictly, else uphill to the left. Found once for all entries, so
  // that a long monotonic flank is climbed once rather than once per
  // candidate on it.
  std::vector<std::uint32_t> uphill_right(um), uphill_left(um);
  for (std::size_t i = um; i-- > 0;) {
    uphill_right[i] = static_cast<std::uint32_t>(
        i + 1 < um && ratio[i + 1] > ratio[i] ? uphill_right[i + 1] : i);
  }
  for (std::size_t i = 0; i < um; ++i) {
    uphill_left[i] =
        static_cast<std::uint32_t>(i > 0 && ratio[i - 1] > ratio[i] ? uphill_left[i - 1] : i);
  }
  auto summit = [&](std::size_t e) -> std::size_t {
    return uphill_right[e] != e ? uphill_right[e] : uphill_left[e];
  };

  // Every candidate of every pass is collected before the strongest are
  // kept: on a long record the weaker lines at low frequencies would
  // otherwise fill any fixed number of places before the strongest lines
  // further up the band are reached.
  std::vector<char> flag(um, 0);
  // The first entry within nbw of e with the largest ratio above e's among
  // those not flagged; e itself when there is none.
  auto higher_within = [&](std::size_t e) {
    const std::size_t half = static_cast<std::size_t>(std::max(nbw, 0));
    std::size_t best = e;
    for (std::size_t j = e > half ? e - half : 0, end = std::min(um - 1, e + half); j <= end; ++j) {
      if (!flag[j] && ratio[j] > ratio[best]) best = j;
    }
    return best;
  };
  std::vector<Candidate> found;
  for (int pass = 0; pass < 3; ++pass) {
    for (std::size_t i = 0; i < um; ++i) {
      if (!(ratio[i] > threshold(pass, i)) || flag[i]) continue;
      // The scan starts from entry i itself and moves only to a strictly
      // larger value, so i wins any tie with the window's maximum.
      std::size_t ib = ratio[top[i]] > ratio[i] ? top[i] : i;
      // The entries flagged below are those within nbw of ib, not of i, so
      // two faults would hide a line's own maximum from every later window:
      // a window maximum at the window's edge, on a rising flank, and one
      // with a higher unflagged maximum within nbw of it, beyond the window.
      // So ib climbs to the top of its flank (a flank that leads into the
      // flags of a listed line drops the candidate below), then moves on to
      // each higher summit within nbw not yet flagged. A window maximum
      // with neither stays where it is.
      ib = summit(ib);
      for (std::size_t higher = higher_within(ib); higher != ib; higher = higher_within(ib)) {
        const std::size_t up = summit(higher);
        if (flag[up]) break;  // the rise belongs to a line already listed
        ib = up;
      }
      if (flag[ib]) continue;
      found.push_back({results.f0 + static_cast<float>(ib) * results.df, ratio[ib], pass_levels[pass]});
      const std::size_t flo = ib > static_cast<std::size_t>(nbw) ? ib - static_cast<std::size_t>(nbw) : 0;
      const std::size_t fhi = std::min(um - 1, ib + static_cast<std::size_t>(nbw));
      for (std::size_t j = flo; j <= fhi; ++j) flag[j] = 1;
    }
  }

  // Largest ratios first, equal ratios in the order found; keep max_peaks;
  // then by frequency, equal frequencies in that order.
  std::stable_sort(found.begin(), found.end(),
                   [](const Candidate& a, const Candidate& b) { return a.ratio > b.ratio; });
  if (found.size() > keep) found.resize(keep);
  std::stable_sort(found.begin(), found.end(),
                   [](const Candidate& a, const Candidate& b) { return a.frequency < b.frequency; });
  for (const Candidate& c : found) {
    list.sigfreq.push_back(c.frequency);
    list.sigpct.push_back(c.level);
  }
  return list;
}

}  // namespace quorvane::spectral
