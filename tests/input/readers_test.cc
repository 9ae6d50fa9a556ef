// The readers of the seven layouts on files that probe their rules. (Random
// variations of such files are the work of fuzz/reader_target.cc and
// fuzz/dialogue_target.cc.)
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "input/help_screens.h"
#include "input/readers.h"
#include "input_test_support.h"

namespace quorvane::input {
namespace {

using namespace testing;
using Reader = bool (*)(textio::Console&, textio::LineReader&, SeriesTable&);

// The tree-ring readers collected into a table as setup collects them: one
// call per series until the end of the file. A series trrw returns with
// count -999 (no header found) is not a series. The calls are bounded so that
// a reader that never reaches the end of the file fails instead of hanging.
bool rings(textio::Console& console, textio::LineReader& file, SeriesTable& table) {
  int status = 0;
  RingSeries ring;
  for (int calls = 1; status >= 0; ++calls) {
    trrw(console, file, ring, status);
    if (calls > 1000) {
      ADD_FAILURE() << "trrw never reaches the end of the file";
      return false;
    }
    EXPECT_TRUE(ring.count < 0 || ring.values.size() == static_cast<std::size_t>(ring.count));
    if (status > 0 && ring.count >= 0)
      table.series.push_back(
          {ring.id, ring.first_year, ring.first_year + ring.count - 1, ring.values, "", {}});
  }
  return true;
}

// rd1col asks nothing, so it takes a writer rather than the console.
bool single_column(textio::Console& console, textio::LineReader& file, SeriesTable& table) {
  return rd1col(console, file, table);
}

bool chronologies(textio::Console& console, textio::LineReader& file, SeriesTable& table) {
  bool lok = false;
  for (int calls = 1; !lok; ++calls) {
    Series slot;
    std::vector<int> samples;
    if (calls > 1000) {
      ADD_FAILURE() << "aindx never reaches the end of the file";
      return false;
    }
    if (!aindx(console, file, slot, samples, 3, lok)) continue;
    EXPECT_EQ(samples.size(), slot.values.size());
    slot.iyrn = slot.iyr1 + static_cast<int>(slot.values.size()) - 1;
    table.series.push_back(slot);
  }
  return true;
}

// "name first-last count" of every series, with "x name|" for x/y pairs.
std::string summary(const std::vector<Series>& found) {
  std::string text;
  for (const Series& s : found) {
    text += (text.empty() ? "" : ", ") + (s.x_name.empty() ? "" : s.x_name + "|") + s.name + " " +
            std::to_string(s.iyr1) + "-" + std::to_string(s.iyrn) + " " +
            std::to_string(s.values.size());
  }
  return text;
}

// The header of a self-describing series: count in columns 3-10, first year
// in columns 13-20, layout from column 23.
std::string datar_header(const std::string& count, const std::string& layout) {
  return "n " + std::string(8 - count.size(), ' ') + count + "      1850  " + layout;
}

// Index/sample-count pairs of a chronology decade line, "(f4.3,i3)".
std::string pairs(std::initializer_list<const char*> indices, const char* samples = "  5") {
  std::string text;
  for (const char* index : indices) text += std::string(index) + samples;
  return text;
}

struct Spot {
  std::size_t series, index;
  float value;
};
// A reader on a file with its answers; the series it finds, a few of their
// values, and everything a reader without questions writes; or, for a reader
// that stops the program, the message it leaves on the error stream.
struct Case {
  Reader reader;
  std::vector<std::string> lines;
  std::string answers, summary;
  std::vector<Spot> spots;
  std::string out{}, err{};
};

// Files that probe the readers' rules, and the help screens' examples whose
// every series matters (the others are read in series_file_test.cc).
std::vector<Case> reader_cases() {
  std::string row = "1901", twelve;
  for (int m = 1; m <= 12; ++m) {
    row += "  " + std::to_string(10 + m);
    twelve += (m == 1 ? "" : ", ") + numbered_name("Col_____", m) + " 1-2 2";
  }
  std::vector<std::string> text(26, "a line of text in the header");
  text.push_back("HBM01B  1790   156 -9999");
  const std::string full = "   100   100   100   100   100   100   100";
  return {
      // Only the first number of a line is a value; names are cut to 8.
      {single_column, {"a long series name", "1900", "1.5 99", "", "2.5", "next", "2000", "7"}, "",
       "a long s 1900-1901 2, next     2000-2000 1", {{0, 0, 1.5f}, {0, 1, 2.5f}, {1, 0, 7.0f}}},
      {rd2col, {"preamble", "more", "depth    value", "5 1", "3,2", "9 3"}, "2\n",
       "depth   | value   5-9 3", {{0, 0, 1.0f}, {0, 1, 2.0f}, {0, 2, 3.0f}}},
      // A missing cell is a missing year: AB02 starts in 1946, AB04 lacks
      // 1950 and still ends in 1957, AB05 ends in 1954.
      {rdmcol, help_example_file(5, 1), "2\n6\n*\n",
       "AB01     1944-1957 14, AB02     1946-1957 12, AB03     1944-1957 14, "
       "AB04     1944-1957 13, AB05     1944-1954 11",
       {{1, 0, 0.717f}, {3, 6, 0.609f}}},
      // A row continues on the next line; a long number keeps its digits.
      {rdmcol, {"yr a b extra", "1900 0.123456789", "2.5", "1901 1 2 ignored"}, "0\n3\n*\n",
       "a        1900-1901 2, b        1900-1901 2",
       {{0, 0, 0.123456789f}, {1, 0, 2.5f}, {1, 1, 2.0f}}},
      {rdmet,
       {"block one", "1901 1 2", "3 4", "1902 5 6 7 8", "block two", "1950 1 1 1 1", "1951 1"},
       "0\n4\n\n2\n", "Cell___1 1901-1902 8, Cell___2 1950-1950 4",
       {{0, 1, 4.0f}, {0, 7, 16.0f}}},
      // The blank line ends the block rather than reading as a row of zeros.
      // Next to values refused elsewhere: one sign, and a large value single
      // precision holds after its multiplier.
      {rings, {"HBM01B  1790  +156   200 -9999"}, "", "HBM01B   1790-1791 2", {{0, 0, 0.156f}}},
      {rdmet, {"block", "1901 1e5", "1902 2e30", "1903 1"}, "0\n1\n1e-3\n",
       "Cell___1 1901-1903 3", {{0, 1, 2e27f}}},
      {rdrows, {"header", row, "", "header", row}, "0\n(i4,12f4.1)\n12\n", twelve,
       {{0, 0, 1.1f}, {0, 1, 1.1f}, {11, 1, 2.2f}}},
      // Raw ring widths in thousandths of a millimetre (ended by -9999) or
      // hundredths (ended by 999).
      {rings,
       {"A       1940   176   225   999",
        "B       1950   176   999   225" + full,  // 999 followed by values is a ring
        "B       1960   300 -9999",
        "C       1953     1     2     3     4     5     6     7",  // 1953-1959
        "C       1960     8 -9999",
        "D       1940   176   999   225   100   100   100   100   100   100   999",
        "NEG0001-0015     1     2     3     4     5",  // '-' in column 8: 5-column year
        "NEG0001-0010     6 -9999",
        "NEG002-00020" + full + "   100   100   100",  // '-' in column 7: 6-column year
        "NEG002-00010   999"},
       "", "A        1940-1941 2, B        1950-1960 11, C        1953-1960 8, "
       "D        1940-1948 9, NEG0001  -15--10 6, NEG002   -20--11 10",
       {{0, 0, 1.76f}, {0, 1, 2.25f}, {1, 1, 0.999f}, {1, 10, 0.3f}, {2, 7, 0.008f},
        {3, 1, 9.99f}}},
      {rings, {"Site HBM, oak", "second header line", "", "HBM01B  1790   156 -9999"}, "",
       "HBM01B   1790-1790 1", {}, "\n title of data:\n Site HBM, oak\n second header line\n"},
      {rings, text, "", "", {}, "", "sbr trrw:  over 25 text lines\n"},
      {rings,
       {marked("MYSER01 a self-describing series"), datar_header("12", "(6f8.3)"),
        "   0.100   0.200   0.300   0.400   0.500   0.600",
        "   0.700   0.800   0.900   1.000   1.100   1.200", "HBM01B  1790   156 -9999"},
       "", "MYSER01  1850-1861 12, HBM01B   1790-1790 1", {{0, 0, 0.1f}, {0, 11, 1.2f}}},
      // A failed self-describing read keeps only what was read.
      {rings, {marked(""), datar_header("3", "(3q8.3)"), "1 2 3"}, "", "", {},
       " >> sbr datar:  the format (3q8.3) cannot be used: unknown item 'q' at position 3\n"},
      {rings, {marked(""), datar_header("5", "(2f8.3)"), "   0.100   0.200"}, "",
       "         1850-1851 2", {{0, 1, 0.2f}}, " >> sbr datar:  unexpected end reading data\n"},
      {rings, {marked(""), datar_header("2", "(2f8.3)"), "   0.100   abcde"}, "",
       "         1850-1850 1", {}, " >> sbr datar:  error reading data\n"},
      {chronologies, help_example_file(2), "", "tst1a.   1950-2002 53, tst1a.   1950-2002 53",
       {{0, 0, 0.356f}, {0, 1, 0.439f}, {0, 52, 0.895f}, {1, 0, 1.120f}, {1, 1, 1.264f}}},
      // Values stand at their decade positions; the last series has no end
      // pair and its short line is not padding.
      {chronologies,
       {"h1", "h2", "h3",
        "abc   1953" + std::string(21, ' ') +
            pairs({"1001", "1002", "1003", "1004", "1005", "1006", "1007"}),
        "abc   1960" + pairs({"1008"}) + pairs({"9990"}, "  0"), "h1", "h2", "h3",
        "neg    -20" + pairs({"1000", "1000", "1000", "1000", "1000", "1000", "1000", "1000",
                              "1000", "1000"}),
        "neg    -10" + pairs({"9990"}, "  0"), "h1", "h2", "h3",
        "end   1950" + pairs({"1000", "1100"})},
       "", "abc      1953-1960 8, neg      -20--11 10, end      1950-1951 2",
       {{0, 0, 1.001f}, {0, 7, 1.008f}, {2, 0, 1.0f}, {2, 1, 1.1f}}},
      {chronologies,
       {"h1", "h2", "h3", "abc   1950" + pairs({"1000"}), "abc   1960" + pairs({"10x0"})}, "", "",
       {}, "", " Error reading data\n Program terminating\n"},
  };
}

TEST(Readers, ExamplesAndFilesThatProbeTheirRules) {
  const std::vector<Case> cases = reader_cases();
  for (const Case& c : cases) {
    SCOPED_TRACE("case " + std::to_string(&c - cases.data()));
    Dialogue dialogue(c.answers);
    auto file = textio::LineReader::from_lines(c.lines);
    SeriesTable table;
    bool lok = false;
    try {
      lok = c.reader(dialogue.console, file, table);
    } catch (const textio::ProgramStop&) {
    }
    EXPECT_EQ(lok, c.err.empty());
    EXPECT_EQ(dialogue.err.str(), c.err);
    EXPECT_EQ(summary(table.series), c.summary);
    for (const Spot& s : c.spots) {
      ASSERT_LT(s.series, table.series.size());
      ASSERT_LT(s.index, table.series[s.series].values.size());
      EXPECT_FLOAT_EQ(table.series[s.series].values[s.index], s.value) << s.index;
    }
    if (c.answers.empty() && c.err.empty()) {
      EXPECT_EQ(dialogue.out.str(), c.out);
    }
  }
}

}  // namespace
}  // namespace quorvane::input
