// Multitaper estimators on the eigencoefficients of one band: the
// high-resolution and adaptive spectra, and the harmonic F-test, in the
// formulation of Thomson (1982), Proc. IEEE 70, also set out in Percival and
// Walden (1993), Spectral Analysis for Physical Applications, chs. 7 and 10.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <memory_resource>
#include <span>
#include <vector>

namespace quorvane::spectral {

// The eigencoefficients of the band: for band entry i and taper k, the real
// and imaginary parts of the tapered transform, single precision. Stored
// entry by entry (the estimators run over the tapers of one entry).
struct Eigencoefficients {
  explicit Eigencoefficients(std::pmr::memory_resource* memory = std::pmr::get_default_resource())
      : yr(memory), yi(memory) {}

  int count = 0;  // band entries
  int nwin = 0;   // tapers K
  std::pmr::vector<float> yr, yi;

  void resize(int entries, int tapers) {
    count = entries;
    nwin = tapers;
    yr.assign(static_cast<std::size_t>(entries) * static_cast<std::size_t>(tapers), 0.0f);
    yi.assign(yr.size(), 0.0f);
  }
  std::size_t at(int i, int k) const {
    return static_cast<std::size_t>(i) * static_cast<std::size_t>(nwin) + static_cast<std::size_t>(k);
  }
};

// All estimators take K <= 8 tapers. Each entry's result depends on that
// entry alone; adwait and regre share bands of 8192 entries and more with a
// second thread.

// The weights of the high-resolution estimate, each formed in double and
// rounded to single:
// - inverse_concentration: w_k = 1 / (K el(k)), for tapers of a complete
//   record, whose concentrations lie so near 1 that the weights sum to 1
//   within a fraction of a per cent;
// - unit_sum: w_k = 1 / (el(k) sum_j 1 / el(j)), the same proportions
//   scaled to a sum of exactly 1. Tapers that must vanish in a record's gaps
//   have concentrations of 0.6 to 0.9, but each still has the energy of a
//   complete record's taper; white noise gives every eigenspectrum the
//   same mean, so weights that sum to 1 keep the estimate on the complete
//   record's scale, where 1 / (K el) would lift it by the mean of 1 / el.
enum class HiresWeights { inverse_concentration, unit_sum };

// hires: S(i) = sum_k w_k (yr^2 + yi^2), the weights as chosen above; the
// sum in single precision. Writes s[0..count-1].
void hires(const Eigencoefficients& y, std::span<const double> el, std::span<float> s,
           HiresWeights weights = HiresWeights::inverse_concentration);

// adwait: the adaptive estimate. sig2 is the variance scale (the series'
// sum of squares on the scale of the eigenspectra). For each entry the
// weights d(k) = sqrt(el) S / (el S + 1 - el) and S = sum d^2 sk / sum d^2
// are iterated in double (at most 20 times, until the relative change is
// below 0.0003), starting from the mean of the first two eigenspectra.
// Writes |sig2 S| to s[0..count-1]. A zero variance scale or an entry whose
// eigenspectra are all zero gives 0 there, not a division by zero.
// `cancelled`, when set, is asked between blocks of entries (from either of
// two threads on a long band); once it returns true the rest of s is left
// unwritten, and the caller refuses the run.
void adwait(const Eigencoefficients& y, std::span<const double> el, double sig2,
            std::span<float> s, const std::function<bool()>& cancelled = {});

// regre: the harmonic F statistic of every entry, with two and 2K - 2
// degrees of freedom, in single precision: the least-squares line amplitude
// from the taper sums and the residual of the fit. Writes ftest[0..count-1].
// An entry whose residual is zero gets 0 when its amplitude is zero too and
// the largest finite float otherwise (a perfect line), never a NaN or an
// infinity. Requires K >= 2.
void regre(const Eigencoefficients& y, std::span<const float> tapsum, std::span<float> ftest);

// The F critical values (two and 2K - 2 degrees of freedom) at 50, 90, 95,
// 99, 99.5 and 99.9 %, for 2 <= K <= 8; zeros otherwise.
std::array<float, 6> f_levels(int nwin);

}  // namespace quorvane::spectral
