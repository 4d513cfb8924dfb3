// The quick path of free-form input (quick_numbers.h) for items known at
// run time, and its conversion of reals too long for a word.
#include "engine.h"

namespace zeb {

using detail::item;

const char* detail::wide_real_at(const char* t, const char* data_end, float& out) {
  plain_decimal d;
  const char* const end = scan_plain_decimal(t, data_end, d);
  return plain_to_real(d, out) ? end : nullptr;
}

detail::token_starts detail::starts_past(const char* block) {
  std::uint64_t blanks = byte_marks(block).blanks;
  std::uint64_t starts = 0;
  while (starts == 0) {
    const std::uint64_t carry = blanks >> 63;
    block += 64;
    blanks = byte_marks(block).blanks;
    starts = ~blanks & (blanks << 1 | carry);
  }
  return {block, starts};
}

detail::token_starts detail::starts_after_comma(const char* comma) {
  const std::uint64_t blanks = byte_marks(comma + 1).blanks;
  return {comma + 1, ~blanks & (blanks << 1 | 1)};
}

bool read_quick_numbers(channel& ch, item* items, int count) {
  detail::quick_line line(ch.buf + ch.begin, ch.buf + ch.end);
  for (int k = 0; k < count; ++k) {
    const item& it = items[k];
    const bool last = k + 1 == count;
    if (!(it.kind == 'I' ? line.take(*it.i, last) : it.kind == 'F' && line.take(*it.f, last))) return false;
  }
  detail::quick_done(ch, line, count);
  return true;
}

}  // namespace zeb
