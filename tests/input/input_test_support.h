// Shared helpers of the series-input tests.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "textio/console.h"

namespace quorvane::input::testing {

// A console over scripted answers that records everything written.
struct Dialogue {
  explicit Dialogue(std::string answers) : in(std::move(answers)) {}
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  textio::Console console{in, out, err};
};

// A file of `lines` (each followed by a line end) under the temporary
// directory, named after this process so parallel test programs do not
// share it, and removed with the object.
class TempFile {
 public:
  explicit TempFile(const std::vector<std::string>& lines)
      : path_((std::filesystem::temp_directory_path() /
               ("quorvane_input_" + std::to_string(::getpid()) + ".dat"))
                  .string()) {
    std::ofstream file(path_, std::ios::binary);
    for (const auto& line : lines) file << line << '\n';
  }
  ~TempFile() { std::filesystem::remove(path_); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A line whose column 80 marks a self-describing ring-width series.
inline std::string marked(std::string text) {
  text.resize(79, ' ');
  return text + '#';
}

}  // namespace quorvane::input::testing
