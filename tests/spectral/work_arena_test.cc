#include "spectral/numerics/work_arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory_resource>
#include <numeric>
#include <vector>

namespace quorvane::spectral {
namespace {

bool aligned(const void* p, std::size_t alignment) {
  return reinterpret_cast<std::uintptr_t>(p) % alignment == 0;
}

TEST(WorkArena, HandsOutAlignedDisjointPiecesAcrossBlocks) {
  WorkArena arena;
  std::vector<std::pmr::vector<double>> pieces;
  // From a few bytes to more than one block, so that pieces spill into new blocks.
  for (std::size_t n : {1u, 3u, 1000u, 300000u, 700000u, 5u, 1200000u}) {
    pieces.emplace_back(n, &arena);
    std::iota(pieces.back().begin(), pieces.back().end(), static_cast<double>(n));
  }
  for (const std::pmr::vector<double>& piece : pieces) {  // each still holds its values: none overlaps
    EXPECT_TRUE(aligned(piece.data(), alignof(double)));
    for (std::size_t i = 0; i < piece.size(); ++i) ASSERT_EQ(piece[i], static_cast<double>(piece.size() + i));
  }
  static_cast<void>(arena.allocate(3, 1));  // leaves the next free byte unaligned
  EXPECT_TRUE(aligned(arena.allocate(64, 64), 64));
}

TEST(WorkArena, HandsPiecesHandedBackOutAgainWholeOrJoined) {
  WorkArena arena;
  void* first = arena.allocate(1 << 20, 64);
  arena.deallocate(first, 1 << 20, 64);
  void* smaller = arena.allocate(1 << 19, 64);
  EXPECT_EQ(smaller, first);  // the stretch handed back, not fresh memory
  void* second = arena.allocate(1 << 19, 64);
  void* held = arena.allocate(100, 8);  // keeps the two from rejoining the unused rest
  arena.deallocate(smaller, 1 << 19, 64);
  arena.deallocate(second, 1 << 19, 64);
  // Neighbours handed back join into one stretch that holds the whole again.
  EXPECT_EQ(arena.allocate((1 << 20) - 4096, 64), first);
  EXPECT_NE(held, nullptr);
}

// What runs keep in the arena: one object of each type, the same one on
// every later call, made empty on the first.
TEST(WorkArena, KeepsOneObjectOfEachTypeForLaterRuns) {
  WorkArena arena;
  std::vector<int>& numbers = arena.kept<std::vector<int>>();
  EXPECT_TRUE(numbers.empty());
  numbers.push_back(7);
  EXPECT_EQ(&arena.kept<std::vector<int>>(), &numbers);
  EXPECT_EQ(arena.kept<std::vector<int>>().back(), 7);
  EXPECT_TRUE(arena.kept<std::vector<double>>().empty());  // another type, its own object
  EXPECT_TRUE(WorkArena().kept<std::vector<int>>().empty());  // another arena, its own too
}

#if defined(__SANITIZE_ADDRESS__)
// The arena's own pieces are checked like any other allocation: a write just
// past the end of a piece, or into a piece handed back, is reported.
TEST(WorkArenaDeathTest, UnderTheAddressSanitizerOverrunsAndStaleUsesAreReported) {
  const auto write_at = [](std::size_t offset, bool hand_back) {
    WorkArena arena;
    static_cast<void>(arena.allocate(40, 8));
    // A whole number of alignment units, so that no alignment gap follows.
    auto* piece = static_cast<volatile char*>(arena.allocate(96, 8));
    static_cast<void>(arena.allocate(96, 8));  // a neighbour right after it
    if (hand_back) arena.deallocate(const_cast<char*>(piece), 96, 8);
    piece[offset] = 1;
  };
  write_at(95, false);  // the last byte of the piece is its own
  EXPECT_DEATH(write_at(96, false), "AddressSanitizer");
  EXPECT_DEATH(write_at(0, true), "AddressSanitizer");
}
#endif

}  // namespace
}  // namespace quorvane::spectral
