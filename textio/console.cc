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

void Writer::line(std::string_view text) { out_ << text << '\n'; }

void Writer::blank_line() { out_ << '\n'; }

void Writer::prompt(std::string_view text) {
  out_ << text;
  out_.flush();
}

void Writer::write(const Record& record) {
  out_ << record.text;
  if (record.advance) {
    out_ << '\n';
  } else {
    out_.flush();
  }
}

void Writer::write(const RecordLayout& layout, const std::vector<Value>& values) {
  write(write_record(layout, values));
}

void Writer::write(BuiltinLayout layout, const std::vector<Value>& values) {
  write(write_record(layout.layout(), values));
}

void Writer::write_free(const std::vector<Value>& items) { line(free_line(items)); }

void Writer::error_line(std::string_view text) {
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

namespace {

// Asks `question` until `read` takes a value from one free-format read; the
// end of the input ends the dialogue.
template <typename T, typename Read>
T ask_free(Console& console, std::string_view question, std::string_view warning, Read read) {
  while (true) {
    console.prompt(question);
    FreeRead answer(console);
    T value{};
    ReadStatus status = read(answer, value);
    if (status == ReadStatus::End) throw EndOfInput();
    if (status == ReadStatus::Ok) return value;
    console.line(warning);
  }
}

}  // namespace

long long Console::ask_integer(std::string_view question) {
  return ask_free<long long>(*this, question, kNotAWholeNumber,
                             [](FreeRead& answer, long long& value) { return answer.integer(value); });
}

float Console::ask_real(std::string_view question) {
  return ask_free<float>(*this, question, kNotANumber,
                         [](FreeRead& answer, float& value) { return answer.real(value); });
}

bool Console::ask_logical(std::string_view question) {
  return ask_free<bool>(*this, question, kNotALogical, [](FreeRead& answer, bool& value) {
    std::string token;
    ReadStatus status = answer.token(token);
    if (status != ReadStatus::Ok) return status;
    return parse_logical(token, value) ? ReadStatus::Ok : ReadStatus::Error;
  });
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
