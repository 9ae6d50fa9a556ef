#include "display/plot_data.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "textio/free_format.h"
#include "textio/layout.h"

namespace quorvane::display {

namespace {

std::size_t curve_count(int kind) {
  switch (kind) {
    case 1: return 5;
    case 2: return 2;
    case 3: return 1;
    case 5: return 5;
    case 6: return 2;
    default: return 0;
  }
}

// The curves of the input that a plot kind draws from its arrays (kind 5
// draws its levels as constants).
std::size_t drawn_arrays(int kind) { return kind == 5 ? 1 : curve_count(kind); }

const char* header(int kind) {
  switch (kind) {
    case 1:
      return " ff  specraw0  specback0*conf(1)  specback0*conf(2)"
             " specback0*conf(3)  specback0*conf(4)";
    case 2: return " ff           specresh0     harmonic0 ";
    case 3: return " ff           specmed0";
    case 5: return " ff         ftest(p)       fconf(1)       fconf(2)      fconf(3)       fconf(4)";
    case 6: return " ff           signal      a";
    default: return "";
  }
}

// Removes a temporary file when a save does not get as far as the rename.
struct TemporaryFile {
  std::string path;
  ~TemporaryFile() {
    if (!path.empty()) std::remove(path.c_str());
  }
};

}  // namespace

bool is_plot_kind(int kind) { return curve_count(kind) != 0; }

void prepare_plot_data(const PlotInput& input, PlotData& data) {
  data.kind = input.kind;
  data.curves.resize(curve_count(input.kind));
  std::size_t n = data.curves.empty() ? 0 : input.x.size();
  for (std::size_t k = 0; k < drawn_arrays(input.kind); ++k) n = std::min(n, input.curves[k].size());
  data.x.assign(input.x.begin(), input.x.begin() + static_cast<long>(n));
  for (std::size_t k = 0; k < data.curves.size(); ++k) {
    std::vector<float>& curve = data.curves[k];
    if (k < drawn_arrays(input.kind)) {
      curve.assign(input.curves[k].begin(), input.curves[k].begin() + static_cast<long>(n));
    } else {
      curve.assign(n, input.f_levels[k - 1]);
    }
  }
}

void write_plot_data(std::ostream& out, const PlotData& data) {
  out << header(data.kind) << '\n';
  std::string line;
  for (std::size_t i = 0; i < data.x.size(); ++i) {
    if (data.kind == 6) {
      line = textio::free_line({static_cast<double>(data.x[i]),
                                static_cast<double>(data.curves[0][i]),
                                static_cast<double>(data.curves[1][i])});
    } else {
      // (f7.4,1x,ke14.2): the frequency, a blank, then each value.
      line = textio::format_fixed(data.x[i], 7, 4);
      line += ' ';
      for (const auto& curve : data.curves) line += textio::format_exponent(curve[i], 14, 2);
    }
    out << line << '\n';
  }
}

bool save_plot_data(const std::string& path, const PlotData& data, std::string& error) {
  TemporaryFile temporary{path + ".XXXXXX"};
  std::vector<char> pattern(temporary.path.begin(), temporary.path.end());
  pattern.push_back('\0');
  const int fd = mkstemp(pattern.data());
  if (fd < 0) {
    error = std::strerror(errno);
    temporary.path.clear();
    return false;
  }
  temporary.path = pattern.data();
  // mkstemp creates the file private; give it the usual permissions.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);

  {
    std::ofstream out(temporary.path, std::ios::out | std::ios::trunc);
    write_plot_data(out, data);
    out.close();
    if (!out) {
      error = "write failed";
      return false;
    }
  }
  if (std::rename(temporary.path.c_str(), path.c_str()) != 0) {
    error = std::strerror(errno);
    return false;
  }
  temporary.path.clear();
  return true;
}

}  // namespace quorvane::display
