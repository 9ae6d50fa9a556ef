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
  index_lines();
  open_ = true;
  return true;
}

void LineReader::close() {
  lines_.clear();
  characters_from_.clear();
  longest_from_.clear();
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

void LineReader::index_lines() {
  characters_from_.assign(lines_.size() + 1, 0);
  longest_from_.assign(lines_.size() + 1, 0);
  for (std::size_t i = lines_.size(); i-- > 0;) {
    characters_from_[i] = characters_from_[i + 1] + lines_[i].size() + 1;
    longest_from_[i] = std::max(longest_from_[i + 1], lines_[i].size());
  }
}

std::size_t LineReader::longest_line_left() const {
  return position_ < longest_from_.size() ? longest_from_[position_] : 0;
}

std::size_t LineReader::characters_left() const {
  return position_ < characters_from_.size() ? characters_from_[position_] : 0;
}

LineReader LineReader::from_lines(std::vector<std::string> lines) {
  LineReader reader;
  reader.lines_ = std::move(lines);
  reader.index_lines();
  reader.open_ = true;
  return reader;
}

}  // namespace quorvane::textio
