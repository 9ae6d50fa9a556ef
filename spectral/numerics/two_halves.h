// Two independent halves of one piece of work, run side by side.
#pragma once

#include <exception>
#include <system_error>
#include <thread>
#include <utility>

namespace quorvane::spectral {

// Runs `there` on a second thread while `here` runs on the calling thread,
// and returns when both have finished. The halves must not touch the same
// data except to read it.
// An exception from either half (bad_alloc in a large solve, say) is
// rethrown on the calling thread once both have finished, the one from
// `here` first; it never ends the program from inside a thread. When no
// second thread can be started, `there` runs on the calling thread after
// `here`, with the same result.
template <typename Here, typename There>
void run_two_halves(Here&& here, There&& there) {
  std::exception_ptr there_failure;
  std::jthread helper;
  try {
    helper = std::jthread([&there, &there_failure] {
      try {
        there();
      } catch (...) {
        there_failure = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    // No thread available: both halves on this one.
  }
  // On an exception from here, the helper's destructor waits for `there`
  // before the exception leaves, so nothing it uses goes out of scope early.
  std::forward<Here>(here)();
  if (helper.joinable()) {
    helper.join();
  } else {
    std::forward<There>(there)();
  }
  if (there_failure) std::rethrow_exception(there_failure);
}

}  // namespace quorvane::spectral
