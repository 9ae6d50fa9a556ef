// The console of the dialogue: line output, prompts and answers over three
// injectable streams, so that whole dialogues run in tests as they run at the
// terminal.
//
// Every question that reads a number or a logical asks again after a one-line
// warning when the answer cannot be read. The end of the input stream at any
// question or pause throws EndOfInput; a stop with a message (a reader error
// that ends the program) throws ProgramStop. The program's main routine turns
// both into a message on the error stream and a non-zero exit status, so a
// scripted run that runs out of answers always ends at once.
#pragma once

#include <exception>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "textio/layout.h"
#include "textio/line_reader.h"

namespace quorvane::textio {

// The input stream ended while the program waited for an answer.
struct EndOfInput : std::exception {
  const char* what() const noexcept override { return "end of input"; }
};

// The program stops with a message (already written to the error stream).
struct ProgramStop : std::exception {
  explicit ProgramStop(std::string text, int exit_status = 1)
      : message(std::move(text)), status(exit_status) {}
  const char* what() const noexcept override { return message.c_str(); }
  std::string message;
  int status;
};

// The writing half of the console: lines, records and free-format lines
// to an output and an error stream. What takes its answers as arguments
// writes through a Writer, and so can never wait for an answer.
class Writer {
 public:
  Writer(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

  // Writes `text` and a line end. Callers include the leading blank.
  void line(std::string_view text);
  // Writes an empty line.
  void blank_line();
  // Writes `text` without a line end and flushes: the answer follows on the
  // same line.
  void prompt(std::string_view text);
  // Writes a record built with a layout (see layout.h); prompts ending in '$'
  // stay on their line.
  void write(const Record& record);
  void write(const RecordLayout& layout, const std::vector<Value>& values = {});
  void write(BuiltinLayout layout, const std::vector<Value>& values = {});
  // Writes a free-format line (one leading blank, see free_format.h).
  void write_free(const std::vector<Value>& items);
  // Writes a line to the error stream.
  void error_line(std::string_view text);

  std::ostream& out() { return out_; }

 protected:
  std::ostream& out_;
  std::ostream& err_;
};

// The whole console: the writer and the questions.
class Console : public Writer, public LineSource {
 public:
  Console(std::istream& in, std::ostream& out, std::ostream& err) : Writer(out, err), in_(in) {}

  // Reads one answer line; throws EndOfInput at the end of the input.
  std::string read_line();
  // LineSource: false at the end of the input (used by free-format reads).
  bool next_line(std::string& line) override;

  // Questions. Each writes `prompt` (which may be empty when the question was
  // already written), reads the answer and asks again after a warning until
  // the answer can be read.
  // Integer from the first `width` characters, blanks ignored, empty = 0.
  long long ask_fixed_integer(std::string_view prompt, int width);
  // First free-format value of the answer.
  long long ask_integer(std::string_view prompt);
  float ask_real(std::string_view prompt);
  // T/t or F/f, optionally after a period.
  bool ask_logical(std::string_view prompt);
  // The whole answer line as typed.
  std::string ask_text(std::string_view prompt);

  // Writes `message` as a line and waits for RETURN (one line read, ignored).
  void pause(std::string_view message);
  // Writes `message` to the error stream and stops the program.
  [[noreturn]] void stop(std::string_view message, int status = 1);

 private:
  std::istream& in_;
};

}  // namespace quorvane::textio
