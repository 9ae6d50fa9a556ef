// The items of a record layout and its parser. The parser is in a header,
// and constexpr, so that the program's own layouts are checked while it is
// compiled (see BuiltinLayout in layout.h); use it through layout.h.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

// Whether the parser can run while compiling: it builds std::string, which
// GCC's standard library allows in constant expressions and clang 14 with
// the same library does not. Built with clang (the fuzz build), the
// program's layouts are checked on first use instead.
#if defined(__clang__)
#define QUORVANE_LAYOUTS_CHECKED_WHEN_COMPILED 0
#else
#define QUORVANE_LAYOUTS_CHECKED_WHEN_COMPILED 1
#endif

namespace quorvane::textio {

enum class ItemKind {
  Skip,       // nX
  Literal,    // 'text', "text" or nH
  Text,       // A or Aw (width 0 = the value's own length)
  Integer,    // Iw
  Fixed,      // Fw.d
  Exponent,   // Ew.d
  General,    // Gw.d
  Tab,        // Tn (width = column, 1-based)
  NewLine,    // /
  NoAdvance,  // $
};

struct LayoutItem {
  ItemKind kind = ItemKind::Literal;
  int width = 0;
  int decimals = 0;
  std::string text;  // for Literal
  std::size_t position = 0;  // where the item begins in the layout text
};

// A malformed layout: what is wrong and the 0-based position in the layout
// text where it was noticed.
struct LayoutError {
  std::size_t position = 0;
  std::string message;
};


namespace detail {

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }
constexpr char to_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Expanding repeat counts must stay bounded: a typed layout such as
// "(9999(9999i1))" would otherwise exhaust memory.
inline constexpr std::size_t kMaxItems = 100000;
// The longest line a layout may describe. Far beyond any data file's lines,
// it bounds the work and memory of one line written or read, whatever widths
// and counts a typed layout states.
inline constexpr std::size_t kMaxLineWidth = 100000;

constexpr bool is_data(ItemKind kind) {
  return kind == ItemKind::Text || kind == ItemKind::Integer || kind == ItemKind::Fixed ||
         kind == ItemKind::Exponent || kind == ItemKind::General;
}

class LayoutParser {
 public:
  constexpr explicit LayoutParser(std::string_view text) : text_(text) {}

  // Parses the whole text into `items` and the restart index; false with
  // error() set when the layout is malformed.
  constexpr bool run(std::vector<LayoutItem>& items, std::size_t& reversion) {
    skip_blanks();
    if (!take('(')) return fail("a layout must begin with '('");
    if (!group(items, reversion, /*top_level=*/true)) return false;
    skip_blanks();
    if (pos_ != text_.size()) return fail("text after the closing ')'");
    // When the values outlast the items the layout starts again at its last
    // top-level group; a restart that reads or writes no value would never
    // end, so that group must hold a data item.
    bool any_data = std::any_of(items.begin(), items.end(),
                                [](const LayoutItem& item) { return is_data(item.kind); });
    bool data_after_restart = std::any_of(items.begin() + static_cast<std::ptrdiff_t>(reversion),
                                          items.end(),
                                          [](const LayoutItem& item) { return is_data(item.kind); });
    if (any_data && !data_after_restart)
      return fail_at(reversion_position_, "the layout repeats from a group without data items");
    std::size_t at = 0;
    if (!fits_a_line(items, at))
      return fail_at(at, "a line of the layout would be longer than 100000 characters");
    return true;
  }
  constexpr const LayoutError& error() const { return error_; }

