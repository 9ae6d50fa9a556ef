#include "cli/interrupt.h"

#include <csignal>
#include <atomic>

namespace quorvane::cli {

namespace {

std::atomic<int> received{0};
static_assert(std::atomic<int>::is_always_lock_free,
              "the signal handler may only touch a lock-free atomic");

extern "C" void record_signal(int signal) {
  int none = 0;
  received.compare_exchange_strong(none, signal);
}

}  // namespace

void catch_interruptions() {
  struct sigaction action = {};
  action.sa_handler = record_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int interruption() { return received.load(); }

const std::function<bool()>& interrupted() {
  static const std::function<bool()> check = [] { return interruption() != 0; };
  return check;
}

int interrupted_status(int signal) { return 128 + signal; }

std::string interruption_message(int signal) {
  const char* name = signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "a signal";
  return std::string("interrupted by ") + name +
         ": the files completed so far are kept, no summary.json is written";
}

int stopped(std::ostream& err, std::string_view program, int signal) {
  err << program << ": " << interruption_message(signal) << "\n";
  return interrupted_status(signal);
}

}  // namespace quorvane::cli
