// What the record engines share of a channel's input (inside the library):
// records begun and passed over, and the part of a record that the buffer
// holds, refilled as a statement moves along a record of any length.
#pragma once

#include "text.h"

namespace zeb {

// Passes over what is left of the record before, if one was begun, and
// begins the next: end_of_file when none is left. The record then starts
// at buf[begin], with at least one of its bytes (or its end) buffered.
outcome start_record(channel& ch);
inline outcome begin_record(channel& ch) {
  if (ch.dropping || ch.begin == ch.end) return start_record(ch);
  ++ch.line;  // the record before ended at its line feed, and the next one is buffered
  ch.dropping = true;
  return outcome::done;
}

// A place in the current record and how much of the record the buffer
// holds from there: [p, stop). A carriage return before the record's line
// feed, or at the very end of the input, is not in it; nor is one at the
// end of the buffered bytes, until a refill tells whether a line feed
// follows.
struct cursor {
  const char* p;
  const char* stop;
  bool whole;  // stop is the record's end; else more of it may follow
};

cursor cursor_at(const channel& ch, const char* p);

// Makes room in the buffer and reads more of the record: keeps
// [from, upto) at the buffer's start and [c.p, end) right after it,
// dropping what lies between, then reads. The pointers follow the bytes
// they point to (c.p is then upto). There must be something to drop or
// some room left: (upto - from) + (end - c.p) < buffer_size. False when
// the read fails (sys_error tells why).
bool read_more(channel& ch, cursor& c, const char*& from, const char*& upto);

// The same, keeping only [c.p, end).
inline bool read_more(channel& ch, cursor& c) {
  const char* from = c.p;
  const char* upto = c.p;
  return read_more(ch, c, from, upto);
}

}  // namespace zeb
