#include "textio/line_reader.h"

#include <algorithm>
#include <fstream>

namespace quorvane::textio {

bool LineReader::open(const std::string& path) {
  close();
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines_.push_back(std::move(line));
  }
  open_ = true;
  return true;
}

void LineReader::close() {
  lines_.clear();
  position_ = 0;
  open_ = false;
}

bool LineReader::next_line(std::string& line) {
  if (position_ >= lines_.size()) return false;
  line = lines_[position_++];
  return true;
}

void LineReader::back() {
  if (position_ > 0) --position_;
}

std::size_t LineReader::longest_line_left() const {
  std::size_t longest = 0;
  for (std::size_t i = position_; i < lines_.size(); ++i) longest = std::max(longest, lines_[i].size());
  return longest;
}

std::size_t LineReader::characters_left() const {
  std::size_t characters = 0;
  for (std::size_t i = position_; i < lines_.size(); ++i) characters += lines_[i].size() + 1;
  return characters;
}

LineReader LineReader::from_lines(std::vector<std::string> lines) {
  LineReader reader;
  reader.lines_ = std::move(lines);
  reader.open_ = true;
  return reader;
}

}  // namespace quorvane::textio
