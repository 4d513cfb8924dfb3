// Reflection records: three integer indexes and three or four reals, read
// free-form and written with the indexes rotated (second, third, first).
// One engine for both rotation tools.
#pragma once

#include <cstdint>

#include "text.h"

struct reflection {
  std::int32_t first = 0;
  std::int32_t second = 0;
  std::int32_t third = 0;
  float value[4] = {};
};

enum class layout { three_values, four_values };

// Updates the record in place: an item that the input leaves without a
// value keeps the one of the record before.
inline zeb::outcome read_reflection(zeb::channel& in, reflection& r, layout l) {
  if (l == layout::three_values)
    return zeb::read_free_form(in, r.first, r.second, r.third, r.value[0], r.value[1], r.value[2]);
  return zeb::read_free_form(in, r.first, r.second, r.third, r.value[0], r.value[1], r.value[2],
                             r.value[3]);
}

inline void write_reflection(zeb::channel& out, const reflection& r, layout l) {
  if (l == layout::three_values)
    zeb::write_templated<"(3I6,F12.1,F12.1,F12.3)">(out, r.second, r.third, r.first, r.value[0],
                         r.value[1], r.value[2]);
  else
    zeb::write_templated<"(3I6,F12.1,F12.1,F12.3,F12.3)">(out, r.second, r.third, r.first,
                         r.value[0], r.value[1], r.value[2], r.value[3]);
}
