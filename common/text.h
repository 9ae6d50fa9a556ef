// Small text helpers that messages of every subsystem share.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvane {

// A series name as it joins a message after a word: " NAME", or nothing for
// a series without a name, so that the message holds no double blank
// ("Series" + spaced(name) + " has 1 value").
inline std::string spaced(std::string_view name) {
  // Appended in turn: GCC 12 at -O3 misreads " " + std::string as an
  // overlapping copy (-Wrestrict).
  std::string text;
  if (!name.empty()) text.append(" ").append(name);
  return text;
}

// text itself when it has at most `bytes` bytes; otherwise its first bytes,
// cut back to a UTF-8 character boundary, and "...": a name or a line shown
// in a message without flooding it.
inline std::string shortened(std::string_view text, std::size_t bytes) {
  if (text.size() <= bytes) return std::string(text);
  std::size_t cut = bytes;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return std::string(text.substr(0, cut)) + "...";
}

}  // namespace quorvane
