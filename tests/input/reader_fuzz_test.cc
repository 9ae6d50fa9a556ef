// Every reader fed random and truncated variations of its example file: it
// returns, or stops with a message, and never hangs.
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "input/help_screens.h"
#include "input/readers.h"
#include "input_test_support.h"

namespace quorvane::input {
namespace {

using namespace testing;

constexpr int kVariations = 300;
const std::string kAlphabet = "0123456789-+.*eE #abcXYZ\t,()";

// A few random changes: cut the file, drop, double or cut a line, or
// overwrite characters with digits, signs, letters, blanks or stars.
std::vector<std::string> mutate(std::vector<std::string> lines, std::mt19937& random) {
  auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
  for (int c = 1 + static_cast<int>(pick(4)); c > 0 && !lines.empty(); --c) {
    std::size_t at = pick(lines.size());
    auto where = lines.begin() + static_cast<std::ptrdiff_t>(at);
    switch (pick(6)) {
      case 0: lines.resize(at); break;
      case 1: lines.erase(where); break;
      case 2: lines.insert(where, lines[at]); break;
      case 3: lines[at].resize(pick(lines[at].size() + 1)); break;
      default:
        for (int k = 0; k < 3 && !lines[at].empty(); ++k)
          lines[at][pick(lines[at].size())] = kAlphabet[pick(kAlphabet.size())];
    }
  }
  return lines;
}

// Runs `reader` on variations of `lines`. A stop must leave its message as
// the last line of the error stream; running out of answers is a failure.
void fuzz(const std::vector<std::string>& lines, const std::string& answers, unsigned seed,
          const std::function<void(textio::Console&, textio::LineReader&)>& reader) {
  std::mt19937 random(seed);
  for (int v = 0; v < kVariations; ++v) {
    Dialogue dialogue(answers);
    auto file = reader_of(mutate(lines, random));
    try {
      reader(dialogue.console, file);
    } catch (const textio::ProgramStop& stop) {
      EXPECT_TRUE(!stop.message.empty() && ends_with(dialogue.err.str(), stop.message + "\n"));
    } catch (const textio::EndOfInput&) {
      ADD_FAILURE() << "the reader asked more than its questions, variation " << v;
    }
  }
}

std::function<void(textio::Console&, textio::LineReader&)> table_reader(Reader reader) {
  return [reader](textio::Console& console, textio::LineReader& file) {
    SeriesTable table;
    reader(console, file, table);
    for (const Series& series : table.series) {
      EXPECT_EQ(series.name.size(), 8u);
      EXPECT_TRUE(series.x.empty() || series.x.size() == series.values.size());
    }
  };
}

TEST(ReaderFuzz, ColumnAndRowReaders) {
  fuzz(help_example_file(3), "", 1, table_reader(rd1col));
  fuzz(help_example_file(4), "0\n", 2, table_reader(rd2col));
  fuzz(help_example_file(5, 1), "2\n6\n*\n", 3, table_reader(rdmcol));
  fuzz(help_example_file(6), "5\n12\n0.01\n", 4, table_reader(rdmet));
  fuzz(help_example_file(7), "5\n(1x,i4,7x,f7.2)\n1\n", 5, table_reader(rdrows));
}

TEST(ReaderFuzz, TreeRingReaders) {
  auto raw = help_example_file(1);
  raw.insert(raw.begin(), {std::string(79, ' ') + "#", "n        4      1850  (2f8.3)",
                           "   0.100   0.200", "   0.300   0.400"});
  fuzz(raw, "", 6, [](textio::Console& console, textio::LineReader& file) {
    int status = 0;
    RingSeries ring;
    for (int calls = 1; status >= 0; ++calls) {
      trrw(console, file, ring, status);
      ASSERT_LE(calls, 40) << "trrw does not reach the end of the file";
      EXPECT_TRUE(ring.count < 0 || ring.values.size() == static_cast<std::size_t>(ring.count));
    }
  });
  fuzz(help_example_file(2), "", 7, [](textio::Console& console, textio::LineReader& file) {
    bool lok = false;
    for (int calls = 1; !lok; ++calls) {
      Series slot;
      std::vector<int> samples;
      bool found = aindx(console, file, slot, samples, 3, lok);
      EXPECT_TRUE(!found || samples.size() == slot.values.size());
      ASSERT_LE(calls, 40) << "aindx does not reach the end of the file";
    }
  });
}

}  // namespace
}  // namespace quorvane::input
