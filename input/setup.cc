// The input dialogue: format menu, reading of the file into the series table,
// series selection, time step, view and confirmation.
#include "input/setup.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "input/help_screens.h"
#include "input/reader_support.h"
#include "input/readers.h"
#include "input/series_file.h"
#include "input/series_table.h"
#include "textio/layout.h"
#include "textio/line_reader.h"

namespace quorvane::input {

using textio::Console;

struct SeriesInput::Table {
  SeriesTable table;
};

namespace {

constexpr std::string_view kTryAgain = "             Hit RETURN to try again";
constexpr std::string_view kRule68 =
    " ____________________________________________________________________";

void format_menu(Console& console) {
  console.blank_line();
  console.line(" ____    Input Data Format Menu     ____");
  console.line(" ________________________________________");
  console.line(" Raw ring-widths (decade)             [1] ");
  console.line(" Chronologies (index)                 [2] ");
  console.line(" Single Column                        [3]");
  console.line(" Two Column                           [4]");
  console.line(" Multiple Columns                     [5]");
  console.line(" Monthly Climate [TSF]                [6]");
  console.line(" Other                                [7]");
  console.line(" Enter zero for help                  [0]  ");
  console.line(" ________________________________________");
}

void no_series(Console& console) {
  console.blank_line();
  console.line(" No series were found in the file.");
  console.pause(kTryAgain);
}

// The format menu and the reading of the file, until a reading gives at
// least one series; that reading replaces the table.
void read_file(Console& console, const std::string& fname, SeriesTable& table) {
  while (true) {
    format_menu(console);
    long long iform = console.ask_integer(" Enter a value between       [0-7]   : ");
    console.blank_line();
    if (iform < 0 || iform > 7) {
      console.blank_line();
      console.line(" WARNING: You must enter a value between 0 and 7");
      console.pause(kTryAgain);
      continue;
    }
    if (iform == 0) {
      dathlp(console, fname);
      continue;
    }
    if (Status fits = check_reading_memory(fname); !fits) {
      console.blank_line();
      console.line(" " + fits.message);
      console.pause(kTryAgain);
      continue;
    }
    textio::LineReader file;
    if (!file.open(fname)) {
      console.blank_line();
      console.line(" The file " + fname + " cannot be opened.");
      console.pause(kTryAgain);
      continue;
    }
    SeriesTable fresh;
    fresh.iform = static_cast<int>(iform);
    ReadStop stop = ReadStop::None;
    if (iform == 1) {
      bool found = read_raw_ring_widths(console, file, fresh, stop);
      file.close();
      if (stop != ReadStop::None) stop_reading(console, stop);
      if (!found) {
        console.blank_line();
        console.line(" WARNING: There was an error reading data");
        console.line(" Hit RETURN to Try again or bail out now");
        continue;
      }
      console.blank_line();
      console.line(" Input data read successfully");
    } else if (iform == 2) {
      read_chronologies(file, fresh, stop);
      file.close();
      if (stop != ReadStop::None) stop_reading(console, stop);
      if (fresh.series.empty()) {
        no_series(console);
        continue;
      }
      console.write("(1x,i3,' series read successfully')",
                    {static_cast<long long>(fresh.series.size())});
    } else {
      bool lok = false;
      switch (iform) {
        case 3: lok = rd1col(console, file, fresh); break;
        case 4: lok = rd2col(console, file, fresh); break;
        case 5: lok = rdmcol(console, file, fresh); break;
        case 6: lok = rdmet(console, file, fresh); break;
        default: lok = rdrows(console, file, fresh); break;
      }
      file.close();
      if (!lok) {
        console.blank_line();
        console.line(" Input data not read in successfully");
        console.pause(kTryAgain);
        continue;
      }
      if (fresh.series.empty()) {
        no_series(console);
        continue;
      }
      console.blank_line();
      console.line(" Input data read successfully");
    }
    table = std::move(fresh);
    return;
  }
}

// Digits of the selection field: 3, or more when the table is that long.
int selection_width(std::size_t nser) {
  return std::max<int>(3, static_cast<int>(std::to_string(nser).size()));
}

// The layouts of the selection menu, whose number fields are `width` wide;
// parsed once for each pass through the selection.
struct SelectionLayouts {
  explicit SelectionLayouts(int width)
      : one_per_line(textio::RecordLayout::fixed("(1x," + number(width) + ",')',1x,a)")),
        five_per_line(textio::RecordLayout::fixed("(1x,5(1x," + number(width) + ",')',1x,a))")),
        prompt(textio::RecordLayout::fixed("(1x,'Select a series to analyse [1-'," +
                                           number(width) + ",'] : ',$)")),
        warning(textio::RecordLayout::fixed("(/1x,'WARNING: '," + number(width) +
                                            ",' is not a valid selection')")) {}
  static std::string number(int width) { return std::string("i").append(std::to_string(width)); }
  textio::RecordLayout one_per_line, five_per_line, prompt, warning;
};

void selection_menu(Console& console, const SeriesTable& table, const SelectionLayouts& layouts) {
  console.blank_line();
  console.line("  _____________________ Series selection menu _____________________");
  console.line(kRule68);
  const auto& series = table.series;
  if (table.iform == 4) {
    for (std::size_t k = 0; k < series.size(); ++k)
      console.write(layouts.one_per_line, {static_cast<long long>(k + 1), series[k].name});
  } else {
    for (std::size_t first = 0; first < series.size(); first += 5) {
      std::vector<textio::Value> row;
      for (std::size_t k = first; k < std::min(first + 5, series.size()); ++k) {
        row.emplace_back(static_cast<long long>(k + 1));
        row.emplace_back(series[k].name);
      }
      console.write(layouts.five_per_line, row);
    }
  }
  console.line(kRule68);
}

}  // namespace

SeriesInput::SeriesInput() : table_(std::make_unique<Table>()) {}
SeriesInput::~SeriesInput() = default;

ChosenSeries SeriesInput::setup(Console& console, const std::string& fname, bool reuse) {
  SeriesTable& table = table_->table;
  // Re-selection needs a table; without one the file is read first.
  if (!reuse || table.series.empty()) read_file(console, fname, table);

  const std::size_t nser = table.series.size();
  const int width = selection_width(nser);
  const SelectionLayouts layouts(width);
  const std::string prompt =
      textio::write_record(layouts.prompt, {static_cast<long long>(nser)}).text;
  while (true) {
    selection_menu(console, table, layouts);
    long long isel = console.ask_fixed_integer(prompt, width);
    if (isel < 1 || isel > static_cast<long long>(nser)) {
      console.write(layouts.warning, {isel});
      console.pause(kTryAgain);
      continue;
    }
    ChosenSeries chosen;
    if (Status refusal = choose_series(table, static_cast<std::size_t>(isel - 1), chosen);
        !refusal) {
      console.blank_line();
      console.line(" " + refusal.message);
      console.pause(kTryAgain);
      continue;
    }

    console.blank_line();
    console.line(" Do you want to view the data you just selected?");
    if (console.ask_logical(" [T]rue or [F]alse : ")) {
      console.write("(/1x,'  x       y       dt = ',f8.4)", {static_cast<double>(chosen.dt)});
      // The times in single precision, as they have always been shown, where
      // it tells them apart.
      const bool single = !chosen.time_single.empty();
      for (std::size_t i = 0; i < chosen.time.size(); ++i) {
        const double time = single ? static_cast<double>(chosen.time_single[i]) : chosen.time[i];
        console.write_free({time, static_cast<double>(chosen.y[i])});
      }
      console.blank_line();
      if (!console.ask_logical("  OK? [T]rue or [F]alse : ")) continue;
    }
    return chosen;
  }
}

}  // namespace quorvane::input
