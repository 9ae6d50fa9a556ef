#include "cli/batch.h"

#include <fmt/format.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>

#include "api/reading.h"
#include "cli/coherence_command.h"
#include "cli/evolve_command.h"
#include "cli/files.h"
#include "cli/folder_lock.h"
#include "cli/interrupt.h"
#include "cli/series_run.h"
#include "cli/summary.h"
#include "display/plot_file.h"
#include "input/series_file.h"

namespace quorvane::cli {

namespace {

std::string trimmed(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

input::ReadOptions read_options(const InputOptions& in) {
  input::ReadOptions r;
  r.iform = in.layout;
  r.lskip = in.skip.value_or(0);
  r.ncol = in.columns.value_or(0);
  r.sentinel = in.sentinel.value_or("*");
  r.nvar = in.per_line.value_or(12);
  r.mult = in.multiplier.value_or(1.0f);
  r.rfmt = in.record_layout.value_or("");
  r.time_column = in.time_column.value_or("");
  r.value_columns = in.value_columns;
  r.cancelled = interrupted();
  return r;
}

}  // namespace

bool read_file(const InputOptions& in, input::SeriesTable& table, std::string& error) {
  Status read = api::read_file(in.file, read_options(in), api::Naming::options, table);
  if (!read) error = std::move(read.message);
  return read.ok;
}

void report_reading(const input::SeriesTable& table, const std::string& program,
                    std::ostream& err) {
  for (const auto& column : table.skipped_columns)
    err << program << ": column " << column.name << " gives no series: " << column.reason << "\n";
  for (const auto& note : table.notes) err << program << ": note: " << note << "\n";
}

void set_lines(const input::SeriesTable& table, std::size_t index, SeriesResult& result) {
  const input::Series& series = table.series[index];
  if (series.time.empty() || series.values.empty()) return;
  result.first_line = series.lines.line(0);
  result.last_line = series.lines.line(series.values.size() - 1);
}

bool create_output_folder(const std::string& folder, std::string& error) {
  std::error_code code;
  std::filesystem::create_directories(folder, code);
  if (!code && std::filesystem::is_directory(folder, code)) return true;
  error = "--out: cannot create the folder " + folder + (code ? ": " + code.message() : std::string());
  return false;
}

namespace {

// Runs `work(i)` for i = 0..count-1 on `jobs` threads while the calling
// thread reports `progress(done)` after each item and at least every 200 ms.
// With one job the calling thread does the work and reports after each item.
template <class Work, class Progress>
void run_in_parallel(std::size_t count, int jobs, Work work, Progress progress) {
  const std::size_t threads = std::min<std::size_t>(static_cast<std::size_t>(jobs), count);
  if (threads <= 1) {
    for (std::size_t i = 0; i < count; ++i) {
      work(i);
      progress(i + 1);
    }
    return;
  }
  std::mutex mutex;
  std::condition_variable finished;
  std::size_t next = 0, done = 0;
  const auto worker = [&] {
    std::unique_lock<std::mutex> lock(mutex);
    while (next < count) {
      const std::size_t i = next++;
      lock.unlock();
      work(i);
      lock.lock();
      ++done;
      finished.notify_one();
    }
  };
  std::vector<std::thread> pool;
  for (std::size_t t = 0; t < threads; ++t) pool.emplace_back(worker);
  {
    std::unique_lock<std::mutex> lock(mutex);
    while (done < count) {
      const std::size_t reported = done;
      lock.unlock();
      progress(reported);
      lock.lock();
      finished.wait_for(lock, std::chrono::milliseconds(200), [&] { return done != reported; });
    }
  }
  for (auto& thread : pool) thread.join();
  progress(count);
}

}  // namespace

bool select_series(const input::SeriesTable& table, const std::vector<std::string>& wanted,
                   std::vector<std::size_t>& indices, std::string& error) {
  indices.clear();
  const std::size_t count = table.series.size();
  if (wanted.empty()) {
    for (std::size_t i = 0; i < count; ++i) indices.push_back(i);
    return true;
  }
  for (const auto& item : wanted) {
    std::size_t found = count;
    for (std::size_t i = 0; i < count && found == count; ++i)
      if (trimmed(table.series[i].name) == trimmed(item)) found = i;
    if (found == count && item.find_first_not_of("0123456789") == std::string::npos &&
        item.size() < 10) {
      const std::size_t number = std::stoul(item);
      if (number >= 1 && number <= count) found = number - 1;
    }
    if (found == count) {
      error = fmt::format("--series: no series {} in the file (it holds {}: numbers 1 to {})", item,
                          count, count);
      return false;
    }
    indices.push_back(found);
  }
  return true;
}

int run_command_line(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (!args.empty() && args[0] == "evolve")
    return run_evolve(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
  if (!args.empty() && args[0] == "coherence")
    return run_coherence(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
  Options options;
  const ParseOutcome outcome = parse_command_line(args, options, out, err);
  if (!outcome.run) return outcome.exit_status;
  return run_analyse(std::move(options), out, err);
}

int run_analyse(Options options, std::ostream& out, std::ostream& err) {
  input::SeriesTable table;
  std::string error;
  const bool read = read_file(options.input, table, error);
  if (const int signal = interruption(); signal != 0) return stopped(err, "quorvane", signal);
  if (!read) {
    err << "quorvane: " << error << "\n";
    return kUsageError;
  }
  report_reading(table, "quorvane", err);
  std::vector<std::size_t> chosen;
  if (!select_series(table, options.input.series, chosen, error)) {
    err << "quorvane: " << error << "\n";
    return kUsageError;
  }
  if (options.output.plots != "none" && display::file_device(options.output.plots).empty()) {
    err << "quorvane: --plots: this PLplot has no device that writes " << options.output.plots
        << " files\n";
    return kUsageError;
  }
  const std::string& folder = options.output.out;
  FolderLock lock;
  if (!create_output_folder(folder, error) || !lock.acquire(folder, options.output.wait, error)) {
    if (error.empty()) {  // interrupted while waiting for the folder
      return stopped(err, "quorvane", interruption());
    }
    err << "quorvane: " << error << "\n";
    return kUsageError;
  }
  if (options.output.jobs == 0)
    options.output.jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  // Series run side by side first; threads left over share the surrogates.
  // The levels do not depend on this split.
  const std::size_t side_by_side =
      std::max<std::size_t>(1, std::min(static_cast<std::size_t>(options.output.jobs), chosen.size()));
  options.significance.jobs =
      std::max(1, options.output.jobs / static_cast<int>(side_by_side));

  std::vector<std::string> titles;
  for (std::size_t index : chosen) titles.push_back(table.series[index].name);
  const std::vector<std::string> stems = unique_stems(titles);

  // A progress line only for a person watching: several series and a
  // terminal on the error stream.
  const bool show_progress = !options.output.quiet && chosen.size() > 1 && &err == &std::cerr &&
                             ::isatty(STDERR_FILENO) == 1;
  const auto start = std::chrono::steady_clock::now();
  std::vector<SeriesResult> results(chosen.size());
  run_in_parallel(
      chosen.size(), options.output.jobs,
      [&](std::size_t i) {
        // Once interrupted, the series not yet started are not started.
        if (interruption() != 0) return;
        try {
          results[i] = analyse_series(table, chosen[i], stems[i], options, folder);
        } catch (const std::exception& failure) {
          results[i].number = chosen[i] + 1;
          results[i].name = trimmed(table.series[chosen[i]].name);
          results[i].ok = false;
          results[i].message = std::string("the analysis stopped: ") + failure.what();
        }
      },
      [&](std::size_t done) {
        if (!show_progress) return;
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        err << fmt::format("\r {} / {} series done, {:.1f} s", done, chosen.size(), elapsed.count())
            << (done == chosen.size() ? "\n" : "") << std::flush;
      });

  // An interrupted run has no summary: it would describe series that were
  // never analysed.
  if (const int signal = interruption(); signal != 0) return stopped(err, "quorvane", signal);
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
  if (!write_file_atomically(folder + "/summary.json", summary_text(options, results, table), error)) {
    // A signal while the summary was written removed it: the run ends as
    // an interrupted one, not as a failed write.
    if (const int signal = interruption(); signal != 0) return stopped(err, "quorvane", signal);
    err << "quorvane: " << error << "\n";
    status = kSomeFailed;
  }
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
