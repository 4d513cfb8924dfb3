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

#include "record_template.h"

namespace zeb {

// The name every diagnostic begins with; each tool defines it.
extern const char tool_name[];

// Every unguarded failure of every tool ends with this status.
inline constexpr int failure_status = 2;

enum class outcome : std::uint8_t { done, end_of_file, error };

// Records longer than this are cut to it; the rest of the line is dropped.
inline constexpr int record_limit = 1 << 16;

// A channel: standard input, standard output, or a named file, with one
// fixed buffer. Input records are views into that buffer.
struct channel {
  int fd = -1;
  bool writing = false;
  bool at_end = false;      // input: the system reported the end
  bool dropping = false;    // input: the rest of an over-long line is skipped
  int sys_error = 0;        // errno of the last failed system call
  std::int64_t line = 0;    // records read or written so far
  std::uint32_t begin = 0;  // input: unread bytes are buf[begin, end)
  std::uint32_t end = 0;    // output: pending bytes are buf[0, end)
  int items_read = 0;       // items the last read statement gave a value or a null
  const char* label = nullptr;  // for diagnostics: a file name or "standard input"
  const char* bad_kind = nullptr;  // after the outcome error: "an integer", "a real"
  char bad_text[48] = {};   // after the outcome error: the text that failed
  char name[256] = {};
  char buf[record_limit];
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
// where program_for finds it parsed.
template <bool for_input, typename... T>
struct checked_template {
  static_assert(kinds<T...>::known, "record values are int32_t, float or text fields");
  std::string_view text;
  template <std::size_t N>
  consteval checked_template(const char (&s)[N]) : text(s, N - 1) {
    const record_program program = parse_template(text);
    if (program.error) malformed_record_template(program.error);
    if (!kinds<T...>::known || !fields_match(program, kinds<T...>::text, for_input))
      values_do_not_match_record_template();
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
void write_record(std::span<char> record, const record_program& p, const value* values, int count);
// The next record of an input channel, without its line feed (and without a
// carriage return before it); the view lasts until the next read.
outcome next_record(channel& ch, std::string_view& record);
// Passes over n records, as n calls of next_record would, but counts whole
// buffers of lines at a time; gives the outcome of the last.
outcome skip_records(channel& ch, std::int64_t n);
outcome read_record(channel& ch, const record_program& p, item* items, int count);
outcome read_record(std::span<const char> record, const record_program& p, item* items, int count);
outcome read_free(channel& ch, item* items, int count);

// --- the statements ---------------------------------------------------------

// Writes one record: to a channel, ending with a line feed; or into an
// internal record, filled from the left and padded with blanks.
template <typename... T>
void write_templated(channel& ch, out_template<std::type_identity_t<T>...> t, const T&... values) {
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

// Free-form input into integers, reals and text fields.
template <typename... T>
outcome read_free_form(channel& ch, T&&... items) {
  static_assert(detail::kinds<T...>::known, "record values are int32_t, float or text fields");
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

// --- trimmed length -------------------------------------------------------

// The position of the last character of the field that is not a blank
// (only the character 32 is one), at least 1.
int shorten(std::span<const char> field);

}  // namespace zeb
