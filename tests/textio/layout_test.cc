#include "textio/layout.h"

#include <gtest/gtest.h>

#include "textio/line_reader.h"

namespace quorvane::textio {
namespace {

std::string written(std::string_view layout, const std::vector<Value>& values) {
  return write_record(RecordLayout::fixed(layout), values).text;
}

TEST(LayoutWriter, WritesEveryDescriptor) {
  EXPECT_EQ(written("(1x,'WARNING: ',i3,' is not a valid selection')", {11LL}),
            " WARNING:  11 is not a valid selection");
  EXPECT_EQ(written("(6x,'Resolution = ',i6)", {2LL}), "      Resolution =      2");
  EXPECT_EQ(written("(f7.4,1x,e14.2)", {0.0869, 123.4}), " 0.0869       0.12E+03");
  EXPECT_EQ(written("(a1,i2,a2,f9.4,i9,a1,i6)", {std::string("   ("), 3LL, std::string(") "),
                                                 0.1006, 99LL, std::string("%"), 0LL}),
            "  3)    0.1006       99%     0");
  EXPECT_EQ(written("(4hab  ,a)", {std::string("xyz")}), "ab  xyz");
  EXPECT_EQ(written("(a5,'|')", {std::string("ab")}), "   ab|");
  EXPECT_EQ(written("(i3,t2,'x')", {123LL}), "1x3");
}

TEST(LayoutWriter, ExponentFormHasALeadingZeroMantissa) {
  EXPECT_EQ(format_exponent(123.4, 14, 2), "      0.12E+03");
  EXPECT_EQ(format_exponent(-0.000999, 14, 2), "     -0.10E-02");
  EXPECT_EQ(format_exponent(0.0, 14, 2), "      0.00E+00");
  EXPECT_EQ(format_exponent(1.0e-120, 14, 2), "      0.10-119");
  EXPECT_EQ(format_exponent(4.56e7, 15, 8), " 0.45600000E+08");
  EXPECT_EQ(format_exponent(123.4, 7, 2), ".12E+03");
  EXPECT_EQ(format_exponent(123.4, 6, 2), "******");
}

TEST(LayoutWriter, NumbersThatDoNotFitBecomeAsterisks) {
  EXPECT_EQ(format_integer(1234, 3), "***");
  EXPECT_EQ(format_fixed(123.4, 7, 4), "*******");
  EXPECT_EQ(format_fixed(-0.5, 6, 4), "-.5000");
  EXPECT_EQ(format_fixed(-0.00001, 7, 4), " 0.0000");
  EXPECT_EQ(format_fixed(9.15, 8, 4), "  9.1500");
  EXPECT_EQ(written("(i2)", {std::string("text")}), "**");
}

TEST(LayoutWriter, GeneralFormSwitchesBetweenFixedAndExponent) {
  EXPECT_EQ(format_general(1.5, 12, 4), "   1.500    ");
  EXPECT_EQ(format_general(12346.0, 12, 4), "  0.1235E+05");
  EXPECT_EQ(format_general(0.01, 12, 4), "  0.1000E-01");
}

TEST(LayoutWriter, SlashesDollarAndRepeats) {
  Record banner = write_record(RecordLayout::fixed("(/1x,'Program'/)"), {});
  EXPECT_EQ(banner.text, "\n Program\n");
  EXPECT_TRUE(banner.advance);
  Record prompt = write_record(RecordLayout::fixed("(1x,'Select [1-',i3,'] : ',$)"), {7LL});
  EXPECT_EQ(prompt.text, " Select [1-  7] : ");
  EXPECT_FALSE(prompt.advance);
  EXPECT_EQ(written("(1x,5(1x,i3,')',1x,a))",
                    {1LL, std::string("aa"), 2LL, std::string("bb")}),
            "    1) aa   2) bb");
  // More values than items: a new line from the last top-level group.
  EXPECT_EQ(written("('x',2(i2))", {1LL, 2LL, 3LL, 4LL, 5LL}), "x 1 2\n 3 4\n 5");
  EXPECT_EQ(written("(3i2)", {1LL, 2LL, 3LL, 4LL}), " 1 2 3\n 4");
}

TEST(LayoutParser, ReportsMalformedLayoutsWithTheirPosition) {
  auto error_of = [](std::string_view text) {
    auto parsed = RecordLayout::parse(text);
    EXPECT_TRUE(std::holds_alternative<LayoutError>(parsed)) << text;
    return std::holds_alternative<LayoutError>(parsed) ? std::get<LayoutError>(parsed)
                                                       : LayoutError{};
  };
  EXPECT_EQ(error_of("1x,i4").position, 0u);
  EXPECT_EQ(error_of("(1x,i4").message, "missing ')'");
  EXPECT_EQ(error_of("(1x,q4)").position, 4u);
  EXPECT_EQ(error_of("(1x,f7)").message, "a real field needs its decimals, as in f7.2");
  EXPECT_EQ(error_of("(i)").message, "a field width is needed");
  error_of("(1x,'open)");
  error_of("(1x,,i4)");
  error_of("(99999(99999i1))");
  error_of("(i4) x");
  EXPECT_TRUE(std::holds_alternative<RecordLayout>(RecordLayout::parse(" ( 1X , I4 , 12F7.2 ) ")));
}

TEST(LayoutReader, ReadsFieldsByColumn) {
  std::vector<Value> values;
  auto layout = RecordLayout::fixed("(a8,i4,10i6)");
  ASSERT_EQ(read_line_fields(layout, "HBM01A  1940   176   200", values), ReadStatus::Ok);
  ASSERT_EQ(values.size(), 12u);
  EXPECT_EQ(std::get<std::string>(values[0]), "HBM01A  ");
  EXPECT_EQ(std::get<long long>(values[1]), 1940);
  EXPECT_EQ(std::get<long long>(values[2]), 176);
  EXPECT_EQ(std::get<long long>(values[4]), 0);  // past the end of the line: blank, 0
  EXPECT_EQ(read_line_fields(layout, "title of the file with words", values), ReadStatus::Error);
}

TEST(LayoutReader, ImpliedDecimalsAndBlanksInsideFields) {
  std::vector<Value> values;
  ASSERT_EQ(read_line_fields(RecordLayout::fixed("(10x,2(f4.3,i3))"),
                             "tst1a.1950 356 124 39 13", values),
            ReadStatus::Ok);
  EXPECT_DOUBLE_EQ(std::get<double>(values[0]), 0.356);
  EXPECT_EQ(std::get<long long>(values[1]), 12);
  EXPECT_DOUBLE_EQ(std::get<double>(values[2]), 0.439);  // "4 39": blank ignored
  ASSERT_EQ(read_line_fields(RecordLayout::fixed("(f7.2,f7.2,f5.1)"), "  1.5    150  -12", values),
            ReadStatus::Ok);
  EXPECT_DOUBLE_EQ(std::get<double>(values[0]), 1.5);
  EXPECT_DOUBLE_EQ(std::get<double>(values[1]), 1.5);
  EXPECT_DOUBLE_EQ(std::get<double>(values[2]), -1.2);
  ASSERT_EQ(read_line_fields(RecordLayout::fixed("(i3)"), "", values), ReadStatus::Ok);
  EXPECT_EQ(std::get<long long>(values[0]), 0);
  EXPECT_EQ(read_line_fields(RecordLayout::fixed("(i3)"), " x ", values), ReadStatus::Error);
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

}  // namespace
}  // namespace quorvane::textio

namespace quorvane::textio {
namespace {

LayoutError refusal(std::string_view text) {
  auto parsed = RecordLayout::parse(text);
  EXPECT_TRUE(std::holds_alternative<LayoutError>(parsed)) << text;
  return std::holds_alternative<LayoutError>(parsed) ? std::get<LayoutError>(parsed)
                                                     : LayoutError{};
}

// A layout that would restart at a group without values (reading or writing
// past its items, or never ending) is refused, naming where the group is.
TEST(LayoutParser, RefusesRestartsThatReadNoValueAndLinesBeyondAnyFile) {
  const struct {
    const char* layout;
    std::size_t position;
    const char* message;
  } cases[] = {
      {"(i4())", 3, "an empty group"},
      {"(i4,f7.2,())", 9, "an empty group"},
      {"(i4,2('x',1x))", 4, "the layout repeats from a group without data items"},
      {"(i4,9999f999999.1)", 4, "a line of the layout would be longer than 100000 characters"},
      {"(i4,50000x,i4,50000x)", 14, "a line of the layout would be longer than 100000 characters"},
      {"(t100002,i1)", 1, "a line of the layout would be longer than 100000 characters"},
  };
  for (const auto& c : cases) {
    LayoutError error = refusal(c.layout);
    EXPECT_EQ(error.position, c.position) << c.layout;
    EXPECT_EQ(error.message, c.message) << c.layout;
  }
  // A group of texts is fine where no restart can reach it, and so is a
  // layout without values; a line of exactly the limit is allowed.
  for (const char* fine : {"(2('x'),i4)", "(1x,3('-'))", "(/1x,'Program'/)", "(99996x,i4)"})
    EXPECT_TRUE(std::holds_alternative<RecordLayout>(RecordLayout::parse(fine))) << fine;
}

// Fields beyond the end of a line read as blanks without being built, so a
// wide field costs no more than the line it reads.
TEST(LayoutReader, FieldsPastTheEndOfTheLineReadAsBlanks) {
  std::vector<Value> values;
  auto layout = RecordLayout::fixed("(i4,5f9999.1,a6)");
  ASSERT_EQ(read_line_fields(layout, "1901 1.5", values), ReadStatus::Ok);
  ASSERT_EQ(values.size(), 7u);
  EXPECT_DOUBLE_EQ(std::get<double>(values[1]), 1.5);
  EXPECT_DOUBLE_EQ(std::get<double>(values[5]), 0.0);
  EXPECT_EQ(std::get<std::string>(values[6]), "      ");
}

// Numbers in fields and in free format: one sign at most, and an exponent
// letter or sign only with digits after it.
TEST(LayoutReader, SignsAndExponentsMustBeComplete) {
  const struct {
    const char* layout;
    const char* line;
    bool reads;
    double value;
  } cases[] = {
      {"(i5)", " +-15", false, 0},     {"(i5)", "  +15", true, 15},
      {"(i5)", "  -15", true, -15},    {"(f7.2)", "   +-15", false, 0},
      {"(f7.2)", "    15e", false, 0}, {"(f7.2)", "    15d", false, 0},
      {"(f7.2)", "    02E", false, 0}, {"(f7.2)", "   1.5e", false, 0},
      {"(f7.2)", "   15e+", false, 0}, {"(f7.2)", "   15e1", true, 1.5},
      {"(f7.2)", "   15-1", true, 0.015}, {"(f7.2)", "  1.5d2", true, 150},
      {"(e12.3)", "   0.100+151", true, 1e150}, {"(e12.3)", "    0.10-119", true, 1e-120},
      {"(f7.2)", "  1.5.0", false, 0}, {"(f7.2)", "      .", false, 0},
      {"(f7.2)", "   -.50", true, -0.5}, {"(f7.2)", "       ", true, 0},
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

}  // namespace
}  // namespace quorvane::textio

namespace quorvane::textio {
namespace {

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
static_assert(well_formed("(10x,10(f4.3,i3))"));
static_assert(!well_formed("(i4())"));
static_assert(!well_formed("(1x,f7)"));
static_assert(!well_formed("(i4,2('x'))"));
#endif

TEST(BuiltinLayouts, AreParsedOnceAndReadAsParsed) {
  constexpr BuiltinLayout decade = "(a8,i4,10i6)";
  const RecordLayout& first = decade.layout();
  EXPECT_EQ(&decade.layout(), &first);
  EXPECT_EQ(&BuiltinLayout("(a8,i4,10i6)").layout(), &first);  // the same literal
  auto parsed = std::get<RecordLayout>(RecordLayout::parse("(a8,i4,10i6)"));
  EXPECT_EQ(first.items().size(), parsed.items().size());
  EXPECT_EQ(write_record(first, {std::string("HBM01A"), 1940LL, 176LL}).text,
            "  HBM01A1940   176");
}

}  // namespace
}  // namespace quorvane::textio
