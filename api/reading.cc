#include "api/reading.h"

#include <filesystem>
#include <sstream>

#include "input/layouts.h"
#include "textio/console.h"

namespace quorvane::api {

namespace {

// The monthly and row-wise layouts have no header that names a series, so
// their readers number them ("Cell___1", "Col____3"). Result files named so
// say nothing of where they came from and collide between files analysed
// into one folder; the file's own name does better: "nino12" for the only
// series of nino12.tsf, "station_1" to "station_12" for twelve columns.
void name_after_file(const std::string& path, input::SeriesTable& table) {
  const std::string stem = std::filesystem::path(path).stem().string();
  if (stem.empty()) return;
  if (table.series.size() == 1) {
    table.series.front().name = stem;
    return;
  }
  for (std::size_t i = 0; i < table.series.size(); ++i)
    table.series[i].name = stem + "_" + std::to_string(i + 1);
}

}  // namespace

Status read_file(const std::string& path, const input::ReadOptions& options, Naming naming,
                 input::SeriesTable& table) {
  std::error_code code;
  if (!std::filesystem::is_regular_file(path, code)) {
    return Status::file_error("cannot read " + path + ": " +
                           (std::filesystem::exists(path, code) ? "not a file" : "no such file"));
  }
  // The readers' own lines (echoed text, the line that failed) explain a
  // failure.
  std::ostringstream lines;
  textio::Writer messages(lines, lines);
  Status read = input::read_series_file(path, options, table, messages);
  if (read) {
    if (options.iform == 6 || options.iform == 7) name_after_file(path, table);
    return read;
  }
  std::string error = std::move(read.message);
  while (!error.empty() && error.back() == ' ') error.pop_back();
  const std::string layout = input::layout_names()[static_cast<std::size_t>(options.iform - 1)];
  error = "cannot read " + path + " as " + option_value(naming, "layout", layout) + ": " + error;
  const std::string detail = lines.str();
  if (!detail.empty()) error += "\n" + detail;
  while (!error.empty() && error.back() == '\n') error.pop_back();
  return Status::failure(std::move(error));
}

}  // namespace quorvane::api
