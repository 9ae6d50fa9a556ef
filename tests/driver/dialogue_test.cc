// Whole dialogues of the program, run in-process over string streams.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "driver/program.h"

namespace quorvane::driver {
namespace {

const std::string kSunspots = std::string(QUORVANE_SOURCE_DIR) + "/examples/sunspots.dat";

struct Session {
  int status = 0;
  std::string out;
  std::string err;
};

Session run(const std::string& input) {
  std::istringstream in(input);
  std::ostringstream out, err;
  Session result;
  result.status = run_quorvane(in, out, err);
  result.out = out.str();
  result.err = err.str();
  return result;
}

// The dialogue that reads the sunspot series and declines to view it.
std::string sunspots() { return kSunspots + "\n3\n1\nf\n"; }

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Everything written after the first occurrence of `marker`.
std::string after(const std::string& text, const std::string& marker) {
  auto at = text.find(marker);
  return at == std::string::npos ? std::string("<marker missing: " + marker + ">")
                                 : text.substr(at + marker.size());
}

const char* const kDefaultMenu =
    "\n"
    " MAIN MENU - Quorvane\n"
    "\n"
    " 1) variance/resolution tradeoff:\n"
    "      Resolution =      2\n"
    "      Number of tapers =      3\n"
    " 2) null hypothesis: red noise\n"
    "     * robust noise background estimation\n"
    "          & fsmooth = 0.1\n"
    "     (min log-misfit noise background)\n"
    " 3) signal assumption: harmonic or narrowband\n"
    " 4) spectrum: \n"
    "     * adaptive estimate\n"
    "     * no normalization\n"
    "     * reshaped at threshold = 95.0 %\n"
    "     * frequency range: 0.0 0.5\n"
    " 5) signals to reconstruct: 0\n"
    " 6) display:\n"
    "   \t *  F-test spectrum\n"
    "   \t *   & 50% 90% 95% 99% sig levels\n"
    "     * raw spectrum\n"
    "     * reshaped & harmonic spectra\n"
    "     * median smoothed spectrum\n"
    "     * 50% 90% 95% 99% sig levels\n"
    " 8) to exit program\n"
    " option (continue=0) :>> ";

// A file that does not exist is asked for again, and so is a menu answer
// that is not a number.
TEST(StartUp, BannerThenFilePromptUntilAnExistingFileIsNamedAndMenuUntilANumber) {
  Session r = run("no/such/file.dat\n\n" + sunspots() + "menu\n8\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("\n\n Program: Quorvane v15 ~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~\n\n     ", 0),
            0u);
  EXPECT_PRED2(contains, r.out,
               " ~~~~~~~~~~~~~~~~~~~~~~~~ Feb.01,2013 ~~~~~~~~~~~~~~~~~~~~~~\n"
               "\n"
               " Enter Time Series File : \n"
               " WARNING: File > no/such/file.dat              <does not exist\n"
               "\n"
               " Hit return to continue\n"
               " Enter Time Series File : ");
  EXPECT_EQ(after(r.out, "[T]rue or [F]alse : "),
            std::string(kDefaultMenu) + " Please enter a whole number.\n" +
                " option (continue=0) :>> \n quitting...\n");
}

TEST(StartUp, EndOfInputAtAnyPromptStopsWithAMessage) {
  for (const std::string& input :
       {std::string(), std::string("missing\n"), kSunspots + "\n", kSunspots + "\n3\n1\n",
        sunspots(), sunspots() + "1\n", sunspots() + "2\n0\n1\n"}) {
    Session r = run(input);
    EXPECT_NE(r.status, 0) << input;
    EXPECT_EQ(r.err, " Input ended before the dialogue was finished; quorvane stops.\n") << input;
  }
}

TEST(MainMenu, ResolutionDialogSetsTapersAndBandwidth) {
  Session r = run(sunspots() + "1\n4\n7\n8\n");
  std::string menu = kDefaultMenu;
  menu.replace(menu.find("Resolution =      2"), 19, "Resolution =      4");
  menu.replace(menu.find("tapers =      3"), 15, "tapers =      7");
  EXPECT_EQ(after(r.out, "[T]rue or [F]alse : " + std::string(kDefaultMenu)),
            "    resolution in \"p\" multiples of Rayleigh frequency\n"
            "    enter Response :>>     number of tapers (suggested = 7 ) \n"
            "    enter Response :>> " +
                menu + "\n quitting...\n");
}

// The lines of the menu between "2)" and "3)" and the display lines.
std::string last_menu(const std::string& out) {
  auto at = out.rfind(" MAIN MENU - Quorvane");
  return at == std::string::npos ? std::string() : out.substr(at);
}

// Each menu item's dialogue: what it asks (in the transcript) and what the
// menu shows afterwards (in the last menu).
struct MenuCase {
  std::string answers;  // after reading the sunspots
  std::vector<std::string> asked, shown;
};

TEST(MainMenu, EachItemsDialogueAsksItsQuestionsAndTheMenuShowsTheChoice) {
  const MenuCase cases[] = {
      {"2\n1\n0\n8\n", {},
       {" 2) null hypothesis: white noise\n"
        "     * raw noise background estimation\n"
        " 3) signal"}},
      // A smoothing width out of bounds is asked again.
      {"2\n0\n1\n0.3\n0.01\n0.05\n0\n8\n",
       {"    null hypothesis:\n"
        "    (0) red noise\n"
        "    (1) white noise\n"
        "    (2) locally-white noise\n"
        "    enter Response :>>     background estimation:\n"
        "    (0) raw\n"
        "    (1) robust\n"
        "    enter Response :>>     median smoothing width\n"
        "    choose: 0.01294498 < f < 0.25\n"
        "    enter Response :>>     your frequency width is out of bounds!\n"
        "    median smoothing width\n"
        "    choose: 0.01294498 < f < 0.25\n"
        "    enter Response :>>     your frequency width is out of bounds!\n"
        "    median smoothing width\n"
        "    choose: 0.01294498 < f < 0.25\n"
        "    enter Response :>>     red noise background fit:\n"
        "    (0) linear\n"
        "    (1) log\n"
        "    enter Response :>> \n"},
       {"          & fsmooth = 0.05\n     (min misfit noise background)\n"}},
      // The harmonic assumption forces locally-white noise and hides the
      // background plots.
      {"3\n2\n2\n8\n",
       {"    signal assumption\n"
        "    (0) harmonic or narrowband\n"
        "    (1) narrowband\n"
        "    (2) harmonic\n"
        "    enter Response :>> ",
        " option (continue=0) :>>     harmonic signal-only detection requires\n"
        "    a \"locally-white noise\" assumption...\n"},
       {" 2) null hypothesis: locally-white noise\n"
        " 3) signal assumption: harmonic\n",
        " 6) display:\n"
        "   \t *  F-test spectrum\n"
        "   \t *   & 50% 90% 95% 99% sig levels\n"
        "     * raw spectrum\n"
        "     * reshaped & harmonic spectra\n"
        " 8) to exit program\n"}},
      // A level outside the list is asked again.
      {"4\n0\n1\n1\n7\n3\n0.05\n0.4\n8\n",
       {"    (0) high-resolution or (1) adaptive estimate\n"
        "    enter Response :>>     normalization:\n"
        "    (0) none (1) N  (2) 1/dt\n"
        "    enter Response :>>     reshaping (yes=1)?\n"
        "    enter Response :>>     sig. level for harmonic peak detection/reshaping\n"
        "    (0) 50% (1) 90% (2) 95% (3) 99% (4) 99.5% (5) 99.9%\n"
        "    enter Response :>>     please choose a level from 0 to 5\n"
        "    sig. level for harmonic peak detection/reshaping\n"
        "    (0) 50% (1) 90% (2) 95% (3) 99% (4) 99.5% (5) 99.9%\n"
        "    enter Response :>>     fmin:\n"
        "    enter Response :>>     fmax:\n"
        "    enter Response :>> \n"},
       {"          & fsmooth = 0.07\n",
        "     * high-resolution estimate\n"
        "     * normalize by  N \n"
        "     * reshaped at threshold = 99.0 %\n"
        "     * frequency range: 0.05 0.4\n"}},
      {"4\n1\n2\n0\n0\n0.5\n8\n", {},
       {"     * adaptive estimate\n"
        "     * normalize by 1/dt\n"
        "     * unreshaped\n"}},
      // Display toggles flip; with a narrowband assumption the reshaped and
      // F-test plots stay off.
      {"6\n1\n2\n3\n4\n5\n0\n8\n",
       {"    display options (toggle)\n"
        "    (1) raw spectrum                : 1\n"
        "    (2) reshaped & harmonic spectra : 1\n"
        "    (3) median smoothed background  : 1\n"
        "    (4) 50% 90% 95% 99% conf levels : 1\n"
        "    (5) F-test spectrum             : 1\n"
        "    option to change: (0=continue)\n"
        "    enter Response :>>     display options (toggle)\n"
        "    (1) raw spectrum                : 0\n"},
       {" 6) no display:\n 8) to exit program\n"}},
      {"3\n1\n6\n9\n0\n8\n", {},
       {" 6) display:\n"
        "     * raw spectrum\n"
        "     * median smoothed spectrum\n"
        "     * 50% 90% 95% 99% sig levels\n"
        " 8) to exit program\n"}},
      // Leaving the empty signal list with 0 goes straight back to the menu.
      {"5\n0\n8\n",
       {"    4) signals to reconstruct: 0\n"
        "    no signals to reconstruct\n"
        "    ( 1 )    enter your own frequency?\n"
        "    select (toggle) 0=continue\n"
        "    enter Response :>> \n MAIN MENU"},
       {}},
      // A frequency outside 0..Nyquist or not a number is asked again; the
      // constraint must be one of the four. The stale results then bring a
      // spectrum run, which replaces the list.
      {"1\n2\n3\n5\n1\n-0.1\n0.7\nabc\n0.2\n5\n1\nc\nc\nc\nc\n8\n",
       {"    frequency?\n"
        "    enter Response :>>     the frequency must lie between 0 and 0.5\n"
        "    frequency?\n"
        "    enter Response :>>     the frequency must lie between 0 and 0.5\n"
        "    frequency?\n"
        "    enter Response :>>  Please enter a number.\n"
        "    enter Response :>>     constraint option:\n"
        "    (0) min misfit (1) min norm (2) min slope (3) min rough\n"
        "    enter Response :>>     please choose a constraint from 0 to 3\n"
        "    constraint option:\n"
        "    (0) min misfit (1) min norm (2) min slope (3) min rough\n"
        "    enter Response :>> "},
       {}},
  };
  for (const MenuCase& c : cases) {
    Session r = run(sunspots() + c.answers);
    EXPECT_EQ(r.status, 0) << c.answers;
    for (const std::string& text : c.asked) EXPECT_PRED2(contains, r.out, text) << c.answers;
    for (const std::string& text : c.shown) EXPECT_PRED2(contains, last_menu(r.out), text) << c.answers;
  }
}

// A number typed outside a menu's choices is kept: the menu shows it as the
// last choice and the run refuses it, after a taper count the engine
// refuses; once the choice is fixed the run goes ahead.
TEST(MainMenu, AChoiceOutsideTheListIsShownAndRefusedByTheRun) {
  const std::string refused =
      " An analysis option is outside its range (inoise 5, irobust 0, ilogfit 1, isignal 0, "
      "iadapt 1, isiglev 3).\n";
  Session r = run(sunspots() + "2\n5\n0\n0\n2\n1\n0\n0\nc\nc\nc\nc\n8\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_PRED2(contains, r.out,
               " 2) null hypothesis: locally-white noise\n     * raw noise background estimation\n");
  EXPECT_PRED2(contains, r.out, " option (continue=0) :>> " + refused);
  EXPECT_PRED2(contains, after(r.out, refused), "plot options menu");

  Session tapers = run(sunspots() + "1\n2\n9\n2\n5\n0\n0\n8\n");
  ASSERT_EQ(tapers.status, 0) << tapers.err;
  EXPECT_PRED2(contains, tapers.out,
               " option (continue=0) :>>  The number of tapers must be between 1 and 8 (it is 9).\n");
  EXPECT_FALSE(contains(tapers.out, "outside its range"));
}

TEST(SignalsDialog, TableListsPeaksWithTrendRowsAndRefusesEntriesOutsideIt) {
  Session r = run(sunspots() + "0\nc\nc\nc\nc\n5\n1\n99\n0\n0\nc\n8\n");
  ASSERT_EQ(r.status, 0) << r.err;
  std::string table = after(r.out, "    4) signals to reconstruct: ");
  EXPECT_PRED2(contains, table,
               "    signal frequency signif% reconstruct\n"
               "  1)   TREND         95%     0\n")
      << table.substr(0, 400);
  // The 11-year cycle once, at its maximum, not at two points of its flanks.
  EXPECT_PRED2(contains, table, "  2)    0.0947       99%     0\n  3)    0.1221       99%     0\n");
  EXPECT_PRED2(contains, table, "  1)   TREND         95%     1\n");
  EXPECT_PRED2(contains, table, "    please choose an entry from 0 to");
  EXPECT_PRED2(contains, table, ")    ADD NEW frequency\n    select (toggle) 0=continue\n");
}

TEST(SignalsDialog, SecondContinueWithCurrentResultsDoesNothingUntilTheDialogWasUsed) {
  Session r = run(sunspots() + "0\nc\nc\nc\nc\n0\n8\n");
  ASSERT_EQ(r.status, 0) << r.err;
  std::string rest = after(r.out, " option (continue=0) :>> ");
  rest = after(rest, " option (continue=0) :>> ");
  // The second answer 0 only shows the menu again.
  EXPECT_EQ(rest.find("plot options menu"), std::string::npos);
}

TEST(Reselection, ItemSevenChoosesAgainWithoutAskingForTheFile) {
  Session r = run(sunspots() + "1\n3\n5\n7\n1\nf\n8\n");
  ASSERT_EQ(r.status, 0) << r.err;
  std::string rest = after(r.out, "    enter Response :>> \n");
  EXPECT_EQ(rest.find("Enter Time Series File"), std::string::npos);
  EXPECT_EQ(rest.find("Input Data Format Menu"), std::string::npos);
  EXPECT_PRED2(contains, rest, "Series selection menu");
  // The settings are back to their defaults.
  EXPECT_EQ(last_menu(r.out), std::string(kDefaultMenu).substr(1) + "\n quitting...\n");
}

// A series with a missing year says once which analysis its spectrum gets
// and has its reconstruction refused; the complete series of the same file
// reads as it always has.
TEST(Sampling, AGappySeriesIsNamedAsSuchAndItsReconstructionRefused) {
  const auto path = std::filesystem::temp_directory_path() / "quorvane_dialogue_gaps.txt";
  {
    std::ofstream file(path);
    file << "yr a b\n";
    for (int i = 0; i < 200; ++i) file << 1800 + i << (i == 50 ? " * " : " 1.5 ") << i % 7 << "\n";
  }
  Session r = run(path.string() + "\n5\n0\n3\n*\n1\nf\n5\n7\n2\nf\n8\n");
  std::filesystem::remove(path);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string expected =
      " Series a has gaps: 1 of 200 samples missing; its spectrum uses the missing-data "
      "multitaper method.\n" +
      std::string(kDefaultMenu) + " Series a has gaps; the reconstruction needs evenly spaced "
      "values.\n" + kDefaultMenu;
  EXPECT_EQ(after(r.out, "[T]rue or [F]alse : ").substr(0, expected.size()), expected);
  const std::string question = "[T]rue or [F]alse : ";
  EXPECT_EQ(r.out.substr(r.out.rfind(question) + question.size()),
            std::string(kDefaultMenu) + "\n quitting...\n");
}

}  // namespace
}  // namespace quorvane::driver
