// Free-format ("list-directed") reading and writing.
//
// Reading: values are separated by blanks, tabs or commas; one read takes as
// many lines as it needs and discards the rest of its last line; empty lines
// are passed over; a token made only of asterisks reads as "*". Text where a
// number is expected is a read error. Numbers are taken token by token, so a
// read that fails on its first token has consumed only one line.
//
// Writing: a line begins with one blank; text items are written unchanged and
// numbers in a compact general form; neighbouring items are kept apart by one
// blank unless one of them already has a blank at the join.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "textio/layout.h"
#include "textio/line_reader.h"

namespace quorvane::textio {

// One free-format read statement over a line source. Create one object per
// read; each call takes the next value.
class FreeRead {
 public:
  explicit FreeRead(LineSource& source) : source_(source) {}
  ReadStatus integer(long long& value);
  ReadStatus integer(int& value);
  ReadStatus real(float& value);
  ReadStatus real(double& value);
  // A time: a real in double precision that also reads in single precision
  // (see parse_time).
  ReadStatus time(double& value);
  ReadStatus token(std::string& value);

 private:
  // The next token, a view of line_ valid until the next call.
  ReadStatus next_token(std::string_view& value);
  LineSource& source_;
  // The last line taken and where its next token starts: tokens are cut
  // from it one at a time, as they are asked for.
  std::string line_;
  std::size_t next_ = 0;
};

// The number the first token of a line reads as, as FreeRead::real reads
// it: Ok, Error when that token is no number, End when the line holds no
// token. Plain decimals are read in the same pass that finds the token.
ReadStatus first_free_real(std::string_view line, float& value);

// Splits a line into free-format tokens (asterisk runs become "*").
std::vector<std::string> free_tokens(std::string_view line);

// Number conversions used by the free-format and fixed readers. An integer
// accepts an optional sign and digits only; a real accepts the usual decimal
// and exponent forms (E or D). Surrounding blanks are not allowed.
bool parse_integer(std::string_view text, long long& value);
bool parse_real(std::string_view text, double& value);
bool parse_real(std::string_view text, float& value);

// A real in double precision that keeps the single-precision reading of the
// same text: rounded to float it is exactly what parse_real(text, float&)
// gives, and it is refused where that is refused (beyond single precision).
// Rounding the nearest double to float differs from rounding the decimal
// value directly only when the double lies exactly halfway between two
// floats; the double is then moved by one unit of its last place towards
// the float the text reads as, a change far below any time's precision.
bool parse_time(std::string_view text, double& value);

// A logical answer: an optional period, then T/t (true) or F/f (false); the
// rest of the token is ignored.
bool parse_logical(std::string_view text, bool& value);

// The general form of a real in free-format output: at most 7 significant
// digits, always with a decimal point ("95.0", "0.1", "1.0E+16").
std::string free_real(double value);

// A whole free-format output line (see above), without the line end.
std::string free_line(const std::vector<Value>& items);

}  // namespace quorvane::textio
