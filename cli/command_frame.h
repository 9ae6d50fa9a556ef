// What every command that analyses series of files does around its own
// analysis, written once: reading the files and telling what the reading
// passed over, choosing the series, checking the plot device, creating the
// output folder and taking its lock, resolving the jobs, running the items
// with a failure of one kept to that one, stopping at an interruption, and
// writing summary.json. analyse, evolve and coherence are each their own
// analysis inside this frame.
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/folder_lock.h"
#include "cli/options.h"
#include "input/series_table.h"

namespace quorvane::cli {

struct SeriesResult;

// Exit statuses of the command line.
inline constexpr int kAllAnalysed = 0;
inline constexpr int kSomeFailed = 1;
inline constexpr int kUsageError = 2;

// Each step returns true to go on, or false when the run ends there, with
// exit_status() its exit status and its message already written.
class CommandFrame {
 public:
  // `program` begins each line on `err` ("quorvane", "quorvane evolve").
  CommandFrame(std::string program, std::ostream& err) : program_(std::move(program)), err_(err) {}

  // Reads every series of the file of `input` into `table` (and those of
  // `second` into `second_table`, when given) and tells what the reading
  // passed over. An unreadable file is a usage error.
  bool read(const InputOptions& input, input::SeriesTable& table,
            const InputOptions* second = nullptr, input::SeriesTable* second_table = nullptr);
  // The 0-based indices of the series `wanted` names (see select_series).
  bool select(const input::SeriesTable& table, const std::vector<std::string>& wanted,
              std::vector<std::size_t>& chosen);
  // Ends the run as a usage error with `message`.
  bool refuse(const std::string& message);
  // The plot device of --plots, the output folder (created when missing)
  // and its lock, held until the frame ends; --jobs resolved to the number
  // of cores when not given.
  bool prepare_output(OutputOptions& output);
  // The three steps of a command over one file: read, select the series of
  // input.series into `chosen` and prepare the output, with the file-name
  // stem of each chosen series in `stems`.
  bool start(const InputOptions& input, OutputOptions& output, input::SeriesTable& table,
             std::vector<std::size_t>& chosen, std::vector<std::string>& stems);

  // Runs work(i) for i = 0..count-1 on `jobs` threads, reporting
  // progress(done) on the calling thread as items end (see
  // run_in_parallel). Once the run is interrupted, items not yet started are
  // not started; an exception that escapes work(i) is failed(i, message).
  void run_items(std::size_t count, int jobs, const std::function<void(std::size_t)>& work,
                 const std::function<void(std::size_t, const std::string&)>& failed,
                 const std::function<void(std::size_t)>& progress = {});

  // Runs the series `chosen` of `table` one after another, each with every
  // job to itself, as items: series(i) is given its 1-based number, name
  // and file lines before work(i), and fails with the message of an
  // exception that escapes work(i). Unless the run was interrupted (then
  // its status, see interrupted()), tells on err the warnings of each series
  // and each series that failed, and returns kSomeFailed when one did, else
  // kAllAnalysed.
  int run_series(const input::SeriesTable& table, const std::vector<std::size_t>& chosen,
                 const std::function<SeriesResult&(std::size_t)>& series,
                 const std::function<void(std::size_t)>& work);

  // True when the run was interrupted: it ends with the signal's status.
  bool interrupted();
  // Writes `text` as summary.json of `folder`: `status`, or 1 when it
  // cannot be written (the status of the interruption that removed it).
  int write_summary(const std::string& folder, const std::string& text, int status);

  int exit_status() const { return status_; }
  std::ostream& err() const { return err_; }
  const std::string& program() const { return program_; }

 private:
  std::string program_;
  std::ostream& err_;
  FolderLock lock_;
  int status_ = kAllAnalysed;
};

// Reads every series of the input file with the layout and answers of
// `input`, replacing `table`; false with the reason (naming the file and
// the layout, with the reader's own lines) when it cannot.
bool read_file(const InputOptions& input, input::SeriesTable& table, std::string& error);

// Tells on `err`, each line after `program` and ": ", what the reading of
// `table` passed over (a column that gave no series, with the reason) or
// decided on its own (a block of values ended early), so that no column or
// line is lost without a word.
void report_reading(const input::SeriesTable& table, const std::string& program,
                    std::ostream& err);

// Creates the output folder (and its parents) when missing; false with a
// message naming --out when it cannot.
bool create_output_folder(const std::string& folder, std::string& error);

// The 0-based table indices of the series `wanted` names: all series when
// it is empty, else each item in order as a 1-based number or a name
// (compared without trailing blanks). False with `error` naming the first
// item that matches no series.
bool select_series(const input::SeriesTable& table, const std::vector<std::string>& wanted,
                   std::vector<std::size_t>& indices, std::string& error);

// The name without its trailing blanks.
std::string trimmed(std::string name);

}  // namespace quorvane::cli
