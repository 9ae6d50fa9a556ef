#include "textio/layout.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <stdexcept>

#include "textio/free_format.h"
#include "textio/line_reader.h"

namespace quorvane::textio {
namespace {

// Expanding repeat counts must stay bounded: a typed layout such as
// "(9999(9999i1))" would otherwise exhaust memory.
constexpr std::size_t kMaxItems = 100000;

bool is_data(ItemKind kind) {
  return kind == ItemKind::Text || kind == ItemKind::Integer || kind == ItemKind::Fixed ||
         kind == ItemKind::Exponent || kind == ItemKind::General;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  std::variant<RecordLayout, LayoutError> run(std::vector<LayoutItem>& items,
                                              std::size_t& reversion) {
    skip_blanks();
    if (!take('(')) return error("a layout must begin with '('");
    if (!group(items, reversion, /*top_level=*/true)) return error_;
    skip_blanks();
    if (pos_ != text_.size()) return error("text after the closing ')'");
    return RecordLayout{};
  }

 private:
  // Parses the inside of a group up to and including its ')'.
  bool group(std::vector<LayoutItem>& items, std::size_t& reversion, bool top_level) {
    bool expect_item = true;
    while (true) {
      skip_blanks();
      if (pos_ >= text_.size()) return fail("missing ')'");
      char c = text_[pos_];
      if (c == ')') {
        ++pos_;
        return true;
      }
      if (c == ',') {
        if (expect_item) return fail("empty item before ','");
        ++pos_;
        expect_item = true;
        continue;
      }
      if (!expect_item && c != '/' && c != '$' && c != ':' && c != '\'' && c != '"' &&
          c != '(' && !std::isdigit(static_cast<unsigned char>(c)) &&
          std::toupper(static_cast<unsigned char>(c)) != 'X') {
        return fail("',' missing between items");
      }
      if (!item(items, reversion, top_level)) return false;
      // '/', '$' and ':' separate items by themselves.
      char last = text_[pos_ - 1];
      expect_item = (last == '/' || last == '$' || last == ':');
    }
  }

  bool item(std::vector<LayoutItem>& items, std::size_t& reversion, bool top_level) {
    std::size_t start = pos_;
    int repeat = -1;
    if (std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
      if (!number(repeat)) return false;
      skip_blanks();
      if (pos_ >= text_.size()) return fail("missing ')'");
    }
    char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text_[pos_])));
    if (c == '(') {
      ++pos_;
      std::size_t group_start = items.size();
      std::vector<LayoutItem> inner;
      std::size_t inner_reversion = 0;
      if (!group(inner, inner_reversion, false)) return false;
      int times = repeat < 0 ? 1 : repeat;
      if (times == 0) return fail_at(start, "a repeat count must be at least 1");
      for (int t = 0; t < times; ++t) {
        if (items.size() + inner.size() > kMaxItems) return fail_at(start, "layout too long");
        items.insert(items.end(), inner.begin(), inner.end());
      }
      if (top_level) reversion = group_start;
      return true;
    }
    if (c == '\'' || c == '"') {
      if (repeat >= 0) return fail_at(start, "a repeat count cannot stand before a text");
      LayoutItem literal{ItemKind::Literal, 0, 0, {}};
      if (!quoted(literal.text)) return false;
      return push(items, literal, 1, start);
    }
    if (c == 'H') {
      if (repeat < 1) return fail_at(start, "nH needs a count");
      ++pos_;
      if (pos_ + static_cast<std::size_t>(repeat) > text_.size())
        return fail_at(start, "nH text runs past the end of the layout");
      LayoutItem literal{ItemKind::Literal, 0, 0, std::string(text_.substr(pos_, repeat))};
      pos_ += repeat;
      return push(items, literal, 1, start);
    }
    if (c == 'X') {
      ++pos_;
      int count = repeat < 0 ? 1 : repeat;
      return push(items, {ItemKind::Skip, count, 0, {}}, 1, start);
    }
    if (c == '/') {
      ++pos_;
      return push(items, {ItemKind::NewLine, 0, 0, {}}, repeat < 0 ? 1 : repeat, start);
    }
    if (c == '$' || c == '\\') {
      ++pos_;
      return push(items, {ItemKind::NoAdvance, 0, 0, {}}, 1, start);
    }
    if (c == ':') {
      ++pos_;
      return true;
    }
    if (c == 'T') {
      ++pos_;
      skip_blanks();
      int column = 0;
      if (!number(column)) return false;
      if (column < 1) return fail_at(start, "a tab column must be at least 1");
      return push(items, {ItemKind::Tab, column, 0, {}}, 1, start);
    }
    LayoutItem data;
    switch (c) {
      case 'A': data.kind = ItemKind::Text; break;
      case 'I': data.kind = ItemKind::Integer; break;
      case 'F': data.kind = ItemKind::Fixed; break;
      case 'E': data.kind = ItemKind::Exponent; break;
      case 'G': data.kind = ItemKind::General; break;
      default: return fail("unknown item '" + std::string(1, text_[pos_]) + "'");
    }
    ++pos_;
    skip_blanks();
    bool has_width = pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]));
    if (has_width) {
      if (!number(data.width)) return false;
      if (data.width < 1) return fail_at(start, "a field width must be at least 1");
    } else if (data.kind != ItemKind::Text) {
      return fail("a field width is needed");
    }
    skip_blanks();
    if (pos_ < text_.size() && text_[pos_] == '.') {
      if (data.kind == ItemKind::Text) return fail("a text field has no decimals");
      ++pos_;
      skip_blanks();
      if (!number(data.decimals)) return false;
      if (data.decimals >= data.width && data.kind != ItemKind::Integer)
        return fail_at(start, "more decimals than the field is wide");
    } else if (data.kind == ItemKind::Fixed || data.kind == ItemKind::Exponent ||
               data.kind == ItemKind::General) {
      return fail("a real field needs its decimals, as in f7.2");
    }
    // An exponent width such as e15.8e3 is accepted and ignored.
    if (data.kind == ItemKind::Exponent && pos_ < text_.size() &&
        std::toupper(static_cast<unsigned char>(text_[pos_])) == 'E') {
      ++pos_;
      int ignored = 0;
      if (!number(ignored)) return false;
    }
    if (data.kind == ItemKind::Integer) data.decimals = 0;
    return push(items, data, repeat < 0 ? 1 : repeat, start);
  }

  bool push(std::vector<LayoutItem>& items, const LayoutItem& item, int times, std::size_t start) {
    if (times < 1) return fail_at(start, "a repeat count must be at least 1");
    if (items.size() + static_cast<std::size_t>(times) > kMaxItems)
      return fail_at(start, "layout too long");
    items.insert(items.end(), static_cast<std::size_t>(times), item);
    return true;
  }

  bool quoted(std::string& out) {
    char quote = text_[pos_++];
    while (pos_ < text_.size()) {
      char c = text_[pos_++];
      if (c == quote) {
        if (pos_ < text_.size() && text_[pos_] == quote) {  // doubled quote
          out += quote;
          ++pos_;
          continue;
        }
        return true;
      }
      out += c;
    }
    return fail("unterminated text");
  }

  bool number(int& value) {
    std::size_t start = pos_;
    long long v = 0;
    while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
      v = v * 10 + (text_[pos_] - '0');
      if (v > 1000000) return fail_at(start, "number too large");
      ++pos_;
    }
    if (pos_ == start) return fail("a number is needed");
    value = static_cast<int>(v);
    return true;
  }

  void skip_blanks() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
  }
  bool take(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool fail(std::string message) { return fail_at(pos_, std::move(message)); }
  bool fail_at(std::size_t at, std::string message) {
    error_ = LayoutError{at, std::move(message)};
    return false;
  }
  LayoutError error(std::string message) {
    fail(std::move(message));
    return error_;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  LayoutError error_;
};

std::string right_justify(std::string text, int width) {
  if (static_cast<int>(text.size()) > width) return std::string(width, '*');
  return std::string(width - text.size(), ' ') + text;
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

std::string field_of(std::string_view line, std::size_t column, int width) {
  std::string field;
  for (int i = 0; i < width; ++i) {
    std::size_t at = column + static_cast<std::size_t>(i);
    field += at < line.size() ? line[at] : ' ';
  }
  return field;
}

std::string without_blanks(std::string_view field) {
  std::string out;
  for (char c : field)
    if (c != ' ' && c != '\t') out += c;
  return out;
}

// A real field: with a point it reads as written; without one, its last d
// mantissa digits are decimals ("176" in f4.3 is 0.176).
bool parse_real_field(std::string_view field, int decimals, double& value) {
  std::string text = without_blanks(field);
  if (text.empty()) {
    value = 0.0;
    return true;
  }
  if (text.find('.') != std::string::npos || decimals == 0) return parse_real(text, value);
  // Split off an exponent: a letter E/D, or a sign after the first character.
  std::size_t exponent_at = std::string::npos;
  for (std::size_t i = 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == 'e' || c == 'E' || c == 'd' || c == 'D' || c == '+' || c == '-') {
      exponent_at = i;
      break;
    }
  }
  std::string mantissa = text.substr(0, exponent_at);
  std::string exponent = exponent_at == std::string::npos ? "" : text.substr(exponent_at);
  std::string sign;
  if (!mantissa.empty() && (mantissa[0] == '+' || mantissa[0] == '-')) {
    sign = mantissa.substr(0, 1);
    mantissa.erase(0, 1);
  }
  if (mantissa.empty()) return false;
  for (char c : mantissa)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  if (static_cast<int>(mantissa.size()) <= decimals)
    mantissa.insert(0, static_cast<std::size_t>(decimals) + 1 - mantissa.size(), '0');
  mantissa.insert(mantissa.size() - static_cast<std::size_t>(decimals), ".");
  if (!exponent.empty() && std::isalpha(static_cast<unsigned char>(exponent[0])))
    exponent.erase(0, 1);
  std::string full = sign + mantissa;
  if (!exponent.empty()) full += "E" + exponent;
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
    value = field_of(line, column, item.width);
    column += static_cast<std::size_t>(item.width);
    return true;
  }
  std::string field = field_of(line, column, item.width);
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
  Parser parser(text);
  auto result = parser.run(layout.items_, layout.reversion_);
  if (std::holds_alternative<LayoutError>(result)) return result;
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
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*E", decimals - 1, std::fabs(value));
    std::string text = buffer;
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
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*E", decimals - 1, std::fabs(value));
    k = std::atoi(std::strchr(buffer, 'E') + 1) + 1;
  }
  if (value == 0.0 || (k >= 0 && k <= decimals)) {
    if (width < 5) return std::string(width, '*');
    std::string fixed = format_fixed(value, width - 4, value == 0.0 ? decimals - 1 : decimals - k);
    if (fixed.find('*') != std::string::npos) return std::string(width, '*');
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
