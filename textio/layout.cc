#include "textio/layout.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <mutex>
#include <stdexcept>
#include <unordered_map>

#include "textio/free_format.h"
#include "textio/line_reader.h"

namespace quorvane::textio {
namespace {

using detail::is_data;

std::string right_justify(std::string text, int width) {
  if (static_cast<int>(text.size()) > width) return std::string(width, '*');
  return std::string(width - text.size(), ' ') + text;
}

// printf's %.*E of a finite value, however many digits are asked for.
std::string scientific(double value, int digits) {
  int size = std::snprintf(nullptr, 0, "%.*E", digits, value);
  std::string text(static_cast<std::size_t>(size) + 1, '\0');
  std::snprintf(text.data(), text.size(), "%.*E", digits, value);
  text.pop_back();
  return text;
}

std::string non_finite(double value, int width) {
  std::string text = std::isnan(value) ? "NaN" : (value < 0 ? "-Infinity" : "Infinity");
  if (std::isinf(value) && static_cast<int>(text.size()) > width) text = value < 0 ? "-Inf" : "Inf";
  return right_justify(text, width);
}

// A line being written, with a current column that tab items can move.
class LineBuilder {
 public:
  void put(std::string_view text) {
    if (column_ > line_.size()) line_.resize(column_, ' ');
    for (char c : text) {
      if (column_ < line_.size()) {
        line_[column_] = c;
      } else {
        line_ += c;
      }
      ++column_;
    }
  }
  void tab(std::size_t column) { column_ = column; }
  // Skipped columns become blanks only when something is written after them.
  void skip(std::size_t count) { column_ += count; }
  std::string take() {
    std::string done = std::move(line_);
    line_.clear();
    column_ = 0;
    return done;
  }

 private:
  std::string line_;
  std::size_t column_ = 0;
};

std::string format_value(const LayoutItem& item, const Value& value) {
  if (item.kind == ItemKind::Text) {
    const auto* text = std::get_if<std::string>(&value);
    if (!text) return std::string(item.width > 0 ? item.width : 1, '*');
    if (item.width == 0) return *text;
    if (static_cast<int>(text->size()) >= item.width) return text->substr(0, item.width);
    return std::string(item.width - text->size(), ' ') + *text;
  }
  if (item.kind == ItemKind::Integer) {
    const auto* number = std::get_if<long long>(&value);
    if (!number) return std::string(item.width, '*');
    return format_integer(*number, item.width);
  }
  double real = 0.0;
  if (const auto* d = std::get_if<double>(&value)) {
    real = *d;
  } else if (const auto* i = std::get_if<long long>(&value)) {
    real = static_cast<double>(*i);
  } else {
    return std::string(item.width, '*');
  }
  switch (item.kind) {
    case ItemKind::Fixed: return format_fixed(real, item.width, item.decimals);
    case ItemKind::Exponent: return format_exponent(real, item.width, item.decimals);
    default: return format_general(real, item.width, item.decimals);
  }
}

// The part of a field that lies on the line. Columns beyond the end of the
// line are blanks, which a numeric field ignores; only the line's own
// characters are looked at, however wide the field.
std::string_view field_on_line(std::string_view line, std::size_t column, int width) {
  if (column >= line.size()) return {};
  return line.substr(column, std::min(line.size() - column, static_cast<std::size_t>(width)));
}

std::string without_blanks(std::string_view field) {
  std::string out;
  for (char c : field)
    if (c != ' ' && c != '\t') out += c;
  return out;
}

bool is_digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// A real field: [sign] digits [. digits] [exponent], the exponent being a
// letter E or D with an optionally signed number, or a signed number alone
// (as the exponent form writes exponents of three digits: 0.100+151). With a
// point the mantissa reads as written; without one, its last d digits are
// decimals ("176" in f4.3 is 0.176).
bool parse_real_field(std::string_view field, int decimals, double& value) {
  std::string text = without_blanks(field);
  if (text.empty()) {
    value = 0.0;
    return true;
  }
  std::size_t i = 0;
  std::string sign;
  if (text[i] == '+' || text[i] == '-') sign = text[i++];
  std::string mantissa;
  bool point = false;
  while (i < text.size() && (is_digit(text[i]) || (text[i] == '.' && !point))) {
    point = point || text[i] == '.';
    mantissa += text[i++];
  }
  if (mantissa.find_first_of("0123456789") == std::string::npos) return false;
  std::string exponent;
  if (i < text.size()) {
    char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
    if (c == 'E' || c == 'D') ++i;
    else if (c != '+' && c != '-') return false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) exponent += text[i++];
    std::size_t digits_start = i;
    while (i < text.size() && is_digit(text[i])) exponent += text[i++];
    // An exponent letter or sign must be followed by digits ("15e" is not a number).
    if (i == digits_start || i != text.size()) return false;
  }
  if (!point && decimals > 0) {
    if (static_cast<int>(mantissa.size()) <= decimals)
      mantissa.insert(0, static_cast<std::size_t>(decimals) + 1 - mantissa.size(), '0');
    const std::size_t whole = mantissa.size() - static_cast<std::size_t>(decimals);
    std::string pointed = mantissa.substr(0, whole);
    pointed += '.';
    pointed.append(mantissa, whole);
    mantissa = std::move(pointed);
  }
  std::string full = sign + mantissa;
  if (!exponent.empty()) {
    full += 'E';
    full += exponent;
  }
  return parse_real(full, value);
}

// Reads one data item from `line` at `column`.
bool read_field(const LayoutItem& item, std::string_view line, std::size_t& column, Value& value) {
  if (item.kind == ItemKind::Text) {
    if (item.width == 0) {
      value = column < line.size() ? std::string(line.substr(column)) : std::string();
      column = std::max(column, line.size());
      return true;
    }
    std::string text(field_on_line(line, column, item.width));
    text.resize(static_cast<std::size_t>(item.width), ' ');
    value = std::move(text);
    column += static_cast<std::size_t>(item.width);
    return true;
  }
  std::string_view field = field_on_line(line, column, item.width);
  column += static_cast<std::size_t>(item.width);
  if (item.kind == ItemKind::Integer) {
    std::string text = without_blanks(field);
    long long number = 0;
    if (!text.empty() && !parse_integer(text, number)) return false;
    value = number;
    return true;
  }
  double real = 0.0;
  if (!parse_real_field(field, item.decimals, real)) return false;
  value = real;
  return true;
}

// Moves `column` for a non-data item on input.
void position_input(const LayoutItem& item, std::size_t& column) {
  switch (item.kind) {
    case ItemKind::Skip: column += static_cast<std::size_t>(item.width); break;
    case ItemKind::Tab: column = static_cast<std::size_t>(item.width) - 1; break;
    case ItemKind::Literal: column += item.text.size(); break;
    default: break;
  }
}

}  // namespace

