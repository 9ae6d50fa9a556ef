// How much memory a piece of work may take, checked before the work starts,
// so that a record too long for this machine is refused with a message
// instead of ending in an allocation failure or a swap storm.
#pragma once

#include <cmath>
#include <cstdint>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include "common/status.h"

namespace quorvane {

// The memory the system can give without swapping: MemAvailable of
// /proc/meminfo, in bytes; nothing where the system does not say.
inline std::optional<std::uint64_t> available_memory() {
  std::ifstream meminfo("/proc/meminfo");
  std::string key, unit;
  std::uint64_t kib = 0;
  while (meminfo >> key >> kib) {
    std::getline(meminfo, unit);
    if (key == "MemAvailable:") return kib * 1024;
  }
  return std::nullopt;
}

// A byte count for a message: "1.3 GB", "240 MB", "12 kB" (powers of 1000,
// as memory is quoted to users).
inline std::string describe_bytes(std::uint64_t bytes) {
  std::ostringstream text;
  text.precision(bytes >= 1000000000 ? 2 : 3);
  if (bytes >= 1000000000) {
    // Every whole digit of a large amount (140 GB, not 1.4e+02 GB).
    const double gigabytes = static_cast<double>(bytes) / 1e9;
    if (gigabytes >= 100.0) text.precision(static_cast<int>(std::log10(gigabytes)) + 1);
    text << gigabytes << " GB";
  } else if (bytes >= 1000000) {
    text << static_cast<double>(bytes) / 1e6 << " MB";
  } else {
    text << static_cast<double>(bytes) / 1e3 << " kB";
  }
  return text.str();
}

// Refuses work that needs more than the memory available, leaving an eighth
// of it for the rest of the program and the system; the message says that
// the need is more than available, since the two numbers alone may read as
// if it fitted. what names the work
// ("A spectrum of 10000000 values"). available is the memory to judge
// against; where the system cannot say, the work goes ahead.
inline Status check_memory(std::uint64_t needed, std::string_view what,
                           std::optional<std::uint64_t> available) {
  if (!available || needed <= *available - *available / 8) return Status::success();
  // Appended in turn: GCC 12 at -O3 misreads "text" + std::string as an
  // overlapping copy (-Wrestrict).
  std::string message(what);
  message.append(" needs about ").append(describe_bytes(needed));
  message.append(" of memory, more than available: this machine has ");
  message.append(describe_bytes(*available)).append(" available and keeps an eighth of it free.");
  return Status::out_of_memory(message);
}

// Work up to this size goes ahead without asking the system: asking reads
// /proc/meminfo, which costs more than the spectrum of a short series, and
// a machine that cannot give a few megabytes fails the allocation itself,
// which is reported as running out of memory all the same.
inline constexpr std::uint64_t kAskedAbove = std::uint64_t{16} << 20;

// check_memory against the memory the system has available.
inline Status check_memory(std::uint64_t needed, std::string_view what) {
  if (needed <= kAskedAbove) return Status::success();
  return check_memory(needed, what, available_memory());
}

}  // namespace quorvane
