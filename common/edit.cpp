// Edit forms: integers and reals to and from fixed fields and tokens.
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

constexpr std::uint64_t powers_of_ten[] = {1,      10,      100,      1000,      10000,
                                           100000, 1000000, 10000000, 100000000};

}  // namespace

void put_integer(char* dst, std::int32_t v, int w) {
  char digits[16];
  const auto r = std::to_chars(digits, digits + sizeof digits, v);
  right_justify(dst, w, digits, int(r.ptr - digits));
}

void put_real(char* dst, float v, int w, int d) {
  if (std::isnan(v)) return right_justify(dst, w, "NaN", 3);
  const bool negative = std::signbit(v);
  if (std::isinf(v)) {
    return negative ? right_justify(dst, w, "-Infinity", 9) : right_justify(dst, w, "Infinity", 8);
  }
  // The integer part and exactly d decimals of |v|, rounded to nearest with
  // ties to even. A float times 10^d (d <= 8) is exact in a double, so one
  // rounding gives the exact result; wider cases go through to_chars.
  char digits[80];
  char* int_begin = digits;
  char* int_end;
  char* frac_begin;
  const double magnitude = std::fabs(double(v));
  char big[400];
  if (d <= 8 && magnitude < 1e9) {
    const std::uint64_t scaled = std::uint64_t(std::nearbyint(magnitude * double(powers_of_ten[d])));
    int_end = std::to_chars(digits, digits + 24, scaled / powers_of_ten[d]).ptr;
    frac_begin = int_end;
    std::uint64_t frac = scaled % powers_of_ten[d];
    for (int i = d - 1; i >= 0; --i) {
      frac_begin[i] = char('0' + frac % 10);
      frac /= 10;
    }
  } else {
    // At most 39 integer digits and 40 decimals: fits `big`.
    const auto r = std::to_chars(big, big + sizeof big, magnitude, std::chars_format::fixed, d);
    int_begin = big;
    int_end = d > 0 ? r.ptr - d - 1 : r.ptr;
    frac_begin = int_end + (d > 0 ? 1 : 0);
  }
  int int_len = int(int_end - int_begin);
  const bool zero_int = int_len == 1 && *int_begin == '0';
  int len = (negative ? 1 : 0) + int_len + 1 + d;
  if (zero_int && len > w) {
    --len;  // the lone 0 before the point is the first thing to go
    int_len = 0;
  }
  if (len > w) return stars(dst, w);
  char* p = dst;
  std::memset(p, ' ', std::size_t(w - len));
  p += w - len;
  if (negative) *p++ = '-';
  std::memcpy(p, int_end - int_len, std::size_t(int_len));
  p += int_len;
  *p++ = '.';
  std::memcpy(p, frac_begin, std::size_t(d));
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

// Room for the longest record and a few characters more.
char scratch_text[record_limit + 64];
char scratch_number[record_limit + 64];

}  // namespace

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
