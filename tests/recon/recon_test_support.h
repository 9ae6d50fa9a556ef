// Series shared by the reconstruction tests and the reconstruction dialogue tests.
#pragma once

#include <fstream>
#include <string>
#include <vector>

namespace quorvane::recon::testing {

// Yearly sunspot numbers 1700-2008 (309 values).
inline std::vector<float> sunspots() {
  std::ifstream in(std::string(QUORVANE_SOURCE_DIR) + "/examples/sunspots.dat");
  std::string name;
  int first_year = 0;
  in >> name >> first_year;
  std::vector<float> values;
  for (float v; in >> v;) values.push_back(v);
  return values;
}

}  // namespace quorvane::recon::testing
