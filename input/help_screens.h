// The input format help screens: one example screen per input layout and a
// preview of the first lines of the user's own file.
#pragma once

#include <string>
#include <vector>

#include "textio/console.h"

namespace quorvane::input {

// dathlp: the help menu, its example screens and the file preview of
// `fname`; returns when the user enters 0 (or an empty answer). The file is
// open only during the preview.
void dathlp(textio::Console& console, const std::string& fname);

// The example file of help screen `code` (1-7) as a reader sees it: the lines
// shown on the screen without the rows of dots that stand for "and so on".
// Screen 5 has two examples (`which` 1 or 2). Empty for other arguments.
std::vector<std::string> help_example_file(int code, int which = 1);

}  // namespace quorvane::input
