// The input format help: its menu, the example screens and the file preview.
#include "input/help_screens.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "input_test_support.h"

namespace quorvane::input {
namespace {

using namespace testing;

const std::string kHelpMenu =
    "\n"
    " _____   Input Format Help Menu    _____\n"
    " Raw ring-widths (decade)             [1] \n"
    " Chronologies (index)                 [2] \n"
    " Single Column                        [3]\n"
    " Two Column                           [4]\n"
    " Multiple Columns                     [5]\n"
    " Monthly Climate                      [6]\n"
    " Other                                [7]\n"
    " Enter zero when finished             [0]\n"
    " Enter H for further help\n"
    " ________________________________________\n"
    " Enter a value between  [0-7]       : ";
const std::string kEntry = "\n Select a file type to see an example.\n";
const std::string kClosing = " und so veite, und so veite, ... \n";

std::string help(const std::string& answers, const std::string& fname = "unused") {
  Dialogue dialogue(answers);
  dathlp(dialogue.console, fname);
  return dialogue.out.str();
}

TEST(HelpScreens, MenuWarningsAndAnEmptyAnswerToLeave) {
  std::string warning = "\n You must enter a value between 0 and 7\n\n";
  EXPECT_EQ(help("8\n9\n\n"), kEntry + kHelpMenu + warning + kHelpMenu + warning + kHelpMenu);
}

TEST(HelpScreens, SingleColumnExampleScreen) {
  EXPECT_EQ(help("3\n\n0\n"),
            kEntry + kHelpMenu + "\n Single Column\n\n Example:\n abscdef\n 1771\n 0.1\n 0.2\n"
                " 0.3\n bbscdef\n 1772\n 0.2\n 0.4\n cbscdef\n 1773\n 0.5\n 0.7\n 0.6\n 0.9\n"
                " ...\n ..\n" + kClosing + " <Hit Return to continue>\n" + kHelpMenu);
}

TEST(HelpScreens, PreviewShowsTenLinesAtATimeBelowTheRuler) {
  TempDir dir;
  std::vector<std::string> lines;
  for (int i = 1; i <= 25; ++i) lines.push_back("line " + std::to_string(i));
  std::string path = dir.write("file.dat", lines);
  auto shown = [](int from, int to) {
    std::string text;
    for (int i = from; i <= to; ++i) text += " >line " + std::to_string(i) + "\n";
    return text;
  };
  const std::string head =
      kEntry + kHelpMenu + "\n  We will now show you the first 10 lines of file: " + path + "\n" +
      " >12345678901234567890123456789012345678901234567890123456789012345678901234567890\n";
  const std::string more = " Need to see more? [t]rue or [f]alse :";
  EXPECT_EQ(help("H\nT\nt\n0\n", path),
            head + shown(1, 10) + more + shown(11, 20) + more + shown(21, 25) + kHelpMenu);
  EXPECT_EQ(help("help\nF\n0\n", path), head + shown(1, 10) + more + kHelpMenu);
}

TEST(HelpScreens, EveryScreenShowsItsExampleFileAndEndsWithItsPause) {
  const char* pauses[] = {
      " <Hit Return to continue>", " <Hit Return to continue>", " <Hit Return to continue>",
      " <Hit Return to continue>", " Input: 2 sentinel = -9.9  <Hit Return to continue>",
      " Input: lskip = 5, nvar = 12, mult = 0.01  <Hit Return to continue>",
      " Input: lskip = 5, number of rows = 4, rfmt= (1x,i4,7x,f7.2)  <Hit Return to continue>",
  };
  for (int code = 1; code <= 7; ++code) {
    std::string out = help(std::to_string(code) + "\n\n\n0\n");
    EXPECT_NE(out.find(kClosing + pauses[code - 1] + "\n" + kHelpMenu), std::string::npos) << code;
    for (const auto& line : help_example_file(code, code == 5 ? 2 : 1))
      EXPECT_NE(out.find("\n " + line + "\n"), std::string::npos) << code << ": " << line;
  }
  // The multiple-column screen pauses after each of its two examples.
  EXPECT_NE(help("5\n\n\n0\n").find(kClosing + " Input: 2 sentinel = *******  <Hit Return to "
                                    "continue>\n\n Example 2:\n"),
            std::string::npos);
  EXPECT_THROW(help("5\n\n"), textio::EndOfInput);
}

TEST(HelpScreens, RowWiseScreenExplainsTheFormat) {
  EXPECT_NE(help("7\n\n0\n").find(
                "\n Fixed Format- row wise read     \n\n"
                " Reads row-wise column data in TSF format for the user \n"
                " who wants to read in only a specific column from a file\n"
                " of many columns.\n\n"
                " The User must enter the number of lines to skip down from\n"
                " the top AND the number of rows per record.\n\n"
                " The program ASSUMES that there is one (1) header line between\n"
                " each data block.\n\n"
                " The user must enter a fortran read statement (in parentheses) \n"
                " that will properly pick up the values in the desired column \n"
                " e.g (1x,i4,7x,f7.2) to read the second column in the \n"
                " example below\n\n"
                " The program will assign the number, in order of occurance, to \n"
                " each record for an ID field (e.g., 1, 2, 3, ....\n\n Example:\n"),
            std::string::npos);
}

TEST(HelpScreens, OpenedFromTheFormatMenuAndBackToIt) {
  TempDir dir;
  Session session;
  std::string out = session.run(dir.write("a.dat", {"abscdef", "1771", "0.1", "0.2"}), "0\n0\n3\n1\nF\n");
  EXPECT_NE(out.find(kFormatMenu + "\n" + kEntry + kHelpMenu + kFormatMenu), std::string::npos);
  EXPECT_EQ(session.npts, 2);
}

}  // namespace
}  // namespace quorvane::input
