// What the fuzz targets share: a property check that stops the run, input
// channels over memory, and plain reference versions of the text layer's
// conversions and of free-form input. The references are written for
// clarity, not speed, and take a different road from the code they check
// (strtof and printf rather than the layer's own digit loops).
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "engine.h"

#define FUZZ_CHECK(condition) \
  ((condition) ? void() : fuzz::property_failed(#condition, __FILE__, __LINE__))

namespace fuzz {

[[noreturn]] inline void property_failed(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, what);
  std::abort();
}

// A byte source: takes values off the front of the fuzzer's input.
struct bytes {
  const std::uint8_t* p;
  std::size_t n;
  std::uint8_t take() {
    if (n == 0) return 0;
    --n;
    return *p++;
  }
  std::uint32_t take32() {
    std::uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v = v << 8 | take();
    return v;
  }
  std::string_view rest() const { return std::string_view(reinterpret_cast<const char*>(p), n); }
};

// A copy of `text` in a heap block of exactly its size, so that a read one
// byte past its end is caught by AddressSanitizer.
struct exact_copy {
  char* p;
  std::size_t n;
  explicit exact_copy(std::string_view text) : p(static_cast<char*>(std::malloc(text.size() + !text.size()))), n(text.size()) {
    if (n) std::memcpy(p, text.data(), n);
  }
  ~exact_copy() { std::free(p); }
  exact_copy(const exact_copy&) = delete;
  exact_copy& operator=(const exact_copy&) = delete;
  std::string_view view() const { return std::string_view(p, n); }
};

// Input channels (two per process, chosen by `which`), each over an
// in-memory file that holds `text`.
inline zeb::channel& input_channel(std::string_view text, int which = 0) {
  static zeb::channel* const channels[2] = {new zeb::channel(), new zeb::channel()};
  static const int fds[2] = {memfd_create("fuzz input", 0), memfd_create("fuzz input 2", 0)};
  zeb::channel* const ch = channels[which];
  const int fd = fds[which];
  if (fd < 0 || ::ftruncate(fd, 0) != 0) std::abort();
  if (!text.empty() && ::pwrite(fd, text.data(), text.size(), 0) != ssize_t(text.size())) std::abort();
  ::lseek(fd, 0, SEEK_SET);
  ch->fd = fd;
  ch->writing = ch->at_end = ch->dropping = false;
  ch->sys_error = 0;
  ch->line = 0;
  ch->begin = ch->end = 0;
  ch->items_read = 0;
  ch->label = "fuzz input";
  ch->bad_kind = nullptr;
  return *ch;
}

// One output channel per process; `written` gives what it holds.
inline zeb::channel& output_channel() {
  static zeb::channel* ch = new zeb::channel();
  static const int fd = memfd_create("fuzz output", 0);
  if (fd < 0 || ::ftruncate(fd, 0) != 0) std::abort();
  ::lseek(fd, 0, SEEK_SET);
  ch->fd = fd;
  ch->writing = true;
  ch->end = 0;
  ch->line = 0;
  ch->label = "fuzz output";
  return *ch;
}

inline std::string written(zeb::channel& ch) {
  zeb::flush(ch);
  std::string s(std::size_t(::lseek(ch.fd, 0, SEEK_END)), '\0');
  if (!s.empty() && ::pread(ch.fd, s.data(), s.size(), 0) != ssize_t(s.size())) std::abort();
  return s;
}

// The records of a text as a channel gives them, whatever their length:
// lines without their line feed, a carriage return before a line feed or
// at the very end dropped, a last line without line feed still a record.
inline std::vector<std::string> records_of(std::string_view text) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t lf = text.find('\n', at);
    if (lf == std::string_view::npos) lf = text.size();
    std::string_view line = text.substr(at, lf - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out.emplace_back(line);
    at = lf + 1;
  }
  return out;
}

// Lines longer than the buffer from a short input: the byte 0xff, a count
// byte k and a character c stand for (k mod 8) + 1 times 4099 c (an odd
// length, so that tokens end all around the buffer's refills); at most
// 160 kilobytes in all.
inline std::string expand_runs(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) == 0xff && i + 2 < text.size() && out.size() < 160000) {
      out.append((static_cast<unsigned char>(text[i + 1]) % 8 + 1) * std::size_t(4099), text[i + 2]);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// Below 2^-126 a value counts as zero in every tool; NaNs are all alike.
inline bool same_float(float a, float b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  auto flushed = [](float x) { return std::fabs(x) < 0x1p-126f ? std::copysign(0.0f, x) : x; };
  a = flushed(a);
  b = flushed(b);
  return a == b && std::signbit(a) == std::signbit(b);
}

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

inline std::string without_blanks(std::string_view t) {
  std::string s;
  for (char c : t)
    if (c != ' ') s += c;
  return s;
}

// An integer field (blanks ignored) or token: optional sign, digits, in range.
inline bool ref_integer(std::string_view text, bool fixed_field, std::int32_t& out) {
  const std::string s = fixed_field ? without_blanks(text) : std::string(text);
  if (s.empty()) {
    if (!fixed_field) return false;
    out = 0;
    return true;
  }
  std::size_t i = s[0] == '+' || s[0] == '-' ? 1 : 0;
  if (i == s.size()) return false;
  for (std::size_t k = i; k < s.size(); ++k)
    if (!is_digit(s[k])) return false;
  while (i + 1 < s.size() && s[i] == '0') ++i;
  if (s.size() - i > 10) return false;
  long long v = std::strtoll(s.c_str() + i, nullptr, 10);
  if (s[0] == '-') v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  out = std::int32_t(v);
  return true;
}

inline bool equals_word(std::string_view s, const char* word) {
  if (s.size() != std::strlen(word)) return false;
  for (std::size_t i = 0; i < s.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[i])) != word[i]) return false;
  return true;
}

