#include <iostream>

#include "display/display.h"
#include "driver/program.h"

int main() {
  // PLplot finds its font files through PLPLOT_LIB; set it before anything
  // else, replacing whatever the environment holds.
  quorvane::display::set_plplot_lib();
  std::ios::sync_with_stdio(false);
  return quorvane::driver::run_quorvane(std::cin, std::cout, std::cerr);
}
