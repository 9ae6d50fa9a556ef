// The vocabulary every subsystem's entry routines share: the result of a
// call, and the sink that takes the diagnostic lines a routine may write.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace quorvane {

// Result of an entry routine of the numerical library: either success or a
// message, in the system's own words, that the caller shows to the user.
// Ignoring one would silently treat a refusal as a result.
struct [[nodiscard]] Status {
  bool ok = true;
  std::string message;

  static Status success() { return {}; }
  static Status failure(std::string text) { return {false, std::move(text)}; }
  explicit operator bool() const { return ok; }
};

// Receives diagnostic lines, one per call, that a numerical routine writes
// instead of printing (the library does no console I/O). An empty sink
// discards them.
using MessageSink = std::function<void(std::string_view line)>;

}  // namespace quorvane
