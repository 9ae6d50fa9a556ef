// Result plots through PLplot, with the plot options menu that restyles,
// redraws and saves each plot.
#pragma once

#include <array>
#include <memory>
#include <span>
#include <string>

#include "textio/console.h"

namespace quorvane::display {

// What one plot shows. For the spectrum kinds (1 raw spectrum with
// confidence levels, 2 reshaped and harmonic, 3 median smoothed, 5 F-test)
// n = nf, x0 = fmin, dx = df, and n - 1 points are drawn; for the
// reconstruction (kind 6) n = npts, x0 = the series mean, dx = dt.
struct PlotInput {
  int n = 0;
  float x0 = 0.0f;
  float dx = 0.0f;
  std::span<const float> specraw0, specmed0, specresh0, harmonic0, specback0, ftest;
  std::array<float, 4> conf{};
  std::array<float, 6> fconf{};
  int iplot = 0;
  std::string title;  // series name
  std::span<const float> y, signal;
};

class Display {
 public:
  // Chooses the output device once (screen window when a display is
  // available, otherwise image files; QUORVANE_DEVICE overrides).
  explicit Display(textio::Console& console);
  ~Display();
  Display(const Display&) = delete;
  Display& operator=(const Display&) = delete;

  // Draws plot input.iplot, then runs the plot options menu until the user
  // continues. Kinds other than 1, 2, 3, 5 and 6 draw nothing and return at
  // once. Plotting trouble is reported on the error stream and never ends
  // the program; the end of the input throws textio::EndOfInput.
  void display(const PlotInput& input);

  // Draws plot input.iplot in the default style with file device `device`
  // into `file_name`, without the options menu and without a console. Not
  // safe to call from two threads at once (PLplot keeps one global state).
  // Returns false with `error` set when nothing was written.
  static bool draw_file(const PlotInput& input, const std::string& device,
                        const std::string& file_name, std::string& error);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Sets the environment variable PLPLOT_LIB to the PLplot data directory
// (its font files) found at build time, replacing any value. The program's
// main calls this first thing.
void set_plplot_lib();

}  // namespace quorvane::display