// A real field (blanks ignored, `implied` decimals when it has no point) or
// a free-form token: sign, digits with at most one point, an exponent (E or
// D and a signed integer, or just a sign and an integer), or the words
// Inf, Infinity and NaN.
inline bool ref_real(std::string_view text, bool fixed_field, int implied, float& out) {
  const std::string s = fixed_field ? without_blanks(text) : std::string(text);
  if (s.empty()) {
    if (!fixed_field) return false;
    out = 0.0f;
    return true;
  }
  const bool negative = s[0] == '-';
  std::size_t i = s[0] == '+' || s[0] == '-' ? 1 : 0;
  const std::string_view body = std::string_view(s).substr(i);
  if (equals_word(body, "inf") || equals_word(body, "infinity")) {
    out = negative ? -INFINITY : INFINITY;
    return true;
  }
  if (equals_word(body, "nan")) {
    out = NAN;
    return true;
  }
  // A free-form token also takes the C form nan(chars) (no plus sign).
  if (!fixed_field && s[0] != '+' && body.size() >= 5 && equals_word(body.substr(0, 4), "nan(") &&
      body.back() == ')') {
    bool plain = true;
    for (char c : body.substr(4, body.size() - 5))
      plain = plain && (std::isalnum(static_cast<unsigned char>(c)) || c == '_');
    if (plain) {
      out = NAN;
      return true;
    }
  }
  std::string number = negative ? "-" : "";
  bool point = false;
  int digits = 0;
  for (; i < s.size(); ++i) {
    if (is_digit(s[i])) {
      ++digits;
    } else if (s[i] == '.' && !point) {
      point = true;
    } else {
      break;
    }
    number += s[i];
  }
  if (digits == 0) return false;
  std::string exponent = "0";
  if (i < s.size()) {
    const char c = s[i];
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd') ++i;
    else if (c != '+' && c != '-') return false;
    std::string sign = "+";
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) sign = s[i++];
    if (i == s.size()) return false;
    exponent = sign;
    for (; i < s.size(); ++i) {
      if (!is_digit(s[i])) return false;
      exponent += s[i];
    }
  }
  // Implied decimals shift the exponent; the exponent text can be longer
  // than any integer type, so the shift is done on a value known to fit.
  long long e = 0;
  {
    std::size_t k = exponent[0] == '+' || exponent[0] == '-' ? 1 : 0;
    while (k + 1 < exponent.size() && exponent[k] == '0') ++k;
    e = exponent.size() - k > 9 ? 999999999LL : std::strtoll(exponent.c_str() + k, nullptr, 10);
    if (exponent[0] == '-') e = -e;
  }
  if (!point) e -= implied;
  number += "e" + std::to_string(e);
  out = std::strtof(number.c_str(), nullptr);
  return true;
}

// Iw output: the integer right-justified, asterisks when it does not fit.
inline std::string ref_integer_field(std::int32_t v, int w) {
  char b[32];
  const int n = std::snprintf(b, sizeof b, "%d", v);
  if (n > w) return std::string(std::size_t(w), '*');
  return std::string(std::size_t(w - n), ' ') + b;
}

// Fw.d output: printf's exact rounding of the stored value, the lone 0
// before the point dropped only when room is short.
inline std::string ref_real_field(float v, int w, int d) {
  auto justify = [w](const std::string& t) {
    if (int(t.size()) > w) return std::string(std::size_t(w), '*');
    return std::string(std::size_t(w) - t.size(), ' ') + t;
  };
  if (std::isnan(v)) return justify("NaN");
  if (std::isinf(v)) return justify(v < 0 ? "-Infinity" : "Infinity");
  const bool negative = std::signbit(v);
  static char b[512];
  std::snprintf(b, sizeof b, "%#.*f", d, std::fabs(double(v)));
  std::string t = b;
  if (t[0] == '0' && int(t.size()) + negative > w) t.erase(0, 1);
  return justify((negative ? "-" : "") + t);
}

// --- free-form input, as a plain model --------------------------------------

struct model_item {
  char kind;        // 'I', 'F' or 'A'
  std::size_t cap;  // A: the text field's capacity
  std::int32_t i = 0;
  float f = 0;
  std::string a;
};

