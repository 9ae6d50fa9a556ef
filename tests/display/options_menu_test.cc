// The plot options menu and the style questions, as whole console
// transcripts.
#include <gtest/gtest.h>

#include "display_session.h"

namespace quorvane::display {
namespace {

using testing::ScopedEnv;
using testing::ScratchDirectory;
using testing::Session;
using testing::SmallAnalysis;

const std::string kMenu =
    "\n\n"
    "               |************* plot options menu **************|\n"
    "               | replot             [0]  major ticks y   [10] |\n"
    "               | background color   [1]  minor ticks y   [11] |\n"
    "               | frame color        [2]  max. x          [14] |\n"
    "               | text color         [3]  min. x          [15] |\n"
    "               | major ticks x      [8]  max. y          [16] |\n"
    "               | minor ticks x      [9]  min. y          [17] |\n"
    "               |                                              |\n"
    "               |              reset options  [99]             |\n"
    "               |----------------------------------------------|\n"
    "               |           [s]ave data   <[c]ontinue>         |\n"
    "               |______________________________________________|\n"
    "\n"
    "                enter option number > ";

const std::string kColourTable =
    "\n"
    "             color table ______________________________________________\n"
    "             white(0) red(1)  yellow(2)  green(3)  aquamarine(4) pink(5) \n"
    "             wheat(6)  grey(7)  browm(8)  blue(9)  blueviolet(10)\n"
    "             cyan(11)  turquoise(12)  magenta(13)  salmon(14)  black(15)\n"
    "             ___________________________________________________________\n"
    "\n";

const std::string kBackgroundTable =
    "\n"
    "             color table (background only) ____________________________\n"
    "             black(0) white(1)\n"
    "             ___________________________________________________________\n"
    "\n";

const std::string kTo = "             to > ";

class OptionsMenu : public ::testing::Test {
 protected:
  // The console output of one display call of the median spectrum (value
  // axis 0 to 108000 in steps of 12000) with the typed `answers`.
  std::string transcript(const std::string& answers, int iplot = 3) {
    Session session(answers);
    session.display.display(analysis_.input(iplot));
    err_ = session.err.str();
    return session.out.str();
  }

