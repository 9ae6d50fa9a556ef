#include "textio/free_format.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

namespace quorvane::textio {
namespace {

bool is_separator(char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r'; }

// A number's text scanned once: its shape [sign] digits [. digits]
// [E|D [sign] digits] checked, and its digits gathered as a whole number
// and a power of ten for the exact conversion below.
struct RealShape {
  bool valid = false;
  bool d_exponent = false;  // the exponent letter is D or d, which from_chars does not take
  bool negative = false;
  std::uint64_t mantissa = 0;  // the digits without the point (wrapped beyond 19 of them)
  int significant = 0;         // digits from the first non-zero one
  int exponent = 0;            // value = mantissa * 10^exponent, while |written exponent| <= 9999
  bool exponent_large = false;
};

RealShape real_shape(std::string_view text) {
  RealShape shape;
  std::size_t i = 0;
  const std::size_t n = text.size();
  if (i < n && (text[i] == '+' || text[i] == '-')) shape.negative = text[i++] == '-';
  std::size_t mantissa_digits = 0;
  for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i, ++mantissa_digits) {
    shape.mantissa = shape.mantissa * 10 + static_cast<unsigned>(text[i] - '0');
    shape.significant += shape.mantissa != 0 ? 1 : 0;
  }
  if (i < n && text[i] == '.') {
    for (++i; i < n && text[i] >= '0' && text[i] <= '9'; ++i, ++mantissa_digits) {
      shape.mantissa = shape.mantissa * 10 + static_cast<unsigned>(text[i] - '0');
      shape.significant += shape.mantissa != 0 ? 1 : 0;
      --shape.exponent;
    }
  }
  if (mantissa_digits == 0) return shape;
  if (i < n && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
    shape.d_exponent = text[i] == 'd' || text[i] == 'D';
    ++i;
    bool down = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) down = text[i++] == '-';
    const std::size_t start = i;
    int written = 0;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
      if (written > 999) shape.exponent_large = true;
      else written = written * 10 + (text[i] - '0');
    }
    if (i == start) return shape;
    shape.exponent += down ? -written : written;
  }
  shape.valid = i == n;
  return shape;
}

// The exact values of the powers of ten that float and double hold, and
// the largest whole numbers they hold with every smaller one.
template <typename T>
constexpr int kExactPowers = std::is_same_v<T, float> ? 10 : 22;
template <typename T>
constexpr std::uint64_t kExactMantissa = std::uint64_t{1} << (std::is_same_v<T, float> ? 24 : 53);

template <typename T>
constexpr std::array<T, kExactPowers<T> + 1> exact_powers() {
  std::array<T, kExactPowers<T> + 1> p{};
  T power = 1;
  for (auto& entry : p) {
    entry = power;
    power *= 10;
  }
  return p;
}

// Most numbers in files are a few digits with a point: their value is a
// whole number that T holds exactly, times or over a power of ten that T
// holds exactly, and one correctly rounded multiplication or division
// then gives the correctly rounded value, without the general algorithm.
// False where that does not hold.
template <typename T>
bool convert_exactly(const RealShape& shape, T& value) {
  static constexpr auto powers = exact_powers<T>();
  if (shape.significant > 19 || shape.mantissa > kExactMantissa<T> || shape.exponent_large ||
      shape.exponent < -kExactPowers<T> || shape.exponent > kExactPowers<T>)
    return false;
  T magnitude = static_cast<T>(shape.mantissa);
  if (shape.exponent < 0) {
    magnitude /= powers[static_cast<std::size_t>(-shape.exponent)];
  } else {
    magnitude *= powers[static_cast<std::size_t>(shape.exponent)];
  }
  value = shape.negative ? -magnitude : magnitude;
  return true;
}

