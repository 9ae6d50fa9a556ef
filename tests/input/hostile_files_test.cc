// Files and answers that once read wrong values, read outside their buffers
// or took unbounded time and memory: each is refused with a message that
// says what is wrong, and the reading stays bounded by the file.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "input/series_file.h"
#include "input_test_support.h"

namespace quorvane::input {
namespace {

using namespace testing;

struct Outcome {
  bool read = false;
  std::string error;
  std::string messages;
  SeriesTable table;
};

Outcome read_lines(const std::vector<std::string>& lines, const ReadOptions& options) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("quorvane_hostile_" + std::to_string(::getpid()) + ".dat");
  {
    std::ofstream file(path, std::ios::binary);
    for (const auto& line : lines) file << line << '\n';
  }
  Outcome outcome;
  Dialogue messages("");
  outcome.read = read_series_file(path.string(), options, outcome.table, messages.console,
                                  outcome.error);
  outcome.messages = messages.out.str();
  std::filesystem::remove(path);
  return outcome;
}

ReadOptions rows(const char* rfmt, int ncol) {
  ReadOptions options;
  options.iform = 7;
  options.rfmt = rfmt;
  options.ncol = ncol;
  return options;
}

std::string marked(std::string text) {
  text.resize(79, ' ');
  return text + '#';
}

TEST(HostileFiles, RowLayoutsThatCannotReadTheRowsAreRefused) {
  std::vector<std::string> short_rows(2000, "1901");
  short_rows.insert(short_rows.begin(), "header");
  short_rows.push_back(std::string(60, '1'));
  const struct {
    std::string name;
    std::vector<std::string> lines;
    ReadOptions options;
    std::string error;
  } cases[] = {
      // The empty last group would restart reading past the layout's items.
      {"empty group", {"header", "1901   1.50   2.50"}, rows("(i4,f7.2,())", 2),
       "an empty group at position 10."},
      {"absurd widths", {"header", "1901 1.5"}, rows("(i4,9999f999999.1)", 9999),
       "a line of the layout would be longer than 100000 characters at position 5."},
      // 9999 one-character columns on lines of four characters.
      {"columns past every line", short_rows, rows("(i4,9999f1.0)", 9999),
       "past the end of every line of the file (the longest has 60 characters)."},
      {"columns beyond the file", {"header", "1901 1"}, rows("(i4,f1.0)", 5000),
       "it has 14 characters."},
      // One long line lets every column begin somewhere; the short rows
      // would still give 55 values each from four characters.
      {"values beyond the characters", short_rows, rows("(i4,55f1.0)", 55),
       "check the format and the number of columns."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome outcome = read_lines(c.lines, c.options);
    EXPECT_FALSE(outcome.read);
    EXPECT_TRUE(ends_with(outcome.error, c.error)) << outcome.error;
  }
}

TEST(HostileFiles, SelfDescribingSeriesWithImpossibleLayoutsOrCountsAreRefused) {
  ReadOptions rings;
  rings.iform = 1;
  const struct {
    std::string header;
    std::string message;
  } cases[] = {
      {"n        3      1850  (i4())", " >> sbr datar:  the format (i4()) cannot be used: an empty "
                                      "group at position 4\n"},
      {"n 99999999      1850  (i99999)", " >> sbr datar:  the header states 99999999 values, more "
                                       "than the rest of the file can hold\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.header);
    Outcome outcome =
        read_lines({marked("SER01"), c.header, "  12", "  13", "  14", "  15"}, rings);
    EXPECT_FALSE(outcome.read);
    EXPECT_EQ(outcome.error, "no series were found in the file");
    EXPECT_EQ(outcome.messages.substr(outcome.messages.find(" >> ")), c.message);
  }
}

TEST(HostileFiles, MonthlyValuesBeyondSinglePrecisionNameTheirLine) {
  ReadOptions monthly;
  monthly.iform = 6;
  monthly.nvar = 1;
  monthly.mult = 1e30f;
  Outcome outcome = read_lines({"block", "1901 1e5", "1902 2e30", "1903 1"}, monthly);
  EXPECT_FALSE(outcome.read);
  EXPECT_EQ(outcome.error,
            "Line 3: a value times the multiplier 1.0E+30 is too large for single precision.");

  monthly.mult = 1e-3f;
  outcome = read_lines({"block", "1901 1e5", "1902 2e30", "1903 1"}, monthly);
  ASSERT_TRUE(outcome.read) << outcome.error;
  EXPECT_FLOAT_EQ(outcome.table.series[0].values[1], 2e27f);
}

// A value with two signs is not a ring width: the line is not a decade line.
TEST(HostileFiles, TwoSignsAreNotANumber) {
  ReadOptions rings;
  rings.iform = 1;
  Outcome outcome = read_lines({"HBM01B  1790 +-156   200 -9999"}, rings);
  EXPECT_FALSE(outcome.read);
  EXPECT_NE(outcome.messages.find("title of data:"), std::string::npos);
  outcome = read_lines({"HBM01B  1790  +156   200 -9999"}, rings);
  ASSERT_TRUE(outcome.read) << outcome.error;
  EXPECT_FLOAT_EQ(outcome.table.series[0].values[0], 0.156f);
}

}  // namespace
}  // namespace quorvane::input
