// The first stage of the quick path of free-form input, the one piece made
// for an instruction set: 64 bytes classed at once into masks, so that the
// second stage (quick_numbers.h) knows where every token of a line begins,
// and where the line ends, before it reads a number. Another processor
// needs only another byte_marks.
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zeb::detail {

struct marks {
  std::uint64_t blanks;      // bit i: p[i] is a blank or a tab
  std::uint64_t line_feeds;  // bit i: p[i] is a line feed
};

// The marks of p[0, 64); all 64 bytes must be readable.
inline marks byte_marks(const char* p) {
#if defined(__SSE2__)
  const __m128i blank = _mm_set1_epi8(' ');
  const __m128i tab = _mm_set1_epi8('\t');
  const __m128i line_feed = _mm_set1_epi8('\n');
  marks m{0, 0};
  for (int k = 0; k < 4; ++k) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    const __m128i b = _mm_or_si128(_mm_cmpeq_epi8(v, blank), _mm_cmpeq_epi8(v, tab));
    m.blanks |= std::uint64_t(unsigned(_mm_movemask_epi8(b))) << (16 * k);
    m.line_feeds |= std::uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, line_feed)))) << (16 * k);
  }
  return m;
#else
  marks m{0, 0};
  for (int k = 0; k < 64; ++k) {
    m.blanks |= std::uint64_t(p[k] == ' ' || p[k] == '\t') << k;
    m.line_feeds |= std::uint64_t(p[k] == '\n') << k;
  }
  return m;
#endif
}

}  // namespace zeb::detail
