// The outcome of a call into Quorvane: success, or a refusal with a message
// in the program's own words; and a result that holds either a value or
// that refusal.
#pragma once

#include <string>
#include <utility>

namespace quorvane {

// What kind of failure a Status reports, so that a caller can act on it
// without reading the message: input or settings refused, a run stopped
// because the caller asked (its cancellation test said so), memory that
// the machine could not give, or a file that could not be read or written.
enum class StatusCode { ok, refused, interrupted, out_of_memory, file_error };

// Either success or a message that the caller shows to the user, in plain
// text (no console layout: the interface that shows it adds its own).
// Ignoring one would silently treat a refusal as a result.
struct [[nodiscard]] Status {
  bool ok = true;
  std::string message;  // empty on success
  StatusCode code = StatusCode::ok;

  static Status success() { return {}; }
  static Status failure(std::string text, StatusCode code = StatusCode::refused) {
    return {false, std::move(text), code};
  }
  static Status interrupted(std::string text) {
    return failure(std::move(text), StatusCode::interrupted);
  }
  static Status out_of_memory(std::string text) {
    return failure(std::move(text), StatusCode::out_of_memory);
  }
  static Status file_error(std::string text) {
    return failure(std::move(text), StatusCode::file_error);
  }
  explicit operator bool() const { return ok; }
};

// The value of a call that succeeded, or the Status of one that was refused.
// A refused result holds an empty (default-constructed) value, so reading it
// by mistake gives no data rather than undefined behaviour.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}  // implicit: `return spectrum;`
  Result(Status refusal) : status_(std::move(refusal)) {  // implicit: `return status;`
    if (status_.ok) status_ = Status::failure("a refusal without a message");
  }

  bool ok() const { return status_.ok; }
  explicit operator bool() const { return ok(); }
  const Status& status() const { return status_; }
  const std::string& message() const { return status_.message; }

  T& value() & { return value_; }
  const T& value() const& { return value_; }
  T&& value() && { return std::move(value_); }
  T* operator->() { return &value_; }
  const T* operator->() const { return &value_; }
  T& operator*() & { return value_; }
  const T& operator*() const& { return value_; }

 private:
  T value_{};
  Status status_;
};

}  // namespace quorvane