 private:
  // Parses the inside of a group up to and including its ')'.
  constexpr bool group(std::vector<LayoutItem>& items, std::size_t& reversion, bool top_level) {
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
          c != '(' && !is_digit(c) &&
          to_upper(c) != 'X') {
        return fail("',' missing between items");
      }
      if (!item(items, reversion, top_level)) return false;
      // '/', '$' and ':' separate items by themselves.
      char last = text_[pos_ - 1];
      expect_item = (last == '/' || last == '$' || last == ':');
    }
  }

  constexpr bool item(std::vector<LayoutItem>& items, std::size_t& reversion, bool top_level) {
    std::size_t start = pos_;
    int repeat = -1;
    if (is_digit(text_[pos_])) {
      if (!number(repeat)) return false;
      skip_blanks();
      if (pos_ >= text_.size()) return fail("missing ')'");
    }
    char c = to_upper(text_[pos_]);
    if (c == '(') {
      ++pos_;
      std::size_t group_start = items.size();
      std::vector<LayoutItem> inner;
      std::size_t inner_reversion = 0;
      if (!group(inner, inner_reversion, false)) return false;
      if (inner.empty()) return fail_at(start, "an empty group");
      int times = repeat < 0 ? 1 : repeat;
      if (times == 0) return fail_at(start, "a repeat count must be at least 1");
      for (int t = 0; t < times; ++t) {
        if (items.size() + inner.size() > kMaxItems) return fail_at(start, "layout too long");
        items.insert(items.end(), inner.begin(), inner.end());
      }
      if (top_level) {
        reversion = group_start;
        reversion_position_ = start;
      }
      return true;
    }
    if (c == '\'' || c == '"') {
      if (repeat >= 0) return fail_at(start, "a repeat count cannot stand before a text");
      LayoutItem literal{ItemKind::Literal, 0, 0, {}, 0};
      if (!quoted(literal.text)) return false;
      return push(items, literal, 1, start);
    }
    if (c == 'H') {
      if (repeat < 1) return fail_at(start, "nH needs a count");
      ++pos_;
      if (pos_ + static_cast<std::size_t>(repeat) > text_.size())
        return fail_at(start, "nH text runs past the end of the layout");
      LayoutItem literal{ItemKind::Literal, 0, 0, std::string(text_.substr(pos_, repeat)), 0};
      pos_ += repeat;
      return push(items, literal, 1, start);
    }
    if (c == 'X') {
      ++pos_;
      int count = repeat < 0 ? 1 : repeat;
      return push(items, {ItemKind::Skip, count, 0, {}, 0}, 1, start);
    }
    if (c == '/') {
      ++pos_;
      return push(items, {ItemKind::NewLine, 0, 0, {}, 0}, repeat < 0 ? 1 : repeat, start);
    }
    if (c == '$' || c == '\\') {
      ++pos_;
      return push(items, {ItemKind::NoAdvance, 0, 0, {}, 0}, 1, start);
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
      return push(items, {ItemKind::Tab, column, 0, {}, 0}, 1, start);
    }
    LayoutItem data;
    switch (c) {
      case 'A': data.kind = ItemKind::Text; break;
      case 'I': data.kind = ItemKind::Integer; break;
      case 'F': data.kind = ItemKind::Fixed; break;
      case 'E': data.kind = ItemKind::Exponent; break;
      case 'G': data.kind = ItemKind::General; break;
      default: return fail_unknown_item();
    }
    ++pos_;
    skip_blanks();
    bool has_width = pos_ < text_.size() && is_digit(text_[pos_]);
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
        to_upper(text_[pos_]) == 'E') {
      ++pos_;
      int ignored = 0;
      if (!number(ignored)) return false;
    }
    if (data.kind == ItemKind::Integer) data.decimals = 0;
    return push(items, data, repeat < 0 ? 1 : repeat, start);
  }

  constexpr bool push(std::vector<LayoutItem>& items, const LayoutItem& item, int times, std::size_t start) {
    if (times < 1) return fail_at(start, "a repeat count must be at least 1");
    if (items.size() + static_cast<std::size_t>(times) > kMaxItems)
      return fail_at(start, "layout too long");
    LayoutItem placed = item;
    placed.position = start;
    items.insert(items.end(), static_cast<std::size_t>(times), placed);
    return true;
  }

  // Walks the items as the writer does, column by column; false with `at`
  // the position of the item that takes a line past kMaxLineWidth.
  constexpr bool fits_a_line(const std::vector<LayoutItem>& items, std::size_t& at) const {
    std::size_t column = 0;
    for (const LayoutItem& item : items) {
      switch (item.kind) {
        case ItemKind::NewLine: column = 0; break;
        case ItemKind::Tab: column = static_cast<std::size_t>(item.width) - 1; break;
        case ItemKind::Literal: column += item.text.size(); break;
        case ItemKind::NoAdvance: break;
        default: column += static_cast<std::size_t>(item.width); break;
      }
      if (column > kMaxLineWidth) {
        at = item.position;
        return false;
      }
    }
    return true;
  }

  constexpr bool quoted(std::string& out) {
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

  constexpr bool number(int& value) {
    std::size_t start = pos_;
    long long v = 0;
    while (pos_ < text_.size() && is_digit(text_[pos_])) {
      v = v * 10 + (text_[pos_] - '0');
      if (v > 1000000) return fail_at(start, "number too large");
      ++pos_;
    }
    if (pos_ == start) return fail("a number is needed");
    value = static_cast<int>(v);
    return true;
  }

  constexpr void skip_blanks() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
  }
  constexpr bool take(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  // The messages are made only when parsing at run time: while compiling
  // only whether the layout is well formed matters, and GCC cannot make
  // every string in a constant expression.
  constexpr bool fail(std::string_view message) { return fail_at(pos_, message); }
  constexpr bool fail_at(std::size_t at, std::string_view message) {
    error_.position = at;
    if (!std::is_constant_evaluated()) error_.message = std::string(message);
    return false;
  }
  constexpr bool fail_unknown_item() {
    error_.position = pos_;
    if (!std::is_constant_evaluated()) error_.message = "unknown item '" + std::string(1, text_[pos_]) + "'";
    return false;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  LayoutError error_;
  std::size_t reversion_position_ = 0;  // where the last top-level group begins
};

}  // namespace detail
}  // namespace quorvane::textio
