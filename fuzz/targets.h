// Fuzz targets: each takes one input of arbitrary bytes and runs a part of
// the program on it. libFuzzer drives them through the small main files
// (fuzz_main_*.cc, built with clang); the test suite replays their seed
// corpora and the kept regression inputs through the same functions.
//
// Besides crashes and sanitizer reports, a target fails by throwing
// FuzzFailure when a property that must hold for every input does not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace quorvane::fuzz {

struct FuzzFailure : std::logic_error {
  using std::logic_error::logic_error;
};

// Throws FuzzFailure with `what` unless `holds`.
inline void require(bool holds, const std::string& what) {
  if (!holds) throw FuzzFailure(what);
}

// Byte 0 is the number of values to read; the rest, up to the first line
// end, is a record layout; the remaining lines are read with it. A layout
// that parses must read and write within bounds, and what it writes must
// read back as the same values.
int layout_target(const std::uint8_t* data, std::size_t size);

// Byte 0 selects what is read (integer, real, word, logical, and the
// console's questions); the rest is the text. A token that reads as an
// integer must read as the same real.
int free_format_target(const std::uint8_t* data, std::size_t size);

// Byte 0 selects the layout (1 to 7); byte 1 the lines to skip, bytes 2-3
// the column count (low byte first), byte 4 the values per line and byte 5
// the multiplier (1, 0.01, 1e30 or -0.5); then a line with
// the row-wise record layout (for csv the time column's name), a line with
// the sentinel (for csv the series' column names, separated by commas), and
// the file. Every series read must be well formed, with finite values no
// more numerous than the file's characters, and every series chosen must
// have increasing times.
int reader_target(const std::uint8_t* data, std::size_t size);

// The reader target with the layout fixed to `iform` (1 to 8, 8 the csv
// layout, which the dialogue does not offer) whatever
// byte 0 holds, so that each reader gets a fuzzing run of its own from the
// same corpus.
int reader_target_for(int iform, const std::uint8_t* data, std::size_t size);

// Bytes 0-1 give the length n of the file (modulo the input's size); the
// next n bytes are the file and the rest is standard input for the whole
// dialogue, after the file's name. The dialogue must end (by quitting or at
// the end of its input) without a crash.
int dialogue_target(const std::uint8_t* data, std::size_t size);

// Byte 0 chooses the settings (the sampling method, the resolution, the
// estimate); the rest is a csv file, times included. Each of its first two
// series that is short (at most 256 values over at most 2048 steps) goes
// through the spectrum and the evolutive spectrum, and the two through the
// coherence, by the public functions. A refusal must give a reason; a
// result must have columns of one length, finite spectra, and coherences
// within 0 to 1.
int analysis_target(const std::uint8_t* data, std::size_t size);

}  // namespace quorvane::fuzz
