// zeb_nth_line: reads a file name and a line number n from standard input
// and writes the n-th line of that file without its trailing blanks.
// With n of 0 or less it writes the file name itself. Every failure (no
// answer, not a number, no such file, too few lines) is an unguarded one:
// a diagnostic on standard error, status 2, nothing on standard output.
#include <climits>
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
    "  1. the file name   the whole first line: blanks and quotes are part of it;\n"
    "                     one longer than 200 characters is refused, never cut\n"
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

// A line is written as its first 200 characters; a name, which may be
// written in a line's place, may be no longer.
constexpr std::size_t line_length = 200;

}  // namespace

int main(int argc, char** argv) {
  zeb::answer_help_or_version(argc, argv, zeb::tool_name, usage);
  zeb::hint_at_terminal(zeb::tool_name, "a file name and a line number, one a line");
  // The name line is read whole, into a field that holds any name the
  // system can open: one longer than a line's 200 characters is then
  // refused at its open, never cut to name another file.
  char name[PATH_MAX];
  zeb::require(zeb::read_name_line(zeb::std_in, name), zeb::std_in);

  // An answer that gives n no value (a slash, an empty value) means 0.
  std::int32_t n = 0;
  zeb::require(zeb::read_free_form(zeb::std_in, n), zeb::std_in);

  // Opened whatever n is: the file must exist even when its name is the answer.
  if (!zeb::open_old(file, name, line_length)) zeb::fail_open(file);

  // The answer: the name itself, unless a line of the file takes its place.
  std::span<const char> text(name, line_length);
  char line[line_length];
  if (n >= 1) {
    // Lines before the n-th are only passed over: a record read into the
    // field would be overwritten by the next one anyway.
    zeb::require(zeb::skip_records(file, n - 1), file);
    zeb::require(zeb::read_templated<"(A)">(file, line), file);
    text = line;
  }

  const int length = zeb::shorten(text);
  zeb::write_templated<"(A)">(zeb::std_out, std::string_view(text.data(), std::size_t(length)));
  zeb::normal_stop();
}
