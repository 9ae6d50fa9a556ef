// summary.json: one record of a command-line run, from the program version
// and the input through the settings to every series' results and files.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/series_run.h"
#include "input/series_table.h"

namespace quorvane::cli {

// The summary text (JSON, two-space indented, keys in a fixed order) of a
// run with `options` over `results`, in the order of the series chosen.
// Numbers are written in their shortest exact form; infinities and NaNs,
// which JSON cannot hold, as null; bytes of names that are not UTF-8 as
// U+FFFD. Holds nothing that depends on --jobs,
// so the text is the same for any number of jobs.
// The pieces of the summary that other commands' summaries share.
using Json = nlohmann::ordered_json;
// A float as JSON: the double that prints as the float's shortest text, so
// that the summary shows "0.1" where the float holds 0.1f; null for an
// infinity or a NaN, which JSON cannot hold.
Json json_number(float value);
// The first keys of every summary: the program, its version and, for a
// command other than analyse, the command.
Json summary_header(const std::string& command = "");
// The text of a summary: two-space indented, bytes of names that are not
// UTF-8 as U+FFFD, and a final newline.
std::string summary_dump(const Json& summary);
// The input file, its layout, the layout's parameters and the series chosen.
Json input_json(const InputOptions& input);
// Adds to an input block what the reading of `table` passed over or
// decided on its own: "skipped_columns" (name and reason of each column of
// a csv file that gave no series; always there for csv) and "notes" (lines
// that ended a block early; only when there are some).
void add_reading(Json& input, const input::SeriesTable& table);
// Adds "first_line" and "last_line" to a series block when they are known.
void add_lines(Json& block, const SeriesResult& s);
// The first keys of a series block: name, number, status, the message of a
// failure and the file lines.
Json series_head(const SeriesResult& s);
// Adds the refinements of the estimate: median_bias_correction,
// concentrations and pad.
void add_refinements(Json& block, const SignificanceOptions& g);
// The analysis settings a series was run with.
Json series_settings_json(const api::AnalysisRecord& r);

std::string summary_text(const Options& options, const std::vector<SeriesResult>& results,
                         const input::SeriesTable& table = {});

// What a spectrum file holds besides its columns, as the summary records it
// for an analysed series `s`: program, version, the input block, the
// series' name (as "series"), number, npts, dt, sampling, first_time,
// bandwidth and rho, and under "settings" the run's settings together with
// the series' own.
Json spectrum_attributes(const Options& options, const SeriesResult& s);

}  // namespace quorvane::cli
