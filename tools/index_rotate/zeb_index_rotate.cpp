// zeb_index_rotate: a filter that rotates the indexes of four-value
// reflection records, standard input to standard output.
#include "reflection.h"

const char zeb::tool_name[] = "zeb_index_rotate";

int main() {
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
