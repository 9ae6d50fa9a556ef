#include "textio/console.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "textio/free_format.h"

namespace quorvane::textio {
namespace {

struct Session {
  explicit Session(std::string input) : in(std::move(input)), console(in, out, err) {}
  std::istringstream in;
  std::ostringstream out, err;
  Console console;
};

TEST(FreeFormat, SplitsOnBlanksTabsAndCommas) {
  EXPECT_EQ(free_tokens("  1944\t0.5, *******  -9.9 "),
            (std::vector<std::string>{"1944", "0.5", "*", "-9.9"}));
  EXPECT_TRUE(free_tokens(" \t ").empty());
}

TEST(FreeFormat, ReadTakesAsManyLinesAsItNeedsAndStopsAtText) {
  auto source = LineReader::from_lines({" 1901 1 2", "", " 3 4 rest ignored", "Cell 2", " 1902"});
  FreeRead row(source);
  long long year = 0;
  float value = 0;
  ASSERT_EQ(row.integer(year), ReadStatus::Ok);
  for (int i = 0; i < 4; ++i) ASSERT_EQ(row.real(value), ReadStatus::Ok);
  EXPECT_EQ(value, 4.0f);
  FreeRead next(source);
  EXPECT_EQ(next.integer(year), ReadStatus::Error);
  EXPECT_EQ(source.position(), 4u);  // only the text line was consumed
  FreeRead last(source);
  ASSERT_EQ(last.integer(year), ReadStatus::Ok);
  EXPECT_EQ(last.real(value), ReadStatus::End);
}

// Reals take an exponent letter E or D; no number takes two signs, an
// exponent without digits, or a value beyond its type.
TEST(FreeFormat, NumberSyntax) {
  const struct {
    char kind;  // 'r'eal, 'i'nteger or 'l'ogical
    const char* text;
    bool accepted;
    double value;
  } cases[] = {
      {'r', "1.5D3", true, 1500}, {'r', ".5", true, 0.5},   {'r', "-7.", true, -7},
      {'r', "1.5x", false, 0},    {'r', "nan", false, 0},   {'r', "1e", false, 0},
      {'r', "+-1.5", false, 0},   {'r', "15e", false, 0},   {'i', "+12", true, 12},
      {'i', "+-156", false, 0},   {'i', "++1", false, 0},   {'i', "-+1", false, 0},
      {'i', "3.5", false, 0},     {'i', "99999999999999999999", false, 0},
      {'l', ".true.", true, 1},   {'l', "f", true, 0},      {'l', "yes", false, 0},
  };
  for (const auto& c : cases) {
    double value = 0;
    long long whole = 0;
    bool logical = false;
    const bool accepted = c.kind == 'r'   ? parse_real(c.text, value)
                          : c.kind == 'i' ? parse_integer(c.text, whole)
                                          : parse_logical(c.text, logical);
    EXPECT_EQ(accepted, c.accepted) << c.text;
    EXPECT_EQ(accepted ? value + static_cast<double>(whole) + logical : 0, c.value) << c.text;
  }
}

// Single precision is the correctly rounded value of the text, as strtof
// gives it: ties to even, subnormals, underflow to zero, the largest value.
TEST(FreeFormat, RealsRoundToTheNearestSingleValue) {
  for (const char* text : {"16777217", "0.1", "-0.0", "+2.5", "1e-40", "7e-46", "-1e-50",
                           "3.4028234e38", "123456789012345678901234567890.5"}) {
    const float expected = std::strtof(text, nullptr);
    float value = 1.0f;
    ASSERT_TRUE(parse_real(text, value)) << text;
    EXPECT_EQ(std::memcmp(&value, &expected, sizeof value), 0) << text << " read as " << value;
  }
  float value = 0.0f;
  EXPECT_FALSE(parse_real("3.4028236e38", value));  // rounds beyond the largest value
}

TEST(FreeFormat, OutputIsCompact) {
  EXPECT_EQ(free_real(95.0), "95.0");
  EXPECT_EQ(free_real(0.1f), "0.1");
  EXPECT_EQ(free_real(1.0e16), "1.0E+16");
  EXPECT_EQ(free_real(1.0f / 12.0f), "0.08333334");
  EXPECT_EQ(free_line({std::string("    * frequency range: "), 0.0, 0.5}),
            "     * frequency range: 0.0 0.5");
  EXPECT_EQ(free_line({std::string("   ("), 2LL, std::string(") "), std::string("   enter")}),
            "    ( 2 )    enter");
}

// Unreadable answers are asked again with a hint: text, an empty line and
// two signs for a whole number; a fixed integer reads only its columns.
TEST(ConsoleQuestions, UnreadableAnswersAreAskedAgainWithAHint) {
  for (const char* answers : {"abc\n\n 42 7\n", "+-3\n+42\n"}) {
    Session s(answers);
    EXPECT_EQ(s.console.ask_integer(" n: "), 42) << answers;
    EXPECT_EQ(s.out.str(), " n:  Please enter a whole number.\n n: ") << answers;
  }
  Session fixed("\n12345\nx\n 7\n");
  for (int expected : {0, 123, 7}) EXPECT_EQ(fixed.console.ask_fixed_integer("> ", 3), expected);
  EXPECT_EQ(fixed.out.str(), "> > >  Please enter a whole number.\n> ");
  Session s("maybe\n.T.\nF\nten\n2.5e-1\n");
  EXPECT_TRUE(s.console.ask_logical("? "));
  EXPECT_FALSE(s.console.ask_logical("? "));
  EXPECT_FLOAT_EQ(s.console.ask_real("f? "), 0.25f);
  EXPECT_EQ(s.out.str(),
            "?  Please answer T (true) or F (false).\n? ? f?  Please enter a number.\nf? ");
}

TEST(ConsoleQuestions, EndOfInputAtAnyQuestionOrPauseEndsTheDialogue) {
  Session s("");
  EXPECT_THROW(s.console.ask_integer("> "), EndOfInput);
  EXPECT_THROW(s.console.ask_fixed_integer("> ", 2), EndOfInput);
  EXPECT_THROW(s.console.ask_logical("> "), EndOfInput);
  EXPECT_THROW(s.console.ask_real("> "), EndOfInput);
  EXPECT_THROW(s.console.ask_text("> "), EndOfInput);
  EXPECT_THROW(s.console.pause(" Hit return"), EndOfInput);
  Session garbage("x\ny\n");
  EXPECT_THROW(garbage.console.ask_integer("> "), EndOfInput);
}

TEST(ConsoleQuestions, StopWritesOnlyToTheErrorStream) {
  Session s("");
  EXPECT_THROW(s.console.stop("sbr trrw:  over 25 text lines"), ProgramStop);
  EXPECT_EQ(s.err.str(), "sbr trrw:  over 25 text lines\n");
  EXPECT_EQ(s.out.str(), "");
}

TEST(LineReader, TellsWhatTheLinesNotYetReadHold) {
  auto file = LineReader::from_lines({"abc", "", "a much longer line", "xy"});
  const std::size_t characters[] = {27, 23, 22, 3, 0}, longest[] = {18, 18, 18, 2, 0};
  std::string line;
  for (std::size_t read = 0; read < 5; ++read) {
    EXPECT_EQ(file.characters_left(), characters[read]) << read;
    EXPECT_EQ(file.longest_line_left(), longest[read]) << read;
    file.next_line(line);
  }
  file.back();
  file.back();
  EXPECT_EQ(file.longest_line_left(), 18u);
}

// A file's lines as written, whatever its line ends: a carriage return
// before a line end is dropped and one elsewhere kept, empty lines count,
// and the last line needs no line end. Stepping back goes one line at a
// time, across empty lines, and stops at the top.
TEST(LineReader, ReadsAFileLineByLineAndStepsBack) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("quorvane_lines_" + std::to_string(::getpid()) + ".txt");
  std::ofstream(path, std::ios::binary) << "name\r\n\n\r\n1901\r2\n  0.5  \nlast\r";
  LineReader file;
  ASSERT_TRUE(file.open(path.string()));
  std::filesystem::remove(path);
  const std::vector<std::string> expected = {"name", "", "", "1901\r2", "  0.5  ", "last"};
  std::string line;
  for (const auto& written : expected) {
    ASSERT_TRUE(file.next_line(line));
    EXPECT_EQ(line, written);
  }
  EXPECT_TRUE(file.at_end());
  for (std::size_t back = expected.size(); back-- > 0;) {
    file.back();
    ASSERT_TRUE(file.next_line(line));
    EXPECT_EQ(line, expected[back]);
    file.back();
  }
  file.back();
  EXPECT_EQ(file.position(), 0u);
  EXPECT_EQ(file.characters_left(), 5u + 1u + 1u + 7u + 8u + 5u);
}

}  // namespace
}  // namespace quorvane::textio
