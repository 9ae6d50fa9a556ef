// The process's peak resident memory, for the peak_MB counters of the
// benchmarks.
#pragma once

#include <fstream>
#include <string>

namespace quorvane::bench {

// Linux keeps the peak resident size; writing 5 to clear_refs resets it.
inline void reset_peak_memory() { std::ofstream("/proc/self/clear_refs") << "5"; }

// VmHWM of /proc/self/status in MB (0 where the system does not say).
inline double peak_memory_mb() {
  std::ifstream status("/proc/self/status");
  for (std::string key; status >> key;) {
    if (key == "VmHWM:") {
      double kib = 0.0;
      status >> kib;
      return kib / 1024.0;
    }
  }
  return 0.0;
}

}  // namespace quorvane::bench
