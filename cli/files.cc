#include "cli/files.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <thread>

#include "cli/interrupt.h"
#include "cli/number_format.h"
#include "display/plot_file.h"

namespace quorvane::cli {

namespace {

// The process's file-creation mask, read once at start-up: reading it means
// setting it, which must not happen while other threads create files.
const mode_t kCreationMask = [] {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}();

}  // namespace

void append_number_text(std::string& text, float value) { append_number(text, value); }

namespace {

// The longest stem: two of them, joined by "__", name a pair's files, and
// with the longest suffix and a temporary file's marks they stay within the
// 255 bytes a file name may have.
constexpr std::size_t kStemBytes = 100;

// A stem beyond kStemBytes keeps its beginning and ends in the FNV-1a hash
// of the whole name, so that long names alike in their beginning stay apart.
std::string shortened_stem(const std::string& stem, const std::string& title) {
  if (stem.size() <= kStemBytes) return stem;
  std::uint32_t hash = 2166136261u;
  for (unsigned char c : title) hash = (hash ^ c) * 16777619u;
  return stem.substr(0, kStemBytes - 9) + fmt::format("-{:08x}", hash);
}

}  // namespace

std::vector<std::string> unique_stems(const std::vector<std::string>& titles) {
  const auto folded = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  std::set<std::string> taken;
  std::vector<std::string> stems;
  stems.reserve(titles.size());
  for (const auto& title : titles) {
    std::string base = shortened_stem(display::file_stem(title), title);
    if (base.front() == '.') base.front() = '_';
    std::string stem = base;
    for (int suffix = 2; taken.count(folded(stem)) != 0; ++suffix)
      stem = base + "_" + std::to_string(suffix);
    taken.insert(folded(stem));
    stems.push_back(stem);
  }
  return stems;
}

namespace {

bool write_whole(int fd, std::string_view text) {
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    written += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool write_file_atomically(const std::string& path, const std::string& content,
                           std::string& error) {
  bool given = false;
  return write_file_atomically(
      path,
      [&](std::string& piece) {
        if (given) return false;
        piece = content;
        given = true;
        return true;
      },
      error);
}

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!temporary_.empty()) std::remove(temporary_.c_str());
}

bool AtomicFile::open(std::string& error) {
  const std::size_t slash = path_.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "" : path_.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path_ : path_.substr(slash + 1);
  std::string temporary = folder + "." + name + ".XXXXXX";
  fd_ = ::mkstemp(temporary.data());
  if (fd_ < 0) {
    error = "cannot create a file in " + (folder.empty() ? std::string(".") : folder) + ": " +
            std::strerror(errno);
    return false;
  }
  temporary_ = std::move(temporary);
  // mkstemp creates the file readable by its owner only; results are
  // ordinary files.
  ::fchmod(fd_, 0666 & ~kCreationMask);
  return true;
}

bool AtomicFile::flush() {
  if (fd_ < 0 || write_errno_ != 0) return false;
  if (!write_whole(fd_, buffer_)) {
    write_errno_ = errno != 0 ? errno : EIO;
    return false;
  }
  buffer_.clear();
  return true;
}

bool AtomicFile::write(std::string_view text) {
  constexpr std::size_t kPieceBytes = std::size_t{1} << 20;
  if (buffer_.empty() && text.size() >= kPieceBytes) {
    // A large piece goes out as it is, without a copy.
    if (fd_ < 0 || write_errno_ != 0) return false;
    if (write_whole(fd_, text)) return true;
    write_errno_ = errno != 0 ? errno : EIO;
    return false;
  }
  buffer_ += text;
  return buffer_.size() < kPieceBytes || flush();
}

bool AtomicFile::commit(std::string& error) {
  if (fd_ < 0) {
    error = "cannot write " + path_ + ": the file is not open";
    return false;
  }
  flush();
  const int fd = fd_;
  fd_ = -1;
  const bool closed = ::close(fd) == 0;
  if (write_errno_ != 0 || !closed) {
    error = "cannot write " + path_ + ": " + std::strerror(write_errno_ != 0 ? write_errno_ : errno);
    return false;
  }
  if (std::rename(temporary_.c_str(), path_.c_str()) != 0) {
    error = "cannot write " + path_ + ": " + std::strerror(errno);
    return false;
  }
  temporary_.clear();
  return true;
}

bool write_file_atomically(const std::string& path, const TextPieces& next, std::string& error) {
  AtomicFile file(path);
  if (!file.open(error)) return false;
  bool written = true;
  for (std::string piece; written && next(piece);) {
    if (interruption() != 0) {
      error = "cannot write " + path + ": the run was interrupted";
      return false;
    }
    written = file.write(piece);
  }
  return file.commit(error);
}

std::vector<Column> spectrum_columns(const api::SpectrumTable& t) {
  std::vector<Column> columns = {{"frequency", t.frequency}, {"period", t.period},
                                 {"estimate", t.estimate},   {"reshaped", t.reshaped},
                                 {"harmonic", t.harmonic},   {"median", t.median},
                                 {"background", t.background}};
  const char* const level_names[4] = {"level50", "level90", "level95", "level99"};
  for (std::size_t k = 0; k < 4; ++k) columns.push_back({level_names[k], t.levels[k]});
  // Without an F-test its columns stay, holding NaN, so that readers find
  // the same columns in every file.
  columns.push_back({"F", t.F});
  const char* const f_names[6] = {"F50", "F90", "F95", "F99", "F99.5", "F99.9"};
  for (std::size_t k = 0; k < 6; ++k) columns.push_back({f_names[k], t.F_level_columns[k]});
  if (!t.jackknife_lower.empty()) {
    columns.push_back({"jackknife_lower", t.jackknife_lower});
    columns.push_back({"jackknife_upper", t.jackknife_upper});
  }
  if (!t.global_levels[0].empty()) {
    columns.push_back({"global95", t.global_levels[0]});
    columns.push_back({"global99", t.global_levels[1]});
  }
  return columns;
}

std::vector<Column> reconstruction_columns(const api::ReconstructionTable& t) {
  std::vector<Column> columns;
  if (t.time_single.empty()) {
    columns.push_back({"time", {}, t.time});
  } else {
    columns.push_back({"time", t.time_single});
  }
  columns.push_back({"series", t.series});
  columns.push_back({"anomaly", t.anomaly});
  for (const api::ReconstructedSignal& signal : t.signals)
    columns.push_back({signal.name, signal.values});
  columns.push_back({"sum", t.sum});
  return columns;
}

namespace {

// Rows [first, last) of `columns` as CSV lines appended to `text`.
void append_rows(std::string& text, const std::vector<Column>& columns, std::size_t first,
                 std::size_t last) {
  std::vector<char> line(columns.size() * (kNumberChars + 1) + 1);
  for (std::size_t row = first; row < last; ++row) {
    char* end = line.data();
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (c > 0) *end++ = ',';
      const Column& column = columns[c];
      end = column.values.empty() ? write_number(end, column.wide[row])
                                  : write_number(end, column.values[row]);
    }
    *end++ = '\n';
    text.append(line.data(), end);
  }
}

}  // namespace

