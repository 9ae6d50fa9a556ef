// Readers of block-structured climate files: monthly climate blocks (rdmet)
// and rows read with a record layout typed by the user (rdrows). A block is
// one header line followed by rows that begin with a year; a row that does
// not read ends the block and its line is read again as the next header.
#include <cmath>
#include <string>
#include <variant>
#include <vector>

#include "input/reader_support.h"
#include "input/readers.h"
#include "textio/free_format.h"
#include "textio/layout.h"

namespace quorvane::input {

using textio::FreeRead;
using textio::ReadStatus;

namespace {

bool is_blank(const std::string& line) {
  return line.find_first_not_of(" \t") == std::string::npos;
}

// Every column of a row must begin within some line of the file: a column
// that starts past the end of every line could only ever read as 0. Says
// which column cannot be read and returns false otherwise.
bool columns_fit_the_lines(textio::Writer& messages, const textio::LineReader& file,
                           const textio::RecordLayout& layout, long long ncol) {
  const std::size_t longest = file.longest_line_left();
  // Each column takes at least one character, so a count beyond the file's
  // characters is refused before its places are worked out.
  const std::size_t characters = file.characters_left();
  if (static_cast<unsigned long long>(ncol) > characters) {
    // Appended in turn: GCC 12 at -O3 misreads " " + std::string as an
    // overlapping copy (-Wrestrict).
    messages.line(
        std::string(" ").append(std::to_string(ncol)).append(" columns cannot fit in this file;"));
    messages.line(
        std::string(" it has ").append(std::to_string(characters)).append(" characters."));
    return false;
  }
  const auto places = textio::field_places(layout, 1 + static_cast<std::size_t>(ncol));
  for (std::size_t j = 1; j < places.size(); ++j) {
    if (places[j].column >= longest) {
      messages.line(" Column " + std::to_string(j) + " of a row starts at character " +
                    std::to_string(places[j].column + 1) + ",");
      messages.line(" past the end of every line of the file (the longest has " +
                    std::to_string(longest) + " characters).");
      return false;
    }
  }
  return true;
}

}  // namespace

bool usable_row_layout(textio::Writer& console, const std::string& rfmt,
                       textio::RecordLayout& layout) {
  auto parsed = textio::RecordLayout::parse(rfmt);
  if (const auto* error = std::get_if<textio::LayoutError>(&parsed)) {
    console.line(" The format " + rfmt + " cannot be used:");
    console.line(" " + error->message + " at position " + std::to_string(error->position + 1) +
                 ".");
    return false;
  }
  layout = std::get<textio::RecordLayout>(std::move(parsed));
  using textio::ItemKind;
  const textio::LayoutItem* first_data = nullptr;
  for (const auto& item : layout.items()) {
    if (item.kind == ItemKind::Text) {
      console.line(" The format " + rfmt + " reads text (an A item); rows hold numbers only.");
      return false;
    }
    bool number = item.kind == ItemKind::Integer || item.kind == ItemKind::Fixed ||
                  item.kind == ItemKind::Exponent || item.kind == ItemKind::General;
    if (number && first_data == nullptr) first_data = &item;
  }
  if (first_data == nullptr || first_data->kind != ItemKind::Integer) {
    console.line(" The format " + rfmt + " must read the year first, as an integer (I item),");
    console.line(" for example (1x,i4,7x,f7.2).");
    return false;
  }
  return true;
}

bool rdmet(textio::Console& console, textio::LineReader& file, SeriesTable& table) {
  table.series.clear();
  long long lskip = ask_lskip(console);
  long long nvar = 0;
  while (true) {
    nvar = console.ask_fixed_integer(" Enter the number of climate variables/line : ", 2);
    if (usable_values_per_line(console, nvar)) break;
  }
  console.line(" If your data are in integer format enter a multiplier");
  console.line(" to rescale their values to the proper units. Otherwise");
  float mult = console.ask_real(" enter a [1.0] : ");
  table.nvar = static_cast<int>(nvar);
  if (!skip_lines(console, file, lskip)) return false;
  return read_monthly(console, file, nvar, mult, table);
}

bool usable_values_per_line(textio::Writer& messages, long long nvar) {
  if (nvar >= 1) return true;
  messages.line(" There must be at least 1 variable per line.");
  return false;
}

bool read_monthly(textio::Writer& messages, textio::LineReader& file, long long nvar, float mult,
                  SeriesTable& table) {
  table.series.clear();
  if (!usable_values_per_line(messages, nvar)) return false;
  table.nvar = static_cast<int>(nvar);

  std::string header;
  std::vector<float> row;
  while (file.next_line(header)) {
    Series series;
    std::size_t rows = 0;
    ReadStatus status;
    while (true) {
      // One row: the year and nvar values, continuing on further lines when
      // a line holds fewer.
      FreeRead row_read(file);
      int year = 0;
      status = row_read.integer(year);
      row.clear();
      for (long long m = 0; status == ReadStatus::Ok && m < nvar; ++m) {
        float value = 0.0f;
        status = row_read.real(value);
        row.push_back(value * mult);
      }
      if (status != ReadStatus::Ok) break;
      for (float value : row) {
        if (!std::isfinite(value)) {
          messages.line(" Line " + std::to_string(file.position()) +
                        ": a value times the multiplier " + textio::free_real(mult) +
                        " is too large for single precision.");
          return false;
        }
      }
      if (rows == 0) series.iyr1 = year;
      series.values.insert(series.values.end(), row.begin(), row.end());
      ++rows;
    }
    series.name = numbered_name("Cell____", static_cast<int>(table.series.size() + 1));
    series.iyrn = last_year(series.iyr1, rows);
    table.series.push_back(std::move(series));
    end_block(file, status);
  }
  return true;
}

bool rdrows(textio::Console& console, textio::LineReader& file, SeriesTable& table) {
  table.series.clear();
  long long lskip = ask_lskip(console);
  console.blank_line();
  std::string rfmt = console.ask_text(" Enter format [within ( parentheses )] : ");
  textio::RecordLayout layout;
  if (!usable_row_layout(console, rfmt, layout)) return false;
  console.blank_line();
  long long ncol = console.ask_fixed_integer(" Enter number of columns to read: ", 4);
  if (!skip_lines(console, file, lskip)) return false;
  return read_rows(console, file, layout, ncol, table);
}

bool read_rows(textio::Writer& messages, textio::LineReader& file,
               const textio::RecordLayout& layout, long long ncol, SeriesTable& table) {
  table.series.clear();
  if (ncol < 1) return true;
  if (!columns_fit_the_lines(messages, file, layout, ncol)) return false;

  const auto columns = static_cast<std::size_t>(ncol);
  // Fields past the end of a line read as blanks; a layout that reads more
  // values than the rest of the file has characters is reading mostly
  // nothing, and would otherwise fill memory from a short file.
  const std::size_t value_budget = file.characters_left();
  std::size_t values_taken = 0;
  table.series.resize(columns);
  std::string line;
  std::vector<textio::Value> values;
  std::vector<float> row(columns);
  std::size_t rows = 0;
  while (file.next_line(line)) {  // the block header
    while (true) {
      // A blank line would read as a row of zeros: it ends the block instead.
      if (!file.next_line(line)) break;
      file.back();
      if (is_blank(line)) break;
      ReadStatus status = textio::read_record(layout, file, 1 + columns, values);
      if (status != ReadStatus::Ok) {
        end_block(file, status);
        break;
      }
      // values[0] is the row's year, which is not used.
      bool numbers = true;
      for (std::size_t j = 0; j < columns && numbers; ++j) numbers = value_to_float(values[1 + j], row[j]);
      if (!numbers) {
        file.back();
        break;
      }
      values_taken += columns;
      if (values_taken > value_budget) {
        messages.line(" The rows give more values than the file has characters:");
        messages.line(" check the format and the number of columns.");
        return false;
      }
      for (std::size_t j = 0; j < columns; ++j) table.series[j].values.push_back(row[j]);
      ++rows;
    }
  }
  for (std::size_t j = 0; j < columns; ++j) {
    Series& series = table.series[j];
    series.name = numbered_name("Col_____", static_cast<int>(j + 1));
    series.iyr1 = 1;
    series.iyrn = last_year(1, rows);
  }
  return true;
}

}  // namespace quorvane::input