inline bool is_separator(char c) { return c == ' ' || c == '\t' || c == ',' || c == ';' || c == '/'; }

inline void store_text(model_item& it, std::string_view token) {
  it.a = std::string(token.substr(0, it.cap));
  it.a.resize(it.cap, ' ');
}

// Reads records in turn as free-form statements do.
struct free_form_model {
  std::vector<std::string> records;
  std::size_t next_record = 0;

  bool take(std::string_view& rec) {
    if (next_record == records.size()) return false;
    rec = records[next_record++];
    return true;
  }

  // The outcome of one statement; `items_read` counts the items given a
  // value or a null.
  zeb::outcome read(std::vector<model_item>& items, int& items_read) {
    items_read = 0;
    std::string_view rec;
    if (!take(rec)) return zeb::outcome::end_of_file;
    const std::size_t count = items.size();
    if (count == 0) return zeb::outcome::done;
    std::size_t i = 0, next = 0;
    bool after_value = false;
    for (;;) {
      while (i < rec.size() && (rec[i] == ' ' || rec[i] == '\t')) ++i;
      if (i == rec.size()) {
        if (!take(rec)) return zeb::outcome::end_of_file;
        i = 0;
        continue;
      }
      const char c = rec[i];
      if (c == '/') return zeb::outcome::done;
      if (c == ',' || c == ';') {
        ++i;
        if (after_value) {
          after_value = false;
          continue;
        }
        items_read = int(++next);
        if (next == count) return zeb::outcome::done;
        continue;
      }
      std::size_t repeat = 1;
      std::size_t j = i;
      while (j < rec.size() && is_digit(rec[j])) ++j;
      if (j > i && j < rec.size() && rec[j] == '*') {
        std::int32_t r = 0;
        if (!ref_integer(rec.substr(i, j - i), false, r) || r < 1) return zeb::outcome::error;
        repeat = std::size_t(r);
        i = j + 1;
        if (i == rec.size() || is_separator(rec[i])) {
          next += std::min(repeat, count - next);
          items_read = int(next);
          after_value = true;
          if (next == count) return zeb::outcome::done;
          continue;
        }
      }
      std::string token;
      bool quoted = false;
      if (rec[i] == '\'' || rec[i] == '"') {
        const char quote = rec[i++];
        quoted = true;
        while (i < rec.size()) {
          if (rec[i] == quote) {
            if (i + 1 < rec.size() && rec[i + 1] == quote) {
              token += quote;
              i += 2;
              continue;
            }
            ++i;
            break;
          }
          token += rec[i++];
        }
      } else {
        j = i;
        while (j < rec.size() && !is_separator(rec[j])) ++j;
        token = std::string(rec.substr(i, j - i));
        i = j;
      }
      for (const std::size_t last = next + std::min(repeat, count - next); next < last; ++next) {
        model_item& it = items[next];
        bool ok = true;
        if (it.kind == 'A') store_text(it, token);
        else if (quoted) ok = false;
        else if (it.kind == 'I') ok = ref_integer(token, false, it.i);
        else ok = ref_real(token, false, 0, it.f);
        if (!ok) return zeb::outcome::error;
        items_read = int(next + 1);
      }
      after_value = true;
      if (next == count) return zeb::outcome::done;
    }
  }
};

// Items of the text layer bound to the storage of model items (texts in
// `texts`, which must hold the sum of the capacities).
inline std::vector<zeb::item> bind(std::vector<model_item>& m, std::vector<std::int32_t>& ints,
                                   std::vector<float>& floats, std::vector<char>& texts) {
  std::vector<zeb::item> out(m.size());
  ints.assign(m.size(), 0);
  floats.assign(m.size(), 0);
  std::size_t total = 0;
  for (const model_item& it : m) total += it.kind == 'A' ? it.cap : 0;
  texts.assign(total, ' ');
  std::size_t at = 0;
  for (std::size_t k = 0; k < m.size(); ++k) {
    out[k].kind = m[k].kind;
    if (m[k].kind == 'I') {
      ints[k] = m[k].i;
      out[k].i = &ints[k];
    } else if (m[k].kind == 'F') {
      floats[k] = m[k].f;
      out[k].f = &floats[k];
    } else {
      std::memcpy(texts.data() + at, m[k].a.data(), m[k].cap);
      out[k].a = {texts.data() + at, m[k].cap};
      at += m[k].cap;
    }
  }
  return out;
}

// True when the bound items hold what the model items hold; `except`: an
// item whose token could not be read, which may hold anything.
inline bool same_items(const std::vector<model_item>& m, const std::vector<zeb::item>& items,
                       std::size_t except = SIZE_MAX) {
  for (std::size_t k = 0; k < m.size(); ++k) {
    if (k == except) continue;
    if (m[k].kind == 'I' && *items[k].i != m[k].i) return false;
    if (m[k].kind == 'F' && !same_float(*items[k].f, m[k].f)) return false;
    if (m[k].kind == 'A' && std::string_view(items[k].a.p, items[k].a.n) != m[k].a) return false;
  }
  return true;
}

}  // namespace fuzz
