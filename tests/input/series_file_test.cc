// Reading a series file from answers given in advance: the same series as
// the dialogue reads with the same answers, and failures (among them files
// that once read wrong values, read outside their buffers or took unbounded
// time and memory) that come back as values naming what is wrong.
#include "input/series_file.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "input/help_screens.h"
#include "input/setup.h"
#include "input_test_support.h"

// Options are given by the names of the answers a case sets; the others keep
// their defaults, which is what the warning would question.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace quorvane::input {
namespace {

using namespace testing;

std::string example(const char* name) {
  return std::string(QUORVANE_SOURCE_DIR) + "/examples/" + name;
}

// A file (an example of the repository or the lines of a help screen's
// example), the dialogue's answers after the format code, the same answers
// as options, and one series of the file: its number, title, length, time
// step, first and last values, and lines the dialogue shows on the way.
struct SameAnswers {
  std::string path;  // empty: the lines below
  std::vector<std::string> lines;
  std::string answers;
  ReadOptions given;
  std::size_t series;  // series the file holds
  std::size_t chosen;
  std::string title;
  std::size_t npts;
  float dt, first, last;
  std::vector<std::string> shown{};
};

std::vector<SameAnswers> same_answer_cases() {
  const std::string lskip = " : \n\n Enter number of lines to skip from top of file : ";
  const std::string read = "\n Input data read successfully\n";
  return {
      {example("sunspots.dat"), {}, "", {.iform = 3}, 1, 1, "sunspots", 309, 1, 5.0f, 2.9f},
      {example("nino12.tsf"), {}, "3\n12\n0.01\n", {.iform = 6, .lskip = 3, .mult = 0.01f}, 1,
       1, "Cell___1", 732, 1.0f / 12, 23.11f, 22.07f},  // 1950 to December 2010
      {"", help_example_file(1), "", {.iform = 1}, 2, 2, "HBM01B  ", 51, 1, 0.212f, 0.156f,
       {" : \n 1 HBM01A  1940 2002 63\n 2 HBM01B  1740 1790 51\n" + read}},
      {"", help_example_file(2), "", {.iform = 2}, 2, 1, "tst1a.  ", 53, 1, 0.356f, 0.895f,
       {" : \n   2 series read successfully\n\n  _____________________ Series selection"}},
      {"", help_example_file(3), "", {.iform = 3}, 3, 3, "cbscdef ", 4, 1, 0.5f, 0.9f},
      {"", help_example_file(4), "0\n", {.iform = 4}, 2, 2, " Ti2 (%)", 8, 13.5f, 0.40f, 0.83f},
      {"", help_example_file(5, 1), "2\n6\n*\n",
       {.iform = 5, .lskip = 2, .ncol = 6, .sentinel = "*"}, 5, 2, "AB02    ", 12, 1, 0.717f,
       1.224f,  // 1946-1957
       {lskip + "\n Enter the total number of columns in your file\n"
                " [Program assumes Col_1 contains the X values] : \n"
                " Enter the sentinal value or character used to \n"
                " pad the records [can not be spaces, if ******* enter *] : " + read}},
      {"", help_example_file(5, 2), "2\n5\n-9.9\n",
       {.iform = 5, .lskip = 2, .ncol = 5, .sentinel = "-9.9"}, 4, 3, "ZZ03    ", 12, 12.0f / 11,
       20.9f, 20.2f},  // 1941-1953 without 1948: 12 values over 12 years
      // Zero values per row are asked again.
      {"", help_example_file(6), "5\n0\n12\n0.01\n", {.iform = 6, .lskip = 5, .mult = 0.01f}, 2,
       1, "Cell___1", 48, 1.0f / 12, 0.5f, -1.64f,
       {lskip + " Enter the number of climate variables/line : "
                " There must be at least 1 variable per line.\n"
                " Enter the number of climate variables/line : "
                " If your data are in integer format enter a multiplier\n"
                " to rescale their values to the proper units. Otherwise\n"
                " enter a [1.0] : " + read,
        "dt =   0.0833\n 1901.0 0.5\n 1901.083 -0.89\n", " 1901.917 -2.35\n 1902.0 0.77\n"}},
      {"", help_example_file(7), "5\n(1x,i4,7x,f7.2)\n1\n",
       {.iform = 7, .lskip = 5, .ncol = 1, .rfmt = "(1x,i4,7x,f7.2)"}, 1, 1, "Col____1", 9, 1,
       1.52f, -2.70f,
       {lskip + "\n Enter format [within ( parentheses )] : \n"
                " Enter number of columns to read: " + read}},
  };
}

// Every series of the file, chosen in the dialogue (which shows it) and from
// the table that read_series_file fills, is the same series with the same
// time step; and what the reading writes is what the dialogue writes while
// it reads.
TEST(SeriesFile, EveryLayoutReadsWhatTheDialogueReadsForTheSameAnswers) {
  for (const SameAnswers& c : same_answer_cases()) {
    SCOPED_TRACE(c.path.empty() ? c.lines.at(0) : c.path);
    std::unique_ptr<TempFile> temp;
    if (c.path.empty()) temp = std::make_unique<TempFile>(c.lines);
    const std::string path = c.path.empty() ? temp->path() : c.path;

    Dialogue messages("an answer the reading must not take\n");
    SeriesTable table;
    const Status read = read_series_file(path, c.given, table, messages.console);
    ASSERT_TRUE(read) << read.message;
    EXPECT_EQ(table.series.size(), c.series);
    EXPECT_EQ(table.iform, c.given.iform);
    EXPECT_EQ(messages.in.tellg(), 0) << "the reading read from its console";
    EXPECT_EQ(messages.err.str(), "");

    for (std::size_t k = 0; k < table.series.size(); ++k) {
      SCOPED_TRACE("series " + std::to_string(k + 1));
      ChosenSeries chosen;
      const Status chosen_status = choose_series(table, k, chosen);
      ASSERT_TRUE(chosen_status) << chosen_status.message;
      EXPECT_EQ(chosen.time.size(), chosen.y.size());

      SeriesInput input;
      Dialogue dialogue(std::to_string(c.given.iform) + "\n" + c.answers + std::to_string(k + 1) +
                        "\nT\nT\n");
      ChosenSeries asked = input.setup(dialogue.console, path, false);
      EXPECT_EQ(chosen.y, asked.y);
      EXPECT_EQ(chosen.dt, asked.dt);
      EXPECT_EQ(chosen.title, asked.title);
      EXPECT_EQ(chosen.time, asked.time);
      const std::string out = dialogue.out.str();
      EXPECT_NE(out.find(messages.out.str()), std::string::npos);
      if (k + 1 != c.chosen) continue;
      for (const std::string& text : c.shown) EXPECT_NE(out.find(text), std::string::npos) << text;
      EXPECT_EQ(asked.title, c.title);
      ASSERT_EQ(asked.y.size(), c.npts);
      EXPECT_NEAR(asked.dt, c.dt, 2e-5f);  // single-precision steps near the year 2000
      EXPECT_FLOAT_EQ(asked.y.front(), c.first);
      EXPECT_FLOAT_EQ(asked.y.back(), c.last);
    }
  }
}

// A series number beyond the table is refused with the reason. (Series too
// short or running backwards are refused in the dialogue's transcripts.)
TEST(SeriesFile, ASeriesNumberBeyondTheTableIsRefused) {
  SeriesTable table;
  table.series = {{"ok      ", 1, 2, {1.0f, 2.0f}, "", {}}};
  ChosenSeries chosen;
  EXPECT_EQ(choose_series(table, 1, chosen).message, "there is no series 2; the file holds 1");
}

// What stops the dialogue, and every failed reading, comes back as false with
// the reason (and, where a reader explains itself, its message); the table
// keeps what it held. Absurd layouts and counts are refused before the
// reading costs more than the file.
TEST(SeriesFile, FailuresComeBackAsValuesAndLeaveTheTable) {
  std::vector<std::string> titles(26, "a line of text in the header");
  titles.push_back("HBM01B  1790   156 -9999");
  std::vector<std::string> short_rows(2000, "1901");
  short_rows.insert(short_rows.begin(), "header");
  short_rows.push_back(std::string(60, '1'));
  const auto self_describing = [](const char* header) {
    return std::vector<std::string>{marked("SER01"), header, "  12", "  13", "  14", "  15"};
  };
  const std::string no_series = "no series were found in the file";
  const struct {
    std::string name;
    std::vector<std::string> lines;
    ReadOptions given;
    std::string error, message = "";
  } cases[] = {
      {"over 25 text lines", titles, {.iform = 1},
       "more than 25 text lines before a decade line (at line 26): this is not a raw ring-width "
       "file"},
      {"ring widths without an end value", {"HBM01C  1805   100   200"}, {.iform = 1}, no_series},
      // A value with two signs is not a ring width: the line is text. (The
      // neighbours of these refusals read in readers_test.cc.)
      {"two signs", {"HBM01B  1790 +-156   200 -9999"}, {.iform = 1}, no_series, "title of data:"},
      {"self-describing empty group", self_describing("n        3      1850  (i4())"),
       {.iform = 1}, no_series,
       " >> sbr datar:  the format (i4()) cannot be used: an empty group at position 4\n"},
      {"self-describing count beyond the file", self_describing("n 99999999      1850  (i99999)"),
       {.iform = 1}, no_series,
       " >> sbr datar:  the header states 99999999 values, more than the rest of the file can "
       "hold\n"},
      {"unreadable chronology line",
       {"h1", "h2", "h3", "abc   1950   1000  5", "abc   1960   10x0  5"}, {.iform = 2},
       "line 5 is not a chronology decade line"},
      {"chronology heading only", {"h1", "h2", "h3"}, {.iform = 2}, no_series},
      {"no single column", {}, {.iform = 3}, no_series},
      {"too few lines to skip", {"a", "b"}, {.iform = 4, .lskip = 3},
       "Cannot skip 3 lines: the file has only 2."},
      {"one column", {"yr a", "1 2"}, {.iform = 5, .ncol = 1, .sentinel = "*"},
       "A file of multiple columns needs at least 2 columns: the X column and one series."},
      {"cell that is not the sentinel", {"yr a", "1 abc"}, {.iform = 5, .ncol = 2, .sentinel = "*"},
       "Error reading ys values check sentinel if ******* enter *"},
      {"no values per line", {"h", "1901 1"}, {.iform = 6, .nvar = 0},
       "There must be at least 1 variable per line."},
      {"monthly values beyond single precision", {"block", "1901 1e5", "1902 2e30", "1903 1"},
       {.iform = 6, .nvar = 1, .mult = 1e30f},
       "Line 3: a value times the multiplier 1.0E+30 is too large for single precision."},
      {"malformed row layout", {"h", "1901 1"}, {.iform = 7, .ncol = 1, .rfmt = "(i4,3q)"},
       "unknown item 'q' at position 6."},
      {"row layout reading text", {"h", "1901 1"}, {.iform = 7, .ncol = 1, .rfmt = "(i4,a)"},
       "The format (i4,a) reads text (an A item); rows hold numbers only."},
      // The empty last group would restart reading past the layout's items.
      {"row layout with an empty group", {"header", "1901   1.50   2.50"},
       {.iform = 7, .ncol = 2, .rfmt = "(i4,f7.2,())"}, "an empty group at position 10."},
      {"row layout of absurd widths", {"header", "1901 1.5"},
       {.iform = 7, .ncol = 9999, .rfmt = "(i4,9999f999999.1)"},
       "a line of the layout would be longer than 100000 characters at position 5."},
      // 9999 one-character columns on lines of four characters.
      {"columns past every line", short_rows, {.iform = 7, .ncol = 9999, .rfmt = "(i4,9999f1.0)"},
       "past the end of every line of the file (the longest has 60 characters)."},
      {"columns beyond the file", {"header", "1901 1"},
       {.iform = 7, .ncol = 5000, .rfmt = "(i4,f1.0)"}, "it has 14 characters."},
      // One long line lets every column begin somewhere; the short rows
      // would still give 55 values each from four characters.
      {"values beyond the characters", short_rows, {.iform = 7, .ncol = 55, .rfmt = "(i4,55f1.0)"},
       "check the format and the number of columns."},
      {"unknown layout", {"1"}, {.iform = 9}, "the layout must be a number from 1 to 8, not 9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempFile file(c.lines);
    Dialogue messages("");
    SeriesTable table;
    table.iform = 3;
    table.series.push_back({"kept    ", 1, 2, {1.0f, 2.0f}, "", {}});
    const Status read = read_series_file(file.path(), c.given, table, messages.console);
    EXPECT_FALSE(read);
    EXPECT_TRUE(ends_with(read.message, c.error)) << read.message;
    EXPECT_NE(messages.out.str().find(c.message), std::string::npos) << messages.out.str();
    EXPECT_EQ(messages.err.str(), "");
    ASSERT_EQ(table.series.size(), 1u);
    EXPECT_EQ(table.series[0].name, "kept    ");
    EXPECT_EQ(table.iform, 3);
  }

  Dialogue messages("");
  SeriesTable table;
  EXPECT_EQ(read_series_file("/nonexistent/quorvane.dat", {.iform = 3}, table, messages.console)
                .message,
            "the file /nonexistent/quorvane.dat cannot be opened");
}

// A single-column record of a million values reads whole; with one value
// that is not a number deep inside it, the reader's message names that line
// (it ends the series and is taken as the next one's name).
TEST(SeriesFile, AMillionLineColumnReadsWholeAndABadValueIsNamed) {
  std::vector<std::string> lines = {"core A", "1001"};
  for (int i = 0; i < 1000000; ++i) lines.push_back(std::to_string(i % 1000) + ".25");
  for (const bool bad : {false, true}) {
    if (bad) lines[700000] = "9.9.9";
    TempFile file(lines);
    Dialogue messages("");
    SeriesTable table;
    const Status read = read_series_file(file.path(), {.iform = 3}, table, messages.console);
    EXPECT_EQ(read.ok, !bad);
    if (bad) {
      EXPECT_EQ(read.message, "Series: 9.9.9    Number:     2");
      EXPECT_EQ(messages.out.str(),
                " Rd1col: Error reading series IYR value\n"
                "        Series: 9.9.9    Number:     2\n");
    } else {
      ASSERT_EQ(table.series.size(), 1u);
      ASSERT_EQ(table.series[0].values.size(), 1000000u);
      EXPECT_EQ(table.series[0].values[699998], 998.25f);
      EXPECT_EQ(table.series[0].values.back(), 999.25f);
    }
  }
}

// A file too large for the memory is refused before it is read, with what
// the reading would need; one that fits, or whose size cannot be learnt,
// is left to the reading.
TEST(SeriesFile, AFileBeyondTheMemoryIsRefusedUpFrontWithWhatItNeeds) {
  TempFile file({"core A", "1001", "0.5"});  // 16 characters
  const Status refused = check_reading_memory(file.path(), 40);
  EXPECT_FALSE(refused);
  EXPECT_EQ(refused.message, "Reading the file " + file.path() +
                                 " needs about 0.048 kB of memory, more than available: this "
                                 "machine has 0.04 kB available and keeps an eighth of it free.");
  EXPECT_TRUE(check_reading_memory(file.path(), 1000));
  EXPECT_TRUE(check_reading_memory("/nonexistent/quorvane.dat", 40));
}

}  // namespace
}  // namespace quorvane::input
