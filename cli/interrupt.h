// SIGINT and SIGTERM during a command-line run: the run stops at its next
// check, removes its temporary files through the normal code path, keeps
// the files already complete and exits with 128 + the signal's number.
//
// The handler only records the signal in a lock-free atomic, which is all
// an async-signal-safe handler may do. Unlinking registered temporary names
// from the handler itself would stop at once, but would race with the
// threads that create, fill and rename those very files; with a flag each
// file is either renamed complete or removed by the code that made it. The
// runs look at the flag between stages, between the pieces of each file
// and before each Monte Carlo surrogate (the engine sees only a callback).
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <string_view>

namespace quorvane::cli {

// Installs the handlers for SIGINT and SIGTERM (with SA_RESTART, so that
// reads and writes in progress carry on). Later signals of either kind are
// recorded no differently from the first.
void catch_interruptions();

// The number of the first signal received since catch_interruptions, or 0.
int interruption();

// interruption() != 0, as the engine's cancellation callback.
const std::function<bool()>& interrupted();

// The exit status of a run stopped by `signal`: 128 + its number (130 for
// SIGINT, 143 for SIGTERM), as shells report a command ended by it.
int interrupted_status(int signal);

// The line on the error stream that says the run stopped, naming the signal.
std::string interruption_message(int signal);

// Writes "program: " and interruption_message(signal) as a line to err and
// returns interrupted_status(signal): how every command ends a stopped run.
int stopped(std::ostream& err, std::string_view program, int signal);

}  // namespace quorvane::cli
