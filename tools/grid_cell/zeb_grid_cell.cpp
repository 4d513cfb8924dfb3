// zeb_grid_cell: reads a grid file, then either reports the value of one
// cell (into a new one-record file and on standard output) or writes the
// whole grid with one cell replaced into a new file. Answers on standard
// input, in order: grid file name; column and row index; output file name;
// mode (0 replaces, anything else reports); in replace mode the new value.
// Its own error lines end with status 0; arguments are ignored.
#include <climits>
#include <cstdint>

#include "command_line.h"
#include "grid_file.h"
#include "text.h"

const char zeb::tool_name[] = "zeb_grid_cell";

// What --help prints.
constexpr std::string_view usage =
    "Usage: printf '%s\\n' GRID 'C R' OUTPUT MODE [VALUE] | zeb_grid_cell\n"
    "\n"
    "Reports or replaces one cell of a 7 by 7 grid file. Answers on standard\n"
    "input, all free-form (separated by blanks, tabs, commas, semicolons or\n"
    "line ends; an unquoted name ends at a blank, tab, comma, semicolon or\n"
    "slash, so quote a path: '\"results/cell.txt\"'), in this order:\n"
    "  1. the grid file name\n"
    "  2. the column and the row index, each 1 to 7\n"
    "  3. the output file name; the file must not exist\n"
    "  4. the mode: 0 replaces the cell, any other integer reports it\n"
    "  5. in replace mode only, the new value\n"
    "Report mode writes the value into the output file and \" Position ...\"\n"
    "on standard output; replace mode writes the whole grid. A name longer\n"
    "than 200 characters is refused, never cut.\n"
    "\n"
    "Its own error lines (\"ERROR in zeb_grid_cell during ...\") end with\n"
    "status 0 and create no file; before the error line of a file, one line\n"
    "on standard error says why. Status 2, with one line on standard error,\n"
    "when an answer is missing or not of its type, the grid file ends early,\n"
    "or a write fails.\n";

namespace {

// The most of a name the tool keeps; a longer name is refused.
constexpr std::size_t name_length = 200;

// Each error line is two literals joined, so it reads exactly as scripts
// grep for it; the tool then stops normally, having created no file. The
// line on standard error before a file's error line says why.
[[noreturn]] void stop_after_input_open(const zeb::channel& grid_file) {
  zeb::explain_open(grid_file);
  zeb::write_templated<"('ERROR in zeb_grid_cell during ','input file open file 1')">(zeb::std_out);
  zeb::normal_stop();
}
[[noreturn]] void stop_after_input_read(const zeb::channel& grid_file) {
  zeb::explain_read(grid_file, zeb::outcome::error);
  zeb::write_templated<"('ERROR in zeb_grid_cell during ','reading from input file 1')">(zeb::std_out);
  zeb::normal_stop();
}
[[noreturn]] void stop_after_output_open(const zeb::channel& output_file) {
  zeb::explain_open(output_file);
  zeb::write_templated<"('ERROR in zeb_grid_cell during ','output file open file 2')">(zeb::std_out);
  zeb::normal_stop();
}
// An index outside the grid would address memory outside it.
[[noreturn]] void stop_after_index_check(bool column) {
  if (column)
    zeb::write_templated<"('ERROR in zeb_grid_cell during ','column index check: not in 1 to 7')">(zeb::std_out);
  else
    zeb::write_templated<"('ERROR in zeb_grid_cell during ','row index check: not in 1 to 7')">(zeb::std_out);
  zeb::normal_stop();
}

void fill_blanks(char (&field)[PATH_MAX]) {
  for (char& c : field) c = ' ';
}

}  // namespace

int main(int argc, char** argv) {
  zeb::answer_help_or_version(argc, argv, zeb::tool_name, usage);
  zeb::hint_at_terminal(zeb::tool_name, "its answers: grid file, column and row, output file, mode [, new value]");
  // Every cell is 0.0 until the grid file supplies it; an answer that a
  // slash or an empty value leaves unset is a blank name or a zero number.
  float grid[zeb::grid_cells] = {};
  char header_line[zeb::header_size];
  char row_label[zeb::row_label_size];
  // Names are read into fields that hold any name the system can open: one
  // longer than the tool keeps is then refused at its open, never cut to
  // name another file.
  char grid_file_name[PATH_MAX];
  char output_file_name[PATH_MAX];
  std::int32_t column_index = 0;
  std::int32_t row_index = 0;
  std::int32_t mode = 0;
  float new_value = 0.0f;
  fill_blanks(grid_file_name);
  fill_blanks(output_file_name);
  static zeb::channel grid_file;
  static zeb::channel output_file;

  zeb::require(zeb::read_name_token(zeb::std_in, grid_file_name), zeb::std_in);
  zeb::write_templated<"('Opening for read ',A50)">(zeb::std_out, grid_file_name);
  if (!zeb::open_old(grid_file, grid_file_name, name_length)) stop_after_input_open(grid_file);

  // After ended_early the grid file stays open until the end; the missing
  // rows are zeros.
  if (zeb::read_grid(grid_file, grid, header_line, row_label) == zeb::grid_outcome::error)
    stop_after_input_read(grid_file);

  zeb::require(zeb::read_free_form(zeb::std_in, column_index, row_index), zeb::std_in);
  if (!zeb::valid_index(column_index)) stop_after_index_check(true);
  if (!zeb::valid_index(row_index)) stop_after_index_check(false);
  float& cell = grid[zeb::cell_at(column_index, row_index)];

  zeb::require(zeb::read_name_token(zeb::std_in, output_file_name), zeb::std_in);
  zeb::write_templated<"('Opening for write ',A50)">(zeb::std_out, output_file_name);
  // Fails on an existing file, which is then left as it is.
  if (!zeb::open_new(output_file, output_file_name, name_length)) stop_after_output_open(output_file);

  zeb::require(zeb::read_free_form(zeb::std_in, mode), zeb::std_in);
  if (mode == 0) {
    zeb::write_grid_header(output_file, header_line);
    zeb::require(zeb::read_free_form(zeb::std_in, new_value), zeb::std_in);
    cell = new_value;
    zeb::write_grid_rows(output_file, grid);
  } else {
    zeb::write_cell_value(output_file, cell);
    // The report line vouches for the file: its value must have been
    // written first, so that a failed write ends the tool before the line.
    zeb::flush(output_file);
    zeb::write_templated<"(' Position ',2I4,' is ',F11.1)">(zeb::std_out, column_index, row_index, cell);
  }

  zeb::close_channel(grid_file);
  zeb::close_channel(output_file);
  zeb::normal_stop();
}
