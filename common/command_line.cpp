#include "command_line.h"

#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <fcntl.h>
#include <unistd.h>

namespace zeb {

namespace {

[[noreturn]] void answer(const char* tool, std::string_view text, std::string_view more = {}) {
  // A full disk or a lost connection can show only at the close.
  if (write_all(1, text) && write_all(1, more) && ::close(1) == 0) ::_exit(0);
  diagnose(tool, "standard output", std::strerror(errno ? errno : EIO));
  ::_exit(failure_status);
}

// Writes the parts as one line on standard error, each escaped as
// escape_control_bytes does; errno is kept.
void write_escaped_line(std::initializer_list<std::string_view> parts) {
  char line[2048];
  std::size_t n = 0;
  for (std::string_view part : parts) n += escape_control_bytes(part, line + n, sizeof line - 1 - n);
  line[n++] = '\n';
  const int saved = errno;
  (void)write_all(2, std::string_view(line, n));
  errno = saved;
}

}  // namespace

void answer_help_or_version(int argc, char** argv, const char* tool, std::string_view usage) {
  if (argc != 2) return;
  const std::string_view argument = argv[1];
  if (argument == "--help" || argument == "-h") answer(tool, usage);
  if (argument == "--version") answer(tool, tool, " " ZEB_VERSION " (" ZEB_DATE ")\n");
}

void hint_at_terminal(std::string_view tool, std::string_view what) {
  if (::isatty(0)) write_escaped_line({tool, ": waiting for ", what, "; see ", tool, " --help"});
}

std::size_t escape_control_bytes(std::string_view text, char* out, std::size_t room) {
  static constexpr char hex[] = "0123456789abcdef";
  std::size_t n = 0;
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c >= 32 && c < 127) {
      if (n + 1 > room) break;
      out[n++] = ch;
      continue;
    }
    if (n + 4 > room) break;
    out[n++] = '\\';
    out[n++] = 'x';
    out[n++] = hex[c >> 4];
    out[n++] = hex[c & 15];
  }
  return n;
}

void diagnose(std::string_view tool, std::string_view subject, std::string_view reason) {
  write_escaped_line({tool, ": ", subject, ": ", reason});
}

bool write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t done = ::write(fd, text.data(), text.size());
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      if (done == 0) errno = EIO;
      return false;
    }
    text.remove_prefix(std::size_t(done));
  }
  return true;
}

int above_standard_streams(int fd) {
  if (fd < 0 || fd > 2) return fd;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  const int error = errno;
  ::close(fd);
  errno = error;
  return moved;
}

}  // namespace zeb
