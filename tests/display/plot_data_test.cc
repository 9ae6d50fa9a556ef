// Plot-data files as the options menu saves them: header lines and number
// layouts of every plot kind, byte for byte.
#include <gtest/gtest.h>

#include <filesystem>

#include "display_session.h"

namespace quorvane::display {
namespace {

using testing::read_file;
using testing::ScopedEnv;
using testing::ScratchDirectory;
using testing::Session;
using testing::SmallAnalysis;
using testing::SmallReconstruction;

class PlotDataFile : public ::testing::Test {
 protected:
  // Draws `input`, saves its data to out.dat from the menu, continues, and
  // returns the file.
  std::string saved(const PlotInput& input) {
    Session session("s\nout.dat\nc\n");
    session.display.display(input);
    EXPECT_EQ(session.err.str(), "");
    return read_file("out.dat");
  }

  ScopedEnv device_{"QUORVANE_DEVICE", "null"};
  ScratchDirectory directory_;
  SmallAnalysis analysis_;
};

TEST_F(PlotDataFile, RawSpectrumHasTheSpectrumAndItsFourConfidenceLevels) {
  EXPECT_EQ(saved(analysis_.input(1)),
            " ff  specraw0  specback0*conf(1)  specback0*conf(2)"
            " specback0*conf(3)  specback0*conf(4)\n"
            " 0.0000       0.12E+03      0.10E+02      0.20E+02      0.30E+02      0.40E+02\n"
            " 0.1250       0.50E+00      0.20E+02      0.40E+02      0.60E+02      0.80E+02\n"
            " 0.2500       0.20E-02      0.50E+00      0.10E+01      0.15E+01      0.20E+01\n");
}

TEST_F(PlotDataFile, ReshapedPlotHasBothSpectra) {
  analysis_.harmonic0[2] = 0.3f;
  EXPECT_EQ(saved(analysis_.input(2)),
            " ff           specresh0     harmonic0 \n"
            " 0.0000       0.40E+02      0.00E+00\n"
            " 0.1250       0.50E+00      0.80E+02\n"
            " 0.2500      -0.50E+00      0.30E+00\n");
}

TEST_F(PlotDataFile, MedianSpectrumHasOneValuePerFrequency) {
  EXPECT_EQ(saved(analysis_.input(3)),
            " ff           specmed0\n"
            " 0.0000       0.30E+01\n"
            " 0.1250       0.25E+00\n"
            " 0.2500       0.10E+06\n");
}

TEST_F(PlotDataFile, FTestRepeatsTheFourLevelsOnEveryLine) {
  EXPECT_EQ(saved(analysis_.input(5)),
            " ff         ftest(p)       fconf(1)       fconf(2)      fconf(3)       fconf(4)\n"
            " 0.0000       0.50E+00      0.15E+01      0.25E+01      0.35E+01      0.45E+01\n"
            " 0.1250       0.12E+02      0.15E+01      0.25E+01      0.35E+01      0.45E+01\n"
            " 0.2500       0.30E+01      0.15E+01      0.25E+01      0.35E+01      0.45E+01\n");
}

TEST_F(PlotDataFile, ReconstructionHasTimeSignalAndAnomalyInFreeFormat) {
  SmallReconstruction recon;
  EXPECT_EQ(saved(recon.input()),
            " ff           signal      a\n"
            " 0.0 -0.75 -1.0\n"
            " 1.0 0.5 1.0\n"
            " 2.0 1.0 0.5\n"
            " 3.0 0.0 -0.5\n");
}

TEST_F(PlotDataFile, AFrequencyTooWideForItsFieldIsWrittenAsAsterisks) {
  PlotInput input = analysis_.input(3);
  input.x0 = 99.5f;
  input.dx = 0.25f;
  EXPECT_EQ(saved(input),
            " ff           specmed0\n"
            "99.5000       0.30E+01\n"
            "99.7500       0.25E+00\n"
            "*******       0.10E+06\n");
}

TEST_F(PlotDataFile, ABandOfOneBinWritesTheHeaderOnly) {
  EXPECT_EQ(saved(analysis_.input(1, 1)),
            " ff  specraw0  specback0*conf(1)  specback0*conf(2)"
            " specback0*conf(3)  specback0*conf(4)\n");
  EXPECT_EQ(saved(analysis_.input(5, 0)),
            " ff         ftest(p)       fconf(1)       fconf(2)      fconf(3)       fconf(4)\n");
}

TEST_F(PlotDataFile, ShortArraysLimitThePointsInsteadOfBeingOverrun) {
  PlotInput input = analysis_.input(3, 100);
  EXPECT_EQ(saved(input),
            " ff           specmed0\n"
            " 0.0000       0.30E+01\n"
            " 0.1250       0.25E+00\n"
            " 0.2500       0.10E+06\n"
            " 0.3750       0.70E+01\n");
}

TEST_F(PlotDataFile, DataAreThoseOfThePreparedPlotWhateverTheWindow) {
  Session session("14\n0.2\n16\n-3\ns\nout.dat\nc\n");
  session.display.display(analysis_.input(3));
  EXPECT_EQ(read_file("out.dat"),
            " ff           specmed0\n"
            " 0.0000       0.30E+01\n"
            " 0.1250       0.25E+00\n"
            " 0.2500       0.10E+06\n");
}

TEST_F(PlotDataFile, SavingTwiceToOneNameKeepsOnlyTheSecondContent) {
  Session session("s\nsame.dat\nc\ns\nsame.dat\nc\n");
  session.display.display(analysis_.input(1));
  session.display.display(analysis_.input(3));
  EXPECT_EQ(read_file("same.dat"), saved(analysis_.input(3)));
  // Nothing but the two saved files is left behind.
  EXPECT_EQ(directory_.files(), (std::vector<std::string>{"out.dat", "same.dat"}));
}

TEST_F(PlotDataFile, AnEmptyNameSavesNothingAndShowsTheMenuAgain) {
  Session session("s\n   \nc\n");
  session.display.display(analysis_.input(3));
  EXPECT_NE(session.out.str().find("Enter plot_data file name : "
                                   " WARNING: no file name given, nothing saved\n\n\n"),
            std::string::npos)
      << session.out.str();
  EXPECT_TRUE(directory_.files().empty());
}

TEST_F(PlotDataFile, AFileThatCannotBeCreatedIsReportedAndNothingIsLeft) {
  Session session("s\nmissing/out.dat\nc\n");
  session.display.display(analysis_.input(3));
  EXPECT_NE(session.out.str().find(" WARNING: cannot write plot_data file missing/out.dat "
                                   "(No such file or directory)\n"),
            std::string::npos)
      << session.out.str();
  EXPECT_TRUE(directory_.files().empty());
}

TEST_F(PlotDataFile, AFailedReplacementLeavesTheOldFileAndNoTemporary) {
  // A directory in the way: the new content cannot take its place.
  std::filesystem::create_directory("taken");
  std::ofstream("taken/keep") << "old content\n";
  Session session("s\ntaken\nc\n");
  session.display.display(analysis_.input(3));
  EXPECT_NE(session.out.str().find(" WARNING: cannot write plot_data file taken ("),
            std::string::npos);
  EXPECT_EQ(read_file("taken/keep"), "old content\n");
  EXPECT_EQ(directory_.files(), (std::vector<std::string>{"taken"}));
}

}  // namespace
}  // namespace quorvane::display
