// The plot options menu and the style questions, as console transcripts, and
// the plot-data files the menu saves, byte for byte.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include <utility>
#include <vector>

#include "display_session.h"

namespace quorvane::display::testing {
namespace {

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

const std::string kQ(13, ' ');  // the indent of every question
const std::string kTo = kQ + "to > ";

class OptionsMenu : public DisplayTest {};

// Three plots: twice the median spectrum of a band from 0.25 in steps of 0.01
// (the frequency window still opens at 0 to 0.5 in steps of 0.1; the value
// axis is computed as 0 to 108000 in steps of 12000), then the F-test. Each
// step is what is typed and what is shown before the menu comes back.
TEST_F(OptionsMenu, EveryQuestionAndReplyInOneTranscript) {
  const std::pair<const char*, std::string> steps[] = {
      {"1\n2\n10\n20\n30\n",  // background 2 asks for a colour of the user's own
       "\n" + kQ + "color table (background only) ____________________________\n" + kQ +
           "black(0) white(1)\n" + kQ +
           "___________________________________________________________\n\n\n" + kQ +
           "select new background color [0 or 1] : " + kQ + "enter red value [0-255] > " + kQ +
           "enter green value [0-255] > " + kQ + "enter blue value [0-255] > "},
      {"2\n3\n", kColourTable + kQ + "select new frame color [0-15] : "},
      {"3\n4\n", kColourTable + "\n" + kQ + "select new text color: [0-15] : "},
      {"4\n4\n", kColourTable + kQ + "select new line color: [0-15] : "},
      {"5\n5\n", kColourTable + kQ + "select new curve color: [0-15] : "},
      {"6\n2\n", "\n" + kQ + "select new line style: [0-8] : "},
      {"7\n4\n", "\n" + kQ + "select new curve width: [0-8]  : "},
      {"8\n0.05\n", "\n" + kQ + "change x axis major tics from: 0.1\n" + kTo},
      {"9\n4\n", "\n" + kQ + "change x axis minor tics from:        5\n" + kTo},
      {"10\n2000\n", kQ + "change y axis major tics from: 12000.0\n" + kTo},
      {"11\n12345\n", "\n" + kQ + "change y axis minor tics from:        5\n" + kTo},
      {"12\n1.5\n", kQ + "change z axis major tics from: 0.0\n" + kTo},
      {"13\n3\n", "\n" + kQ + "change z axis minor tics from:        0\n" + kTo},
      {"14\n0.25\n", kQ + "change x axis max value from: 0.5\n" + kTo},
      {"15\n0.1\n", kQ + "change x axis min value from: 0.0\n" + kTo},
      {"16\n5e4\n", kQ + "change y axis max value from: 108000.0\n" + kTo},
      {"17\n-1\n", kQ + "change y axis min value from: 0.0\n" + kTo},
      // Changes last for the rest of the plot; a four-column answer reads
      // "12345" as 1234.
      {"10\n7\n", kQ + "change y axis major tics from: 2000.0\n" + kTo},
      {"11\n3\n", "\n" + kQ + "change y axis minor tics from:     1234\n" + kTo},
      {"c\n", ""},  // the next plot starts from the defaults
      {"16\n5e4\n", kQ + "change y axis max value from: 108000.0\n" + kTo},
      {"99\n", ""},  // defaults and the computed value axis again, without a question
      {"100\n8\n", kQ + "change y axis major tics from: 12000.0\n" + kTo},  // option 10
      {"16\n1\n", kQ + "change y axis max value from: 108000.0\n" + kTo},
      // Only the first two characters of a reply count: "sa" is no letter
      // command and no number either.
      {"yes\n", " WARNING: yes is not a menu option\n"},
      {"save\n", " WARNING: save is not a menu option\n"},
      {"1x\n", " WARNING: 1x is not a menu option\n"},
      {"0\n42\n", kMenu},  // numbers outside the menu redraw without a question
      {"14\nwide\n0.4\n", kQ + "change x axis max value from: 0.5\n" + kTo +
                              " Please enter a number.\n" + kTo},
      {"s\n   \n", "\n" + kQ + "Enter plot_data file name : " +
                      " WARNING: no file name given, nothing saved\n"},
      {"s\nsaved.dat  \n", "\n" + kQ + "Enter plot_data file name : "},  // blanks dropped
      {"c\n", ""},  // the F-test value axis starts at 0, not at 9.75
      {"17\n0\n", kQ + "change y axis min value from: 0.0\n" + kTo},
  };
  std::string answers, expected = kMenu;
  for (const auto& [typed, shown] : steps) {
    answers += typed;
    expected += shown + kMenu;
  }
  Session session(answers + "c\n");
  PlotInput input = sample_.input(3);
  std::vector<float> frequency(3);
  for (std::size_t i = 0; i < frequency.size(); ++i)
    frequency[i] = 0.25f + static_cast<float>(i) * 0.01f;
  input.x = frequency;
  session.display.display(input);
  session.display.display(input);
  session.display.display(sample_.input(5));
  session.display.display(sample_.input(4));  // no such plot: nothing shown, nothing read
  EXPECT_EQ(session.out.str(), expected);
  // The data of the plot as prepared, whatever the window; nothing else saved.
  EXPECT_EQ(read_file("saved.dat"),
            " ff           specmed0\n"
            " 0.2500       0.30E+01\n"
            " 0.2600       0.25E+00\n"
            " 0.2700       0.10E+06\n");
  EXPECT_EQ(directory_.files(), std::vector<std::string>{"saved.dat"});
}

TEST_F(OptionsMenu, ContinueLettersAnEmptyReplyOrTheEndOfInputEndTheMenu) {
  for (const char* reply : {"c", "C", "y", "Y", "", " ", "c and more"}) {
    Session session(std::string(reply) + "\n");
    session.display.display(sample_.input(3));
    EXPECT_EQ(session.out.str(), kMenu) << '"' << reply << '"';
  }
  for (const char* answers : {"", "2\n", "14\n", "s\n", "1\n2\n10\n", "9\n\n"}) {
    Session session(answers);
    EXPECT_THROW(session.display.display(sample_.input(1)), textio::EndOfInput) << answers;
  }
}

class PlotDataFile : public DisplayTest {};

TEST_F(PlotDataFile, EveryPlotKindIsSavedInItsOwnLayout) {
  PlotInput far = sample_.input(3);  // the last frequency does not fit its 7 columns
  const std::vector<float> far_frequency = {99.5f, 99.75f, 100.0f};
  far.x = far_frequency;
  // A curve shorter than the abscissae shortens the plot.
  PlotInput short_curve = sample_.input(2);
  short_curve.curves[1] = std::span<const float>(sample_.harmonic0).first(2);
  PlotInput empty = sample_.input(5);
  empty.x = {};
  const struct { PlotInput input; const char* file; } cases[] = {
      {sample_.input(1),
       " ff  specraw0  specback0*conf(1)  specback0*conf(2)"
       " specback0*conf(3)  specback0*conf(4)\n"
       " 0.0000       0.12E+03      0.10E+02      0.20E+02      0.30E+02      0.40E+02\n"
       " 0.1250       0.50E+00      0.20E+02      0.40E+02      0.60E+02      0.80E+02\n"
       " 0.2500       0.20E-02      0.50E+00      0.10E+01      0.15E+01      0.20E+01\n"},
      {sample_.input(2),
       " ff           specresh0     harmonic0 \n"
       " 0.0000       0.40E+02      0.00E+00\n"
       " 0.1250       0.50E+00      0.80E+02\n"
       " 0.2500      -0.50E+00      0.30E+00\n"},
      {sample_.input(5),  // the four levels on every line
       " ff         ftest(p)       fconf(1)       fconf(2)      fconf(3)       fconf(4)\n"
       " 0.0000       0.10E+02      0.15E+01      0.25E+01      0.35E+01      0.45E+01\n"
       " 0.1250       0.12E+02      0.15E+01      0.25E+01      0.35E+01      0.45E+01\n"
       " 0.2500       0.11E+02      0.15E+01      0.25E+01      0.35E+01      0.45E+01\n"},
      {sample_.input(6),  // elapsed time, signal and anomaly in free format
       " ff           signal      a\n"
       " 0.0 -0.75 -1.0\n"
       " 1.0 0.5 1.0\n"
       " 2.0 1.0 0.5\n"
       " 3.0 0.0 -0.5\n"},
      {far,
       " ff           specmed0\n"
       "99.5000       0.30E+01\n"
       "99.7500       0.25E+00\n"
       "*******       0.10E+06\n"},
      {short_curve,
       " ff           specresh0     harmonic0 \n"
       " 0.0000       0.40E+02      0.00E+00\n"
       " 0.1250       0.50E+00      0.80E+02\n"},
      {empty,  // an empty band: the header only
       " ff         ftest(p)       fconf(1)       fconf(2)      fconf(3)       fconf(4)\n"},
  };
  for (const auto& c : cases) {
    Session session("s\nout.dat\nc\n");
    session.display.display(c.input);
    EXPECT_EQ(read_file("out.dat"), c.file);
  }
  // Each save replaced the file of the one before and left no temporary.
  EXPECT_EQ(directory_.files(), std::vector<std::string>{"out.dat"});
}

TEST_F(PlotDataFile, AFailedSaveIsReportedAndLeavesTheOldFileIntact) {
  std::ofstream("old.dat") << "old content\n";
  Session session("s\nold.dat\nc\n");
  // Files may not grow beyond 30 bytes: the new content fails half-written.
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  const rlimit small{30, limit.rlim_max};  // the soft limit only, so it can be raised again
  auto* const handler = std::signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  session.display.display(sample_.input(3));
  setrlimit(RLIMIT_FSIZE, &limit);
  std::signal(SIGXFSZ, handler);

  const std::string warning = " WARNING: cannot write plot_data file old.dat (write failed)\n";
  EXPECT_NE(session.out.str().find(warning), std::string::npos);
  EXPECT_EQ(read_file("old.dat"), "old content\n");
  EXPECT_EQ(directory_.files(), std::vector<std::string>{"old.dat"});
}

}  // namespace
}  // namespace quorvane::display::testing
