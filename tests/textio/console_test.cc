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

// A row takes as many lines as it needs, across blanks, tabs and commas,
// with D exponents and asterisk runs read as one "*" token; a line of text
// is refused and consumed alone, and an empty source ends the reading.
TEST(FreeFormat, ReadTakesAsManyLinesAsItNeedsAndStopsAtText) {
  auto source = LineReader::from_lines(
      {" 1901 1 2", "", " 3,\t1.5D3", "**** +.25e1 rest ignored", "Cell 2", " 1902"});
  FreeRead row(source);
  long long year = 0;
  float value = 0;
  double wide = 0;
  std::string star;
  ASSERT_EQ(row.integer(year), ReadStatus::Ok);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(row.real(value), ReadStatus::Ok);
  EXPECT_EQ(value, 3.0f);
  ASSERT_EQ(row.real(wide), ReadStatus::Ok);
  EXPECT_EQ(wide, 1500.0);
  ASSERT_EQ(row.token(star), ReadStatus::Ok);
  EXPECT_EQ(star, "*");
  ASSERT_EQ(row.real(value), ReadStatus::Ok);
  EXPECT_EQ(value, 2.5f);
  FreeRead next(source);
  EXPECT_EQ(next.integer(year), ReadStatus::Error);
  EXPECT_EQ(source.position(), 5u);  // only the text line was consumed
  FreeRead last(source);
  ASSERT_EQ(last.integer(year), ReadStatus::Ok);
  EXPECT_EQ(last.real(value), ReadStatus::End);
}

// No whole number takes two signs, a point or a value beyond its type, and
// logicals are T or F in their forms. (Reals are checked against the C
// library over random texts.)
TEST(FreeFormat, NumberSyntax) {
  for (const char* refused : {"+-156", "++1", "-+1", "3.5", "99999999999999999999"}) {
    long long whole = 0;
    EXPECT_FALSE(parse_integer(refused, whole)) << refused;
  }
  long long whole = 0;
  ASSERT_TRUE(parse_integer("+12", whole));
  EXPECT_EQ(whole, 12);
  bool logical = false;
  EXPECT_TRUE(parse_logical(".true.", logical) && logical);
  EXPECT_TRUE(parse_logical("f", logical) && !logical);
  EXPECT_FALSE(parse_logical("yes", logical));
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
