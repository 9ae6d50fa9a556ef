// Every seed and every kept regression input of the fuzz targets, replayed
// through the targets' own entry functions: none may crash, trip a
// sanitizer (in the sanitizer build) or break a target's properties.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fuzz/targets.h"

namespace quorvane::fuzz {
namespace {

using Target = int (*)(const std::uint8_t*, std::size_t);

std::vector<std::filesystem::path> inputs(const std::string& folder) {
  std::vector<std::filesystem::path> files;
  const std::filesystem::path dir = std::filesystem::path(QUORVANE_SOURCE_DIR) / "fuzz" / folder;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    if (entry.is_regular_file()) files.push_back(entry.path());
  return files;
}

// Replays the corpus and the regression inputs of `name`; returns how many.
std::size_t replay(const std::string& name, Target target) {
  std::size_t replayed = 0;
  for (const char* kind : {"corpus/", "regressions/"}) {
    for (const auto& path : inputs(kind + name)) {
      SCOPED_TRACE(path.filename().string());
      std::ifstream file(path, std::ios::binary);
      const std::string bytes{std::istreambuf_iterator<char>(file),
                              std::istreambuf_iterator<char>()};
      try {
        target(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      } catch (const FuzzFailure& failure) {
        ADD_FAILURE() << path << ": " << failure.what();
      }
      ++replayed;
    }
  }
  return replayed;
}

TEST(FuzzReplay, LayoutInputsParseReadAndWriteWithinBounds) {
  EXPECT_GE(replay("layout", layout_target), 12u);
}

TEST(FuzzReplay, FreeFormatInputsReadConsistently) {
  EXPECT_GE(replay("free_format", free_format_target), 6u);
}

TEST(FuzzReplay, ReaderInputsGiveWellFormedSeriesBoundedByTheFile) {
  EXPECT_GE(replay("reader", reader_target), 19u);
  // The per-layout targets run the same inputs through every reader.
  replay("reader", [](const std::uint8_t* data, std::size_t size) {
    for (int iform = 1; iform <= 8; ++iform) reader_target_for(iform, data, size);
    return 0;
  });
}

TEST(FuzzReplay, CsvRecordsRunThroughTheAnalysesWithResultsOrReasons) {
  EXPECT_GE(replay("analysis", analysis_target), 5u);
}

TEST(FuzzReplay, DialogueInputsEndWithoutACrash) {
  EXPECT_GE(replay("dialogue", dialogue_target), 13u);
}

}  // namespace
}  // namespace quorvane::fuzz
