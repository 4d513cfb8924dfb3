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

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "block_io.h"
#include "command_line.h"
#include "journal.h"
#include "map_header.h"

namespace {

using zeb::header_bytes;
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
    "\"Normal termination ...\", the map converted once. 1 after a one-line\n"
    "failure message, the map as it was, unless a second line says \"Not put\n"
    "back ...\". 2, with one line on standard error, when standard output\n"
    "cannot be written, the map as it was. A signal (Ctrl-C) puts the map back\n"
    "and ends the run by that signal. After a kill or a crash, run it again on\n"
    "the map, under any of its names: the journal beside it,\n"
    "endian_switch-journal.INODE, lets that run finish the conversion.\n";

alignas(64) unsigned char block[zeb::block_bytes];

// --- standard output ----------------------------------------------------

// errno of the first write to standard output that failed, or 0.
int output_error = 0;

void say(const char* text, std::size_t length) {
  if (output_error == 0 && !zeb::write_all(STDOUT_FILENO, {text, length})) output_error = errno;
}

void say(const char* text) { say(text, std::strlen(text)); }

// One line on standard error, for what is not the tool's own dialogue.
void complain(std::string_view what, std::string_view reason) { zeb::diagnose("endian_switch", what, reason); }

// Standard output is written without a buffer, so nothing is pending here.
// A run whose messages could not be delivered must not look like a success
// (nor like a failure the script could read about): it ends with status 2
// and one line on standard error instead.
[[noreturn]] void stop(int status) {
  if (output_error != 0) {
    complain("standard output", std::strerror(output_error));
    _exit(zeb::failure_status);
  }
  _exit(status);
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

void block_caught_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : caught_signals) sigaddset(&set, sig);
  sigprocmask(SIG_BLOCK, &set, nullptr);
}

// What a second signal says, while the map is put back, before it ends the
// run at once: one pointer, so that the handler never sees half a change.
const char* volatile last_words = "";

