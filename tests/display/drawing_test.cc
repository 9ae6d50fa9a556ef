// Drawing through PLplot: where the plots go, what they carry, and that no
// PLplot trouble ever prompts or ends the program.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "display_session.h"

namespace quorvane::display::testing {
namespace {

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

class Drawing : public DisplayTest {};

TEST_F(Drawing, EveryPlotKindGoesToItsOwnFileWithItsTitleAndLabels) {
  ScopedEnv device("QUORVANE_DEVICE", "svg");
  const struct { int kind; const char* file; std::vector<const char*> texts; } plots[] = {
      {1, "sunspots_raw.svg",
       {"Raw Spectrum with Confidence Limits", "sunspots", "Frequency", "Power", "50%", "90%",
        "95%", "99%"}},
      {2, "sunspots_reshaped.svg", {"Specresh", "Harmonic", "Frequency", "Power"}},
      {3, "sunspots_median.svg", {"SpecMed", "Frequency", "Power"}},
      {5, "sunspots_ftest.svg", {"F-test", "Frequency", "F-score", "50%", "99%"}},
      {6, "nino12_recon.svg", {"Reconstruction", "Elapsed time", "Signal and anomaly"}},
  };
  Session session("c\nc\nc\nc\nc\nc\n0\nc\n");
  std::string written;
  for (const auto& plot : plots) {
    session.display.display(sample_.input(plot.kind));
    written += " plot written to " + std::string(plot.file) + "\n";
    const std::string text = svg_text(plot.file);
    for (const char* piece : plot.texts) EXPECT_NE(text.find(piece), std::string::npos) << piece;
  }
  EXPECT_EQ(svg_text("sunspots_median.svg").find("sunspots"), std::string::npos);  // kind 1 only

  // Series names become safe file names; a file that cannot be written is
  // reported, and the menu goes on.
  PlotInput input = sample_.input(3);
  input.title = "a/b c%d ";
  session.display.display(input);
  std::filesystem::create_directory("plot_median.svg");
  input.title = "        ";
  session.display.display(input);
  EXPECT_EQ(session.err.str(), written +
                                   " plot written to a_b_c_d_median.svg\n"
                                   " cannot write plot file plot_median.svg: Is a directory\n"
                                   " cannot write plot file plot_median.svg: Is a directory\n");
  EXPECT_EQ(directory_.files().size(), 7u);
}

TEST_F(Drawing, WithoutAUsableDeviceOrDisplayPlotsBecomePngFilesAndNothingIsPrompted) {
  // PLplot would prompt on the process's own streams: give it an empty
  // standard input (for good) and catch its standard output.
  ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
  ::testing::internal::CaptureStdout();
  const struct { const char *display, *device, *warning; } cases[] = {
      {nullptr, nullptr, ""},
      {nullptr, "nosuchdevice", " unknown plot device nosuchdevice; using pngcairo\n"},
      {nullptr, "mem", " plot device mem cannot be used here; using pngcairo\n"},  // no canvas
      {nullptr, "xwin", " plot device xwin needs a display; using pngcairo\n"},
      {":7913", nullptr, " cannot open display :7913; using pngcairo\n"},  // no X server there
      {":7913", "xwin", " cannot open display :7913 for plot device xwin; using pngcairo\n"},
  };
  for (const auto& c : cases) {
    ScopedEnv display("DISPLAY", c.display);
    ScopedEnv device("QUORVANE_DEVICE", c.device);
    Session session("c\nc\n");
    session.display.display(sample_.input(1));
    session.display.display(sample_.input(6));
    EXPECT_EQ(session.err.str(), std::string(c.warning) +
                                     " plot written to sunspots_raw.png\n"
                                     " plot written to nino12_recon.png\n");
  }
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(directory_.files(), (std::vector<std::string>{"nino12_recon.png", "sunspots_raw.png"}));
  EXPECT_TRUE(is_png("sunspots_raw.png"));
}

TEST_F(Drawing, OutOfRangeStylesAndOddWindowsNeverStopTheProgram) {
  ScopedEnv device("QUORVANE_DEVICE", "svg");
  // Colours, styles and widths PLplot refuses; the x window 0.5 to 0.5, then
  // reversed; an empty y window; absurd tick steps and counts (too many
  // ticks would take for ever to draw). Then a save and a bad reply, which
  // do not redraw, and 42 and 99, which do.
  Session session(
      "2\n44\n6\n0\n7\n-3\n"
      "15\n0.5\n15\n0.9\n17\n108000\n8\n1e-9\n10\n-5\n9\n1000000000\n11\n-4\n8\n0\n"
      "1\n2\n300\n-1\n7\ns\nout.dat\nsave\n42\n99\nc\n");
  session.display.display(sample_.input(3));
  const std::string err = session.err.str();
  EXPECT_NE(err.find(" PLplot: plcol0: Invalid color map entry: 44\n"), std::string::npos) << err;
  EXPECT_NE(err.find(" PLplot: pllsty: Invalid line style\n"), std::string::npos) << err;
  EXPECT_EQ(count(err, " plot written to sunspots_median.svg\n"), 15) << err;
}

// A reconstruction of a long record is drawn from a few points per pixel
// column, while its plot-data file keeps every value.
TEST_F(Drawing, ALongRecordIsDrawnThinnedAndSavedWhole) {
  ScopedEnv device("QUORVANE_DEVICE", "svg");
  std::vector<float> y(200000), signal(200000);
  for (std::size_t i = 0; i < y.size(); ++i)
    y[i] = signal[i] = static_cast<float>(i % 1000) / 1000.0f;
  y[123457] = 8.0f;
  std::vector<float> elapsed(y.size());
  for (std::size_t i = 0; i < y.size(); ++i) elapsed[i] = static_cast<float>(i);
  PlotInput input = sample_.input(6);
  input.x = elapsed;
  input.curves = {signal, y};
  Session session("s\nlong.dat\nc\n");
  session.display.display(input);
  // Two curves of at most two points a column (2048 at least), the frame and ticks.
  EXPECT_LT(count(read_file("nino12_recon.svg"), ","), 2 * 2 * 2050 + 500);
  std::ifstream saved("long.dat");
  std::vector<std::string> lines;
  for (std::string line; std::getline(saved, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 1u + y.size());
  EXPECT_EQ(lines[1 + 123457], " 123457.0 0.457 8.0");
}

// The axis labels as PLplot draws them. The frequency window runs from 0 to
// the Nyquist frequency in one-digit steps (a monthly series reads 0 to 6 in
// whole cycles, not by 1.2, which would misplace the annual cycle; a series
// without a usable interval gets the yearly window), and so does the time
// axis of a reconstruction (by 100000, not 120000). The value axis keeps the
// steps of scale and every digit of them in its labels: ticks 12000 apart
// read 0.00, 0.12, 0.24 times 10^5, not 0.0, 0.1, 0.2.
TEST_F(Drawing, AxesAreLabelledWithTheTrueValuesOfTheirTicks) {
  ScopedEnv device("QUORVANE_DEVICE", "svg");
  const struct { int kind, n; float dt; const char* labels; } cases[] = {
      {3, 4, 1.0f / 12.0f, "0123456" "0.0"},  // then the first label of the value axis
      {3, 4, 1.0f, "0.00.10.20.30.40.5" "0.000.120.24"},
      {3, 4, 0.25f, "0.00.40.81.21.62.0" "0.0"},
      {3, 4, 1.0f / 24.0f, "024681012" "0.0"},  // by 2, not 2.5
      {3, 4, 2.0f, "0.000.050.100.150.200.25" "0.0"},
      {3, 4, 0.0f, "0.00.10.20.30.40.5" "0.0"},
      {6, 1000000, 1.0f, "0.00.10.20.30.40.50.60.70.80.91.0(x106)"},
      {6, 131, 1.0f / 12.0f, "01234567891011"},  // 10.83 years: not 0 to 10.8 by 1.2
      {6, 309, 1.0f, "04080120160200240280320360"},  // a one-digit step stays as it was
  };
  for (const auto& c : cases) {
    PlotInput input = sample_.input(c.kind);
    std::vector<float> elapsed(static_cast<std::size_t>(c.n)), y(elapsed.size());
    if (c.kind == 6) {
      for (std::size_t i = 0; i < y.size(); ++i) {
        elapsed[i] = static_cast<float>(i) * c.dt;
        y[i] = static_cast<float>(i % 10);
      }
      input.x = elapsed;
      input.curves = {y, y};
    }
    input.dt = c.dt;
    Session session("c\n");
    session.display.display(input);
    const std::string text = svg_text(c.kind == 6 ? "nino12_recon.svg" : "sunspots_median.svg");
    EXPECT_EQ(text.rfind(c.labels, 0), 0u) << "kind " << c.kind << ", dt " << c.dt << ": " << text;
  }
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
}  // namespace quorvane::display::testing

// Under the leak checker: fontconfig and libltdl (font and driver loading
// inside PLplot) keep process-lifetime caches, and PLplot loses one saved
// locale string when its exit handler unwinds out of a failed screen set-up.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n"
         "leak:libltdl.so\n"
         "leak:plsave_set_locale\n";
}
