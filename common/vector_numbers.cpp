// The quick path of free-form input on processors with byte compression
// and permutation over 64 bytes: a line of plain numbers is read with no
// loop and no branch per token. The line's bytes are classed in one step,
// the rules of a plain number are checked on bit masks for every token at
// once, and each token's digits, point and sign taken out, are moved
// right-aligned into a lane of eight bytes of their own and converted
// eight tokens at a time. Each value is then made as the word-by-word
// path makes it.
#include <cpuid.h>
#include <immintrin.h>

#include "text.h"

namespace zeb {
namespace detail {

// Asked of the processor on the first read that could use it, not at
// start-up: a tool that reads no numbers never pays for the question.
bool find_vector_numbers() {
  unsigned a, b, c, d;
  bool usable = __get_cpuid(1, &a, &b, &c, &d) && (c & bit_OSXSAVE) && (c & bit_POPCNT);
  if (usable) {
    // The system saves the mask and 512-bit registers on a task switch.
    unsigned low, high;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    usable = (low & 0xe6) == 0xe6;
  }
  usable = usable && __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_AVX512F) && (b & bit_AVX512BW) &&
           (b & bit_BMI) && (b & bit_BMI2) && (c & bit_AVX512VBMI) && (c & bit_AVX512VBMI2);
  vector_numbers_state = usable;
  return usable;
}

}  // namespace detail