extern "C" void die_at_once(int sig) {
  const char* words = last_words;
  (void)!write(STDOUT_FILENO, words, std::strlen(words));
  struct sigaction a = {};
  a.sa_handler = SIG_DFL;
  sigaction(sig, &a, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
}

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

// --- the run ------------------------------------------------------------

// What the run knows of the map, of its journal and of what it has done.
struct run {
  char name[256];
  int map = -1;
  struct stat status;
  zeb::journal_place place;
  zeb::journal journal;
  bool journaled = false;   // a durable journal of this conversion exists
  bool recovering = false;  // it was found: this run finishes a conversion cut short
  bool stale_journal = false;  // a finished conversion's journal is there
  const char* no_journal = nullptr;  // why this conversion cannot be crash-safe
  unsigned char original[header_bytes];  // the header before the conversion
  unsigned char header[header_bytes];    // and after it
  std::int32_t mode;
  std::int32_t bytes_per_value;
  std::int64_t data_end;         // the data pass covers the bytes [1024, data_end)
  bool changed = false;          // this run has begun writing the map
  std::size_t header_landed = 0;  // bytes of the converted header it wrote
  std::int64_t converted_to = header_bytes;  // a plain conversion has reversed [1024, converted_to)
};

std::int32_t values_in(const run& r, std::int64_t bytes) {
  return static_cast<std::int32_t>(bytes / r.bytes_per_value);
}

const char* read_failure(transfer t) {
  return t == transfer::not_seekable ? "fseek failed before data read ..." : "fread failed during data read ...";
}

const char* write_failure(transfer t) {
  return t == transfer::not_seekable ? "fseek failed before data write ..." : "fread failed during data write ...";
}

// Reverses every value of one block on the file. A block whose write fails
// is written back as it was read: part of it may have landed.
const char* reverse_block(const run& r, std::int64_t at, std::int64_t bytes) {
  const transfer got = zeb::read_at(r.map, block, static_cast<std::size_t>(bytes), at);
  if (got != transfer::done) return read_failure(got);
  zeb::swap_bytes(block, r.bytes_per_value, values_in(r, bytes));
  const transfer written = zeb::write_nonzero_at(r.map, block, static_cast<std::size_t>(bytes), at);
  if (written == transfer::done) return nullptr;
  zeb::swap_bytes(block, r.bytes_per_value, values_in(r, bytes));
  zeb::write_nonzero_at(r.map, block, static_cast<std::size_t>(bytes), at);
  return write_failure(written);
}

// Brings every sector of one block to the new or the old order, as the
// journal tells what each holds; with `write` false only checks that each
// is in one order or the other. Whatever part of a write lands, the
// journal still tells every sector's order.
const char* bring_block(const run& r, std::int64_t at, std::int64_t bytes, bool to_new, bool write) {
  static std::uint64_t sums[zeb::block_sectors];
  const transfer got = zeb::read_at(r.map, block, static_cast<std::size_t>(bytes), at);
  if (got != transfer::done) return read_failure(got);
  if (!zeb::read_sums(r.journal, at, bytes, sums)) return "Cannot read journal ...";
  bool changed = false;
  if (!zeb::bring_sectors(block, bytes, sums, r.bytes_per_value, to_new, changed))
    return "Map changed since the interrupted conversion ...";
  if (!write || !changed) return nullptr;
  const transfer written = zeb::write_nonzero_at(r.map, block, static_cast<std::size_t>(bytes), at);
  return written == transfer::done ? nullptr : write_failure(written);
}

struct pass_end {
  const char* failure;  // nullptr when every block was passed
  bool stopped;         // a signal came: stopped at a block boundary
};

// Runs `step` over the blocks of the data bytes [1024, to), in file order.
template <typename Step>
pass_end over_blocks(std::int64_t to, bool stoppable, Step step) {
  for (std::int64_t at = header_bytes; at < to; at = zeb::block_end(at, to)) {
    if (stoppable && signalled()) return {nullptr, true};
    if (const char* failure = step(at, zeb::block_end(at, to) - at)) return {failure, false};
  }
  return {nullptr, false};
}

// Says what became of a journal whose map is now in one byte order.
void report_journal_end(const run& r, zeb::journal_end end, bool converted) {
  char what[sizeof r.place.by_name + 40];
  std::snprintf(what, sizeof what, "the journal beside the map, %s", r.journal.found_as);
  char reason[256];
  const char* why = std::strerror(errno);
  switch (end) {
    case zeb::journal_end::removed: return;
    case zeb::journal_end::unsynced:
      std::snprintf(reason, sizeof reason, "removed, but its folder could not be synced (%s)", why);
      break;
    case zeb::journal_end::marked:
      std::snprintf(reason, sizeof reason, "cannot be removed (%s); marked finished, the next run passes it by: remove it", why);
      break;
    case zeb::journal_end::left:
      std::snprintf(reason, sizeof reason, converted
                        ? "cannot be removed (%s): remove it, or the next run takes the map as converted already"
                        : "cannot be removed (%s): remove it", why);
      break;
  }
  complain(what, reason);
}

// Puts the map back in the order it had before this conversion (the
// conversion cut short, when recovering) and makes that durable; its
// journal is then of no more use. A signal now ends the run at once: the
// journal is left, and the next run finishes the conversion. True when the
// map is in its first order again; false when it is left as the run found
// it in the middle of a conversion, or could not be put back.
bool put_back(run& r) {
  last_words = !r.changed && !r.recovering ? "Interrupted ... file left in its original byte order\n"
               : r.journaled               ? "Interrupted ... run again to finish the conversion\n"
                                           : "Interrupted ... file left partly converted\n";
  prctl(PR_SET_DUMPABLE, 0);
  on_signals(die_at_once);
  bool first_order = true;
  if (r.changed) {
    const pass_end back = over_blocks(r.recovering ? r.data_end : r.converted_to, false, [&](std::int64_t at, std::int64_t bytes) {
      return r.recovering ? bring_block(r, at, bytes, false, true) : reverse_block(r, at, bytes);
    });
    // A crashed run may have converted the whole header; this one only
    // what landed.
    const std::size_t header_changed = r.recovering ? header_bytes : r.header_landed;
    first_order = back.failure == nullptr && zeb::write_at(r.map, r.original, header_changed, 0) == transfer::done &&
                  (fdatasync(r.map) == 0 || errno == EINVAL);  // (a special file has nothing to sync)
  } else if (r.recovering) {
    first_order = false;
  }
  if (first_order && r.journaled) {
    // Marked finished first, a journal that a second signal leaves behind
    // is passed by: the map is as it was, and the last words say so.
    if (zeb::mark_finished(r.journal)) last_words = "Interrupted ... file left in its original byte order\n";
    report_journal_end(r, zeb::end_journal(r.place, r.journal), false);
  }
  // What is left to do is to say so; a signal now would end the run
  // without a word, so it waits until then.
  block_caught_signals();
  return first_order;
}

// The one place where a run ends. What it leaves, and what it says:
//   converted: the map converted exactly once and durable, "Normal
//     termination ..." said; the journal removed (or marked finished, or
//     named on standard error when it cannot be removed); status 0.
//   Otherwise what the run changed is put back first, then:
//   the map in its first order (never written, or put back and durable),
//     its journal gone: the failure's line and status 1; status 2 and a
//     line on standard error when standard output failed; for a signal,
//     "Interrupted ... file left in its original byte order" and death by
//     that signal;
//   the map as the run found it, in the middle of a conversion cut short
//     (a refusal while recovering): the failure's line and status 1, the
//     journal kept; for a signal, "Interrupted ... run again to finish the
//     conversion";
//   the map partly converted, as it could not be put back: the journal is
//     kept and the next run finishes the conversion ("Not put back ... run
//     again to finish the conversion" after the failure's line, or
//     "Interrupted ... run again to finish the conversion"); without a
//     journal, "... file left partly converted".
[[noreturn]] void end_run(run& r, const char* failure, bool converted = false) {
  if (converted) {
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, nullptr);
    if (r.journaled) report_journal_end(r, zeb::end_journal(r.place, r.journal), true);
    stop(0);
  }
  const bool first_order = put_back(r);
  const bool broken = r.changed && !first_order;
  if (signalled()) {
    die_of_signal(first_order    ? "Interrupted ... file left in its original byte order"
                  : r.journaled ? "Interrupted ... run again to finish the conversion"
                                : "Interrupted ... file left partly converted");
  }
  if (failure != nullptr) {
    say(failure);
    say("\n");
  }
  if (broken) say(r.journaled ? "Not put back ... run again to finish the conversion\n" : "Not put back ... file left partly converted\n");
  stop(1);  // status 2 when standard output failed
}

