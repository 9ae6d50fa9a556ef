// Line-by-line input: the common interface of the console and of open files,
// and the file reader that the series readers use.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvane::textio {

// Anything that hands out text lines one at a time.
class LineSource {
 public:
  virtual ~LineSource() = default;
  // Stores the next line (without its line end) in `line`; false at the end.
  virtual bool next_line(std::string& line) = 0;
};

// An input file opened for reading. The whole file is read on `open` into one
// buffer that holds each line once, followed by its line end, so that a
// reader can step back (the line that ended a block is then read again as
// the next block's header) and a file of millions of lines takes little more
// memory than its own size. Carriage returns before the line ends are
// dropped.
class LineReader : public LineSource {
 public:
  // False when the file cannot be opened; the reader is then empty.
  bool open(const std::string& path);
  void close();
  bool is_open() const { return open_; }

  bool next_line(std::string& line) override;
  // The same line as a view of the reader's buffer, valid while the reader
  // lives: no copy, for readers that take one number a line.
  bool next_line(std::string_view& line);
  // Steps back one line, so that the next read returns the last line again.
  // Stepping back before the first line does nothing.
  void back();
  // True when every line has been read.
  bool at_end() const { return offset_ >= text_.size(); }
  // Number of lines read so far (the index of the next line).
  std::size_t position() const { return position_; }
  // What the lines not yet read hold: the length of the longest, and their
  // characters with each line end counted as one. Readers bound the values
  // they take by these, so that a layout cannot conjure more values than
  // the file has characters. The count takes constant time; the longest
  // line is found by one pass over the lines left.
  std::size_t longest_line_left() const;
  std::size_t characters_left() const { return text_.size() - offset_; }

  // Asks `stop` every 65536 lines; once it returns true the reader acts as
  // if the file ended there, and stopped() says so. So a long reading can
  // be interrupted without every reader knowing of it.
  void stop_when(std::function<bool()> stop) { stop_ = std::move(stop); }
  bool stopped() const { return stopped_; }

  // For tests: a reader over given lines (which hold no line ends).
  static LineReader from_lines(const std::vector<std::string>& lines);

 private:
  // Every line followed by '\n', the last one included.
  std::string text_;
  // Where the next line starts in text_.
  std::size_t offset_ = 0;
  std::size_t position_ = 0;
  bool open_ = false;
  std::function<bool()> stop_;
  bool stopped_ = false;
};

}  // namespace quorvane::textio
