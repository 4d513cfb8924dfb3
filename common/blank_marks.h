// The first stage of the quick path of free-form input, the one piece made
// for an instruction set: 64 bytes classed at once into a mask, so that
// the second stage (quick_input.cpp) finds where every token of a line
// begins without a loop over the blanks between them. Another processor
// needs only another blank_marks.
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zeb::detail {

// Bit i set when p[i] is a blank or a tab. All 64 bytes must be readable.
inline std::uint64_t blank_marks(const char* p) {
#if defined(__SSE2__)
  const __m128i blank = _mm_set1_epi8(' ');
  const __m128i tab = _mm_set1_epi8('\t');
  std::uint64_t marks = 0;
  for (int k = 0; k < 4; ++k) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    const __m128i b = _mm_or_si128(_mm_cmpeq_epi8(v, blank), _mm_cmpeq_epi8(v, tab));
    marks |= std::uint64_t(unsigned(_mm_movemask_epi8(b))) << (16 * k);
  }
  return marks;
#else
  std::uint64_t marks = 0;
  for (int k = 0; k < 64; ++k) marks |= std::uint64_t(p[k] == ' ' || p[k] == '\t') << k;
  return marks;
#endif
}

}  // namespace zeb::detail
