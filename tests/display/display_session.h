// Helpers of the display tests: a scripted console around a Display, the
// environment variables that choose the plot device, a scratch directory,
// small analyses to plot, and the fixture that sets them up.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "display/display.h"
#include "textio/console.h"

namespace quorvane::display::testing {

// Sets (or, for nullptr, unsets) an environment variable for the lifetime of
// the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    set(value);
  }
  ~ScopedEnv() { set(old_ ? old_->c_str() : nullptr); }

 private:
  void set(const char* value) { value ? setenv(name_.c_str(), value, 1) : unsetenv(name_.c_str()); }
  std::string name_;
  std::optional<std::string> old_;
};

// A fresh empty working directory for the lifetime of the object.
class ScratchDirectory {
 public:
  ScratchDirectory() : old_(std::filesystem::current_path()) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quorvane-display-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
    std::filesystem::current_path(path_);
  }
  ~ScratchDirectory() {
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(path_);
  }
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::filesystem::path old_, path_;
};

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A Display over a scripted console: `answers` are the lines typed.
struct Session {
  explicit Session(const std::string& answers)
      : in(answers), console(in, out, err), display(console) {}
  std::istringstream in;
  std::ostringstream out, err;
  textio::Console console;
  Display display;
};

// Spectra of the series "sunspots" at three frequencies from 0 in steps of
// 0.125, and a reconstruction of four yearly values of "nino12" with mean 2.
// Every value is exact in single precision.
struct Sample {
  std::vector<float> frequency{0.0f, 0.125f, 0.25f};
  std::vector<float> specraw0{123.4f, 0.5f, 2.0e-3f};
  std::vector<float> levels[4] = {{10.0f, 20.0f, 0.5f}, {20.0f, 40.0f, 1.0f},
                                  {30.0f, 60.0f, 1.5f}, {40.0f, 80.0f, 2.0f}};
  std::vector<float> specmed0{3.0f, 0.25f, 1.0e5f};
  std::vector<float> specresh0{40.0f, 0.5f, -0.5f};
  std::vector<float> harmonic0{0.0f, 80.0f, 0.3f};
  std::vector<float> ftest{10.0f, 12.0f, 11.0f};  // alone, its axis would start at 9.75
  std::vector<float> elapsed{0.0f, 1.0f, 2.0f, 3.0f};
  std::vector<float> signal{-0.75f, 0.5f, 1.0f, 0.0f};
  std::vector<float> anomaly{-1.0f, 1.0f, 0.5f, -0.5f};

  PlotInput input(int kind) const {
    PlotInput in{.kind = kind, .x = frequency, .title = "sunspots"};
    switch (kind) {
      case 1: in.curves = {specraw0, levels[0], levels[1], levels[2], levels[3]}; break;
      case 2: in.curves = {specresh0, harmonic0}; break;
      case 3: in.curves = {specmed0}; break;
      case 5:
        in.curves = {ftest};
        in.f_levels = {1.5f, 2.5f, 3.5f, 4.5f};
        break;
      case 6:
        in.x = elapsed;
        in.curves = {signal, anomaly};
        in.title = "nino12  ";
        break;
      default: break;
    }
    return in;
  }
};

// Every test runs in its own scratch directory, without a display, on the
// null plot device unless it chooses another.
class DisplayTest : public ::testing::Test {
 protected:
  ScopedEnv display_{"DISPLAY", nullptr};
  ScopedEnv device_{"QUORVANE_DEVICE", "null"};
  ScratchDirectory directory_;
  Sample sample_;
};

}  // namespace quorvane::display::testing
