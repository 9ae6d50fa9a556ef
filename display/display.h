// Result plots through PLplot, with the plot options menu that restyles,
// redraws and saves each plot.
#pragma once

#include <array>
#include <memory>
#include <span>
#include <string>

#include "textio/console.h"

namespace quorvane::display {

// What one plot shows: kind 1 a spectrum with its 50, 90, 95 and 99 %
// levels, 2 the reshaped and the harmonic spectra, 3 the median-smoothed
// spectrum, 5 the F statistic with its four levels, 6 a reconstruction over
// the series anomaly. The values are drawn as given, one point per abscissa.
struct PlotInput {
  int kind = 0;
  // The abscissae: frequencies for the spectrum kinds, for the
  // reconstruction the time elapsed since the first value.
  std::span<const float> x;
  // The curves in drawing order (kind 1: the spectrum, then its levels; 2:
  // reshaped, harmonic; 3: median; 5: F; 6: the reconstruction, then the
  // anomaly), each with a value for every abscissa. A curve shorter than x
  // shortens the plot to its length.
  std::array<std::span<const float>, 5> curves{};
  // Kind 5: the F statistic's levels, the same at every frequency.
  std::array<float, 4> f_levels{};
  float dt = 1.0f;    // sampling interval: the spectra open on 0 to the Nyquist frequency 1/(2 dt)
  std::string title;  // series name
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
