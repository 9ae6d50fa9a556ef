#include "display/display.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#include "display/device_choice.h"
#include "display/plot_data.h"
#include "display/plot_device.h"
#include "display/plot_file.h"
#include "display/plot_options.h"
#include "display/scale.h"
#include "display/thinning.h"
#include "textio/layout.h"

namespace quorvane::display {

namespace {

const std::string kMenuIndent(15, ' ');
const std::string kQuestionIndent(13, ' ');

// The longest window, in major ticks or minor intervals per major tick, that
// is drawn with the ticks asked for; beyond it PLplot chooses its own (a
// tick step typed far too small would otherwise draw for hours).
constexpr double kMaxMajorTicks = 1000.0;
constexpr int kMaxMinorIntervals = 100;


// Further attempts to open a plot window, 20, 40, 80 and 160 ms apart.
constexpr int kScreenRetries = 4;

// One axis as handed to PLplot: a window PLplot accepts (finite, not empty;
// a reversed one is fine) and ticks it can draw in reasonable time.
struct DrawnAxis {
  double lo, hi, tick;
  int nsub;
};

DrawnAxis drawn_axis(float lo, float hi, float tick, int nsub) {
  DrawnAxis axis{lo, hi, tick, nsub};
  if (!std::isfinite(axis.lo) || !std::isfinite(axis.hi)) {
    axis.lo = 0.0;
    axis.hi = 1.0;
  }
  if (axis.lo == axis.hi) {
    const double widen = axis.lo == 0.0 ? 1.0 : std::fabs(axis.lo) * 0.1;
    axis.lo -= widen;
    axis.hi += widen;
  }
  axis.tick = std::isfinite(axis.tick) ? std::fabs(axis.tick) : 0.0;
  if (axis.tick > 0.0 && std::fabs(axis.hi - axis.lo) / axis.tick > kMaxMajorTicks) axis.tick = 0.0;
  if (axis.nsub < 0 || axis.nsub > kMaxMinorIntervals) axis.nsub = 0;
  return axis;
}

// The decimals of an axis' labels, or -1 where PLplot chooses its ticks.
int label_decimals(const DrawnAxis& axis) {
  const auto format = label_format(axis.lo, axis.hi, axis.tick);
  return format ? format->decimals : -1;
}

// The major tick step of the default frequency window 0 to nyquist: the step
// of scale for five major intervals (0.1 for a yearly series), or for six
// where five would need a step of two significant digits: a monthly series
// gets steps of 1 cycle per year, on which its annual cycle reads off the
// axis at once, rather than of 1.2.
float frequency_tick(float nyquist) {
  float tick = nyquist / 5.0f;
  for (int ntick : {6, 7}) {
    float start = 0.0f, step = 0.0f, end = 0.0f;
    if (scale(0.0f, nyquist, ntick, start, step, end) != 0) break;
    if (ntick == 6) tick = step;
    if (one_digit_step(step)) return step;
  }
  return tick;
}

// The reply to the menu as the menu reads it: its first two characters,
// padded with blanks.
std::string menu_answer(const std::string& reply) {
  std::string answer = reply.substr(0, 2);
  answer.resize(2, ' ');
  return answer;
}

}  // namespace

struct Display::State {
  explicit State(textio::Console& c) : console(c) {}

  textio::Console& console;
  std::vector<std::string> devices;  // PLplot's driver list
  DeviceChoice output;
  PlotSettings settings;
  int istate = 0;
  PlotData data;
  std::string title;
  std::string fixed_file;  // the file to draw into instead of the one named after the series
  PlotDevice plot;
  std::vector<float> thinned_x, thinned_y;  // the points of a thinned curve

