#include "display/device_choice.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string_view>

#ifdef QUORVANE_HAVE_XLIB
#include <X11/Xlib.h>
#endif

namespace quorvane::display {

namespace {

bool contains(const std::vector<std::string>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Interactive PLplot devices: they open a window of their own.
constexpr std::array<std::string_view, 9> kScreenDevices = {
    "xcairo", "xwin", "qtwidget", "wxwidgets", "tk", "ntk", "wingcc", "wincairo", "aqt"};
// Devices that draw into memory or a context that the program would have to
// supply; PLplot gives up on them without one.
constexpr std::array<std::string_view, 5> kUnusableDevices = {"mem", "memcairo", "memqt",
                                                              "extcairo", "extqt"};
// Defaults, in order of preference. The cairo window survives a failed
// connection to the X server; the Xlib one crashes on the next open after
// one (though it repaints itself when uncovered, which the cairo window does
// not do while the console waits: a replot restores it).
constexpr std::array<std::string_view, 2> kScreenDefaults = {"xcairo", "xwin"};
constexpr std::array<std::string_view, 5> kFileDefaults = {"pngcairo", "pngqt", "svg",
                                                           "svgcairo", "psc"};

struct Extension {
  std::string_view device, extension;
};
constexpr std::array<Extension, 26> kExtensions = {{
    {"pngcairo", "png"}, {"pngqt", "png"},   {"png", "png"},      {"jpeg", "jpg"},
    {"jpgqt", "jpg"},    {"gif", "gif"},     {"svg", "svg"},      {"svgcairo", "svg"},
    {"svgqt", "svg"},    {"pdf", "pdf"},     {"pdfcairo", "pdf"}, {"pdfqt", "pdf"},
    {"ps", "ps"},        {"psc", "ps"},      {"psttf", "ps"},     {"psttfc", "ps"},
    {"pscairo", "ps"},   {"epscairo", "eps"}, {"epsqt", "eps"},   {"pstex", "ps"},
    {"xfig", "fig"},     {"bmpqt", "bmp"},   {"ppmqt", "ppm"},    {"tiffqt", "tif"},
    {"plmeta", "plm"},   {"cgm", "cgm"},
}};

bool usable(const std::string& device) {
  return std::find(kUnusableDevices.begin(), kUnusableDevices.end(), device) ==
         kUnusableDevices.end();
}

DeviceChoice make_choice(std::string device) {
  DeviceChoice choice;
  choice.kind = output_kind(device);
  if (choice.kind == OutputKind::File) choice.extension = file_extension(device);
  choice.device = std::move(device);
  return choice;
}

}  // namespace

OutputKind output_kind(const std::string& device) {
  if (device == "null") return OutputKind::Null;
  if (std::find(kScreenDevices.begin(), kScreenDevices.end(), device) != kScreenDevices.end())
    return OutputKind::Screen;
  return OutputKind::File;
}

bool reopens_after_failure(const std::string& device) { return device != "xwin"; }

std::string file_extension(const std::string& device) {
  for (const auto& entry : kExtensions) {
    if (entry.device == device) return std::string(entry.extension);
  }
  return device;
}

DeviceChoice file_fallback(const std::vector<std::string>& available) {
  for (auto name : kFileDefaults) {
    if (contains(available, name)) return make_choice(std::string(name));
  }
  DeviceChoice none = make_choice("null");
  none.warnings.push_back(" no image device available: plots are not drawn");
  return none;
}

ScreenStatus probe_screen() {
  ScreenStatus status;
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || name[0] == '\0') return status;
  status.name = name;
#ifdef QUORVANE_HAVE_XLIB
  if (::Display* connection = XOpenDisplay(name)) {
    XCloseDisplay(connection);
    status.reachable = true;
  }
#else
  status.reachable = true;
#endif
  return status;
}

DeviceChoice choose_device(const std::string& requested, const ScreenStatus& screen,
                           const std::vector<std::string>& available) {
  std::string warning;
  if (!requested.empty()) {
    if (!contains(available, requested)) {
      warning = " unknown plot device " + requested;
    } else if (!usable(requested)) {
      warning = " plot device " + requested + " cannot be used here";
    } else if (output_kind(requested) == OutputKind::Screen && !screen.reachable) {
      warning = screen.name.empty()
                    ? " plot device " + requested + " needs a display"
                    : " cannot open display " + screen.name + " for plot device " + requested;
    } else {
      return make_choice(requested);
    }
  } else if (!screen.name.empty() && !screen.reachable) {
    warning = " cannot open display " + screen.name;
  }
  DeviceChoice choice;
  bool found = false;
  if (screen.reachable) {
    for (auto name : kScreenDefaults) {
      if (contains(available, name)) {
        choice = make_choice(std::string(name));
        found = true;
        break;
      }
    }
  }
  if (!found) choice = file_fallback(available);
  if (!warning.empty())
    choice.warnings.insert(choice.warnings.begin(), warning + "; using " + choice.device);
  return choice;
}

}  // namespace quorvane::display
