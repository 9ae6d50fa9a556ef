// Shared helpers of the series-input tests: scripted consoles, temporary
// files, and the fixed screens of the dialogue.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "input/series_table.h"
#include "input/setup.h"
#include "textio/console.h"
#include "textio/line_reader.h"

namespace quorvane::input::testing {

// A console over scripted answers that records everything written.
struct Dialogue {
  explicit Dialogue(std::string answers) : in(std::move(answers)) {}
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  textio::Console console{in, out, err};
};

// SeriesInput with the caller's variables, driven by scripted answers.
struct Session {
  SeriesInput input;
  int npts = -1;
  float dt = -1.0f;
  std::vector<float> y;
  std::string title;
  int ireuse = 0;
  bool ran_out = false;  // the answers ended before setup returned

  // Runs setup on `path`; returns everything written to the console.
  std::string run(const std::string& path, const std::string& answers) {
    Dialogue dialogue(answers);
    try {
      input.setup(dialogue.console, 17, path, npts, dt, y, title, ireuse);
    } catch (const textio::EndOfInput&) {
      ran_out = true;
    }
    return dialogue.out.str();
  }
};

// Runs a table reader on `lines` with scripted answers; returns its lok and
// (in `out`) what it wrote.
using Reader = bool (*)(textio::Console&, textio::LineReader&, SeriesTable&);
inline bool read_table(Reader reader, std::vector<std::string> lines, const std::string& answers,
                 SeriesTable& table, std::string* out = nullptr) {
  Dialogue dialogue(answers);
  auto file = textio::LineReader::from_lines(std::move(lines));
  bool lok = reader(dialogue.console, file, table);
  if (out) *out = dialogue.out.str();
  return lok;
}

inline bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A directory of its own for the running test, removed afterwards.
class TempDir {
 public:
  TempDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            ("quorvane_input_" + std::to_string(::getpid()) + "_" + info->test_suite_name() + "_" +
             info->name());
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Writes `lines` (each followed by a line end) to `name`; returns its path.
  std::string write(const std::string& name, const std::vector<std::string>& lines) const {
    std::string path = (path_ / name).string();
    std::ofstream file(path, std::ios::binary);
    for (const auto& line : lines) file << line << '\n';
    return path;
  }

 private:
  std::filesystem::path path_;
};

inline textio::LineReader reader_of(std::vector<std::string> lines) {
  return textio::LineReader::from_lines(std::move(lines));
}

// The format menu as the dialogue writes it, up to and including its prompt.
inline const std::string kFormatMenu =
    "\n"
    " ____    Input Data Format Menu     ____\n"
    " ________________________________________\n"
    " Raw ring-widths (decade)             [1] \n"
    " Chronologies (index)                 [2] \n"
    " Single Column                        [3]\n"
    " Two Column                           [4]\n"
    " Multiple Columns                     [5]\n"
    " Monthly Climate [TSF]                [6]\n"
    " Other                                [7]\n"
    " Enter zero for help                  [0]  \n"
    " ________________________________________\n"
    " Enter a value between       [0-7]   : ";

inline const std::string kTryAgain = "             Hit RETURN to try again\n";

inline const std::string kSelectionHead =
    "\n"
    "  _____________________ Series selection menu _____________________\n"
    " ____________________________________________________________________\n";
inline const std::string kSelectionRule =
    " ____________________________________________________________________\n";

inline const std::string kViewQuestion =
    "\n"
    " Do you want to view the data you just selected?\n"
    " [T]rue or [F]alse : ";

}  // namespace quorvane::input::testing
