#include "display/device_choice.h"

#include <algorithm>
#include <array>
#include <string_view>

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
// Defaults, in order of preference.
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

DeviceChoice choose_device(const std::string& requested, bool have_display,
                           const std::vector<std::string>& available) {
  std::string warning;
  if (!requested.empty()) {
    if (contains(available, requested) && usable(requested)) return make_choice(requested);
    warning = contains(available, requested)
                  ? " plot device " + requested + " cannot be used here"
                  : " unknown plot device " + requested;
  }
  DeviceChoice choice;
  bool found = false;
  if (have_display) {
    for (auto name : kScreenDefaults) {
      if (contains(available, name)) {
        choice = make_choice(std::string(name));
        found = true;
        break;
      }
    }
  }
  if (!found) choice = file_fallback(available);
  if (!warning.empty()) choice.warnings.insert(choice.warnings.begin(), warning + "; using " + choice.device);
  return choice;
}

}  // namespace quorvane::display
