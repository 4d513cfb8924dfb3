// zeb_nth_line: reads a file name and a line number n from standard input
// and writes the n-th line of that file without its trailing blanks.
// With n of 0 or less it writes the file name itself. Every failure (no
// answer, not a number, no such file, too few lines) is an unguarded one:
// a diagnostic on standard error, status 2, nothing on standard output.
#include <cstdint>
#include <string_view>

#include "command_line.h"
#include "text.h"

const char zeb::tool_name[] = "zeb_nth_line";

// What --help prints.
constexpr std::string_view usage =
    "Usage: printf '%s\\n%d\\n' FILE N | zeb_nth_line\n"
    "\n"
    "Writes line N of FILE (counting from 1), cut to 200 characters and\n"
    "without its trailing blanks. Answers on standard input, in this order:\n"
    "  1. the file name   the whole first line: blanks and quotes are part of it\n"
    "  2. N               free-form integer; 0 or less, or a slash, writes the\n"
    "                     file name instead (the file must exist all the same)\n"
    "\n"
    "Exit status: 0 when the line was written. 2, with one line on standard\n"
    "error and nothing on standard output, when an answer is missing or N is\n"
    "not an integer, the file cannot be opened or has fewer than N lines, or\n"
    "the line cannot be written.\n";

namespace {

// The file's channel holds a 64 KiB buffer: kept off the stack.
zeb::channel file;

}  // namespace

int main(int argc, char** argv) {
  zeb::answer_help_or_version(argc, argv, zeb::tool_name, usage);
  // One field serves for the name and then for the lines of the file.
  char text[200];
  zeb::require(zeb::read_templated<"(A)">(zeb::std_in, text), zeb::std_in);

  // An answer that gives n no value (a slash, an empty value) means 0.
  std::int32_t n = 0;
  zeb::require(zeb::read_free_form(zeb::std_in, n), zeb::std_in);

  // Opened whatever n is: the file must exist even when its name is the answer.
  if (!zeb::open_old(file, text)) zeb::fail_open(file);

  if (n >= 1) {
    // Lines before the n-th are only passed over: a record read into the
    // field would be overwritten by the next one anyway.
    zeb::require(zeb::skip_records(file, n - 1), file);
    zeb::require(zeb::read_templated<"(A)">(file, text), file);
  }

  const int length = zeb::shorten(text);
  zeb::write_templated<"(A)">(zeb::std_out, std::string_view(text, std::size_t(length)));
  zeb::normal_stop();
}
