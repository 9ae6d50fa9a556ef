// The tables of numbers that describe a record's chronologies: an age
// ensemble (a depth column, then one column of ages per member, as
// age-model tools export them) and a list of tie points (depth, age,
// 1-sigma error).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "common/status.h"

namespace quorvane::input {

// The rows of numbers of a text file: fields separated by commas,
// semicolons, tabs or blanks; blank lines, lines beginning with '#' and the
// lines above the first row of numbers (a header) are passed over. Every
// row must hold `columns` numbers, or (columns 0) as many as the first.
// Refused: a file that cannot be read or holds no row, a row of another
// length or with a field that is not a finite number (naming its line).
struct NumberTable {
  std::size_t columns = 0;
  std::vector<std::vector<double>> rows;
};
Status read_number_table(const std::string& path, std::size_t columns, NumberTable& out);

// The ages of an ensemble file for the samples at `depth`: by depth when
// every one of them appears in the file's first column, else by row when
// the file has as many rows as there are samples (in the order of the
// file's depths, increasing). ages[m * depth.size() + j] is member m's age
// of sample j. Refused otherwise, saying how many depths were found.
Status match_ensemble(const NumberTable& table, const std::vector<double>& depth,
                      std::size_t& members, std::vector<double>& ages, bool& by_row);

}  // namespace quorvane::input
