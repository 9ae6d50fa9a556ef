#include "textio/console.h"

#include <istream>
#include <ostream>

#include "textio/free_format.h"

namespace quorvane::textio {
namespace {

constexpr std::string_view kNotAWholeNumber = " Please enter a whole number.";
constexpr std::string_view kNotANumber = " Please enter a number.";
constexpr std::string_view kNotALogical = " Please answer T (true) or F (false).";

}  // namespace

void Console::line(std::string_view text) { out_ << text << '\n'; }

void Console::blank_line() { out_ << '\n'; }

void Console::prompt(std::string_view text) {
  out_ << text;
  out_.flush();
}

void Console::write(const Record& record) {
  out_ << record.text;
  if (record.advance) {
    out_ << '\n';
  } else {
    out_.flush();
  }
}

void Console::write(std::string_view layout, const std::vector<Value>& values) {
  write(write_record(RecordLayout::fixed(layout), values));
}

void Console::write_free(const std::vector<Value>& items) { line(free_line(items)); }

void Console::error_line(std::string_view text) {
  out_.flush();
  err_ << text << '\n';
  err_.flush();
}

bool Console::next_line(std::string& text) {
  out_.flush();
  if (!std::getline(in_, text)) return false;
  if (!text.empty() && text.back() == '\r') text.pop_back();
  return true;
}

std::string Console::read_line() {
  std::string text;
  if (!next_line(text)) throw EndOfInput();
  return text;
}

long long Console::ask_fixed_integer(std::string_view question, int width) {
  while (true) {
    prompt(question);
    std::string answer = read_line();
    std::string digits;
    for (std::size_t i = 0; i < answer.size() && i < static_cast<std::size_t>(width); ++i)
      if (answer[i] != ' ' && answer[i] != '\t') digits += answer[i];
    long long value = 0;
    if (digits.empty() || parse_integer(digits, value)) return value;
    line(kNotAWholeNumber);
  }
}

long long Console::ask_integer(std::string_view question) {
  while (true) {
    prompt(question);
    FreeRead read(*this);
    long long value = 0;
    ReadStatus status = read.integer(value);
    if (status == ReadStatus::End) throw EndOfInput();
    if (status == ReadStatus::Ok) return value;
    line(kNotAWholeNumber);
  }
}

float Console::ask_real(std::string_view question) {
  while (true) {
    prompt(question);
    FreeRead read(*this);
    float value = 0.0f;
    ReadStatus status = read.real(value);
    if (status == ReadStatus::End) throw EndOfInput();
    if (status == ReadStatus::Ok) return value;
    line(kNotANumber);
  }
}

bool Console::ask_logical(std::string_view question) {
  while (true) {
    prompt(question);
    FreeRead read(*this);
    std::string token;
    ReadStatus status = read.token(token);
    if (status == ReadStatus::End) throw EndOfInput();
    bool value = false;
    if (parse_logical(token, value)) return value;
    line(kNotALogical);
  }
}

std::string Console::ask_text(std::string_view question) {
  prompt(question);
  return read_line();
}

void Console::pause(std::string_view message) {
  line(message);
  read_line();
}

void Console::stop(std::string_view message, int status) {
  error_line(message);
  throw ProgramStop(std::string(message), status);
}

}  // namespace quorvane::textio
