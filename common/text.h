// The fixed-field text layer: channels, record templates, free-form input,
// read outcomes and the two ways a tool ends (normal stop, unguarded failure).
//
//   zeb::write_templated(zeb::std_out, "(3I6,F12.1)", k, h, l, amplitude);
//   if (zeb::read_free_form(zeb::std_in, h, k, l, a) != zeb::outcome::done) ...
//
// Templates are checked when the tool is compiled: a malformed template, or
// values that do not match its data fields in number and kind (I: int32_t,
// F: float, A: text), do not build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>

#include "command_line.h"
#include "quick_forms.h"
#include "record_template.h"

namespace zeb {

// The name every diagnostic begins with; each tool defines it.
extern const char tool_name[];

enum class outcome : std::uint8_t { done, end_of_file, error };

// Input and output pass through a channel's buffer this many bytes at a
// time. Records of any length pass through it; no record is cut to it.
inline constexpr int buffer_size = 1 << 16;
// Bytes past the buffer that quick scans may load and quick writes may
// overrun: input keeps a NUL right after its data, which stops every scan
// (the quick path of free-form input looks at 64 bytes from a record's start).
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
  const char* label = nullptr;  // for diagnostics: a file name or "standard input"
  const char* bad_kind = nullptr;  // after the outcome error: "an integer", "a real"
  char bad_text[48] = {};   // after the outcome error: the text that failed
  char name[256] = {};
  char buf[buffer_size + buffer_slack];
};

extern channel std_in;
extern channel std_out;

// --- opening and closing -------------------------------------------------

// Opens an existing file for reading; the name is the field without its
// trailing blanks. False when it does not exist or cannot be read.
bool open_old(channel& ch, std::span<const char> name_field);
// Creates a new file for writing; false when a file of that name exists
// (it is then left as it is) or the file cannot be created. Standard output
// is flushed first: an unguarded failure there ends the tool before it.
bool open_new(channel& ch, std::span<const char> name_field);
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
// Reads and opens that a tool does not branch on.
inline void require(outcome o, const channel& ch) {
  if (o != outcome::done) fail_read(ch, o);
}

// --- values and items -------------------------------------------------------

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

