// The fixed-field text layer: channels, record templates, free-form input,
// read outcomes and the two ways a tool ends (normal stop, unguarded failure).
//
//   zeb::write_templated<"(3I6,F12.1)">(zeb::std_out, k, h, l, amplitude);
//   if (zeb::read_free_form(zeb::std_in, h, k, l, a) != zeb::outcome::done) ...
//
// Templates are checked when the tool is compiled: a malformed template, or
// values that do not match its data fields in number and kind (I: int32_t,
// F: float, A: text), do not build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>

#include "command_line.h"
#include "fixed_output.h"
#include "quick_numbers.h"
#include "record_template.h"

namespace zeb {

// The name every diagnostic begins with; each tool defines it.
extern const char tool_name[];

enum class outcome : std::uint8_t { done, end_of_file, error };

// Input passes through a channel's buffer this many bytes at a time.
// Records of any length pass through it; no record is cut to it.
inline constexpr int buffer_size = 1 << 16;
// Output leaves it in pieces of up to this many: writing into the page
// cache costs the system less in larger pieces (zeb_index_rotate_file:
// 5 % less CPU time than in pieces of buffer_size).
inline constexpr int output_size = 1 << 18;
// Bytes past the buffer that quick scans may load and quick writes may
// overrun: input keeps a NUL right after its data, which stops every scan
// (the quick path of free-form input loads 64 bytes at a time).
inline constexpr int buffer_slack = 64;
// Free-form input keeps this much of a token longer than the buffer, so a
// text field of up to this many characters takes any token whole or cut.
inline constexpr int long_token_head = buffer_size / 2;

// A channel: standard input, standard output, or a named file, with one
// fixed buffer.
struct channel {
  int fd = -1;
  bool writing = false;
  bool at_end = false;      // input: the system reported the end
  bool dropping = false;    // input: a record is begun; its rest is passed over before the next
  int sys_error = 0;        // errno of the last failed system call
  std::int64_t line = 0;    // records read or written so far
  std::uint32_t begin = 0;  // input: unread bytes are buf[begin, end)
  std::uint32_t end = 0;    // output: pending bytes are buf[0, end)
  int items_read = 0;       // items the last read statement gave a value or a null
  bool text_cut = false;    // the last free-form read left text out of a text field
  const char* label = nullptr;  // for diagnostics: a file name or "standard input"
  const char* bad_kind = nullptr;  // after the outcome error: "an integer", "a real"
  char bad_text[47] = {};   // after the outcome error: the text that failed,
  std::uint8_t bad_length = 0;  // this much of it (it may hold NUL bytes)
  std::uint32_t longest_name = 0;  // after a name refused as too long: the most it may hold
  char name[256] = {};      // a file channel's name, cut to 255 bytes for diagnostics,
  std::uint8_t name_length = 0;  // this many of them (a refused name may hold NUL bytes)
  char buf[output_size + buffer_slack];
};

extern channel std_in;
extern channel std_out;

// --- opening and closing -------------------------------------------------

// Opens an existing file for reading; the name is the field without its
// trailing blanks. False when it does not exist or cannot be read, or when
// the name is longer than `longest`: a tool reads a name into a field
// wider than the name it keeps, so that a longer one is refused, not cut.
bool open_old(channel& ch, std::span<const char> name_field, std::size_t longest = SIZE_MAX);
// Creates a new file for writing; false when a file of that name exists
// (it is then left as it is), the file cannot be created, or the name is
// longer than `longest`. Standard output is flushed first: an unguarded
// failure there ends the tool before it.
bool open_new(channel& ch, std::span<const char> name_field, std::size_t longest = SIZE_MAX);
// Flushes and closes a file channel; a channel that is not open is left alone.
void close_channel(channel& ch);
// Writes out what is pending on an output channel.
void flush(channel& ch);

// --- ending ---------------------------------------------------------------

// Flushes and closes every channel, checks that all output got out, exits 0.
[[noreturn]] void normal_stop();
// One line "tool: subject: reason" on standard error, after what was
// already written has been flushed; exits with failure_status.
[[noreturn]] void fail(std::string_view subject, std::string_view reason);
// The unguarded failure of an open that failed.
[[noreturn]] void fail_open(const channel& ch);
// The unguarded failure of a read whose outcome was not done.
[[noreturn]] void fail_read(const channel& ch, outcome o);
// For a tool that reports a failed open or read with a line of its own:
// the line that says why, "tool: name: reason" on standard error, first.
void explain_open(const channel& ch);
void explain_read(const channel& ch, outcome o);
// Reads and opens that a tool does not branch on.
inline void require(outcome o, const channel& ch) {
  if (o != outcome::done) fail_read(ch, o);
}

// --- values and items -------------------------------------------------------

namespace detail {

// What a statement's values and items are to the engines: the value to
// write, or where a read puts what it reads, with its kind.
struct text_value {
  const char* p;
  std::size_t n;
};

struct text_item {
  char* p;
  std::size_t n;
};

struct value {
  union {
    std::int32_t i;
    float f;
    text_value a;
  };
};

struct item {
  char kind;  // 'I', 'F' or 'A'
  union {
    std::int32_t* i;
    float* f;
    text_item a;
  };
};

template <typename T>
constexpr char kind_of() {
  using U = std::remove_cvref_t<T>;
  if constexpr (std::is_same_v<U, std::int32_t>) return 'I';
  else if constexpr (std::is_same_v<U, float>) return 'F';
  else if constexpr (std::is_same_v<U, std::string_view> || std::is_same_v<U, std::span<char>> ||
                     (std::is_array_v<U> && std::is_same_v<std::remove_cv_t<std::remove_extent_t<U>>, char>))
    return 'A';
  else return 0;
}

template <typename... T>
struct kinds {
  static constexpr char text[sizeof...(T) + 1] = {kind_of<T>()..., 0};
  static constexpr bool known = ((kind_of<T>() != 0) && ...);
};

// Called where a template fails its check: not constexpr, so the build
// stops there and the compiler's message names the problem.
void malformed_record_template(const char* why);
void values_do_not_match_record_template();

// A template's text as a template argument, so that everything known of
// it is known when the tool is compiled: its parse, its check against the
// statement's values, and its fixed layout, which the compiler then writes
// with constant columns whatever else it inlines around the statement.
template <std::size_t N>
struct template_text {
  char chars[N]{};
  consteval template_text(const char (&s)[N]) {
    for (std::size_t i = 0; i < N; ++i) chars[i] = s[i];
  }
  constexpr std::string_view view() const { return std::string_view(chars, N - 1); }
};

template <template_text T, bool for_input, typename... V>
consteval record_program checked_program() {
  static_assert(kinds<V...>::known, "record values are int32_t, float or text fields");
  const record_program program = parse_template(T.view());
  if (program.error) malformed_record_template(program.error);
  if (!fields_match(program, kinds<V...>::text, for_input)) values_do_not_match_record_template();
  return program;
}

// The parsed and checked template of a statement, one object for the run.
template <template_text T, bool for_input, typename... V>
inline constexpr record_program program_of = checked_program<T, for_input, std::remove_cvref_t<V>...>();

template <typename T>
value to_value(const T& v) {
  value out;
  if constexpr (kind_of<T>() == 'I') out.i = v;
  else if constexpr (kind_of<T>() == 'F') out.f = v;
  else if constexpr (std::is_array_v<T>) out.a = {v, std::extent_v<T>};
  else out.a = {v.data(), v.size()};
  return out;
}

template <typename T>
item to_item(T& v) {
  item out;
  out.kind = kind_of<T>();
  if constexpr (kind_of<T>() == 'I') out.i = &v;
  else if constexpr (kind_of<T>() == 'F') out.f = &v;
  else if constexpr (std::is_array_v<T>) out.a = {v, std::extent_v<T>};
  else out.a = {v.data(), v.size()};
  return out;
}

}  // namespace detail

// --- the engines behind the statements (engine.h has the rest) ---------------

namespace detail {

void write_record(channel& ch, const record_program& p, const value* values, int count);
// Room for one record of n characters (its line feed included) and the
// buffer's slack after it, on a channel open for writing.
char* make_room(channel& ch, std::size_t n);
inline char* reserve_record(channel& ch, std::size_t n) {
  if (ch.writing && ch.fd >= 0 && std::size_t(output_size) - ch.end >= n) return ch.buf + ch.end;
  return make_room(ch, n);
}
void write_record(std::span<char> record, const record_program& p, const value* values, int count);
outcome read_record(channel& ch, const record_program& p, item* items, int count);
outcome read_record(std::span<const char> record, const record_program& p, item* items, int count);
// Free-form input into items known at run time: a statement of numbers
// that the quick path takes, or else the general engine.
outcome read_free(channel& ch, item* items, int count);
// Passes over what is left of the record before, if one was begun, and
// begins the next: end_of_file when none is left. The record then starts
// at buf[begin], with at least one of its bytes (or its end) buffered.
outcome start_record(channel& ch);
inline outcome begin_record(channel& ch) {
  if (ch.dropping || ch.begin == ch.end) return start_record(ch);
  ++ch.line;  // the record before ended at its line feed, and the next one is buffered
  ch.dropping = true;
  return outcome::done;
}
// The start of every read statement: nothing read yet, the next record begun.
inline outcome begin_statement(channel& ch) {
  ch.items_read = 0;
  ch.bad_kind = nullptr;
  return begin_record(ch);
}
// The general engine on a record begun, from its start. Never inlined:
// link-time optimisation would put the whole engine into a tool's record
// loop, which then keeps less in registers (zeb_index_rotate: 6 % more
// instructions a record).
[[gnu::noinline]] outcome read_free_begun(channel& ch, item* items, int count);

// A statement that the quick path took whole.
inline void quick_done(channel& ch, const quick_line& line, int count) {
  const char* const rest = line.rest();
  ch.items_read = count;
  ch.begin = std::uint32_t(rest - ch.buf);
  ch.dropping = rest[-1] != '\n';
}

// A statement of numbers, with the quick path made for its items.
template <typename... T>
outcome read_numbers(channel& ch, T&... items) {
  constexpr int count = int(sizeof...(T));
  const outcome o = begin_statement(ch);
  if (o != outcome::done) return o;
  quick_line line(ch.buf + ch.begin, ch.buf + ch.end);
  int k = 0;
  if ((line.take(items, ++k == count) && ...)) {
    quick_done(ch, line, count);
    return outcome::done;
  }
  item it[] = {to_item(items)...};
  return read_free_begun(ch, it, count);
}

// A record of fixed layout: one reservation, each field in its place.
template <fixed_field F, typename V>
[[gnu::always_inline]] inline void put_fixed(char* record, const V& v) {
  if constexpr (kind_of<V>() == 'I') put_integer_fixed(record + F.at, v, F.width);
  else put_real_fixed(record + F.at, v, F.width, F.decimals);
}

template <fixed_layout L, std::size_t... K, typename... V>
void write_fixed(channel& ch, std::index_sequence<K...>, const V&... values) {
  char* const record = reserve_record(ch, std::size_t(L.width) + 1);
  (put_fixed<L.fields[K]>(record, values), ...);
  record[L.width] = '\n';
  ch.end += std::uint32_t(L.width) + 1;
  ++ch.line;
}

}  // namespace detail

// --- the statements ---------------------------------------------------------

// Writes one record: to a channel, ending with a line feed; or into an
// internal record, filled from the left and padded with blanks.
template <detail::template_text T, typename... V>
void write_templated(channel& ch, const V&... values) {
  constexpr const record_program& program = detail::program_of<T, false, V...>;
  if constexpr (sizeof...(V) > 0 && ((detail::kind_of<V>() != 'A') && ...)) {
    constexpr fixed_layout layout = layout_of(program);
    if constexpr (layout.fixed) return detail::write_fixed<layout>(ch, std::index_sequence_for<V...>{}, values...);
  }
  const detail::value v[sizeof...(V) ? sizeof...(V) : 1] = {detail::to_value(values)...};  // never empty
  detail::write_record(ch, program, v, int(sizeof...(V)));
}
template <detail::template_text T, typename... V>
void write_templated(std::span<char> record, const V&... values) {
  const detail::value v[sizeof...(V) ? sizeof...(V) : 1] = {detail::to_value(values)...};
  detail::write_record(record, detail::program_of<T, false, V...>, v, int(sizeof...(V)));
}

// Reads one record into the items: from a channel's next line, or from an
// internal record.
template <detail::template_text T, typename... V>
outcome read_templated(channel& ch, V&&... items) {
  detail::item it[] = {detail::to_item(items)...};
  return detail::read_record(ch, detail::program_of<T, true, V...>, it, int(sizeof...(V)));
}
template <detail::template_text T, typename... V>
outcome read_templated(std::span<const char> record, V&&... items) {
  detail::item it[] = {detail::to_item(items)...};
  return detail::read_record(record, detail::program_of<T, true, V...>, it, int(sizeof...(V)));
}

// Reads a file name answer into a field wider than any name a tool keeps:
// the next record whole, or a free-form value (quoted, it may hold
// blanks). A name with text past the field is not cut to name another
// file: the field's last byte is then made non-blank, so that its open
// refuses the name as too long.
outcome read_name_line(channel& ch, std::span<char> field);
outcome read_name_token(channel& ch, std::span<char> field);

// The next record of an input channel, without its line feed (and without a
// carriage return before it or at the very end of the input); the view
// lasts until the next read. Of a record longer than the buffer it gives
// the first buffer_size characters; the rest is passed over.
outcome next_record(channel& ch, std::string_view& record);
// Passes over n records, as n calls of next_record would, but counts whole
// buffers of lines at a time; gives the outcome of the last.
outcome skip_records(channel& ch, std::int64_t n);

// Free-form input into integers, reals and text fields, from the next
// record on; the rest of the line that completes the statement is passed
// over at the next read.
template <typename... T>
outcome read_free_form(channel& ch, T&&... items) {
  static_assert(detail::kinds<T...>::known, "record values are int32_t, float or text fields");
  static_assert(((!std::is_array_v<std::remove_cvref_t<T>> ||
                  std::extent_v<std::remove_cvref_t<T>> <= std::size_t(long_token_head)) && ...),
                "a text field of free-form input holds at most long_token_head characters");
  if constexpr (sizeof...(T) > 0 && ((detail::kind_of<T>() != 'A') && ...)) {
    return detail::read_numbers(ch, items...);
  } else {
    detail::item it[] = {detail::to_item(items)...};
    return detail::read_free(ch, it, int(sizeof...(T)));
  }
}

// --- trimmed length -------------------------------------------------------

namespace detail {

// The length of a field without its trailing blanks. A name field is as
// wide as the longest path, and mostly blanks: eight of them at a time.
inline std::size_t trimmed_length(std::span<const char> field) {
  std::size_t n = field.size();
  for (std::uint64_t word; n >= 8; n -= 8) {
    std::memcpy(&word, field.data() + n - 8, 8);
    if (word != blank_bytes) break;
  }
  while (n > 0 && field[n - 1] == ' ') --n;
  return n;
}

}  // namespace detail

// The position of the last character of the field that is not a blank
// (only the character 32 is one), at least 1.
inline int shorten(std::span<const char> field) {
  const std::size_t n = detail::trimmed_length(field);
  return n > 0 ? int(n) : 1;
}

}  // namespace zeb
