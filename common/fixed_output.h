// Quick forms of the Iw and Fw.d output fields of a fixed layout, for the
// records that the rotation tools write by the million. Digits are made
// eight at a time in a 64-bit word, with no loop and no branch on the
// number of digits: values vary from record to record, and branches on
// their lengths are mispredicted. Whatever the quick forms do not take
// goes to the general edits, which give the same result.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <emmintrin.h>
#include <array>

namespace zeb {

// The general edits: exactly w characters at dst.
void put_integer(char* dst, std::int32_t v, int w);
void put_real(char* dst, float v, int w, int d);

namespace detail {

// Each field is stored with whole words that may run up to 15 bytes past
// its end; fields are written from left to right, so the next field, or
// the buffer's slack after the record, takes the overrun.

inline void store_word(char* dst, std::uint64_t word) { std::memcpy(dst, &word, sizeof word); }

inline constexpr std::uint64_t blank_bytes = 0x2020202020202020;
inline constexpr std::uint64_t zero_bytes = 0x3030303030303030;
inline constexpr double powers_of_ten[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// n / 10^d (d from 0 to 4) by a multiplication, exact for every n. The
// compiler can leave a division where the divisor is a constant it learns
// late, or where it thinks the code is cold, as in a tool's main.
inline constexpr std::uint64_t tenth_factors[] = {1, 0xcccccccd, 0x51eb851f, 0x10624dd3, 0xd1b71759};
inline constexpr int tenth_shifts[] = {0, 35, 37, 38, 45};
constexpr std::uint32_t over_power_of_ten(std::uint32_t n, int d) {
  return std::uint32_t((n * tenth_factors[d]) >> tenth_shifts[d]);
}

// The eight decimal digits of n < 10^8, one digit value (0 to 9) per byte,
// the first digit in the lowest byte (which is the first in memory).
constexpr std::uint64_t digit_bytes(std::uint32_t n) {
  const std::uint32_t high = over_power_of_ten(n, 4);
  const std::uint64_t x = high | std::uint64_t(n - 10000 * high) << 32;           // 4 + 4 digits
  const std::uint64_t hundreds = ((x * 10486) >> 20) & 0x0000007f0000007f;        // x / 100 per half
  const std::uint64_t pairs = hundreds | (x - 100 * hundreds) << 16;              // 2 digits per 16 bits
  const std::uint64_t tens = ((pairs * 103) >> 10) & 0x000f000f000f000f;          // pairs / 10
  return tens | (pairs - 10 * tens) << 8;
}

// `digits` (as from digit_bytes, right-aligned) as text: leading zeros
// blank, one digit at least, a minus sign before the first digit. Gives
// the number of characters that are not blanks. The word has no room for
// a sign before eight digits: callers keep to seven.
constexpr std::uint64_t integer_text(std::uint64_t digits, bool negative, int& length) {
  // The bit where the first digit begins; a zero keeps its last digit.
  const int first = __builtin_ctzll(digits | std::uint64_t(1) << 56) & ~7;
  const std::uint64_t lead = (std::uint64_t(1) << first) - 1;
  // '0' + digit, less 0x10 (making a blank of a 0) before the first digit,
  // plus 0x0d (making a minus of that blank) just before it.
  const std::uint64_t text = ((digits | zero_bytes) - (0x1010101010101010 & lead)) +
                             ((std::uint64_t(0x0d) << (first - 8)) & (0 - std::uint64_t(negative)));
  length = 8 - (first >> 3) + int(negative);
  return text;
}

// The right-aligned text word placed to end at dst + w (w from 1 to 16).
inline void store_right_aligned(char* dst, std::uint64_t text, int w) {
  if (w <= 8) {
    store_word(dst, text >> (8 * (8 - w)));
  } else {
    store_word(dst, blank_bytes);
    store_word(dst + w - 8, text);
  }
}

// The texts of 0 to 999 and then of -0 to -999, right-aligned in a word:
// most indexes are among them, and so are the whole parts of most values;
// a table look-up costs less than making the digits, and the minus sign
// comes with the text (a negative value that rounds to zero keeps it).
inline constexpr int small_integers = 1000;
inline constexpr auto small_integer_texts = [] {
  std::array<std::uint64_t, 2 * small_integers> texts{};
  for (int k = 0, length = 0; k < 2 * small_integers; ++k)
    texts[std::size_t(k)] = integer_text(digit_bytes(std::uint32_t(k % small_integers)), k >= small_integers, length);
  return texts;
}();

// The text of a magnitude below 1000, with a minus sign when asked for.
inline std::uint64_t small_integer_text(std::uint32_t magnitude, bool negative) {
  return small_integer_texts[magnitude + std::uint32_t(small_integers) * negative];
}

[[gnu::always_inline]] inline void put_integer_fixed(char* dst, std::int32_t v, int w) {
  // The magnitude without a branch: signs of indexes follow no pattern.
  const std::uint32_t sign = std::uint32_t(v >> 31);
  const std::uint32_t n = (std::uint32_t(v) ^ sign) - sign;
  if (n < std::uint32_t(small_integers) && w >= 4 && w <= 16)
    return store_right_aligned(dst, small_integer_text(n, v < 0), w);
  if (n < 10000000 && w <= 16) {
    int length;
    const std::uint64_t text = integer_text(digit_bytes(n), v < 0, length);
    if (length <= w) return store_right_aligned(dst, text, w);
  }
  put_integer(dst, v, w);
}

// The decimals 000 to 999 as three digits, the first in the lowest byte.
inline constexpr auto decimal_texts = [] {
  std::array<std::uint32_t, 1000> texts{};
  for (unsigned v = 0; v < 1000; ++v)
    texts[v] = ('0' + v / 100) | ('0' + v / 10 % 10) << 8 | ('0' + v % 10) << 16;
  return texts;
}();

[[gnu::always_inline]] inline void put_real_fixed(char* dst, float v, int w, int d) {
  static constexpr std::uint32_t powers[] = {1, 10, 100, 1000};
  // Most values have at most six digits, three decimals at most: their
  // texts come from the tables, a whole part of more than three digits in
  // two pieces.
  const int before_point = w - d - 1;
  if (d >= 1 && d <= 3 && before_point >= 4 && before_point <= 16) {
    const double scaled = std::fabs(double(v)) * powers[d];
    if (scaled < 999999.0) {  // false for NaN and infinities too
      const std::uint32_t n = std::uint32_t(_mm_cvtsd_si32(_mm_set_sd(scaled)));
      const std::uint32_t whole = over_power_of_ten(n, d);
      const std::uint32_t decimals = decimal_texts[n - whole * powers[d]] >> (8 * (3 - d));
      if (whole < std::uint32_t(small_integers) || before_point >= 7) {  // six digits and a sign
        if (whole < std::uint32_t(small_integers)) {
          store_right_aligned(dst, small_integer_text(whole, std::signbit(v)), before_point);
        } else {
          // The thousands' text three places to the left, the other three
          // digits after it with their zeros.
          const std::uint32_t thousands = over_power_of_ten(whole, 3);
          store_right_aligned(dst, small_integer_text(thousands, std::signbit(v)) >> 24 |
                                       std::uint64_t(decimal_texts[whole - 1000 * thousands]) << 40,
                              before_point);
        }
        dst[before_point] = '.';
        std::memcpy(dst + before_point + 1, &decimals, sizeof decimals);
        return;
      }
    }
  }
  // As put_real: |v| times 10^d is exact in a double for d <= 8, and is
  // rounded once to an integer, ties to even. Below 10^8 all its digits
  // fit one word: the last d are the decimals, and up to seven of them
  // leave the whole part a byte of the word at least.
  if (d >= 1 && d <= 7 && before_point >= 1 && before_point <= 16) {
    const double scaled = std::fabs(double(v)) * powers_of_ten[d];
    if (scaled < 99999999.0) {  // false for NaN and infinities too
      // Rounded in the processor's rounding mode: to nearest, ties to even.
      const std::uint64_t n = std::uint64_t(_mm_cvtsd_si64(_mm_set_sd(scaled)));
      const std::uint64_t digits = digit_bytes(std::uint32_t(n));
      int length;
      const std::uint64_t whole = integer_text(digits << (8 * d), std::signbit(v), length);
      if (length <= before_point) {
        store_right_aligned(dst, whole, before_point);
        dst[before_point] = '.';
        store_word(dst + before_point + 1, (digits | zero_bytes) >> (8 * (8 - d)));
        return;
      }
    }
  }
  put_real(dst, v, w, d);
}

}  // namespace detail
}  // namespace zeb