namespace detail {

template <typename T>
constexpr char kind_of() {
  using U = std::remove_cvref_t<T>;
  if constexpr (std::is_same_v<U, std::int32_t>) return 'I';
  else if constexpr (std::is_same_v<U, float>) return 'F';
  else if constexpr (std::is_same_v<U, std::string_view> || std::is_same_v<U, std::span<char>> ||
                     (std::is_array_v<U> && std::is_same_v<std::remove_extent_t<U>, char>) ||
                     (std::is_array_v<U> && std::is_same_v<std::remove_extent_t<U>, const char>))
    return 'A';
  else return 0;
}

template <typename... T>
struct kinds {
  static constexpr char text[sizeof...(T) + 1] = {kind_of<T>()..., 0};
  static constexpr bool known = ((kind_of<T>() != 0) && ...);
};

// Called where a template fails its check: not constexpr, so the build
// stops here and the compiler's message names the problem.
void malformed_record_template(const char* why);
void values_do_not_match_record_template();

// A template checked at compile time. Only its text travels to run time,
// where program_for finds it parsed; and, for output, its fixed layout
// when it has one.
template <bool for_input, typename... T>
struct checked_template {
  static_assert(kinds<T...>::known, "record values are int32_t, float or text fields");
  std::string_view text;
  fixed_layout layout;
  template <std::size_t N>
  consteval checked_template(const char (&s)[N]) : text(s, N - 1) {
    const record_program program = parse_template(text);
    if (program.error) malformed_record_template(program.error);
    if (!kinds<T...>::known || !fields_match(program, kinds<T...>::text, for_input))
      values_do_not_match_record_template();
    if (!for_input) layout = layout_of(program);
  }
};

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

template <typename... T>
using out_template = detail::checked_template<false, std::remove_cvref_t<T>...>;
template <typename... T>
using in_template = detail::checked_template<true, std::remove_cvref_t<T>...>;

// --- the engines (run-time templates; the tests call these directly) -------

// The parsed form of a template whose text lives for the whole run (a
// string literal), parsed on first use and kept.
const record_program& program_for(std::string_view text);

void write_record(channel& ch, const record_program& p, const value* values, int count);
// Room for one record of n characters (its line feed included) and the
// buffer's slack after it, on a channel open for writing.
char* make_room(channel& ch, std::size_t n);
inline char* reserve_record(channel& ch, std::size_t n) {
  if (ch.writing && ch.fd >= 0 && std::size_t(buffer_size) - ch.end >= n) return ch.buf + ch.end;
  return make_room(ch, n);
}
void write_record(std::span<char> record, const record_program& p, const value* values, int count);
// The next record of an input channel, without its line feed (and without a
// carriage return before it or at the very end of the input); the view
// lasts until the next read. Of a record longer than the buffer it gives
// the first buffer_size characters; the rest is passed over.
outcome next_record(channel& ch, std::string_view& record);
// Passes over n records, as n calls of next_record would, but counts whole
// buffers of lines at a time; gives the outcome of the last.
outcome skip_records(channel& ch, std::int64_t n);
outcome read_record(channel& ch, const record_program& p, item* items, int count);
outcome read_record(std::span<const char> record, const record_program& p, item* items, int count);
// Free-form input. A statement whose items are all numbers first tries
// the quick path, which takes a record of plain numbers on one line;
// anything else goes to the general engine from the record's start.
outcome read_free(channel& ch, item* items, int count);
// The general engine alone: the tests hold the quick path against it.
outcome read_free_general(channel& ch, item* items, int count);
// The quick path on processors with 64-byte byte permutation, for up to 8
// numbers read from the record that starts at buf[begin]: false, with
// nothing read, unless its line is plain numbers that give the items the
// values the general engine would. The record is then passed over.
bool read_vector_numbers(channel& ch, item* items, int count);

// --- the statements ---------------------------------------------------------

namespace detail {

// A record of fixed layout: one reservation, each field in its place.
template <typename... T>
void write_fixed(channel& ch, const fixed_layout& layout, const T&... values) {
  char* const dst = reserve_record(ch, std::size_t(layout.width) + 1);
  int k = 0;
  auto put = [&](const auto& v) {
    const fixed_field& f = layout.fields[k++];
    if constexpr (kind_of<decltype(v)>() == 'I') put_integer_fixed(dst + f.at, v, f.width);
    else put_real_fixed(dst + f.at, v, f.width, f.decimals);
  };
  (put(values), ...);
  dst[layout.width] = '\n';
  ch.end += std::uint32_t(layout.width) + 1;
  ++ch.line;
}

}  // namespace detail

// Writes one record: to a channel, ending with a line feed; or into an
// internal record, filled from the left and padded with blanks.
template <typename... T>
void write_templated(channel& ch, out_template<std::type_identity_t<T>...> t, const T&... values) {
  if constexpr (sizeof...(T) > 0 && ((detail::kind_of<T>() != 'A') && ...)) {
    if (t.layout.fixed) return detail::write_fixed(ch, t.layout, values...);
  }
  if constexpr (sizeof...(T) == 0) {
    write_record(ch, program_for(t.text), nullptr, 0);
  } else {
    const value v[] = {detail::to_value(values)...};
    write_record(ch, program_for(t.text), v, int(sizeof...(T)));
  }
}
template <typename... T>
void write_templated(std::span<char> record, out_template<std::type_identity_t<T>...> t,
                     const T&... values) {
  if constexpr (sizeof...(T) == 0) {
    write_record(record, program_for(t.text), nullptr, 0);
  } else {
    const value v[] = {detail::to_value(values)...};
    write_record(record, program_for(t.text), v, int(sizeof...(T)));
  }
}

// Reads one record into the items: from a channel's next line, or from an
// internal record.
template <typename... T>
outcome read_templated(channel& ch, in_template<std::type_identity_t<T>...> t, T&&... items) {
  item it[] = {detail::to_item(items)...};
  return read_record(ch, program_for(t.text), it, int(sizeof...(T)));
}
template <typename... T>
outcome read_templated(std::span<const char> record, in_template<std::type_identity_t<T>...> t,
                       T&&... items) {
  item it[] = {detail::to_item(items)...};
  return read_record(record, program_for(t.text), it, int(sizeof...(T)));
}

namespace detail {

// The end of a statement that the quick path read whole: the rest of its
// line is passed over.
inline outcome quick_end(channel& ch, unsigned length, int count) {
  ch.items_read = count;
  ch.bad_kind = nullptr;
  ch.begin += length + 1;
  return outcome::done;
}

// The vector quick path of a statement. Out of line: inlined into a
// tool's record loop, it leaves the loop too large for the compiler to
// keep the output layout's widths as constants.
template <typename... T>
[[gnu::noinline]] bool vector_statement(channel& ch, T&... items) {
  item it[] = {to_item(items)...};
  if (!read_vector_numbers(ch, it, int(sizeof...(T)))) return false;
  ++ch.line;
  return true;
}

}  // namespace detail

// Free-form input into integers, reals and text fields. A statement of
// numbers only first tries the quick path, made for its items when the
// tool is compiled, on a record that starts in the buffer: plain numbers
// on one line. Anything else goes to read_free, from the record's start:
// the quick path consumes nothing, and gives an item only the value that
// the general engine would give it.
template <typename... T>
outcome read_free_form(channel& ch, T&&... items) {
  static_assert(detail::kinds<T...>::known, "record values are int32_t, float or text fields");
  static_assert(((!std::is_array_v<std::remove_cvref_t<T>> ||
                  std::extent_v<std::remove_cvref_t<T>> <= std::size_t(long_token_head)) && ...),
                "a text field of free-form input holds at most long_token_head characters");
  if constexpr (sizeof...(T) > 0 && ((detail::kind_of<T>() != 'A') && ...)) {
    if (!ch.dropping && ch.begin < ch.end) {
      if (sizeof...(T) <= 8 && detail::vector_numbers_usable(ch.line) &&
          detail::vector_statement(ch, items...))
        return outcome::done;
      const char* const p = ch.buf + ch.begin;
      detail::quick_line line = detail::scan_line(p, ch.end - ch.begin);
      int k = 0;
      if (line.length < 64 && (detail::quick_item(p, line, items, ++k == int(sizeof...(T))) && ...)) {
        ++ch.line;
        return detail::quick_end(ch, line.length, int(sizeof...(T)));
      }
    }
  }
  item it[] = {detail::to_item(items)...};
  return read_free(ch, it, int(sizeof...(T)));
}

// --- edit forms (also used by the engines) ------------------------------------

// Write exactly w characters at dst.
void put_integer(char* dst, std::int32_t v, int w);
void put_real(char* dst, float v, int w, int d);
// Convert a field or token; false when it is not a number of that kind.
// `blanks_ignored`: blanks anywhere are dropped (fixed fields).
bool get_integer(std::string_view text, bool blanks_ignored, std::int32_t& out);
bool get_real(std::string_view text, bool blanks_ignored, int implied_decimals, float& out);

// A plain decimal, [-]digits[.digits], as scanned for the quick paths of
// free-form input; anything else takes the general conversions above.
struct plain_decimal {
  bool minus;
  bool point;
  std::uint64_t mantissa;
  int digits;
  int decimals;
};
// Scans from p; gives where the plain decimal stops.
const char* scan_plain_decimal(const char* p, const char* end, plain_decimal& out);
// Exact conversions of the common cases; false leaves the text to get_*.
bool plain_to_integer(const plain_decimal& d, std::int32_t& out);
bool plain_to_real(const plain_decimal& d, float& out);

// Stands in for a numeric token too long to hold: fed the token's bytes in
// order, it keeps only what decides how the token reads (sign, the first
// significant digits, whether any digit after them is not 0, the decimal
// exponent, the shape), in fixed memory. `text` is then a short token that
// get_integer and get_real read exactly as they would read the whole one.
struct number_reducer {
  static constexpr int kept_digits = 120;  // more than any midpoint between two floats has

  void take(const char* p, std::size_t n);
  std::string_view text();
  bool all_digits() const { return length > 0 && digits_only; }

  std::uint64_t length = 0;
  std::uint8_t stage = 0;
  char sign = 0;
  bool digits_only = true;
  bool point = false;
  bool any_digit = false;
  bool significant = false;
  bool sticky = false;  // a digit past the kept ones is not 0
  bool exponent_negative = false;
  std::int64_t after_point = 0;  // digits after the point
  std::int64_t dropped = 0;      // significant digits past the kept ones
  std::int64_t exponent = 0;     // as written, held below 10^15
  int kept = 0;
  char head[64];  // the token's first bytes: a short token stands for itself
  char digits[kept_digits];
  char out[kept_digits + 24];
};

// --- trimmed length -------------------------------------------------------

// The position of the last character of the field that is not a blank
// (only the character 32 is one), at least 1.
int shorten(std::span<const char> field);

}  // namespace zeb
