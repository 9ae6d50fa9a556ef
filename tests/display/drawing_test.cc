// Drawing through PLplot: where the plots go, what they carry, and that no
// PLplot trouble ever prompts or ends the program.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
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

// The texts of an SVG file written by PLplot, which encodes every character
// as a numeric entity.
std::string svg_text(const std::string& path) {
  const std::string svg = read_file(path);
  std::string text;
  for (auto at = svg.find("&#x"); at != std::string::npos; at = svg.find("&#x", at + 1)) {
    const auto end = svg.find(';', at);
    if (end == std::string::npos) break;
    text += static_cast<char>(std::stoi(svg.substr(at + 3, end - at - 3), nullptr, 16));
  }
  return text;
}

bool is_png(const std::string& path) { return read_file(path).substr(0, 4) == "\x89PNG"; }

int count(const std::string& text, const std::string& piece) {
  int n = 0;
  for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

class Drawing : public ::testing::Test {
 protected:
  ScopedEnv display_{"DISPLAY", nullptr};
  ScratchDirectory directory_;
  SmallAnalysis analysis_;
  SmallReconstruction recon_;
};

TEST_F(Drawing, EveryPlotKindGoesToItsOwnFileWithItsTitleAndLabels) {
  ScopedEnv device("QUORVANE_DEVICE", "svg");
  Session session("c\nc\nc\nc\nc\n");
  for (int kind : {1, 2, 3, 5}) session.display.display(analysis_.input(kind));
  session.display.display(recon_.input());

  EXPECT_EQ(directory_.files(),
            (std::vector<std::string>{"nino12_recon.svg", "sunspots_ftest.svg",
                                      "sunspots_median.svg", "sunspots_raw.svg",
                                      "sunspots_reshaped.svg"}));
  EXPECT_EQ(session.err.str(),
            " plot written to sunspots_raw.svg\n"
            " plot written to sunspots_reshaped.svg\n"
            " plot written to sunspots_median.svg\n"
            " plot written to sunspots_ftest.svg\n"
            " plot written to nino12_recon.svg\n");

  const std::string raw = svg_text("sunspots_raw.svg");
  for (const char* text : {"Raw Spectrum with Confidence Limits", "sunspots", "Frequency", "Power",
                           "50%", "90%", "95%", "99%"})
    EXPECT_NE(raw.find(text), std::string::npos) << text;
  const std::string reshaped = svg_text("sunspots_reshaped.svg");
  for (const char* text : {"Specresh", "Harmonic", "Frequency", "Power"})
    EXPECT_NE(reshaped.find(text), std::string::npos) << text;
  EXPECT_EQ(reshaped.find("sunspots"), std::string::npos);  // only kind 1 names the series
  EXPECT_NE(svg_text("sunspots_median.svg").find("SpecMed"), std::string::npos);
  const std::string ftest = svg_text("sunspots_ftest.svg");
  for (const char* text : {"F-test", "F-score", "Frequency", "50%", "99%"})
    EXPECT_NE(ftest.find(text), std::string::npos) << text;
  const std::string recon = svg_text("nino12_recon.svg");
  for (const char* text : {"Reconstruction", "Elapsed time", "Signal and anomaly"})
    EXPECT_NE(recon.find(text), std::string::npos) << text;
}

TEST_F(Drawing, SpectrumPlotsOpenOnTheHalfBandWithTenthTicks) {
  ScopedEnv device("QUORVANE_DEVICE", "svg");
  PlotInput input = analysis_.input(3);
  input.x0 = 0.25f;  // a band that does not start at 0
  input.dx = 0.01f;
  Session session("c\n");
  session.display.display(input);
  const std::string text = svg_text("sunspots_median.svg");
  for (const char* tick : {"0.0", "0.1", "0.2", "0.3", "0.4", "0.5"})
    EXPECT_NE(text.find(tick), std::string::npos) << tick;
}

TEST_F(Drawing, WithoutADisplayPlotsBecomePngFilesAndNothingIsPrompted) {
  ScopedEnv device("QUORVANE_DEVICE", nullptr);
  // PLplot would prompt on the process's own streams: give it an empty
  // standard input and catch its standard output.
  std::fflush(stdout);
  const int saved_in = dup(0), saved_out = dup(1);
  const int empty = open("/dev/null", O_RDONLY);
  const int caught = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(empty, 0);
  dup2(caught, 1);
  Session session("c\n0\nc\n");
  session.display.display(analysis_.input(1));
  session.display.display(recon_.input());
  std::fflush(stdout);
  dup2(saved_in, 0);
  dup2(saved_out, 1);
  for (int fd : {saved_in, saved_out, empty, caught}) close(fd);

  EXPECT_EQ(read_file("stdout.txt"), "");
  EXPECT_EQ(directory_.files(),
            (std::vector<std::string>{"nino12_recon.png", "stdout.txt", "sunspots_raw.png"}));
  EXPECT_TRUE(is_png("sunspots_raw.png"));
  EXPECT_TRUE(is_png("nino12_recon.png"));
  // The redraw rewrote the file; the console shows only the menu.
  EXPECT_EQ(session.err.str(),
            " plot written to sunspots_raw.png\n"
            " plot written to nino12_recon.png\n"
            " plot written to nino12_recon.png\n");
  EXPECT_EQ(count(session.out.str(), "enter option number"), 3);
}

TEST_F(Drawing, RedrawsHappenForOptionsButNotForSavesOrBadReplies) {
  ScopedEnv device("QUORVANE_DEVICE", "svg");
  Session session("s\nout.dat\nsave\n0\n42\n14\n0.3\n99\nc\n");
  session.display.display(analysis_.input(3));
  // The first drawing, then 0, 42, 14 and 99.
  EXPECT_EQ(count(session.err.str(), " plot written to sunspots_median.svg\n"), 5);
}

TEST_F(Drawing, AnUnknownDeviceIsReportedOnceAndTheDefaultIsUsed) {
  ScopedEnv device("QUORVANE_DEVICE", "nosuchdevice");
  Session session("c\nc\n");
  session.display.display(analysis_.input(1));
  session.display.display(analysis_.input(5));
  EXPECT_EQ(session.err.str(),
            " unknown plot device nosuchdevice; using pngcairo\n"
            " plot written to sunspots_raw.png\n"
            " plot written to sunspots_ftest.png\n");
  EXPECT_TRUE(is_png("sunspots_ftest.png"));

  // A device that draws into memory the program would have to supply.
  ScopedEnv memory("QUORVANE_DEVICE", "mem");
  Session refused("c\n");
  refused.display.display(analysis_.input(3));
  EXPECT_EQ(refused.err.str(),
            " plot device mem cannot be used here; using pngcairo\n"
            " plot written to sunspots_median.png\n");
}

TEST_F(Drawing, ANullDeviceDrawsNothingAndWritesNothing) {
  ScopedEnv device("QUORVANE_DEVICE", "null");
  Session session("0\nc\n");
  session.display.display(analysis_.input(2));
  EXPECT_TRUE(directory_.files().empty());
  EXPECT_EQ(session.err.str(), "");
}

TEST_F(Drawing, WithoutAReachableDisplayScreenDevicesAreNeverTried) {
  {
    ScopedEnv device("QUORVANE_DEVICE", nullptr);
    ScopedEnv display("DISPLAY", ":7913");  // no X server there
    Session session("c\nc\n");
    session.display.display(analysis_.input(1));
    session.display.display(analysis_.input(3));
    EXPECT_EQ(session.err.str(),
              " cannot open display :7913; using pngcairo\n"
              " plot written to sunspots_raw.png\n"
              " plot written to sunspots_median.png\n");
  }
  for (const char* screen : {"xwin", "xcairo"}) {
    ScopedEnv device("QUORVANE_DEVICE", screen);
    Session asked("c\n");
    asked.display.display(analysis_.input(5));
    EXPECT_EQ(asked.err.str(), " plot device " + std::string(screen) +
                                   " needs a display; using pngcairo\n"
                                   " plot written to sunspots_ftest.png\n");
  }
  ScopedEnv display("DISPLAY", ":7913");
  ScopedEnv device("QUORVANE_DEVICE", "xwin");
  Session asked("c\n");
  EXPECT_EQ(asked.err.str(), " cannot open display :7913 for plot device xwin; using pngcairo\n");
}

TEST_F(Drawing, APlotFileThatCannotBeWrittenIsReportedAndTheMenuGoesOn) {
  ScopedEnv device("QUORVANE_DEVICE", "svg");
  std::filesystem::create_directory("sunspots_median.svg");
  Session session("0\nc\n");
  session.display.display(analysis_.input(3));
  EXPECT_EQ(session.err.str(),
            " cannot write plot file sunspots_median.svg: Is a directory\n"
            " cannot write plot file sunspots_median.svg: Is a directory\n");
  EXPECT_EQ(count(session.out.str(), "enter option number"), 2);
}

TEST_F(Drawing, InvalidStylesFromTheMenuAreRefusedByPlplotAndTheProgramGoesOn) {
  ScopedEnv device("QUORVANE_DEVICE", "svg");
  Session session("2\n44\n6\n0\n7\n-3\n1\n2\n300\n-1\n7\nc\n");
  session.display.display(analysis_.input(1));
  const std::string err = session.err.str();
  EXPECT_NE(err.find(" PLplot: plcol0: Invalid color map entry: 44\n"), std::string::npos) << err;
  EXPECT_NE(err.find(" PLplot: pllsty: Invalid line style\n"), std::string::npos) << err;
  EXPECT_EQ(count(err, " plot written to sunspots_raw.svg\n"), 5);
  EXPECT_EQ(count(session.out.str(), "enter option number"), 5);
}

TEST_F(Drawing, EmptyReversedAndOddWindowsAndTicksNeverStopTheProgram) {
  ScopedEnv device("QUORVANE_DEVICE", "svg");
  // x window 0.5 to 0.5, then reversed; y window empty; absurd tick steps
  // and counts (too many ticks to draw would take for ever).
  Session session(
      "15\n0.5\n15\n0.9\n17\n108000\n8\n1e-9\n10\n-5\n9\n1000000000\n11\n-4\n8\n0\nc\n");
  session.display.display(analysis_.input(3));
  EXPECT_EQ(count(session.err.str(), " plot written to sunspots_median.svg\n"), 9);
  EXPECT_TRUE(std::filesystem::file_size("sunspots_median.svg") > 1000);
}

TEST_F(Drawing, APlotWithoutPointsDrawsTheFrameOnly) {
  ScopedEnv device("QUORVANE_DEVICE", "svg");
  Session session("c\nc\n");
  session.display.display(analysis_.input(1, 1));
  PlotInput empty = recon_.input();
  empty.n = 0;
  session.display.display(empty);
  EXPECT_NE(svg_text("sunspots_raw.svg").find("Raw Spectrum"), std::string::npos);
  EXPECT_NE(svg_text("nino12_recon.svg").find("Reconstruction"), std::string::npos);
}

TEST_F(Drawing, SeriesNamesBecomeSafeFileNames) {
  ScopedEnv device("QUORVANE_DEVICE", "svg");
  PlotInput input = analysis_.input(3);
  Session session("c\nc\n");
  input.title = "a/b c%d ";
  session.display.display(input);
  input.title = "        ";
  session.display.display(input);
  EXPECT_EQ(directory_.files(), (std::vector<std::string>{"a_b_c_d_median.svg", "plot_median.svg"}));
}

TEST(PlplotLib, StartUpPointsPlplotAtItsFontFiles) {
  ScopedEnv lib("PLPLOT_LIB", "/nonexistent");
  set_plplot_lib();
  const char* directory = std::getenv("PLPLOT_LIB");
  ASSERT_NE(directory, nullptr);
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(directory) / "plxtnd5.fnt"))
      << directory;
}

}  // namespace
}  // namespace quorvane::display

// Under the leak checker: fontconfig and libltdl (font and driver loading
// inside PLplot) keep process-lifetime caches, and PLplot loses one saved
// locale string when its exit handler unwinds out of a failed screen set-up.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n"
         "leak:libltdl.so\n"
         "leak:plsave_set_locale\n";
}
