// Helpers of the display tests: a scripted console around a Display, the
// environment variables that choose the plot device, a scratch directory,
// and small analyses to plot.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "display/display.h"
#include "textio/console.h"

namespace quorvane::display::testing {

// Sets or unsets an environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// A fresh empty working directory for the lifetime of the object.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quorvane-display-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
  }
  ~ScratchDirectory() {
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(path_);
  }
  const std::filesystem::path& path() const { return path_; }
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::filesystem::path path_, old_;
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

// A small spectrum analysis: nf = 4 bins from 0 in steps of 0.125, so three
// points are plotted; every value is exact in single precision.
struct SmallAnalysis {
  std::vector<float> specraw0{123.4f, 0.5f, 2.0e-3f, 7.0f};
  std::vector<float> specmed0{3.0f, 0.25f, 1.0e5f, 7.0f};
  std::vector<float> specresh0{40.0f, 0.5f, -0.5f, 7.0f};
  std::vector<float> harmonic0{0.0f, 80.0f, 0.125f, 7.0f};
  std::vector<float> specback0{10.0f, 20.0f, 0.5f, 7.0f};
  std::vector<float> ftest{0.5f, 12.0f, 3.0f, 7.0f};

  PlotInput input(int iplot, int nf = 4) const {
    PlotInput in;
    in.n = nf;
    in.x0 = 0.0f;
    in.dx = 0.125f;
    in.specraw0 = specraw0;
    in.specmed0 = specmed0;
    in.specresh0 = specresh0;
    in.harmonic0 = harmonic0;
    in.specback0 = specback0;
    in.ftest = ftest;
    in.conf = {1.0f, 2.0f, 3.0f, 4.0f};
    in.fconf = {1.5f, 2.5f, 3.5f, 4.5f, 9.0f, 9.0f};
    in.iplot = iplot;
    in.title = "sunspots";
    return in;
  }
};

// A reconstruction of four yearly values with mean 2.
struct SmallReconstruction {
  std::vector<float> y{1.0f, 3.0f, 2.5f, 1.5f};
  std::vector<float> signal{-0.75f, 0.5f, 1.0f, 0.0f};

  PlotInput input() const {
    PlotInput in;
    in.n = 4;
    in.x0 = 2.0f;
    in.dx = 1.0f;
    in.iplot = 6;
    in.title = "nino12  ";
    in.y = y;
    in.signal = signal;
    return in;
  }
};

}  // namespace quorvane::display::testing
