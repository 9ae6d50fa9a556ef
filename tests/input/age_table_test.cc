// The tables of an age model: numbers under a header in any of the usual
// separators, and an age ensemble met with the values by depth or by row.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "input/age_table.h"

namespace quorvane::input {
namespace {

std::string written(const std::string& name, const std::string& text) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("quorvane_age_" + std::to_string(::getpid()) + "_" + name);
  std::ofstream(path) << text;
  return path.string();
}

TEST(AgeTable, ReadsRowsUnderAHeaderWhateverTheSeparator) {
  NumberTable table;
  const std::string path =
      written("mixed", "# exported ages\ndepth,m1,m2\n\n1.5,10;11\n2.5\t20 21\n+3.5, 30,31\r\n");
  ASSERT_TRUE(read_number_table(path, 0, table).ok);
  EXPECT_EQ(table.columns, 3u);
  ASSERT_EQ(table.rows.size(), 3u);
  EXPECT_EQ(table.rows[1], (std::vector<double>{2.5, 20.0, 21.0}));
  EXPECT_EQ(table.rows[2], (std::vector<double>{3.5, 30.0, 31.0}));

  // A short row, a field that is not a number below the first row, a
  // table of the wrong width: each named by its line.
  const Status short_row = read_number_table(written("short", "d,a\n1,2\n3\n"), 0, table);
  EXPECT_NE(short_row.message.find("line 3"), std::string::npos) << short_row.message;
  const Status text = read_number_table(written("text", "1,2\n3,x\n"), 0, table);
  EXPECT_NE(text.message.find("line 2"), std::string::npos) << text.message;
  EXPECT_FALSE(read_number_table(written("wide", "1,2,3,4\n"), 3, table).ok);
  EXPECT_FALSE(read_number_table(written("empty", "depth,age\n"), 0, table).ok);
  EXPECT_FALSE(read_number_table("/nonexistent/ages.csv", 0, table).ok);
}

TEST(AgeTable, MeetsTheValuesByDepthThenByRow) {
  // Rows out of depth order, and more of them than values: by depth.
  NumberTable table{3, {{3.0, 30, 31}, {1.0, 10, 11}, {2.0, 20, 21}, {9.0, 90, 91}}};
  std::size_t members = 0;
  std::vector<double> ages;
  bool by_row = true;
  ASSERT_TRUE(match_ensemble(table, {1.0, 3.0}, members, ages, by_row).ok);
  EXPECT_FALSE(by_row);
  EXPECT_EQ(members, 2u);
  EXPECT_EQ(ages, (std::vector<double>{10, 30, 11, 31}));
  // Depths that are not the file's but as many as its rows: by row, in the
  // order of the file's depths.
  ASSERT_TRUE(match_ensemble(table, {0.1, 0.2, 0.3, 0.4}, members, ages, by_row).ok);
  EXPECT_TRUE(by_row);
  EXPECT_EQ(ages, (std::vector<double>{10, 20, 30, 90, 11, 21, 31, 91}));
  // Neither.
  const Status neither = match_ensemble(table, {1.0, 5.0}, members, ages, by_row);
  EXPECT_NE(neither.message.find("1 of the 2 depths"), std::string::npos) << neither.message;
  NumberTable depths_only{1, {{1.0}, {2.0}}};
  EXPECT_FALSE(match_ensemble(depths_only, {1.0, 2.0}, members, ages, by_row).ok);
}

}  // namespace
}  // namespace quorvane::input
