#include "spectral/stages/jackknife.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "spectral/numerics/two_halves.h"

namespace quorvane::spectral {

namespace {

// 97.5 % points of Student's t with 1..7 degrees of freedom.
constexpr double kStudent975[7] = {12.706204736, 4.302652730, 3.182446305, 2.776445105,
                                   2.570581836, 2.446911851, 2.364624252};

// Entries of the band computed together.
constexpr int kBlock = 2048;

}  // namespace

double student_t975(int dof) { return kStudent975[dof - 1]; }

void jackknife_interval(const Eigencoefficients& y, std::span<const double> el, bool adaptive,
                        double sig2, std::span<const float> estimate, std::span<float> lower,
                        std::span<float> upper, HiresWeights weights) {
  const int nwin = y.nwin;
  const std::size_t rest = static_cast<std::size_t>(nwin - 1);
  const double t = student_t975(static_cast<int>(rest));
  const double scale = static_cast<double>(nwin - 1) / nwin;
  // The eigenvalues of the tapers kept when taper k is deleted, at kept_el[k].
  std::array<std::array<double, 8>, 8> kept_el{};
  for (int k = 0; k < nwin; ++k) {
    std::size_t column = 0;
    for (int j = 0; j < nwin; ++j) {
      if (j != k) kept_el[static_cast<std::size_t>(k)][column++] = el[static_cast<std::size_t>(j)];
    }
  }

  // Every entry's interval depends on that entry alone, so the band is done
  // a block of entries at a time: the K leave-one-out copies of a block stay
  // small and in cache, instead of K copies of the whole band.
  auto entries = [&](int first, int last) {
    Eigencoefficients subset;
    std::vector<float> partial(kBlock);
    // ln S_k of the block's entry i for deleted taper k at logs[k * kBlock + i];
    // a zero estimate is marked by a NaN and skipped below.
    std::vector<double> logs(static_cast<std::size_t>(nwin) * kBlock);
    for (int block = first; block < last; block += kBlock) {
      const int size = std::min(kBlock, last - block);
      const std::size_t entries_here = static_cast<std::size_t>(size);
      for (int k = 0; k < nwin; ++k) {
        subset.resize(size, nwin - 1);
        int column = 0;
        for (int j = 0; j < nwin; ++j) {
          if (j == k) continue;
          for (int i = 0; i < size; ++i) {
            subset.yr[subset.at(i, column)] = y.yr[y.at(block + i, j)];
            subset.yi[subset.at(i, column)] = y.yi[y.at(block + i, j)];
          }
          ++column;
        }
        const std::span<const double> subset_el(kept_el[static_cast<std::size_t>(k)].data(), rest);
        const std::span<float> out(partial.data(), entries_here);
        if (adaptive) {
          adwait(subset, subset_el, sig2, out);
        } else {
          hires(subset, subset_el, out, weights);
        }
        double* row = logs.data() + static_cast<std::size_t>(k) * kBlock;
        for (std::size_t i = 0; i < entries_here; ++i) {
          row[i] = partial[i] > 0.0f ? std::log(static_cast<double>(partial[i])) : std::nan("");
        }
      }

      for (std::size_t i = 0; i < entries_here; ++i) {
        const std::size_t at = static_cast<std::size_t>(block) + i;
        double mean = 0.0;
        bool defined = estimate[at] > 0.0f;
        for (int k = 0; k < nwin && defined; ++k) {
          const double value = logs[static_cast<std::size_t>(k) * kBlock + i];
          defined = !std::isnan(value);
          mean += value;
        }
        if (!defined) {
          lower[at] = upper[at] = estimate[at];
          continue;
        }
        mean /= nwin;
        double spread = 0.0;
        for (int k = 0; k < nwin; ++k) {
          const double d = logs[static_cast<std::size_t>(k) * kBlock + i] - mean;
          spread += d * d;
        }
        const double half = t * std::sqrt(scale * spread);
        const double centre = std::log(static_cast<double>(estimate[at]));
        lower[at] = static_cast<float>(std::exp(centre - half));
        // An upper end beyond single precision is kept at its largest value.
        upper[at] = static_cast<float>(std::min(
            std::exp(centre + half), static_cast<double>(std::numeric_limits<float>::max())));
      }
    }
  };
  // Long bands in two halves on two threads, each writing its own entries.
  const int count = y.count;
  if (count >= 2 * kBlock) {
    const int middle = count / 2 / kBlock * kBlock;
    run_two_halves([&] { entries(0, middle); }, [&] { entries(middle, count); });
  } else {
    entries(0, count);
  }
}

}  // namespace quorvane::spectral
