// The main program: banner, input file, series input, the main menu with its
// setting dialogs and the signals dialog, and the order in which spectrum
// runs, reconstructions and plots happen.
#pragma once

#include <iosfwd>

#include "textio/console.h"

namespace quorvane::driver {

// Runs the whole dialogue on the console until the user quits. Throws
// textio::EndOfInput when the input ends and textio::ProgramStop when a
// reader stops the program.
void run_program(textio::Console& console);

// Runs the program over the given streams and returns its exit status: 0
// after "quitting...", non-zero when the input ended early or the program
// stopped with a message (written to `err`).
int run_quorvane(std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace quorvane::driver
