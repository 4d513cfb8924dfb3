// The quick path of free-form input: a statement of integers and reals
// whose values are plain numbers, [-]digits[.digits], on the first line of
// the record, separated by blanks, tabs or a comma. It is the common case
// by far: the reflection lists of this workflow, in the fixed columns that
// the tools themselves write or in short free-form lines.
//
// Two stages, after simdjson. The first classes the buffered bytes 64 at
// a time into masks (byte_marks.h), so that where each token begins and
// where the line ends are known before any number is read, and the processor reads the
// numbers of a line side by side instead of each waiting for the one
// before. The second reads each token as a number eight digits at a time
// in a 64-bit word.
//
// It consumes nothing unless it takes the whole statement, and gives an
// item only the value the general engine gives it: a token is taken only
// when it is a plain number up to a separator, which the general engine
// reads the same way, by the same conversion. Anything else goes to the
// general engine from the record's start.
//
// A statement of the tools gets it made for its items when the tool is
// compiled (no branch on their kinds); other statements, and the tests,
// take it with items known at run time (quick_input.cpp).
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "byte_marks.h"
#include "fixed_output.h"

namespace zeb::detail {

// A decimal of up to 15 digits, `decimals` of them after the point, as a
// float: the mantissa times the double nearest 10^-decimals lands within
// a few units of the double's last place of the exact quotient, and away
// from a midpoint between two floats both round to the same float. Near
// one, the exact power of ten divides instead: one correctly rounded
// double, which rounds to float correctly unless it is the midpoint
// itself. False there: the exact conversion decides. Below 2^24 with up
// to 8 decimals (most values) the quotient is never a midpoint, nor
// nearer to one than the product's error, and is not looked at. (It is
// never below 10^-22 either, far above the smallest normal float.)
// `sign` is the float's sign bit, 0 or 0x80000000.
[[gnu::always_inline]] inline bool decimal_to_real(std::uint64_t mantissa, unsigned decimals, std::uint32_t sign,
                                                   float& out) {
  static constexpr double tens[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  static constexpr double tenths[] = {1e0,   1e-1,  1e-2,  1e-3,  1e-4,  1e-5,  1e-6,  1e-7,
                                      1e-8,  1e-9,  1e-10, 1e-11, 1e-12, 1e-13, 1e-14, 1e-15,
                                      1e-16, 1e-17, 1e-18, 1e-19, 1e-20, 1e-21, 1e-22};
  constexpr std::uint64_t float_ulp_bits = 0x1fffffff;  // the double's bits below a float's last place
  constexpr std::uint64_t midpoint = 0x10000000;
  double x = double(mantissa) * tenths[decimals];
  if (mantissa >= std::uint64_t(1) << 24 || decimals > 8) {
    std::uint64_t bits = __builtin_bit_cast(std::uint64_t, x);
    if ((bits & float_ulp_bits) - (midpoint - 8) <= 16) {
      x = double(mantissa) / tens[decimals];
      bits = __builtin_bit_cast(std::uint64_t, x);
      if ((bits & float_ulp_bits) == midpoint) return false;
    }
  }
  // The sign without a branch: signs of values follow no pattern.
  out = __builtin_bit_cast(float, __builtin_bit_cast(std::uint32_t, float(x)) | sign);
  return true;
}

inline std::uint64_t load_word(const char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// The bytes of a word of digit values (the text xor '0') that are not
// digits, as set high bits. Only the first of them counts: a carry can
// mark the bytes after it.
inline std::uint64_t non_digits(std::uint64_t digit_values) {
  return (digit_values | (digit_values + 0x0606060606060606)) & 0xf0f0f0f0f0f0f0f0;
}

// The bit where the first byte that is not a digit begins; 64 when all
// eight are digits.
inline unsigned first_non_digit(std::uint64_t non_digit_bits) {
  // Without a branch: tokens of eight digits and more are common enough.
  return unsigned(__builtin_ctzll(non_digit_bits | std::uint64_t(1) << 63)) + (non_digit_bits == 0);
}

// The value of the first n digits (n from 1 to 8) of a word of digit values.
inline std::uint32_t digits_value(std::uint64_t digit_values, unsigned n) {
  std::uint64_t v = digit_values << (64 - 8 * n);  // the n digits last, zeros before them
  v = v * 10 + (v >> 8);
  v = (((v & 0x000000ff000000ff) * (100 + (1000000ull << 32))) +
       (((v >> 16) & 0x000000ff000000ff) * (1 + (10000ull << 32)))) >> 32;
  return std::uint32_t(v);
}

// The same for the first n digits (n from 1 to 4) of four digit values:
// indexes have a few digits, and four of them take half the work.
inline std::uint32_t short_digits_value(std::uint32_t digit_values, unsigned n) {
  std::uint32_t v = digit_values << (32 - 8 * n);  // the n digits last, zeros before them
  v = v * 10 + (v >> 8);                           // two digits in the first and the third byte
  return (v & 0xff) * 100 + (v >> 16 & 0xff);
}

// The number whose token begins at t, up to the first byte that cannot
// continue it: where that is, or null when the number is not one the quick
// path takes. Whether that byte ends the token is the caller's to check
// (a ninth digit of an integer, or a point, does not). The data end with a
// NUL, which stops every number, and 16 readable bytes follow it.
[[gnu::always_inline]] inline const char* integer_at(const char* t, std::int32_t& out) {
  const bool minus = *t == '-';
  const char* const p = t + minus;
  const std::uint64_t x = load_word(p) ^ zero_bytes;
  const unsigned whole = first_non_digit(non_digits(x)) >> 3;
  if (whole == 0) return nullptr;
  const std::int32_t v = std::int32_t(whole <= 4 ? short_digits_value(std::uint32_t(x), whole)
                                                 : digits_value(x, whole));
  out = minus ? -v : v;
  return p + whole;
}

// A real with more digits than a word holds (quick_input.cpp).
const char* wide_real_at(const char* t, const char* data_end, float& out);

[[gnu::always_inline]] inline const char* real_at(const char* t, const char* data_end, float& out) {
  // The sign bit, made without a flag: a flag kept in memory is stored as
  // one byte and read back as four, which the processor cannot forward.
  const std::uint32_t sign = ((std::uint32_t(std::uint8_t(*t)) ^ '-') - 1) & 0x80000000;
  const char* const p = t + (sign >> 31);
  const std::uint64_t x = load_word(p) ^ zero_bytes;
  const unsigned whole = first_non_digit(non_digits(x)) >> 3;
  std::uint64_t digits = x;
  unsigned count = whole;
  const char* end = p + whole;
  if (*end == '.') {
    if (whole == 8) return wide_real_at(t, data_end, out);
    // The digits after the point, loaded one byte on, take the place of
    // the point and what follows it: one word of all the digits.
    const std::uint64_t y = load_word(p + 1) ^ zero_bytes;
    digits = x ^ ((x ^ y) & ~std::uint64_t(0) << (8 * whole));
    count = first_non_digit(non_digits(digits)) >> 3;
    end = p + 1 + count;
  }
  // No digit, or a word full of them that more may follow: one test for
  // both, as neither is common.
  if (count - 1 >= 7) {
    if (count == 0) return nullptr;
    if (*end >= '0' && *end <= '9') return wide_real_at(t, data_end, out);
  }
  return decimal_to_real(digits_value(digits, count), count - whole, sign, out) ? end : nullptr;
}


// Where the next tokens begin: the 64 bytes from `block` classed, and the
// token starts among them not taken yet.
struct token_starts {
  const char* block;
  std::uint64_t starts;
};

// Out of the way of the common case, and by value, so that the statement
// keeps its marks in registers: a run of blanks past the block goes on in
// the next (the data's NUL is a token that no number takes, so no block
// past it is looked at); and a token may begin right after a comma, where
// the marks start anew.
[[gnu::noinline]] token_starts starts_past(const char* block);
[[gnu::noinline]] token_starts starts_after_comma(const char* comma);

// The tokens of the first line of the record that starts at buf[begin],
// taken one item after another.
struct quick_line {
  token_starts next;
  const char* data_end;
  const char* line_feed = nullptr;  // the line's end, when the first 128 bytes hold it
  const char* end = nullptr;        // where the last number taken ends

  quick_line(const char* record, const char* data_end_) : data_end(data_end_) {
    const marks m = byte_marks(record);
    next = {record, ~m.blanks & (m.blanks << 1 | 1)};
    // Where the line ends, known from the marks alone, so that the next
    // record need not wait for this one's numbers to know where it begins.
    // Bytes past the data are stale: a line feed there is none.
    if (m.line_feeds) {
      line_feed = record + __builtin_ctzll(m.line_feeds);
    } else if (record + 64 < data_end) {
      const std::uint64_t more = byte_marks(record + 64).line_feeds;
      if (more) line_feed = record + 64 + __builtin_ctzll(more);
    }
    if (line_feed >= data_end) line_feed = nullptr;
  }

  // The next token as the item's number, followed by a separator: for the
  // last item any separator or the line's end; for the others a blank, a
  // tab, or a comma (or semicolon) and blanks. A second comma would be a
  // null value, and a line's end would carry the statement on to the
  // next: both are left to the general engine. False, with the item as it
  // was, when the token is not taken.
  template <typename T>
  [[gnu::always_inline]] bool take(T& item, bool last) {
    if (next.starts == 0) [[unlikely]] next = starts_past(next.block);
    const char* const t = next.block + __builtin_ctzll(next.starts);
    next.starts &= next.starts - 1;
    T v;
    if constexpr (std::is_same_v<T, std::int32_t>) end = integer_at(t, v);
    else end = real_at(t, data_end, v);
    if (!end) return false;
    const char c = *end;
    if (last) {
      if (c != '\n' && c != ' ' && c != '\t' && (c != '\r' || end[1] != '\n') && c != ',' && c != ';' &&
          c != '/')
        return false;
    } else if (c != ' ' && c != '\t') [[unlikely]] {
      if (c != ',' && c != ';') return false;
      next = starts_after_comma(end);
    }
    item = v;
    return true;
  }

  // Where the statement's line is left, once every item is taken: past its
  // line feed when the last number ends the line (the line feed the marks
  // found, if they did: no line feed comes before it), else at that
  // number's separator, the rest of the line passed over at the next read.
  const char* rest() const {
    if (*end != '\n' && *end != '\r') return end;
    return line_feed ? line_feed + 1 : end + 1 + (*end == '\r');
  }
};

}  // namespace zeb::detail
