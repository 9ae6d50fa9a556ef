#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/targets.h"
#include "textio/layout.h"
#include "textio/line_reader.h"

namespace quorvane::fuzz {
namespace {

using textio::ItemKind;

// Layouts whose written lines can be read again item by item: no tabs
// (which can write over earlier columns) and no A item of its own length
// (which on input takes the rest of the line).
bool writes_what_it_reads(const textio::RecordLayout& layout) {
  for (const auto& item : layout.items()) {
    if (item.kind == ItemKind::Tab) return false;
    if (item.kind == ItemKind::Text && item.width == 0) return false;
  }
  return true;
}

std::string describe(const std::vector<textio::Value>& values) {
  std::string text;
  for (const auto& value : values) {
    if (const auto* i = std::get_if<long long>(&value)) text += std::to_string(*i) + " ";
    else if (const auto* d = std::get_if<double>(&value)) text += std::to_string(*d) + " ";
    else text += "'" + std::get<std::string>(value) + "' ";
  }
  return text;
}

}  // namespace

int layout_target(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t count = data[0];
  std::vector<std::string> lines = split_lines(std::string_view(
      reinterpret_cast<const char*>(data + 1), size - 1));
  if (lines.empty()) return 0;
  const std::string layout_text = lines.front();
  lines.erase(lines.begin());

  auto parsed = textio::RecordLayout::parse(layout_text);
  if (const auto* error = std::get_if<textio::LayoutError>(&parsed)) {
    require(error->position <= layout_text.size(), "error position beyond the layout");
    return 0;
  }
  const auto& layout = std::get<textio::RecordLayout>(parsed);
  require(layout.reversion_index() < layout.items().size() || layout.items().empty(),
          "restart index beyond the items");

  for (const auto& line : lines) {
    std::vector<textio::Value> fields;
    textio::read_line_fields(layout, line, fields);
  }
  auto source = textio::LineReader::from_lines(lines);
  std::vector<textio::Value> values;
  textio::ReadStatus status = textio::read_record(layout, source, count, values);
  require(values.size() <= count, "more values than asked for");
  require(textio::field_places(layout, count).size() <= count, "more places than asked for");
  if (status != textio::ReadStatus::Ok) return 0;
  require(values.size() == count, "a successful read without every value");
  if (count == 0) return 0;

  // What the layout writes it reads back as the same values: written again,
  // they give the same text.
  const textio::Record written = textio::write_record(layout, values);
  if (!writes_what_it_reads(layout) || written.text.find('*') != std::string::npos) return 0;
  auto again = textio::LineReader::from_lines(split_lines(written.text));
  std::vector<textio::Value> back;
  require(textio::read_record(layout, again, count, back) == textio::ReadStatus::Ok,
          "cannot read back '" + written.text + "' written from " + describe(values));
  const std::string rewritten = textio::write_record(layout, back).text;
  require(rewritten == written.text, "'" + written.text + "' reads back as " + describe(back) +
                                         ", written '" + rewritten + "'");
  return 0;
}

}  // namespace quorvane::fuzz
