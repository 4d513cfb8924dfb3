// Channels: standard input and output and named files, each with one fixed
// buffer; the normal stop and the unguarded failure.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <emmintrin.h>
#include <unistd.h>

#include "command_line.h"
#include "engine.h"

namespace zeb {

channel std_in{.fd = 0, .label = "standard input", .buf = {}};
channel std_out{.fd = 1, .writing = true, .label = "standard output", .buf = {}};

namespace {

// Files open now, so that a stop or a failure can flush them.
constexpr int max_open_files = 8;
channel* open_files[max_open_files];

// Writes out pending output; false (with sys_error set) when it fails.
bool drain(channel& ch) {
  if (!ch.writing || ch.fd < 0 || ch.end == 0) return true;
  const std::uint32_t n = ch.end;
  ch.end = 0;  // a failure is reported once, never retried
  if (write_all(ch.fd, {ch.buf, n})) return true;
  ch.sys_error = errno;
  return false;
}

// Opens the file that a name field names, without its trailing blanks;
// false, with sys_error set, when it cannot.
bool open_file(channel& ch, std::span<const char> field, std::size_t longest, int flags) {
  const std::size_t n = detail::trimmed_length(field);
  const std::size_t shown = std::min(n, sizeof ch.name - 1);
  std::memcpy(ch.name, field.data(), shown);
  ch.name[shown] = 0;
  ch.name_length = std::uint8_t(shown);
  ch.label = ch.name;
  ch.longest_name = 0;
  char path[4096];
  if (n > longest || n >= sizeof path) {  // cut, it would name another file
    ch.sys_error = ENAMETOOLONG;
    if (n > longest) ch.longest_name = std::uint32_t(longest);
    return false;
  }
  if (std::memchr(field.data(), 0, n)) {  // a NUL would name another file
    ch.sys_error = EINVAL;
    return false;
  }
  std::memcpy(path, field.data(), n);
  path[n] = 0;
  const int fd = above_standard_streams(::open(path, flags | O_CLOEXEC, 0666));
  if (fd < 0) {
    ch.sys_error = errno;
    return false;
  }
  struct stat st;
  if (!(flags & O_CREAT) && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    ch.sys_error = EISDIR;
    return false;
  }
  ch.fd = fd;
  ch.writing = (flags & O_WRONLY) != 0;
  ch.at_end = ch.dropping = false;
  ch.sys_error = 0;
  ch.line = 0;
  ch.begin = ch.end = 0;
  ch.items_read = 0;
  for (channel*& slot : open_files)
    if (!slot) {
      slot = &ch;
      return true;
    }
  fail(ch.label, "too many open files");
}

}  // namespace

bool open_old(channel& ch, std::span<const char> name_field, std::size_t longest) {
  // No tool writes a file it did not create: read-only is enough.
  return open_file(ch, name_field, longest, O_RDONLY);
}

bool open_new(channel& ch, std::span<const char> name_field, std::size_t longest) {
  // What the tool has said so far must be out before a file exists: a
  // standard output that cannot be written then stops the tool without
  // leaving a new file behind, however early its answers arrived.
  flush(std_out);
  // O_EXCL: a file that exists, a link to one included, is never touched.
  return open_file(ch, name_field, longest, O_WRONLY | O_CREAT | O_EXCL);
}

void close_channel(channel& ch) {
  if (ch.fd < 0) return;
  for (channel*& slot : open_files)
    if (slot == &ch) slot = nullptr;
  const bool written = drain(ch);
  const int fd = ch.fd;
  ch.fd = -1;
  if (!written) fail(ch.label, std::strerror(ch.sys_error));
  if (::close(fd) != 0 && ch.writing) fail(ch.label, std::strerror(errno));
}

void flush(channel& ch) {
  if (!drain(ch)) fail(ch.label, std::strerror(ch.sys_error));
}

void normal_stop() {
  for (channel* ch : open_files)
    if (ch) close_channel(*ch);
  flush(std_out);
  // A full disk or a lost connection can show only when the last
  // descriptor of standard output is closed. (A tool that wrote nothing
  // may have been started with it closed.)
  if (::close(1) != 0 && errno != EINTR && (errno != EBADF || std_out.line > 0))
    fail(std_out.label, std::strerror(errno));
  ::_exit(0);
}

void fail(std::string_view subject, std::string_view reason) {
  static bool failing = false;
  if (!failing) {
    failing = true;
    // What was written before the failure stays written.
    for (channel* ch : open_files)
      if (ch) drain(*ch);
    drain(std_out);
  }
  // A name or a token from the input may hold any byte: the line is escaped.
  diagnose(tool_name, subject, reason);
  ::_exit(failure_status);
}

namespace {

// The reason of a diagnostic, its texts and numbers put together in a
// fixed buffer.
struct reason_text {
  char text[160];
  std::size_t n = 0;

