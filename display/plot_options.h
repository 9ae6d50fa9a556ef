// The plot settings record and the style questions of the plot options menu.
#pragma once

#include <array>
#include <string>

#include "textio/console.h"

namespace quorvane::display {

// How a plot is drawn. One record lives in each Display and is edited by the
// options menu; preparing a plot restores the defaults of reset_settings.
struct PlotSettings {
  std::string device;  // the PLplot device the plots go to
  int ibgred = 254, ibggreen = 254, ibgblue = 254;  // background colour
  int ibgsel = 0;    // 0: colour 0 white and 15 black; 1: the reverse
  int lstyle = 1;    // line style of every curve
  int lwidth = 2;    // line width of the secondary curves
  std::array<int, 3> icolor{15, 1, 9};  // main curve, lower panel, unused
  int itext = 15;    // axis labels and title
  int iframe = 15;   // axes, ticks and numeric labels
  float xtick = 0.1f;
  int nxsub = 5;
  float ytick = 0.0f;
  int nysub = 5;
  float xmin = 0.0f, xmax = 0.5f, ymin = 0.0f, ymax = 0.0f;
  float ztick = 0.0f;  // stored and edited, never drawn
  int nzsub = 0;
};

// Where the running extrema of a plot's window start: minima at +1e6 and
// maxima at -1e6, an empty window that any data value within that range
// replaces. (A spectrum whose values all exceed 1e6 keeps 1e6 as its lower
// extreme; its value axis still covers the data.)
inline constexpr float kExtremumStart = 1000000.0f;

// Restores the default style and device, and sets the window to the running
// extrema start values (minima kExtremumStart, maxima -kExtremumStart). Tick
// settings are kept.
void reset_settings(PlotSettings& settings, const std::string& device);

// Asks the question of menu option `iopt` (1 to 17) on the console and stores
// the answer in `settings` unchecked; option 99 restores the defaults without
// a question; any other option does nothing. Non-numeric answers are warned
// about and asked again; the end of the input throws textio::EndOfInput.
void pltstyle(int iopt, PlotSettings& settings, textio::Console& console);

}  // namespace quorvane::display
