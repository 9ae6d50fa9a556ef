// The plot of a cross-spectrum: coherence with its null levels above, the
// phase with its interval below, both against frequency.
#pragma once

#include <span>
#include <string>

namespace quorvane::display {

struct CoherencePlotInput {
  std::string title;
  std::span<const float> frequency;
  std::span<const float> coherence;
  std::span<const float> level95, level99;  // drawn dashed and dotted
  std::span<const float> phase, phase_lower, phase_upper;  // degrees
  std::string frequency_label = "frequency";
};

// Draws the two panels with file device `device` (see file_device) into
// `path`, as draw_file_atomically does: coherence 0..1, phase -180..180
// degrees (an interval beyond is clipped). Curves of more points than the
// panel has pixel columns are thinned as the spectrum plots are. Returns
// false with `error` set when nothing was written (fewer than 2 frequencies,
// arrays of other lengths, a device failure).
bool draw_coherence_file(const CoherencePlotInput& input, const std::string& device,
                         const std::string& path, std::string& error);

}  // namespace quorvane::display
