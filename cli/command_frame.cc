#include "cli/command_frame.h"

#include <fmt/format.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <thread>
#include <utility>

#include "api/reading.h"
#include "cli/batch.h"
#include "cli/series_run.h"
#include "cli/files.h"
#include "cli/interrupt.h"
#include "display/plot_file.h"
#include "input/series_file.h"

namespace quorvane::cli {

namespace {

// The reader's answers, stopped by an interruption.
input::ReadOptions interruptible_answers(const InputOptions& in) {
  input::ReadOptions r = api::read_options(in);
  r.cancelled = interrupted();
  return r;
}

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

std::string trimmed(std::string name) {
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return name;
}

bool read_file(const InputOptions& in, input::SeriesTable& table, std::string& error) {
  Status read = api::read_file(in.file, interruptible_answers(in), api::Naming::options, table);
  if (!read) error = std::move(read.message);
  return read.ok;
}

void report_reading(const input::SeriesTable& table, const std::string& program,
                    std::ostream& err) {
  for (const auto& column : table.skipped_columns)
    err << program << ": column " << column.name << " gives no series: " << column.reason << "\n";
  for (const auto& note : table.notes) err << program << ": note: " << note << "\n";
}

bool create_output_folder(const std::string& folder, std::string& error) {
  std::error_code code;
  std::filesystem::create_directories(folder, code);
  if (!code && std::filesystem::is_directory(folder, code)) return true;
  error = "--out: cannot create the folder " + folder + (code ? ": " + code.message() : std::string());
  return false;
}

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

bool CommandFrame::read(const InputOptions& input, input::SeriesTable& table,
                        const InputOptions* second, input::SeriesTable* second_table) {
  std::string error;
  const bool read = read_file(input, table, error) &&
                    (second == nullptr || read_file(*second, *second_table, error));
  if (interrupted()) return false;
  if (!read) return refuse(error);
  report_reading(table, program_, err_);
  if (second != nullptr) report_reading(*second_table, program_, err_);
  return true;
}

bool CommandFrame::select(const input::SeriesTable& table, const std::vector<std::string>& wanted,
                          std::vector<std::size_t>& chosen) {
  std::string error;
  return select_series(table, wanted, chosen, error) || refuse(error);
}

bool CommandFrame::refuse(const std::string& message) {
  err_ << program_ << ": " << message << "\n";
  status_ = kUsageError;
  return false;
}

bool CommandFrame::start(const InputOptions& input, OutputOptions& output,
                         input::SeriesTable& table, std::vector<std::size_t>& chosen,
                         std::vector<std::string>& stems) {
  if (!read(input, table) || !select(table, input.series, chosen) || !prepare_output(output))
    return false;
  std::vector<std::string> titles;
  for (std::size_t index : chosen) titles.push_back(table.series[index].name);
  stems = unique_stems(titles);
  return true;
}

bool CommandFrame::prepare_output(OutputOptions& output) {
  if (output.plots != "none" && display::file_device(output.plots).empty())
    return refuse("--plots: this PLplot has no device that writes " + output.plots + " files");
  std::string error;
  if (!create_output_folder(output.out, error) || !lock_.acquire(output.out, output.wait, error)) {
    if (error.empty()) {  // interrupted while waiting for the folder
      status_ = stopped(err_, program_, interruption());
      return false;
    }
    return refuse(error);
  }
  if (output.jobs == 0)
    output.jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  return true;
}

void CommandFrame::run_items(std::size_t count, int jobs,
                             const std::function<void(std::size_t)>& work,
                             const std::function<void(std::size_t, const std::string&)>& failed,
                             const std::function<void(std::size_t)>& progress) {
  run_in_parallel(
      count, jobs,
      [&](std::size_t i) {
        // Once interrupted, the items not yet started are not started.
        if (interruption() != 0) return;
        try {
          work(i);
        } catch (const std::exception& failure) {
          failed(i, std::string("the analysis stopped: ") + failure.what());
        }
      },
      [&](std::size_t done) {
        if (progress) progress(done);
      });
}

int CommandFrame::run_series(const input::SeriesTable& table,
                             const std::vector<std::size_t>& chosen,
                             const std::function<SeriesResult&(std::size_t)>& series,
                             const std::function<void(std::size_t)>& work) {
  run_items(
      chosen.size(), 1,
      [&](std::size_t i) {
        SeriesResult& s = series(i);
        s.number = chosen[i] + 1;
        s.name = trimmed(table.series[chosen[i]].name);
        set_lines(table, chosen[i], s);
        work(i);
      },
      [&](std::size_t i, const std::string& message) {
        series(i).ok = false;
        series(i).message = message;
      });
  if (interrupted()) return status_;
  int status = kAllAnalysed;
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    const SeriesResult& s = series(i);
    for (const std::string& warning : s.warnings)
      err_ << program_ << ": series " << s.number << " (" << s.name << "): warning:" << warning
           << "\n";
    if (s.ok) continue;
    status = kSomeFailed;
    err_ << program_ << ": series " << s.number << " (" << s.name << ") failed: " << s.message
         << "\n";
  }
  return status;
}

bool CommandFrame::interrupted() {
  const int signal = interruption();
  if (signal == 0) return false;
  status_ = stopped(err_, program_, signal);
  return true;
}

int CommandFrame::write_summary(const std::string& folder, const std::string& text, int status) {
  std::string error;
  if (write_file_atomically(folder + "/summary.json", text, error)) return status;
  // A signal while the summary was written removed it: the run ends as an
  // interrupted one, not as a failed write.
  if (interrupted()) return status_;
  err_ << program_ << ": " << error << "\n";
  return kSomeFailed;
}

}  // namespace quorvane::cli
