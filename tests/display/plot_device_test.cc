// The PLplot wrapper on its own: a fatal PLplot error ends only the stream,
// and refused calls are collected instead of printed.
#include "display/plot_device.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "display_session.h"

namespace quorvane::display {
namespace {

using testing::ScratchDirectory;

TEST(PlotDevice, AFatalPlplotErrorEndsTheStreamNotTheProgram) {
  ScratchDirectory directory;
  PlotDevice plot;
  // The memory device gives up at once without a program-supplied canvas.
  EXPECT_FALSE(plot.begin("mem", "", StreamColours{}));
  EXPECT_FALSE(plot.is_open());
  EXPECT_NE(plot.failure(), "");
  plot.line(std::vector<float>{0.0f, 1.0f}, std::vector<float>{0.0f, 1.0f});  // ignored

  // PLplot works normally afterwards.
  ASSERT_TRUE(plot.begin("svg", "after.svg", StreamColours{})) << plot.failure();
  EXPECT_EQ(plot.failure(), "");
  plot.advance_page();
  plot.viewport(0.1, 0.9, 0.1, 0.9);
  plot.window(0.0, 1.0, 0.0, 1.0);
  plot.colour(16);
  plot.line_style(9);
  plot.line(std::vector<float>{0.0f, 1.0f}, std::vector<float>{0.0f, 1.0f});
  plot.end();
  EXPECT_EQ(plot.take_refusals(),
            (std::vector<std::string>{"plcol0: Invalid color map entry: 16",
                                      "pllsty: Invalid line style"}));
  EXPECT_TRUE(plot.take_refusals().empty());
  EXPECT_GT(std::filesystem::file_size("after.svg"), 100u);
}

}  // namespace
}  // namespace quorvane::display
