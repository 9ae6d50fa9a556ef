// The input dialogue as a whole: format menu, reading, selection, time step,
// view and confirmation, compared as complete transcripts.
#include "input/setup.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "input/help_screens.h"
#include "input_test_support.h"

namespace quorvane::input {
namespace {

using testing::Dialogue;
using testing::kFormatMenu;
using testing::kSelectionHead;
using testing::kSelectionRule;
using testing::kTryAgain;
using testing::kViewQuestion;
using testing::TempDir;

// The chosen series as setup returns it.
struct Chosen {
  int npts = -1;
  float dt = -1.0f;
  std::vector<float> y;
  std::string title;
  int ireuse = 0;
};

void run_setup(SeriesInput& input, Dialogue& dialogue, const std::string& path, Chosen& chosen) {
  input.setup(dialogue.console, 17, path, chosen.npts, chosen.dt, chosen.y, chosen.title,
              chosen.ireuse);
}

const std::vector<std::string> kTwoSingleColumns = {"abscdef", "1771", "0.1", "0.2", "0.3",
                                                    "bbscdef", "1772", "0.2", "0.4"};

TEST(SetupDialogue, SingleColumnFileAfterAnAnswerOutsideTheMenu) {
  TempDir dir;
  std::string path = dir.write("single.dat", kTwoSingleColumns);
  Dialogue dialogue("9\n\n3\n1\nF\n");
  SeriesInput input;
  Chosen chosen;
  run_setup(input, dialogue, path, chosen);

  std::string expected = kFormatMenu +
                         "\n"
                         "\n"
                         " WARNING: You must enter a value between 0 and 7\n" +
                         kTryAgain + kFormatMenu +
                         "\n"
                         "\n"
                         " Input data read successfully\n" +
                         kSelectionHead + "    1) abscdef    2) bbscdef \n" + kSelectionRule +
                         " Select a series to analyse [1-  2] : " + kViewQuestion;
  EXPECT_EQ(dialogue.out.str(), expected);
  EXPECT_EQ(chosen.npts, 3);
  EXPECT_FLOAT_EQ(chosen.dt, 1.0f);
  EXPECT_EQ(chosen.title, "abscdef ");
  EXPECT_EQ(chosen.y, (std::vector<float>{0.1f, 0.2f, 0.3f}));
  EXPECT_EQ(chosen.ireuse, 0);
}

TEST(SetupDialogue, NonNumericMenuAnswerIsWarnedAndAskedAgain) {
  TempDir dir;
  std::string path = dir.write("single.dat", kTwoSingleColumns);
  Dialogue dialogue("abc\n3\n2\nF\n");
  SeriesInput input;
  Chosen chosen;
  run_setup(input, dialogue, path, chosen);
  std::string out = dialogue.out.str();
  EXPECT_NE(out.find(" Enter a value between       [0-7]   :  Please enter a whole number.\n"
                     " Enter a value between       [0-7]   : \n"),
            std::string::npos);
  EXPECT_EQ(chosen.title, "bbscdef ");
  EXPECT_EQ(chosen.npts, 2);
}

TEST(SetupDialogue, ViewListsTheSeriesAndFalseToOkReturnsToTheSelection) {
  TempDir dir;
  std::string path = dir.write("single.dat", kTwoSingleColumns);
  Dialogue dialogue("3\n2\nT\nF\n2\nt\n.true.\n");
  SeriesInput input;
  Chosen chosen;
  run_setup(input, dialogue, path, chosen);

  std::string menu = kSelectionHead + "    1) abscdef    2) bbscdef \n" + kSelectionRule +
                     " Select a series to analyse [1-  2] : ";
  std::string listing =
      "\n"
      "   x       y       dt =   1.0000\n"
      " 1772.0 0.2\n"
      " 1773.0 0.4\n"
      "\n"
      "  OK? [T]rue or [F]alse : ";
  std::string expected = kFormatMenu + "\n\n Input data read successfully\n" + menu +
                         kViewQuestion + listing + menu + kViewQuestion + listing;
  EXPECT_EQ(dialogue.out.str(), expected);
  EXPECT_EQ(chosen.npts, 2);
  EXPECT_FLOAT_EQ(chosen.dt, 1.0f);
}

TEST(SetupDialogue, SelectionOutsideTheTableIsWarnedWithItsNumber) {
  TempDir dir;
  std::vector<std::string> lines;
  for (int k = 1; k <= 10; ++k) {
    lines.push_back("series" + std::to_string(k));
    lines.push_back("1900");
    lines.push_back("1.5");
    lines.push_back("2.5");
  }
  std::string path = dir.write("ten.dat", lines);
  Dialogue dialogue("3\n0\n\n11\n\n\n\n10\nF\n");
  SeriesInput input;
  Chosen chosen;
  run_setup(input, dialogue, path, chosen);

  std::string menu = kSelectionHead +
                     "    1) series1    2) series2    3) series3    4) series4    5) series5 \n"
                     "    6) series6    7) series7    8) series8    9) series9   10) series10\n" +
                     kSelectionRule + " Select a series to analyse [1- 10] : ";
  std::string expected = kFormatMenu + "\n\n Input data read successfully\n" + menu +
                         "\n WARNING:   0 is not a valid selection\n" + kTryAgain + menu +
                         "\n WARNING:  11 is not a valid selection\n" + kTryAgain + menu +
                         "\n WARNING:   0 is not a valid selection\n" + kTryAgain + menu +
                         kViewQuestion;
  EXPECT_EQ(dialogue.out.str(), expected);
  EXPECT_EQ(chosen.title, "series10");
}

TEST(SetupDialogue, SevenSeriesFillTwoMenuRows) {
  TempDir dir;
  std::vector<std::string> lines;
  for (int k = 1; k <= 7; ++k) lines.insert(lines.end(), {"s" + std::to_string(k), "1", "1", "2"});
  std::string path = dir.write("seven.dat", lines);
  Dialogue dialogue("3\n7\nF\n");
  SeriesInput input;
  Chosen chosen;
  run_setup(input, dialogue, path, chosen);
  std::string rows =
      "    1) s1         2) s2         3) s3         4) s4         5) s5      \n"
      "    6) s6         7) s7      \n";
  EXPECT_NE(dialogue.out.str().find(kSelectionHead + rows + kSelectionRule), std::string::npos);
}

TEST(SetupDialogue, ReuseChoosesFromTheTableWithoutReadingTheFileAgain) {
  TempDir dir;
  std::string path = dir.write("single.dat", kTwoSingleColumns);
  SeriesInput input;
  Chosen first;
  Dialogue dialogue1("3\n1\nF\n");
  run_setup(input, dialogue1, path, first);

  std::filesystem::remove(path);  // a second reading would fail
  Dialogue dialogue2("2\nF\n");
  Chosen second;
  second.ireuse = 1;
  run_setup(input, dialogue2, path, second);
  EXPECT_EQ(dialogue2.out.str(), kSelectionHead + "    1) abscdef    2) bbscdef \n" +
                                     kSelectionRule + " Select a series to analyse [1-  2] : " +
                                     kViewQuestion);
  EXPECT_EQ(second.title, "bbscdef ");
  EXPECT_EQ(second.ireuse, 0);
}

TEST(SetupDialogue, TwoColumnPairsAreListedByTheirYHeader) {
  TempDir dir;
  std::string path = dir.write("two.dat", {"Age      Ti1 (%)", "798.60\t0.81", "804.70\t0.10",
                                           "816.90\t0.19", "Age      Ti2 (%)", "798.60 0.40",
                                           "804.70 0.45", "Age      Ti3 (%)", "1 2", "3 4"});
  Dialogue dialogue("4\n0\n1\nT\nT\n");
  SeriesInput input;
  Chosen chosen;
  run_setup(input, dialogue, path, chosen);
  std::string expected = kFormatMenu +
                         "\n"
                         "\n"
                         " Enter number of lines to skip from top of file : \n"
                         " Input data read successfully\n" +
                         kSelectionHead +
                         "   1)  Ti1 (%)\n"
                         "   2)  Ti2 (%)\n"
                         "   3)  Ti3 (%)\n" +
                         kSelectionRule + " Select a series to analyse [1-  3] : " +
                         kViewQuestion +
                         "\n"
                         "   x       y       dt =   9.1500\n"
                         " 798.6 0.81\n"
                         " 804.7 0.1\n"
                         " 816.9 0.19\n"
                         "\n"
                         "  OK? [T]rue or [F]alse : ";
  EXPECT_EQ(dialogue.out.str(), expected);
  EXPECT_NEAR(chosen.dt, 9.15f, 5e-5f);  // single-precision sums near 800
  EXPECT_EQ(chosen.title, " Ti1 (%)");
}

TEST(SetupDialogue, MultipleColumnsWithSentinelStar) {
  TempDir dir;
  std::string path = dir.write("multi.dat", help_example_file(5, 1));
  Dialogue dialogue("5\n2\n6\n*\n2\nF\n");
  SeriesInput input;
  Chosen chosen;
  run_setup(input, dialogue, path, chosen);
  std::string expected = kFormatMenu +
                         "\n"
                         "\n"
                         " Enter number of lines to skip from top of file : \n"
                         " Enter the total number of columns in your file\n"
                         " [Program assumes Col_1 contains the X values] : \n"
                         " Enter the sentinal value or character used to \n"
                         " pad the records [can not be spaces, if ******* enter *] : \n"
                         " Input data read successfully\n" +
                         kSelectionHead +
                         "    1) AB01       2) AB02       3) AB03       4) AB04       5) AB05    \n" +
                         kSelectionRule + " Select a series to analyse [1-  5] : " + kViewQuestion;
  EXPECT_EQ(dialogue.out.str(), expected);
  EXPECT_EQ(chosen.npts, 12);  // 1946-1957
  EXPECT_FLOAT_EQ(chosen.y[0], 0.717f);
}

TEST(SetupDialogue, UnreadableCellIsReportedAndTheFormatMenuShownAgain) {
  TempDir dir;
  std::string path = dir.write("bad.dat", {"year a b", "1950 1.0 abc", "1951 2.0 3.0"});
  Dialogue dialogue("5\n0\n3\n*\n\n");
  SeriesInput input;
  Chosen chosen;
  EXPECT_THROW(run_setup(input, dialogue, path, chosen), textio::EndOfInput);
  std::string expected = kFormatMenu +
                         "\n"
                         "\n"
                         " Enter number of lines to skip from top of file : \n"
                         " Enter the total number of columns in your file\n"
                         " [Program assumes Col_1 contains the X values] : \n"
                         " Enter the sentinal value or character used to \n"
                         " pad the records [can not be spaces, if ******* enter *] : "
                         " Error reading ys values check sentinel if ******* enter *\n"
                         "\n"
                         " Input data not read in successfully\n" +
                         kTryAgain + kFormatMenu;
  EXPECT_EQ(dialogue.out.str(), expected);
}

TEST(SetupDialogue, UnreadableFirstYearIsReportedAndTheFormatMenuShownAgain) {
  TempDir dir;
  std::string path = dir.write("bad.dat", {"abscdef", "1771", "0.1", "bbscdef", "year?", "0.2"});
  Dialogue dialogue("3\n\n");
  SeriesInput input;
  Chosen chosen;
  EXPECT_THROW(run_setup(input, dialogue, path, chosen), textio::EndOfInput);
  std::string expected = kFormatMenu +
                         "\n"
                         " Rd1col: Error reading series IYR value\n"
                         "        Series: bbscdef  Number:     2\n"
                         "\n"
                         " Input data not read in successfully\n" +
                         kTryAgain + kFormatMenu;
  EXPECT_EQ(dialogue.out.str(), expected);
}

TEST(SetupDialogue, TooFewColumnsGoBackToTheFormatMenu) {
  TempDir dir;
  std::string path = dir.write("multi.dat", {"year", "1950", "1951"});
  Dialogue dialogue("5\n0\n1\n\n");
  SeriesInput input;
  Chosen chosen;
  EXPECT_THROW(run_setup(input, dialogue, path, chosen), textio::EndOfInput);
  std::string out = dialogue.out.str();
  EXPECT_NE(out.find(" [Program assumes Col_1 contains the X values] :  A file of multiple "
                     "columns needs at least 2 columns: the X column and one series.\n\n"
                     " Input data not read in successfully\n" +
                     kTryAgain + kFormatMenu),
            std::string::npos);
}

TEST(SetupDialogue, AFileWithoutSeriesGoesBackToTheFormatMenu) {
  TempDir dir;
  std::string path = dir.write("empty.dat", {});
  Dialogue dialogue("3\n\n");
  SeriesInput input;
  Chosen chosen;
  EXPECT_THROW(run_setup(input, dialogue, path, chosen), textio::EndOfInput);
  EXPECT_EQ(dialogue.out.str(),
            kFormatMenu + "\n\n No series were found in the file.\n" + kTryAgain + kFormatMenu);
}

TEST(SetupDialogue, SeriesTooShortOrWithoutTimeStepAreRefusedAtSelection) {
  TempDir dir;
  std::string path = dir.write("short.dat", {"one", "1900", "5.0", "none", "1900", "pair", "1900",
                                             "1", "2"});
  Dialogue dialogue("3\n1\n\n2\n\n3\nF\n");
  SeriesInput input;
  Chosen chosen;
  run_setup(input, dialogue, path, chosen);
  std::string out = dialogue.out.str();
  EXPECT_NE(out.find(" Select a series to analyse [1-  3] : \n"
                     " Series one has 1 value; at least 2 are needed.\n" +
                     kTryAgain),
            std::string::npos);
  EXPECT_NE(out.find("\n Series none has 0 values; at least 2 are needed.\n"), std::string::npos);
  EXPECT_EQ(chosen.title, "pair    ");
  EXPECT_EQ(chosen.npts, 2);
}

TEST(SetupDialogue, TwoColumnPairWithoutForwardStepIsRefused) {
  TempDir dir;
  std::string path = dir.write("two.dat", {"x       y", "5 1", "5 2", "5 3"});
  Dialogue dialogue("4\n0\n1\n\n");
  SeriesInput input;
  Chosen chosen;
  EXPECT_THROW(run_setup(input, dialogue, path, chosen), textio::EndOfInput);
  EXPECT_NE(dialogue.out.str().find(" Series y has a mean time step of 0.0; it must be positive.\n"),
            std::string::npos);
  EXPECT_EQ(chosen.npts, -1);  // nothing was returned
}

TEST(SetupDialogue, EndOfInputAtTheFormatMenuEndsTheDialogue) {
  TempDir dir;
  std::string path = dir.write("single.dat", kTwoSingleColumns);
  Dialogue dialogue("");
  SeriesInput input;
  Chosen chosen;
  EXPECT_THROW(run_setup(input, dialogue, path, chosen), textio::EndOfInput);
}

// Time steps: monthly from nvar, two-column from the x values, yearly for the
// single column; the sum starts from 0 at every selection.
TEST(TimeStep, MonthlySeriesStepsByOneTwelfth) {
  TempDir dir;
  std::vector<std::string> lines = {"header"};
  for (int year = 1901; year <= 1902; ++year) {
    std::string row = std::to_string(year);
    for (int m = 0; m < 12; ++m) row += " " + std::to_string(m);
    lines.push_back(row);
  }
  std::string path = dir.write("monthly.dat", lines);
  Dialogue dialogue("6\n0\n12\n1\n1\nT\nT\n");
  SeriesInput input;
  Chosen chosen;
  run_setup(input, dialogue, path, chosen);
  EXPECT_EQ(chosen.npts, 24);
  EXPECT_NEAR(chosen.dt, 1.0f / 12.0f, 1e-5f);  // x near 1901 in single precision
  std::string out = dialogue.out.str();
  EXPECT_NE(out.find("dt =   0.0833\n 1901.0 0.0\n 1901.083 1.0\n"), std::string::npos);
  EXPECT_NE(out.find(" 1901.917 11.0\n 1902.0 0.0\n"), std::string::npos);
}

TEST(TimeStep, Nino12IsOneMonthlySeriesFrom1950) {
  std::string path = std::string(QUORVANE_SOURCE_DIR) + "/examples/nino12.tsf";
  Dialogue dialogue("6\n3\n12\n0.01\n1\nF\n");
  SeriesInput input;
  Chosen chosen;
  run_setup(input, dialogue, path, chosen);
  EXPECT_NE(dialogue.out.str().find("    1) Cell___1\n"), std::string::npos);
  EXPECT_EQ(chosen.npts, 732);
  EXPECT_NEAR(chosen.dt, 1.0f / 12.0f, 2e-5f);
  EXPECT_FLOAT_EQ(chosen.y[0], 2311.0f * 0.01f);
  EXPECT_FLOAT_EQ(chosen.y[731], 2207.0f * 0.01f);  // December 2010
}

TEST(TimeStep, SunspotsAreYearly) {
  std::string path = std::string(QUORVANE_SOURCE_DIR) + "/examples/sunspots.dat";
  Dialogue dialogue("3\n1\nF\n");
  SeriesInput input;
  Chosen chosen;
  run_setup(input, dialogue, path, chosen);
  EXPECT_EQ(chosen.npts, 309);  // 1700-2008
  EXPECT_FLOAT_EQ(chosen.dt, 1.0f);
  EXPECT_EQ(chosen.title, "sunspots");
}

TEST(TimeStep, ReselectingTheSameSeriesGivesTheSameStep) {
  TempDir dir;
  std::string path = dir.write("two.dat", {"Age      Ti1 (%)", "798.60 1", "804.70 2", "816.90 3"});
  Dialogue dialogue("4\n0\n1\nT\nF\n1\nT\nT\n");
  SeriesInput input;
  Chosen chosen;
  run_setup(input, dialogue, path, chosen);
  std::string out = dialogue.out.str();
  std::size_t first = out.find("dt =   9.1500");
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(out.find("dt =   9.1500", first + 1), std::string::npos);
  EXPECT_NEAR(chosen.dt, 9.15f, 5e-5f);  // single-precision sums near 800
}

}  // namespace
}  // namespace quorvane::input
