// The one door to PLplot: a thin wrapper over its C API, so that the rest of
// the display code never sees PLplot types, its global stream or its error
// handlers.
//
// PLplot reports two kinds of trouble. A refused call (an invalid colour
// index, line style, ...) is collected as a message and the drawing goes on.
// A fatal error (a screen that cannot be opened, missing font files) would
// normally end the process; here it only ends the current stream: the
// wrapper tidies up, remembers the message and ignores further drawing calls
// until the next `begin`. Nothing in this file ever prompts on the console or
// exits.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quorvane::display {

// The names of every output device this PLplot installation offers (its
// driver list), in PLplot's order.
std::vector<std::string> plot_device_names();

// Colour-map entries 0 and 15 and the background of a new stream.
struct StreamColours {
  bool dark = false;  // entry 0 black and 15 white instead of the reverse
  int red = 254, green = 254, blue = 254;
};

class PlotDevice {
 public:
  PlotDevice();
  ~PlotDevice();  // ends an open stream
  PlotDevice(const PlotDevice&) = delete;
  PlotDevice& operator=(const PlotDevice&) = delete;

  // Opens a stream on `device` (which must be one of plot_device_names())
  // writing to `file_name` (empty for screen and null devices), without the
  // pause at the end of a page, with the given colours, the extended font set
  // and the normal font. Ends a stream still open first. Returns false when
  // PLplot failed; failure() then says why.
  bool begin(const std::string& device, const std::string& file_name,
             const StreamColours& colours);
  // Shows everything drawn so far (screen devices draw lazily).
  void flush();
  // Ends the stream: writes and closes its file, or closes its window.
  void end();

  // Drawing, on the open stream; ignored when none is open.
  void subpages(int nx, int ny);
  void advance_page();
  void viewport(double xmin, double xmax, double ymin, double ymax);
  void window(double xmin, double xmax, double ymin, double ymax);
  void colour(int icol0);
  void axes(double x0, double y0, const char* xopt, double xtick, int nxsub, const char* yopt,
            double ytick, int nysub);
  // The digits after the point of the numeric labels of the axes drawn
  // next; negative for PLplot's own choice.
  void label_decimals(int decimals);
  // Texts are drawn literally: PLplot's escape character is doubled.
  void labels(const std::string& xlabel, const std::string& ylabel, const std::string& top);
  void text(const char* side, double disp, double pos, double just, const std::string& text);
  void line_style(int style);
  void width(double width);
  // A polyline through the first min(x.size(), y.size()) points.
  void line(std::span<const float> x, std::span<const float> y);
  // Colour map 1 as the piecewise linear map through the given RGB colours
  // (components 0..1) at positions 0..1, increasing, the first at 0 and the
  // last at 1; all four spans of the same length, at least 2.
  void colour_map1(std::span<const double> positions, std::span<const double> red,
                   std::span<const double> green, std::span<const double> blue);
  // An image of rows x columns cells, values[row * columns + column], rows
  // along x from xmin to xmax and columns along y from ymin to ymax, coloured
  // by colour map 1 from zmin (its start) to zmax (its end).
  void image(std::span<const float> values, std::size_t rows, std::size_t columns, double xmin,
             double xmax, double ymin, double ymax, double zmin, double zmax);
  // A colour bar of colour map 1 from zmin to zmax right of the viewport,
  // with its axis and `label` beside it.
  void colour_bar(const std::string& label, double zmin, double zmax);
  // Symbol `code` (plpoin's codes) at the first min(x.size(), y.size())
  // points, at `scale` times the default symbol size.
  void points(std::span<const float> x, std::span<const float> y, int code, double scale);
  // The width of the current viewport in device pixels; 0 when no stream is
  // open or the device has no pixel size (PostScript, plain SVG, null).
  std::size_t viewport_columns();

  // Messages of refused calls since the last take, one per refusal.
  std::vector<std::string> take_refusals();
  // The message of the fatal error that ended the last stream, or empty.
  const std::string& failure() const { return failure_; }

 private:
  template <class Call>
  void guarded(Call&& call);
  void collect_refusal();

  bool open_ = false;
  std::string failure_;
  std::vector<std::string> refusals_;
  // PLplot writes refusals here (plsError) instead of onto the error stream.
  std::int32_t error_code_ = 0;
  std::array<char, 4096> error_message_{};
  // Conversion buffers for plline, kept to avoid allocating per drawing.
  std::vector<double> xbuf_, ybuf_;
};

// The fewest pixel columns a curve is thinned for. Screen windows can be
// enlarged after drawing and vector files zoomed, so a thinned curve keeps
// at least the detail a wide screen shows.
inline constexpr std::size_t kMinThinningColumns = 2048;

// Draws the polyline (x, y) in the window lo..hi of the viewport, thinned
// (thin_polyline) to its pixel columns, at least kMinThinningColumns, when
// it has far more points than that; tx and ty are the thinning's storage.
void thinned_line(PlotDevice& plot, std::span<const float> x, std::span<const float> y,
                  double lo, double hi, std::vector<float>& tx, std::vector<float>& ty);

}  // namespace quorvane::display