TextPieces csv_pieces(const std::vector<Column>& columns, int jobs) {
  // Rows go out in blocks of about a megabyte; up to `jobs` blocks are
  // formatted side by side and then handed out in order.
  constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
  const std::size_t rows = columns.empty() ? 0 : columns.front().size();
  const std::size_t row_bytes = 12 * std::max<std::size_t>(1, columns.size());
  const std::size_t block_rows = std::max<std::size_t>(1, kBlockBytes / row_bytes);
  const auto threads = static_cast<std::size_t>(std::max(1, jobs));
  struct State {
    std::vector<std::string> blocks;
    std::size_t handed = 0;  // blocks of `blocks` already given out
    std::size_t row = 0;     // the first row not yet formatted
    bool header = true;
  };
  auto state = std::make_shared<State>();
  return [&columns, rows, block_rows, threads, state](std::string& piece) {
    State& s = *state;
    piece.clear();
    if (s.header) {
      for (std::size_t c = 0; c < columns.size(); ++c) {
        if (c > 0) piece += ',';
        piece += columns[c].header;
      }
      piece += '\n';
      s.header = false;
      return true;
    }
    if (s.handed == s.blocks.size()) {
      if (s.row == rows) return false;
      const std::size_t count = std::min(threads, (rows - s.row + block_rows - 1) / block_rows);
      s.blocks.assign(count, std::string());
      s.handed = 0;
      const std::size_t start = s.row;
      const auto format = [&, start](std::size_t b) {
        const std::size_t first = start + b * block_rows;
        s.blocks[b].reserve(kBlockBytes + kBlockBytes / 4);
        append_rows(s.blocks[b], columns, first, std::min(rows, first + block_rows));
      };
      std::vector<std::thread> helpers;
      for (std::size_t b = 1; b < count; ++b) helpers.emplace_back(format, b);
      format(0);
      for (std::thread& helper : helpers) helper.join();
      s.row = std::min(rows, start + count * block_rows);
    }
    piece.swap(s.blocks[s.handed++]);
    return true;
  };
}

std::string csv_text(const std::vector<Column>& columns) {
  std::string text;
  const TextPieces next = csv_pieces(columns);
  for (std::string piece; next(piece);) text += piece;
  return text;
}

}  // namespace quorvane::cli
