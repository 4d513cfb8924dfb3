// zeb_index_rotate: a filter that rotates the indexes of four-value
// reflection records, standard input to standard output.
#include <string_view>

#include "command_line.h"
#include "reflection.h"

const char zeb::tool_name[] = "zeb_index_rotate";

// What --help prints.
constexpr std::string_view usage =
    "Usage: zeb_index_rotate < input > output\n"
    "\n"
    "Reads reflection records from standard input and writes each to standard\n"
    "output with its indexes h k l rotated to k l h, as\n"
    "(3I6,F12.1,F12.1,F12.3,F12.3). A record is three integers and four reals,\n"
    "free-form: separated by blanks, tabs, commas or semicolons, over several\n"
    "lines if need be; values after the seventh on a line are ignored.\n"
    "Asks nothing.\n"
    "\n"
    "Exit status: 0 at the end of the input. 2, with one line on standard\n"
    "error naming the input line, when a record cannot be read or the input\n"
    "ends inside one (the records before it are written), or when standard\n"
    "output cannot be written.\n";

int main(int argc, char** argv) {
  zeb::answer_help_or_version(argc, argv, zeb::tool_name, usage);
  zeb::hint_at_terminal(zeb::tool_name,
                        "reflection records (h k l and four values) up to Ctrl-D");
  reflection record;
  for (;;) {
    const zeb::outcome o = read_reflection(zeb::std_in, record, layout::four_values);
    // The input may end after whole records (and blank lines) only; a record
    // that cannot be read, or that the end cuts short, is a failure.
    if (o == zeb::outcome::end_of_file && zeb::std_in.items_read == 0) break;
    zeb::require(o, zeb::std_in);
    write_reflection(zeb::std_out, record, layout::four_values);
  }
  zeb::normal_stop();
}
