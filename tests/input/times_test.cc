// The times of the series read from a file: missing cells at their own
// times, decreasing ages put in increasing order, times that repeat or turn
// back refused by their lines, and the csv layout.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "input/series_file.h"
#include "input_test_support.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace quorvane::input {
namespace {

using namespace testing;

// Every series of the file as "name class time:value ... (missing m)", or
// the reason it was refused; or the reason the file was not read.
std::string read_and_describe(const std::vector<std::string>& lines, const ReadOptions& options) {
  auto file = textio::LineReader::from_lines(lines);
  Dialogue messages("");
  SeriesTable table;
  if (Status read = read_series(file, options, table, messages.console); !read)
    return "not read: " + read.message;
  std::string text;
  for (std::size_t k = 0; k < table.series.size(); ++k) {
    ChosenSeries s;
    text += text.empty() ? "" : " | ";
    if (Status chosen = choose_series(table, k, s); !chosen) {
      text += chosen.message;
      continue;
    }
    const char* kinds[] = {"even", "gaps", "uneven"};
    text += s.title + " " + kinds[static_cast<int>(s.sampling.kind)];
    for (std::size_t i = 0; i < s.y.size(); ++i) {
      char pair[48];
      std::snprintf(pair, sizeof pair, " %g:%g", s.time[i], static_cast<double>(s.y[i]));
      text += pair;
    }
    if (s.sampling.missing > 0) text += " (missing " + std::to_string(s.sampling.missing) + ")";
    if (s.sampling.reversed) text += " reversed";
  }
  return text;
}

struct TimesCase {
  ReadOptions options;
  std::vector<std::string> lines;
  std::string expected;
};

TEST(Times, EachValueKeepsItsOwnTimeAndDisorderIsRefusedByLine) {
  const ReadOptions multi{.iform = 5, .ncol = 4, .sentinel = "*"};
  const ReadOptions two{.iform = 4};
  const ReadOptions csv{.iform = 8};
  const std::vector<TimesCase> cases = {
      {multi,
       {"yr a b c", "1900 1 * 5", "1901 2 7 5", "1902 * 8", "5", "1903 4 9 5", "1904 5 * 5"},
       "a        gaps 1900:1 1901:2 1903:4 1904:5 (missing 1) | b        even 1901:7 1902:8 1903:9 "
       "| c        even 1900:5 1901:5 1902:5 1903:5 1904:5"},
      {{.iform = 5, .ncol = 2, .sentinel = "*"},
       {"yr a", "1900 1", "1901 *", "1900 3"},
       "Series a: line 4 has the time 1900, the same as line 2; the times of a series must "
       "increase or decrease throughout."},
      {two,
       {"age     ice", "30 3", "20 2", "10 1", "age     up", "1 1", "2 2", "", "1.5 3"},
       "ice      even 10:1 20:2 30:3 reversed | Series up: line 9 has the time 1.5 after 2 on line "
       "7; the times of a series must increase or decrease throughout."},
      {csv,
       {"\xEF\xBB\xBFtime,\"b, c\",site,d", "1,NA,x,1", "2,2.5,y,2", "3,,z,3", "4,nan,w,4", "5,5",
        "6,6e1,v,6"},
       "b, c     gaps 2:2.5 5:5 6:60 (missing 2) | d        gaps 1:1 2:2 3:3 4:4 6:6 (missing 1)"},
      {{.iform = 8, .lskip = 1, .time_column = "age (ka)", .value_columns = {"d18O", "c"}},
       {"title", "c\t\"age (ka)\"\td18O", "1\t0.5\t-1", "2\t1.5\t-2"},
       "d18O     even 0.5:-1 1.5:-2 | c        even 0.5:1 1.5:2"},
      {csv,
       {"\"\";\"t\";\"v\"", "\"1\";10;1,5", "\"2\";20;2,25"},
       "v        even 10:1.5 20:2.25"},
      {csv, {"t,v", "1,2", "2,two"},
       "not read: Line 3, column 2 (v): 'two' is neither a number nor a missing value (empty, NA "
       "or NaN)."},
      {csv, {"t,v", "1,2", ",3"},
       "not read: Line 3, column 1 (t): the time is missing for the value in column 2 (v)."},
      {csv, {"t,v", "1,2,3"}, "not read: Line 2 has 3 cells; the header names 2 columns."},
      {{.iform = 8, .value_columns = {"w"}}, {"t,v", "1,2"},
       "not read: No column of the header is named w; it names t, v."},
      {{.iform = 8, .value_columns = {"v", "u", " v"}}, {"t,u,v", "1,2,3"},
       "not read: The column v is named twice among the series' columns."},
  };
  for (const TimesCase& c : cases) EXPECT_EQ(read_and_describe(c.lines, c.options), c.expected);
}

}  // namespace
}  // namespace quorvane::input