  void prepare(const PlotInput& input);
  void draw();
  void draw_panel(const char* top, float vpor_bottom);
  void draw_curves();
  void curve(std::size_t k, int width, int colour);
  void polyline(std::size_t k);
  void level_curves(const std::array<int, 4>& colours);
  bool menu();
  void save_dialog();
  void report_refusals();
};

Display::Display(textio::Console& console) : state_(std::make_unique<State>(console)) {
  State& s = *state_;
  s.devices = plot_device_names();
  const char* requested = std::getenv("QUORVANE_DEVICE");
  s.output = choose_device(requested != nullptr ? requested : "", probe_screen(), s.devices);
  for (const auto& warning : s.output.warnings) console.error_line(warning);
  s.settings.device = s.output.device;
}

Display::~Display() = default;

void Display::display(const PlotInput& input) {
  if (!is_plot_kind(input.kind)) return;
  State& s = *state_;
  s.title = input.title;
  s.istate = 0;
  for (;;) {
    if (s.istate == 0) s.prepare(input);
    s.draw();
    s.istate = 1;
    if (!s.menu()) break;
  }
  s.plot.end();  // closes the window of a screen device
}

bool Display::draw_file(const PlotInput& input, const std::string& device,
                        const std::string& file_name, std::string& error) {
  std::istringstream no_answers;
  std::ostringstream messages;
  textio::Console console(no_answers, messages, messages);
  State s(console);
  s.devices = plot_device_names();
  s.output.device = device;
  s.output.kind = OutputKind::File;
  s.output.extension = file_extension(device);
  s.title = input.title;
  s.fixed_file = file_name;
  s.prepare(input);
  s.draw();
  s.plot.end();
  // draw() reports a failure as a message and success as "plot written to".
  const std::string text = messages.str();
  if (text.find(" plot written to ") != std::string::npos) return true;
  if (text.empty()) {
    error = "the device " + device + " is not available";
  } else {
    error = text.substr(text.find_first_not_of(' '));
    while (!error.empty() && error.back() == '\n') error.pop_back();
  }
  return false;
}

// Resets the settings, fills the work arrays and sets the axis windows.
void Display::State::prepare(const PlotInput& input) {
  reset_settings(settings, output.device);
  prepare_plot_data(input, data);
  float sstart = kExtremumStart;
  float send = -kExtremumStart;

  if (data.kind == 6) {
    for (float t : data.x) {
      settings.xmin = std::min(settings.xmin, t);
      settings.xmax = std::max(settings.xmax, t);
    }
    // A record of 10^6 values would otherwise get ticks every 120000,
    // labelled 0.1, 0.2, 0.4 (times 10^6).
    one_digit_scale(settings.xmin, settings.xmax, sstart, settings.xtick, send);
    settings.xmin = sstart;
    settings.xmax = send;
  } else {
    // Spectra open on the whole band, 0 to the Nyquist frequency: 0 to 0.5
    // by 0.1 for a yearly series, 0 to 6 by 1 for a monthly one.
    float nyquist = 0.5f / input.dt;
    if (!(nyquist > 0.0f) || !std::isfinite(nyquist)) nyquist = 0.5f;
    settings.xmin = 0.0f;
    settings.xmax = nyquist;
    settings.xtick = frequency_tick(nyquist);
  }
  settings.nxsub = 5;

  // The value axis follows the main curve only; the other curves may be
  // clipped at the frame.
  for (float v : data.curves[0]) {
    settings.ymin = std::min(settings.ymin, v);
    settings.ymax = std::max(settings.ymax, v);
  }
  sstart = kExtremumStart;
  send = -kExtremumStart;
  scale(settings.ymin, settings.ymax, 10, sstart, settings.ytick, send);
  settings.ymin = data.kind == 5 ? 0.0f : sstart;
  settings.ymax = send;
  settings.nysub = 5;
}

void Display::State::draw() {
  // PLplot asks on the console for a device it does not know; with no usable
  // device at all (already reported) nothing is drawn.
  if (std::find(devices.begin(), devices.end(), settings.device) == devices.end()) return;
  std::string file_name;
  if (output.kind == OutputKind::File) {
    file_name = !fixed_file.empty()
                    ? fixed_file
                    : file_stem(title) + "_" + file_suffix(data.kind) + "." + output.extension;
    // PLplot retries and then gives up on a file it cannot create; find out
    // first, and say why.
    std::FILE* probe = std::fopen(file_name.c_str(), "wb");
    if (probe == nullptr) {
      console.error_line(" cannot write plot file " + file_name + ": " + std::strerror(errno));
      return;
    }
    std::fclose(probe);
  }

  StreamColours colours;
  colours.dark = settings.ibgsel != 0;
  colours.red = settings.ibgred;
  colours.green = settings.ibggreen;
  colours.blue = settings.ibgblue;
  bool open = plot.begin(settings.device, file_name, colours);
  // A new connection to the X server now and then fails at once and works
  // a moment later; try again briefly where the device survives a failure.
  for (int retry = 0; !open && output.kind == OutputKind::Screen &&
                      reopens_after_failure(settings.device) && retry < kScreenRetries;
       ++retry) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20 << retry));
    open = plot.begin(settings.device, file_name, colours);
  }
  if (!open) {
    report_refusals();
    if (output.kind == OutputKind::Screen) {
      // The screen failed after all (the X server went away since the
      // start, say): the plots of this session go to files instead.
      const std::string failure = plot.failure();
      output = file_fallback(devices);
      console.error_line(" cannot open a plot window (" + failure + "); using " + output.device);
      for (const auto& warning : output.warnings) console.error_line(warning);
      settings.device = output.device;
      draw();
    } else {
      console.error_line(" plot not drawn: " + plot.failure());
    }
    return;
  }

  draw_curves();
  report_refusals();
  if (output.kind == OutputKind::Screen) {
    // The window stays up while the menu waits; it ends on the next drawing
    // or on continue.
    plot.flush();
  } else {
    plot.end();
  }
  report_refusals();
  if (!plot.failure().empty()) {
    console.error_line(" plot not drawn: " + plot.failure());
  } else if (output.kind == OutputKind::File) {
    console.error_line(" plot written to " + file_name);
  }
}

