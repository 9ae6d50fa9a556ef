// Readers of tree-ring files in decade layout: raw ring widths (trrw, with
// the self-describing layout of datar) and chronologies (aindx). Every data
// line carries an id, the year of its first value and up to ten values.
#include <cmath>
#include <cstdlib>
#include <string>
#include <variant>
#include <vector>

#include "input/reader_support.h"
#include "input/readers.h"
#include "textio/layout.h"

namespace quorvane::input {

using textio::ReadStatus;
using textio::Value;

namespace {

// Text lines (titles, headers) one trrw call passes over before it stops.
constexpr int kMaxTextLines = 25;
// Width of trrw's line buffer.
constexpr std::size_t kRawLineWidth = 80;
// The value fields of a raw decade line: ten of 6 columns from column 13.
constexpr std::size_t kRawFirstField = 12;
constexpr std::size_t kRawFieldWidth = 6;
// Chronology pairs: 4 columns of index and 3 of sample count from column 11.
constexpr std::size_t kPairColumn = 10;
constexpr std::size_t kPairWidth = 7;

bool blank_columns(const std::string& line, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to && i < line.size(); ++i)
    if (line[i] != ' ' && line[i] != '\t') return false;
  return true;
}

std::string trimmed_right(const std::string& text) {
  std::size_t end = text.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

// Values on the first decade line of a series: the years from the line's
// year to the end of its decade (10 - year mod 10; for a negative year the
// absolute remainder, a whole decade when it is 0).
int first_line_count(int year) {
  int remainder = year % 10;
  if (year >= 0) return 10 - remainder;
  return remainder == 0 ? 10 : -remainder;
}

// The chronology decade layout after the id and year: `skip` pairs (0 to 9)
// passed over, then the rest of the ten pairs read, as in (31x,7(f4.3,i3))
// for a first year 1953. The ten layouts are made once.
const textio::RecordLayout& pair_layout(int skip) {
  static const std::vector<textio::RecordLayout> layouts = [] {
    std::vector<textio::RecordLayout> made;
    for (int s = 0; s < 10; ++s)
      made.push_back(textio::RecordLayout::fixed(std::string("(")
                                                     .append(std::to_string(10 + 7 * s))
                                                     .append("x,")
                                                     .append(std::to_string(10 - s))
                                                     .append("(f4.3,i3))")));
    return made;
  }();
  return layouts[static_cast<std::size_t>(skip)];
}

// Self-describing header: the count, the first year and the record layout.
constexpr textio::BuiltinLayout kSelfDescribingHeader = "(2(2x,i8),t23,a8)";
// Raw decade lines; a '-' in column 8 or 7 marks a wider (negative) year.
constexpr textio::BuiltinLayout kRawDecade = "(a8,i4,10i6)";
constexpr textio::BuiltinLayout kRawDecadeYear5 = "(a7,i5,10i6)";
constexpr textio::BuiltinLayout kRawDecadeYear6 = "(a6,i6,10i6)";
// The first decade line of a chronology: id, year and label.
constexpr textio::BuiltinLayout kChronologyStart = "(a6,i4,T81,a8)";

}  // namespace

void stop_reading(textio::Console& console, ReadStop stop) {
  if (stop == ReadStop::TooManyTextLines) console.stop("sbr trrw:  over 25 text lines");
  console.error_line(" Error reading data");
  console.stop(" Program terminating");
}

std::string describe(ReadStop stop, std::size_t line) {
  const std::string where = "line " + std::to_string(line);
  if (stop == ReadStop::TooManyTextLines)
    return "more than 25 text lines before a decade line (at " + where +
           "): this is not a raw ring-width file";
  return where + " is not a chronology decade line";
}

void datar(textio::Writer& console, textio::LineReader& file, std::string& text, int& count,
           std::vector<float>& values, int& first_year) {
  const textio::RecordLayout& header = kSelfDescribingHeader.layout();
  values.clear();
  std::string line;
  std::vector<Value> fields;
  while (true) {
    if (!file.next_line(line)) {
      count = -999;
      return;
    }
    if (line.rfind("n  ", 0) != 0) text = line.substr(0, kRawLineWidth);
    if (textio::read_line_fields(header, line, fields) != ReadStatus::Ok) continue;
    const std::string& rfmt = std::get<std::string>(fields[2]);
    if (rfmt.find('(') == std::string::npos || rfmt.find(')') == std::string::npos) continue;

    long long stated = std::get<long long>(fields[0]);
    first_year = static_cast<int>(std::get<long long>(fields[1]));
    auto parsed = textio::RecordLayout::parse(trimmed_right(rfmt));
    if (const auto* error = std::get_if<textio::LayoutError>(&parsed)) {
      console.line(" >> sbr datar:  the format " + trimmed_right(rfmt) + " cannot be used: " +
                   error->message + " at position " + std::to_string(error->position + 1));
      count = -999;
      return;
    }
    // Every value takes at least a character of the file; a count beyond
    // them is not a count of this file's values (and would read fields of
    // nothing into memory).
    if (stated > 0 && static_cast<unsigned long long>(stated) > file.characters_left()) {
      console.line(" >> sbr datar:  the header states " + std::to_string(stated) +
                   " values, more than the rest of the file can hold");
      count = -999;
      return;
    }
    std::vector<Value> read;
    ReadStatus status = textio::read_record(std::get<textio::RecordLayout>(parsed), file,
                                            stated > 0 ? static_cast<std::size_t>(stated) : 0,
                                            read);
    for (const Value& value : read) {
      float number = 0.0f;
      if (!value_to_float(value, number)) {
        status = ReadStatus::Error;
        break;
      }
      values.push_back(number);
    }
    if (status == ReadStatus::Error) console.line(" >> sbr datar:  error reading data");
    if (status == ReadStatus::End) console.line(" >> sbr datar:  unexpected end reading data");
    // After a failed read only the values actually read are kept.
    count = static_cast<int>(values.size());
    return;
  }
}

void trrw(textio::Console& console, textio::LineReader& file, RingSeries& series, int& status) {
  ReadStop stop = ReadStop::None;
  next_ring_series(console, file, series, status, stop);
  if (stop != ReadStop::None) stop_reading(console, stop);
}

void next_ring_series(textio::Writer& console, textio::LineReader& file, RingSeries& series,
                      int& status, ReadStop& stop) {
  const textio::RecordLayout& usual = kRawDecade.layout();
  const textio::RecordLayout& year5 = kRawDecadeYear5.layout();
  const textio::RecordLayout& year6 = kRawDecadeYear6.layout();
  series = RingSeries{};
  series.id.assign(8, ' ');
  status = (status > 0 ? status : 0) + 1;
  int text_lines = 0;
  int decade_lines = 0;
  std::string line;
  std::vector<Value> fields;
  while (true) {
    if (!file.next_line(line)) {
      if (decade_lines > 0) {
        // Without its end value the units of the series are unknown.
        console.line(" Series " + trimmed_right(series.id) +
                     " has no end value (-9999 or 999) before the end of the file;");
        console.line(" its " + std::to_string(series.values.size()) + " values are not used.");
      }
      series.values.clear();
      series.count = -999;
      status = -999;
      return;
    }
    std::string buffer = line.substr(0, kRawLineWidth);
    buffer.resize(kRawLineWidth, ' ');

    if (series.values.empty() && buffer[kRawLineWidth - 1] == '#') {
      file.back();
      datar(console, file, series.title, series.count, series.values, series.first_year);
      series.id = buffer.substr(0, 8);
      return;
    }
    if (blank_columns(buffer, 8, 12)) continue;

    // Column 8 or 7 holding '-' marks a wider (negative) year field.
    const textio::RecordLayout& layout = buffer[7] == '-' ? year5 : buffer[6] == '-' ? year6 : usual;
    if (textio::read_line_fields(layout, buffer, fields) != ReadStatus::Ok) {
      if (++text_lines > kMaxTextLines) {
        stop = ReadStop::TooManyTextLines;
        series.values.clear();
        series.count = -999;
        status = -999;
        return;
      }
      std::string text = trimmed_right(buffer);
      if (text_lines == 1) {
        console.write("(/1x,'title of data:'/1x,a)", {text});
        series.title = text;
      } else {
        console.line(" " + text);
      }
      continue;
    }

    ++decade_lines;
    int year = static_cast<int>(std::get<long long>(fields[1]));
    int count_on_line = 10;
    if (decade_lines == 1) {
      series.id = name8(std::get<std::string>(fields[0]));
      series.first_year = year;
      count_on_line = first_line_count(year);
    }
    for (int f = 0; f < count_on_line; ++f) {
      long long value = std::get<long long>(fields[2 + f]);
      if (value == -9999) {
        // The series was in thousandths of a millimetre.
        for (float& width : series.values) width *= 0.1f;
        series.count = static_cast<int>(series.values.size());
        return;
      }
      // 999 ends a series only where no further value follows on the line;
      // elsewhere it is a ring width like any other (0.999 mm in a series
      // that ends with -9999).
      std::size_t next_field = kRawFirstField + kRawFieldWidth * static_cast<std::size_t>(f + 1);
      std::size_t line_end = kRawFirstField + kRawFieldWidth * static_cast<std::size_t>(count_on_line);
      if (value == 999 && blank_columns(buffer, next_field, line_end)) {
        series.count = static_cast<int>(series.values.size());
        return;
      }
      series.values.push_back(static_cast<float>(value) * 0.01f);
    }
  }
}

bool aindx(textio::Console& console, textio::LineReader& file, Series& slot,
           std::vector<int>& sample_counts, int nhead, bool& lok) {
  ReadStop stop = ReadStop::None;
  bool found = next_chronology(file, slot, sample_counts, nhead, lok, stop);
  if (stop != ReadStop::None) stop_reading(console, stop);
  return found;
}

bool next_chronology(textio::LineReader& file, Series& slot, std::vector<int>& sample_counts,
                     int nhead, bool& lok, ReadStop& stop) {
  // An unreadable line ends the reading: no further series can be trusted.
  auto unreadable = [&] {
    stop = ReadStop::UnreadableDecadeLine;
    lok = true;
    return false;
  };
  std::string line;
  for (int h = 0; h < nhead; ++h) {
    if (!file.next_line(line)) {
      lok = true;
      return false;
    }
  }
  if (!file.next_line(line)) {
    lok = true;
    return false;
  }
  std::vector<Value> fields;
  if (textio::read_line_fields(kChronologyStart.layout(), line, fields) !=
      ReadStatus::Ok) {
    return unreadable();
  }
  file.back();

  slot = Series{};
  sample_counts.clear();
  slot.name = name8(std::get<std::string>(fields[0]).substr(0, 6));
  slot.iyr1 = static_cast<int>(std::get<long long>(fields[1]));
  // The first line's values stand at their decade positions.
  int pairs = first_line_count(slot.iyr1);
  int skip = 10 - pairs;
  const textio::RecordLayout* layout = &pair_layout(skip);
  std::size_t first_pair_column = kPairColumn + kPairWidth * static_cast<std::size_t>(skip);
  while (true) {
    if (!file.next_line(line)) {
      lok = true;
      return true;
    }
    if (textio::read_line_fields(*layout, line, fields) != ReadStatus::Ok) return unreadable();
    // Empty pairs at the end of a short line hold no values.
    auto blank_pair = [&](int p) {
      std::size_t column = first_pair_column + kPairWidth * static_cast<std::size_t>(p);
      return blank_columns(line, column, column + kPairWidth);
    };
    int filled = pairs;
    while (filled > 0 && blank_pair(filled - 1)) --filled;
    for (int p = 0; p < filled; ++p) {
      float index = 0.0f;
      if (!value_to_float(fields[2 * p], index)) return unreadable();
      long long samples = std::get<long long>(fields[2 * p + 1]);
      if (std::get<double>(fields[2 * p]) == 9.99 && samples == 0) {
        lok = false;
        return true;
      }
      slot.values.push_back(index);
      sample_counts.push_back(static_cast<int>(samples));
    }
    pairs = 10;
    layout = &pair_layout(0);
    first_pair_column = kPairColumn;
  }
}

}  // namespace quorvane::input
