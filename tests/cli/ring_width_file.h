// Writing raw ring-width files in the decade layout: an 8-character id, the
// year in 4 columns, then up to ten widths in 6 columns (hundredths of a
// millimetre), each series closed by the end value 999.
#pragma once

#include <cmath>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace quorvane::cli::testing {

struct Core {
  std::string id;
  int first_year = 0;
  std::vector<int> widths;  // hundredths of a millimetre, never 999
};

inline void write_ring_widths(std::ostream& out, const std::vector<Core>& cores) {
  for (const Core& core : cores) {
    std::vector<int> values = core.widths;
    values.push_back(999);
    std::size_t i = 0;
    int year = core.first_year;
    while (i < values.size()) {
      char head[24];  // room for any int year
      std::snprintf(head, sizeof head, "%-8.8s%4d", core.id.c_str(), year);
      std::string line = head;
      // The first line of a series runs to the end of its decade.
      const int on_line = i == 0 ? 10 - ((year % 10) + 10) % 10 : 10;
      for (int k = 0; k < on_line && i < values.size(); ++k, ++i) {
        char field[8];
        std::snprintf(field, sizeof field, "%6d", values[i]);
        line += field;
      }
      out << line << "\n";
      year += on_line;
    }
  }
}

// A core of `count` widths with a cycle of `period` years over a slowly
// declining growth trend and a deterministic ripple standing in for noise.
inline Core synthetic_core(const std::string& id, int first_year, int count, float period,
                           unsigned seed) {
  Core core{id, first_year, {}};
  unsigned state = seed * 2654435761u + 1u;
  for (int t = 0; t < count; ++t) {
    state = state * 1664525u + 1013904223u;
    const double noise = static_cast<double>(state >> 8) / 16777216.0 - 0.5;
    const double width = 150.0 + 100.0 * std::exp(-t / 80.0) +
                         40.0 * std::sin(2.0 * M_PI * t / period) + 60.0 * noise;
    core.widths.push_back(static_cast<int>(width));
  }
  return core;
}

}  // namespace quorvane::cli::testing
