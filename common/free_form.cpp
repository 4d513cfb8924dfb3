// Free-form input: the general engine, which reads every form of every
// rule (separators, null values, r*value, the slash, quoted texts, tokens
// of any length, records that go on over several lines), and the
// statement, which first offers a line of plain numbers to the quick path
// (quick_input.cpp).
#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

#include "engine.h"

namespace zeb {

namespace {

enum reducer_stage : std::uint8_t {
  at_start,      // nothing yet
  after_sign,    // + or -
  in_mantissa,   // digits and a point
  exponent_mark, // after E or D: a sign or a digit is due
  exponent_sign, // after the exponent's sign: a digit is due
  in_exponent,   // exponent digits
  in_nan,        // part of nan( after an optional minus
  nan_chars,     // inside nan( ... )
  nan_closed,    // after the closing parenthesis
  invalid,
};

}  // namespace

void number_reducer::take(const char* p, std::size_t n) {
  for (std::size_t k = 0; k < n; ++k) {
    const char c = p[k];
    if (length < sizeof head) head[length] = c;
    ++length;
    const bool digit = c >= '0' && c <= '9';
    digits_only = digits_only && digit;
    switch (stage) {
      case at_start:
        if (c == '+' || c == '-') {
          sign = c;
          stage = after_sign;
          continue;
        }
        [[fallthrough]];
      case after_sign:
        // The words Inf, Infinity and NaN are short; of the C forms only
        // nan(chars), with no plus sign, can be long.
        if ((c | 0x20) == 'n' && sign != '+') {
          stage = in_nan;
          exponent = 1;  // letters of "nan(" matched so far
          continue;
        }
        stage = in_mantissa;
        [[fallthrough]];
      case in_mantissa:
        if (digit) {
          any_digit = true;
          if (point) ++after_point;
          if (c == '0' && !significant) continue;  // a leading zero
          significant = true;
          if (kept < kept_digits) {
            digits[kept++] = c;
          } else {
            ++dropped;
            sticky = sticky || c != '0';
          }
        } else if (c == '.' && !point) {
          point = true;
        } else if (any_digit && (c == 'E' || c == 'e' || c == 'D' || c == 'd')) {
          stage = exponent_mark;
        } else if (any_digit && (c == '+' || c == '-')) {
          exponent_negative = c == '-';
          stage = exponent_sign;
        } else {
          stage = invalid;
        }
        continue;
      case exponent_mark:
        if (c == '+' || c == '-') {
          exponent_negative = c == '-';
          stage = exponent_sign;
          continue;
        }
        [[fallthrough]];
      case exponent_sign:
      case in_exponent:
        if (!digit) {
          stage = invalid;
        } else {
          stage = in_exponent;
          if (exponent < 100000000000000) exponent = exponent * 10 + (c - '0');
        }
        continue;
      case in_nan:
        if (exponent < 3 ? (c | 0x20) == "nan"[exponent] : c == '(') {
          if (++exponent == 4) stage = nan_chars;
        } else {
          stage = invalid;
        }
        continue;
      case nan_chars:
        if (c == ')') stage = nan_closed;
        else if (!digit && unsigned((c | 0x20) - 'a') > 25u && c != '_') stage = invalid;
        continue;
      default:
        stage = invalid;
        continue;
    }
  }
}

std::string_view number_reducer::text() {
  if (length <= sizeof head) return std::string_view(head, std::size_t(length));
  if (stage == nan_closed) return sign == '-' ? "-nan()" : "nan()";
  if (!any_digit || (stage != in_mantissa && stage != in_exponent)) return ".";  // no number
  char* p = out;
  if (sign) *p++ = sign;
  if (kept == 0) *p++ = '0';
  std::memcpy(p, digits, std::size_t(kept));
  p += kept;
  if (stage == in_mantissa && !point && dropped == 0) return std::string_view(out, std::size_t(p - out));
  // digits, then 1 for the digits past them that are not all 0, times a
  // power of ten. The value lies strictly between the same two floats, or
  // their midpoint, as the whole token's does.
  std::int64_t e = (exponent_negative ? -exponent : exponent) + dropped - after_point;
  if (sticky) {
    *p++ = '1';
    --e;
  }
  if (kept == 0) e = 0;
  e = std::clamp<std::int64_t>(e, -200000, 200000);
  *p++ = 'e';
  p = std::to_chars(p, out + sizeof out, e).ptr;
  return std::string_view(out, std::size_t(p - out));
}

namespace {

// Stores text into a text item: left-justified, cut or padded with blanks.
// True when text, not blanks, was cut.
bool store_text(const item& it, std::string_view text) {
  const std::size_t n = std::min(text.size(), it.a.n);
  if (n > 0) std::memcpy(it.a.p, text.data(), n);
  std::memset(it.a.p + n, ' ', it.a.n - n);
  return text.find_first_not_of(' ', n) != std::string_view::npos;
}

// Characters that end a free-form token: blank, tab, comma, semicolon, slash.
constexpr auto separators = [] {
  std::array<bool, 256> is{};
  for (unsigned char c : {' ', '\t', ',', ';', '/'}) is[c] = true;
  return is;
}();

bool is_separator(char c) { return separators[static_cast<unsigned char>(c)]; }

// One token of free-form input, as scanned from the current record. A
// token the buffer can hold is [t, end) there (a quoted one unquoted in
// place). One longer than the buffer passes through: its first
// long_token_head bytes stay at t, and every byte goes to `reducer`.
struct token {
  const char* t;
  const char* end;
  const char* fed = nullptr;  // long token: the reducer has the bytes before this
  bool quoted = false;
  bool long_one = false;
  number_reducer reducer;

