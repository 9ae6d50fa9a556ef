#include "spectral/work_arena.h"

#include <algorithm>
#include <cstdint>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace quorvane::spectral {

#if defined(__SANITIZE_ADDRESS__)

// Under the address sanitizer every piece is a separate allocation, so that
// reads and writes past its end are caught (a block records the alignment
// in place of the size).
WorkArena::~WorkArena() {
  for (const Block& block : blocks_) ::operator delete(block.base, std::align_val_t{block.size});
}

void* WorkArena::do_allocate(std::size_t bytes, std::size_t alignment) {
  const std::lock_guard<std::mutex> lock(mutex_);
  void* piece = ::operator new(bytes, std::align_val_t{alignment});
  blocks_.push_back({piece, alignment});
  return piece;
}

#else

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kMinBlock = std::size_t{4} << 20;

std::size_t round_up(std::size_t value, std::size_t unit) { return (value + unit - 1) / unit * unit; }

}  // namespace

WorkArena::~WorkArena() {
  for (const Block& block : blocks_) {
#if defined(__linux__)
    munmap(block.base, block.size);
#else
    ::operator delete(block.base, std::align_val_t{kHugePage});
#endif
  }
}

void* WorkArena::do_allocate(std::size_t bytes, std::size_t alignment) {
  const std::lock_guard<std::mutex> lock(mutex_);
  return carve(bytes, alignment);
}

void* WorkArena::carve(std::size_t bytes, std::size_t alignment) {
  const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(cursor_);
  const std::size_t pad = cursor_ == nullptr ? 0 : (alignment - at % alignment) % alignment;
  if (cursor_ == nullptr || pad + bytes > left_) {
    const std::size_t usable = round_up(std::max(bytes + alignment, kMinBlock), kHugePage);
#if defined(__linux__)
    // Map one huge page more than needed so that the usable part can start
    // on a huge-page boundary.
    const std::size_t mapped = usable + kHugePage;
    void* base = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) throw std::bad_alloc();
    blocks_.push_back({base, mapped});
    char* start = reinterpret_cast<char*>(round_up(reinterpret_cast<std::uintptr_t>(base), kHugePage));
#if defined(MADV_HUGEPAGE)
    madvise(start, usable, MADV_HUGEPAGE);
#endif
#else
    char* start = static_cast<char*>(::operator new(usable, std::align_val_t{kHugePage}));
    blocks_.push_back({start, usable});
#endif
    cursor_ = start;
    left_ = usable;
    return carve(bytes, alignment);
  }
  char* result = cursor_ + pad;
  cursor_ = result + bytes;
  left_ -= pad + bytes;
  return result;
}

#endif

}  // namespace quorvane::spectral
