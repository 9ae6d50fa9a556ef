#include "input/age_table.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <numeric>

namespace quorvane::input {

namespace {

bool separator(char c) { return c == ',' || c == ';' || c == '\t' || c == ' ' || c == '\r'; }

// The fields of a line as numbers; false when one is not a finite number.
bool numbers(const std::string& line, std::vector<double>& out) {
  out.clear();
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && separator(line[at])) ++at;
    if (at >= line.size()) break;
    std::size_t end = at;
    while (end < line.size() && !separator(line[end])) ++end;
    const char* first = line.data() + at;
    if (*first == '+') ++first;
    double value = 0.0;
    const auto [stop, error] = std::from_chars(first, line.data() + end, value);
    if (error != std::errc() || stop != line.data() + end || !std::isfinite(value)) return false;
    out.push_back(value);
    at = end;
  }
  return true;
}

}  // namespace

Status read_number_table(const std::string& path, std::size_t columns, NumberTable& out) {
  std::ifstream file(path);
  if (!file) return Status::failure("cannot read " + path);
  NumberTable table;
  table.columns = columns;
  std::string line;
  std::vector<double> row;
  std::size_t number = 0;
  while (std::getline(file, line)) {
    ++number;
    if (line.find_first_not_of(" \t\r") == std::string::npos || line.front() == '#') continue;
    const bool read = numbers(line, row);
    if (table.rows.empty() && (!read || row.empty())) continue;  // a header
    if (!read) {
      return Status::failure(path + " line " + std::to_string(number) +
                             ": a field is not a finite number");
    }
    if (table.columns == 0) table.columns = row.size();
    if (row.size() != table.columns) {
      return Status::failure(path + " line " + std::to_string(number) + ": " +
                             std::to_string(row.size()) + " numbers where " +
                             std::to_string(table.columns) + " are expected");
    }
    table.rows.push_back(row);
  }
  if (table.rows.empty()) return Status::failure(path + " holds no row of numbers");
  out = std::move(table);
  return Status::success();
}

Status match_ensemble(const NumberTable& table, const std::vector<double>& depth,
                      std::size_t& members, std::vector<double>& ages, bool& by_row) {
  if (table.columns < 2) {
    return Status::failure("an age ensemble needs a depth column and at least one member");
  }
  const std::size_t n = depth.size();
  members = table.columns - 1;
  std::vector<std::size_t> order(table.rows.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return table.rows[a][0] < table.rows[b][0];
  });
  std::vector<std::size_t> row_of(n);
  std::size_t found = 0;
  for (std::size_t j = 0; j < n; ++j) {
    const auto at = std::lower_bound(order.begin(), order.end(), depth[j], [&](std::size_t r, double d) {
      return table.rows[r][0] < d;
    });
    if (at != order.end() && table.rows[*at][0] == depth[j]) {
      row_of[j] = *at;
      ++found;
    }
  }
  by_row = found < n;
  if (by_row) {
    if (table.rows.size() != n) {
      return Status::failure("the age ensemble holds " + std::to_string(found) + " of the " +
                             std::to_string(n) + " depths of the values and " +
                             std::to_string(table.rows.size()) +
                             " rows: it can be matched neither by depth nor by row");
    }
    row_of = order;
  }
  ages.resize(members * n);
  for (std::size_t m = 0; m < members; ++m)
    for (std::size_t j = 0; j < n; ++j) ages[m * n + j] = table.rows[row_of[j]][m + 1];
  return Status::success();
}

}  // namespace quorvane::input
