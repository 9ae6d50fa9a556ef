#include "textio/line_reader.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace quorvane::textio {

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Appends the rest of `file` to `text`. Each read fills the room that is
// reserved (the whole file, when its size is known up front); more room is
// taken by doubling, so that the appends stay linear in the size.
bool read_all(std::FILE* file, std::string& text) {
  std::size_t size = text.size();
  while (true) {
    const std::size_t room = std::max<std::size_t>(text.capacity() - size, std::size_t{1} << 16);
    text.resize(size + room);
    const std::size_t got = std::fread(text.data() + size, 1, room, file);
    size += got;
    if (got < room) break;
  }
  text.resize(size);
  return !std::ferror(file);
}

// Drops the carriage return before each line end and ends the last line,
// in place: what is left is each line once, followed by '\n'.
void normalise_line_ends(std::string& text) {
  // Most files have no carriage return at all: the text up to the first one
  // stays where it is, and is not copied onto itself byte by byte.
  std::size_t kept = std::min(text.find('\r'), text.size());
  for (std::size_t i = kept; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' && (i + 1 == text.size() || text[i + 1] == '\n')) continue;
    text[kept++] = c;
  }
  text.resize(kept);
  if (!text.empty() && text.back() != '\n') text.push_back('\n');
}

}  // namespace

bool LineReader::open(const std::string& path) {
  close();
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return false;
  if (std::fseek(file.get(), 0, SEEK_END) == 0) {
    long size = std::ftell(file.get());
    // One more than the size, so that the read that finds the end of the
    // file has room and the final line end needs no copy.
    if (size > 0) text_.reserve(static_cast<std::size_t>(size) + 1);
    std::rewind(file.get());
  }
  if (!read_all(file.get(), text_)) {
    close();
    return false;
  }
  normalise_line_ends(text_);
  open_ = true;
  return true;
}

void LineReader::close() {
  text_.clear();
  text_.shrink_to_fit();
  offset_ = 0;
  position_ = 0;
  open_ = false;
}

bool LineReader::next_line(std::string& line) {
  std::string_view view;
  if (!next_line(view)) return false;
  line.assign(view);
  return true;
}

bool LineReader::next_line(std::string_view& line) {
  if (offset_ >= text_.size() || stopped_) return false;
  if (stop_ && position_ % 65536 == 0 && stop_()) {
    stopped_ = true;
    return false;
  }
  const std::size_t end = text_.find('\n', offset_);
  line = std::string_view(text_).substr(offset_, end - offset_);
  offset_ = end + 1;
  ++position_;
  return true;
}

void LineReader::back() {
  if (position_ == 0) return;
  // offset_ follows the line end of the last line read; that line starts
  // after the line end before it, or at the top.
  const std::size_t last_end = offset_ - 1;
  const std::size_t before = last_end == 0 ? std::string::npos : text_.rfind('\n', last_end - 1);
  offset_ = before == std::string::npos ? 0 : before + 1;
  --position_;
}

std::size_t LineReader::longest_line_left() const {
  std::size_t longest = 0;
  for (std::size_t start = offset_; start < text_.size();) {
    const std::size_t end = text_.find('\n', start);
    longest = std::max(longest, end - start);
    start = end + 1;
  }
  return longest;
}

LineReader LineReader::from_lines(const std::vector<std::string>& lines) {
  LineReader reader;
  std::size_t size = 0;
  for (const std::string& line : lines) size += line.size() + 1;
  reader.text_.reserve(size);
  for (const std::string& line : lines) {
    reader.text_ += line;
    reader.text_ += '\n';
  }
  reader.open_ = true;
  return reader;
}

}  // namespace quorvane::textio