  ScopedEnv device_{"QUORVANE_DEVICE", "null"};
  ScratchDirectory directory_;
  SmallAnalysis analysis_;
  std::string err_;
};

TEST_F(OptionsMenu, ContinueLettersAndAnEmptyReplyEndTheMenu) {
  for (const char* reply : {"c", "C", "y", "Y", "", " ", "c and more"}) {
    EXPECT_EQ(transcript(std::string(reply) + "\n"), kMenu) << '"' << reply << '"';
  }
  EXPECT_EQ(err_, "");
  // Only the letter and a blank count: "yes" is cut to "ye".
  EXPECT_EQ(transcript("yes\nc\n"), kMenu + " WARNING: yes is not a menu option\n" + kMenu);
}

TEST_F(OptionsMenu, ColourQuestionsFollowTheColourTable) {
  // Background 2 asks for a colour of the user's own.
  EXPECT_EQ(transcript("1\n2\n10\n20\n30\n2\n3\n3\n4\n4\n5\n5\n6\nc\n"),
            kMenu + kBackgroundTable + "\n             select new background color [0 or 1] : " +
                "             enter red value [0-255] > " +
                "             enter green value [0-255] > " +
                "             enter blue value [0-255] > " + kMenu + kColourTable + "             select new frame color [0-15] : " + kMenu +
                kColourTable + "\n             select new text color: [0-15] : " + kMenu +
                kColourTable + "             select new line color: [0-15] : " + kMenu +
                kColourTable + "             select new curve color: [0-15] : " + kMenu);
}

TEST_F(OptionsMenu, StyleAndTickQuestionsShowTheCurrentValues) {
  EXPECT_EQ(transcript("6\n2\n7\n4\n8\n0.05\n9\n4\n10\n2000\n11\n2\n12\n1.5\n13\n3\nc\n"),
            kMenu + "\n             select new line style: [0-8] : " + kMenu +
                "\n             select new curve width: [0-8]  : " + kMenu + "\n             change x axis major tics from: 0.1\n" + kTo + kMenu +
                "\n             change x axis minor tics from:        5\n" + kTo + kMenu +
                "             change y axis major tics from: 12000.0\n" + kTo + kMenu +
                "\n             change y axis minor tics from:        5\n" + kTo + kMenu +
                "             change z axis major tics from: 0.0\n" + kTo + kMenu +
                "\n             change z axis minor tics from:        0\n" + kTo + kMenu);
}

TEST_F(OptionsMenu, WindowQuestionsShowTheCurrentWindow) {
  EXPECT_EQ(transcript("14\n0.25\n15\n0.1\n16\n5e4\n17\n-1\nc\n"),
            kMenu + "             change x axis max value from: 0.5\n" + kTo + kMenu +
                "             change x axis min value from: 0.0\n" + kTo + kMenu +
                "             change y axis max value from: 108000.0\n" + kTo + kMenu +
                "             change y axis min value from: 0.0\n" + kTo + kMenu);
}

TEST_F(OptionsMenu, ChangesLastForTheRestOfThePlot) {
  // A four-column answer reads "12345" as 1234.
  EXPECT_EQ(transcript("14\n0.25\n14\n1\n11\n12345\n11\n3\nc\n"),
            kMenu + "             change x axis max value from: 0.5\n" + kTo + kMenu +
                "             change x axis max value from: 0.25\n" + kTo + kMenu +
                "\n             change y axis minor tics from:        5\n" + kTo + kMenu +
                "\n             change y axis minor tics from:     1234\n" + kTo + kMenu);
}

TEST_F(OptionsMenu, ReplyIsCutToTwoCharactersSoOneHundredIsOptionTen) {
  EXPECT_EQ(transcript("100\n7\n10\n8\nc\n"),
            kMenu + "             change y axis major tics from: 12000.0\n" + kTo + kMenu +
                "             change y axis major tics from: 7.0\n" + kTo + kMenu);
}

TEST_F(OptionsMenu, SaveSpelledOutIsNeitherALetterCommandNorANumber) {
  EXPECT_EQ(transcript("save\nc\n"), kMenu + " WARNING: save is not a menu option\n" + kMenu);
  EXPECT_TRUE(directory_.files().empty());
}

TEST_F(OptionsMenu, OtherLettersAreReportedAndTheMenuIsShownAgain) {
  EXPECT_EQ(transcript("q  \nx1\n1x\nc\n"),
            kMenu + " WARNING: q is not a menu option\n" + kMenu +
                " WARNING: x1 is not a menu option\n" + kMenu +
                " WARNING: 1x is not a menu option\n" + kMenu);
}

TEST_F(OptionsMenu, NumbersOutsideTheOptionsRedrawWithoutAQuestion) {
  EXPECT_EQ(transcript("0\n42\n-5\nc\n"), kMenu + kMenu + kMenu + kMenu);
  // " 7" is option 7 (blanks ignored) and asks its question.
  EXPECT_EQ(transcript(" 7\n3\nc\n"),
            kMenu + "\n             select new curve width: [0-8]  : " + kMenu);
}

TEST_F(OptionsMenu, ResetRestoresTheDefaultsAndTheComputedValueAxis) {
  EXPECT_EQ(transcript("10\n7\n16\n5\n14\n0.2\n99\n10\n7\n16\n5\n14\n0.2\nc\n"),
            kMenu + "             change y axis major tics from: 12000.0\n" + kTo + kMenu +
                "             change y axis max value from: 108000.0\n" + kTo + kMenu +
                "             change x axis max value from: 0.5\n" + kTo + kMenu + kMenu +
                "             change y axis major tics from: 12000.0\n" + kTo + kMenu +
                "             change y axis max value from: 108000.0\n" + kTo + kMenu +
                "             change x axis max value from: 0.5\n" + kTo + kMenu);
}

TEST_F(OptionsMenu, EveryPlotStartsFromTheDefaults) {
  Session session("14\n0.2\nc\n14\n0.3\nc\n");
  session.display.display(analysis_.input(3));
  session.display.display(analysis_.input(3));
  const std::string question = "             change x axis max value from: ";
  EXPECT_EQ(session.out.str(), kMenu + question + "0.5\n" + kTo + kMenu + kMenu + question +
                                   "0.5\n" + kTo + kMenu);
}

TEST_F(OptionsMenu, TheFTestValueAxisStartsAtZero) {
  // ftest 0.5 to 12 alone would start at 0 anyway; a raised F statistic shows it.
  analysis_.ftest = {10.0f, 12.0f, 11.0f, 0.0f};
  EXPECT_EQ(transcript("17\n0\n16\n0\nc\n", 5),
            kMenu + "             change y axis min value from: 0.0\n" + kTo + kMenu +
                "             change y axis max value from: 12.0\n" + kTo + kMenu);
}

TEST_F(OptionsMenu, ANonNumericStyleAnswerIsAskedAgain) {
  EXPECT_EQ(transcript("2\nred\n3\n14\nwide\n0.4\nc\n"),
            kMenu + kColourTable + "             select new frame color [0-15] : " +
                " Please enter a whole number.\n" + "             select new frame color [0-15] : " +
                kMenu + "             change x axis max value from: 0.5\n" + kTo +
                " Please enter a number.\n" + kTo + kMenu);
}

TEST_F(OptionsMenu, SaveAsksForTheFileNameAfterAGapThenShowsTheMenu) {
  // Trailing blanks of the name are dropped.
  EXPECT_EQ(transcript("s\nsaved.dat  \nS\nsaved2.dat\nc\n"),
            kMenu + "\n             Enter plot_data file name : " + kMenu +
                "\n             Enter plot_data file name : " + kMenu);
  EXPECT_EQ(directory_.files(), (std::vector<std::string>{"saved.dat", "saved2.dat"}));
}

TEST_F(OptionsMenu, TheEndOfInputEndsTheDialogueAtAnyQuestion) {
  for (const char* answers : {"", "2\n", "14\n", "s\n", "1\n2\n10\n", "9\n\n"}) {
    Session session(answers);
    EXPECT_THROW(session.display.display(analysis_.input(1)), textio::EndOfInput) << answers;
  }
}

TEST_F(OptionsMenu, KindsThatAreNoPlotReturnAtOnce) {
  Session session("");
  session.display.display(analysis_.input(4));
  session.display.display(analysis_.input(0));
  EXPECT_EQ(session.out.str(), "");
}

}  // namespace
}  // namespace quorvane::display
