#include "spectral/numerics/work_arena.h"

#include <algorithm>
#include <cstdint>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define QUORVANE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORVANE_ASAN 1
#endif
#endif
#if defined(QUORVANE_ASAN)
#include <sanitizer/asan_interface.h>
#endif

namespace quorvane::spectral {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kMinBlock = std::size_t{4} << 20;

std::size_t round_up(std::size_t value, std::size_t unit) { return (value + unit - 1) / unit * unit; }

// Under the address sanitizer the arena keeps its blocks and its arithmetic,
// but everything not handed out is poisoned: the free rest of a block, the
// alignment gaps, a red zone after every piece (so that running off the end
// of one piece is caught before it reaches the next) and every piece handed
// back. Elsewhere these are no-ops and pieces lie back to back.
#if defined(QUORVANE_ASAN)
constexpr std::size_t kRedZone = 32;
void poison(const void* at, std::size_t bytes) { ASAN_POISON_MEMORY_REGION(at, bytes); }
void unpoison(const void* at, std::size_t bytes) { ASAN_UNPOISON_MEMORY_REGION(at, bytes); }
#else
constexpr std::size_t kRedZone = 0;
void poison(const void*, std::size_t) {}
void unpoison(const void*, std::size_t) {}
#endif

}  // namespace

WorkArena::~WorkArena() {
  for (const Block& block : blocks_) {
    // Memory mapped here later must not look poisoned.
    unpoison(block.base, block.size);
#if defined(__linux__)
    munmap(block.base, block.size);
#else
    ::operator delete(block.base, std::align_val_t{kHugePage});
#endif
  }
}

void* WorkArena::do_allocate(std::size_t bytes, std::size_t alignment) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (void* piece = reuse(bytes, alignment)) return piece;
  return carve(bytes, alignment);
}

void WorkArena::do_deallocate(void* piece, std::size_t bytes, std::size_t) {
  const std::lock_guard<std::mutex> lock(mutex_);
  // The piece's red zone goes back with it.
  poison(piece, bytes);
  char* begin = static_cast<char*>(piece);
  give_back(begin, begin + bytes + kRedZone);
}

void WorkArena::give_back(char* begin, char* end) {
  // Merge with the neighbours; a stretch that ends at the cursor rejoins the
  // unused rest of the current block.
  auto after = std::lower_bound(free_.begin(), free_.end(), begin,
                                [](const Range& range, char* at) { return range.begin < at; });
  if (after != free_.begin() && std::prev(after)->end == begin) {
    --after;
    begin = after->begin;
    after = free_.erase(after);
  }
  if (after != free_.end() && after->begin == end) {
    end = after->end;
    after = free_.erase(after);
  }
  if (end == cursor_) {
    left_ += static_cast<std::size_t>(end - begin);
    cursor_ = begin;
    return;
  }
  free_.insert(after, Range{begin, end});
}

void* WorkArena::reuse(std::size_t bytes, std::size_t alignment) {
  // The smallest stretch that holds the piece, so that large stretches stay
  // whole for large requests.
  auto best = free_.end();
  std::size_t best_size = 0;
  for (auto range = free_.begin(); range != free_.end(); ++range) {
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(range->begin);
    const std::size_t pad = (alignment - at % alignment) % alignment;
    const std::size_t size = static_cast<std::size_t>(range->end - range->begin);
    if (pad + bytes + kRedZone <= size && (best == free_.end() || size < best_size)) {
      best = range;
      best_size = size;
    }
  }
  if (best == free_.end()) return nullptr;
  const Range range = *best;
  free_.erase(best);
  const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(range.begin);
  char* piece = range.begin + (alignment - at % alignment) % alignment;
  char* rest = piece + bytes + kRedZone;
  if (rest < range.end) give_back(rest, range.end);
  unpoison(piece, bytes);
  return piece;
}

void* WorkArena::carve(std::size_t bytes, std::size_t alignment) {
  const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(cursor_);
  const std::size_t pad = cursor_ == nullptr ? 0 : (alignment - at % alignment) % alignment;
  if (cursor_ == nullptr || pad + bytes + kRedZone > left_) {
    // The unused rest of the current block stays available for smaller
    // pieces.
    if (cursor_ != nullptr && left_ > 0) {
      char* rest = cursor_;
      char* end = cursor_ + left_;
      cursor_ = nullptr;
      left_ = 0;
      give_back(rest, end);
    }
    const std::size_t usable =
        round_up(std::max(bytes + alignment + kRedZone, kMinBlock), kHugePage);
#if defined(__linux__)
    // Map one huge page more than needed so that the usable part can start
    // on a huge-page boundary.
    const std::size_t mapped = usable + kHugePage;
    void* base = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) throw std::bad_alloc();
    blocks_.push_back({base, mapped});
    poison(base, mapped);
    char* start = reinterpret_cast<char*>(round_up(reinterpret_cast<std::uintptr_t>(base), kHugePage));
#if defined(MADV_HUGEPAGE)
    madvise(start, usable, MADV_HUGEPAGE);
#endif
#else
    char* start = static_cast<char*>(::operator new(usable, std::align_val_t{kHugePage}));
    blocks_.push_back({start, usable});
    poison(start, usable);
#endif
    cursor_ = start;
    left_ = usable;
    return carve(bytes, alignment);
  }
  char* result = cursor_ + pad;
  char* gap = cursor_;
  unpoison(result, bytes);
  cursor_ = result + bytes + kRedZone;
  left_ -= pad + bytes + kRedZone;
  // The gap that aligned the piece joins the piece before it when that one
  // is handed back, so that neighbours handed back make one stretch.
  if (pad > 0) give_back(gap, result);
  return result;
}

}  // namespace quorvane::spectral
