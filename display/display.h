// Result plots through PLplot, with the plot options menu that restyles,
// redraws and saves each plot.
#pragma once

#include <array>
#include <memory>
#include <span>
#include <string>

#include "textio/console.h"

namespace quorvane::display {

// What one plot shows: kind 1 raw spectrum with confidence levels, 2
// reshaped and harmonic spectra, 3 median smoothed, 5 F-test, 6 the
// reconstruction over the series anomaly. The spectrum kinds draw n - 1
// points (n = nf) from fmin in steps of df; the reconstruction draws n = npts
// points at times 0, dt, 2 dt, ...
struct PlotInput {
  int kind = 0;
  int n = 0;
  float fmin = 0.0f;   // spectrum kinds: frequency of the first point
  float df = 0.0f;     // spectrum kinds: frequency step
  float dt = 1.0f;     // sampling interval: the time step of the reconstruction,
                       // and the spectra open on 0 to the Nyquist frequency 1/(2 dt)
  float ymean = 0.0f;  // reconstruction: series mean, subtracted from y
  std::span<const float> specraw0, specmed0, specresh0, harmonic0, specback0, ftest;
  std::array<float, 4> conf{};
  // Per-frequency level ratios (Monte Carlo levels) that replace conf in the
  // raw spectrum's level curves when they hold a value for every point.
  std::array<std::span<const float>, 4> level_ratios{};
  std::array<float, 6> fconf{};
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

  // Draws plot input.kind, then runs the plot options menu until the user
  // continues. Kinds other than 1, 2, 3, 5 and 6 draw nothing and return at
  // once. Plotting trouble is reported on the error stream and never ends
  // the program; the end of the input throws textio::EndOfInput.
  void display(const PlotInput& input);

  // Draws plot input.kind in the default style with file device `device`
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