// --- the phases -----------------------------------------------------------

// Opens the map for update and locks it: one run at a time, the lock held
// until the process ends. A lock that cannot be taken for any reason (a
// file system without locks included) keeps the run out: it must never
// convert beside the journal that another run may be writing.
void open_and_lock(run& r) {
  const bool name_usable = read_name(r.name);
  r.map = name_usable ? zeb::above_standard_streams(open(r.name, O_RDWR | O_CLOEXEC | O_NOCTTY)) : -1;
  if (r.map < 0) {
    // The name as typed, but no byte of it may drive the terminal.
    static char line[32 + 4 * sizeof r.name];
    std::size_t length = std::strlen(std::strcpy(line, "cannot open file ... "));
    length += zeb::escape_control_bytes(r.name, line + length, sizeof line - length - 2);
    std::strcpy(line + length, " ");
    end_run(r, line);
  }
  if (flock(r.map, LOCK_EX | LOCK_NB) != 0) end_run(r, "File is locked by another run ...");
  if (fstat(r.map, &r.status) != 0) end_run(r, "Cannot stat file ...");
}

// Looks for a journal beside the map. One that is there but cannot be
// used keeps the run out, touching nothing.
void look_for_journal(run& r) {
  if (!S_ISREG(r.status.st_mode)) {
    r.no_journal = "not a regular file";
    return;
  }
  if (!zeb::find_journal_place(r.name, r.status, r.place)) end_run(r, "Cannot look for a journal ...");
  switch (zeb::find_journal(r.place, r.map, r.status, r.journal)) {
    case zeb::journal_found::none: return;
    case zeb::journal_found::ready: r.recovering = r.journaled = true; return;
    case zeb::journal_found::finished: r.stale_journal = true; return;
    case zeb::journal_found::damaged: end_run(r, "Journal is damaged ...");
    case zeb::journal_found::other_file: end_run(r, "Journal belongs to another file ...");
    case zeb::journal_found::two_journals: end_run(r, "Two journals beside the map ...");
    case zeb::journal_found::foreign: end_run(r, "Journal belongs to another user ...");
    case zeb::journal_found::not_a_file: end_run(r, "Journal is not a regular file ...");
    case zeb::journal_found::unreadable: end_run(r, "Cannot read journal ...");
  }
}

