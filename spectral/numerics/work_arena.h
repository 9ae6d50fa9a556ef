// Memory for the large work arrays of one analysis run.
#pragma once

#include <cstddef>
#include <memory>
#include <memory_resource>
#include <mutex>
#include <typeindex>
#include <utility>
#include <vector>

namespace quorvane::spectral {

// A memory resource that hands out pieces of a few large blocks and gives
// the blocks back when it is destroyed. A piece handed back is handed out
// again to a later request it can hold: a run's stages follow one another,
// and memory a finished stage used is already mapped and touched, while
// fresh memory costs a page fault and the clearing of every page on its
// first touch (on a virtual machine about as much as a transform of the same
// size). The blocks are mapped directly and, where the system offers it,
// backed by 2 MiB pages.
// Safe to allocate from several threads. Under the address sanitizer the
// same blocks and arithmetic are used, with everything outside the pieces in
// use poisoned, so overruns and uses of a piece handed back are reported.
class WorkArena final : public std::pmr::memory_resource {
 public:
  WorkArena() = default;
  WorkArena(const WorkArena&) = delete;
  WorkArena& operator=(const WorkArena&) = delete;
  ~WorkArena() override;

  // What a stage keeps from one run in this memory to the next (one object
  // of each type, made on first use): the memory of a thread or a session
  // serves its runs one after another, and a stage can keep there what does
  // not change from run to run, such as tables of a band of the same
  // frequencies. Only one run at a time may use what it finds.
  template <typename T>
  T& kept() {
    const std::lock_guard<std::mutex> held(mutex_);
    for (const auto& [type, object] : kept_)
      if (type == std::type_index(typeid(T))) return *static_cast<T*>(object.get());
    kept_.emplace_back(std::type_index(typeid(T)), std::make_shared<T>());
    return *static_cast<T*>(kept_.back().second.get());
  }

 private:
  struct Block {
    void* base;
    std::size_t size;
  };
  // A stretch of a block handed back and not yet handed out again.
  struct Range {
    char* begin;
    char* end;
  };
  void* do_allocate(std::size_t bytes, std::size_t alignment) override;
  void* carve(std::size_t bytes, std::size_t alignment);
  void* reuse(std::size_t bytes, std::size_t alignment);
  void give_back(char* begin, char* end);
  void do_deallocate(void* piece, std::size_t bytes, std::size_t alignment) override;
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
    return this == &other;
  }

  std::mutex mutex_;
  std::vector<Block> blocks_;
  std::vector<Range> free_;  // by address, none adjacent to another or to the cursor
  char* cursor_ = nullptr;
  std::size_t left_ = 0;
  std::vector<std::pair<std::type_index, std::shared_ptr<void>>> kept_;
};

}  // namespace quorvane::spectral