  template <typename... T>
  explicit reason_text(const T&... parts) {
    (put(parts), ...);
  }
  void put(std::string_view s) {
    const std::size_t k = std::min(s.size(), sizeof text - n);
    std::memcpy(text + n, s.data(), k);
    n += k;
  }
  void put(std::int64_t v) { n = std::size_t(std::to_chars(text + n, std::end(text), v).ptr - text); }
  std::string_view view() const { return {text, n}; }
};

std::string_view subject(const channel& ch) {
  if (ch.label == ch.name) return {ch.name, ch.name_length};  // a NUL in it shows as \x00
  return ch.label ? ch.label : "";
}

reason_text open_reason(const channel& ch) {
  if (ch.longest_name) return reason_text("name longer than ", ch.longest_name, " characters");
  return reason_text(std::strerror(ch.sys_error));
}

reason_text read_reason(const channel& ch, outcome o) {
  if (o == outcome::end_of_file && ch.items_read == 0) return reason_text("end of file after line ", ch.line);
  if (o == outcome::end_of_file) return reason_text("line ", ch.line, ": the input ends inside a record");
  if (ch.bad_kind)
    return reason_text("line ", ch.line, ": cannot read '", std::string_view(ch.bad_text, ch.bad_length), "' as ",
                       ch.bad_kind);
  return reason_text(std::strerror(ch.sys_error ? ch.sys_error : EIO));
}

}  // namespace

void fail_open(const channel& ch) { fail(subject(ch), open_reason(ch).view()); }
void fail_read(const channel& ch, outcome o) { fail(subject(ch), read_reason(ch, o).view()); }
void explain_open(const channel& ch) { diagnose(tool_name, subject(ch), open_reason(ch).view()); }
void explain_read(const channel& ch, outcome o) {
  diagnose(tool_name, subject(ch), read_reason(ch, o).view());
}

namespace {

// Line feeds in [p, end), sixteen bytes at a time: byte-wide counters
// gather up to 255 blocks before they are summed.
std::int64_t count_line_feeds(const char* p, const char* end) {
  const __m128i lf = _mm_set1_epi8('\n');
  std::int64_t total = 0;
  while (end - p >= 16) {
    __m128i counts = _mm_setzero_si128();
    for (int k = 0; k < 255 && end - p >= 16; ++k, p += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      counts = _mm_sub_epi8(counts, _mm_cmpeq_epi8(bytes, lf));
    }
    const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
    total += _mm_cvtsi128_si64(sums) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums));
  }
  for (; p < end; ++p) total += *p == '\n';
  return total;
}

// Reads more input after what the buffer holds; buf[end] is then a NUL,
// which stops every scan of the buffered bytes. Needs room: end < buffer_size.
bool fill(channel& ch) {
  if (ch.fd == 0) flush(std_out);  // a prompt shows before its answer is awaited
  ssize_t got;  // a closed channel (fd -1) fails with EBADF
  do got = ::read(ch.fd, ch.buf + ch.end, std::size_t(buffer_size) - ch.end);
  while (got < 0 && errno == EINTR);
  if (got < 0) {
    ch.sys_error = errno;
    ch.bad_kind = nullptr;
    return false;
  }
  if (got == 0) ch.at_end = true;
  ch.end += std::uint32_t(got);
  ch.buf[ch.end] = 0;
  return true;
}

// Passes over the rest of the record begun last; notes in `text` whether
// it held anything but blanks (a carriage return counts as one).
bool pass_rest(channel& ch, bool* text = nullptr) {
  for (;;) {
    const char* start = ch.buf + ch.begin;
    const char* lf = static_cast<const char*>(std::memchr(start, '\n', ch.end - ch.begin));
    if (text)
      for (const char* p = start; p != (lf ? lf : ch.buf + ch.end); ++p) *text |= *p != ' ' && *p != '\r';
    if (lf) {
      ch.begin = std::uint32_t(lf + 1 - ch.buf);
      break;
    }
    ch.begin = ch.end = 0;
    if (ch.at_end) break;
    if (!fill(ch)) return false;
  }
  ch.dropping = false;
  return true;
}

}  // namespace

outcome read_name_line(channel& ch, std::span<char> field) {
  const outcome o = read_templated<"(A)">(ch, field);
  bool past = false;
  // A read error here is left to the next read, which meets it again.
  if (o == outcome::done && ch.dropping && pass_rest(ch, &past) && past) field.back() = '*';
  return o;
}

