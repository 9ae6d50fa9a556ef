// Where the plots go: the choice of the PLplot output device.
#pragma once

#include <string>
#include <vector>

namespace quorvane::display {

enum class OutputKind {
  Screen,  // a window that stays up while the options menu waits
  File,    // an image or document file per plot, rewritten on each redraw
  Null,    // nothing drawn, nothing written
};

struct DeviceChoice {
  std::string device;     // PLplot device name
  OutputKind kind = OutputKind::Null;
  std::string extension;  // of the plot files (File only)
  std::vector<std::string> warnings;  // messages for the error stream
};

// How `device` delivers its output; its file extension for file devices.
OutputKind output_kind(const std::string& device);
std::string file_extension(const std::string& device);
// False for a screen device that crashes when opened again after one failed
// open (PLplot's Xlib driver keeps broken state behind).
bool reopens_after_failure(const std::string& device);

// The X display named by DISPLAY, and whether a connection to it opens.
struct ScreenStatus {
  std::string name;  // empty when DISPLAY is unset
  bool reachable = false;
};

// Finds out whether plot windows can be opened: DISPLAY names a display and
// (where the build has Xlib) a connection to it succeeds. PLplot's X drivers
// end the process, or are left unusable, when the display cannot be opened,
// so they are never tried without this check.
ScreenStatus probe_screen();

// Chooses the device among `available` (PLplot's driver list). A non-empty
// `requested` name (QUORVANE_DEVICE) wins when PLplot offers it and it can
// draw on its own (the memory and external-context devices cannot, and the
// screen devices cannot without a reachable display); otherwise the choice
// carries a warning and falls back to the default: a screen window when the
// display is reachable, else a PNG file. With neither, an SVG or PostScript
// file, and as a last resort the null device.
DeviceChoice choose_device(const std::string& requested, const ScreenStatus& screen,
                           const std::vector<std::string>& available);

// The default file device among `available`, for when a screen cannot be
// opened after all.
DeviceChoice file_fallback(const std::vector<std::string>& available);

}  // namespace quorvane::display
