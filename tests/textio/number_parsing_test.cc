// The readers' numbers: every text of the accepted shape must read as the C
// library reads it (strtod/strtof, which round correctly), bit for bit, and
// every other text must be refused.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "textio/free_format.h"
#include "textio/line_reader.h"

namespace quorvane::textio {
namespace {

// The accepted shape, written independently of the reader's scanner.
const std::regex kRealShape(R"([+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eEdD][+-]?[0-9]+)?)");

std::string with_e_exponent(std::string text) {
  for (char& c : text)
    if (c == 'd' || c == 'D') c = 'E';
  return text;
}

template <typename T>
bool same_bits(T a, T b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// Texts as files hold them: plain decimals, Fortran D exponents, signs,
// leading and trailing points, long digit strings, values near and beyond
// the limits of single and double precision, and malformed neighbours.
std::vector<std::string> random_texts(std::size_t count) {
  std::mt19937 random(1208);
  const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  const auto digits = [&](int n) {
    std::string d;
    for (int i = 0; i < n; ++i) d += static_cast<char>('0' + pick(10));
    return d;
  };
  const char* const signs[] = {"", "", "-", "+"};
  const char* const letters[] = {"e", "E", "d", "D"};
  const char* const junk[] = {"", "", "", "", "", "x", ".", "+", "e", "--", " ", "1e", "*"};
  std::vector<std::string> texts;
  for (std::size_t i = 0; i < count; ++i) {
    std::string t = signs[pick(4)];
    switch (pick(4)) {
      case 0: t += digits(1 + pick(6)); break;
      case 1: t += digits(pick(4)) + "." + digits(pick(9)); break;
      case 2: t += digits(1 + pick(25)) + "." + digits(pick(25)); break;
      default: t += digits(1) + "." + digits(pick(12)); break;
    }
    if (pick(3) == 0) t += std::string(letters[pick(4)]) + signs[pick(4)] + std::to_string(pick(330));
    const std::string extra = junk[pick(13)];
    if (pick(2) == 0) t += extra; else t.insert(0, extra);
    texts.push_back(t);
  }
  for (const char* t : {"1.5D3", "1.5d+03", "+1", "-0", "+.5", "5.", ".", "", "+", "-e5", "inf",
                        "nan", "NaN", "Infinity", "1e39", "1e-46", "1.4e-45", "3.4028235e38",
                        "3.4028236e38", "1e309", "2.4703282292062328e-324", "0x10", "1,5"})
    texts.emplace_back(t);
  return texts;
}

TEST(NumberParsing, RealsReadAsTheCLibraryReadsThemBitForBit) {
  std::size_t accepted = 0;
  for (const std::string& text : random_texts(300000)) {
    const bool shaped = std::regex_match(text, kRealShape);
    const std::string c_text = with_e_exponent(text);
    const double wide_expected = std::strtod(c_text.c_str(), nullptr);
    const float narrow_expected = std::strtof(c_text.c_str(), nullptr);
    double wide = 0.0;
    float narrow = 0.0f;
    const bool wide_ok = parse_real(text, wide);
    const bool narrow_ok = parse_real(text, narrow);
    ASSERT_EQ(wide_ok, shaped && std::isfinite(wide_expected)) << text;
    ASSERT_EQ(narrow_ok, shaped && std::isfinite(narrow_expected)) << text;
    if (wide_ok) {
      ASSERT_TRUE(same_bits(wide, wide_expected)) << text;
    }
    if (narrow_ok) {
      ASSERT_TRUE(same_bits(narrow, narrow_expected)) << text;
    }
    double time = 0.0;
    ASSERT_EQ(parse_time(text, time), narrow_ok) << text;
    if (narrow_ok) {
      // A time keeps the single-precision reading and stays within one
      // unit of the double one.
      EXPECT_TRUE(same_bits(static_cast<float>(time), narrow_expected)) << text;
      EXPECT_LE(std::fabs(time - wide_expected),
                std::fabs(std::nextafter(wide_expected, double{narrow_expected}) - wide_expected))
          << text;
    }
    accepted += narrow_ok ? 1 : 0;
    // The first number of a line, read in the pass that finds it, is what
    // a free-format read of that line gives.
    const std::string line = " \t" + text + ", 7";
    LineReader source = LineReader::from_lines({line});
    float expected = 0.0f, first = 0.0f;
    const ReadStatus status = FreeRead(source).real(expected);
    ASSERT_EQ(first_free_real(line, first), status) << line;
    if (status == ReadStatus::Ok) {
      ASSERT_TRUE(same_bits(first, expected)) << line;
    }
  }
  // The table must exercise both sides.
  EXPECT_GT(accepted, 50000u);
}

}  // namespace
}  // namespace quorvane::textio
