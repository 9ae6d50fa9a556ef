#include "input/layouts.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>

namespace quorvane::input {

namespace {

// One named option: the layouts that take it and how its text sets the
// answers.
struct LayoutOption {
  const char* name;
  std::vector<int> layouts;
  const char* which;  // the layouts, for a message
  std::function<std::string(const std::string& text, ReadOptions& out)> set;
};

// A whole number written in full within [low, high]; else the reason.
std::string whole(const std::string& text, long low, long high, int& value) {
  long number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() || number < low || number > high)
    return "'" + text + "' is not a whole number from " + std::to_string(low) + " to " +
           std::to_string(high);
  value = static_cast<int>(number);
  return {};
}

const std::vector<LayoutOption>& layout_options() {
  static const std::vector<LayoutOption> options = {
      {"skip", {4, 5, 6, 7, 8}, "two, multi, monthly, rows and csv",
       [](const std::string& t, ReadOptions& o) { return whole(t, 0, 1000000, o.lskip); }},
      {"per_line", {6}, "monthly",
       [](const std::string& t, ReadOptions& o) { return whole(t, 1, 99, o.nvar); }},
      {"multiplier", {6}, "monthly",
       [](const std::string& t, ReadOptions& o) {
         std::size_t used = 0;
         try {
           o.mult = std::stof(t, &used);
         } catch (const std::exception&) {
           used = 0;
         }
         if (t.empty() || used != t.size() || !std::isfinite(o.mult))
           return "'" + t + "' is not a finite number";
         return std::string();
       }},
      {"sentinel", {5}, "multi",
       [](const std::string& t, ReadOptions& o) {
         o.sentinel = t;
         return t.empty() ? std::string("the value is empty") : std::string();
       }},
      {"record_layout", {7}, "rows",
       [](const std::string& t, ReadOptions& o) {
         o.rfmt = t;
         return t.empty() ? std::string("the value is empty") : std::string();
       }},
      {"columns", {5, 7}, "multi and rows",
       [](const std::string& t, ReadOptions& o) { return whole(t, 1, 100000, o.ncol); }},
      {"time_column", {8}, "csv",
       [](const std::string& t, ReadOptions& o) {
         o.time_column = t;
         return t.empty() ? std::string("the value is empty") : std::string();
       }},
      {"value_columns", {8}, "csv",
       [](const std::string& t, ReadOptions& o) {
         // Names separated by commas, as --value-columns takes them.
         o.value_columns.clear();
         for (std::size_t start = 0; start <= t.size();) {
           const std::size_t end = std::min(t.find(',', start), t.size());
           o.value_columns.push_back(t.substr(start, end - start));
           start = end + 1;
         }
         for (const auto& name : o.value_columns)
           if (name.empty()) return std::string("a column name is empty");
         return std::string();
       }},
  };
  return options;
}

}  // namespace

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

Status read_options(std::string_view layout, const std::map<std::string, std::string>& options,
                    ReadOptions& out) {
  out = ReadOptions{};
  out.iform = layout_code(layout);
  if (out.iform == 0) {
    std::string names;
    for (const auto& n : layout_names()) names += (names.empty() ? "" : ", ") + n;
    return Status::failure("layout '" + std::string(layout) + "' is not one of " + names);
  }
  out.sentinel = "*";
  const std::string name = layout_names()[static_cast<std::size_t>(out.iform - 1)];
  for (const auto& [key, text] : options) {
    const LayoutOption* option = nullptr;
    for (const auto& o : layout_options())
      if (key == o.name) option = &o;
    if (option == nullptr) {
      std::string known;
      for (const auto& o : layout_options()) known += (known.empty() ? "" : ", ") + std::string(o.name);
      return Status::failure("'" + key + "' is not an option of read; the options are " + known);
    }
    bool taken = false;
    for (int l : option->layouts) taken = taken || l == out.iform;
    if (!taken)
      return Status::failure(key + " applies to layout " + option->which + " only, not to layout " +
                             name);
    if (std::string problem = option->set(text, out); !problem.empty())
      return Status::failure(key + ": " + problem);
  }
  if (out.iform == 5 && !options.count("columns"))
    return Status::failure("layout multi needs columns (columns including X)");
  if (out.iform == 5 && out.ncol < 2)
    return Status::failure("columns must be at least 2 with layout multi (the X column and one series)");
  if (out.iform == 7 && !options.count("record_layout"))
    return Status::failure("layout rows needs record_layout");
  if (out.iform == 7 && !options.count("columns")) return Status::failure("layout rows needs columns");
  return Status::success();
}

}  // namespace quorvane::input
