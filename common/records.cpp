// The record engines of templated writes and reads.
#include <algorithm>
#include <cstring>

#include "engine.h"

namespace zeb {

void note_bad(channel& ch, std::string_view text, const char* kind) {
  const std::size_t n = std::min(text.size(), sizeof ch.bad_text);
  if (n > 0) std::memcpy(ch.bad_text, text.data(), n);
  ch.bad_length = std::uint8_t(n);
  ch.bad_kind = kind;
}

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

// n characters of text, or n blanks when text is null.
void put_chars(sink& s, const char* text, std::size_t n) {
  while (n > 0) {
    const std::size_t k = std::min(n, std::size_t(buffer_size));
    if (text) {
      std::memcpy(reserve(s, k), text, k);
      text += k;
    } else {
      std::memset(reserve(s, k), ' ', k);
    }
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
        put_chars(s, nullptr, std::size_t(it.width));
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
      put_chars(s, nullptr, std::size_t(w) - v.a.n);
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
        if (s.ch) note_bad(*s.ch, field, it.kind == op_kind::integer ? "an integer" : "a real");
        return outcome::error;
      }
    }
    if (s.failed) break;
    ++next;
    if (s.ch) s.ch->items_read = next;
  }
  return s.failed ? outcome::error : outcome::done;
}

}  // namespace

void detail::write_record(channel& ch, const record_program& p, const value* values, int count) {
  if (!ch.writing || ch.fd < 0) fail(ch.label ? ch.label : "channel", "not open for writing");
  sink s{&ch, ch.buf + ch.end, ch.buf + output_size};
  write_fields(s, p, values, count);
  *reserve(s, 1) = '\n';
  ++s.p;
  ch.end = std::uint32_t(s.p - ch.buf);
  ++ch.line;
}

void detail::write_record(std::span<char> record, const record_program& p, const value* values, int count) {
  sink s{nullptr, record.data(), record.data() + record.size()};
  write_fields(s, p, values, count);
  std::memset(s.p, ' ', std::size_t(s.end - s.p));
}

char* detail::make_room(channel& ch, std::size_t n) {
  if (!ch.writing || ch.fd < 0) fail(ch.label ? ch.label : "channel", "not open for writing");
  if (std::size_t(output_size) - ch.end < n) flush(ch);
  return ch.buf + ch.end;
}

outcome detail::read_record(channel& ch, const record_program& p, item* items, int count) {
  const outcome o = begin_statement(ch);
  if (o != outcome::done) return o;
  column_source s{&ch, cursor_at(ch, ch.buf + ch.begin)};
  const outcome r = read_fields(s, p, items, count);
  ch.begin = std::uint32_t(s.c.p - ch.buf);  // the rest of the record is passed over at the next read
  return r;
}

outcome detail::read_record(std::span<const char> record, const record_program& p, item* items, int count) {
  column_source s{nullptr, cursor{record.data(), record.data() + record.size(), true}};
  return read_fields(s, p, items, count);
}

}  // namespace zeb
