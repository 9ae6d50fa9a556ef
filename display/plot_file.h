// Result plots drawn straight to files, without the plot options menu, for
// callers that run without a console; and the file names the plots get.
#pragma once

#include <functional>
#include <string>

#include "display/display.h"

namespace quorvane::display {

// The series name as a file-name stem: trailing blanks dropped, anything
// but letters, digits, '-', '_' and '.' replaced by '_'; "plot" when
// nothing is left.
std::string file_stem(const std::string& title);

// The part of a plot file name that names plot kind `kind`: raw, reshaped,
// median, ftest, recon (plot for any other kind).
const char* file_suffix(int kind);

// The PLplot file device that writes `format` ("png", "svg" or "pdf"), the
// first of the preferred ones this PLplot offers; empty when none is.
std::string file_device(const std::string& format);

// Runs `draw`, which writes a drawing into the file it is given, on a
// temporary name beside `path` while no other drawing runs (PLplot keeps one
// global state), and renames the file to `path` once `draw` returns true, so
// that a failed or interrupted drawing never leaves a partial file. Returns
// false with `error` set (by `draw`, or naming the rename) otherwise; the
// temporary file is then removed.
using FileDrawing = std::function<bool(const std::string& file_name, std::string& error)>;
bool draw_file_atomically(const std::string& path, const FileDrawing& draw, std::string& error);

// Draws one page with file device `device` into `path`, as
// draw_file_atomically does: `page` draws on a device opened and advanced
// to its page, which is closed afterwards; a failure of PLplot on the way
// is the `error`.
class PlotDevice;
bool draw_page_file(const std::string& path, const std::string& device,
                    const std::function<void(PlotDevice&)>& page, std::string& error);

// Draws plot input.kind in the default style with file device `device`
// into `path`. The drawing goes to a temporary file beside `path`, which
// replaces it only once complete, so a failed or interrupted drawing never
// leaves a partial file. Drawings from several threads take turns (PLplot
// keeps one global state). Returns false with `error` set when the plot
// kind is not drawn or the file cannot be written.
bool draw_plot_file(const PlotInput& input, const std::string& device, const std::string& path,
                    std::string& error);

}  // namespace quorvane::display
