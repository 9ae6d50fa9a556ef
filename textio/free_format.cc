#include "textio/free_format.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace quorvane::textio {
namespace {

bool is_separator(char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r'; }

// Checks the shape [sign] digits [. digits] [E|D [sign] digits] and returns
// the text with a D exponent turned into E, ready for strtod.
bool real_text(std::string_view text, std::string& out) {
  std::size_t i = 0;
  auto digits = [&] {
    std::size_t start = i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
    return i - start;
  };
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t mantissa_digits = digits();
  if (i < text.size() && text[i] == '.') {
    ++i;
    mantissa_digits += digits();
  }
  if (mantissa_digits == 0) return false;
  out.assign(text.substr(0, i));
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
    ++i;
    out += 'E';
    std::size_t sign_at = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    out.append(text.substr(sign_at, i - sign_at));
    std::size_t exponent_start = i;
    if (digits() == 0) return false;
    out.append(text.substr(exponent_start, i - exponent_start));
  }
  return i == text.size();
}

// Converts text that real_text has checked. from_chars rounds correctly, as
// strtod does, and needs neither a terminated copy nor the locale; it takes
// no '+' and reports values beyond the range of T, whose rounding (to zero,
// a subnormal or infinity) is left to strtod.
template <typename T, typename Strto>
bool convert_real(const std::string& clean, T& value, Strto strto) {
  const char* first = clean.data();
  const char* last = first + clean.size();
  if (first != last && *first == '+') ++first;
  T converted = 0;
  auto [ptr, ec] = std::from_chars(first, last, converted, std::chars_format::general);
  if (ec != std::errc() || ptr != last) converted = strto(clean.c_str(), nullptr);
  value = converted;
  return std::isfinite(value);
}

}  // namespace

std::vector<std::string> free_tokens(std::string_view line) {
  std::vector<std::string> tokens;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && is_separator(line[i])) ++i;
    std::size_t start = i;
    while (i < line.size() && !is_separator(line[i])) ++i;
    if (i > start) {
      std::string token(line.substr(start, i - start));
      if (token.find_first_not_of('*') == std::string::npos) token.assign(1, '*');
      tokens.push_back(std::move(token));
    }
  }
  return tokens;
}

bool parse_integer(std::string_view text, long long& value) {
  if (text.empty()) return false;
  // from_chars takes a '-' but no '+'; a '+' is passed over only when a
  // digit follows, so that "+-156" (two signs) is not a number.
  std::size_t start = text[0] == '+' ? 1 : 0;
  if (start == text.size()) return false;
  const char* first = text.data() + start;
  const char* last = text.data() + text.size();
  if (start == 1 && !std::isdigit(static_cast<unsigned char>(*first))) return false;
  auto [ptr, ec] = std::from_chars(first, last, value);
  return ec == std::errc() && ptr == last;
}


bool parse_real(std::string_view text, double& value) {
  std::string clean;
  if (!real_text(text, clean)) return false;
  return convert_real(clean, value, [](const char* s, char** end) { return std::strtod(s, end); });
}

bool parse_real(std::string_view text, float& value) {
  std::string clean;
  if (!real_text(text, clean)) return false;
  return convert_real(clean, value, [](const char* s, char** end) { return std::strtof(s, end); });
}

bool parse_time(std::string_view text, double& value) {
  std::string clean;
  if (!real_text(text, clean)) return false;
  double wide = 0.0;
  float narrow = 0.0f;
  if (!convert_real(clean, narrow, [](const char* s, char** end) { return std::strtof(s, end); }))
    return false;
  if (!convert_real(clean, wide, [](const char* s, char** end) { return std::strtod(s, end); }))
    return false;
  if (static_cast<float>(wide) != narrow)
    wide = std::nextafter(wide, static_cast<double>(narrow));
  value = wide;
  return true;
}

bool parse_logical(std::string_view text, bool& value) {
  std::size_t i = 0;
  if (i < text.size() && text[i] == '.') ++i;
  if (i >= text.size()) return false;
  char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
  if (c == 'T') {
    value = true;
    return true;
  }
  if (c == 'F') {
    value = false;
    return true;
  }
  return false;
}

std::string free_real(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.7G", value);
  std::string text = buffer;
  std::size_t e = text.find('E');
  if (text.find('.') == std::string::npos) {
    if (e == std::string::npos) {
      text += ".0";
    } else {
      text.insert(e, ".0");
    }
  }
  return text;
}

std::string free_line(const std::vector<Value>& items) {
  std::string line = " ";
  for (const Value& item : items) {
    std::string text;
    if (const auto* s = std::get_if<std::string>(&item)) {
      text = *s;
    } else if (const auto* i = std::get_if<long long>(&item)) {
      text = std::to_string(*i);
    } else {
      text = free_real(std::get<double>(item));
    }
    if (text.empty()) continue;
    if (line.back() != ' ' && text.front() != ' ') line += ' ';
    line += text;
  }
  return line;
}

ReadStatus FreeRead::next_token(std::string& value) {
  while (true) {
    while (next_ < line_.size() && is_separator(line_[next_])) ++next_;
    if (next_ < line_.size()) break;
    if (!source_.next_line(line_)) return ReadStatus::End;
    next_ = 0;
  }
  const std::size_t start = next_;
  while (next_ < line_.size() && !is_separator(line_[next_])) ++next_;
  value.assign(line_, start, next_ - start);
  if (value.find_first_not_of('*') == std::string::npos) value.assign(1, '*');
  return ReadStatus::Ok;
}

ReadStatus FreeRead::token(std::string& value) { return next_token(value); }

ReadStatus FreeRead::integer(long long& value) {
  std::string text;
  ReadStatus status = next_token(text);
  if (status != ReadStatus::Ok) return status;
  return parse_integer(text, value) ? ReadStatus::Ok : ReadStatus::Error;
}

ReadStatus FreeRead::integer(int& value) {
  long long wide = 0;
  ReadStatus status = integer(wide);
  if (status != ReadStatus::Ok) return status;
  if (wide < -2147483647LL - 1 || wide > 2147483647LL) return ReadStatus::Error;
  value = static_cast<int>(wide);
  return ReadStatus::Ok;
}

ReadStatus FreeRead::real(float& value) {
  std::string text;
  ReadStatus status = next_token(text);
  if (status != ReadStatus::Ok) return status;
  return parse_real(text, value) ? ReadStatus::Ok : ReadStatus::Error;
}

ReadStatus FreeRead::time(double& value) {
  std::string text;
  ReadStatus status = next_token(text);
  if (status != ReadStatus::Ok) return status;
  return parse_time(text, value) ? ReadStatus::Ok : ReadStatus::Error;
}

ReadStatus FreeRead::real(double& value) {
  std::string text;
  ReadStatus status = next_token(text);
  if (status != ReadStatus::Ok) return status;
  return parse_real(text, value) ? ReadStatus::Ok : ReadStatus::Error;
}

}  // namespace quorvane::textio
