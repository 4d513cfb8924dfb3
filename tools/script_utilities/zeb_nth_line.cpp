// zeb_nth_line: reads a file name and a line number n from standard input
// and writes the n-th line of that file without its trailing blanks.
// With n of 0 or less it writes the file name itself. Every failure (no
// answer, not a number, no such file, too few lines) is an unguarded one:
// a diagnostic on standard error, status 2, nothing on standard output.
#include <cstdint>
#include <string_view>

#include "text.h"

const char zeb::tool_name[] = "zeb_nth_line";

namespace {

// The file's channel holds a 64 KiB buffer: kept off the stack.
zeb::channel file;

}  // namespace

int main() {
  // One field serves for the name and then for the lines of the file.
  char text[200];
  zeb::require(zeb::read_templated(zeb::std_in, "(A)", text), zeb::std_in);

  // An answer that gives n no value (a slash, an empty value) means 0.
  std::int32_t n = 0;
  zeb::require(zeb::read_free_form(zeb::std_in, n), zeb::std_in);

  // Opened whatever n is: the file must exist even when its name is the answer.
  if (!zeb::open_old(file, text)) zeb::fail_open(file);

  if (n >= 1) {
    // Lines before the n-th are only passed over: a record read into the
    // field would be overwritten by the next one anyway.
    zeb::require(zeb::skip_records(file, n - 1), file);
    zeb::require(zeb::read_templated(file, "(A)", text), file);
  }

  const int length = zeb::shorten(text);
  zeb::write_templated(zeb::std_out, "(A)", std::string_view(text, std::size_t(length)));
  zeb::normal_stop();
}
