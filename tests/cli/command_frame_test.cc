// The frame every command runs in: its refusals are usage errors written
// after the command's name, a failing item stays that item's, a summary that
// cannot be written fails the run, and an interruption ends every command
// alike.
#include "cli/command_frame.h"

#include <gtest/gtest.h>

#include <csignal>
#include <iostream>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "cli/interrupt.h"
#include "tests/cli/cli_test_support.h"

namespace quorvane::cli {
namespace {

using namespace testing;

TEST(CommandFrame, AFailingItemStaysItsOwnAndAnUnwritableSummaryFailsTheRun) {
  std::ostringstream err;
  CommandFrame frame("quorvane", err);
  std::vector<std::string> done(4), failed(4);
  frame.run_items(
      4, 2,
      [&](std::size_t i) {
        if (i == 2) throw std::runtime_error("no room");
        done[i] = "done";
      },
      [&](std::size_t i, const std::string& message) { failed[i] = message; });
  EXPECT_EQ(done, (std::vector<std::string>{"done", "done", "", "done"}));
  EXPECT_EQ(failed[2], "the analysis stopped: no room");
  EXPECT_FALSE(frame.interrupted());

  const fs::path folder = fresh_folder("frame_summary");
  fs::create_directories(folder);
  EXPECT_EQ(frame.write_summary(folder.string(), "{}\n", kAllAnalysed), kAllAnalysed);
  EXPECT_EQ(file_text(folder / "summary.json"), "{}\n");
  EXPECT_EQ(frame.write_summary((folder / "missing").string(), "{}\n", kAllAnalysed), kSomeFailed);
  EXPECT_NE(err.str().find("quorvane: "), std::string::npos);
}

// Each command ends a run interrupted before its work the same way: the
// status of the signal, its line on the error stream and no summary.
TEST(CommandFrameDeathTest, EveryCommandStopsAtAnInterruptionWithoutASummary) {
  const std::vector<std::vector<std::string>> commands = {
      {"analyse", example("sunspots.dat"), "--layout", "single"},
      {"evolve", example("sunspots.dat"), "--layout", "single", "--window", "100", "--step", "5"},
      {"coherence", example("uk_lung_deaths.csv"), "--layout", "csv"}};
  for (std::vector<std::string> args : commands) {
    const fs::path folder = fresh_folder("interrupted_" + args[0]);
    args.insert(args.end(), {"--out", folder.string(), "--quiet"});
    EXPECT_EXIT(
        {
          catch_interruptions();
          std::raise(SIGINT);
          std::ostringstream out;
          std::_Exit(run_command_line(args, out, std::cerr));
        },
        ::testing::ExitedWithCode(130), "interrupted by SIGINT")
        << args[0];
    EXPECT_FALSE(fs::exists(folder / "summary.json")) << args[0];
  }
}

}  // namespace
}  // namespace quorvane::cli
