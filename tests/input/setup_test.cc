// The input dialogue as a whole: format menu, help screens, reading,
// selection, time step, view and confirmation. One whole transcript per
// screen; elsewhere the distinctive lines.
#include "input/setup.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "input/help_screens.h"
#include "input_test_support.h"

namespace quorvane::input {
namespace {

using namespace testing;

// SeriesInput and the series it last returned, driven by scripted answers.
struct Session {
  SeriesInput input;
  float dt = -1.0f;
  std::vector<float> y;
  std::string title;
  bool reuse = false;  // the next run chooses from the table already read

  // Runs setup on `path`; returns everything written to the console.
  std::string run(const std::string& path, const std::string& answers) {
    Dialogue dialogue(answers);
    try {
      ChosenSeries chosen = input.setup(dialogue.console, path, reuse);
      dt = chosen.dt;
      y = std::move(chosen.y);
      title = std::move(chosen.title);
    } catch (const textio::EndOfInput&) {  // the answers ended before setup returned
    }
    return dialogue.out.str();
  }
  // The same on a temporary file of `lines`.
  std::string run_on(const std::vector<std::string>& lines, const std::string& answers) {
    return run(TempFile(lines).path(), answers);
  }
};

// The layouts as both menus list them; the sixth line differs.
const std::string kLayouts =
    " Raw ring-widths (decade)             [1] \n"
    " Chronologies (index)                 [2] \n"
    " Single Column                        [3]\n"
    " Two Column                           [4]\n"
    " Multiple Columns                     [5]\n";
const std::string kMenuRule = " ________________________________________\n";
const std::string kOther = " Other                                [7]\n";
const std::string kFormatMenu =
    "\n ____    Input Data Format Menu     ____\n" + kMenuRule + kLayouts +
    " Monthly Climate [TSF]                [6]\n" + kOther +
    " Enter zero for help                  [0]  \n" + kMenuRule +
    " Enter a value between       [0-7]   : ";
const std::string kHelpMenu =
    "\n _____   Input Format Help Menu    _____\n" + kLayouts +
    " Monthly Climate                      [6]\n" + kOther +
    " Enter zero when finished             [0]\n Enter H for further help\n" + kMenuRule +
    " Enter a value between  [0-7]       : ";
const std::string kHelpEntry = "\n Select a file type to see an example.\n" + kHelpMenu;
const std::string kTryAgain = "             Hit RETURN to try again\n";
const std::string kRead = "\n\n Input data read successfully\n";
const std::string kSelectionRule =
    " ____________________________________________________________________\n";
const std::string kSelectionHead =
    "\n  _____________________ Series selection menu _____________________\n" + kSelectionRule;
const std::string kViewQuestion =
    "\n Do you want to view the data you just selected?\n [T]rue or [F]alse : ";
const std::string kOk = "\n  OK? [T]rue or [F]alse : ";
const std::vector<std::string> kTwoSingleColumns = {"abscdef", "1771", "0.1", "0.2", "0.3",
                                                    "bbscdef", "1772", "0.2", "0.4"};
const std::string kTwoSeriesMenu = kSelectionHead + "    1) abscdef    2) bbscdef \n" +
                                   kSelectionRule + " Select a series to analyse [1-  2] : ";

// A warning for a format outside the menu, the help and back, the view of
// the chosen series, false to "OK?" to choose again; then a second call
// chooses from the table kept, without the file.
TEST(SetupDialogue, FormatMenuViewConfirmationAndReselection) {
  Session session;
  std::string out = session.run_on(kTwoSingleColumns, "9\n\n0\n0\n3\n2\nT\nF\n1\nt\n.true.\n");
  std::string listing = "\n   x       y       dt =   1.0000\n 1772.0 0.2\n 1773.0 0.4\n" + kOk;
  EXPECT_EQ(out, kFormatMenu + "\n\n WARNING: You must enter a value between 0 and 7\n" +
                     kTryAgain + kFormatMenu + "\n" + kHelpEntry + kFormatMenu + kRead +
                     kTwoSeriesMenu + kViewQuestion + listing + kTwoSeriesMenu + kViewQuestion +
                     "\n   x       y       dt =   1.0000\n 1771.0 0.1\n 1772.0 0.2\n 1773.0 0.3\n" +
                     kOk);
  EXPECT_FLOAT_EQ(session.dt, 1.0f);
  EXPECT_EQ(session.title, "abscdef ");
  EXPECT_EQ(session.y, (std::vector<float>{0.1f, 0.2f, 0.3f}));

  session.reuse = true;
  EXPECT_EQ(session.run("no longer there", "2\nF\n"), kTwoSeriesMenu + kViewQuestion);
  EXPECT_EQ(session.title, "bbscdef ");
  EXPECT_EQ(session.y, (std::vector<float>{0.2f, 0.4f}));
}

// Numbers outside the menu, and series of fewer than two values, are
// refused with a warning and the menu again.
TEST(SetupDialogue, SevenSeriesFillTwoMenuRowsAndInvalidSelectionsAreWarned) {
  std::vector<std::string> lines = {"s6", "1", "1", "s7", "1"};  // one value, none
  for (int k = 5; k >= 1; --k)
    lines.insert(lines.begin(), {std::string("s").append(std::to_string(k)), "1", "1", "2"});
  Session session;
  std::string out = session.run_on(lines, "3\n0\n\n8\n\n\n\n6\n\n7\n\n5\nF\n");
  std::string menu = kSelectionHead +
                     "    1) s1         2) s2         3) s3         4) s4         5) s5      \n"
                     "    6) s6         7) s7      \n" +
                     kSelectionRule + " Select a series to analyse [1-  7] : ";
  auto warning = [&](const std::string& text) { return "\n " + text + "\n" + kTryAgain + menu; };
  EXPECT_EQ(out, kFormatMenu + kRead + menu + warning("WARNING:   0 is not a valid selection") +
                     warning("WARNING:   8 is not a valid selection") +
                     warning("WARNING:   0 is not a valid selection") +
                     warning("Series s6 has 1 value; at least 2 are needed.") +
                     warning("Series s7 has 0 values; at least 2 are needed.") + kViewQuestion);
  EXPECT_EQ(session.title, "s5      ");
}

// A series whose x values do not advance is refused, naming the line.
TEST(SetupDialogue, TwoColumnPairsAreListedByTheirYHeaderAndStepByTheirMeanSpacing) {
  Session session;
  std::string out =
      session.run_on({"Age      Ti1 (%)", "798.60\t0.81", "804.70\t0.10", "816.90\t0.19",
                      "Age      Ti2 (%)", "798.60 0.40", "Age      Ti3 (%)", "5 1", "5 2"},
                     "4\n0\n3\n\n1\nT\nT\n");
  std::string menu = kSelectionHead + "   1)  Ti1 (%)\n   2)  Ti2 (%)\n   3)  Ti3 (%)\n" +
                     kSelectionRule + " Select a series to analyse [1-  3] : ";
  EXPECT_EQ(out, kFormatMenu + "\n\n Enter number of lines to skip from top of file : " +
                     kRead.substr(1) + menu +
                     "\n Series Ti3 (%): line 9 has the time 5, the same as line 8; the times "
                     "of a series must increase or decrease throughout.\n" +
                     kTryAgain + menu + kViewQuestion +
                     "\n   x       y       dt =   9.1500\n 798.6 0.81\n 804.7 0.1\n 816.9 0.19\n" +
                     kOk);
  EXPECT_NEAR(session.dt, 9.15f, 5e-5f);  // single-precision differences near 800
  EXPECT_EQ(session.title, " Ti1 (%)");
}

// Reader errors, unusable answers and files without series: a message, then
// the format menu again.
TEST(SetupDialogue, FailedReadingsGoBackToTheFormatMenu) {
  const std::string not_read = "\n Input data not read in successfully\n" + kTryAgain;
  const std::string no_series = "\n\n No series were found in the file.\n" + kTryAgain;
  const struct {
    std::vector<std::string> file;
    std::string answers, message;
  } cases[] = {
      {{"year a b", "1950 1.0 abc"}, "5\n0\n3\n*\n\n",
       " Error reading ys values check sentinel if ******* enter *\n" + not_read},
      {{"yr a", "19x0 1.0"}, "5\n0\n2\n*\n\n", " error reading iyr\n" + not_read},
      {{"year", "1950"}, "5\n0\n1\n\n",
       " A file of multiple columns needs at least 2 columns: the X column and one series.\n" +
           not_read},
      {{"a", "1771", "0.1", "bbscdef", "year?"}, "3\n\n",
       " Rd1col: Error reading series IYR value\n        Series: bbscdef  Number:     2\n" +
           not_read},
      {{"x y", "1 2"}, "4\n9\n\n", " Cannot skip 9 lines: the file has only 2.\n" + not_read},
      {{}, "7\n0\n(1x,i4,7x,f7.2\n\n",
       " The format (1x,i4,7x,f7.2 cannot be used:\n missing ')' at position 15.\n" + not_read},
      {{}, "7\n0\n(1x,f5.0,7x,f7.2)\n\n",
       " The format (1x,f5.0,7x,f7.2) must read the year first, as an integer (I item),\n"
       " for example (1x,i4,7x,f7.2).\n" + not_read},
      {{}, "7\n0\n(i4,a7)\n\n",
       " The format (i4,a7) reads text (an A item); rows hold numbers only.\n" + not_read},
      {{"HBM01C  1805   100"}, "1\n",
       " its 5 values are not used.\n\n WARNING: There was an error reading data\n"
       " Hit RETURN to Try again or bail out now\n"},
      {{}, "3\n\n", kFormatMenu + no_series},
      {{"h1", "h2", "h3"}, "2\n\n", " : " + no_series},
  };
  for (const auto& c : cases) {
    Session session;
    std::string out = session.run_on(c.file, c.answers);
    EXPECT_TRUE(ends_with(out, c.message + kFormatMenu)) << out;
  }
}

std::string help(const std::string& answers, const std::string& fname = "unused") {
  Dialogue dialogue(answers);
  dathlp(dialogue.console, fname);
  return dialogue.out.str();
}

TEST(HelpScreens, MenuWarningsAndTheSingleColumnExampleScreen) {
  std::string warning = "\n You must enter a value between 0 and 7\n\n" + kHelpMenu;
  EXPECT_EQ(help("8\n9\n3\n\n0\n"),
            kHelpEntry + warning + warning +
                "\n Single Column\n\n Example:\n abscdef\n 1771\n 0.1\n 0.2\n"
                " 0.3\n bbscdef\n 1772\n 0.2\n 0.4\n cbscdef\n 1773\n 0.5\n 0.7\n 0.6\n 0.9\n"
                " ...\n ..\n und so veite, und so veite, ... \n <Hit Return to continue>\n" +
                kHelpMenu);
}

// Every other screen shows its own example and returns to the menu, which an
// empty answer leaves.
TEST(HelpScreens, EveryScreenShowsItsExample) {
  for (int code = 1; code <= 7; ++code) {
    std::string out = help(std::to_string(code) + "\n\n\n0\n");
    EXPECT_NE(out.find("\n " + help_example_file(code).at(2) + "\n"), std::string::npos) << code;
    EXPECT_TRUE(ends_with(out, "<Hit Return to continue>\n" + kHelpMenu)) << code;
  }
}

TEST(HelpScreens, PreviewShowsTenLinesAtATimeBelowTheRuler) {
  std::vector<std::string> lines;
  for (int i = 1; i <= 25; ++i) lines.push_back("line " + std::to_string(i));
  const TempFile file(lines);
  const std::string& path = file.path();
  auto shown = [](int from, int to) {
    std::string text;
    for (int i = from; i <= to; ++i) text += " >line " + std::to_string(i) + "\n";
    return text;
  };
  const std::string head =
      kHelpEntry + "\n  We will now show you the first 10 lines of file: " + path + "\n" +
      " >12345678901234567890123456789012345678901234567890123456789012345678901234567890\n";
  const std::string more = " Need to see more? [t]rue or [f]alse :";
  EXPECT_EQ(help("H\nT\nt\n0\n", path),
            head + shown(1, 10) + more + shown(11, 20) + more + shown(21, 25) + kHelpMenu);
  EXPECT_EQ(help("help\nF\n0\n", path), head + shown(1, 10) + more + kHelpMenu);
}

}  // namespace
}  // namespace quorvane::input
