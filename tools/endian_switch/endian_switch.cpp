// endian_switch: asks for the name of an old-style density map and converts
// the file in place to the other byte order, header words and data values.
// Everything it says goes to standard output; it ends with status 1 on every
// failure. Every check that can refuse the file comes before the first write,
// so a refused file is never changed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "command_line.h"
#include "map_header.h"

namespace {

using zeb::header_bytes;
using zeb::row_limit;

// What --help prints.
constexpr std::string_view usage =
    "Usage: echo MAP | endian_switch\n"
    "\n"
    "Converts the old-style density map MAP in place to the other byte order:\n"
    "the numeric words of its 1024-byte header and every stored value. Prints\n"
    "a banner and \"Type in file name ...\", then reads one word from standard\n"
    "input as the name (it ends at a blank, a tab or a line end).\n"
    "\n"
    "Everything it says goes to standard output. Exit status: 0 after\n"
    "\"Normal termination ...\"; 1 after any one-line failure message, the map\n"
    "then unchanged; 2, with one line on standard error, when standard output\n"
    "cannot be written.\n";


// Whole rows move through this one buffer: a few large transfers instead of
// four system calls per row keep narrow maps as fast as wide ones.
constexpr std::int64_t block_bytes = 1 << 20;
alignas(64) unsigned char block[block_bytes];

// errno of the first write to standard output that failed, or 0.
int output_error = 0;

void say(const char* text, std::size_t length) {
  while (length > 0 && output_error == 0) {
    ssize_t written = write(STDOUT_FILENO, text, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      output_error = written < 0 ? errno : EIO;
      return;
    }
    text += written;
    length -= static_cast<std::size_t>(written);
  }
}

void say(const char* text) { say(text, std::strlen(text)); }

// Standard output is written without a buffer, so nothing is pending here.
// A run whose messages could not be delivered must not look like a success
// (nor like a failure the script could read about): it ends with status 2
// and one line on standard error instead.
[[noreturn]] void stop(int status) {
  if (output_error != 0) {
    char line[160];
    int length = std::snprintf(line, sizeof line, "endian_switch: standard output: %s\n",
                               std::strerror(output_error));
    [[maybe_unused]] ssize_t ignored = write(STDERR_FILENO, line, static_cast<std::size_t>(length));
    _exit(2);
  }
  _exit(status);
}

[[noreturn]] void fail(const char* message) {
  say(message);
  say("\n");
  stop(1);
}

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads one white-space-delimited token into `name`, a byte at a time so
// that the rest of standard input stays unread. False, with the first 255
// bytes kept, when the token cannot be a usable name: too long for the
// buffer, holding a zero byte, or cut short by a read error.
bool read_name(char (&name)[256]) {
  std::size_t length = 0;
  bool usable = true;
  bool in_token = false;
  for (;;) {
    char c;
    ssize_t got = read(STDIN_FILENO, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) usable = false;
    if (got <= 0) break;
    if (is_blank(c)) {
      if (in_token) break;
      continue;
    }
    in_token = true;
    if (c == '\0') usable = false;
    if (length < sizeof name - 1) {
      name[length++] = c;
    } else {
      usable = false;
    }
  }
  name[length] = '\0';
  return usable;
}

// The map must never take the place of a standard stream the caller left
// closed: a diagnostic meant for standard error would land in its header.
int above_standard_streams(int fd) {
  if (fd < 0 || fd > STDERR_FILENO) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  close(fd);
  return moved;
}

enum class transfer { done, not_seekable, failed };

// Moves `bytes` bytes between `buffer` and the file at `offset`, one way
// or the other, retrying short transfers; the end of the file before the
// last byte is a failure.
transfer move_at(int fd, unsigned char* buffer, std::size_t bytes, off_t offset, bool writing) {
  std::size_t moved = 0;
  while (moved < bytes) {
    const off_t at = offset + static_cast<off_t>(moved);
    const ssize_t done = writing ? pwrite(fd, buffer + moved, bytes - moved, at)
                                 : pread(fd, buffer + moved, bytes - moved, at);
    if (done > 0) {
      moved += static_cast<std::size_t>(done);
      continue;
    }
    if (done < 0 && errno == EINTR) continue;
    return done < 0 && errno == ESPIPE ? transfer::not_seekable : transfer::failed;
  }
  return transfer::done;
}

transfer read_at(int fd, unsigned char* buffer, std::size_t bytes, off_t offset) {
  return move_at(fd, buffer, bytes, offset, false);
}

transfer write_at(int fd, unsigned char* buffer, std::size_t bytes, off_t offset) {
  return move_at(fd, buffer, bytes, offset, true);
}

// Reverses every value of the rows stored in bytes [from, to), whole rows
// of `row_bytes` bytes, in file order, as many rows at a time as the buffer
// holds. Gives nullptr when all are done; else the failure's message, with
// `reached` at the first row not converted. A block whose write failed is
// first written back as it was read: part of it may have landed.
const char* convert_rows(int mapfile, std::int64_t from, std::int64_t to, std::int64_t row_bytes,
                         std::int32_t bytes_per_value, std::int64_t& reached) {
  reached = from;
  if (from >= to || row_bytes <= 0) return nullptr;
  const std::int64_t block_rows_bytes = block_bytes / row_bytes * row_bytes;
  while (reached < to) {
    const std::int64_t bytes = std::min(block_rows_bytes, to - reached);
    const std::int32_t values = static_cast<std::int32_t>(bytes / bytes_per_value);
    switch (read_at(mapfile, block, static_cast<std::size_t>(bytes), reached)) {
      case transfer::done: break;
      case transfer::not_seekable: return "fseek failed before data read ...";
      case transfer::failed: return "fread failed during data read ...";
    }
    zeb::swap_bytes(block, bytes_per_value, values);
    const transfer written = write_at(mapfile, block, static_cast<std::size_t>(bytes), reached);
    if (written != transfer::done) {
      zeb::swap_bytes(block, bytes_per_value, values);
      write_at(mapfile, block, static_cast<std::size_t>(bytes), reached);
      return written == transfer::not_seekable ? "fseek failed before data write ..."
                                               : "fread failed during data write ...";
    }
    reached += bytes;
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  zeb::answer_help_or_version(argc, argv, "endian_switch", usage);
  // A reader of standard output that goes away, or a write beyond the
  // file size limit (of the map or of standard output), must not kill the
  // run between the header rewrite and the end of the data pass: the write
  // fails instead, and the failure is reported and undone.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);

  say("\n"
      "***********************************************\n"
      "******* endian_switch v0.2 22.07.96 ***********\n"
      "***********************************************\n"
      "\n"
      "Type in file name ...\n");
  if (output_error != 0) stop(1);

  char name[256];
  const bool name_usable = read_name(name);
  const int mapfile = name_usable ? above_standard_streams(open(name, O_RDWR | O_CLOEXEC | O_NOCTTY)) : -1;
  if (mapfile < 0) {
    char line[300];
    int length = std::snprintf(line, sizeof line, "cannot open file ... %s \n", name);
    say(line, static_cast<std::size_t>(length));
    stop(1);
  }

  unsigned char header[header_bytes];
  if (read_at(mapfile, header, header_bytes, 0) != transfer::done) {
    fail("fread failed during header read ...");
  }

  if (zeb::is_new_style(header)) fail("Error - cannot byte-swap new-style map, use pixel_recoder ");

  const std::int32_t mode = zeb::recognise_mode(header);
  if (mode == zeb::unknown_mode) fail("Unknown mode ...");

  const zeb::mode_sizes sizes = zeb::look_up_mode(mode);

  struct stat file_status;
  if (stat(name, &file_status) != 0) fail("Cannot stat file ...");

  const zeb::settled_dimensions settled =
      zeb::settle_dimensions(zeb::read_dimensions(header), sizes, file_status.st_size);
  if (!settled.size_matches) say("WARNING Filesize does not match header...\n");
  const zeb::dimensions dims = settled.dims;

  const std::int64_t row_bytes = zeb::row_length(dims.columns, sizes);
  if (row_bytes > row_limit) fail("Program dimensions too small ...");

  char report[160];
  int length = std::snprintf(report, sizeof report,
                             "Number of columns, rows, sections ........%d %d %d \n"
                             "Map mode .................................%d\n",
                             dims.columns, dims.rows, dims.sections, mode);
  say(report, static_cast<std::size_t>(length));

  // Refusals that must come before the first write: a row of negative
  // length, and a file too short for its rows, which would otherwise be
  // left with its header and first rows in one byte order and the rest in
  // the other.
  if (dims.columns < 0) fail("Negative number of columns ...");
  const bool has_data_pass = mode != 0;
  const std::int64_t row_count = zeb::data_rows(dims);
  if (has_data_pass && row_bytes > 0 && !zeb::file_holds_rows(file_status.st_size, row_count, row_bytes)) {
    fail("fread failed during data read ...");
  }
  if (output_error != 0) stop(1);

  // A read or write that fails from here on is undone as far as the file
  // allows: the rows already converted and the header are converted back,
  // so that a refused map is not left with its parts in both byte orders.
  unsigned char original[header_bytes];
  std::memcpy(original, header, header_bytes);
  auto refuse = [&](const char* message, std::int64_t converted_to) {
    std::int64_t undone_to;
    if (!convert_rows(mapfile, header_bytes, converted_to, row_bytes, sizes.bytes_per_value, undone_to))
      write_at(mapfile, original, header_bytes, 0);
    fail(message);
  };

  zeb::convert_header(header);
  const transfer header_written = write_at(mapfile, header, header_bytes, 0);
  if (header_written != transfer::done) {
    refuse(header_written == transfer::not_seekable ? "fseek failed before header rewite ..."
                                                    : "fread failed during header write ...",
           header_bytes);
  }

  if (has_data_pass) {
    say(" Writing byte-swapped data ...\n");
    // The rows lie inside the file (checked above), so their end is a file size.
    const std::int64_t data_end = row_count > 0 && row_bytes > 0 ? header_bytes + row_count * row_bytes : 0;
    posix_fadvise(mapfile, header_bytes, 0, POSIX_FADV_SEQUENTIAL);
    std::int64_t reached;
    if (const char* failure = convert_rows(mapfile, header_bytes, data_end, row_bytes,
                                           sizes.bytes_per_value, reached))
      refuse(failure, reached);
  }

  if (close(mapfile) != 0) fail("Cannot close file ...");
  say("Normal termination ...\n");
  stop(0);
}