[[gnu::target("avx512f,avx512bw,avx512vbmi,avx512vbmi2,bmi,bmi2,popcnt")]] bool
read_vector_numbers(channel& ch, item* items, int count) {
  const char* const p = ch.buf + ch.begin;
  const std::size_t buffered = ch.end - ch.begin;
  std::uint32_t integers = 0;
  for (int k = 0; k < count; ++k) integers |= std::uint32_t(items[k].kind == 'I') << k;
  const __m512i bytes = _mm512_loadu_si512(p);
  std::uint64_t line_feeds = _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8('\n'));
  if (buffered < 64) line_feeds = _bzhi_u64(line_feeds, unsigned(buffered));  // bytes past the data are stale
  if (line_feeds == 0) return false;
  const unsigned length = unsigned(_tzcnt_u64(line_feeds));
  const std::uint64_t line = _bzhi_u64(~std::uint64_t(0), length);

  // The classes of the line's bytes, one bit a byte. A carriage return
  // just before the line feed ends a token as a blank does.
  std::uint64_t blanks = _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(' ')) |
                         _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8('\t'));
  if (length > 0 && p[length - 1] == '\r') blanks |= std::uint64_t(1) << (length - 1);
  const std::uint64_t digits =
      _mm512_cmple_epu8_mask(_mm512_sub_epi8(bytes, _mm512_set1_epi8('0')), _mm512_set1_epi8(9)) & line;
  const std::uint64_t points = _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8('.')) & line;
  const std::uint64_t minus = _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8('-')) & line;
  const std::uint64_t tokens = line & ~blanks;
  const std::uint64_t starts = tokens & ~(tokens << 1);
  const std::uint64_t ends = (tokens << 1) & ~tokens;  // the byte after each token
  // Adding the points to the token bytes carries from each point to the
  // end of its token: the carries mark the bytes after a point.
  const std::uint64_t after_point = ((tokens + points) ^ tokens ^ points);

  // Every token is [-]digits[.digits]: nothing but digits, points and
  // minus signs; a minus sign only first and before a digit; a point only
  // after a digit, and one at most.
  const std::uint64_t broken = (tokens & ~(digits | points | minus)) | (minus & ~starts) |
                               ((minus << 1) & ~digits) | (points & ~(digits << 1)) |
                               (after_point & points);
  const std::uint64_t with_point = _pext_u64(after_point & ends, ends);  // bit k: token k has a point
  if (broken != 0 || int(_mm_popcnt_u64(starts)) < count || (with_point & integers) != 0) return false;

  // Without points and minus signs, each token is a run of digits.
  const std::uint64_t kept = ~(points | minus);
  const __m512i packed = _mm512_maskz_compress_epi8(kept, bytes);
  const std::uint64_t digit_starts = _pext_u64((starts & ~minus) | ((starts & minus) << 1), kept);
  const std::uint64_t digit_ends = _pext_u64(ends, kept);
  const std::uint64_t decimals = _pext_u64(after_point & digits, kept);

  // Each token's first and end positions, spread over the eight bytes of
  // its lane; a lane takes the eight positions before the end, those from
  // the first on.
  const __m512i positions = _mm512_set_epi8(
      63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46, 45, 44, 43, 42, 41, 40, 39, 38, 37, 36,
      35, 34, 33, 32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14, 13, 12, 11, 10, 9, 8,
      7, 6, 5, 4, 3, 2, 1, 0);
  const __m512i lanes = _mm512_set_epi8(7, 7, 7, 7, 7, 7, 7, 7, 6, 6, 6, 6, 6, 6, 6, 6, 5, 5, 5, 5, 5, 5, 5, 5, 4, 4,
                                        4, 4, 4, 4, 4, 4, 3, 3, 3, 3, 3, 3, 3, 3, 2, 2, 2, 2, 2, 2, 2, 2, 1, 1, 1, 1,
                                        1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m512i before_end = _mm512_set_epi8(
      -1, -2, -3, -4, -5, -6, -7, -8, -1, -2, -3, -4, -5, -6, -7, -8, -1, -2, -3, -4, -5, -6, -7, -8, -1, -2, -3, -4,
      -5, -6, -7, -8, -1, -2, -3, -4, -5, -6, -7, -8, -1, -2, -3, -4, -5, -6, -7, -8, -1, -2, -3, -4, -5, -6, -7, -8,
      -1, -2, -3, -4, -5, -6, -7, -8);
  const __m512i first = _mm512_permutexvar_epi8(lanes, _mm512_maskz_compress_epi8(digit_starts, positions));
  const __m512i end = _mm512_permutexvar_epi8(lanes, _mm512_maskz_compress_epi8(digit_ends, positions));
  const __m512i from = _mm512_add_epi8(end, before_end);
  const std::uint64_t taken = _mm512_cmpge_epi8_mask(from, first);
  // More than eight digits, which a lane cannot hold, in a token read.
  const std::uint64_t lane_heads = _bzhi_u64(0x0101010101010101, unsigned(8 * count));
  if ((_mm512_cmpgt_epi8_mask(_mm512_sub_epi8(end, first), _mm512_set1_epi8(8)) & lane_heads) != 0) return false;

  const __m512i values =
      _mm512_maskz_sub_epi8(taken, _mm512_permutexvar_epi8(from, packed), _mm512_set1_epi8('0'));
  // Two digits in 16 bits, four in 32, then the eight of a lane.
  const __m512i pairs = _mm512_maddubs_epi16(values, _mm512_set1_epi16(0x010a));
  const __m512i fours = _mm512_madd_epi16(pairs, _mm512_set1_epi32(0x00010064));
  const __m512i eights = _mm512_madd_epi16(_mm512_packus_epi32(fours, fours), _mm512_set1_epi32(0x00012710));
  const __m256i mantissas = _mm512_castsi512_si256(_mm512_permutexvar_epi32(
      _mm512_set_epi32(0, 0, 0, 0, 0, 0, 0, 0, 13, 12, 9, 8, 5, 4, 1, 0), eights));
  alignas(32) std::uint32_t mantissa[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(mantissa), mantissas);

  // The digits after the point, counted lane by lane.
  const __m512i marks = _mm512_maskz_permutexvar_epi8(taken, from, _mm512_maskz_set1_epi8(decimals, 1));
  alignas(8) std::uint8_t decimal_count[8];
  _mm_storel_epi64(reinterpret_cast<__m128i*>(decimal_count),
                   _mm512_cvtepi64_epi8(_mm512_sad_epu8(marks, _mm512_setzero_si512())));

  // Every value first: the items take them only when all are exact.
  const std::uint64_t negative = _pext_u64(minus, starts);
  value v[8];
  for (int k = 0; k < count; ++k) {
    const bool minus_sign = negative >> k & 1;
    if (items[k].kind == 'I') v[k].i = minus_sign ? -std::int32_t(mantissa[k]) : std::int32_t(mantissa[k]);
    else if (!detail::real_of(mantissa[k], decimal_count[k], minus_sign, v[k].f)) return false;
  }
  for (int k = 0; k < count; ++k) {
    if (items[k].kind == 'I') *items[k].i = v[k].i;
    else *items[k].f = v[k].f;
  }
  detail::quick_end(ch, length, count);
  return true;
}

}  // namespace zeb