// Frame, axes and labels of one panel; its curves follow in the line style.
void Display::State::draw_panel(const char* top, float vpor_bottom) {
  const DrawnAxis x = drawn_axis(settings.xmin, settings.xmax, settings.xtick, settings.nxsub);
  const DrawnAxis y = drawn_axis(settings.ymin, settings.ymax, settings.ytick, settings.nysub);
  plot.advance_page();
  plot.viewport(0.12, 0.9, vpor_bottom, 0.85);
  plot.window(x.lo, x.hi, y.lo, y.hi);
  plot.colour(settings.iframe);
  // Each axis is labelled with the decimals its own step needs.
  plot.label_decimals(label_decimals(x));
  plot.axes(x.lo, y.lo, "abinst", x.tick, x.nsub, "", 0.0, 0);
  plot.label_decimals(label_decimals(y));
  plot.axes(x.lo, y.lo, "", 0.0, 0, "abinstv", y.tick, y.nsub);
  plot.label_decimals(-1);
  plot.colour(settings.itext);
  if (data.kind == 6) {
    plot.labels("Elapsed time", "Signal and anomaly", top);
  } else {
    plot.labels("Frequency", data.kind == 5 ? "F-score" : "Power", top);
  }
  plot.line_style(settings.lstyle);
}

void Display::State::curve(std::size_t k, int width, int colour) {
  plot.width(width);
  plot.colour(colour);
  polyline(k);
}

// Curve k, thinned to the extremes of each pixel column when it has far more
// points than the frame has columns.
void Display::State::polyline(std::size_t k) {
  const DrawnAxis x = drawn_axis(settings.xmin, settings.xmax, settings.xtick, settings.nxsub);
  thinned_line(plot, data.x, data.curves[k], x.lo, x.hi, thinned_x, thinned_y);
}

// The 50, 90, 95 and 99 % levels of kind 1 or 5 (curves 1 to 4): each label
// inside the top of the frame, then the curve, both in the level's colour.
void Display::State::level_curves(const std::array<int, 4>& colours) {
  static constexpr std::array<double, 4> kDisplacement = {-4.5, -3.0, -1.5, -0.01};
  static constexpr std::array<const char*, 4> kLabel = {"50%", "90%", "95%", "99%"};
  for (std::size_t k = 0; k < 4; ++k) {
    plot.width(settings.lwidth);
    plot.colour(colours[k]);
    plot.text("t", kDisplacement[k], 0.9, 0.0, kLabel[k]);
    polyline(k + 1);
  }
}

