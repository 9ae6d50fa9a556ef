#include <iostream>

#include "driver/program.h"

int main() {
  std::ios::sync_with_stdio(false);
  return quorvane::driver::run_quorvane(std::cin, std::cout, std::cerr);
}
