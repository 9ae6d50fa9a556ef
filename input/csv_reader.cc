// The csv layout: a header row naming the columns, then one row per time,
// as spreadsheets, pandas and R write them.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "input/reader_support.h"
#include "input/readers.h"
#include "textio/free_format.h"

namespace quorvane::input {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The separator the header line uses most often outside quotes: comma,
// semicolon or tab (a comma when it holds none, a one-column file).
char detect_separator(std::string_view header) {
  std::size_t commas = 0, semicolons = 0, tabs = 0;
  bool quoted = false;
  for (char c : header) {
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    commas += c == ',';
    semicolons += c == ';';
    tabs += c == '\t';
  }
  if (tabs > commas && tabs > semicolons) return '\t';
  if (semicolons > commas) return ';';
  return ',';
}

std::string_view trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Splits one line into its cells: blanks around a cell are dropped, and a
// cell in double quotes may hold the separator ("" stands for one quote).
// The strings of `cells` are reused from line to line.
void split_cells(std::string_view line, char separator, std::vector<std::string>& cells) {
  std::size_t count = 0;
  std::size_t i = 0;
  while (true) {
    if (count == cells.size()) cells.emplace_back();
    std::string& cell = cells[count++];
    cell.clear();
    while (i < line.size() && (line[i] == ' ' || (line[i] == '\t' && separator != '\t'))) ++i;
    if (i < line.size() && line[i] == '"') {
      for (++i; i < line.size(); ++i) {
        if (line[i] != '"') {
          cell += line[i];
        } else if (i + 1 < line.size() && line[i + 1] == '"') {
          cell += line[++i];
        } else {
          ++i;
          break;
        }
      }
      i = std::min(line.find(separator, i), line.size());
    } else {
      const std::size_t end = std::min(line.find(separator, i), line.size());
      cell.assign(trimmed(line.substr(i, end - i)));
      i = end;
    }
    if (i >= line.size()) break;
    ++i;  // the separator
  }
  cells.resize(count);
}

bool is_missing(std::string_view cell) {
  const auto is = [cell](std::string_view word) {
    if (cell.size() != word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
      if (std::tolower(static_cast<unsigned char>(cell[i])) != word[i]) return false;
    return true;
  };
  return cell.empty() || is("na") || is("nan");
}

// The text of a number cell as the number readers take it: with semicolons
// between cells, a decimal comma (as European spreadsheets write it) reads
// as a decimal point.
std::string number_text(const std::string& cell, char separator) {
  if (separator != ';' || std::count(cell.begin(), cell.end(), ',') != 1 ||
      cell.find('.') != std::string::npos)
    return cell;
  std::string pointed = cell;
  std::replace(pointed.begin(), pointed.end(), ',', '.');
  return pointed;
}

// A header name as messages and results show it: names beyond 1000 bytes
// (which no one reads whole, and which would flood every message that names
// the column) keep their first 1000 bytes, cut at a character boundary, and
// an ellipsis.
constexpr std::size_t kShownNameBytes = 1000;

std::string shown_name(const std::string& name) { return shortened(name, kShownNameBytes); }

// A cell shown in a message: at most 40 bytes of it.
std::string cell_excerpt(const std::string& cell) { return shortened(cell, 40); }

int whole_part(double time) {
  const auto narrow = static_cast<float>(time);
  if (!(narrow > static_cast<float>(INT_MIN) && narrow < static_cast<float>(INT_MAX))) return 0;
  return static_cast<int>(narrow);
}

// A column that may become a series: named in the options (then every cell
// must be a number or missing), or any other column, which becomes a series
// when its first cell that is not missing is a number (a column of text,
// such as site names or dates, is passed over).
struct Candidate {
  std::size_t column = 0;
  bool named = false;
  enum class Kind { Undecided, Numeric, Text } kind = Kind::Undecided;
  Series series;
  std::string first_text = {};  // a Text column's first cell, and its line
  std::size_t first_text_line = 0;
};

std::string column_label(std::size_t column, const std::vector<std::string>& names) {
  std::string label = "column " + std::to_string(column + 1);
  if (column < names.size() && !names[column].empty()) label += " (" + names[column] + ")";
  return label;
}

}  // namespace

bool read_csv(textio::Writer& messages, textio::LineReader& file, const std::string& time_column,
              const std::vector<std::string>& value_columns, SeriesTable& table) {
  table.series.clear();
  table.skipped_columns.clear();
  std::string line;
  bool have_header = false;
  while (!have_header && file.next_line(line)) have_header = !trimmed(line).empty();
  if (!have_header) {
    messages.line(" The file holds no header line naming its columns.");
    return false;
  }
  if (line.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0)
    line.erase(0, kByteOrderMark.size());
  const char separator = detect_separator(line);
  std::vector<std::string> names;
  split_cells(line, separator, names);
  // Names are matched whole and shown shortened.
  std::vector<std::string> shown;
  for (const auto& name : names) shown.push_back(shown_name(name));
  const auto find = [&names](const std::string& wanted) {
    const std::string_view name = trimmed(wanted);
    for (std::size_t c = 0; c < names.size(); ++c)
      if (names[c] == name) return c;
    return names.size();
  };
  const auto listed = [&shown] {
    std::string text;
    for (const auto& name : shown) text += (text.empty() ? "" : ", ") + name;
    return text;
  };

  // The time column: the one named, else the first; a first column without
  // a name is the row index that R and pandas write, and is passed over.
  std::size_t time_at = 0;
  if (!time_column.empty()) {
    time_at = find(time_column);
    if (time_at == names.size()) {
      messages.line(" No column of the header is named " + time_column + "; it names " +
                    listed() + ".");
      return false;
    }
  } else if (names.size() > 2 && names[0].empty()) {
    time_at = 1;
  }
  std::vector<Candidate> candidates;
  if (!value_columns.empty()) {
    for (const auto& wanted : value_columns) {
      const std::size_t c = find(wanted);
      if (c == names.size()) {
        messages.line(" No column of the header is named " + wanted + "; it names " + listed() +
                      ".");
        return false;
      }
      if (c == time_at) {
        messages.line(" The column " + wanted + " holds the times; it cannot be a series too.");
        return false;
      }
      // A column named twice would be read as two series of the same values.
      if (std::any_of(candidates.begin(), candidates.end(),
                      [c](const Candidate& taken) { return taken.column == c; })) {
        messages.line(" The column " + std::string(trimmed(wanted)) +
                      " is named twice among the series' columns.");
        return false;
      }
      candidates.push_back({c, true, Candidate::Kind::Numeric, {}});
    }
  } else {
    for (std::size_t c = 0; c < names.size(); ++c)
      if (c != time_at && !(c == 0 && names[0].empty() && names.size() > 2))
        candidates.push_back({c, false, Candidate::Kind::Undecided, {}});
  }

  std::vector<std::string> cells;
  while (file.next_line(line)) {
    if (trimmed(line).empty()) continue;
    const std::size_t at = file.position();
    split_cells(line, separator, cells);
    if (cells.size() > names.size()) {
      messages.line(" Line " + std::to_string(at) + " has " + std::to_string(cells.size()) +
                    " cells; the header names " + std::to_string(names.size()) + " columns.");
      return false;
    }
    // Cells left out at the end of a row are missing.
    cells.resize(names.size());
    const auto bad_cell = [&](std::size_t column) {
      const std::string& cell = cells[column];
      const std::string what =
          number_like(number_text(cell, separator))
              ? "is a number beyond single precision or not finite (values must be finite and at "
                "most about 3.4e38 in size)"
              : "is neither a number nor a missing value (empty, NA or NaN)";
      messages.line(" Line " + std::to_string(at) + ", " + column_label(column, shown) + ": '" +
                    cell_excerpt(cell) + "' " + what + ".");
      return false;
    };
    double time = 0.0;
    const bool time_missing = is_missing(cells[time_at]);
    if (!time_missing && !textio::parse_time(number_text(cells[time_at], separator), time))
      return bad_cell(time_at);
    for (Candidate& candidate : candidates) {
      if (candidate.kind == Candidate::Kind::Text) continue;
      const std::string& cell = cells[candidate.column];
      if (is_missing(cell)) continue;
      float value = 0.0f;
      const std::string text = number_text(cell, separator);
      if (!textio::parse_real(text, value)) {
        // A number out of range (inf, 1e39) first in its column still makes
        // the column one of numbers, refused at that cell: taking it for text
        // would pass the whole column over.
        if (candidate.kind == Candidate::Kind::Numeric || number_like(text))
          return bad_cell(candidate.column);
        candidate.kind = Candidate::Kind::Text;
        candidate.first_text = cell;
        candidate.first_text_line = at;
        continue;
      }
      candidate.kind = Candidate::Kind::Numeric;
      if (time_missing) {
        messages.line(" Line " + std::to_string(at) + ", " + column_label(time_at, shown) +
                      ": the time is missing for the value in " +
                      column_label(candidate.column, shown) + ".");
        return false;
      }
      Series& series = candidate.series;
      series.lines.add(series.values.size(), at);
      series.time.push_back(time);
      series.values.push_back(value);
    }
  }

  for (Candidate& candidate : candidates) {
    const std::string& name = shown[candidate.column];
    if (!candidate.named && candidate.kind != Candidate::Kind::Numeric) {
      const std::string reason =
          candidate.kind == Candidate::Kind::Text
              ? "text ('" + cell_excerpt(candidate.first_text) + "' on line " +
                    std::to_string(candidate.first_text_line) + "), not numbers"
              : "no values (every cell is missing)";
      table.skipped_columns.push_back({name.empty() ? column_label(candidate.column, shown) : name,
                                       reason});
      continue;
    }
    Series& series = candidate.series;
    series.name = name.empty() ? numbered_name("Col_____", static_cast<int>(candidate.column + 1))
                               : name;
    if (series.name.size() < 8) series.name.resize(8, ' ');
    if (!series.time.empty()) {
      series.iyr1 = whole_part(series.time.front());
      series.iyrn = whole_part(series.time.back());
    }
    table.series.push_back(std::move(series));
  }
  return true;
}

}  // namespace quorvane::input
