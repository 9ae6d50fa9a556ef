// What the record writer writes, the record reader reads back as the same
// value, for every numeric descriptor over random widths, decimals and values.
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "textio/layout.h"

namespace quorvane::textio {
namespace {

std::vector<Value> read_back(const std::string& layout, const std::string& line, bool& ok) {
  std::vector<Value> values;
  ok = read_line_fields(RecordLayout::fixed(layout), line, values) == ReadStatus::Ok &&
       values.size() == 1;
  return values;
}

double as_double(const Value& value) {
  if (const auto* i = std::get_if<long long>(&value)) return static_cast<double>(*i);
  return std::get<double>(value);
}

// A value of random sign, digits and magnitude, sometimes a whole number or
// a round one, which sit on the boundaries between the forms.
double random_value(std::mt19937_64& random) {
  std::uniform_int_distribution<int> kind(0, 3);
  std::uniform_int_distribution<int> exponent(-150, 150);
  std::uniform_real_distribution<double> mantissa(1.0, 10.0);
  double sign = (random() & 1) ? -1.0 : 1.0;
  switch (kind(random)) {
    case 0: return sign * static_cast<double>(random() % 100000);
    case 1: return sign * std::pow(10.0, exponent(random) / 10);
    case 2: return sign * mantissa(random) * std::pow(10.0, exponent(random) / 20);
    default: return sign * mantissa(random) * std::pow(10.0, exponent(random));
  }
}

// Writing a value, reading it back and writing that again gives the same
// text: the reader takes what the writer meant. Fields of asterisks (the
// value does not fit) are not numbers and are left out.
TEST(LayoutRoundTrip, EveryDescriptorReadsBackWhatItWrote) {
  std::mt19937_64 random(10);
  const char kinds[] = {'i', 'f', 'e', 'g'};
  int checked = 0;
  for (int trial = 0; trial < 20000; ++trial) {
    const char kind = kinds[trial % 4];
    const int width = 1 + static_cast<int>(random() % 24);
    const int decimals = kind == 'i' ? 0 : static_cast<int>(random() % static_cast<unsigned>(width));
    if ((kind == 'e' || kind == 'g') && decimals < 1) continue;
    const std::string layout = "(" + std::string(1, kind) + std::to_string(width) +
                               (kind == 'i' ? "" : "." + std::to_string(decimals)) + ")";
    const double real = random_value(random);
    const Value value = kind == 'i' ? Value(static_cast<long long>(real)) : Value(real);

    const std::string first = write_record(RecordLayout::fixed(layout), {value}).text;
    ASSERT_EQ(first.size(), static_cast<std::size_t>(width)) << layout;
    if (first.find('*') != std::string::npos) continue;
    bool ok = false;
    std::vector<Value> back = read_back(layout, first, ok);
    ASSERT_TRUE(ok) << layout << " wrote '" << first << "' for " << real;
    const std::string second = write_record(RecordLayout::fixed(layout), back).text;
    ASSERT_EQ(second, first) << layout << " read '" << first << "' as " << as_double(back[0]);
    // And the value read is the value written, to the precision written.
    const double got = as_double(back[0]);
    if (kind == 'f') {
      EXPECT_LE(std::fabs(got - real), std::pow(10.0, -decimals)) << layout << " " << first;
    } else if (kind != 'i') {
      EXPECT_LE(std::fabs(got - real), std::fabs(real) * std::pow(10.0, 1 - decimals))
          << layout << " " << first;
    }
    ++checked;
  }
  EXPECT_GT(checked, 5000);
}

}  // namespace
}  // namespace quorvane::textio
