// The record engines: templated writes and reads, and free-form input.
#include <algorithm>
#include <cstring>

#include "input.h"
#include "text.h"

namespace zeb {

namespace {

// Where a record is written: a channel's buffer or an internal record.
struct sink {
  channel* ch;  // null for an internal record
  char* p;
  char* end;
};

// Room for n more characters (n at most a buffer's size).
char* reserve(sink& s, std::size_t n) {
  if (std::size_t(s.end - s.p) >= n) return s.p;
  if (!s.ch) fail("internal record", "a record template writes past the end of its field");
  s.ch->end = std::uint32_t(s.p - s.ch->buf);
  flush(*s.ch);
  s.p = s.ch->buf;
  return s.p;
}

void put_chars(sink& s, const char* text, std::size_t n) {
  while (n > 0) {
    const std::size_t k = std::min(n, std::size_t(buffer_size));
    std::memcpy(reserve(s, k), text, k);
    s.p += k;
    text += k;
    n -= k;
  }
}

void put_blanks(sink& s, std::size_t n) {
  while (n > 0) {
    const std::size_t k = std::min(n, std::size_t(buffer_size));
    std::memset(reserve(s, k), ' ', k);
    s.p += k;
    n -= k;
  }
}

void put_literal(sink& s, const template_item& it) {
  const std::string_view t = it.literal;
  std::size_t from = 0;
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (t[i] == it.quote) {  // the first of a doubled quote is written, the second skipped
      put_chars(s, t.data() + from, i + 1 - from);
      from = ++i + 1;
    }
  }
  put_chars(s, t.data() + from, t.size() - from);
}

// The fields of one record, without its end.
void write_fields(sink& s, const record_program& p, const value* values, int count) {
  template_cursor cursor(p);
  template_item it;
  int next = 0;
  while (cursor.next(it)) {
    switch (it.kind) {
      case op_kind::literal:
        put_literal(s, it);
        continue;
      case op_kind::skip:
        put_blanks(s, std::size_t(it.width));
        continue;
      default:
        break;
    }
    if (next == count) return;  // the record ends at the first field without a value
    const value& v = values[next++];
    const int w = it.width;
    if (it.kind == op_kind::integer) {
      put_integer(reserve(s, std::size_t(w)), v.i, w);
      s.p += w;
    } else if (it.kind == op_kind::real) {
      put_real(reserve(s, std::size_t(w)), v.f, w, it.decimals);
      s.p += w;
    } else if (w == 0) {
      put_chars(s, v.a.p, v.a.n);
    } else if (std::size_t(w) <= v.a.n) {
      put_chars(s, v.a.p, std::size_t(w));
    } else {
      put_blanks(s, std::size_t(w) - v.a.n);
      put_chars(s, v.a.p, v.a.n);
    }
  }
}

// Where a templated read takes its columns from: an internal record, or
// the current record of a channel, refilled as the fields move along it.
struct column_source {
  channel* ch;  // null for an internal record
  cursor c;
  bool failed = false;  // a read of the channel failed
};

// The next w columns (w at most 9999), fewer where the record ends.
std::string_view take_columns(column_source& s, std::size_t w) {
  while (std::size_t(s.c.stop - s.c.p) < w && !s.c.whole) {
    if (!read_more(*s.ch, s.c)) {
      s.failed = true;
      break;
    }
  }
  const std::size_t n = std::min(w, std::size_t(s.c.stop - s.c.p));
  const std::string_view v(s.c.p, n);
  s.c.p += n;
  return v;
}

void skip_columns(column_source& s, std::size_t n) {
  while (n > 0 && !s.failed) {
    n -= take_columns(s, std::min<std::size_t>(n, 4096)).size();
    if (s.c.p == s.c.stop && s.c.whole) return;  // columns past the end
  }
}

void note_bad(channel* ch, std::string_view text, const char* kind) {
  if (!ch) return;
  const std::size_t n = std::min(text.size(), sizeof ch->bad_text - 1);
  if (n > 0) std::memcpy(ch->bad_text, text.data(), n);
  ch->bad_text[n] = 0;
  ch->bad_kind = kind;
}

// Stores text into a text item: left-justified, cut or padded with blanks.
void store_text(const item& it, std::string_view text) {
  const std::size_t n = std::min(text.size(), it.a.n);
  if (n > 0) std::memcpy(it.a.p, text.data(), n);
  std::memset(it.a.p + n, ' ', it.a.n - n);
}

// The next n columns into a text item, left-justified; columns past the
// record's end, and the rest of the item, are blanks.
void copy_columns(column_source& s, const item& it, std::size_t n) {
  std::size_t at = 0;
  while (at < n && !s.failed) {
    const std::string_view v = take_columns(s, std::min<std::size_t>(n - at, 4096));
    if (v.empty()) break;
    std::memcpy(it.a.p + at, v.data(), v.size());
    at += v.size();
  }
  std::memset(it.a.p + at, ' ', it.a.n - at);
}

outcome read_fields(column_source& s, const record_program& p, item* items, int count) {
  template_cursor cursor(p);
  template_item it;
  int next = 0;
  while (next < count && cursor.next(it)) {
    if (it.kind == op_kind::skip) {
      skip_columns(s, std::size_t(it.width));
      continue;
    }
    if (it.kind == op_kind::literal) continue;
    const item& target = items[next];
    if (it.kind == op_kind::text) {
      const std::size_t cap = target.a.n;
      const std::size_t w = it.width ? std::size_t(it.width) : cap;
      if (w < cap) {
        copy_columns(s, target, w);
      } else {
        // The rightmost cap of the w columns; missing columns are blanks.
        skip_columns(s, w - cap);
        copy_columns(s, target, cap);
      }
    } else {
      const std::string_view field = take_columns(s, std::size_t(it.width));
      if (s.failed) break;
      const bool ok = it.kind == op_kind::integer
                          ? get_integer(field, true, *target.i)
                          : get_real(field, true, it.decimals, *target.f);
      if (!ok) {
        note_bad(s.ch, field, it.kind == op_kind::integer ? "an integer" : "a real");
        return outcome::error;
      }
    }
    if (s.failed) break;
    ++next;
    if (s.ch) s.ch->items_read = next;
  }
  return s.failed ? outcome::error : outcome::done;
}

// Characters that end a free-form token (blank, tab, comma, semicolon,
// slash).
struct char_table {
  bool separator[256] = {};
  constexpr char_table() {
    for (unsigned char c : {' ', '\t', ',', ';', '/'}) separator[c] = true;
  }
};
constexpr char_table chars;

bool is_separator(char c) { return chars.separator[static_cast<unsigned char>(c)]; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

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
    if (c.p < c.stop || c.whole) break;
    // The buffered bytes end inside the token: keep them and read on; a
    // token that fills the buffer keeps its head and passes the rest.
    if (!tk.long_one && tk.t == ch.buf && ch.end == std::uint32_t(buffer_size)) {
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
    if (!read_more(ch, c, tk.t, tk.end)) return false;
    tk.fed = c.p;
  }
  if (tk.long_one) {
    tk.reducer.take(tk.fed, std::size_t(c.p - tk.fed));
    tk.fed = c.p;
  } else {
    tk.end = c.p;
  }
  return true;
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

// The general engine, on the record just begun; ch.begin is left where
// the statement stopped.
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
      if (after_value) {
        after_value = false;
        continue;
      }
      ch.items_read = ++next;  // a null value: the item keeps what it holds
      if (next == count) return outcome::done;
      continue;
    }