// Reads and checks the header, settles the dimensions and writes the two
// report lines. A run that finishes another's work takes the header as
// that run read it, so that it decides and reports exactly as that run did.
void check_header(run& r) {
  if (r.recovering) {
    std::memcpy(r.original, r.journal.record.header, header_bytes);
  } else if (zeb::read_at(r.map, r.original, header_bytes, 0) != transfer::done) {
    end_run(r, "fread failed during header read ...");
  }
  if (zeb::is_new_style(r.original)) end_run(r, "Error - cannot byte-swap new-style map, use pixel_recoder ");

  r.mode = zeb::recognise_mode(r.original);
  if (r.mode == zeb::unknown_mode) end_run(r, "Unknown mode ...");
  const zeb::mode_sizes sizes = zeb::look_up_mode(r.mode);
  r.bytes_per_value = sizes.bytes_per_value;

  const std::int64_t file_size = r.status.st_size;
  const zeb::settled_dimensions settled = zeb::settle_dimensions(zeb::read_dimensions(r.original), sizes, file_size);
  if (!settled.size_matches) say("WARNING Filesize does not match header...\n");
  const zeb::dimensions dims = settled.dims;
  const std::int64_t row_bytes = zeb::row_length(dims.columns, sizes);
  if (row_bytes > zeb::row_limit) end_run(r, "Program dimensions too small ...");

  char report[160];
  const int length = std::snprintf(report, sizeof report,
                                   "Number of columns, rows, sections ........%d %d %d \n"
                                   "Map mode .................................%d\n",
                                   dims.columns, dims.rows, dims.sections, r.mode);
  say(report, static_cast<std::size_t>(length));

  // Refusals that must come before the first write: rows of negative
  // length or number while the header describes data, which would leave
  // the header converted and the data not; and a file too short for its
  // rows, which would leave its header and first rows in one byte order
  // and the rest in the other.
  const bool has_data_pass = r.mode != 0;
  const bool describes_data = has_data_pass && dims.columns != 0 && dims.rows != 0 && dims.sections != 0;
  if (dims.columns < 0) end_run(r, "Negative number of columns ...");
  if (describes_data && dims.rows < 0) end_run(r, "Negative number of rows ...");
  if (describes_data && dims.sections < 0) end_run(r, "Negative number of sections ...");
  const std::int64_t row_count = zeb::data_rows(dims);
  if (has_data_pass && row_bytes > 0 && !zeb::file_holds_rows(file_size, row_count, row_bytes))
    end_run(r, "fread failed during data read ...");
  if (output_error != 0) end_run(r, nullptr);
  // The rows lie inside the file (checked above), so their end is a file size.
  r.data_end = has_data_pass && row_count > 0 && row_bytes > 0 ? header_bytes + row_count * row_bytes : header_bytes;

  std::memcpy(r.header, r.original, header_bytes);
  zeb::convert_header(r.header);
}