void Display::State::draw_curves() {
  plot.subpages(1, data.kind == 2 ? 2 : 1);
  const int main_colour = settings.icolor[0];
  switch (data.kind) {
    case 1:
      draw_panel("Raw Spectrum with Confidence Limits", 0.15f);
      plot.text("t", 0.1, 0.45, 0.0, title);
      curve(0, 2, main_colour);
      level_curves({9, 11, 3, 1});
      break;
    case 2:
      draw_panel("Specresh", 0.2f);
      curve(0, 2, main_colour);
      plot.width(1);
      draw_panel("Harmonic", 0.2f);
      curve(1, settings.lwidth, settings.icolor[1]);
      break;
    case 3:
      draw_panel("SpecMed", 0.2f);
      curve(0, settings.lwidth, main_colour);
      plot.width(1);
      break;
    case 5:
      draw_panel("F-test", 0.2f);
      curve(0, 2, main_colour);
      level_curves({9, 3, 11, 1});
      break;
    case 6:
      draw_panel("Reconstruction", 0.2f);
      curve(0, settings.lwidth, main_colour);
      curve(1, settings.lwidth, 1);
      plot.width(1);
      break;
    default:
      break;
  }
}

// PLplot's refusals of settings typed in the menu (an invalid colour index,
// say), each once per drawing.
void Display::State::report_refusals() {
  std::vector<std::string> refusals = plot.take_refusals();
  std::vector<std::string> reported;
  for (const auto& refusal : refusals) {
    if (std::find(reported.begin(), reported.end(), refusal) != reported.end()) continue;
    reported.push_back(refusal);
    console.error_line(" PLplot: " + refusal);
  }
}

// One round of the plot options menu. Returns false to continue with the
// analysis, true to draw again (istate says whether afresh).
bool Display::State::menu() {
  static constexpr const char* kLines[] = {
      "|************* plot options menu **************|",
      "| replot             [0]  major ticks y   [10] |",
      "| background color   [1]  minor ticks y   [11] |",
      "| frame color        [2]  max. x          [14] |",
      "| text color         [3]  min. x          [15] |",
      "| major ticks x      [8]  max. y          [16] |",
      "| minor ticks x      [9]  min. y          [17] |",
      "|                                              |",
      "|              reset options  [99]             |",
      "|----------------------------------------------|",
      "|           [s]ave data   <[c]ontinue>         |",
      "|______________________________________________|",
  };
  const textio::RecordLayout& option_layout = textio::BuiltinLayout("(i2)").layout();
  for (;;) {
    console.blank_line();
    console.blank_line();
    for (const char* line : kLines) console.line(kMenuIndent + line);
    console.blank_line();
    const std::string reply = console.ask_text(kMenuIndent + " enter option number > ");
    const std::string answer = menu_answer(reply);
    if (answer == "S " || answer == "s ") {
      save_dialog();
      continue;
    }
    if (answer == "C " || answer == "c " || answer == "Y " || answer == "y " || answer == "  ")
      return false;

    std::vector<textio::Value> values;
    if (textio::read_line_fields(option_layout, answer, values) != textio::ReadStatus::Ok ||
        values.empty() || !std::holds_alternative<long long>(values[0])) {
      std::string shown = reply;
      while (!shown.empty() && shown.back() == ' ') shown.pop_back();
      console.line(" WARNING: " + shown + " is not a menu option");
      continue;
    }
    const auto iopt = static_cast<int>(std::get<long long>(values[0]));
    if (iopt == 99) {
      pltstyle(iopt, settings, console);
      istate = 0;
    } else if (iopt >= 1 && iopt <= 17) {
      pltstyle(iopt, settings, console);
    }
    return true;
  }
}

void Display::State::save_dialog() {
  console.blank_line();
  std::string name = console.ask_text(kQuestionIndent + "Enter plot_data file name : ");
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (name.empty()) {
    console.line(" WARNING: no file name given, nothing saved");
    return;
  }
  std::string error;
  if (!save_plot_data(name, data, error)) {
    console.line(" WARNING: cannot write plot_data file " + name + " (" + error + ")");
  }
}

}  // namespace quorvane::display