std::variant<RecordLayout, LayoutError> RecordLayout::parse(std::string_view text) {
  RecordLayout layout;
  detail::LayoutParser parser(text);
  if (!parser.run(layout.items_, layout.reversion_)) return parser.error();
  return layout;
}

RecordLayout RecordLayout::fixed(std::string_view text) {
  auto parsed = parse(text);
  if (auto* error = std::get_if<LayoutError>(&parsed)) {
    std::fprintf(stderr, "internal error: bad layout %.*s at %zu: %s\n",
                 static_cast<int>(text.size()), text.data(), error->position,
                 error->message.c_str());
    std::abort();
  }
  return std::get<RecordLayout>(std::move(parsed));
}

bool RecordLayout::has_data_items() const {
  for (const auto& item : items_)
    if (is_data(item.kind)) return true;
  return false;
}

const RecordLayout& BuiltinLayout::layout() const {
  // Each built-in layout is parsed on its first use and kept for the run;
  // the texts are string literals, so their addresses name them.
  static std::mutex guard;
  static std::unordered_map<const char*, RecordLayout> parsed;
  std::lock_guard<std::mutex> lock(guard);
  auto found = parsed.find(text_);
  if (found == parsed.end()) found = parsed.emplace(text_, RecordLayout::fixed(text_)).first;
  return found->second;
}

std::string format_integer(long long value, int width) {
  return right_justify(std::to_string(value), width);
}

