// The real program binary, driven through its standard streams.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the binary in a scratch directory with `input` on its standard input.
Outcome run_binary(const std::string& input, const std::string& environment = "") {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() /
                 ("quorvane_binary_" + std::to_string(::getpid()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::create_directories(dir);
  {
    std::ofstream(dir / "input.txt") << input;
  }
  std::string command = "cd '" + dir.string() + "' && " + environment + " '" + QUORVANE_BINARY +
                        "' < input.txt > out.txt 2> err.txt";
  int raw = std::system(command.c_str());
  Outcome outcome;
  outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  auto slurp = [](const fs::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  };
  outcome.out = slurp(dir / "out.txt");
  outcome.err = slurp(dir / "err.txt");
  fs::remove_all(dir);
  return outcome;
}

const std::string kSunspots = std::string(QUORVANE_SOURCE_DIR) + "/examples/sunspots.dat";

TEST(Binary, ScriptedSessionRunsASpectrumAndQuitsAndRunningOutOfAnswersEndsPromptly) {
  Outcome o = run_binary(kSunspots + "\n3\n1\nf\n0\nc\nc\nc\nc\n8\n", "QUORVANE_DEVICE=null");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("plot options menu"), std::string::npos);
  EXPECT_NE(o.out.find("\n quitting...\n"), std::string::npos);
  o = run_binary(kSunspots + "\n3\n1\nf\n", "QUORVANE_DEVICE=null");
  EXPECT_NE(o.status, 0);
  EXPECT_EQ(o.err, " Input ended before the dialogue was finished; quorvane stops.\n");
}

}  // namespace
