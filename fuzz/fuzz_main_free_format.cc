// libFuzzer entry of the free-format target (see targets.h).
#include <cstddef>
#include <cstdint>

#include "fuzz/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return quorvane::fuzz::free_format_target(data, size);
}
