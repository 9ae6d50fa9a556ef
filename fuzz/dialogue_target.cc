#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "driver/program.h"
#include "fuzz/targets.h"

namespace quorvane::fuzz {
namespace {

// The dialogue may write plot-data files under names it is given: it runs
// in a directory of its own, which also holds the input file.
const std::string& input_file() {
  static const std::string path = [] {
    setenv("QUORVANE_DEVICE", "null", 1);  // no plot windows
    auto dir = std::filesystem::temp_directory_path() /
               ("quorvane-fuzz-dialogue-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    static const std::filesystem::path made = dir;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(made, ignored);
    });
    return (dir / "series.dat").string();
  }();
  return path;
}

}  // namespace

int dialogue_target(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t rest = size - 2;
  const std::size_t file_size = rest == 0 ? 0 : (data[0] | (data[1] << 8)) % (rest + 1);
  const std::string& path = input_file();
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data + 2), static_cast<std::streamsize>(file_size));
  }
  std::istringstream in(path + "\n" +
                        std::string(reinterpret_cast<const char*>(data + 2 + file_size),
                                    rest - file_size));
  std::ostringstream out, err;
  int status = driver::run_quorvane(in, out, err);
  require(status == 0 || !err.str().empty(), "a failed run without a message");
  return 0;
}

}  // namespace quorvane::fuzz
