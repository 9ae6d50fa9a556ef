#include "spectral/work_arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory_resource>
#include <numeric>
#include <vector>

namespace quorvane::spectral {
namespace {

TEST(WorkArena, HandsOutAlignedDisjointPiecesAcrossBlocks) {
  WorkArena arena;
  std::vector<std::pmr::vector<double>> pieces;
  // Sizes from a few bytes to more than one block, so that pieces spill
  // into new blocks.
  for (std::size_t n : {1u, 3u, 1000u, 300000u, 700000u, 5u, 1200000u}) {
    pieces.emplace_back(n, &arena);
    std::iota(pieces.back().begin(), pieces.back().end(), static_cast<double>(n));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(pieces.back().data()) % alignof(double), 0u);
  }
  // Every piece still holds what was written: none overlaps another.
  for (const std::pmr::vector<double>& piece : pieces) {
    for (std::size_t i = 0; i < piece.size(); ++i) {
      ASSERT_EQ(piece[i], static_cast<double>(piece.size() + i));
    }
  }
  void* wide = arena.allocate(64, 64);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(wide) % 64, 0u);
}

}  // namespace
}  // namespace quorvane::spectral
