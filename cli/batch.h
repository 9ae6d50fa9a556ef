// `quorvane analyse`: every chosen series of one file analysed without
// questions, in parallel, into CSV files and one summary.json.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/options.h"
#include "input/series_table.h"

namespace quorvane::cli {

struct SeriesResult;

// Exit statuses of the command line.
inline constexpr int kAllAnalysed = 0;
inline constexpr int kSomeFailed = 1;
inline constexpr int kUsageError = 2;

// Runs the command line given by `args` (the arguments after the program
// name): --help, --version, analyse, evolve or coherence (see
// cli/evolve_command.h and cli/coherence_command.h). Results go to files; `out` gets help,
// the version and, unless --quiet, one line per series; `err` gets the
// errors and, when it is a terminal, a progress line. Returns the exit
// status: 0 when every chosen series was analysed, 1 when some failed (the
// others' files are still written), 2 for a usage error (nothing written),
// 128 + the signal's number when SIGINT or SIGTERM stopped the run (see
// cli/interrupt.h; the files already complete stay, no summary is written).
int run_command_line(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Runs an analysis with parsed options; as run_command_line.
int run_analyse(Options options, std::ostream& out, std::ostream& err);

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

// The file lines of the first and last value of series `index` of `table`
// into `result`, when its layout keeps them.
void set_lines(const input::SeriesTable& table, std::size_t index, SeriesResult& result);

// Creates the output folder (and its parents) when missing; false with a
// message naming --out when it cannot.
bool create_output_folder(const std::string& folder, std::string& error);

// The 0-based table indices of the series `wanted` names: all series when
// it is empty, else each item in order as a 1-based number or a name
// (compared without trailing blanks). False with `error` naming the first
// item that matches no series.
bool select_series(const input::SeriesTable& table, const std::vector<std::string>& wanted,
                   std::vector<std::size_t>& indices, std::string& error);

}  // namespace quorvane::cli
