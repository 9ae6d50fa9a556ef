// Result of an entry routine of the numerical library: either success or a
// message, in the system's own words, that the caller shows to the user.
#pragma once

#include <string>
#include <utility>

namespace quorvane {

struct Status {
  bool ok = true;
  std::string message;

  static Status success() { return {}; }
  static Status failure(std::string text) { return {false, std::move(text)}; }
  explicit operator bool() const { return ok; }
};

}  // namespace quorvane
