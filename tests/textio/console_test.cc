#include "textio/console.h"

#include <gtest/gtest.h>

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

TEST(FreeFormat, NumberSyntax) {
  double d = 0;
  long long i = 0;
  bool b = false;
  EXPECT_TRUE(parse_real("1.5D3", d));
  EXPECT_EQ(d, 1500.0);
  EXPECT_TRUE(parse_real(".5", d));
  EXPECT_TRUE(parse_real("-7.", d));
  EXPECT_FALSE(parse_real("1.5x", d));
  EXPECT_FALSE(parse_real("nan", d));
  EXPECT_FALSE(parse_real("1e", d));
  EXPECT_TRUE(parse_integer("+12", i));
  EXPECT_FALSE(parse_integer("+-156", i));  // two signs
  EXPECT_FALSE(parse_integer("++1", i));
  EXPECT_FALSE(parse_integer("-+1", i));
  EXPECT_FALSE(parse_real("+-1.5", d));
  EXPECT_FALSE(parse_real("15e", d));
  EXPECT_FALSE(parse_integer("3.5", i));
  EXPECT_FALSE(parse_integer("99999999999999999999", i));
  EXPECT_TRUE(parse_logical(".true.", b));
  EXPECT_TRUE(b);
  EXPECT_TRUE(parse_logical("f", b));
  EXPECT_FALSE(b);
  EXPECT_FALSE(parse_logical("yes", b));
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

TEST(ConsoleQuestions, AskAgainAfterAnUnreadableAnswer) {
  Session s("abc\n\n 42 7\n");
  EXPECT_EQ(s.console.ask_integer(" n: "), 42);
  EXPECT_EQ(s.out.str(), " n:  Please enter a whole number.\n n: ");
}

TEST(ConsoleQuestions, TwoSignsAreAskedAgain) {
  Session s("+-3\n+3\n");
  EXPECT_EQ(s.console.ask_integer(" n: "), 3);
  EXPECT_EQ(s.out.str(), " n:  Please enter a whole number.\n n: ");
}

TEST(ConsoleQuestions, FixedIntegerReadsOnlyItsColumns) {
  Session s("\n12345\nx\n 7\n");
  EXPECT_EQ(s.console.ask_fixed_integer("> ", 3), 0);
  EXPECT_EQ(s.console.ask_fixed_integer("> ", 3), 123);
  EXPECT_EQ(s.console.ask_fixed_integer("> ", 3), 7);
  EXPECT_EQ(s.out.str(), "> > >  Please enter a whole number.\n> ");
}

TEST(ConsoleQuestions, LogicalAndReal) {
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

TEST(ConsoleQuestions, StopWritesToTheErrorStream) {
  Session s("");
  try {
    s.console.stop("sbr trrw:  over 25 text lines");
    FAIL();
  } catch (const ProgramStop& stop) {
    EXPECT_EQ(stop.message, "sbr trrw:  over 25 text lines");
  }
  EXPECT_EQ(s.err.str(), "sbr trrw:  over 25 text lines\n");
  EXPECT_EQ(s.out.str(), "");
}

}  // namespace
}  // namespace quorvane::textio

namespace quorvane::textio {
namespace {

TEST(LineReader, TellsWhatTheLinesNotYetReadHold) {
  auto file = LineReader::from_lines({"abc", "", "a much longer line", "xy"});
  EXPECT_EQ(file.characters_left(), 4u + 1u + 19u + 3u);
  EXPECT_EQ(file.longest_line_left(), 18u);
  std::string line;
  file.next_line(line);
  file.next_line(line);
  file.next_line(line);
  EXPECT_EQ(file.characters_left(), 3u);
  EXPECT_EQ(file.longest_line_left(), 2u);
  file.back();
  EXPECT_EQ(file.longest_line_left(), 18u);
  file.next_line(line);
  file.next_line(line);
  EXPECT_EQ(file.characters_left(), 0u);
  EXPECT_EQ(file.longest_line_left(), 0u);
}

}  // namespace
}  // namespace quorvane::textio
