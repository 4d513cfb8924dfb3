// endian_switch: asks for the name of an old-style density map and converts
// the file in place to the other byte order, header words and data values.
// Everything it says goes to standard output; it ends with status 1 on every
// failure. Every check that can refuse the file comes before the first write,
// so a refused file is never changed.
//
// The map is never left in two byte orders. Before its first byte changes,
// a journal beside it (journal.h) records a checksum of every sector's
// original bytes, so that a run that finds the journal of a run cut short
// by a crash can tell each sector's order and finish the conversion. A run
// that fails, is interrupted by a signal, or cannot write standard output
// puts the map back in its original order before it ends. A lock on the
// map keeps a second run out.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/prctl.h>
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
#include "journal.h"
#include "map_header.h"

namespace {

using zeb::block_bytes;
using zeb::header_bytes;
using zeb::row_limit;
using zeb::transfer;

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
    "cannot be written, the map unchanged as well. A signal (Ctrl-C) puts the\n"
    "map back and ends the run by that signal. After a kill or a crash, run it\n"
    "again on the same map: MAP.endian_switch-journal, beside the map, lets\n"
    "that run finish the conversion.\n";

alignas(64) unsigned char block[block_bytes];
std::uint64_t sums[zeb::block_sectors];

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

// One line on standard error, for what is not the tool's own dialogue.
void complain(const char* what, const char* reason) { zeb::diagnose("endian_switch", what, reason); }

// Standard output is written without a buffer, so nothing is pending here.
// A run whose messages could not be delivered must not look like a success
// (nor like a failure the script could read about): it ends with status 2
// and one line on standard error instead.
[[noreturn]] void stop(int status) {
  if (output_error != 0) {
    complain("standard output", std::strerror(output_error));
    _exit(2);
  }
  _exit(status);
}

[[noreturn]] void fail(const char* message) {
  say(message);
  say("\n");
  stop(1);
}

// --- signals ------------------------------------------------------------
// A user's Ctrl-C, or a batch system's SIGTERM, is noted and acted on at
// the next block boundary, where the run can still put the map back.

constexpr int caught_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
volatile sig_atomic_t pending_signal = 0;

extern "C" void note_signal(int sig) {
  if (pending_signal == 0) pending_signal = sig;
}

void on_signals(void (*action)(int)) {
  struct sigaction a = {};
  a.sa_handler = action;
  a.sa_flags = SA_RESTART;
  sigemptyset(&a.sa_mask);
  for (int sig : caught_signals) sigaction(sig, &a, nullptr);
}

bool signalled() { return pending_signal != 0; }

// Ends by the signal itself, so that a calling shell sees an interrupted
// command (status 128 + n) and its loop stops. SIGQUIT would leave a core
// file beside the map: the process is made undumpable first.
[[noreturn]] void die_of_signal(const char* message) {
  say(message);
  say("\n");
  on_signals(SIG_DFL);
  prctl(PR_SET_DUMPABLE, 0);
  const int sig = pending_signal;
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  _exit(128 + sig);
}

// --- the name -----------------------------------------------------------

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads one white-space-delimited token into `name`, a byte at a time so
// that the rest of standard input stays unread. False, with the bytes read
// kept, as soon as the token is known to be unusable as a name: longer
// than 255 bytes, holding a zero byte, or cut short by a read error. At a
// terminal the rest of the typed line is read as well, so that it never
// reaches the shell as a command.
bool read_name(char (&name)[256]) {
  std::size_t length = 0;
  bool usable = true;
  char c = '\n';
  for (;;) {
    ssize_t got = read(STDIN_FILENO, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) usable = false;
    if (got <= 0) {
      c = '\n';
      break;
    }
    if (is_blank(c)) {
      if (length > 0) break;
      continue;
    }
    if (c == '\0' || length == sizeof name - 1) {
      usable = false;
      break;
    }
    name[length++] = c;
  }
  name[length] = '\0';
  if (isatty(STDIN_FILENO)) {
    while (c != '\n') {
      ssize_t got = read(STDIN_FILENO, &c, 1);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
    }
  }
  return usable;
}

// --- passes over the data -----------------------------------------------

enum class pass_kind {
  reverse,  // every value reversed: the conversion, and its undo
  check,    // every sector found in one order or the other; nothing written
  to_new,   // every sector brought to the new order, as the journal tells
  to_old,   // and back to the old one
};

struct pass_end {
  const char* failure;   // nullptr when every block was passed
  bool stopped;          // a signal came: stopped at a block boundary
  std::int64_t reached;  // the first byte not passed
};

// Passes the data bytes [1024, to) one block at a time, in file order.
// A block whose write fails in a reverse pass is first written back as it
// was read: part of it may have landed. The other passes need not: the
// journal tells the order of every sector, whatever landed.
pass_end pass(int mapfile, std::int64_t to, std::int32_t bytes_per_value, pass_kind kind,
              const zeb::journal* journal, bool stoppable) {
  pass_end end = {nullptr, false, header_bytes};
  for (; end.reached < to; end.reached += block_bytes) {
    if (stoppable && signalled()) {
      end.stopped = true;
      return end;
    }
    const std::int64_t bytes = std::min(block_bytes, to - end.reached);
    const std::int32_t values = static_cast<std::int32_t>(bytes / bytes_per_value);
    switch (zeb::read_at(mapfile, block, static_cast<std::size_t>(bytes), end.reached)) {
      case transfer::done: break;
      case transfer::not_seekable: end.failure = "fseek failed before data read ..."; return end;
      case transfer::failed: end.failure = "fread failed during data read ..."; return end;
    }
    bool changed = true;
    if (kind == pass_kind::reverse) {
      zeb::swap_bytes(block, bytes_per_value, values);
    } else {
      changed = false;
      if (!zeb::read_sums(*journal, end.reached, bytes, sums)) {
        end.failure = "Cannot read journal ...";
        return end;
      }
      if (!zeb::bring_sectors(block, bytes, sums, bytes_per_value, kind != pass_kind::to_old, changed)) {
        end.failure = "Map changed since the interrupted conversion ...";
        return end;
      }
    }
    if (!changed || kind == pass_kind::check) continue;
    const transfer written = zeb::write_at(mapfile, block, static_cast<std::size_t>(bytes), end.reached);
    if (written != transfer::done) {
      if (kind == pass_kind::reverse) {
        zeb::swap_bytes(block, bytes_per_value, values);
        zeb::write_at(mapfile, block, static_cast<std::size_t>(bytes), end.reached);
      }
      end.failure = written == transfer::not_seekable ? "fseek failed before data write ..."
                                                      : "fread failed during data write ...";
      return end;
    }
  }
  return end;
}

// What a run needs in order to put the map back.
struct conversion {
  int mapfile;
  std::int32_t bytes_per_value;
  std::int64_t data_end;
  const unsigned char* original;  // the header before the conversion
  zeb::journal_place place;
  zeb::journal journal;
  bool journaled;   // the journal exists and is durable
  bool recovering;  // it was found: this run finishes another run's work
};

// Puts the map back in its original byte order after the data bytes
// [1024, converted_to) and the header were converted by this run (the
// whole map, as the journal tells, when recovering), makes that durable,
// and removes the journal. A signal now ends the run at once: the journal
// is then left, and the next run finishes the conversion. True when the
// map is back as it was and nothing is left beside it.
bool undo(conversion& c, std::int64_t converted_to) {
  on_signals(SIG_DFL);
  const pass_end back = c.recovering
                            ? pass(c.mapfile, c.data_end, c.bytes_per_value, pass_kind::to_old, &c.journal, false)
                            : pass(c.mapfile, converted_to, c.bytes_per_value, pass_kind::reverse, nullptr, false);
  if (back.failure != nullptr || zeb::write_at(c.mapfile, c.original, header_bytes, 0) != transfer::done) return false;
  if (!c.journaled) return true;
  return fdatasync(c.mapfile) == 0 && zeb::remove_journal(c.place, c.journal);
}

// The ends of a run that does not finish: the failure's message and status
// 1, status 2 when standard output failed, or death by the signal.
[[noreturn]] void give_up(conversion& c, const char* failure, std::int64_t converted_to) {
  const bool undone = undo(c, converted_to);
  if (!signalled()) {
    if (failure == nullptr) stop(2);
    fail(failure);
  }
  if (undone) die_of_signal("Interrupted ... file left in its original byte order");
  if (c.journaled) die_of_signal("Interrupted ... run again to finish the conversion");
  die_of_signal("Interrupted ... file left partly converted");
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
  const int mapfile =
      name_usable ? zeb::above_standard_streams(open(name, O_RDWR | O_CLOEXEC | O_NOCTTY)) : -1;
  if (mapfile < 0) {
    // The name as typed, but no byte of it may drive the terminal.
    char line[32 + 4 * sizeof name];
    std::size_t length = std::strlen(std::strcpy(line, "cannot open file ... "));
    length += zeb::escape_control_bytes(name, line + length, sizeof line - length);
    say(line, length);
    say(" \n");
    stop(1);
  }

  // One run at a time: the lock is held until the process ends. A journal
  // found while it is held was left by a run that no longer works on it.
  if (flock(mapfile, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) fail("File is locked by another run ...");

  struct stat file_status;
  if (fstat(mapfile, &file_status) != 0) fail("Cannot stat file ...");

  conversion c = {};
  c.mapfile = mapfile;
  const bool can_journal = S_ISREG(file_status.st_mode) && zeb::find_journal_place(name, c.place);
  const char* no_journal = can_journal ? nullptr : S_ISREG(file_status.st_mode) ? std::strerror(errno) : "not a regular file";
  if (can_journal) {
    switch (zeb::find_journal(c.place, file_status, c.journal)) {
      case zeb::journal_found::none:
      case zeb::journal_found::unfinished: break;
      case zeb::journal_found::ready: c.recovering = c.journaled = true; break;
      case zeb::journal_found::damaged: fail("Journal is damaged ...");
      case zeb::journal_found::other_file: fail("Journal belongs to another file ...");
      case zeb::journal_found::unreadable: fail("Cannot read journal ...");
    }
  }

  // A run that finishes another's work takes the header as that run read
  // it, so that it decides and reports exactly as that run did.
  unsigned char header[header_bytes];
  if (c.recovering) {
    std::memcpy(header, c.journal.record.header, header_bytes);
  } else if (zeb::read_at(mapfile, header, header_bytes, 0) != transfer::done) {
    fail("fread failed during header read ...");
  }

  if (zeb::is_new_style(header)) fail("Error - cannot byte-swap new-style map, use pixel_recoder ");

  const std::int32_t mode = zeb::recognise_mode(header);
  if (mode == zeb::unknown_mode) fail("Unknown mode ...");

  const zeb::mode_sizes sizes = zeb::look_up_mode(mode);
  c.bytes_per_value = sizes.bytes_per_value;

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
  // The rows lie inside the file (checked above), so their end is a file size.
  c.data_end = has_data_pass && row_count > 0 && row_bytes > 0 ? header_bytes + row_count * row_bytes : header_bytes;

  unsigned char original[header_bytes];
  std::memcpy(original, header, header_bytes);
  c.original = original;
  zeb::convert_header(header);

  // Finishing another run's work, nothing is written before every sector
  // is known to be in one order or the other.
  if (c.recovering) {
    unsigned char found[header_bytes];
    if (c.journal.record.data_end != c.data_end) fail("Journal is damaged ...");
    if (zeb::read_at(mapfile, found, header_bytes, 0) != transfer::done) fail("fread failed during header read ...");
    for (int half = 0; half < 2; ++half)
      if (zeb::header_half_order(found, original, half) == zeb::sector_order::neither)
        fail("Map changed since the interrupted conversion ...");
    const pass_end checked = pass(mapfile, c.data_end, c.bytes_per_value, pass_kind::check, &c.journal, false);
    if (checked.failure != nullptr) fail(checked.failure);
  }

  // From here on a signal is acted on at the next block boundary.
  on_signals(note_signal);
  if (!c.recovering) {
    zeb::journal_record record = {};
    record.device = file_status.st_dev;
    record.inode = file_status.st_ino;
    record.map_size = file_status.st_size;
    record.data_end = c.data_end;
    std::memcpy(record.header, original, header_bytes);
    const zeb::journal_made made = can_journal ? zeb::make_journal(c.place, mapfile, record, block, sums, signalled, c.journal)
                                               : zeb::journal_made::impossible;
    switch (made) {
      case zeb::journal_made::made: c.journaled = true; break;
      case zeb::journal_made::impossible:
        complain("no journal beside the map, this conversion is not crash-safe",
                 can_journal ? std::strerror(errno) : no_journal);
        break;
      case zeb::journal_made::read_failed: fail("fread failed during data read ...");
      case zeb::journal_made::not_seekable: fail("fseek failed before data read ...");
      case zeb::journal_made::stopped: break;
    }
  }
  if (signalled()) {
    if (c.recovering) die_of_signal("Interrupted ... run again to finish the conversion");
    if (c.journaled && !zeb::remove_journal(c.place, c.journal))
      die_of_signal("Interrupted ... run again to finish the conversion");
    die_of_signal("Interrupted ... file left in its original byte order");
  }

  // The header first, then the data; the journal makes their order on the
  // disk of no account.
  const transfer header_written = zeb::write_at(mapfile, header, header_bytes, 0);
  if (header_written != transfer::done) {
    give_up(c,
            header_written == transfer::not_seekable ? "fseek failed before header rewite ..."
                                                     : "fread failed during header write ...",
            header_bytes);
  }

  if (has_data_pass) {
    say(" Writing byte-swapped data ...\n");
    if (output_error != 0) give_up(c, nullptr, header_bytes);
    posix_fadvise(mapfile, header_bytes, 0, POSIX_FADV_SEQUENTIAL);
    const pass_end converted = pass(mapfile, c.data_end, c.bytes_per_value,
                                    c.recovering ? pass_kind::to_new : pass_kind::reverse, &c.journal, true);
    if (converted.failure != nullptr || converted.stopped) give_up(c, converted.failure, converted.reached);
  }

  // The journal goes only once the converted map is durable. The last line
  // comes before that, so that a run whose last line fails can still put
  // the map back safely.
  if (signalled()) give_up(c, nullptr, c.data_end);
  // (A special file that cannot be synced has nothing to make durable.)
  if (fdatasync(mapfile) != 0 && errno != EINVAL) fail("Cannot close file ...");
  if (signalled()) give_up(c, nullptr, c.data_end);
  say("Normal termination ...\n");
  if (output_error != 0) give_up(c, nullptr, c.data_end);

  sigset_t all;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, nullptr);
  if (c.journaled && !zeb::remove_journal(c.place, c.journal)) {
    complain("cannot remove the journal beside the map", std::strerror(errno));
    stop(1);
  }
  stop(0);
}
