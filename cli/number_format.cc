#include "cli/number_format.h"

#include <charconv>
#include <cstring>

namespace quorvane::cli {
namespace {

// Rewrites the scientific form to_chars gives ("-d.ddde±XX", shortest digits)
// in the general layout. Non-finite values have no 'e' and stay as they are.
char* general_layout(char* out, char* end) {
  // The exponent has a sign and two or three digits.
  char* e = nullptr;
  if (end - out >= 4 && end[-4] == 'e') {
    e = end - 4;
  } else if (end - out >= 5 && end[-5] == 'e') {
    e = end - 5;
  } else {
    return end;
  }
  const char* p = e + 2;
  int exponent = 0;
  while (p < end) exponent = exponent * 10 + (*p++ - '0');
  if (e[1] == '-') exponent = -exponent;
  // Exponent notation keeps to_chars' text: at least two exponent digits,
  // a sign always, a point only between several digits.
  if (exponent < -4 || exponent >= 16) return end;
  char* first = out + (*out == '-' ? 1 : 0);
  // The significant digits without the point.
  char digits[24];
  std::size_t count = 0;
  for (const char* q = first; q < e; ++q)
    if (*q != '.') digits[count++] = *q;
  char* w = first;
  if (exponent < 0) {
    *w++ = '0';
    *w++ = '.';
    for (int z = -1; z > exponent; --z) *w++ = '0';
    std::memcpy(w, digits, count);
    return w + count;
  }
  const auto whole = static_cast<std::size_t>(exponent) + 1;
  if (count <= whole) {
    std::memcpy(w, digits, count);
    w += count;
    for (std::size_t z = count; z < whole; ++z) *w++ = '0';
    return w;
  }
  std::memcpy(w, digits, whole);
  w += whole;
  *w++ = '.';
  std::memcpy(w, digits + whole, count - whole);
  return w + (count - whole);
}

template <typename T>
char* write_general(char* out, T value) {
  const auto result = std::to_chars(out, out + kNumberChars, value, std::chars_format::scientific);
  return general_layout(out, result.ptr);
}

template <typename T>
void append_general(std::string& text, T value) {
  char buffer[kNumberChars];
  text.append(buffer, write_general(buffer, value));
}

}  // namespace

char* write_number(char* out, float value) { return write_general(out, value); }
char* write_number(char* out, double value) { return write_general(out, value); }
void append_number(std::string& text, float value) { append_general(text, value); }
void append_number(std::string& text, double value) { append_general(text, value); }

}  // namespace quorvane::cli
