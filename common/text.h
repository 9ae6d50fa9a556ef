// Small text helpers that messages of every subsystem share.
#pragma once

#include <string>
#include <string_view>

namespace quorvane {

// A series name as it joins a message after a word: " NAME", or nothing for
// a series without a name, so that the message holds no double blank
// ("Series" + spaced(name) + " has 1 value").
inline std::string spaced(std::string_view name) {
  return name.empty() ? std::string() : " " + std::string(name);
}

}  // namespace quorvane