outcome read_name_token(channel& ch, std::span<char> field) {
  const outcome o = read_free_form(ch, field);
  if (ch.text_cut) field.back() = '*';
  return o;
}

outcome detail::start_record(channel& ch) {
  if (ch.dropping && !pass_rest(ch)) return outcome::error;
  if (ch.begin == ch.end) {
    ch.begin = ch.end = 0;
    if (!ch.at_end && !fill(ch)) return outcome::error;
    if (ch.end == 0) return outcome::end_of_file;
  }
  ++ch.line;
  ch.dropping = true;
  return outcome::done;
}

cursor cursor_at(const channel& ch, const char* p) {
  const char* const data_end = ch.buf + ch.end;
  const char* lf = static_cast<const char*>(std::memchr(p, '\n', std::size_t(data_end - p)));
  cursor c{p, lf ? lf : data_end, lf != nullptr || ch.at_end};
  if (c.stop > p && c.stop[-1] == '\r') --c.stop;
  return c;
}

bool read_more(channel& ch, cursor& c, const char*& from, const char*& upto) {
  const std::size_t kept = std::size_t(upto - from);
  const std::size_t rest = std::size_t(ch.buf + ch.end - c.p);
  if (from != ch.buf) std::memmove(ch.buf, from, kept);
  if (c.p != ch.buf + kept) std::memmove(ch.buf + kept, c.p, rest);
  ch.begin = 0;
  ch.end = std::uint32_t(kept + rest);
  from = ch.buf;
  upto = ch.buf + kept;
  c.p = upto;
  if (!fill(ch)) return false;
  c = cursor_at(ch, c.p);
  return true;
}

outcome next_record(channel& ch, std::string_view& record) {
  // Most records: the one before ended at its line feed, and this one's
  // line feed is buffered.
  if (!ch.dropping) {
    const char* const start = ch.buf + ch.begin;
    if (const char* lf = static_cast<const char*>(std::memchr(start, '\n', ch.end - ch.begin))) {
      ch.begin = std::uint32_t(lf + 1 - ch.buf);  // the next line's start waits on nothing else
      std::size_t n = std::size_t(lf - start);
      if (n > 0 && start[n - 1] == '\r') --n;
      record = std::string_view(start, n);
      ++ch.line;
      return outcome::done;
    }
  }
  const outcome o = begin_record(ch);
  if (o != outcome::done) return o;
  for (;;) {
    const char* start = ch.buf + ch.begin;
    const char* lf = static_cast<const char*>(std::memchr(start, '\n', ch.end - ch.begin));
    if (lf || ch.at_end) {
      std::size_t n = std::size_t((lf ? lf : ch.buf + ch.end) - start);
      if (n > 0 && start[n - 1] == '\r') --n;
      record = std::string_view(start, n);
      ch.begin = lf ? std::uint32_t(lf + 1 - ch.buf) : ch.end;
      ch.dropping = false;
      return outcome::done;
    }
    if (ch.begin == 0 && ch.end == std::uint32_t(buffer_size)) {
      // Longer than the buffer: its head; the rest is passed over at the next read.
      record = std::string_view(ch.buf, std::size_t(buffer_size));
      ch.begin = ch.end;
      return outcome::done;
    }
    std::memmove(ch.buf, start, ch.end - ch.begin);
    ch.end -= ch.begin;
    ch.begin = 0;
    if (!fill(ch)) return outcome::error;
  }
}

outcome skip_records(channel& ch, std::int64_t n) {
  std::string_view passed;
  while (n > 0) {
    if (ch.begin == ch.end && !ch.at_end) {
      ch.begin = ch.end = 0;
      if (!fill(ch)) return outcome::error;
      continue;
    }
    if (ch.dropping) {  // the rest of a record already counted
      if (!pass_rest(ch)) return outcome::error;
      continue;
    }
    // A buffer whose lines are all to be skipped is counted, not split;
    // the line begun at its end is one of them.
    const char* const start = ch.buf + ch.begin;
    const char* const stop = ch.buf + ch.end;
    const std::int64_t lines = count_line_feeds(start, stop);
    if (ch.at_end || lines >= n) {
      const outcome o = next_record(ch, passed);
      if (o != outcome::done) return o;
      --n;
      continue;
    }
    const bool begun = stop[-1] != '\n';
    n -= lines + begun;
    ch.line += lines + begun;
    ch.dropping = begun;
    ch.begin = ch.end = 0;
  }
  return outcome::done;
}

}  // namespace zeb