std::string format_fixed(double value, int width, int decimals) {
  if (!std::isfinite(value)) return non_finite(value, width);
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  std::string text = buffer;
  if (text.size() > 350) return std::string(width, '*');
  // A value that rounds to zero is written without a sign.
  if (text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
  if (static_cast<int>(text.size()) > width) {
    // The leading zero is optional and dropped when room is short.
    if (text.rfind("0.", 0) == 0) {
      text.erase(0, 1);
    } else if (text.rfind("-0.", 0) == 0) {
      text.erase(1, 1);
    }
  }
  return right_justify(text, width);
}

std::string format_exponent(double value, int width, int decimals) {
  if (!std::isfinite(value)) return non_finite(value, width);
  std::string mantissa_digits;
  int exponent = 0;
  bool negative = std::signbit(value) && value != 0.0;
  if (decimals < 1) return std::string(width, '*');
  if (value == 0.0) {
    mantissa_digits.assign(static_cast<std::size_t>(decimals), '0');
  } else {
    // %E rounds to `decimals` significant digits: d.ddd E x, that is
    // 0.dddd times 10^(x + 1).
    std::string text = scientific(std::fabs(value), decimals - 1);
    std::size_t e = text.find('E');
    for (std::size_t i = 0; i < e; ++i)
      if (std::isdigit(static_cast<unsigned char>(text[i]))) mantissa_digits += text[i];
    exponent = std::atoi(text.c_str() + e + 1) + 1;
  }
  std::string exponent_text;
  int magnitude = std::abs(exponent);
  char buffer[16];
  if (magnitude <= 99) {
    std::snprintf(buffer, sizeof buffer, "E%c%02d", exponent < 0 ? '-' : '+', magnitude);
  } else if (magnitude <= 999) {
    std::snprintf(buffer, sizeof buffer, "%c%03d", exponent < 0 ? '-' : '+', magnitude);
  } else {
    return std::string(width, '*');
  }
  exponent_text = buffer;
  std::string text = std::string(negative ? "-" : "") + "0." + mantissa_digits + exponent_text;
  if (static_cast<int>(text.size()) > width) {
    std::size_t zero = negative ? 1 : 0;
    text.erase(zero, 1);
  }
  return right_justify(text, width);
}

std::string format_general(double value, int width, int decimals) {
  if (!std::isfinite(value)) return non_finite(value, width);
  if (decimals < 1) return std::string(width, '*');
  // k digits before the point once rounded to d significant digits; with
  // 0 <= k <= d the value is written in fixed form with d - k decimals and
  // four trailing blanks where the exponent would stand.
  int k = 0;
  if (value != 0.0) {
    std::string text = scientific(std::fabs(value), decimals - 1);
    k = std::atoi(text.c_str() + text.find('E') + 1) + 1;
  }
  if (value == 0.0 || (k >= 0 && k <= decimals)) {
    if (width < 5) return std::string(width, '*');
    std::string fixed = format_fixed(value, width - 4, value == 0.0 ? decimals - 1 : decimals - k);
    if (fixed.find('*') != std::string::npos) return std::string(width, '*');
    // With no decimals left the number is written with a point ("190."):
    // without one, a reader would take its last d digits as decimals.
    if (value != 0.0 && k == decimals) return fixed + ".   ";
    return fixed + "    ";
  }
  return format_exponent(value, width, decimals);
}

Record write_record(const RecordLayout& layout, const std::vector<Value>& values) {
  const auto& items = layout.items();
  Record record;
  LineBuilder line;
  std::string text;
  std::size_t next_value = 0;
  std::size_t pos = 0;
  const bool has_data = layout.has_data_items();
  while (true) {
    if (pos == items.size()) {
      if (next_value >= values.size() || !has_data) break;
      // More values than items: a new line, from the last top-level group.
      text += line.take();
      text += '\n';
      pos = layout.reversion_index();
      if (pos >= items.size()) break;  // a layout that parse would refuse
    }
    const LayoutItem& item = items[pos];
    if (is_data(item.kind)) {
      if (next_value >= values.size()) break;
      line.put(format_value(item, values[next_value++]));
    } else {
      switch (item.kind) {
        case ItemKind::Skip: line.skip(static_cast<std::size_t>(item.width)); break;
        case ItemKind::Literal: line.put(item.text); break;
        case ItemKind::Tab: line.tab(static_cast<std::size_t>(item.width) - 1); break;
        case ItemKind::NewLine:
          text += line.take();
          text += '\n';
          break;
        case ItemKind::NoAdvance: record.advance = false; break;
        default: break;
      }
    }
    ++pos;
  }
  text += line.take();
  record.text = std::move(text);
  return record;
}

ReadStatus read_record(const RecordLayout& layout, LineSource& source, std::size_t count,
                       std::vector<Value>& values) {
  values.clear();
  const auto& items = layout.items();
  std::string line;
  if (!source.next_line(line)) return ReadStatus::End;
  if (count > 0 && !layout.has_data_items()) return ReadStatus::Error;
  std::size_t column = 0;
  std::size_t pos = 0;
  while (values.size() < count) {
    if (pos == items.size()) {
      if (!source.next_line(line)) return ReadStatus::End;
      column = 0;
      pos = layout.reversion_index();
      if (pos >= items.size()) return ReadStatus::Error;  // a layout that parse would refuse
    }
    const LayoutItem& item = items[pos++];
    if (is_data(item.kind)) {
      Value value;
      if (!read_field(item, line, column, value)) return ReadStatus::Error;
      values.push_back(std::move(value));
    } else if (item.kind == ItemKind::NewLine) {
      if (!source.next_line(line)) return ReadStatus::End;
      column = 0;
    } else {
      position_input(item, column);
    }
  }
  return ReadStatus::Ok;
}

std::vector<FieldPlace> field_places(const RecordLayout& layout, std::size_t count) {
  std::vector<FieldPlace> places;
  const auto& items = layout.items();
  if (!layout.has_data_items()) return places;
  FieldPlace at;
  std::size_t pos = 0;
  while (places.size() < count) {
    if (pos == items.size()) {
      ++at.line;
      at.column = 0;
      pos = layout.reversion_index();
      if (pos >= items.size()) break;
    }
    const LayoutItem& item = items[pos++];
    if (is_data(item.kind)) {
      places.push_back(at);
      at.column += static_cast<std::size_t>(item.width);
    } else if (item.kind == ItemKind::NewLine) {
      ++at.line;
      at.column = 0;
    } else {
      position_input(item, at.column);
    }
  }
  return places;
}

ReadStatus read_line_fields(const RecordLayout& layout, std::string_view line,
                            std::vector<Value>& values) {
  values.clear();
  std::size_t column = 0;
  for (const LayoutItem& item : layout.items()) {
    if (item.kind == ItemKind::NewLine) break;
    if (is_data(item.kind)) {
      Value value;
      if (!read_field(item, line, column, value)) return ReadStatus::Error;
      values.push_back(std::move(value));
    } else {
      position_input(item, column);
    }
  }
  return ReadStatus::Ok;
}

}  // namespace quorvane::textio
