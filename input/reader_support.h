// Helpers shared by the readers (not part of the subsystem's interface).
#pragma once

#include <cstddef>
#include <string_view>

#include "textio/console.h"
#include "textio/layout.h"
#include "textio/line_reader.h"

namespace quorvane::input {

// Skips `lskip` lines at the top of the file. When the file ends first, says
// so on the console and returns false.
bool skip_lines(textio::Writer& console, textio::LineReader& file, long long lskip);

// Ends a block after a read that did not succeed: the line that failed to
// read is read again as the next block's header. After the end of the file
// there is nothing to read again.
inline void end_block(textio::LineReader& file, textio::ReadStatus status) {
  if (status == textio::ReadStatus::Error) file.back();
}

// Whether `token` reads as a number in the widest sense: a decimal or
// exponent number of any size, or an infinity or NaN in any of their usual
// spellings (not hexadecimal, which reads as an identifier). Tells a number the readers refuse (beyond single precision,
// not finite) from text such as a header or a site name.
bool number_like(std::string_view token);

// The prompt " Enter number of lines to skip from top of file : " after an
// empty line, answered with (i2).
long long ask_lskip(textio::Console& console);

// The last year of a series of `count` consecutive years from `first_year`
// (kept within the range of int).
int last_year(int first_year, std::size_t count);

// Converts a value that a record layout read (integer or real) to single
// precision; false for a text value or a number beyond single precision.
bool value_to_float(const textio::Value& value, float& out);

}  // namespace quorvane::input
