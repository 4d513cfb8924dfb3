// num_greater A B: writes the single character 1 when A is greater than B,
// else 0, with no line feed.
//
// Scripts call this in tight loops, so it stays tiny: no stdio streams,
// no text layer, one write(2). The start-up floating-point mode (values
// below 2^-126 count as zero) comes from the object every tool links.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <unistd.h>

#include "command_line.h"
#include "number_argument.h"

namespace {

// What --help prints.
constexpr std::string_view usage =
    "Usage: num_greater A B\n"
    "\n"
    "Writes the single character 1 when the number A is greater than B, and 0\n"
    "otherwise (equal values and nan included), with no line feed. Each\n"
    "argument is read as sscanf's %f reads it (the longest leading number:\n"
    "3abc is 3), in single precision, values below 2^-126 counting as zero.\n"
    "Reads no standard input.\n"
    "\n"
    "Exit status: 0 after every comparison. 2, with one line on standard\n"
    "error and no answer, when an argument is missing or does not begin with\n"
    "a number, or standard output cannot be written.\n";


// One line "num_greater: subject: reason" on standard error, status 2.
// An argument is shown cut short and quoted, so that the diagnostic stays
// one line; the line is escaped, so that it cannot drive the terminal.
[[noreturn]] void fail(const char* subject, const char* argument, const char* reason) {
  char shown[128];
  std::string_view what = subject;
  if (argument) {
    constexpr std::size_t most = 64;
    const std::size_t length = std::strlen(argument);
    const int n = std::snprintf(shown, sizeof shown, "%s '%.*s%s'", subject, int(length < most ? length : most),
                                argument, length > most ? "..." : "");
    what = std::string_view(shown, std::size_t(n));
  }
  zeb::diagnose("num_greater", what, reason);
  ::_exit(zeb::failure_status);
}

// An argument that gives no number must not be compared: an undefined
// value could answer 1.
float number(int argc, char** argv, int index, const char* which) {
  if (argc <= index) fail(which, nullptr, "missing");
  float value;
  if (!zeb::number_argument(argv[index], value)) fail(which, argv[index], "not a number");
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  zeb::answer_help_or_version(argc, argv, "num_greater", usage);
  const float a = number(argc, argv, 1, "first argument");
  const float b = number(argc, argv, 2, "second argument");

  const char answer = zeb::greater_answer(a, b);
  if (!zeb::write_all(1, {&answer, 1})) fail("standard output", nullptr, std::strerror(errno));
  // A full disk or a lost connection can show only at the close.
  if (::close(1) != 0 && errno != EINTR) fail("standard output", nullptr, std::strerror(errno));
  return 0;
}
