// Numbers of the result files in their shortest exact form, formatted fast
// enough to keep up with the engine: std::to_chars finds the digits, and the
// layout is the general one ("0.1", "1700", "1e-05", "1.5e+16", "inf",
// "-nan"), fixed notation for decimal exponents from -4 to 15 and exponent
// notation outside them.
#pragma once

#include <cstddef>
#include <string>

namespace quorvane::cli {

// Room enough for any float or double in this form.
inline constexpr std::size_t kNumberChars = 32;

// Writes `value` at `out` (at least kNumberChars free) and returns the end.
char* write_number(char* out, float value);
char* write_number(char* out, double value);

// The same text appended to `text`.
void append_number(std::string& text, float value);
void append_number(std::string& text, double value);

}  // namespace quorvane::cli
