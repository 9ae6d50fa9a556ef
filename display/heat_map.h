// Heat maps of evolutive spectra: a value by time and frequency drawn as an
// image in a perceptually uniform colour map, with its colour bar and the
// line tracks over it as points.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace quorvane::display {

// The control points of the heat maps' colour map: viridis (Smith and van
// der Walt 2015, matplotlib's default map, public domain), taken at nine
// evenly spaced positions. Its CIE lightness L* rises evenly from 15 to 91
// (about 9.4 a step), so that the map reads the same in greyscale, and its
// hue runs from dark blue through green to yellow without the false edges
// of rainbow maps. PLplot interpolates between the points in RGB.
struct ColourPoints {
  std::array<double, 9> position, red, green, blue;
};
const ColourPoints& heat_map_colours();

// The image of a heat map: rows (times) by columns (frequencies), kept as
// at most max_rows by max_columns cells so that its memory stays bounded
// however long the run. Row r goes to cell row r * cell_rows() / rows and
// column c to cell column c * cell_columns() / columns; each cell keeps the
// largest value it receives, so that no peak disappears. Cells that receive
// nothing, or only values that are not finite, are drawn at the lowest value.
class HeatMap {
 public:
  HeatMap(std::size_t rows, std::size_t columns, std::size_t max_rows = 1024,
          std::size_t max_columns = 1024);
  // Values of row `row` by column; values beyond `columns` and rows beyond
  // `rows` are ignored.
  void add_row(std::size_t row, std::span<const float> values);

  std::size_t rows() const { return rows_; }
  std::size_t columns() const { return columns_; }
  std::size_t cell_rows() const { return cell_rows_; }
  std::size_t cell_columns() const { return cell_columns_; }
  // cell_rows() * cell_columns() values, row after row.
  std::span<const float> cells() const { return cells_; }

 private:
  std::size_t rows_, columns_, cell_rows_, cell_columns_;
  std::vector<float> cells_;
};

// What one heat map shows.
struct HeatMapInput {
  std::string title;
  const HeatMap* map = nullptr;
  double first_time = 0.0, last_time = 0.0;  // the times of the first and last rows
  double first_frequency = 0.0, last_frequency = 0.0;  // of the first and last columns
  std::string time_label, frequency_label, value_label;
  std::span<const float> track_time, track_frequency;  // points drawn over the image
};

// Draws the heat map with file device `device` (see file_device) into
// `path`: the image over time (horizontal) and frequency (vertical), each
// cell centred on its row's time and column's frequency, coloured from its
// lowest to its highest finite value; the colour bar with value_label beside
// it; the tracks as small points, dark with a light centre so that they show
// on every colour. Drawn as draw_file_atomically does; false with `error`
// set when nothing was written.
bool draw_heat_map_file(const HeatMapInput& input, const std::string& device,
                        const std::string& path, std::string& error);

}  // namespace quorvane::display
