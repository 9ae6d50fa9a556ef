#include <cmath>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/targets.h"
#include "input/series_file.h"
#include "textio/console.h"
#include "textio/line_reader.h"

namespace quorvane::fuzz {

int reader_target(const std::uint8_t* data, std::size_t size) {
  return size == 0 ? 0 : reader_target_for(1 + data[0] % 7, data, size);
}

int reader_target_for(int iform, const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kHeader = 6;
  if (size < kHeader) return 0;
  const float multipliers[] = {1.0f, 0.01f, 1e30f, -0.5f};
  input::ReadOptions options;
  options.iform = iform;
  options.lskip = data[1] % 4;
  options.ncol = (data[2] | data[3] << 8) % 10000;
  options.nvar = data[4] % 100;
  options.mult = multipliers[data[5] % 4];
  std::vector<std::string> lines = split_lines(
      std::string_view(reinterpret_cast<const char*>(data + kHeader), size - kHeader));
  if (lines.size() < 2) return 0;
  options.rfmt = lines[0];
  options.sentinel = lines[1];
  // csv: the same two lines name the time column and the series' columns.
  options.time_column = lines[0];
  if (!lines[1].empty()) {
    std::size_t start = 0;
    for (std::size_t comma; (comma = lines[1].find(',', start)) != std::string::npos; start = comma + 1)
      options.value_columns.push_back(lines[1].substr(start, comma - start));
    options.value_columns.push_back(lines[1].substr(start));
  }
  lines.erase(lines.begin(), lines.begin() + 2);
  std::size_t characters = 0;
  for (const auto& line : lines) characters += line.size() + 1;

  auto file = textio::LineReader::from_lines(lines);
  std::ostringstream out, err;
  textio::Writer messages(out, err);
  input::SeriesTable table;
  if (Status read = input::read_series(file, options, table, messages); !read) {
    require(!read.message.empty(), "a failed reading without a reason");
    require(table.series.empty(), "a failed reading changed the table");
    return 0;
  }
  require(!table.series.empty(), "a reading without series reported as read");
  require(err.str().empty(), "the reading wrote to the error stream");
  std::size_t values = 0;
  for (std::size_t k = 0; k < table.series.size(); ++k) {
    const input::Series& series = table.series[k];
    // Only csv keeps header names longer than 8 characters.
    require(series.name.size() == 8 || (iform == 8 && series.name.size() > 8),
            "a series name of " + std::to_string(series.name.size()) + " characters");
    require(series.time.empty() || series.time.size() == series.values.size(),
            "times and values of different lengths");
    for (float value : series.values) require(std::isfinite(value), "a value not finite");
    values += series.values.size();
    input::ChosenSeries chosen;
    if (input::choose_series(table, k, chosen)) {
      require(chosen.y.size() >= 2 && chosen.time.size() == chosen.y.size(),
              "a chosen series without its time axis");
      require(std::isfinite(chosen.dt) && chosen.dt > 0.0f, "a chosen step not positive");
      for (std::size_t i = 1; i < chosen.time.size(); ++i)
        require(chosen.time[i] > chosen.time[i - 1], "chosen times that do not increase");
    }
  }
  require(values <= characters, std::to_string(values) + " values from " +
                                    std::to_string(characters) + " characters");
  return 0;
}

}  // namespace quorvane::fuzz
