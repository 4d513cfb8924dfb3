// The record engines: templated writes and reads, and free-form input.
#include <algorithm>
#include <cstring>

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
    const std::size_t k = std::min(n, sizeof s.ch->buf);
    std::memcpy(reserve(s, k), text, k);
    s.p += k;
    text += k;
    n -= k;
  }
}

void put_blanks(sink& s, std::size_t n) {
  while (n > 0) {
    const std::size_t k = std::min(n, sizeof s.ch->buf);
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

// Characters [from, from + w) of a record; columns past its end are blanks
// and simply absent here, which every input form treats alike.
std::string_view columns(std::string_view record, std::size_t from, std::size_t w) {
  return record.substr(std::min(from, record.size()), w);
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

outcome read_fields(std::string_view record, const record_program& p, item* items, int count,
                    channel* ch) {
  template_cursor cursor(p);
  template_item it;
  std::size_t col = 0;
  int next = 0;
  while (next < count && cursor.next(it)) {
    if (it.kind == op_kind::skip) {
      col += std::size_t(it.width);
      continue;
    }
    if (it.kind == op_kind::literal) continue;
    const item& target = items[next];
    if (it.kind == op_kind::text) {
      const std::size_t cap = target.a.n;
      const std::size_t w = it.width ? std::size_t(it.width) : cap;
      const std::string_view field = columns(record, col, w);
      if (w < cap) {
        store_text(target, field);
      } else {
        // The rightmost cap of the w columns; missing columns are blanks.
        const std::size_t skip = w - cap;
        store_text(target, field.size() > skip ? field.substr(skip) : std::string_view());
      }
      col += w;
    } else {
      const std::string_view field = columns(record, col, std::size_t(it.width));
      col += std::size_t(it.width);
      const bool ok = it.kind == op_kind::integer
                          ? get_integer(field, true, *target.i)
                          : get_real(field, true, it.decimals, *target.f);
      if (!ok) {
        note_bad(ch, field, it.kind == op_kind::integer ? "an integer" : "a real");
        return outcome::error;
      }
    }
    ++next;
    if (ch) ch->items_read = next;
  }
  return outcome::done;
}

// Characters that end a free-form token (blank, tab, comma, semicolon,
// slash), and the star that may follow a repeat count.
enum : unsigned char { ordinary, separator, star };
struct char_table {
  unsigned char kind[256] = {};
  constexpr char_table() {
    for (unsigned char c : {' ', '\t', ',', ';', '/'}) kind[c] = separator;
    kind[static_cast<unsigned char>('*')] = star;
  }
};
constexpr char_table chars;

bool is_separator(char c) { return chars.kind[static_cast<unsigned char>(c)] == separator; }

// A quoted text without its quotes, a doubled quote standing for one.
char unquoted[record_limit];

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
  sink s{&ch, ch.buf + ch.end, ch.buf + sizeof ch.buf};
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

outcome read_record(channel& ch, const record_program& p, item* items, int count) {
  ch.items_read = 0;
  ch.bad_kind = nullptr;
  std::string_view record;
  const outcome o = next_record(ch, record);
  if (o != outcome::done) return o;
  return read_fields(record, p, items, count, &ch);
}

outcome read_record(std::span<const char> record, const record_program& p, item* items, int count) {
  return read_fields(std::string_view(record.data(), record.size()), p, items, count, nullptr);
}

outcome read_free(channel& ch, item* items, int count) {
  ch.items_read = 0;
  ch.bad_kind = nullptr;
  std::string_view rec;
  outcome o = next_record(ch, rec);
  if (o != outcome::done || count == 0) return o;
  std::size_t i = 0;
  int next = 0;
  bool after_value = false;  // right after a value a comma only separates
  for (;;) {
    while (i < rec.size() && (rec[i] == ' ' || rec[i] == '\t')) ++i;
    if (i == rec.size()) {  // a line end separates like a blank
      o = next_record(ch, rec);
      if (o != outcome::done) return o;
      i = 0;
      continue;
    }
    const char c = rec[i];
    if (c == '/') return outcome::done;
    if (c == ',' || c == ';') {
      ++i;
      if (after_value) {
        after_value = false;
        continue;
      }
      ch.items_read = ++next;  // a null value: the item keeps what it holds
      if (next == count) return outcome::done;
      continue;
    }

    // The common case, a plain number for a numeric item, is converted as it
    // is scanned; anything else (repeat counts, exponents, words) goes the
    // general way below.
    if (items[next].kind != 'A') {
      plain_decimal d;
      const char* const stop = scan_plain_decimal(rec.data() + i, rec.data() + rec.size(), d);
      if (stop == rec.data() + rec.size() || is_separator(*stop)) {
        const item& target = items[next];
        if (target.kind == 'I' ? plain_to_integer(d, *target.i) : plain_to_real(d, *target.f)) {
          i = std::size_t(stop - rec.data());
          ch.items_read = ++next;
          after_value = true;
          if (next == count) return outcome::done;
          continue;
        }
      }
    }

    // The token's end, and whether it is r*value or r*: digits, then a star.
    std::size_t j = i;
    while (j < rec.size() && chars.kind[static_cast<unsigned char>(rec[j])] == ordinary) ++j;
    int repeat = 1;
    if (j < rec.size() && rec[j] == '*' && j > i &&
        rec.substr(i, j - i).find_first_not_of("0123456789") == std::string_view::npos) {
      std::int32_t r = 0;
      if (!get_integer(rec.substr(i, j - i), false, r) || r < 1) {
        note_bad(&ch, rec.substr(i, j + 1 - i), "a repeat count");
        return outcome::error;
      }
      repeat = r;
      i = j + 1;
      if (i == rec.size() || is_separator(rec[i])) {
        next += std::min(repeat, count - next);
        ch.items_read = next;
        after_value = true;
        if (next == count) return outcome::done;
        continue;
      }
      j = i;
    }

    std::string_view token;
    bool quoted = false;
    if (rec[i] == '\'' || rec[i] == '"') {
      const char quote = rec[i++];
      std::size_t n = 0;
      while (i < rec.size()) {
        if (rec[i] == quote) {
          if (i + 1 < rec.size() && rec[i + 1] == quote) {
            unquoted[n++] = quote;
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        unquoted[n++] = rec[i++];
      }
      token = std::string_view(unquoted, n);
      quoted = true;
    } else {
      while (j < rec.size() && !is_separator(rec[j])) ++j;
      token = rec.substr(i, j - i);
      i = j;
    }

    for (const int last = next + std::min(repeat, count - next); next < last; ++next) {
      const item& target = items[next];
      bool ok = true;
      if (target.kind == 'A') store_text(target, token);
      else if (quoted) ok = false;
      else if (target.kind == 'I') ok = get_integer(token, false, *target.i);
      else ok = get_real(token, false, 0, *target.f);
      if (!ok) {
        note_bad(&ch, token, target.kind == 'I' ? "an integer" : "a real");
        return outcome::error;
      }
      ch.items_read = next + 1;
    }
    after_value = true;
    if (next == count) return outcome::done;
  }
}

}  // namespace zeb
