#include <cmath>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/targets.h"
#include "textio/console.h"
#include "textio/free_format.h"
#include "textio/line_reader.h"

namespace quorvane::fuzz {
namespace {

// Answers every question the console can ask, in turn, until the input ends.
void ask_everything(textio::Console& console, int first) {
  for (int question = first;; ++question) {
    switch (question % 5) {
      case 0: console.ask_integer("? "); break;
      case 1: console.ask_real("? "); break;
      case 2: console.ask_logical("? "); break;
      case 3: console.ask_fixed_integer("? ", 1 + question % 6); break;
      default: console.ask_text("? "); break;
    }
  }
}

}  // namespace

int free_format_target(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const int selector = data[0];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::vector<std::string> lines = split_lines(text);

  for (const std::string& line : lines) {
    for (const std::string& token : textio::free_tokens(line)) {
      long long integer = 0;
      double real = 0.0;
      if (textio::parse_integer(token, integer) && std::llabs(integer) < (1LL << 53)) {
        require(textio::parse_real(token, real), "'" + token + "' is an integer but no real");
        require(real == static_cast<double>(integer),
                "'" + token + "' reads as " + std::to_string(integer) + " and as " +
                    std::to_string(real));
      }
      float single = 0.0f;
      if (textio::parse_real(token, single)) require(std::isfinite(single), "a real not finite");
    }
  }

  if (selector % 2 == 0) {
    // Free-format reads of one kind until the lines end.
    auto source = textio::LineReader::from_lines(lines);
    for (std::size_t reads = 0; reads <= lines.size() + 1; ++reads) {
      textio::FreeRead read(source);
      textio::ReadStatus status;
      switch ((selector / 2) % 4) {
        case 0: {
          long long value = 0;
          status = read.integer(value);
          break;
        }
        case 1: {
          float value = 0.0f;
          status = read.real(value);
          if (status == textio::ReadStatus::Ok) require(std::isfinite(value), "a real not finite");
          break;
        }
        case 2: {
          int value = 0;
          status = read.integer(value);
          break;
        }
        default: {
          std::string value;
          status = read.token(value);
          if (status == textio::ReadStatus::Ok) require(!value.empty(), "an empty word");
          break;
        }
      }
      if (status == textio::ReadStatus::End) return 0;
    }
    require(source.at_end(), "free-format reads that never reach the end of the lines");
    return 0;
  }
  std::istringstream in{std::string(text)};
  std::ostringstream out, err;
  textio::Console console(in, out, err);
  try {
    ask_everything(console, selector / 2);
  } catch (const textio::EndOfInput&) {
  }
  return 0;
}

}  // namespace quorvane::fuzz
