#include "cli/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

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

std::string number_text(float value) { return fmt::format("{}", value); }

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

bool write_file_atomically(const std::string& path, const std::string& content,
                           std::string& error) {
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
  std::size_t written = 0;
  while (written < content.size()) {
    const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  const int write_errno = errno;
  const bool closed = ::close(fd) == 0;
  if (written != content.size() || !closed) {
    error = "cannot write " + path + ": " + std::strerror(written != content.size() ? write_errno : errno);
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

std::string csv_text(const std::vector<Column>& columns) {
  std::string text;
  for (std::size_t c = 0; c < columns.size(); ++c) {
    if (c > 0) text += ',';
    text += columns[c].header;
  }
  text += '\n';
  const std::size_t rows = columns.empty() ? 0 : columns.front().values.size();
  for (std::size_t i = 0; i < rows; ++i) {
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (c > 0) text += ',';
      fmt::format_to(std::back_inserter(text), "{}", columns[c].values[i]);
    }
    text += '\n';
  }
  return text;
}

}  // namespace quorvane::cli
