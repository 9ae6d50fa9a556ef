#include <cmath>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/targets.h"
#include "input/series_file.h"
#include "quorvane/quorvane.h"
#include "textio/console.h"
#include "textio/line_reader.h"

namespace quorvane::fuzz {

namespace {

// Small records only, so that every input runs in milliseconds: at most
// this many values, and a regular grid over the span of at most this many
// steps for the methods that make one.
constexpr std::size_t kMostValues = 256;
constexpr double kMostGridSteps = 2048.0;

bool all_finite(const std::vector<float>& values) {
  for (float v : values)
    if (!std::isfinite(v)) return false;
  return true;
}

// The series of `table` entry `k` as the library takes it, or false when it
// is too long for a quick run or cannot be prepared.
bool small_series(const input::SeriesTable& table, std::size_t k, Series& out) {
  const input::Series& s = table.series[k];
  if (s.values.size() > kMostValues) return false;
  out.name = s.name;
  out.values = s.values;
  out.times = input::series_times(table, s);
  input::ChosenSeries chosen;
  if (!input::prepare_series(out.name, out.values, out.times, chosen)) return true;
  const double span = std::fabs(chosen.time.back() - chosen.time.front());
  return chosen.sampling.median_step > 0.0 && span / chosen.sampling.median_step <= kMostGridSteps;
}

}  // namespace

int analysis_target(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t choice = data[0];
  const std::vector<std::string> lines =
      split_lines(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  auto file = textio::LineReader::from_lines(lines);
  input::ReadOptions options;
  options.iform = 8;  // csv
  std::ostringstream out, err;
  textio::Writer messages(out, err);
  input::SeriesTable table;
  if (!input::read_series(file, options, table, messages)) return 0;

  Settings settings;
  settings.sampling = static_cast<Sampling>(choice % 5);
  settings.resolution = 1 + (choice >> 3) % 3;
  settings.estimate = (choice & 0x20) != 0 ? Estimate::hires : Estimate::adaptive;
  std::vector<Series> series;
  for (std::size_t k = 0; k < table.series.size() && series.size() < 2; ++k) {
    Series s;
    if (small_series(table, k, s)) series.push_back(std::move(s));
  }
  for (const Series& s : series) {
    const Result<Spectrum> spectrum = quorvane::spectrum(s, settings);
    if (!spectrum) {
      require(!spectrum.message().empty(), "a refused spectrum without a reason");
      continue;
    }
    const std::size_t n = spectrum->frequency.size();
    require(spectrum->estimate.size() == n && spectrum->background.size() == n &&
                spectrum->F.size() == n,
            "spectrum columns of different lengths");
    // One taper has no F-test: its F column is NaN throughout.
    const bool one_taper = spectrum->used.tapers.value_or(0) == 1;
    require(all_finite(spectrum->estimate) && all_finite(spectrum->background) &&
                (one_taper || all_finite(spectrum->F)),
            "a spectrum value that is not finite");
    require(spectrum->length >= 2, "a spectrum of fewer than two values");

    // A window of half the record moving by an eighth of it.
    const double dt = spectrum->dt;
    const double window = dt * static_cast<double>(spectrum->length / 2);
    const double step = dt * static_cast<double>(std::max(1, spectrum->length / 8));
    Settings plain = settings;
    plain.sampling = Sampling::automatic;
    const Result<Evolutive> evolutive = quorvane::evolutive(s, window, step, plain);
    if (!evolutive) {
      require(!evolutive.message().empty(), "a refused evolutive spectrum without a reason");
    } else {
      require(!evolutive->time.empty(), "an evolutive spectrum without windows");
    }
  }
  if (series.size() == 2) {
    CoherenceSettings c;
    c.resolution = settings.resolution;
    const Result<Coherence> coherence = quorvane::coherence(series[0], series[1], c);
    if (!coherence) {
      require(!coherence.message().empty(), "a refused coherence without a reason");
    } else {
      for (float v : coherence->coherence)
        require(v >= 0.0f && v <= 1.0f, "a coherence outside 0 to 1");
    }
  }
  return 0;
}

}  // namespace quorvane::fuzz
