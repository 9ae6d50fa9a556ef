// The fast number text of the result files must be byte for byte the text
// fmt's "{}" gives, which the files have always been compared against, and
// a CSV formatted on several threads must equal the one formatted on one.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "cli/files.h"
#include "cli/number_format.h"

namespace quorvane::cli {
namespace {

template <typename T>
std::string fast_text(T value) {
  std::string text;
  append_number(text, value);
  return text;
}

template <typename T, typename Bits>
T from_bits(Bits bits) {
  T value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// How many of `values` get a text other than fmt's "{}"; the first few are
// reported.
template <typename T>
std::size_t differing_texts(const std::vector<T>& values) {
  std::size_t differing = 0;
  for (T v : values) {
    const std::string expected = fmt::format("{}", v);
    if (fast_text(v) != expected && ++differing <= 10)
      ADD_FAILURE() << expected << " became " << fast_text(v);
  }
  return differing;
}

TEST(NumberFormat, FloatTextMatchesTheGeneralFormatForEveryKindOfValue) {
  std::vector<float> values = {0.0f, -0.0f, 0.1f, 1700.0f, 1e-5f, 1e-4f, 9.9999e-5f, 1e15f, 1e16f,
                               123456789.0f, 16777217.0f, FLT_MIN, FLT_MAX, -FLT_MAX,
                               FLT_TRUE_MIN, -FLT_TRUE_MIN, 1.17549421e-38f,
                               std::numeric_limits<float>::infinity(),
                               -std::numeric_limits<float>::infinity(),
                               std::numeric_limits<float>::quiet_NaN(),
                               -std::numeric_limits<float>::quiet_NaN()};
  // Powers of ten and their neighbours, where the layout switches.
  for (int e = -45; e <= 38; ++e) {
    const float p = std::pow(10.0f, static_cast<float>(e));
    values.insert(values.end(), {p, -p, std::nextafter(p, 0.0f), std::nextafter(p, FLT_MAX)});
  }
  // Random bit patterns reach every exponent, subnormals and NaN payloads.
  std::mt19937 random(20261208);
  for (int i = 0; i < 400000; ++i) values.push_back(from_bits<float>(random()));
  // Values like the spectra's: a few significant digits over a few decades.
  std::uniform_real_distribution<float> decades(-6.0f, 18.0f);
  for (int i = 0; i < 100000; ++i) values.push_back(std::pow(10.0f, decades(random)));
  EXPECT_EQ(differing_texts(values), 0u);
}

TEST(NumberFormat, DoubleTextMatchesTheGeneralFormat) {
  std::vector<double> values = {0.0, -0.0, 0.1, 1e-5, 1e16, 1e15, 1e100, 1e-100, DBL_MIN, DBL_MAX,
                                DBL_TRUE_MIN, 1.0 / 3.0, 2451545.0, 1e300 * 1e300,
                                std::numeric_limits<double>::quiet_NaN()};
  std::mt19937_64 random(7);
  for (int i = 0; i < 200000; ++i) values.push_back(from_bits<double>(random()));
  std::uniform_real_distribution<double> years(-5000.0, 5000.0);
  for (int i = 0; i < 50000; ++i) values.push_back(years(random));
  EXPECT_EQ(differing_texts(values), 0u);
}

std::string pieces_text(const TextPieces& next) {
  std::string text;
  for (std::string piece; next(piece);) text += piece;
  return text;
}

TEST(NumberFormat, CsvIsTheSameOnAnyNumberOfThreads) {
  // Enough rows for several blocks, so that blocks end mid-file and the
  // last one is short.
  const std::size_t rows = 250001;
  std::vector<float> a(rows), b(rows);
  std::vector<double> t(rows);
  std::mt19937 random(3);
  std::normal_distribution<float> normal;
  for (std::size_t i = 0; i < rows; ++i) {
    a[i] = normal(random);
    b[i] = std::exp(normal(random) * 10.0f);
    t[i] = 1700.0 + 0.25 * static_cast<double>(i);
  }
  const std::vector<Column> columns = {{"time", {}, t}, {"a", a}, {"b", b}};
  std::string expected = "time,a,b\n";
  for (std::size_t i = 0; i < rows; ++i)
    expected += fmt::format("{},{},{}\n", t[i], a[i], b[i]);
  EXPECT_EQ(csv_text(columns), expected);
  for (int jobs : {2, 3, 8}) EXPECT_EQ(pieces_text(csv_pieces(columns, jobs)), expected) << jobs;

  const std::vector<Column> empty = {{"x", std::span<const float>()}};
  EXPECT_EQ(pieces_text(csv_pieces(empty, 4)), "x\n");
}

}  // namespace
}  // namespace quorvane::cli
