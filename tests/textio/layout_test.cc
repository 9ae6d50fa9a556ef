#include "textio/layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "textio/line_reader.h"

namespace quorvane::textio {
namespace {

std::string written(std::string_view layout, const std::vector<Value>& values) {
  return write_record(RecordLayout::fixed(layout), values).text;
}

// Every descriptor, and the forms numbers take at the edges of their fields:
// asterisks where they do not fit, the leading zero of the exponent form and
// the general form's switch between fixed and exponent.
TEST(LayoutWriter, WritesEveryDescriptorAndEveryNumberForm) {
  const std::string s = "";
  const struct {
    const char* layout;
    std::vector<Value> values;
    std::string text;
  } cases[] = {
      {"(1x,'WARNING: ',i3,' is not a valid selection')", {11LL},
       " WARNING:  11 is not a valid selection"},
      {"(f7.4,1x,e14.2)", {0.0869, 123.4}, " 0.0869       0.12E+03"},
      {"(a1,i2,a2,f9.4,i9,a1,i6)", {s + "   (", 3LL, s + ") ", 0.1006, 99LL, s + "%", 0LL},
       "  3)    0.1006       99%     0"},
      {"(4hab  ,a)", {s + "xyz"}, "ab  xyz"},
      {"(a5,'|')", {s + "ab"}, "   ab|"},
      {"(i3,t2,'x')", {123LL}, "1x3"},
      {"(e14.2)", {-0.000999}, "     -0.10E-02"},
      {"(e14.2)", {0.0}, "      0.00E+00"},
      {"(e7.2)", {123.4}, ".12E+03"},
      {"(e6.2)", {123.4}, "******"},
      {"(e80.70)", {1.0}, "    0.1" + std::string(69, '0') + "E+01"},
      {"(i3)", {1234LL}, "***"},
      {"(i2)", {s + "text"}, "**"},
      {"(f7.4)", {123.4}, "*******"},
      {"(f6.4)", {-0.5}, "-.5000"},
      {"(f7.4)", {-0.00001}, " 0.0000"},
      {"(g12.4)", {1.5}, "   1.500    "},
      {"(g12.4)", {12346.0}, "  0.1235E+05"},
      {"(g12.4)", {0.01}, "  0.1000E-01"},
      {"(g90.80)", {2.0}, "     2." + std::string(79, '0') + "    "},
      // A general form with no decimals left keeps its point, and an
      // exponent of three digits takes the place of its letter; both read
      // back as written (below).
      {"(g7.3)", {190.0}, "190.   "},
      {"(g9.3)", {-99.96}, " -100.   "},
      {"(e12.3)", {1.0e150}, "   0.100+151"},
      {"(e12.3)", {1.0e99}, "   0.100+100"},
      {"(e14.2)", {1.0e-120}, "      0.10-119"},
      {"(1x,5(1x,i3,')',1x,a))", {1LL, s + "aa", 2LL, s + "bb"}, "    1) aa   2) bb"},
      // More values than items: a new line from the last top-level group.
      {"('x',2(i2))", {1LL, 2LL, 3LL, 4LL, 5LL}, "x 1 2\n 3 4\n 5"},
      {"(3i2)", {1LL, 2LL, 3LL, 4LL}, " 1 2 3\n 4"},
  };
  for (const auto& c : cases) EXPECT_EQ(written(c.layout, c.values), c.text) << c.layout;
}

TEST(LayoutWriter, SlashesEndLinesAndADollarKeepsTheLineOpen) {
  Record banner = write_record(RecordLayout::fixed("(/1x,'Program'/)"), {});
  EXPECT_EQ(banner.text, "\n Program\n");
  EXPECT_TRUE(banner.advance);
  Record prompt = write_record(RecordLayout::fixed("(1x,'Select [1-',i3,'] : ',$)"), {7LL});
  EXPECT_EQ(prompt.text, " Select [1-  7] : ");
  EXPECT_FALSE(prompt.advance);
}

// Malformed layouts are refused naming where; so is a layout that would
// restart at a group without values (reading or writing past its items, or
// never ending), and one whose line would be longer than any file's.
TEST(LayoutParser, RefusesMalformedLayoutsWithTheirPosition) {
  constexpr std::size_t any = std::string::npos;
  const struct {
    const char* layout;
    std::size_t position;
    std::string message;  // empty: any
  } cases[] = {
      {"1x,i4", 0, ""},
      {"(1x,i4", any, "missing ')'"},
      {"(1x,q4)", 4, ""},
      {"(1x,f7)", any, "a real field needs its decimals, as in f7.2"},
      {"(i)", any, "a field width is needed"},
      {"(1x,'open)", any, ""},
      {"(1x,,i4)", any, ""},
      {"(99999(99999i1))", any, ""},
      {"(i4) x", any, ""},
      {"(i4())", 3, "an empty group"},
      {"(i4,f7.2,())", 9, "an empty group"},
      {"(i4,2('x',1x))", 4, "the layout repeats from a group without data items"},
      {"(i4,9999f999999.1)", 4, "a line of the layout would be longer than 100000 characters"},
      {"(i4,50000x,i4,50000x)", 14, "a line of the layout would be longer than 100000 characters"},
      {"(t100002,i1)", 1, "a line of the layout would be longer than 100000 characters"},
  };
  for (const auto& c : cases) {
    auto parsed = RecordLayout::parse(c.layout);
    ASSERT_TRUE(std::holds_alternative<LayoutError>(parsed)) << c.layout;
    const LayoutError& error = std::get<LayoutError>(parsed);
    EXPECT_TRUE(c.position == any || error.position == c.position)
        << c.layout << " at " << error.position;
    EXPECT_TRUE(c.message.empty() || error.message == c.message)
        << c.layout << ": " << error.message;
  }
  // A group of texts is fine where no restart can reach it, and so is a
  // layout without values; a line of exactly the limit is allowed.
  for (const char* fine : {"(2('x'),i4)", "(1x,3('-'))", "(/1x,'Program'/)", "(99996x,i4)",
                           " ( 1X , I4 , 12F7.2 ) "})
    EXPECT_TRUE(std::holds_alternative<RecordLayout>(RecordLayout::parse(fine))) << fine;
}

// Fields are read by column; fields past the end of a line read as blanks
// without being built, so a wide field costs no more than the line it reads.
TEST(LayoutReader, ReadsFieldsByColumnAndPastTheEndOfTheLineAsBlanks) {
  std::vector<Value> values;
  ASSERT_EQ(read_line_fields(RecordLayout::fixed("(a8,i4,10i6)"), "HBM01A  1940   176", values),
            ReadStatus::Ok);
  ASSERT_EQ(values.size(), 12u);
  EXPECT_EQ(std::get<std::string>(values[0]), "HBM01A  ");
  EXPECT_EQ(std::get<long long>(values[2]), 176);
  EXPECT_EQ(std::get<long long>(values[3]), 0);
  EXPECT_EQ(read_line_fields(RecordLayout::fixed("(a8,i4)"), "title of the file", values),
            ReadStatus::Error);

  ASSERT_EQ(read_line_fields(RecordLayout::fixed("(i4,5f9999.1,a6)"), "1901 1.5", values),
            ReadStatus::Ok);
  ASSERT_EQ(values.size(), 7u);
  EXPECT_DOUBLE_EQ(std::get<double>(values[1]), 1.5);
  EXPECT_DOUBLE_EQ(std::get<double>(values[5]), 0.0);
  EXPECT_EQ(std::get<std::string>(values[6]), "      ");
}

// Numbers in fields: implied decimals unless a point is written, blanks
// ignored, one sign at most, and an exponent letter or sign only with
// digits after it.
TEST(LayoutReader, NumbersInFields) {
  const struct {
    const char* layout;
    const char* line;
    bool reads;
    double value;
  } cases[] = {
      {"(i5)", " +-15", false, 0},     {"(i5)", "  +15", true, 15},
      {"(f7.2)", "   +-15", false, 0},
      {"(f7.2)", "    15e", false, 0}, {"(f7.2)", "    15d", false, 0},
      {"(f7.2)", "    02E", false, 0}, {"(f7.2)", "   1.5e", false, 0},
      {"(f7.2)", "   15e+", false, 0}, {"(f7.2)", "   15e1", true, 1.5},
      {"(f7.2)", "   15-1", true, 0.015}, {"(f7.2)", "  1.5d2", true, 150},
      {"(f7.2)", "  1.5.0", false, 0}, {"(f7.2)", "      .", false, 0},
      {"(f7.2)", "   -.50", true, -0.5}, {"(f7.2)", "       ", true, 0},
      {"(f7.2)", "  1.5  ", true, 1.5}, {"(f7.2)", "    150", true, 1.5},
      {"(f5.1)", "  -12", true, -1.2}, {"(i3)", "", true, 0},
      {"(g9.3)", " -100.   ", true, -100}, {"(e12.3)", "   0.100+151", true, 1e150},
      {"(e14.2)", "      0.10-119", true, 1e-120},
      {"(i3)", " x ", false, 0},
  };
  for (const auto& c : cases) {
    std::vector<Value> values;
    ReadStatus status = read_line_fields(RecordLayout::fixed(c.layout), c.line, values);
    EXPECT_EQ(status == ReadStatus::Ok, c.reads) << c.layout << " '" << c.line << "'";
    if (status != ReadStatus::Ok || !c.reads) continue;
    if (const auto* i = std::get_if<long long>(&values[0])) {
      EXPECT_EQ(*i, static_cast<long long>(c.value)) << c.line;
    } else {
      EXPECT_DOUBLE_EQ(std::get<double>(values[0]), c.value) << c.line;
    }
  }
}

TEST(LayoutReader, ReadsValuesAcrossLinesByReversion) {
  auto source = LineReader::from_lines({" 1901  1.00  2.00", " 1902  3.00  4.00", "end"});
  std::vector<Value> values;
  ASSERT_EQ(read_record(RecordLayout::fixed("(1x,i4,2f6.2)"), source, 6, values), ReadStatus::Ok);
  EXPECT_EQ(std::get<long long>(values[3]), 1902);
  EXPECT_DOUBLE_EQ(std::get<double>(values[5]), 4.0);
  EXPECT_EQ(read_record(RecordLayout::fixed("(1x,i4,2f6.2)"), source, 3, values),
            ReadStatus::Error);
  EXPECT_EQ(read_record(RecordLayout::fixed("(1x,i4)"), source, 1, values), ReadStatus::End);
}

TEST(LayoutReader, FieldPlacesFollowTheLayoutAcrossLines) {
  auto places = field_places(RecordLayout::fixed("(1x,i4,2f7.2/t3,i2)"), 6);
  ASSERT_EQ(places.size(), 6u);
  const std::size_t expected[][2] = {{0, 1}, {0, 5}, {0, 12}, {1, 2}, {2, 1}, {2, 5}};
  for (std::size_t k = 0; k < places.size(); ++k) {
    EXPECT_EQ(places[k].line, expected[k][0]) << k;
    EXPECT_EQ(places[k].column, expected[k][1]) << k;
  }
  EXPECT_TRUE(field_places(RecordLayout::fixed("('text')"), 3).empty());
}

// What the record writer writes, the record reader reads back as the same
// value, for every numeric descriptor over random widths, decimals and values.
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
    std::string layout = std::string("(").append(1, kind).append(std::to_string(width));
    if (kind != 'i') layout.append(".").append(std::to_string(decimals));
    layout.append(")");
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

// The parser runs while the program compiles, so the program's own layouts
// are checked before it can run; the same parser refuses the same layouts.
#if QUORVANE_LAYOUTS_CHECKED_WHEN_COMPILED
constexpr bool well_formed(std::string_view text) {
  std::vector<LayoutItem> items;
  std::size_t reversion = 0;
  detail::LayoutParser parser(text);
  return parser.run(items, reversion);
}
static_assert(well_formed("(1x,'Select a series to analyse [1-',i3,'] : ',$)"));
static_assert(!well_formed("(i4())"));
static_assert(!well_formed("(i4,2('x'))"));
#endif

}  // namespace
}  // namespace quorvane::textio
