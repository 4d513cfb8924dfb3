// The conversion and comparison of num_greater, shared with its fuzz target.
#pragma once

#include <cstdio>

namespace zeb {

// The conversion scripts have always relied on: sscanf "%f" (no tool sets
// a locale, so the point is always the full stop). False when the text
// gives no number: an undefined value must never be compared.
inline bool number_argument(const char* text, float& value) {
  return std::sscanf(text, "%f", &value) == 1;
}

// '1' when a is greater than b, else '0'. With the start-up floating-point
// mode, values below 2^-126 compare as zero.
inline char greater_answer(float a, float b) { return a > b ? '1' : '0'; }

}  // namespace zeb