    // The common case, a plain number for a numeric item, is converted as it
    // is scanned; anything else (repeat counts, exponents, words, numbers
    // the buffered bytes may not hold whole) goes the general way below.
    if (items[next].kind != 'A') {
      plain_decimal d;
      const char* const stop = scan_plain_decimal(c.p, c.stop, d);
      if (stop < c.stop ? is_separator(*stop) : c.whole) {
        const item& target = items[next];
        if (target.kind == 'I' ? plain_to_integer(d, *target.i) : plain_to_real(d, *target.f)) {
          c.p = stop;
          ch.items_read = ++next;
          after_value = true;
          if (next == count) return outcome::done;
          continue;
        }
      }
    }

    // r*value or r*: digits, then a star.
    token tk(c.p);
    int repeat = 1;
    if (is_digit(first)) {
      if (!scan_token(ch, c, tk, is_digit)) return outcome::error;
      if (c.p < c.stop && *c.p == '*') {
        std::int32_t r = 0;
        const std::string_view digits = tk.long_one ? tk.reducer.text() : tk.text();
        if (!get_integer(digits, false, r) || r < 1) {
          note_bad(&ch, tk.long_one ? std::string_view(tk.t, long_token_head) : std::string_view(tk.t, std::size_t(c.p + 1 - tk.t)),
                   "a repeat count");
          return outcome::error;
        }
        repeat = r;
        ++c.p;
        while (c.p == c.stop && !c.whole) {
          if (!read_more(ch, c)) return outcome::error;
        }
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
        store_text(target, text);
      } else if (tk.quoted) {
        ok = false;
      } else {
        const std::string_view number = tk.long_one ? tk.reducer.text() : text;
        ok = target.kind == 'I' ? get_integer(number, false, *target.i)
                                : get_real(number, false, 0, *target.f);
      }
      if (!ok) {
        note_bad(&ch, text, target.kind == 'I' ? "an integer" : "a real");
        return outcome::error;
      }
      ch.items_read = next + 1;
    }
    after_value = true;
    if (next == count) return outcome::done;
  }
}

}  // namespace