// The commonest numbers, [sign] digits [. digits] with no exponent, whose
// value convert_exactly gives, in one pass over their characters; false for
// anything else (which the general path then reads, to the same value where
// this one gives one).
// The characters read run from `first` up to the first separator or `end`,
// which `end` is then moved to.
template <typename T>
bool convert_plain_until(const char* first, const char*& end, T& value) {
  const char* p = first;
  bool negative = false;
  if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
  std::uint64_t mantissa = 0;
  int digits = 0, decimals = 0;
  bool point = false;
  for (; p < end && !is_separator(*p); ++p) {
    const unsigned digit = static_cast<unsigned char>(*p) - static_cast<unsigned>('0');
    if (digit < 10) {
      mantissa = mantissa * 10 + digit;
      ++digits;
      decimals += point ? 1 : 0;
    } else if (*p == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  end = p;
  if (digits == 0 || digits > 19) return false;
  RealShape shape;
  shape.valid = true;
  shape.negative = negative;
  shape.mantissa = mantissa;
  shape.significant = digits;
  shape.exponent = -decimals;
  return convert_exactly(shape, value);
}

template <typename T>
bool convert_plain(std::string_view text, T& value) {
  const char* end = text.data() + text.size();
  return convert_plain_until(text.data(), end, value) && end == text.data() + text.size();
}

// Converts text of a valid shape. from_chars rounds correctly, as strtod
// does, and needs neither a terminated copy nor the locale; it takes no '+'
// and no D exponent (the text is then copied with an E), and reports values
// beyond the range of T, whose rounding (to zero, a subnormal or infinity)
// is left to strtod.
template <typename T, typename Strto>
bool convert_real(std::string_view text, RealShape shape, T& value, Strto strto) {
  if (convert_exactly(shape, value)) return true;
  std::string copy;
  if (shape.d_exponent) {
    copy.assign(text);
    const std::size_t d = copy.find_first_of("dD");
    copy[d] = 'E';
    text = copy;
  }
  const char* first = text.data();
  const char* last = first + text.size();
  if (*first == '+') ++first;
  T converted = 0;
  auto [ptr, ec] = std::from_chars(first, last, converted, std::chars_format::general);
  if (ec != std::errc() || ptr != last) {
    if (copy.empty()) copy.assign(text);
    converted = strto(copy.c_str(), nullptr);
  }
  value = converted;
  return std::isfinite(value);
}

double strto_wide(const char* s, char** end) { return std::strtod(s, end); }
float strto_narrow(const char* s, char** end) { return std::strtof(s, end); }

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
  if (convert_plain(text, value)) return true;
  const RealShape shape = real_shape(text);
  return shape.valid && convert_real(text, shape, value, strto_wide);
}

bool parse_real(std::string_view text, float& value) {
  if (convert_plain(text, value)) return true;
  const RealShape shape = real_shape(text);
  return shape.valid && convert_real(text, shape, value, strto_narrow);
}

bool parse_time(std::string_view text, double& value) {
  const RealShape shape = real_shape(text);
  if (!shape.valid) return false;
  double wide = 0.0;
  float narrow = 0.0f;
  if (!convert_real(text, shape, narrow, strto_narrow)) return false;
  if (!convert_real(text, shape, wide, strto_wide)) return false;
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

namespace {

// The token of `line` from `at` (which holds no separator), moving `at` past
// it; a run of asterisks is "*".
std::string_view token_at(std::string_view line, std::size_t& at) {
  const std::size_t start = at;
  while (at < line.size() && !is_separator(line[at])) ++at;
  std::string_view value = line.substr(start, at - start);
  // (Tokens are never empty here; only one that starts with '*' can be all
  // stars.)
  if (value.front() == '*' && value.find_first_not_of('*') == std::string_view::npos) value = "*";
  return value;
}

}  // namespace

ReadStatus first_free_real(std::string_view line, float& value) {
  std::size_t at = 0;
  while (at < line.size() && is_separator(line[at])) ++at;
  if (at == line.size()) return ReadStatus::End;
  const char* end = line.data() + line.size();
  if (convert_plain_until(line.data() + at, end, value)) return ReadStatus::Ok;
  return parse_real(token_at(line, at), value) ? ReadStatus::Ok : ReadStatus::Error;
}

ReadStatus FreeRead::next_token(std::string_view& value) {
  while (true) {
    while (next_ < line_.size() && is_separator(line_[next_])) ++next_;
    if (next_ < line_.size()) break;
    if (!source_.next_line(line_)) return ReadStatus::End;
    next_ = 0;
  }
  value = token_at(line_, next_);
  return ReadStatus::Ok;
}

ReadStatus FreeRead::token(std::string& value) {
  std::string_view text;
  const ReadStatus status = next_token(text);
  if (status == ReadStatus::Ok) value.assign(text);
  return status;
}

ReadStatus FreeRead::integer(long long& value) {
  std::string_view text;
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
  std::string_view text;
  ReadStatus status = next_token(text);
  if (status != ReadStatus::Ok) return status;
  return parse_real(text, value) ? ReadStatus::Ok : ReadStatus::Error;
}

ReadStatus FreeRead::time(double& value) {
  std::string_view text;
  ReadStatus status = next_token(text);
  if (status != ReadStatus::Ok) return status;
  return parse_time(text, value) ? ReadStatus::Ok : ReadStatus::Error;
}

ReadStatus FreeRead::real(double& value) {
  std::string_view text;
  ReadStatus status = next_token(text);
  if (status != ReadStatus::Ok) return status;
  return parse_real(text, value) ? ReadStatus::Ok : ReadStatus::Error;
}

}  // namespace quorvane::textio
