// Memory for the large work arrays of one analysis run.
#pragma once

#include <cstddef>
#include <memory_resource>
#include <mutex>
#include <vector>

namespace quorvane::spectral {

// A memory resource that hands out pieces of a few large blocks and gives
// them all back when it is destroyed (handing back a single piece frees
// nothing). The blocks are mapped directly and, where the system offers it,
// backed by 2 MiB pages: on a virtual machine every first touch of a 4 KiB
// page is expensive, and one run touches several megabytes.
// Safe to allocate from several threads. Under the address sanitizer the
// same blocks and arithmetic are used, with everything outside the pieces in
// use poisoned, so overruns and uses of a piece handed back are reported.
class WorkArena final : public std::pmr::memory_resource {
 public:
  WorkArena() = default;
  WorkArena(const WorkArena&) = delete;
  WorkArena& operator=(const WorkArena&) = delete;
  ~WorkArena() override;

 private:
  struct Block {
    void* base;
    std::size_t size;
  };
  void* do_allocate(std::size_t bytes, std::size_t alignment) override;
  void* carve(std::size_t bytes, std::size_t alignment);
  void do_deallocate(void* piece, std::size_t bytes, std::size_t alignment) override;
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
    return this == &other;
  }

  std::mutex mutex_;
  std::vector<Block> blocks_;
  char* cursor_ = nullptr;
  std::size_t left_ = 0;
};

}  // namespace quorvane::spectral
