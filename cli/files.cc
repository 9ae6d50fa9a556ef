#include "cli/files.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

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

std::vector<std::string> unique_stems(const std::vector<std::string>& titles) {
  const auto folded = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  std::set<std::string> taken;
  std::vector<std::string> stems;
  stems.reserve(titles.size());
  for (const auto& title : titles) {
    std::string base = display::file_stem(title);
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

bool write_whole(int fd, const std::string& text) {
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

bool write_file_atomically(const std::string& path, const TextPieces& next, std::string& error) {
  const std::size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string temporary = folder + "." + name + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) {
    error = "cannot create a file in " + (folder.empty() ? std::string(".") : folder) + ": " +
            std::strerror(errno);
    return false;
  }
  // mkstemp creates the file readable by its owner only; results are
  // ordinary files.
  ::fchmod(fd, 0666 & ~kCreationMask);
  bool written = true;
  for (std::string piece; written && next(piece);) written = write_whole(fd, piece);
  const int write_errno = errno;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed) {
    error = "cannot write " + path + ": " + std::strerror(!written ? write_errno : errno);
    std::remove(temporary.c_str());
    return false;
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

TextPieces csv_pieces(const std::vector<Column>& columns) {
  constexpr std::size_t kPieceBytes = std::size_t{1} << 20;
  const std::size_t rows = columns.empty() ? 0 : columns.front().values.size();
  return [&columns, rows, row = std::size_t{0}, header = true](std::string& piece) mutable {
    piece.clear();
    if (header) {
      for (std::size_t c = 0; c < columns.size(); ++c) {
        if (c > 0) piece += ',';
        piece += columns[c].header;
      }
      piece += '\n';
      header = false;
    } else if (row == rows) {
      return false;
    }
    for (; row < rows && piece.size() < kPieceBytes; ++row) {
      for (std::size_t c = 0; c < columns.size(); ++c) {
        if (c > 0) piece += ',';
        fmt::format_to(std::back_inserter(piece), "{}", columns[c].values[row]);
      }
      piece += '\n';
    }
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
