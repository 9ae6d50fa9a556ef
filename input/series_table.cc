#include "input/series_table.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>

#include "input/reader_support.h"

namespace quorvane::input {

std::string name8(const std::string& text) {
  std::string name = text.substr(0, 8);
  name.resize(8, ' ');
  return name;
}

void ValueLines::add(std::size_t value, std::size_t line) {
  if (breaks_.empty() || line != last_line_ + (value - last_value_))
    breaks_.emplace_back(value, line);
  last_value_ = value;
  last_line_ = line;
}

std::size_t ValueLines::line(std::size_t value) const {
  const auto after = std::upper_bound(
      breaks_.begin(), breaks_.end(), value,
      [](std::size_t v, const std::pair<std::size_t, std::size_t>& b) { return v < b.first; });
  if (after == breaks_.begin()) return 0;
  const auto& start = *(after - 1);
  return start.second + (value - start.first);
}

std::string numbered_name(const std::string& base, int number) {
  std::string digits = std::to_string(number);
  if (digits.size() >= base.size()) return digits;
  std::string name = base;
  name.replace(name.size() - digits.size(), digits.size(), digits);
  return name;
}

bool skip_lines(textio::Writer& console, textio::LineReader& file, long long lskip) {
  std::string line;
  for (long long i = 0; i < lskip; ++i) {
    if (!file.next_line(line)) {
      console.line(" Cannot skip " + std::to_string(lskip) + " lines: the file has only " +
                   std::to_string(i) + ".");
      return false;
    }
  }
  return true;
}

bool number_like(std::string_view token) {
  // Hexadecimal (which strtod reads) is an identifier in a data file.
  if (token.empty() || std::isspace(static_cast<unsigned char>(token[0])) ||
      token.find_first_of("xX") != std::string_view::npos)
    return false;
  const std::string text(token);
  char* end = nullptr;
  static_cast<void>(std::strtod(text.c_str(), &end));
  return end == text.c_str() + text.size();
}

int last_year(int first_year, std::size_t count) {
  long long last = static_cast<long long>(first_year) + static_cast<long long>(count) - 1;
  return static_cast<int>(std::clamp<long long>(last, INT_MIN, INT_MAX));
}

long long ask_lskip(textio::Console& console) {
  console.blank_line();
  return console.ask_fixed_integer(" Enter number of lines to skip from top of file : ", 2);
}

bool value_to_float(const textio::Value& value, float& out) {
  if (const auto* i = std::get_if<long long>(&value)) {
    out = static_cast<float>(*i);
    return true;
  }
  if (const auto* d = std::get_if<double>(&value)) {
    if (!(std::fabs(*d) <= FLT_MAX)) return false;  // not a single-precision number
    out = static_cast<float>(*d);
    return true;
  }
  return false;
}

}  // namespace quorvane::input
