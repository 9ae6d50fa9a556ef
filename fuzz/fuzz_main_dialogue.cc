// libFuzzer entry of the dialogue target (see targets.h).
#include <cstddef>
#include <cstdint>

#include "fuzz/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return quorvane::fuzz::dialogue_target(data, size);
}