// Makes sure that a crash can be recovered from before the map changes:
// a new journal, or, when finishing another run's work, every sector found
// in one order or the other. From here on a signal is acted on at the
// next block boundary.
void prepare_journal(run& r) {
  on_signals(note_signal);
  if (r.recovering) {
    unsigned char found[header_bytes];
    if (r.journal.record.data_end != r.data_end) end_run(r, "Journal is damaged ...");
    if (zeb::read_at(r.map, found, header_bytes, 0) != transfer::done) end_run(r, "fread failed during header read ...");
    for (int half = 0; half < 2; ++half)
      if (zeb::header_half_order(found, r.original, half) == zeb::sector_order::neither)
        end_run(r, "Map changed since the interrupted conversion ...");
    const pass_end checked = over_blocks(r.data_end, true, [&](std::int64_t at, std::int64_t bytes) {
      return bring_block(r, at, bytes, true, false);
    });
    if (checked.failure != nullptr || checked.stopped) end_run(r, checked.failure);
    // (Without it, the journal is still found under the name this run was
    // given, as before.)
    zeb::name_journal(r.place, r.journal);
    return;
  }

  if (r.stale_journal && zeb::end_journal(r.place, r.journal) != zeb::journal_end::removed)
    r.no_journal = "the journal of a finished conversion cannot be removed";
  if (r.no_journal == nullptr) {
    zeb::journal_record record = {};
    record.device = r.status.st_dev;
    record.inode = r.status.st_ino;
    record.map_size = r.status.st_size;
    record.data_end = r.data_end;
    std::memcpy(record.header, r.original, header_bytes);
    switch (zeb::make_journal(r.place, r.map, r.status, record, block, signalled, r.journal)) {
      case zeb::journal_made::made: r.journaled = true; break;
      case zeb::journal_made::impossible: r.no_journal = std::strerror(errno); break;
      case zeb::journal_made::exists: end_run(r, "File is locked by another run ...");
      case zeb::journal_made::not_a_file: end_run(r, "Journal is not a regular file ...");
      case zeb::journal_made::foreign: end_run(r, "Journal belongs to another user ...");
      case zeb::journal_made::read_failed: end_run(r, "fread failed during data read ...");
      case zeb::journal_made::not_seekable: end_run(r, "fseek failed before data read ...");
      case zeb::journal_made::stopped: end_run(r, nullptr);
    }
  }
  if (r.no_journal != nullptr) complain("no journal beside the map, this conversion is not crash-safe", r.no_journal);
  if (signalled()) end_run(r, nullptr);
}

// The header first, then the data; the journal makes their order on the
// disk of no account.
void convert(run& r) {
  const transfer header_written = zeb::write_at(r.map, r.header, header_bytes, 0, &r.header_landed);
  r.changed = r.header_landed > 0;
  if (header_written != transfer::done) {
    end_run(r, header_written == transfer::not_seekable ? "fseek failed before header rewite ..."
                                                       : "fread failed during header write ...");
  }
  if (r.mode == 0) return;
  say(" Writing byte-swapped data ...\n");
  if (output_error != 0) end_run(r, nullptr);
  posix_fadvise(r.map, header_bytes, 0, POSIX_FADV_SEQUENTIAL);
  const pass_end converted = over_blocks(r.data_end, true, [&](std::int64_t at, std::int64_t bytes) {
    const char* failure = r.recovering ? bring_block(r, at, bytes, true, true) : reverse_block(r, at, bytes);
    if (failure != nullptr) return failure;
    if (!r.recovering) r.converted_to = at + bytes;
    // The disk starts on each block while the next is converted, so that
    // making the map durable at the end waits for little.
    sync_file_range(r.map, at, bytes, SYNC_FILE_RANGE_WRITE);
    return failure;
  });
  if (converted.failure != nullptr || converted.stopped) end_run(r, converted.failure);
}

// The converted map is made durable before the last line, and the journal
// goes only after that line, so that a run whose last line fails can still
// put the map back safely.
[[noreturn]] void finish(run& r) {
  if (signalled()) end_run(r, nullptr);
  // (A special file that cannot be synced has nothing to make durable.)
  if (fdatasync(r.map) != 0 && errno != EINVAL) end_run(r, "Cannot close file ...");
  if (signalled()) end_run(r, nullptr);
  say("Normal termination ...\n");
  end_run(r, nullptr, output_error == 0);
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
  static run r;
  if (output_error != 0) end_run(r, nullptr);

  open_and_lock(r);
  look_for_journal(r);
  check_header(r);
  prepare_journal(r);
  convert(r);
  finish(r);
}
