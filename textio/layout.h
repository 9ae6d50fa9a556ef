// Record layouts: the parenthesised line descriptions that the dialogue and
// the file readers use, such as "(1x,'Select a series [1-',i3,'] : ',$)" or
// "(1x,i4,12f7.2)".
//
// A layout is parsed once into a flat list of items; `write_record` walks the
// list to build output lines from values, `read_record` walks it to take
// values out of input lines. Both follow the usual conventions of this
// notation:
//   nX  n blanks (input: n columns skipped)      'text' or nHtext  literal text
//   A, Aw  text                                  Iw     integer in w columns
//   Fw.d   fixed point, d decimals               Ew.d   0.ddE+xx exponent form
//   Gw.d   general real form                     Tn     continue at column n
//   /      end of line, start the next           $      no line end after output
// A repeat count may stand before an item or a parenthesised group. When the
// values outlast the items, the layout starts again on a new line from the
// last top-level group (or from the beginning when it has none).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "textio/layout_parser.h"

namespace quorvane::textio {

class LineSource;

class RecordLayout {
 public:
  // Parses `text`, which must be enclosed in parentheses; blanks between
  // items are allowed. Returns the layout or the error. Refused besides
  // plain syntax errors: an empty group; a layout with data items whose last
  // top-level group has none (a restart there would read or write no value);
  // a line longer than 100000 characters, which bounds the work of every
  // line written or read with the layout.
  static std::variant<RecordLayout, LayoutError> parse(std::string_view text);

  // Parses a layout known to be well formed (the program's own fixed layouts);
  // a malformed one is a programming error and aborts.
  static RecordLayout fixed(std::string_view text);

  const std::vector<LayoutItem>& items() const { return items_; }
  // Index of the first item of the last top-level group: where the layout
  // starts again when the values outlast the items.
  std::size_t reversion_index() const { return reversion_; }
  // True when the layout holds at least one data item (A, I, F, E, G).
  bool has_data_items() const;

 private:
  std::vector<LayoutItem> items_;
  std::size_t reversion_ = 0;
};

// A layout written into the program's source, such as
// "(1x,'Select a series [1-',i3,'] : ',$)". A string literal converts to it
// implicitly, and the conversion runs the parser while the program is
// compiled: a malformed built-in layout does not compile (the compiler then
// reports that the constructor is not a constant expression). The parsed
// layout is made once, on first use, and kept for the run.
class BuiltinLayout {
 public:
#if QUORVANE_LAYOUTS_CHECKED_WHEN_COMPILED
  consteval BuiltinLayout(const char* text) : text_(text) {  // NOLINT: implicit by design
    std::vector<LayoutItem> items;
    std::size_t reversion = 0;
    detail::LayoutParser parser{std::string_view(text)};
    if (!parser.run(items, reversion)) throw "malformed built-in record layout";
  }
#else
  constexpr BuiltinLayout(const char* text) : text_(text) {}  // NOLINT: implicit by design
#endif
  const RecordLayout& layout() const;
  const char* text() const { return text_; }

 private:
  const char* text_;
};

// A value handed to or taken from a record: integers, reals and texts.
using Value = std::variant<long long, double, std::string>;

// The text of one output record. `text` may hold several lines separated by
// '\n' (one for each '/'); `advance` is false when the layout ends with '$'
// (a prompt: the cursor stays behind the text).
struct Record {
  std::string text;
  bool advance = true;
};

// Writes `values` with `layout`. Literal items are written until the next data
// item that has no value left (or the end of the layout). A number that does
// not fit its field becomes a field of asterisks. A value of the wrong type
// for its item (text for I, say) is written as asterisks too.
Record write_record(const RecordLayout& layout, const std::vector<Value>& values);

// Single-item formatting helpers, as the writer uses them.
std::string format_integer(long long value, int width);
std::string format_fixed(double value, int width, int decimals);
std::string format_exponent(double value, int width, int decimals);
std::string format_general(double value, int width, int decimals);

enum class ReadStatus { Ok, Error, End };

// Which kind of value each data item of a read delivers.
// Reads `count` data values from `source` with `layout`, starting on the next
// line of the source; a '/' or a reversion of the layout moves to a further
// line. Integer items give long long, F/E/G items double, A items the text of
// the field. On input, blanks inside a numeric field are ignored, an all-blank
// field (or a field beyond the end of the line) reads as 0, and an F, E or G
// field without a point has d implied decimals. A field that is not a number
// gives Error; the end of the source before all values are read gives End.
// `values` receives the values read so far in every case.
ReadStatus read_record(const RecordLayout& layout, LineSource& source, std::size_t count,
                       std::vector<Value>& values);

// Where a data field of a read begins: the line of the read (0 for its first
// line) and the 0-based column on that line.
struct FieldPlace {
  std::size_t line = 0;
  std::size_t column = 0;
};

// The places of the first `count` data fields that read_record would read
// with `layout`, without reading anything. An A item without a width is
// taken to end where it begins.
std::vector<FieldPlace> field_places(const RecordLayout& layout, std::size_t count);

// Reads the items of `layout` from one given line (no reversion onto further
// lines); used for fixed-layout answers such as "(i3)" and for decade lines.
ReadStatus read_line_fields(const RecordLayout& layout, std::string_view line,
                            std::vector<Value>& values);

}  // namespace quorvane::textio
