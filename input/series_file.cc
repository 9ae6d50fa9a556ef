// Reading a whole series file from given answers, and the time axis and mean
// step of a chosen series. The dialogue (setup.cc) and the command line share
// both.
#include "input/series_file.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "input/reader_support.h"
#include "input/readers.h"
#include "textio/free_format.h"
#include "textio/line_reader.h"

namespace quorvane::input {

namespace {

// Chronology files have three heading lines before every series.
constexpr int kChronologyHeadingLines = 3;

std::string trimmed(const std::string& text) {
  std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The last non-empty line of `text`, without its leading blanks.
std::string last_message(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  std::string last;
  while (std::getline(lines, line))
    if (!trimmed(line).empty()) last = trimmed(line);
  return last;
}

// Reads the open file with `options` into `table`. False with `failure` set
// when the reading stopped or a reader reported a failure on `messages`.
bool read_layout(textio::Console& messages, textio::LineReader& file, const ReadOptions& options,
                 SeriesTable& table, std::string& failure) {
  ReadStop stop = ReadStop::None;
  switch (options.iform) {
    case 1: read_raw_ring_widths(messages, file, table, stop); break;
    case 2: read_chronologies(file, table, stop); break;
    case 3: return rd1col(messages, file, table);
    default: {
      if (options.iform < 1 || options.iform > 7) {
        failure = "the layout must be a number from 1 to 7, not " + std::to_string(options.iform);
        return false;
      }
      // The answers are checked before the lines are skipped, so that a bad
      // answer is named even for a file too short to skip.
      textio::RecordLayout layout;
      if (options.iform == 5 && !usable_column_count(messages, options.ncol)) return false;
      if (options.iform == 6 && !usable_values_per_line(messages, options.nvar)) return false;
      if (options.iform == 7 && !usable_row_layout(messages, options.rfmt, layout)) return false;
      if (!skip_lines(messages, file, options.lskip)) return false;
      switch (options.iform) {
        case 4: return read_two_columns(messages, file, table);
        case 5: return read_multiple_columns(messages, file, options.ncol, options.sentinel, table);
        case 6: return read_monthly(messages, file, options.nvar, options.mult, table);
        default: return read_rows(messages, file, layout, options.ncol, table);
      }
    }
  }
  if (stop != ReadStop::None) {
    failure = describe(stop, file.position());
    return false;
  }
  return true;
}

}  // namespace

std::vector<float> time_axis(const SeriesTable& table, const Series& series) {
  const std::size_t npts = series.values.size();
  if (table.iform == 4) return series.x;
  std::vector<float> x(npts);
  if (table.iform == 6) {
    const int nvar = std::max(table.nvar, 1);
    const float step = 1.0f / static_cast<float>(nvar);
    long long year = series.iyr1;
    float fraction = 0.0f;
    for (std::size_t i = 0; i < npts; ++i) {
      x[i] = static_cast<float>(year) + fraction;
      fraction += step;
      if ((i + 1) % static_cast<std::size_t>(nvar) == 0) {
        fraction = 0.0f;
        ++year;
      }
    }
  } else {
    for (std::size_t i = 0; i < npts; ++i)
      x[i] = static_cast<float>(static_cast<long long>(series.iyr1) + static_cast<long long>(i));
  }
  return x;
}

float mean_step(const std::vector<float>& x) {
  if (x.size() < 2) return 0.0f;
  float sum = 0.0f;
  for (std::size_t i = 1; i < x.size(); ++i) sum += x[i] - x[i - 1];
  return sum / static_cast<float>(x.size() - 1);
}

bool read_raw_ring_widths(textio::Console& messages, textio::LineReader& file, SeriesTable& table,
                          ReadStop& stop) {
  int status = 0;
  RingSeries ring;
  next_ring_series(messages, file, ring, status, stop);
  while (status > 0) {
    // A self-describing series whose header was never found has count -999.
    if (ring.count >= 0) {
      Series series;
      series.name = name8(ring.id);
      series.iyr1 = ring.first_year;
      series.values = std::move(ring.values);
      series.iyrn = last_year(series.iyr1, series.values.size());
      messages.write_free({static_cast<long long>(table.series.size() + 1), series.name,
                           static_cast<long long>(series.iyr1),
                           static_cast<long long>(series.iyrn),
                           static_cast<long long>(series.values.size())});
      table.series.push_back(std::move(series));
    }
    next_ring_series(messages, file, ring, status, stop);
  }
  return !table.series.empty();
}

void read_chronologies(textio::LineReader& file, SeriesTable& table, ReadStop& stop) {
  bool lok = false;
  std::vector<int> sample_counts;
  while (!lok) {
    Series slot;
    if (next_chronology(file, slot, sample_counts, kChronologyHeadingLines, lok, stop)) {
      slot.iyrn = last_year(slot.iyr1, slot.values.size());
      table.series.push_back(std::move(slot));
    }
  }
}

Status check_reading_memory(const std::string& path, std::optional<std::uint64_t> available) {
  std::error_code failed;
  const std::uintmax_t size = std::filesystem::file_size(path, failed);
  if (failed) return Status::success();
  // The text is held once; every value takes at least two of its characters
  // (a digit and a line end or separator) and four bytes as a float.
  const std::uint64_t needed = static_cast<std::uint64_t>(size) * 3;
  return check_memory(needed, "Reading the file " + path, available);
}

bool read_series_file(const std::string& path, const ReadOptions& options, SeriesTable& table,
                      textio::Console& messages, std::string& error) {
  if (Status fits = check_reading_memory(path); !fits) {
    error = fits.message.substr(1);
    return false;
  }
  textio::LineReader file;
  if (!file.open(path)) {
    error = "the file " + path + " cannot be opened";
    return false;
  }
  return read_series(file, options, table, messages, error);
}

bool read_series(textio::LineReader& file, const ReadOptions& options, SeriesTable& table,
                 textio::Console& messages, std::string& error) {
  // The readers write to a console of their own that has no answers to give:
  // a reader that tried to ask would meet the end of its input at once.
  std::istringstream no_answers;
  std::ostringstream written;
  std::ostringstream stop_lines;
  textio::Console reader_console(no_answers, written, stop_lines);
  SeriesTable fresh;
  fresh.iform = options.iform;
  std::string failure;
  bool read = false;
  try {
    read = read_layout(reader_console, file, options, fresh, failure);
  } catch (const textio::EndOfInput&) {
    failure = "the reader asked a question";
  }
  messages.out() << written.str();
  messages.out().flush();
  if (!read) {
    if (failure.empty()) failure = last_message(written.str());
    error = failure.empty() ? "the data were not read in successfully" : failure;
    return false;
  }
  if (fresh.series.empty()) {
    error = "no series were found in the file";
    return false;
  }
  table = std::move(fresh);
  return true;
}

bool choose_series(const SeriesTable& table, std::size_t index, ChosenSeries& out,
                   std::string& error) {
  if (index >= table.series.size()) {
    error = "there is no series " + std::to_string(index + 1) + "; the file holds " +
            std::to_string(table.series.size());
    return false;
  }
  const Series& series = table.series[index];
  const std::string name = trimmed(series.name);
  const std::size_t npts = series.values.size();
  if (npts < 2) {
    error = "Series " + name + " has " + std::to_string(npts) + (npts == 1 ? " value" : " values") +
            "; at least 2 are needed.";
    return false;
  }
  out.time = time_axis(table, series);
  out.dt = mean_step(out.time);
  if (!(std::isfinite(out.dt) && out.dt > 0.0f)) {
    error = "Series " + name + " has a mean time step of " + textio::free_real(out.dt) +
            "; it must be positive.";
    return false;
  }
  out.title = series.name;
  out.y = series.values;
  return true;
}

}  // namespace quorvane::input
