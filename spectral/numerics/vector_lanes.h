// Vectors of L lanes of T (GCC's vector extension), for the loops that run
// the same operations on two, four or eight values at a time, in the same
// order whatever the width, so that results do not depend on the processor.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvane::spectral {

// (By explicit specialisation: the vector_size attribute on an alias that
// depends on a template parameter would be dropped.)
template <typename T, std::size_t L>
struct VectorOf;
template <>
struct VectorOf<double, 2> {
  using Type = double __attribute__((vector_size(16)));
};
template <>
struct VectorOf<double, 4> {
  using Type = double __attribute__((vector_size(32)));
};
template <>
struct VectorOf<std::int64_t, 2> {
  using Type = std::int64_t __attribute__((vector_size(16)));
};
template <>
struct VectorOf<std::int64_t, 4> {
  using Type = std::int64_t __attribute__((vector_size(32)));
};
template <>
struct VectorOf<float, 4> {
  using Type = float __attribute__((vector_size(16)));
};
template <>
struct VectorOf<float, 8> {
  using Type = float __attribute__((vector_size(32)));
};
template <>
struct VectorOf<std::int32_t, 4> {
  using Type = std::int32_t __attribute__((vector_size(16)));
};
template <>
struct VectorOf<std::int32_t, 8> {
  using Type = std::int32_t __attribute__((vector_size(32)));
};

template <typename T, std::size_t L>
using Vector = typename VectorOf<T, L>::Type;

}  // namespace quorvane::spectral
