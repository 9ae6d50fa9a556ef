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

// Chooses the device among `available` (PLplot's driver list). A non-empty
// `requested` name (QUORVANE_DEVICE) wins when PLplot offers it and it can
// draw on its own (the memory and external-context devices cannot); otherwise
// the choice carries a warning and falls back to the default: a screen
// window when `have_display`, else a PNG file. With neither, an SVG or
// PostScript file, and as a last resort the null device.
DeviceChoice choose_device(const std::string& requested, bool have_display,
                           const std::vector<std::string>& available);

// The default file device among `available`, for when a screen cannot be
// opened after all.
DeviceChoice file_fallback(const std::vector<std::string>& available);

}  // namespace quorvane::display
