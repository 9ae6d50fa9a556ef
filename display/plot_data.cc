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

// The number of points input arrays can supply: `wanted`, limited by each
// array the plot kind reads.
std::size_t available(std::size_t wanted, std::initializer_list<std::span<const float>> arrays) {
  for (const auto& array : arrays) wanted = std::min(wanted, array.size());
  return wanted;
}

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
  std::size_t n = 0;
  if (input.kind == 6) {
    n = available(static_cast<std::size_t>(std::max(input.n, 0)), {input.y, input.signal});
  } else if (input.n > 1) {
    const auto wanted = static_cast<std::size_t>(input.n - 1);
    switch (input.kind) {
      case 1: n = available(wanted, {input.specraw0, input.specback0}); break;
      case 2: n = available(wanted, {input.specresh0, input.harmonic0}); break;
      case 3: n = available(wanted, {input.specmed0}); break;
      case 5: n = available(wanted, {input.ftest}); break;
      default: break;
    }
  }
  data.x.resize(n);
  for (auto& curve : data.curves) curve.resize(n);

  for (std::size_t i = 0; i < n; ++i) {
    data.x[i] = input.kind == 6 ? static_cast<float>(i) * input.dt
                                : input.fmin + static_cast<float>(i) * input.df;
  }
  for (std::size_t i = 0; i < n; ++i) {
    switch (input.kind) {
      case 1:
        data.curves[0][i] = input.specraw0[i];
        for (std::size_t k = 0; k < 4; ++k) {
          const std::span<const float> ratios = input.level_ratios[k];
          const float ratio = ratios.size() > i ? ratios[i] : input.conf[k];
          data.curves[k + 1][i] = input.specback0[i] * ratio;
        }
        break;
      case 2:
        data.curves[0][i] = input.specresh0[i];
        data.curves[1][i] = input.harmonic0[i];
        break;
      case 3:
        data.curves[0][i] = input.specmed0[i];
        break;
      case 5:
        data.curves[0][i] = input.ftest[i];
        for (std::size_t k = 0; k < 4; ++k) data.curves[k + 1][i] = input.fconf[k];
        break;
      case 6:
        data.curves[0][i] = input.signal[i];
        data.curves[1][i] = input.y[i] - input.ymean;
        break;
      default:
        break;
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
