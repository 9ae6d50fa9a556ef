// Series input: the input format menu, the readers of the seven file
// layouts, the table of every series of a file, the series selection and
// the confirmation dialogue.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "textio/console.h"

namespace quorvane::input {

class SeriesInput {
 public:
  SeriesInput();
  ~SeriesInput();
  SeriesInput(const SeriesInput&) = delete;
  SeriesInput& operator=(const SeriesInput&) = delete;

  // Runs the input dialogue on file `fname` and returns the chosen series:
  // its values y[0..npts-1] (y is resized to npts), the time step dt and the
  // name. With ireuse = 1 the format menu is skipped and the series is chosen
  // from the table already read. ireuse is 0 on return. Returns only once a
  // series has been chosen and accepted (or throws EndOfInput/ProgramStop).
  void setup(textio::Console& console, int iunit, const std::string& fname, int& npts, float& dt,
             std::vector<float>& y, std::string& title, int& ireuse);

 private:
  struct Table;
  std::unique_ptr<Table> table_;
};

}  // namespace quorvane::input
