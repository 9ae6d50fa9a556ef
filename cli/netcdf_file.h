// Result tables as NetCDF-4 files, through the netCDF C library: the one
// place of the program that calls it.
#pragma once

#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <vector>

#include "cli/files.h"

namespace quorvane::cli {

// Writes `columns` (all of one length n) to the NetCDF-4 file `path`: a
// dimension `dimension` of length n and one variable per column on it,
// named by its header, float for a column of floats and double for one of
// doubles, so that the values read back are those of the CSV; the column
// named like the dimension is its coordinate variable. Every member of the
// JSON object `attributes` becomes a global attribute: nested objects
// flattened with '_' between the names, text as text, booleans as bytes 0
// or 1, integers as 64-bit integers, other numbers as doubles, arrays of
// numbers as arrays of doubles (null as NaN), arrays of text joined by
// ", ", nulls left out. The library builds the file in memory (as much
// again as the columns take); its bytes are then written under a temporary
// name in the same folder, renamed when complete. False with `error` naming
// the file and the cause (a full disk as "No space left on device") when it
// cannot be written or the run is interrupted (cli/interrupt.h, checked
// between blocks of rows); nothing is then left behind, open or on disk,
// and later files are written as if it had not happened. Calls from
// several threads take turns, since the library is not thread-safe.
// With `members`, a second dimension of members.coordinate.size() entries
// (its coordinate variable of that name in double precision) and each of
// members.matrices as a float variable on (that dimension, `dimension`),
// whose values are one row of the columns' length per member.
struct MemberVariables {
  std::string dimension;
  std::span<const double> coordinate;
  std::vector<Column> matrices;
};
bool write_netcdf_atomically(const std::string& path, const std::vector<Column>& columns,
                             const std::string& dimension, const nlohmann::ordered_json& attributes,
                             std::string& error, const MemberVariables* members = nullptr);

}  // namespace quorvane::cli
