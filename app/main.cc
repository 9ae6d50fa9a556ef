#include <iostream>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/interrupt.h"
#include "display/display.h"
#include "driver/program.h"

// Without arguments the program runs the dialogue on the console; with
// arguments it runs the command line, which asks nothing.
int main(int argc, char** argv) {
  // PLplot finds its font files through PLPLOT_LIB; set it before anything
  // else, replacing whatever the environment holds.
  quorvane::display::set_plplot_lib();
  if (argc > 1) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    // A run stopped by SIGINT or SIGTERM leaves no temporary file behind.
    quorvane::cli::catch_interruptions();
    return quorvane::cli::run_command_line(args, std::cout, std::cerr);
  }
  std::ios::sync_with_stdio(false);
  return quorvane::driver::run_quorvane(std::cin, std::cout, std::cerr);
}
