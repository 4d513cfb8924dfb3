// Quick forms of the edits, for the records that the rotation tools pass
// by the million: Iw and Fw.d output fields of a fixed layout, and plain
// numbers of free-form input. Digits are made and read eight at a time in
// a 64-bit word, with no loop and no branch on the number of digits:
// token lengths vary from record to record, and branches on them are
// mispredicted. Whatever the quick forms do not take goes to the general
// edits, which give the same result.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <emmintrin.h>
#include <array>

#include "record_template.h"

namespace zeb {

void put_integer(char* dst, std::int32_t v, int w);
void put_real(char* dst, float v, int w, int d);

namespace detail {

// --- output --------------------------------------------------------------
//
// Each field is stored with whole words that may run up to 15 bytes past
// its end; fields are written from left to right, so the next field, or
// the buffer's slack after the record, takes the overrun. Values that do
// not fit the quick form take put_integer and put_real, which write
// exactly the field.

inline void store_word(char* dst, std::uint64_t word) { std::memcpy(dst, &word, sizeof word); }

inline constexpr std::uint64_t blank_bytes = 0x2020202020202020;
inline constexpr std::uint64_t zero_bytes = 0x3030303030303030;

// n / 10^d (d from 0 to 4) by a multiplication, exact for every n. The
// compiler can leave a division where the divisor is a constant it learns
// late, or where it thinks the code is cold, as in a tool's main.
inline std::uint32_t over_power_of_ten(std::uint32_t n, int d) {
  static constexpr std::uint64_t factors[] = {1, 0xcccccccd, 0x51eb851f, 0x10624dd3, 0xd1b71759};
  static constexpr int shifts[] = {0, 35, 37, 38, 45};
  return std::uint32_t((n * factors[d]) >> shifts[d]);
}

// The eight decimal digits of n < 10^8, one digit value (0 to 9) per byte,
// the first digit in the lowest byte (which is the first in memory).
inline std::uint64_t digit_bytes(std::uint32_t n) {
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
inline std::uint64_t integer_text(std::uint64_t digits, bool negative, int& length) {
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
  for (int k = 0; k < 2 * small_integers; ++k) {
    std::uint64_t text = blank_bytes;
    int n = k % small_integers;
    int at = 7;
    do {
      text = (text & ~(std::uint64_t(0xff) << (8 * at))) | std::uint64_t('0' + n % 10) << (8 * at);
      n /= 10;
      --at;
    } while (n > 0);
    if (k >= small_integers) text = (text & ~(std::uint64_t(0xff) << (8 * at))) | std::uint64_t('-') << (8 * at);
    texts[std::size_t(k)] = text;
  }
  return texts;
}();

// The text of a magnitude below 1000, with a minus sign when asked for.
inline std::uint64_t small_integer_text(std::uint32_t magnitude, bool negative) {
  return small_integer_texts[magnitude + std::uint32_t(small_integers) * negative];
}

inline void put_integer_fixed(char* dst, std::int32_t v, int w) {
  const std::uint32_t n = v < 0 ? 0u - std::uint32_t(v) : std::uint32_t(v);
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

inline void put_real_fixed(char* dst, float v, int w, int d) {
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
  static constexpr double tens[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
  if (d >= 1 && d <= 7 && before_point >= 1 && before_point <= 16) {
    const double scaled = std::fabs(double(v)) * tens[d];
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

// --- input ---------------------------------------------------------------
//
// A plain number, [-]digits[.digits], at p in an input buffer whose data
// end with a NUL and are followed by at least 16 readable bytes. Each
// gives where the number ends, or null when it is not one that the quick
// path takes: more digits than a word holds, a point in an integer, a
// value the exact conversions leave to get_real, no digit at all. What
// follows the number is the caller's to check.

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
  return non_digit_bits ? unsigned(__builtin_ctzll(non_digit_bits)) : 64;
}

// The value of the first n digits (n from 1 to 8) of a word of digit values.
inline std::uint32_t digits_value(std::uint64_t digit_values, unsigned n) {
  std::uint64_t v = digit_values << (64 - 8 * n);  // the n digits last, zeros before them
  v = v * 10 + (v >> 8);
  v = (((v & 0x000000ff000000ff) * (100 + (1000000ull << 32))) +
       (((v >> 16) & 0x000000ff000000ff) * (1 + (10000ull << 32)))) >> 32;
  return std::uint32_t(v);
}

// The same for the first n digits (n from 1 to 4) of four digit values.
inline std::uint32_t short_digits_value(std::uint32_t digit_values, unsigned n) {
  std::uint32_t v = digit_values << (32 - 8 * n);  // the n digits last, zeros before them
  v = v * 10 + (v >> 8);                           // two digits in the first and the third byte
  return (v & 0xff) * 100 + (v >> 16 & 0xff);
}

[[gnu::always_inline]] inline const char* quick_number(const char* p, std::int32_t& out) {
  const bool minus = *p == '-';
  p += minus;
  const std::uint64_t x = load_word(p) ^ zero_bytes;
  const unsigned whole = first_non_digit(non_digits(x)) >> 3;
  // A point or a ninth digit after the digits is turned away by the
  // caller's check of what follows the number.
  if (whole == 0) return nullptr;
  // Indexes have a few digits: four of them take half the work of eight.
  const std::int32_t v = std::int32_t(whole <= 4 ? short_digits_value(std::uint32_t(x), whole)
                                                 : digits_value(x, whole));
  out = minus ? -v : v;
  return p + whole;
}

// A plain number with more digits than a word holds.
const char* quick_real_wide(const char* p, bool minus, float& out);

// The real of a mantissa of up to eight digits over 10^decimals (up to 8);
// false when the exact conversion must decide.
[[gnu::always_inline]] inline bool real_of(std::uint32_t mantissa, unsigned decimals, bool minus, float& out) {
  static constexpr double tenths[] = {1e0, 1e-1, 1e-2, 1e-3, 1e-4, 1e-5, 1e-6, 1e-7, 1e-8};
  // The mantissa times the double nearest 10^-d lies within a few units of
  // the double's last place of the exact value; away from a midpoint
  // between two floats both round to the same float. Below 2^24 (seven
  // digits and some of eight) the mantissa over a power of ten up to 10^8
  // is never a midpoint, nor nearer to one than the product's error.
  const double scaled = double(mantissa) * tenths[decimals];
  std::uint64_t bits;
  std::memcpy(&bits, &scaled, sizeof bits);
  if (mantissa >= 1u << 24 && (bits & 0x1fffffff) - (0x10000000 - 8) <= 16) return false;
  const float v = float(scaled);
  out = minus ? -v : v;
  return true;
}

[[gnu::always_inline]] inline const char* quick_number(const char* p, float& out) {
  const bool minus = *p == '-';
  p += minus;
  const std::uint64_t x = load_word(p) ^ zero_bytes;
  const unsigned whole = first_non_digit(non_digits(x)) >> 3;
  std::uint64_t digits = x;
  unsigned count = whole;
  const char* end = p + whole;
  if (*end == '.') {
    if (whole == 8) return quick_real_wide(p, minus, out);
    // The digits after the point, loaded one byte on, take the place of
    // the point and what follows it: one word of all the digits.
    const std::uint64_t y = load_word(p + 1) ^ zero_bytes;
    const std::uint64_t before = (std::uint64_t(1) << (8 * whole)) - 1;
    count = first_non_digit(non_digits(y) & ~before) >> 3;
    digits = (x & before) | (y & ~before);
    end = p + 1 + count;
  }
  // No digit, or a word full of them that more may follow: one test for
  // both, as neither is common.
  if (count - 1 >= 7) {
    if (count == 0) return nullptr;
    if (is_digit(*end)) return quick_real_wide(p, minus, out);
  }
  if (!real_of(digits_value(digits, count), count - whole, minus, out)) return quick_real_wide(p, minus, out);
  return end;
}

// What may follow the number of an item: a blank or a tab, or for the
// last item the end of the line.
inline bool item_ends(const char* p, bool last) {
  const char c = *p;
  return c == ' ' || c == '\t' || (last && (c == '\n' || (c == '\r' && p[1] == '\n')));
}

// The first line of a record, as the quick path sees it: where its tokens
// begin (bit i set when byte i is not a blank or a tab and follows one, or
// is the first), among the bytes before its line feed, which must be in
// the first 64 buffered ones. Knowing where the tokens begin and the line
// ends before any number is read, the processor reads the numbers side by
// side, and the next record's as well, instead of each waiting for the one
// before.
struct quick_line {
  std::uint64_t starts = 0;
  unsigned length = 64;  // bytes before the line feed; 64: none found
};

inline quick_line scan_line(const char* p, std::size_t buffered) {
  const __m128i blank = _mm_set1_epi8(' ');
  const __m128i tab = _mm_set1_epi8('\t');
  const __m128i lf = _mm_set1_epi8('\n');
  std::uint64_t blanks = 0, ends = 0;
  auto scan = [&](int k) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    const __m128i b = _mm_or_si128(_mm_cmpeq_epi8(v, blank), _mm_cmpeq_epi8(v, tab));
    blanks |= std::uint64_t(unsigned(_mm_movemask_epi8(b))) << (16 * k);
    ends |= std::uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)))) << (16 * k);
  };
  // Most records end within 32 bytes: the second half is looked at only
  // when they do not.
  scan(0);
  scan(1);
  if ((ends & 0xffffffff) == 0) {
    scan(2);
    scan(3);
  }
  if (buffered < 64) ends &= (std::uint64_t(1) << buffered) - 1;  // bytes past the data are stale
  quick_line line;
  if (ends == 0) return line;
  line.length = unsigned(__builtin_ctzll(ends));
  line.starts = ~blanks & (blanks << 1 | 1) & ((std::uint64_t(1) << line.length) - 1);
  return line;
}

// The item whose token begins at the lowest of line.starts, which it takes
// off. False when there is none, or the token is not a number that the
// quick path takes, whole.
// The item is given its value only when the token is that number whole
// (2*3 is not 2): then the general engine would give it the same.
template <typename T>
[[gnu::always_inline]] inline bool quick_item(const char* p, quick_line& line, T& out, bool last) {
  if (line.starts == 0) return false;
  T v;
  const char* end = quick_number(p + __builtin_ctzll(line.starts), v);
  line.starts &= line.starts - 1;
  if (!end || !item_ends(end, last)) return false;
  out = v;
  return true;
}

// Whether the processor has what the vector path of free-form input
// (read_vector_numbers) needs: -1 until asked. Asking costs microseconds
// where the processor is virtual, so it is only asked from a channel's
// vector_numbers_from-th record on: a tool that reads a few answers never
// asks. Tests set the state to 0 to reach the word-by-word path, and the
// record to 0 to reach the vector one at once.
inline int vector_numbers_state = -1;
inline std::int64_t vector_numbers_from = 64;
bool find_vector_numbers();
inline bool vector_numbers_usable(std::int64_t records_read) {
  if (records_read < vector_numbers_from) return false;
  return vector_numbers_state < 0 ? find_vector_numbers() : vector_numbers_state != 0;
}

// The same one item after another, for a line whose end is further off:
// blanks or tabs, the number and what may follow it. Gives where the
// number ends; null when the item is not one the quick path takes.
template <typename T>
const char* next_item(const char* p, T& out, bool last) {
  while (*p == ' ' || *p == '\t') ++p;
  T v;
  p = quick_number(p, v);
  if (!p || !item_ends(p, last)) return nullptr;
  out = v;
  return p;
}

}  // namespace detail
}  // namespace zeb
