// Reading a whole series file from given answers, and the time axis and mean
// step of a chosen series. The dialogue (setup.cc) and the command line share
// both.
#include "input/series_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/text.h"
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
bool read_layout(textio::Writer& messages, textio::LineReader& file, const ReadOptions& options,
                 SeriesTable& table, std::string& failure) {
  ReadStop stop = ReadStop::None;
  switch (options.iform) {
    case 1: read_raw_ring_widths(messages, file, table, stop); break;
    case 2: read_chronologies(file, table, stop); break;
    case 3: return rd1col(messages, file, table);
    default: {
      if (options.iform < 1 || options.iform > 8) {
        failure = "the layout must be a number from 1 to 8, not " + std::to_string(options.iform);
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
        case 8: return read_csv(messages, file, options.time_column, options.value_columns, table);
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

// The time axis of a series whose times follow from its first year:
// consecutive years, or year + (m-1)/nvar for monthly rows. The single
// precision axis is built as it always has been (the monthly fraction
// summed in single precision), the double one exactly.
void generated_axes(const SeriesTable& table, const Series& series, std::vector<double>& time,
                    std::vector<float>& single) {
  const std::size_t npts = series.values.size();
  time.resize(npts);
  single.resize(npts);
  if (table.iform == 6) {
    const int nvar = std::max(table.nvar, 1);
    const float step = 1.0f / static_cast<float>(nvar);
    long long year = series.iyr1;
    float fraction = 0.0f;
    for (std::size_t i = 0; i < npts; ++i) {
      const auto month = static_cast<long long>(i % static_cast<std::size_t>(nvar));
      time[i] = static_cast<double>(year) + static_cast<double>(month) / nvar;
      single[i] = static_cast<float>(year) + fraction;
      fraction += step;
      if ((i + 1) % static_cast<std::size_t>(nvar) == 0) {
        fraction = 0.0f;
        ++year;
      }
    }
  } else {
    for (std::size_t i = 0; i < npts; ++i) {
      const long long year = static_cast<long long>(series.iyr1) + static_cast<long long>(i);
      time[i] = static_cast<double>(year);
      single[i] = static_cast<float>(year);
    }
  }
}

// Mean spacing of x, summed in single precision from 0 (0 for fewer than two
// values): the single-precision sum is what fixes the rounding of dt.
float mean_step(const std::vector<float>& x) {
  if (x.size() < 2) return 0.0f;
  float sum = 0.0f;
  for (std::size_t i = 1; i < x.size(); ++i) sum += x[i] - x[i - 1];
  return sum / static_cast<float>(x.size() - 1);
}

// The shortest text that reads back as exactly `value`.
std::string time_text(double value) {
  char text[32];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value);
  return error == std::errc() ? std::string(text, end) : std::string("?");
}

// Why the times of `series` cannot be analysed: the first time that
// repeats or turns back (index `j` of the file's order), with its line.
std::string disorder_message(const std::string& name, const Series& series, std::size_t j) {
  const std::size_t line = series.lines.line(j);
  const std::size_t before = series.lines.line(j - 1);
  const double time = series.time[j];
  const double previous = series.time[j - 1];
  const std::string where = "Series" + spaced(name) + ": line " + std::to_string(line) +
                            " has the time " + time_text(time);
  const std::string rule = "; the times of a series must increase or decrease throughout.";
  if (time == previous)
    return where + ", the same as line " + std::to_string(before) + rule;
  return where + " after " + time_text(previous) + " on line " + std::to_string(before) + rule;
}

}  // namespace

bool read_raw_ring_widths(textio::Writer& messages, textio::LineReader& file, SeriesTable& table,
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

Status read_series_file(const std::string& path, const ReadOptions& options, SeriesTable& table,
                        textio::Writer& messages) {
  if (Status fits = check_reading_memory(path); !fits)
    return fits;
  textio::LineReader file;
  if (!file.open(path)) return Status::file_error("the file " + path + " cannot be opened");
  file.stop_when(options.cancelled);
  Status read = read_series(file, options, table, messages);
  if (file.stopped()) {
    table = SeriesTable{};
    return Status::interrupted("the reading of " + path + " was interrupted");
  }
  return read;
}

Status read_series(textio::LineReader& file, const ReadOptions& options, SeriesTable& table,
                   textio::Writer& messages) {
  // The readers write to a writer of their own, whose last line names a
  // failure that the reader did not word itself.
  std::ostringstream written;
  std::ostringstream error_lines;
  textio::Writer reader_output(written, error_lines);
  SeriesTable fresh;
  fresh.iform = options.iform;
  std::string failure;
  const bool read = read_layout(reader_output, file, options, fresh, failure);
  messages.out() << written.str();
  messages.out().flush();
  if (!read) {
    if (failure.empty()) failure = last_message(written.str());
    return Status::failure(failure.empty() ? "the data were not read in successfully" : failure);
  }
  if (fresh.series.empty()) return Status::failure("no series were found in the file");
  table = std::move(fresh);
  return Status::success();
}

namespace {

// The steps of choose_series and prepare_series once the times are known:
// out.time holds them in file order, `single` their single-precision axis
// (empty: the double times rounded). `disorder(j)` (when given) words the
// refusal of times that turn at index j.
Status finish_series(const std::string& name, std::vector<float> values, std::vector<float> single,
                     const std::function<std::string(std::size_t)>& disorder, ChosenSeries& out,
                     const spectral::Sampling* known = nullptr) {
  const std::size_t npts = values.size();
  if (npts < 2) {
    return Status::failure("Series" + spaced(name) + " has " + std::to_string(npts) +
                           (npts == 1 ? " value" : " values") + "; at least 2 are needed.");
  }
  std::size_t offending = 0;
  if (known != nullptr) {
    out.sampling = *known;
  } else if (Status order = spectral::sampling_of(out.time, out.sampling, &offending); !order) {
    return Status::failure(offending > 0 && disorder ? disorder(offending)
                                                     : "Series" + spaced(name) + ": " + order.message);
  }
  out.y = std::move(values);
  if (out.sampling.reversed) {
    std::reverse(out.time.begin(), out.time.end());
    std::reverse(out.y.begin(), out.y.end());
  }
  if (single.empty()) {
    single.resize(npts);
    for (std::size_t i = 0; i < npts; ++i) single[i] = static_cast<float>(out.time[i]);
  }
  // Single precision tells the times apart when its axis strictly increases.
  bool distinct = true;
  for (std::size_t i = 1; i < npts && distinct; ++i) distinct = single[i] > single[i - 1];
  if (distinct) {
    out.dt = mean_step(single);
    out.time_single = std::move(single);
  } else {
    out.dt =
        static_cast<float>((out.time.back() - out.time.front()) / static_cast<double>(npts - 1));
    out.time_single.clear();
  }
  if (!(std::isfinite(out.dt) && out.dt > 0.0f) ||
      !(static_cast<float>(out.sampling.median_step) > 0.0f)) {
    return Status::failure("Series" + spaced(name) + " has a mean time step of " +
                           textio::free_real(out.dt) + "; it must be positive.");
  }
  return Status::success();
}

}  // namespace

Status choose_series(const SeriesTable& table, std::size_t index, ChosenSeries& out) {
  if (index >= table.series.size()) {
    return Status::failure("there is no series " + std::to_string(index + 1) +
                           "; the file holds " + std::to_string(table.series.size()));
  }
  const Series& series = table.series[index];
  const std::string name = trimmed(series.name);
  const bool file_times = !series.time.empty();
  std::vector<float> single;
  if (file_times) {
    out.time = series.time;
  } else {
    generated_axes(table, series, out.time, single);
  }
  std::function<std::string(std::size_t)> disorder;
  if (file_times) disorder = [&](std::size_t j) { return disorder_message(name, series, j); };
  Status finished = finish_series(name, series.values, std::move(single), disorder, out);
  if (finished) out.title = series.name;
  return finished;
}

std::vector<double> series_times(const SeriesTable& table, const Series& series) {
  if (!series.time.empty()) return series.time;
  std::vector<double> time;
  std::vector<float> single;
  generated_axes(table, series, time, single);
  time.assign(single.begin(), single.end());
  return time;
}

Status prepare_series(const std::string& name, std::vector<float> values,
                      std::vector<double> time, ChosenSeries& out, const spectral::Sampling* known) {
  if (time.size() != values.size()) {
    return Status::failure("Series" + spaced(name) + " has " + std::to_string(time.size()) +
                           " times and " + std::to_string(values.size()) + " values.");
  }
  out.time = std::move(time);
  const auto disorder = [&](std::size_t j) {
    const double now = out.time[j];
    const double before = out.time[j - 1];
    const std::string where = "Series" + spaced(name) + ": value " + std::to_string(j + 1) +
                              " has the time " + time_text(now);
    const std::string rule = "; the times of a series must increase or decrease throughout.";
    if (now == before) return where + ", the same as value " + std::to_string(j) + rule;
    return where + " after " + time_text(before) + " of value " + std::to_string(j) + rule;
  };
  Status finished = finish_series(name, std::move(values), {}, disorder, out, known);
  if (finished) out.title = name;
  return finished;
}

}  // namespace quorvane::input
