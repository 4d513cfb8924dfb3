// Edit forms: integers and reals to and from fixed fields and tokens.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "text.h"

namespace zeb {

namespace {

void stars(char* dst, int w) { std::memset(dst, '*', std::size_t(w)); }

// Right-justifies n characters of `text` in a field of w.
void right_justify(char* dst, int w, const char* text, int n) {
  if (n > w) return stars(dst, w);
  std::memset(dst, ' ', std::size_t(w - n));
  std::memcpy(dst + (w - n), text, std::size_t(n));
}

constexpr double powers_of_ten[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// Values too wide for the quick path: to_chars gives the exact digits.
void put_real_wide(char* dst, double magnitude, bool negative, int w, int d) {
  char digits[400];  // up to 39 integer digits and 40 decimals, with room to spare
  auto r = std::to_chars(digits, digits + sizeof digits, magnitude, std::chars_format::fixed, d);
  if (d == 0) *r.ptr++ = '.';  // to_chars leaves out the point that Fw.0 writes
  int len = int(r.ptr - digits);
  const char* text = digits;
  if (digits[0] == '0' && d > 0 && len + (negative ? 1 : 0) > w) {
    ++text;  // the lone 0 before the point
    --len;
  }
  if (len + (negative ? 1 : 0) > w) return stars(dst, w);
  char* p = dst;
  for (int i = len + (negative ? 1 : 0); i < w; ++i) *p++ = ' ';
  if (negative) *p++ = '-';
  std::memcpy(p, text, std::size_t(len));
}

}  // namespace

void put_integer(char* dst, std::int32_t v, int w) {
  // Right to left: digits, sign, blanks.
  std::uint32_t n = v < 0 ? 0u - std::uint32_t(v) : std::uint32_t(v);
  char* p = dst + w;
  do {
    if (p == dst) return stars(dst, w);
    *--p = char('0' + n % 10);
    n /= 10;
  } while (n > 0);
  if (v < 0) {
    if (p == dst) return stars(dst, w);
    *--p = '-';
  }
  while (p > dst) *--p = ' ';
}

void put_real(char* dst, float v, int w, int d) {
  if (std::isnan(v)) return right_justify(dst, w, "NaN", 3);
  const bool negative = std::signbit(v);
  if (std::isinf(v)) {
    return negative ? right_justify(dst, w, "-Infinity", 9) : right_justify(dst, w, "Infinity", 8);
  }
  // |v| to exactly d decimals, rounded to nearest with ties to even. A
  // float times 10^d (d <= 8) is exact in a double, so one rounding gives
  // the exact result; other cases go through to_chars, exact as well.
  const double magnitude = std::fabs(double(v));
  const double scaled = magnitude * powers_of_ten[d < 9 ? d : 0];
  if (d > 8 || scaled >= 0x1p52) return put_real_wide(dst, magnitude, negative, w, d);
  // Adding and taking away 2^52 rounds to an integer in the current
  // rounding mode: to nearest, ties to even.
  std::uint64_t n = std::uint64_t((scaled + 0x1p52) - 0x1p52);
  // Right to left: decimals, point, integer digits, sign, blanks.
  char* p = dst + w;
  for (int i = 0; i < d; ++i, n /= 10) {
    if (p == dst) return stars(dst, w);
    *--p = char('0' + n % 10);
  }
  if (p == dst) return stars(dst, w);
  *--p = '.';
  if (n == 0) {
    if (p - dst > (negative ? 1 : 0)) *--p = '0';  // the lone 0 goes first when room is short
  } else {
    // Two digits at a time halves the chain of divisions.
    static constexpr char pairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    for (; n >= 10; n /= 100) {
      if (p - dst < 2) return stars(dst, w);
      const unsigned k = unsigned(n % 100) * 2;
      p -= 2;
      p[0] = pairs[k];
      p[1] = pairs[k + 1];
    }
    if (n > 0) {
      if (p == dst) return stars(dst, w);
      *--p = char('0' + n);
    }
  }
  if (negative) {
    if (p == dst) return stars(dst, w);
    *--p = '-';
  }
  while (p > dst) *--p = ' ';
}

namespace {

// Drops blanks when a fixed field ignores them; `scratch` must hold the text.
std::string_view without_blanks(std::string_view text, bool blanks_ignored, char* scratch) {
  if (!blanks_ignored || text.find(' ') == std::string_view::npos) return text;
  std::size_t n = 0;
  for (char c : text)
    if (c != ' ') scratch[n++] = c;
  return std::string_view(scratch, n);
}

bool equals_word(std::string_view s, const char* word) {
  const std::size_t n = std::strlen(word);
  if (s.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i)
    if ((s[i] | 0x20) != word[i]) return false;
  return true;
}

// Room for the longest token the buffer holds (longer ones are reduced
// first) and a few characters more.
char scratch_text[buffer_size + 64];
char scratch_number[buffer_size + 64];

}  // namespace

const char* scan_plain_decimal(const char* p, const char* end, plain_decimal& out) {
  out.minus = p < end && *p == '-';
  p += out.minus;
  const char* const first = p;
  const char* point = nullptr;
  std::uint64_t mantissa = 0;  // wraps past 19 digits; `digits` tells
  for (unsigned c; p < end && (c = unsigned(*p) - '0') < 10; ++p) mantissa = mantissa * 10 + c;
  if (p < end && *p == '.') {
    point = p++;
    for (unsigned c; p < end && (c = unsigned(*p) - '0') < 10; ++p) mantissa = mantissa * 10 + c;
  }
  out.mantissa = mantissa;
  out.point = point != nullptr;
  out.digits = int(p - first) - out.point;
  out.decimals = point ? int(p - point) - 1 : 0;
  return p;
}

bool plain_to_integer(const plain_decimal& d, std::int32_t& out) {
  if (d.point || d.digits == 0 || d.digits > 10) return false;
  if (d.mantissa > std::uint64_t(INT32_MAX) + d.minus) return false;
  out = std::int32_t(d.minus ? -std::int64_t(d.mantissa) : std::int64_t(d.mantissa));
  return true;
}

bool plain_to_real(const plain_decimal& d, float& out) {
  // At most 15 digits and 22 decimals: the mantissa is an exact double.
  // Multiplied by the nearest double to 10^-d it lands within a few units
  // of the double's last place of the exact quotient; away from a midpoint
  // between two floats, both round to the same float. Near one, the exact
  // power of ten divides instead: one correctly rounded double, which
  // rounds to float correctly unless it is the midpoint itself.
  if (d.digits == 0 || d.digits > 15 || d.decimals > 22) return false;
  static constexpr double tens[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                    1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  static constexpr double tenths[] = {1e0,   1e-1,  1e-2,  1e-3,  1e-4,  1e-5,  1e-6,  1e-7,
                                      1e-8,  1e-9,  1e-10, 1e-11, 1e-12, 1e-13, 1e-14, 1e-15,
                                      1e-16, 1e-17, 1e-18, 1e-19, 1e-20, 1e-21, 1e-22};
  constexpr std::uint64_t float_ulp_bits = 0x1fffffff;  // the double's bits below a float's last place
  constexpr std::uint64_t midpoint = 0x10000000;
  double x = double(d.mantissa) * tenths[d.decimals];
  std::uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  if ((bits & float_ulp_bits) - (midpoint - 8) <= 16) {
    x = double(d.mantissa) / tens[d.decimals];
    std::memcpy(&bits, &x, sizeof bits);
    if ((bits & float_ulp_bits) == midpoint) return false;
  }
  if (x != 0 && x < 1e-37) return false;  // near and below the smallest normal float
  out = d.minus ? -float(x) : float(x);
  return true;
}

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

namespace detail {

const char* quick_real_wide(const char* p, bool minus, float& out) {
  // The buffer's data end with a NUL, so the scan stops in them.
  plain_decimal d{minus, false, 0, 0, 0};
  for (; is_digit(*p); ++p, ++d.digits) d.mantissa = d.mantissa * 10 + unsigned(*p - '0');
  if (*p == '.') {
    d.point = true;
    for (++p; is_digit(*p); ++p, ++d.digits, ++d.decimals) d.mantissa = d.mantissa * 10 + unsigned(*p - '0');
  }
  return plain_to_real(d, out) ? p : nullptr;
}

}  // namespace detail

bool get_integer(std::string_view text, bool blanks_ignored, std::int32_t& out) {
  const std::string_view s = without_blanks(text, blanks_ignored, scratch_text);
  if (s.empty()) {
    if (!blanks_ignored) return false;
    out = 0;  // an all-blank field
    return true;
  }
  std::size_t i = 0;
  const bool negative = s[0] == '-';
  if (s[0] == '+' || s[0] == '-') ++i;
  if (i == s.size()) return false;
  std::int64_t v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
    if (v > std::int64_t(INT32_MAX) + 1) return false;
  }
  if (negative) v = -v;
  if (v > INT32_MAX) return false;
  out = std::int32_t(v);
  return true;
}

bool get_real(std::string_view text, bool blanks_ignored, int implied_decimals, float& out) {
  if (!blanks_ignored && implied_decimals == 0) {
    plain_decimal d;
    if (scan_plain_decimal(text.data(), text.data() + text.size(), d) == text.data() + text.size() &&
        plain_to_real(d, out))
      return true;
  }
  // Other plain decimals from_chars takes whole.
  if (!blanks_ignored && implied_decimals == 0 && !text.empty()) {
    const auto r = std::from_chars(text.data(), text.data() + text.size(), out);
    if (r.ec == std::errc() && r.ptr == text.data() + text.size()) return true;
  }
  const std::string_view s = without_blanks(text, blanks_ignored, scratch_text);
  if (s.empty()) {
    if (!blanks_ignored) return false;
    out = 0.0f;
    return true;
  }
  std::size_t i = 0;
  const bool negative = s[0] == '-';
  if (s[0] == '+' || s[0] == '-') ++i;
  const std::string_view body = s.substr(i);
  if (equals_word(body, "infinity") || equals_word(body, "inf")) {
    out = negative ? -INFINITY : INFINITY;
    return true;
  }
  if (equals_word(body, "nan")) {
    out = negative ? -NAN : NAN;
    return true;
  }
  // Reduce to sign, mantissa and decimal exponent, then convert once.
  const std::size_t mantissa_begin = i;
  bool point = false;
  int digits = 0;
  for (; i < s.size(); ++i) {
    if (s[i] >= '0' && s[i] <= '9') {
      ++digits;
    } else if (s[i] == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  const std::size_t mantissa_end = i;
  std::int64_t exponent = 0;
  bool plain = s[0] != '+' && (point || implied_decimals == 0);  // from_chars takes it as it is
  if (i < s.size()) {
    const char c = s[i];
    plain = plain && (c == 'E' || c == 'e');
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd') ++i;
    else if (c != '+' && c != '-') return false;
    bool exponent_negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) exponent_negative = s[i++] == '-';
    if (i == s.size()) return false;
    for (; i < s.size(); ++i) {
      if (s[i] < '0' || s[i] > '9') return false;
      if (exponent < 100000) exponent = exponent * 10 + (s[i] - '0');
    }
    if (exponent_negative) exponent = -exponent;
  }
  if (!point) exponent -= implied_decimals;

  float v;
  if (plain) {
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec == std::errc() && r.ptr == s.data() + s.size()) {
      out = v;
      return true;
    }
  }

  char* p = scratch_number;
  if (negative) *p++ = '-';
  const std::size_t n = mantissa_end - mantissa_begin;
  std::memcpy(p, s.data() + mantissa_begin, n);
  p += n;
  *p++ = 'e';
  p = std::to_chars(p, p + 16, exponent).ptr;
  *p = 0;
  const auto r = std::from_chars(scratch_number, p, v);
  if (r.ec == std::errc::result_out_of_range) {
    v = std::strtof(scratch_number, nullptr);  // overflow gives infinity, underflow zero
  } else if (r.ec != std::errc() || r.ptr != p) {
    return false;
  }
  out = v;
  return true;
}

}  // namespace zeb
