// Series input: the input format menu, the readers of the seven file
// layouts, the table of every series of a file, the series selection and
// the confirmation dialogue.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "input/series_file.h"
#include "textio/console.h"

namespace quorvane::input {

class SeriesInput {
 public:
  SeriesInput();
  ~SeriesInput();
  SeriesInput(const SeriesInput&) = delete;
  SeriesInput& operator=(const SeriesInput&) = delete;

  // Runs the input dialogue on file `fname` and returns the chosen series
  // (its values, time axis, mean time step and name). With `reuse` the
  // format menu is skipped and the series is chosen from the table already
  // read (the file is read first when there is none). Returns only once a
  // series has been chosen and accepted (or throws EndOfInput/ProgramStop).
  ChosenSeries setup(textio::Console& console, const std::string& fname, bool reuse);

 private:
  struct Table;
  std::unique_ptr<Table> table_;
};

}  // namespace quorvane::input
