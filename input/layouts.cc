#include "input/layouts.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>

namespace quorvane::input {

const std::vector<std::string>& layout_names() {
  static const std::vector<std::string> names = {"rwl",   "crn",     "single", "two",
                                                 "multi", "monthly", "rows",   "csv"};
  return names;
}

int layout_code(std::string_view name) {
  const auto& names = layout_names();
  for (std::size_t i = 0; i < names.size(); ++i)
    if (name == names[i] || name == std::to_string(i + 1)) return static_cast<int>(i) + 1;
  return 0;
}

}  // namespace quorvane::input
