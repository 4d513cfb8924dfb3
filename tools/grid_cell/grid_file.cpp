#include "grid_file.h"

namespace zeb {

grid_outcome read_grid(channel& grid_file, float (&grid)[grid_cells],
                       char (&header_line)[header_size], char (&row_label)[row_label_size]) {
  require(read_templated<"(A80)">(grid_file, header_line), grid_file);
  for (int r = 1; r <= grid_side; ++r) {
    require(read_templated<"(A10)">(grid_file, row_label), grid_file);
    float* v = &grid[cell_at(1, r)];
    // A short value record reads as blanks, so the end of the file shows
    // here only when no record at all is left after a label.
    switch (read_templated<"(2X,7F11.1)">(grid_file, v[0], v[1], v[2], v[3], v[4], v[5], v[6])) {
      case outcome::done: break;
      case outcome::end_of_file: return grid_outcome::ended_early;
      case outcome::error: return grid_outcome::error;
    }
  }
  close_channel(grid_file);
  return grid_outcome::complete;
}

void write_grid_header(channel& out, const char (&header_line)[header_size]) {
  write_templated<"(A80)">(out, header_line);
}

void write_grid_rows(channel& out, const float (&grid)[grid_cells]) {
  for (int r = 1; r <= grid_side; ++r) {
    const float* v = &grid[cell_at(1, r)];
    write_templated<"(':: ')">(out);
    write_templated<"('::',7F11.1)">(out, v[0], v[1], v[2], v[3], v[4], v[5], v[6]);
  }
  write_templated<"(':: ')">(out);
}

void write_cell_value(channel& out, float value) { write_templated<"(F11.1)">(out, value); }

}  // namespace zeb