  explicit token(const char* at) : t(at), end(at) {}
  void restart(const char* at) {
    t = end = at;
    quoted = long_one = false;
  }
  std::string_view text() const { return std::string_view(t, std::size_t(end - t)); }
};

// Scans on from c.p while `more(c)` holds, to the end of the record at
// the latest; false when a read fails.
template <typename F>
bool scan_token(channel& ch, cursor& c, token& tk, F more) {
  for (;;) {
    while (c.p < c.stop && more(*c.p)) ++c.p;
    const bool ended = c.p < c.stop || c.whole;
    // The buffered bytes end inside the token: keep them and read on; a
    // token that fills the buffer keeps its head and passes the rest.
    if (!ended && !tk.long_one && tk.t == ch.buf && ch.end == std::uint32_t(buffer_size)) {
      tk.long_one = true;
      tk.reducer = number_reducer{};
      tk.fed = tk.t;
    }
    if (tk.long_one) {
      tk.reducer.take(tk.fed, std::size_t(c.p - tk.fed));
      tk.end = tk.t + long_token_head;
    } else {
      tk.end = c.p;
    }
    tk.fed = c.p;
    if (ended) return true;
    if (!read_more(ch, c, tk.t, tk.end)) return false;
    tk.fed = c.p;
  }
}

// A text between quotes from c.p (at the opening quote), a doubled quote
// standing for one, to the closing quote or the end of the record. It is
// unquoted in place, over bytes already scanned; past long_token_head
// characters only its end is looked for, since no text field takes more.
bool scan_quoted(channel& ch, cursor& c, token& tk) {
  const char quote = *c.p++;
  tk.quoted = true;
  std::size_t n = 0;
  for (;;) {
    while (c.p < c.stop) {
      const char x = *c.p;
      if (x == quote) {
        if (c.p + 1 == c.stop && !c.whole) break;  // a doubled quote, or the closing one?
        ++c.p;
        if (c.p == c.stop || *c.p != quote) {
          tk.end = tk.t + n;
          return true;
        }
      }
      if (n < std::size_t(long_token_head)) ch.buf[(tk.t - ch.buf) + std::ptrdiff_t(n++)] = x;
      ++c.p;
    }
    if (c.p == c.stop && c.whole) break;  // not closed: the text ends with the record
    tk.end = tk.t + n;
    if (!read_more(ch, c, tk.t, tk.end)) return false;
  }
  tk.end = tk.t + n;
  return true;
}

// The general engine, on the record just begun, from c on.
outcome free_form(channel& ch, cursor& c, item* items, int count) {
  int next = 0;
  bool after_value = false;  // right after a value a comma only separates
  for (;;) {
    while (c.p < c.stop && (*c.p == ' ' || *c.p == '\t')) ++c.p;
    if (c.p == c.stop) {
      if (!c.whole) {
        if (!read_more(ch, c)) return outcome::error;
        continue;
      }
      // A record's end separates like a blank; the statement goes on.
      ch.begin = std::uint32_t(c.p - ch.buf);
      const outcome o = begin_record(ch);
      if (o != outcome::done) return o;
      c = cursor_at(ch, ch.buf + ch.begin);
      continue;
    }
    const char first = *c.p;
    if (first == '/') return outcome::done;
    if (first == ',' || first == ';') {
      ++c.p;
      if (!after_value) ch.items_read = ++next;  // a null value: the item keeps what it holds
      after_value = false;
      if (next == count) return outcome::done;
      continue;
    }

    // r*value or r*: digits, then a star.
    token tk(c.p);
    int repeat = 1;
    if (detail::is_digit(first)) {
      if (!scan_token(ch, c, tk, detail::is_digit)) return outcome::error;
      if (c.p < c.stop && *c.p == '*') {
        std::int32_t r = 0;
        const std::string_view digits = tk.long_one ? tk.reducer.text() : tk.text();
        if (!get_integer(digits, false, r) || r < 1) {
          note_bad(ch, tk.long_one ? std::string_view(tk.t, long_token_head) : std::string_view(tk.t, std::size_t(c.p + 1 - tk.t)),
                   "a repeat count");
          return outcome::error;
        }
        repeat = r;
        ++c.p;
        while (c.p == c.stop && !c.whole)
          if (!read_more(ch, c)) return outcome::error;
        if (c.p == c.stop || is_separator(*c.p)) {  // r*: r null values
          next += std::min(repeat, count - next);
          ch.items_read = next;
          after_value = true;
          if (next == count) return outcome::done;
          continue;
        }
        tk.restart(c.p);
      }
    }
    if (tk.t == c.p && (*c.p == '\'' || *c.p == '"')) {
      if (!scan_quoted(ch, c, tk)) return outcome::error;
    } else if (!scan_token(ch, c, tk, [](char x) { return !is_separator(x); })) {
      return outcome::error;
    }

    const std::string_view text = tk.text();
    for (const int last = next + std::min(repeat, count - next); next < last; ++next) {
      const item& target = items[next];
      bool ok = true;
      if (target.kind == 'A') {
        if (tk.long_one && target.a.n > std::size_t(long_token_head))
          fail("free-form input", "a text field longer than long_token_head characters");
        ch.text_cut |= store_text(target, text) || tk.long_one;
      } else if (tk.quoted) {
        ok = false;
      } else {
        const std::string_view number = tk.long_one ? tk.reducer.text() : text;
        ok = target.kind == 'I' ? get_integer(number, false, *target.i)
                                : get_real(number, false, 0, *target.f);
      }
      if (!ok) {
        note_bad(ch, text, target.kind == 'I' ? "an integer" : "a real");
        return outcome::error;
      }
      ch.items_read = next + 1;
    }
    after_value = true;
    if (next == count) return outcome::done;
  }
}

// A statement, offered first to the quick path when `quick`.
outcome read_statement(channel& ch, item* items, int count, bool quick) {
  ch.text_cut = false;
  const outcome o = detail::begin_statement(ch);
  if (o != outcome::done || count == 0) return o;
  if (quick && read_quick_numbers(ch, items, count)) return outcome::done;
  return detail::read_free_begun(ch, items, count);
}

}  // namespace

outcome detail::read_free_begun(channel& ch, item* items, int count) {
  cursor c = cursor_at(ch, ch.buf + ch.begin);
  const outcome r = free_form(ch, c, items, count);
  ch.begin = std::uint32_t(c.p - ch.buf);  // where the statement stopped
  return r;
}

outcome detail::read_free(channel& ch, item* items, int count) { return read_statement(ch, items, count, true); }

outcome read_free_general(channel& ch, item* items, int count) { return read_statement(ch, items, count, false); }

}  // namespace zeb
