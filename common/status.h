// The vocabulary every subsystem's entry routines share: the result of a
// call (the public Status), and the sink that takes the diagnostic lines a
// routine may write.
#pragma once

#include <functional>
#include <string_view>

#include "quorvane/status.h"

namespace quorvane {

// Receives diagnostic lines, one per call, that a numerical routine writes
// instead of printing (the library does no console I/O). An empty sink
// discards them.
using MessageSink = std::function<void(std::string_view line)>;

}  // namespace quorvane
