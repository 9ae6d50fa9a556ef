// libFuzzer entry of the reader targets (see targets.h): built once per
// layout with QUORVANE_FUZZ_LAYOUT set to its number, and once without it
// for the target that lets byte 0 choose the layout.
#include <cstddef>
#include <cstdint>

#include "fuzz/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
#ifdef QUORVANE_FUZZ_LAYOUT
  return quorvane::fuzz::reader_target_for(QUORVANE_FUZZ_LAYOUT, data, size);
#else
  return quorvane::fuzz::reader_target(data, size);
#endif
}
