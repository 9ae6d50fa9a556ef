#include "display/plot_file.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <string_view>

#include "display/plot_data.h"
#include "display/plot_device.h"

namespace quorvane::display {

namespace {

// PLplot keeps its streams in global state: one drawing at a time.
std::mutex& plplot_turn() {
  static std::mutex turn;
  return turn;
}

// Devices by output format, in order of preference: the cairo devices draw
// with antialiasing and real fonts; the others are fallbacks.
struct FormatDevices {
  std::string_view format;
  std::array<std::string_view, 3> devices;
};
constexpr std::array<FormatDevices, 3> kFormatDevices = {{
    {"png", {"pngcairo", "pngqt", "png"}},
    {"svg", {"svgcairo", "svg", "svgqt"}},
    {"pdf", {"pdfcairo", "pdfqt", "pdf"}},
}};

}  // namespace

const char* file_suffix(int kind) {
  switch (kind) {
    case 1:
      return "raw";
    case 2:
      return "reshaped";
    case 3:
      return "median";
    case 5:
      return "ftest";
    case 6:
      return "recon";
    default:
      return "plot";
  }
}

std::string file_stem(const std::string& title) {
  std::string stem = title;
  while (!stem.empty() && (stem.back() == ' ' || stem.back() == '\0')) stem.pop_back();
  for (char& c : stem) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.';
    if (!plain) c = '_';
  }
  return stem.empty() ? "plot" : stem;
}

std::string file_device(const std::string& format) {
  static const std::vector<std::string> available = [] {
    std::lock_guard<std::mutex> lock(plplot_turn());
    return plot_device_names();
  }();
  for (const auto& entry : kFormatDevices) {
    if (entry.format != format) continue;
    for (auto device : entry.devices) {
      if (std::find(available.begin(), available.end(), device) != available.end())
        return std::string(device);
    }
  }
  return {};
}

bool draw_file_atomically(const std::string& path, const FileDrawing& draw, std::string& error) {
  // A name of the writing process and a counter keeps the temporary files
  // of concurrent runs and threads apart.
  static std::atomic<unsigned> counter{0};
  const std::string temporary =
      path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
  bool drawn = false;
  {
    std::lock_guard<std::mutex> lock(plplot_turn());
    drawn = draw(temporary, error);
  }
  if (drawn && std::rename(temporary.c_str(), path.c_str()) != 0) {
    error = "cannot rename " + temporary + " to " + path;
    drawn = false;
  }
  if (!drawn) std::remove(temporary.c_str());
  return drawn;
}

bool draw_page_file(const std::string& path, const std::string& device,
                    const std::function<void(PlotDevice&)>& page, std::string& error) {
  return draw_file_atomically(
      path,
      [&](const std::string& file_name, std::string& failure) {
        PlotDevice plot;
        if (!plot.begin(device, file_name, StreamColours{})) {
          failure = plot.failure();
          return false;
        }
        plot.advance_page();
        page(plot);
        plot.end();
        if (!plot.failure().empty()) {
          failure = plot.failure();
          return false;
        }
        return true;
      },
      error);
}

bool draw_plot_file(const PlotInput& input, const std::string& device, const std::string& path,
                    std::string& error) {
  if (!is_plot_kind(input.kind)) {
    error = "plot kind " + std::to_string(input.kind) + " is not drawn";
    return false;
  }
  return draw_file_atomically(
      path,
      [&](const std::string& file_name, std::string& failure) {
        return Display::draw_file(input, device, file_name, failure);
      },
      error);
}

}  // namespace quorvane::display
