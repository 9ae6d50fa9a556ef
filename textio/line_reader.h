// Line-by-line input: the common interface of the console and of open files,
// and the file reader that the series readers use.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quorvane::textio {

// Anything that hands out text lines one at a time.
class LineSource {
 public:
  virtual ~LineSource() = default;
  // Stores the next line (without its line end) in `line`; false at the end.
  virtual bool next_line(std::string& line) = 0;
};

// An input file opened for reading. The whole file is read on `open`, so a
// reader can step back one line (the line that ended a block is then read
// again as the next block's header). Carriage returns before the line ends
// are dropped.
class LineReader : public LineSource {
 public:
  // False when the file cannot be opened; the reader is then empty.
  bool open(const std::string& path);
  void close();
  bool is_open() const { return open_; }

  bool next_line(std::string& line) override;
  // Steps back one line, so that the next read returns the last line again.
  // Stepping back before the first line does nothing.
  void back();
  // True when every line has been read.
  bool at_end() const { return position_ >= lines_.size(); }
  // Number of lines read so far (the index of the next line).
  std::size_t position() const { return position_; }
  // What the lines not yet read hold: the length of the longest, and their
  // characters with each line end counted as one. Readers bound the values
  // they take by these, so that a layout cannot conjure more values than
  // the file has characters. Both take constant time.
  std::size_t longest_line_left() const;
  std::size_t characters_left() const;

  // For tests: a reader over given lines.
  static LineReader from_lines(std::vector<std::string> lines);

 private:
  void index_lines();

  std::vector<std::string> lines_;
  // From line i to the end: the characters (line ends counted) and the
  // longest line; one entry more than there are lines.
  std::vector<std::size_t> characters_from_;
  std::vector<std::size_t> longest_from_;
  std::size_t position_ = 0;
  bool open_ = false;
};

}  // namespace quorvane::textio
