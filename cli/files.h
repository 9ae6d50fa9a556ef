// Result files of the command line: names made safe and unique, numbers in
// their shortest exact form, and files that appear only when complete.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "api/results.h"

namespace quorvane::cli {

// The shortest decimal text that reads back as exactly `value` ("0.1",
// "1e-05", "inf", "nan").
using api::number_text;
// The same text appended to `text`, without a string of its own.
void append_number_text(std::string& text, float value);

// File-name stems for the series `titles`, in order: each series name made
// safe for a file name (as the dialogue names its plot files, with a leading
// '.' replaced so that no file is hidden), and a numeric suffix ("_2",
// "_3", ...) on a stem already taken. Stems differing only in letter case
// count as taken, so that no two series share files on a file system that
// ignores case. A stem beyond 100 bytes keeps its first 91 and ends in "-"
// and a hash of the whole name (8 hexadecimal digits), so that every file
// name stays within what file systems take.
std::vector<std::string> unique_stems(const std::vector<std::string>& titles);

// Writes `content` to `path`: to a new temporary file in the same folder
// first, which then replaces `path`, so that an interrupted run leaves
// either the old file or the complete new one. Returns false with `error`
// set when the file cannot be written or the run is interrupted
// (cli/interrupt.h, checked between pieces); the temporary file is then
// removed.
bool write_file_atomically(const std::string& path, const std::string& content, std::string& error);

// The same for text made piece by piece, so that a large file never has to
// be held whole: `next` replaces its argument with the next piece and
// returns false when there is none.
using TextPieces = std::function<bool(std::string& piece)>;
bool write_file_atomically(const std::string& path, const TextPieces& next, std::string& error);

// A file written piece by piece: to a new temporary file in the folder of
// `path`, which replaces `path` only when commit() succeeds. Destroyed
// without a successful commit, it removes the temporary file, so an
// interrupted or failed writing leaves either the old file or none.
class AtomicFile {
 public:
  explicit AtomicFile(std::string path);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary file; false with `error` when it cannot be.
  bool open(std::string& error);
  // Appends `text` (held back until about a megabyte has gathered). False
  // once a write has failed; commit() then says why.
  bool write(std::string_view text);
  // Writes what is held back, closes the file and renames it to `path`;
  // false with `error` set when any of it, or an earlier write, failed.
  bool commit(std::string& error);
  // The temporary file's path once open() succeeded, for a library that
  // writes the file by its name.
  const std::string& temporary() const { return temporary_; }

 private:
  bool flush();
  std::string path_, temporary_, buffer_;
  int fd_ = -1;
  int write_errno_ = 0;
};

// One column of a file's table: a header and its values, which it refers
// to (they must outlive it).
struct Column {
  std::string header;
  std::span<const float> values;
  // Values in double precision instead (such as times that single precision
  // cannot tell apart), used when `values` is empty.
  std::span<const double> wide = {};
  std::size_t size() const { return values.empty() ? wide.size() : values.size(); }
};

// The columns of a spectrum file: frequency, period, estimate, reshaped,
// harmonic, median, background, level50 ... level99, F, F50 ... F99.9, and
// where the run has them jackknife_lower and jackknife_upper, global95 and
// global99. They refer to `table`.
std::vector<Column> spectrum_columns(const api::SpectrumTable& table);

// The columns of a reconstruction file: time (in single precision where it
// tells the times apart), series, anomaly, one column per signal and their
// sum. They refer to `table`.
std::vector<Column> reconstruction_columns(const api::ReconstructionTable& table);

// One table of numbers as CSV text: a header row, then one row per index,
// each column's values in shortest exact form. Every column must hold the
// same number of values.
std::string csv_text(const std::vector<Column>& columns);
// The same text in pieces of about a megabyte, for write_file_atomically,
// formatted on up to `jobs` threads; the columns must outlive the pieces.
TextPieces csv_pieces(const std::vector<Column>& columns, int jobs = 1);

}  // namespace quorvane::cli
