#include "display/plot_device.h"

#include <plplot.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "display/display.h"
#include "display/thinning.h"

namespace quorvane::display {

namespace {

static_assert(sizeof(PLINT) == sizeof(std::int32_t));

// Thrown out of PLplot's exit handler, so that a fatal PLplot error unwinds
// back into the wrapper instead of ending the process.
struct PlotFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

int on_plplot_exit(PLCHAR_VECTOR message) {
  throw PlotFailure(message != nullptr ? message : "PLplot error");
}

// PLplot keeps one exit handler for the process; setting it again is harmless.
void install_exit_handler() { plsexit(on_plplot_exit); }

// PLplot's escape character '#' introduces text commands; "##" is a literal.
std::string literal_text(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out += c;
    if (c == '#') out += '#';
  }
  return out;
}

// A refusal message as PLplot formats it, without its trailing line ends.
std::string refusal_text(const char* buffer) {
  std::string text(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  const std::string tail = ", aborting operation";
  if (text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0)
    text.erase(text.size() - tail.size());
  while (!text.empty() && text.front() == '\n') text.erase(text.begin());
  return text;
}

}  // namespace

void set_plplot_lib() {
  const char* directory = QUORVANE_PLPLOT_LIB;
  if (directory[0] != '\0') setenv("PLPLOT_LIB", directory, 1);
}

std::vector<std::string> plot_device_names() {
  // plgDevs fills arrays that the caller provides; the count is their size
  // on entry and the number of devices on return.
  constexpr int capacity = 256;
  std::vector<PLCHAR_VECTOR> menu(capacity), names(capacity);
  PLCHAR_VECTOR* menu_data = menu.data();
  PLCHAR_VECTOR* name_data = names.data();
  int count = capacity;
  install_exit_handler();
  try {
    plgDevs(&menu_data, &name_data, &count);
  } catch (const PlotFailure&) {
    return {};
  }
  std::vector<std::string> result;
  for (int i = 0; i < std::min(count, capacity); ++i) {
    if (name_data[i] != nullptr) result.emplace_back(name_data[i]);
  }
  return result;
}

PlotDevice::PlotDevice() { install_exit_handler(); }

PlotDevice::~PlotDevice() { end(); }

bool PlotDevice::begin(const std::string& device, const std::string& file_name,
                       const StreamColours& colours) {
  end();
  failure_.clear();
  error_code_ = 0;
  error_message_[0] = '\0';
  open_ = true;
  guarded([&] {
    // Refusals go to our buffer from here on; the stream forgets the buffer
    // again when it ends.
    plsError(&error_code_, error_message_.data());
    plsdev(device.c_str());
    if (!file_name.empty()) plsfnam(file_name.c_str());
    // No waiting for a click or key at the end of the page: the console
    // dialogue goes on while the plot is shown.
    plspause(0);
    if (colours.dark) {
      plscol0(15, 255, 255, 255);
      plscol0(0, 0, 0, 0);
    } else {
      plscol0(0, 255, 255, 255);
      plscol0(15, 0, 0, 0);
    }
  });
  guarded([&] { plscolbg(colours.red, colours.green, colours.blue); });
  guarded([&] {
    plinit();
    plfontld(1);
    plfont(1);
  });
  return open_;
}

void PlotDevice::flush() {
  guarded([] { plflush(); });
}

void PlotDevice::end() {
  if (!open_) return;
  open_ = false;
  try {
    plend();
  } catch (const PlotFailure& failure) {
    failure_ = failure.what();
  }
}

template <class Call>
void PlotDevice::guarded(Call&& call) {
  if (!open_) return;
  try {
    call();
  } catch (const PlotFailure& failure) {
    failure_ = failure.what();
    // What PLplot's own exit would do next: tidy the stream away.
    open_ = false;
    try {
      plend();
    } catch (const PlotFailure&) {
    }
    return;
  }
  collect_refusal();
}

void PlotDevice::collect_refusal() {
  if (error_code_ == 0) return;
  refusals_.push_back(refusal_text(error_message_.data()));
  error_code_ = 0;
  error_message_[0] = '\0';
}

std::vector<std::string> PlotDevice::take_refusals() {
  std::vector<std::string> taken;
  taken.swap(refusals_);
  return taken;
}

void PlotDevice::subpages(int nx, int ny) {
  guarded([&] { plssub(nx, ny); });
}

void PlotDevice::advance_page() {
  guarded([] { pladv(0); });
}

void PlotDevice::viewport(double xmin, double xmax, double ymin, double ymax) {
  guarded([&] { plvpor(xmin, xmax, ymin, ymax); });
}

void PlotDevice::window(double xmin, double xmax, double ymin, double ymax) {
  guarded([&] { plwind(xmin, xmax, ymin, ymax); });
}

void PlotDevice::colour(int icol0) {
  guarded([&] { plcol0(icol0); });
}

void PlotDevice::axes(double x0, double y0, const char* xopt, double xtick, int nxsub,
                      const char* yopt, double ytick, int nysub) {
  guarded([&] { plaxes(x0, y0, xopt, xtick, nxsub, yopt, ytick, nysub); });
}

void PlotDevice::label_decimals(int decimals) {
  guarded([&] { plprec(decimals >= 0 ? 1 : 0, std::max(decimals, 0)); });
}

void PlotDevice::labels(const std::string& xlabel, const std::string& ylabel,
                        const std::string& top) {
  guarded([&] {
    pllab(literal_text(xlabel).c_str(), literal_text(ylabel).c_str(), literal_text(top).c_str());
  });
}

void PlotDevice::text(const char* side, double disp, double pos, double just,
                      const std::string& text) {
  guarded([&] { plmtex(side, disp, pos, just, literal_text(text).c_str()); });
}

void PlotDevice::line_style(int style) {
  guarded([&] { pllsty(style); });
}

void PlotDevice::width(double width) {
  guarded([&] { plwidth(width); });
}

void PlotDevice::line(std::span<const float> x, std::span<const float> y) {
  const std::size_t n = std::min(x.size(), y.size());
  if (n == 0) return;
  xbuf_.assign(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(n));
  ybuf_.assign(y.begin(), y.begin() + static_cast<std::ptrdiff_t>(n));
  guarded([&] { plline(static_cast<PLINT>(n), xbuf_.data(), ybuf_.data()); });
}

void PlotDevice::colour_map1(std::span<const double> positions, std::span<const double> red,
                             std::span<const double> green, std::span<const double> blue) {
  const std::size_t n = positions.size();
  if (n < 2 || red.size() != n || green.size() != n || blue.size() != n) return;
  guarded([&] {
    plscmap1n(256);
    plscmap1l(1, static_cast<PLINT>(n), positions.data(), red.data(), green.data(), blue.data(),
              nullptr);
  });
}

void PlotDevice::image(std::span<const float> values, std::size_t rows, std::size_t columns,
                       double xmin, double xmax, double ymin, double ymax, double zmin,
                       double zmax) {
  if (rows == 0 || columns == 0 || values.size() < rows * columns) return;
  xbuf_.assign(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(rows * columns));
  std::vector<const PLFLT*> row_pointers(rows);
  for (std::size_t i = 0; i < rows; ++i) row_pointers[i] = xbuf_.data() + i * columns;
  guarded([&] {
    plimage(row_pointers.data(), static_cast<PLINT>(rows), static_cast<PLINT>(columns), xmin, xmax,
            ymin, ymax, zmin, zmax, xmin, xmax, ymin, ymax);
  });
}

void PlotDevice::colour_bar(const std::string& label, double zmin, double zmax) {
  const std::string text = literal_text(label);
  PLINT label_opts[] = {PL_COLORBAR_LABEL_RIGHT};
  const char* labels[] = {text.c_str()};
  const char* axis_opts[] = {"bcvtm"};
  PLFLT ticks[] = {0.0};
  PLINT sub_ticks[] = {0};
  PLINT n_values[] = {2};
  const PLFLT range[] = {zmin, zmax};
  const PLFLT* values[] = {range};
  PLFLT width = 0, height = 0;
  guarded([&] {
    plcolorbar(&width, &height, PL_COLORBAR_IMAGE, PL_POSITION_RIGHT | PL_POSITION_OUTSIDE |
                                                       PL_POSITION_VIEWPORT,
               0.02, 0.0, 0.03, 1.0, 0, 15, 1, 0.0, 0.0, 0, 0.0, 1, label_opts, labels, 1,
               axis_opts, ticks, sub_ticks, n_values, values);
  });
}

void PlotDevice::points(std::span<const float> x, std::span<const float> y, int code,
                        double scale) {
  const std::size_t n = std::min(x.size(), y.size());
  if (n == 0) return;
  xbuf_.assign(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(n));
  ybuf_.assign(y.begin(), y.begin() + static_cast<std::ptrdiff_t>(n));
  guarded([&] {
    plssym(0.0, scale);
    plpoin(static_cast<PLINT>(n), xbuf_.data(), ybuf_.data(), code);
    plssym(0.0, 1.0);
  });
}

std::size_t PlotDevice::viewport_columns() {
  if (!open_) return 0;
  PLFLT xmin = 0, xmax = 0, ymin = 0, ymax = 0;
  PLFLT xp = 0, yp = 0;
  PLINT xleng = 0, yleng = 0, xoff = 0, yoff = 0;
  guarded([&] {
    plgvpd(&xmin, &xmax, &ymin, &ymax);
    plgpage(&xp, &yp, &xleng, &yleng, &xoff, &yoff);
  });
  const double columns = std::ceil((xmax - xmin) * static_cast<double>(xleng));
  return columns > 0 && std::isfinite(columns) ? static_cast<std::size_t>(columns) : 0;
}

void thinned_line(PlotDevice& plot, std::span<const float> x, std::span<const float> y,
                  double lo, double hi, std::vector<float>& tx, std::vector<float>& ty) {
  const std::size_t columns = std::max(plot.viewport_columns(), kMinThinningColumns);
  if (thin_polyline(x, y, lo, hi, columns, tx, ty)) {
    plot.line(tx, ty);
  } else {
    plot.line(x, y);
  }
}

}  // namespace quorvane::display
