// Shared helpers of the series-input tests.
#pragma once

#include <sstream>
#include <string>

#include "textio/console.h"

namespace quorvane::input::testing {

// A console over scripted answers that records everything written.
struct Dialogue {
  explicit Dialogue(std::string answers) : in(std::move(answers)) {}
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  textio::Console console{in, out, err};
};

inline bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace quorvane::input::testing
