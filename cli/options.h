// The options of the commands: the declarations of analyse, evolve and
// coherence made from the one vocabulary (api/vocabulary.h), the parsing of
// `quorvane analyse`, and the checks of options that contradict each other.
//
// Every analysis option left out takes the value the dialogue would start
// from for the chosen series; those values depend on the series, so an
// option that is not given stays empty here and the defaults are applied per
// series (see cli/batch.h).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "api/options.h"
#include "api/vocabulary.h"
#include "input/layouts.h"

namespace CLI {
class App;
}  // namespace CLI

namespace quorvane::cli {

// The options are those of the public functions' layer beneath
// (api/options.h): one record for every command, each using its part.
using api::AnalysisOptions;
using api::InputOptions;
using api::OutputOptions;
using api::ReconOptions;
using api::SignificanceOptions;
using Options = api::RunOptions;

// What the command line asks for.
struct ParseOutcome {
  bool run = false;     // run the command with the options parsed
  int exit_status = 0;  // when not run: 0 after --help or --version, 2 for a usage error
};

// Parses the arguments after the program name. Writes --help and --version
// to `out`; a usage error goes to `err` as one message naming the option,
// followed by a hint to --help. `options` is complete only when the outcome
// says to run. The options are those of `table` that analyse takes.
ParseOutcome parse_command_line(const std::vector<std::string>& args, Options& options,
                                std::ostream& out, std::ostream& err,
                                const api::Vocabulary& table = api::vocabulary());

// The names of the input layouts, by code 1..8.
using input::layout_names;

// The names of the --sampling choices, by code 0..4.
const std::vector<std::string>& sampling_names();

// Declares on `app` every option of `table` that `command` takes, in the
// table's order (an option may ask to come before another), each with its
// group, help and check, writing into `options`; coherence's FILE_B gets
// the layout options again with "-b", for `options.pair.second`. The
// descriptions are then broken into lines that fit the help.
void add_options(CLI::App& app, api::Command command, Options& options,
                 const api::Vocabulary& table = api::vocabulary());

// Layout options given for a layout that does not take them, or missing
// where the layout needs them: a failure naming the options, or success.
Status layout_contradiction(const InputOptions& input,
                            const api::Vocabulary& table = api::vocabulary());

// Options that each make sense alone but not together, or that a layout
// needs: a failure naming the options, or success.
Status contradiction(const Options& options);

// Parses `args` with `app` (the arguments after the command), writing the
// help (`help(app)`) to `out` or a usage error to `err`, each line after
// `program`.
ParseOutcome parse_arguments(CLI::App& app, const std::vector<std::string>& args,
                             const std::string& program,
                             std::string (*help)(const CLI::App& app), std::ostream& out,
                             std::ostream& err);

// A usage error: the message after `program` on `err`, and the hint to
// --help.
ParseOutcome usage_error(const std::string& program, const std::string& message,
                         std::ostream& err);

}  // namespace quorvane::cli