const record_program& program_for(std::string_view text) {
  // A tool uses a handful of templates; a small table keyed by the
  // literal's address keeps each parsed once.
  static record_program parsed[32];
  record_program& slot = parsed[(reinterpret_cast<std::uintptr_t>(text.data()) >> 2) % 32];
  if (slot.text.data() != text.data() || slot.text.size() != text.size()) slot = parse_template(text);
  return slot;
}

void write_record(channel& ch, const record_program& p, const value* values, int count) {
  if (!ch.writing || ch.fd < 0) fail(ch.label ? ch.label : "channel", "not open for writing");
  sink s{&ch, ch.buf + ch.end, ch.buf + buffer_size};
  write_fields(s, p, values, count);
  *reserve(s, 1) = '\n';
  ++s.p;
  ch.end = std::uint32_t(s.p - ch.buf);
  ++ch.line;
}

void write_record(std::span<char> record, const record_program& p, const value* values, int count) {
  sink s{nullptr, record.data(), record.data() + record.size()};
  write_fields(s, p, values, count);
  std::memset(s.p, ' ', std::size_t(s.end - s.p));
}

char* make_room(channel& ch, std::size_t n) {
  if (!ch.writing || ch.fd < 0) fail(ch.label ? ch.label : "channel", "not open for writing");
  if (std::size_t(buffer_size) - ch.end < n) flush(ch);
  return ch.buf + ch.end;
}

outcome read_record(channel& ch, const record_program& p, item* items, int count) {
  ch.items_read = 0;
  ch.bad_kind = nullptr;
  const outcome o = begin_record(ch);
  if (o != outcome::done) return o;
  column_source s{&ch, cursor_at(ch, ch.buf + ch.begin)};
  const outcome r = read_fields(s, p, items, count);
  ch.begin = std::uint32_t(s.c.p - ch.buf);  // the rest of the record is passed over at the next read
  return r;
}

outcome read_record(std::span<const char> record, const record_program& p, item* items, int count) {
  column_source s{nullptr, cursor{record.data(), record.data() + record.size(), true}};
  return read_fields(s, p, items, count);
}

namespace {

// The quick path of free-form input for items known at run time (the
// statements of the tools have theirs made when they are compiled).
bool plain_numbers(channel& ch, item* items, int count) {
  const char* const start = ch.buf + ch.begin;
  if (count <= 8 && detail::vector_numbers_usable(ch.line) && read_vector_numbers(ch, items, count)) {
    ch.dropping = false;
    return true;
  }
  detail::quick_line line = detail::scan_line(start, ch.end - ch.begin);
  if (line.length < 64) {
    for (int k = 0; k < count; ++k) {
      const bool last = k + 1 == count;
      if (!(items[k].kind == 'I' ? detail::quick_item(start, line, *items[k].i, last)
                                 : detail::quick_item(start, line, *items[k].f, last)))
        return false;
    }
    ch.dropping = false;
    detail::quick_end(ch, line.length, count);
    return true;
  }
  // A longer line: item after item.
  const char* p = start;
  for (int k = 0; k < count; ++k) {
    const bool last = k + 1 == count;
    p = items[k].kind == 'I' ? detail::next_item(p, *items[k].i, last) : detail::next_item(p, *items[k].f, last);
    if (!p) return false;
  }
  // The rest of the line is passed over now when it is just its end, else
  // at the next read.
  if (*p == '\r' && p[1] == '\n') ++p;
  if (*p == '\n') {
    ++p;
    ch.dropping = false;
  }
  ch.begin = std::uint32_t(p - ch.buf);
  ch.items_read = count;
  return true;
}

outcome free_form_statement(channel& ch, item* items, int count, bool quick) {
  ch.items_read = 0;
  ch.bad_kind = nullptr;
  const outcome o = begin_record(ch);
  if (o != outcome::done || count == 0) return o;
  if (quick) {
    bool numbers = true;
    for (int k = 0; k < count; ++k) numbers = numbers && items[k].kind != 'A';
    if (numbers && plain_numbers(ch, items, count)) return outcome::done;
  }
  cursor c = cursor_at(ch, ch.buf + ch.begin);
  const outcome r = free_form(ch, c, items, count);
  ch.begin = std::uint32_t(c.p - ch.buf);
  return r;
}

}  // namespace

outcome read_free(channel& ch, item* items, int count) { return free_form_statement(ch, items, count, true); }

outcome read_free_general(channel& ch, item* items, int count) {
  return free_form_statement(ch, items, count, false);
}

}  // namespace zeb
