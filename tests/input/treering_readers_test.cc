// The tree-ring decadal readers: raw ring widths (trrw, datar) and
// chronologies (aindx).
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "input/help_screens.h"
#include "input/readers.h"
#include "input_test_support.h"

namespace quorvane::input {
namespace {

using namespace testing;

// Every series trrw finds in `lines`, as setup's loop collects them.
std::vector<RingSeries> read_rings(Dialogue& dialogue, std::vector<std::string> lines) {
  auto file = reader_of(std::move(lines));
  std::vector<RingSeries> found;
  int status = 0;
  RingSeries ring;
  for (trrw(dialogue.console, file, ring, status); status > 0;
       trrw(dialogue.console, file, ring, status)) {
    found.push_back(ring);
  }
  EXPECT_EQ(ring.count, -999);
  return found;
}

std::vector<Series> read_chronologies(Dialogue& dialogue, std::vector<std::string> lines) {
  auto file = reader_of(std::move(lines));
  std::vector<Series> found;
  bool lok = false;
  while (!lok) {
    Series slot;
    std::vector<int> samples;
    if (aindx(dialogue.console, file, slot, samples, 3, lok)) found.push_back(slot);
  }
  return found;
}

// The header of the self-describing layout: count in columns 3-10, first
// year in columns 13-20, record layout from column 23.
std::string datar_header(const std::string& count, const std::string& layout) {
  return "n " + std::string(8 - count.size(), ' ') + count + "      1850  " + layout;
}

// A line whose column 80 marks the self-describing layout.
std::string marked(std::string text) {
  text.resize(79, ' ');
  return text + '#';
}

TEST(RawRingWidths, HelpExampleInThousandthsOfAMillimetre) {
  Dialogue dialogue("");
  auto rings = read_rings(dialogue, help_example_file(1));
  ASSERT_EQ(rings.size(), 2u);
  EXPECT_EQ(rings[0].id, "HBM01A  ");
  EXPECT_EQ(rings[0].first_year, 1940);
  ASSERT_EQ(rings[0].count, 63);
  EXPECT_FLOAT_EQ(rings[0].values[0], 0.176f);
  EXPECT_FLOAT_EQ(rings[0].values[62], 0.236f);
  EXPECT_EQ(rings[1].id, "HBM01B  ");
  EXPECT_EQ(rings[1].first_year, 1740);
  EXPECT_EQ(rings[1].count, 51);
  EXPECT_EQ(dialogue.out.str(), "");
}

TEST(RawRingWidths, EndValuesAndTheValuesOfTheFirstLine) {
  Dialogue dialogue("");
  const std::string full = "   100   100   100   100   100   100   100";
  auto rings = read_rings(dialogue, {
      "A       1940   176   225   999",              // 999: hundredths
      "B       1950   176   999   225" + full,       // 999 followed by values is a ring
      "B       1960   300 -9999",
      "C       1953     1     2     3     4     5     6     7",  // 1953-1959
      "C       1960     8 -9999",
      "D       1940   176   999   225   100   100   100   100   100   100   999",  // ends it
      "NEG0001-0015     1     2     3     4     5",  // '-' in column 8: 5-column year
      "NEG0001-0010     6 -9999",
      "NEG002-00020" + full + "   100   100   100",   // '-' in column 7: 6-column year
      "NEG002-00010   999"});
  ASSERT_EQ(rings.size(), 6u);
  EXPECT_EQ(rings[0].values, (std::vector<float>{1.76f, 2.25f}));
  ASSERT_EQ(rings[1].count, 11);
  EXPECT_FLOAT_EQ(rings[1].values[1], 0.999f);
  EXPECT_FLOAT_EQ(rings[1].values[10], 0.300f);
  EXPECT_EQ(rings[2].count, 8);
  EXPECT_FLOAT_EQ(rings[2].values[7], 0.008f);
  ASSERT_EQ(rings[3].count, 9);
  EXPECT_FLOAT_EQ(rings[3].values[1], 9.99f);
  EXPECT_EQ(rings[4].id, "NEG0001 ");
  EXPECT_EQ(rings[4].first_year, -15);
  EXPECT_EQ(rings[4].count, 6);
  EXPECT_EQ(rings[5].first_year, -20);
  EXPECT_EQ(rings[5].count, 10);
}

TEST(RawRingWidths, TitleLinesAreEchoedAndMoreThan25StopTheProgram) {
  Dialogue dialogue("");
  auto rings = read_rings(dialogue, {"Site HBM, oak", "second header line", "",
                                     "HBM01B  1790   156 -9999"});
  ASSERT_EQ(rings.size(), 1u);
  EXPECT_EQ(rings[0].title, "Site HBM, oak");
  EXPECT_EQ(dialogue.out.str(), "\n title of data:\n Site HBM, oak\n second header line\n");

  Dialogue stopped("");
  std::vector<std::string> lines(26, "a line of text in the header");
  lines.push_back("HBM01B  1790   156 -9999");
  EXPECT_THROW(read_rings(stopped, lines), textio::ProgramStop);
  EXPECT_EQ(stopped.err.str(), "sbr trrw:  over 25 text lines\n");
}

TEST(RawRingWidths, SeriesOpenAtTheEndOfTheFileIsReportedAndDropped) {
  Dialogue dialogue("");
  auto rings = read_rings(dialogue, {"HBM01B  1790   156 -9999",
                                     "HBM01C  1805   100   200   300   400   500"});
  EXPECT_EQ(rings.size(), 1u);
  EXPECT_EQ(dialogue.out.str(),
            " Series HBM01C has no end value (-9999 or 999) before the end of the file;\n"
            " its 5 values are not used.\n");
}

TEST(RawRingWidths, SelfDescribingLayout) {
  Dialogue dialogue("");
  auto rings = read_rings(dialogue, {marked("MYSER01 a self-describing series"),
                                     datar_header("12", "(6f8.3)"),
                                     "   0.100   0.200   0.300   0.400   0.500   0.600",
                                     "   0.700   0.800   0.900   1.000   1.100   1.200",
                                     "HBM01B  1790   156 -9999"});
  ASSERT_EQ(rings.size(), 2u);
  EXPECT_EQ(rings[0].id, "MYSER01 ");
  EXPECT_EQ(rings[0].first_year, 1850);
  ASSERT_EQ(rings[0].count, 12);
  EXPECT_FLOAT_EQ(rings[0].values[11], 1.2f);
  EXPECT_EQ(rings[0].title, marked("MYSER01 a self-describing series"));
  EXPECT_EQ(rings[1].count, 1);
}

TEST(RawRingWidths, SelfDescribingLayoutFailuresKeepOnlyWhatWasRead) {
  struct Case {
    std::vector<std::string> lines;
    int count;
    std::string message;
  };
  const Case cases[] = {
      {{marked(""), datar_header("3", "(3q8.3)"), "1 2 3"}, -999,
       " >> sbr datar:  the format (3q8.3) cannot be used: unknown item 'q' at position 3\n"},
      {{marked(""), datar_header("5", "(2f8.3)"), "   0.100   0.200"}, 2,
       " >> sbr datar:  unexpected end reading data\n"},
      {{marked(""), datar_header("2", "(2f8.3)"), "   0.100   abcde"}, 1,
       " >> sbr datar:  error reading data\n"},
  };
  for (const Case& c : cases) {
    Dialogue dialogue("");
    auto rings = read_rings(dialogue, c.lines);
    ASSERT_EQ(rings.size(), 1u);
    EXPECT_EQ(rings[0].count, c.count);
    EXPECT_EQ(dialogue.out.str(), c.message);
  }
}

TEST(RawRingWidths, SetupListsEachSeriesAndWarnsWhenNoneIsFound) {
  TempDir dir;
  Session session;
  std::string out = session.run(dir.write("rrw.dat", help_example_file(1)), "1\n2\nF\n");
  EXPECT_NE(out.find(" Enter a value between       [0-7]   : \n"
                     " 1 HBM01A  1940 2002 63\n"
                     " 2 HBM01B  1740 1790 51\n"
                     "\n Input data read successfully\n"),
            std::string::npos);
  EXPECT_EQ(session.npts, 51);

  Session none;
  out = none.run(dir.write("bad.dat", {"HBM01C  1805   100"}), "1\n");
  EXPECT_TRUE(ends_with(out, " its 5 values are not used.\n\n"
                             " WARNING: There was an error reading data\n"
                             " Hit RETURN to Try again or bail out now\n" + kFormatMenu));
}

// One index/sample-count pair of a chronology decade line, "(f4.3,i3)".
std::string pairs(std::initializer_list<const char*> indices, const char* samples = "  5") {
  std::string text;
  for (const char* index : indices) text += std::string(index) + samples;
  return text;
}

TEST(Chronology, HelpExampleHoldsTwoSeriesOf53Values) {
  Dialogue dialogue("");
  auto series = read_chronologies(dialogue, help_example_file(2));
  ASSERT_EQ(series.size(), 2u);
  EXPECT_EQ(series[0].name, "tst1a.  ");
  EXPECT_EQ(series[0].iyr1, 1950);
  ASSERT_EQ(series[0].values.size(), 53u);
  EXPECT_FLOAT_EQ(series[0].values[0], 0.356f);
  EXPECT_FLOAT_EQ(series[0].values[1], 0.439f);
  EXPECT_FLOAT_EQ(series[0].values[52], 0.895f);
  EXPECT_FLOAT_EQ(series[1].values[0], 1.120f);
  EXPECT_FLOAT_EQ(series[1].values[1], 1.264f);
  EXPECT_EQ(series[1].values.size(), 53u);

  TempDir dir;
  Session session;
  std::string out = session.run(dir.write("crn.dat", help_example_file(2)), "2\n1\nF\n");
  EXPECT_NE(out.find(" : \n   2 series read successfully\n" + kSelectionHead), std::string::npos);
  EXPECT_EQ(session.npts, 53);
}

TEST(Chronology, DecadePositionsNegativeYearsAndAnOpenLastSeries) {
  Dialogue dialogue("");
  auto series = read_chronologies(dialogue, {
      "h1", "h2", "h3",
      "abc   1953" + std::string(21, ' ') +
          pairs({"1001", "1002", "1003", "1004", "1005", "1006", "1007"}),
      "abc   1960" + pairs({"1008"}) + pairs({"9990"}, "  0"),
      "h1", "h2", "h3",
      "neg    -20" + pairs({"1000", "1000", "1000", "1000", "1000", "1000", "1000", "1000",
                          "1000", "1000"}),
      "neg    -10" + pairs({"9990"}, "  0"),
      "h1", "h2", "h3",
      "end   1950" + pairs({"1000", "1100"})});  // no end pair; the short line is not padding
  ASSERT_EQ(series.size(), 3u);
  EXPECT_EQ(series[0].iyr1, 1953);
  ASSERT_EQ(series[0].values.size(), 8u);
  EXPECT_FLOAT_EQ(series[0].values[0], 1.001f);
  EXPECT_FLOAT_EQ(series[0].values[7], 1.008f);
  EXPECT_EQ(series[1].iyr1, -20);
  EXPECT_EQ(series[1].values.size(), 10u);
  EXPECT_EQ(series[2].values, (std::vector<float>{1.0f, 1.1f}));
  EXPECT_TRUE(read_chronologies(dialogue, {"h1", "h2", "h3"}).empty());
}

TEST(Chronology, UnreadableDecadeLineStopsTheProgram) {
  Dialogue dialogue("");
  EXPECT_THROW(read_chronologies(dialogue, {"h1", "h2", "h3", "abc   1950" + pairs({"1000"}),
                                            "abc   1960" + pairs({"10x0"})}),
               textio::ProgramStop);
  EXPECT_EQ(dialogue.err.str(), " Error reading data\n Program terminating\n");
}

}  // namespace
}  // namespace quorvane::input
