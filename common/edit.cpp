// Edit forms: integers and reals to and from fixed fields and tokens.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine.h"

namespace zeb {

namespace {

void stars(char* dst, int w) { std::memset(dst, '*', std::size_t(w)); }

// Right-justifies `text` in a field of w.
void right_justify(char* dst, int w, std::string_view text) {
  const int n = int(text.size());
  if (n > w) return stars(dst, w);
  std::memset(dst, ' ', std::size_t(w - n));
  std::memcpy(dst + (w - n), text.data(), text.size());
}

// Values too wide for the quick path: to_chars gives the exact digits.
void put_real_wide(char* dst, double magnitude, bool negative, int w, int d) {
  char text[400];  // a sign, up to 39 integer digits and 40 decimals, with room to spare
  char* start = text + 1;
  char* end = std::to_chars(start, std::end(text), magnitude, std::chars_format::fixed, d).ptr;
  if (d == 0) *end++ = '.';  // to_chars leaves out the point that Fw.0 writes
  if (*start == '0' && d > 0 && end - start + negative > w) ++start;  // the lone 0 before the point
  if (negative) *--start = '-';
  right_justify(dst, w, std::string_view(start, std::size_t(end - start)));
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
  if (std::isnan(v)) return right_justify(dst, w, "NaN");
  const bool negative = std::signbit(v);
  if (std::isinf(v)) return right_justify(dst, w, negative ? "-Infinity" : "Infinity");
  // |v| to exactly d decimals, rounded to nearest with ties to even. A
  // float times 10^d (d <= 8) is exact in a double, so one rounding gives
  // the exact result; other cases go through to_chars, exact as well.
  const double magnitude = std::fabs(double(v));
  const double scaled = magnitude * detail::powers_of_ten[d < 9 ? d : 0];
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
    if (p - dst > negative) *--p = '0';  // the lone 0 goes first when room is short
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

bool get_integer(std::string_view text, bool blanks_ignored, std::int32_t& out) {
  std::string_view s = without_blanks(text, blanks_ignored, scratch_text);
  if (s.empty() && blanks_ignored) {
    out = 0;  // an all-blank field
    return true;
  }
  // from_chars takes no plus sign (and "+-1" stays refused).
  if (s.size() > 1 && s[0] == '+' && s[1] != '-') s.remove_prefix(1);
  const char* const end = s.data() + s.size();
  std::int32_t v;  // an error leaves out as it was
  const auto r = std::from_chars(s.data(), end, v);
  if (s.empty() || r.ec != std::errc() || r.ptr != end) return false;
  out = v;
  return true;
}

bool get_real(std::string_view text, bool blanks_ignored, int implied_decimals, float& out) {
  if (!blanks_ignored && implied_decimals == 0 && !text.empty()) {
    const char* const end = text.data() + text.size();
    plain_decimal d;
    if (scan_plain_decimal(text.data(), end, d) == end && plain_to_real(d, out)) return true;
    // Other plain decimals from_chars takes whole.
    const auto r = std::from_chars(text.data(), end, out);
    if (r.ec == std::errc() && r.ptr == end) return true;
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
