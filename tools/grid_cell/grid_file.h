// The grid file: a header record, then seven pairs of a label record and a
// record of seven values, read into a 7 by 7 grid of reals; and the two
// files written from it, the rewritten grid file and the cell report file.
//
// Cell (c, r) is the c-th value of the r-th value record, both counted
// from 1; the grid is stored row by row.
#pragma once

#include <cstdint>

#include "text.h"

namespace zeb {

inline constexpr int grid_side = 7;
inline constexpr int grid_cells = grid_side * grid_side;
inline constexpr int header_size = 200;
inline constexpr int row_label_size = 10;

constexpr bool valid_index(std::int32_t i) { return i >= 1 && i <= grid_side; }
// Only for valid indexes.
constexpr int cell_at(std::int32_t column, std::int32_t row) {
  return grid_side * (row - 1) + (column - 1);
}

enum class grid_outcome : std::uint8_t {
  complete,     // all seven rows read; the channel is closed
  ended_early,  // the file ended where a value record was due; the channel stays open
  error,        // a value field is not a number
};

// Reads a grid file from a channel opened with open_old. Cells the file
// does not supply keep what they held. A file that ends before its header
// or a label record is an unguarded failure.
grid_outcome read_grid(channel& grid_file, float (&grid)[grid_cells],
                       char (&header_line)[header_size], char (&row_label)[row_label_size]);

// Record 1 of the rewritten grid file: the header's first 80 columns.
void write_grid_header(channel& out, const char (&header_line)[header_size]);
// Records 2 to 16: a separator before each row of values and one at the end.
void write_grid_rows(channel& out, const float (&grid)[grid_cells]);
// The one record of the cell report file.
void write_cell_value(channel& out, float value);

}  // namespace zeb
