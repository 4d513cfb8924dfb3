// Inside the text layer: the engines behind the statements of text.h, the
// edit forms they share, and what they share of a channel's input. Tools
// include text.h only; the library, its tests and its fuzz targets also
// this.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "text.h"

namespace zeb {

using detail::begin_record;
using detail::item;
using detail::read_free;
using detail::read_record;
using detail::value;
using detail::write_record;

// --- edit forms ---------------------------------------------------------------

// Convert a field or token; false when it is not a number of that kind.
// `blanks_ignored`: blanks anywhere are dropped (fixed fields).
bool get_integer(std::string_view text, bool blanks_ignored, std::int32_t& out);
bool get_real(std::string_view text, bool blanks_ignored, int implied_decimals, float& out);

// A plain decimal, [-]digits[.digits], scanned from p up to `end`; gives
// where it stops. `digits` counts them all, leading zeros included.
struct plain_decimal {
  bool minus;
  bool point;
  std::uint64_t mantissa;  // wraps past 19 digits: `digits` tells
  int digits;
  int decimals;
};
const char* scan_plain_decimal(const char* p, const char* end, plain_decimal& out);
// The exact conversion of the common case; false leaves the text to get_real.
inline bool plain_to_real(const plain_decimal& d, float& out) {
  if (d.digits == 0 || d.digits > 15 || d.decimals > 22) return false;
  return detail::decimal_to_real(d.mantissa, unsigned(d.decimals), std::uint32_t(d.minus) << 31, out);
}

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

// --- free-form input ---------------------------------------------------------------

// Free-form input by the general engine alone, and by the quick path alone
// on a record begun (false: it took nothing, and the general engine must
// read the statement). The tests hold them against each other; the
// statements use both.
outcome read_free_general(channel& ch, detail::item* items, int count);
bool read_quick_numbers(channel& ch, detail::item* items, int count);

// --- a channel's input ------------------------------------------------------------

// A place in the current record and how much of the record the buffer
// holds from there: [p, stop). A carriage return before the record's line
// feed, or at the very end of the input, is not in it; nor is one at the
// end of the buffered bytes, until a refill tells whether a line feed
// follows.
struct cursor {
  const char* p;
  const char* stop;
  bool whole;  // stop is the record's end; else more of it may follow
};

cursor cursor_at(const channel& ch, const char* p);

// Makes room in the buffer and reads more of the record: keeps
// [from, upto) at the buffer's start and [c.p, end) right after it,
// dropping what lies between, then reads. The pointers follow the bytes
// they point to (c.p is then upto). There must be something to drop or
// some room left: (upto - from) + (end - c.p) < buffer_size. False when
// the read fails (sys_error tells why).
bool read_more(channel& ch, cursor& c, const char*& from, const char*& upto);

// The same, keeping only [c.p, end).
inline bool read_more(channel& ch, cursor& c) {
  const char* from = c.p;
  const char* upto = c.p;
  return read_more(ch, c, from, upto);
}

// Records the token that a read could not take, for fail_read.
void note_bad(channel& ch, std::string_view text, const char* kind);

}  // namespace zeb
