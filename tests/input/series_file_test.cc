// Reading a series file from answers given in advance: the same series as
// the dialogue reads with the same answers, and failures that come back as
// values instead of ending the program.
#include "input/series_file.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "input/help_screens.h"
#include "input/setup.h"
#include "input_test_support.h"

namespace quorvane::input {
namespace {

using namespace testing;

// A file of `lines` under the temporary directory, removed with the object.
class TempFile {
 public:
  explicit TempFile(const std::vector<std::string>& lines)
      : path_((std::filesystem::temp_directory_path() /
               ("quorvane_series_file_" + std::to_string(::getpid()) + ".dat"))
                  .string()) {
    std::ofstream file(path_, std::ios::binary);
    for (const auto& line : lines) file << line << '\n';
  }
  ~TempFile() { std::filesystem::remove(path_); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string example(const char* name) { return std::string(QUORVANE_SOURCE_DIR) + "/examples/" + name; }

ReadOptions options(int iform, int lskip = 0) {
  ReadOptions o;
  o.iform = iform;
  o.lskip = lskip;
  return o;
}
ReadOptions columns(int lskip, int ncol, const char* sentinel) {
  ReadOptions o = options(5, lskip);
  o.ncol = ncol;
  o.sentinel = sentinel;
  return o;
}
ReadOptions monthly(int lskip, int nvar, float mult) {
  ReadOptions o = options(6, lskip);
  o.nvar = nvar;
  o.mult = mult;
  return o;
}
ReadOptions rows(int lskip, const char* rfmt, int ncol) {
  ReadOptions o = options(7, lskip);
  o.rfmt = rfmt;
  o.ncol = ncol;
  return o;
}

// A file (an example of the repository or the lines of a help screen's
// example), the dialogue's answers after the format code, and the same
// answers as options.
struct SameAnswers {
  std::string name;
  std::string path;                // empty: the lines below
  std::vector<std::string> lines;
  std::string answers;
  ReadOptions given;
  std::size_t series;              // series the file holds
};

std::vector<SameAnswers> same_answer_cases() {
  return {
      {"sunspots", example("sunspots.dat"), {}, "", options(3), 1},
      {"nino12", example("nino12.tsf"), {}, "3\n12\n0.01\n", monthly(3, 12, 0.01f), 1},
      {"raw ring widths", "", help_example_file(1), "", options(1), 2},
      {"chronologies", "", help_example_file(2), "", options(2), 2},
      {"single column", "", help_example_file(3), "", options(3), 3},
      {"two columns", "", help_example_file(4), "0\n", options(4), 2},
      {"multiple columns *", "", help_example_file(5, 1), "2\n6\n*\n", columns(2, 6, "*"), 5},
      {"multiple columns -9.9", "", help_example_file(5, 2), "2\n5\n-9.9\n",
       columns(2, 5, "-9.9"), 4},
      {"monthly", "", help_example_file(6), "5\n12\n0.01\n", monthly(5, 12, 0.01f), 2},
      {"rows", "", help_example_file(7), "5\n(1x,i4,7x,f7.2)\n1\n", rows(5, "(1x,i4,7x,f7.2)", 1),
       1},
  };
}

// Every series of the file, chosen in the dialogue and from the table that
// read_series_file fills, is the same series with the same time step; and
// what the reading writes is what the dialogue writes while it reads.
TEST(SeriesFile, EveryLayoutReadsWhatTheDialogueReadsForTheSameAnswers) {
  for (const SameAnswers& c : same_answer_cases()) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<TempFile> temp;
    if (c.path.empty()) temp = std::make_unique<TempFile>(c.lines);
    const std::string path = c.path.empty() ? temp->path() : c.path;

    Dialogue messages("an answer the reading must not take\n");
    SeriesTable table;
    std::string error;
    ASSERT_TRUE(read_series_file(path, c.given, table, messages.console, error)) << error;
    EXPECT_EQ(table.series.size(), c.series);
    EXPECT_EQ(table.iform, c.given.iform);
    EXPECT_EQ(messages.in.tellg(), 0) << "the reading read from its console";
    EXPECT_EQ(messages.err.str(), "");

    for (std::size_t k = 0; k < table.series.size(); ++k) {
      SCOPED_TRACE("series " + std::to_string(k + 1));
      ChosenSeries chosen;
      ASSERT_TRUE(choose_series(table, k, chosen, error)) << error;
      EXPECT_EQ(chosen.time.size(), chosen.y.size());

      SeriesInput input;
      Dialogue dialogue(std::to_string(c.given.iform) + "\n" + c.answers + std::to_string(k + 1) +
                        "\nF\n");
      int npts = 0, ireuse = 0;
      float dt = 0.0f;
      std::vector<float> y;
      std::string title;
      input.setup(dialogue.console, 17, path, npts, dt, y, title, ireuse);
      EXPECT_EQ(chosen.y, y);
      EXPECT_EQ(chosen.dt, dt);
      EXPECT_EQ(chosen.title, title);
      EXPECT_NE(dialogue.out.str().find(messages.out.str()), std::string::npos);
    }
  }
}

// The time axis of each kind of file and its mean step.
TEST(SeriesFile, ChosenSeriesCarriesItsTimeAxisAndMeanStep) {
  SeriesTable table;
  table.iform = 6;
  table.nvar = 12;
  table.series.push_back({"Cell___1", 1901, 1902, std::vector<float>(24, 1.0f), "", {}});
  ChosenSeries chosen;
  std::string error;
  ASSERT_TRUE(choose_series(table, 0, chosen, error));
  // Within the rounding of single precision near the year 1900.
  EXPECT_NEAR(chosen.time[1] - chosen.time[0], 1.0f / 12.0f, 1e-4f);
  EXPECT_EQ(chosen.time[12], 1902.0f);
  EXPECT_NEAR(chosen.dt, 1.0f / 12.0f, 1e-5f);

  table.iform = 4;
  table.series = {{" Ti1 (%)", 798, 816, {1, 2, 3}, "Age     ", {798.60f, 804.70f, 816.90f}}};
  ASSERT_TRUE(choose_series(table, 0, chosen, error));
  EXPECT_NEAR(chosen.dt, 9.15f, 1e-4f);
  EXPECT_EQ(chosen.time, table.series[0].x);

  table.iform = 3;
  table.series = {{"abscdef ", 1771, 1773, {0.1f, 0.2f, 0.3f}, "", {}}};
  ASSERT_TRUE(choose_series(table, 0, chosen, error));
  EXPECT_EQ(chosen.time, (std::vector<float>{1771, 1772, 1773}));
  EXPECT_EQ(chosen.dt, 1.0f);
  EXPECT_EQ(chosen.title, "abscdef ");
}

TEST(SeriesFile, SeriesThatCannotBeAnalysedAreRefusedWithTheReason) {
  SeriesTable table;
  table.iform = 4;
  table.series = {{"one     ", 1, 1, {1.0f}, "x", {1.0f}},
                  {"back    ", 3, 1, {1.0f, 2.0f}, "x", {3.0f, 1.0f}},
                  {"ok      ", 1, 2, {1.0f, 2.0f}, "x", {1.0f, 2.0f}}};
  const struct {
    std::size_t index;
    std::string error;
  } cases[] = {
      {0, "Series one has 1 value; at least 2 are needed."},
      {1, "Series back has a mean time step of -2.0; it must be positive."},
      {3, "there is no series 4; the file holds 3"},
  };
  for (const auto& c : cases) {
    ChosenSeries chosen;
    std::string error;
    EXPECT_FALSE(choose_series(table, c.index, chosen, error));
    EXPECT_EQ(error, c.error);
  }
}

// What stops the dialogue, and every failed reading, comes back as false with
// the reason; the table keeps what it held.
TEST(SeriesFile, FailuresComeBackAsValuesAndLeaveTheTable) {
  std::vector<std::string> titles(26, "a line of text in the header");
  titles.push_back("HBM01B  1790   156 -9999");
  const struct {
    std::string name;
    std::vector<std::string> lines;
    ReadOptions given;
    std::string error;
  } cases[] = {
      {"over 25 text lines", titles, options(1),
       "more than 25 text lines before a decade line (at line 26): this is not a raw ring-width "
       "file"},
      {"ring widths without an end value", {"HBM01C  1805   100   200"}, options(1),
       "no series were found in the file"},
      {"unreadable chronology line",
       {"h1", "h2", "h3", "abc   1950   1000  5", "abc   1960   10x0  5"}, options(2),
       "line 5 is not a chronology decade line"},
      {"chronology heading only", {"h1", "h2", "h3"}, options(2), "no series were found in the file"},
      {"no single column", {}, options(3), "no series were found in the file"},
      {"too few lines to skip", {"a", "b"}, options(4, 3), "Cannot skip 3 lines: the file has only 2."},
      {"one column", {"yr a", "1 2"}, columns(0, 1, "*"),
       "A file of multiple columns needs at least 2 columns: the X column and one series."},
      {"cell that is not the sentinel", {"yr a", "1 abc"}, columns(0, 2, "*"),
       "Error reading ys values check sentinel if ******* enter *"},
      {"no values per line", {"h", "1901 1"}, monthly(0, 0, 1.0f),
       "There must be at least 1 variable per line."},
      {"malformed row layout", {"h", "1901 1"}, rows(0, "(i4,3q)", 1),
       "unknown item 'q' at position 6."},
      {"row layout reading text", {"h", "1901 1"}, rows(0, "(i4,a)", 1),
       "The format (i4,a) reads text (an A item); rows hold numbers only."},
      {"unknown layout", {"1"}, options(8), "the layout must be a number from 1 to 7, not 8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempFile file(c.lines);
    Dialogue messages("");
    SeriesTable table;
    table.iform = 3;
    table.series.push_back({"kept    ", 1, 2, {1.0f, 2.0f}, "", {}});
    std::string error;
    EXPECT_FALSE(read_series_file(file.path(), c.given, table, messages.console, error));
    EXPECT_TRUE(ends_with(error, c.error)) << error;
    EXPECT_EQ(messages.err.str(), "");
    ASSERT_EQ(table.series.size(), 1u);
    EXPECT_EQ(table.series[0].name, "kept    ");
    EXPECT_EQ(table.iform, 3);
  }

  Dialogue messages("");
  SeriesTable table;
  std::string error;
  EXPECT_FALSE(read_series_file("/nonexistent/quorvane.dat", options(3), table, messages.console,
                                error));
  EXPECT_EQ(error, "the file /nonexistent/quorvane.dat cannot be opened");
}

}  // namespace
}  // namespace quorvane::input
