#include "cli/batch.h"

#include <fmt/format.h>
#include <unistd.h>

#include <chrono>
#include <iostream>

#include "cli/coherence_command.h"
#include "cli/ensemble_command.h"
#include "cli/evolve_command.h"
#include "cli/files.h"
#include "cli/series_run.h"
#include "cli/summary.h"

namespace quorvane::cli {

void set_lines(const input::SeriesTable& table, std::size_t index, SeriesResult& result) {
  const input::Series& series = table.series[index];
  if (series.time.empty() || series.values.empty()) return;
  result.first_line = series.lines.line(0);
  result.last_line = series.lines.line(series.values.size() - 1);
}

int run_command_line(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (!args.empty() && args[0] == "evolve")
    return run_evolve(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
  if (!args.empty() && args[0] == "coherence")
    return run_coherence(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
  if (!args.empty() && args[0] == "ensemble")
    return run_ensemble_command(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
  Options options;
  const ParseOutcome outcome = parse_command_line(args, options, out, err);
  if (!outcome.run) return outcome.exit_status;
  return run_analyse(std::move(options), out, err);
}

int run_analyse(Options options, std::ostream& out, std::ostream& err) {
  CommandFrame frame("quorvane", err);
  input::SeriesTable table;
  std::vector<std::size_t> chosen;
  std::vector<std::string> stems;
  if (!frame.start(options.input, options.output, table, chosen, stems)) return frame.exit_status();
  const std::string& folder = options.output.out;
  // Series run side by side first; threads left over share the surrogates.
  // The levels do not depend on this split.
  const std::size_t side_by_side =
      std::max<std::size_t>(1, std::min(static_cast<std::size_t>(options.output.jobs), chosen.size()));
  options.significance.jobs =
      std::max(1, options.output.jobs / static_cast<int>(side_by_side));

  // A progress line only for a person watching: several series and a
  // terminal on the error stream.
  const bool show_progress = !options.output.quiet && chosen.size() > 1 && &err == &std::cerr &&
                             ::isatty(STDERR_FILENO) == 1;
  const auto start = std::chrono::steady_clock::now();
  std::vector<SeriesResult> results(chosen.size());
  frame.run_items(
      chosen.size(), options.output.jobs,
      [&](std::size_t i) { results[i] = analyse_series(table, chosen[i], stems[i], options, folder); },
      [&](std::size_t i, const std::string& message) {
        results[i].number = chosen[i] + 1;
        results[i].name = trimmed(table.series[chosen[i]].name);
        results[i].ok = false;
        results[i].message = message;
      },
      [&](std::size_t done) {
        if (!show_progress) return;
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        err << fmt::format("\r {} / {} series done, {:.1f} s", done, chosen.size(), elapsed.count())
            << (done == chosen.size() ? "\n" : "") << std::flush;
      });

  // An interrupted run has no summary: it would describe series that were
  // never analysed.
  if (frame.interrupted()) return frame.exit_status();
  for (std::size_t i = 0; i < chosen.size(); ++i) set_lines(table, chosen[i], results[i]);
  int status = kAllAnalysed;
  for (const auto& result : results) {
    for (const auto& warning : result.warnings)
      err << "quorvane: series " << result.number << " (" << result.name
          << "): warning:" << warning << "\n";
    if (result.ok) continue;
    status = kSomeFailed;
    err << "quorvane: series " << result.number << " (" << result.name
        << ") failed: " << result.message << "\n";
  }
  status = frame.write_summary(folder, summary_text(options, results, table), status);
  if (frame.exit_status() != kAllAnalysed) return frame.exit_status();
  if (!options.output.quiet) {
    for (const auto& result : results) {
      if (!result.ok) continue;
      out << fmt::format("{}: {} values, {} peaks, {} files in {}\n", result.name, result.npts,
                         result.peaks.size(), result.files.size(), folder);
    }
  }
  out.flush();
  return status;
}

}  // namespace quorvane::cli
