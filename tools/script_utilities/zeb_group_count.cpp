// zeb_group_count: reads image paths from standard input and writes, for
// each run of consecutive lines with the same group name (the text before
// the first slash), "(I5,' images in ',A)": the run's length and the name.
// The line logic, with the quirks scripts rely on, is in group_count.h.
#include <cstdint>
#include <string_view>

#include "command_line.h"
#include "group_count.h"
#include "text.h"

const char zeb::tool_name[] = "zeb_group_count";

// What --help prints.
constexpr std::string_view usage =
    "Usage: zeb_group_count < paths\n"
    "\n"
    "Reads image paths, one per line, and writes for each run of consecutive\n"
    "lines with the same group name (the text before the first slash) the\n"
    "run's length and the name, as (I5,' images in ',A). A line that begins\n"
    "with a slash has an empty name: absolute paths all fall into one group,\n"
    "so give paths relative to the folder that holds the groups.\n"
    "\n"
    "Exit status: 0 at the end of the input, and after a read error, which is\n"
    "written as \" ======== ERROR OCCURRED in zeb_group_count ========\"\n"
    "after one line on standard error that says why.\n"
    "2, with one line on standard error, when standard output cannot be\n"
    "written.\n";

int main(int argc, char** argv) {
  zeb::answer_help_or_version(argc, argv, zeb::tool_name, usage);
  zeb::hint_at_terminal(zeb::tool_name, "image paths, one a line, up to Ctrl-D");
  zeb::group_counter groups;
  auto write_group = [](std::int32_t count, std::string_view name) {
    zeb::write_templated<"(I5,' images in ',A)">(zeb::std_out, count, name);
  };

  for (;;) {
    std::string_view line;
    const zeb::outcome got = zeb::next_record(zeb::std_in, line);
    if (got == zeb::outcome::end_of_file) break;
    if (got == zeb::outcome::error) {
      // The open group is lost; what was written stands.
      zeb::explain_read(zeb::std_in, got);
      zeb::write_templated<"(' ======== ERROR OCCURRED in ',    'zeb_group_count ========')">(zeb::std_out);
      zeb::normal_stop();
    }
    zeb::take_line(groups, line, write_group);
  }

  // End of input: the last group, even when no line came at all.
  write_group(zeb::shown_count(groups.count), groups.name());
  zeb::normal_stop();
}
