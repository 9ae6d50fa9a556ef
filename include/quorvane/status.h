// The outcome of a call into Quorvane: success, or a refusal with a message
// in the program's own words; and a result that holds either a value or
// that refusal.
#pragma once

#include <string>
#include <utility>

namespace quorvane {

// Either success or a message that the caller shows to the user. Ignoring
// one would silently treat a refusal as a result.
struct [[nodiscard]] Status {
  bool ok = true;
  std::string message;  // empty on success

  static Status success() { return {}; }
  static Status failure(std::string text) { return {false, std::move(text)}; }
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
