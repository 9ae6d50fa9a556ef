// Running the command line in-process and reading its files back.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/folder_lock.h"

namespace quorvane::cli::testing {

namespace fs = std::filesystem;

inline std::string example(const std::string& name) {
  return std::string(QUORVANE_SOURCE_DIR) + "/examples/" + name;
}

// A fresh, empty folder of this test process under the temporary folder.
inline fs::path fresh_folder(const std::string& name) {
  fs::path folder =
      fs::temp_directory_path() / ("quorvane_cli_" + std::to_string(::getpid()) + "_" + name);
  fs::remove_all(folder);
  return folder;
}

// Whether `path` is a file left half-written: a hidden temporary file, not
// the lock file that every run keeps in its folder.
inline bool half_written(const fs::path& path) {
  const std::string name = path.filename().string();
  return name.front() == '.' && name != kLockFileName;
}

struct BatchRun {
  int status = -1;
  std::string out, err;
};

inline BatchRun run_batch(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  BatchRun run;
  run.status = run_command_line(args, out, err);
  run.out = out.str();
  run.err = err.str();
  return run;
}

// `quorvane analyse` of the sunspot example into `folder`, quietly.
// Writes `lines` as series.txt in a fresh folder `name` and analyses it
// into folder/out with `options`, quietly.
inline BatchRun analyse_lines(const std::string& name, const std::vector<std::string>& lines,
                              const std::vector<std::string>& options, fs::path& folder) {
  folder = fresh_folder(name);
  fs::create_directories(folder);
  const fs::path file = folder / "series.txt";
  {
    std::ofstream out(file);
    for (const auto& line : lines) out << line << "\n";
  }
  std::vector<std::string> args = {"analyse", file.string(), "--out", (folder / "out").string(),
                                   "--quiet"};
  args.insert(args.end(), options.begin(), options.end());
  return run_batch(args);
}

inline std::vector<std::string> sunspots(const fs::path& folder, std::vector<std::string> extra) {
  std::vector<std::string> args = {"analyse", example("sunspots.dat"), "--layout", "single",
                                   "--out",   folder.string(),         "--quiet"};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

inline std::string file_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A CSV file as its header and its rows of numbers, each read with strtof
// (which gives the float back exactly from its shortest form).
struct Csv {
  std::vector<std::string> header;
  std::vector<std::vector<float>> rows;
  std::vector<std::vector<std::string>> cells;  // the text of each number

  std::size_t column(const std::string& name) const {
    for (std::size_t c = 0; c < header.size(); ++c)
      if (header[c] == name) return c;
    return header.size();
  }
};

inline std::vector<std::string> split_commas(const std::string& line) {
  std::vector<std::string> items;
  std::stringstream stream(line);
  for (std::string item; std::getline(stream, item, ',');) items.push_back(item);
  return items;
}

inline Csv read_csv(const fs::path& path) {
  Csv csv;
  std::ifstream in(path);
  std::string line;
  if (!std::getline(in, line)) return csv;
  csv.header = split_commas(line);
  while (std::getline(in, line)) {
    csv.cells.push_back(split_commas(line));
    std::vector<float> row;
    for (const auto& cell : csv.cells.back()) row.push_back(std::strtof(cell.c_str(), nullptr));
    csv.rows.push_back(row);
  }
  return csv;
}

}  // namespace quorvane::cli::testing
