// The body of the sector checksums, built once per instruction set (by
// sector_sums.cpp and sector_sums_avx2.cpp): xxHash chooses its vector code
// by what the file is compiled for.
#define XXH_INLINE_ALL
#include <xxhash.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

std::uint64_t one_sum(const unsigned char* sector, std::size_t count) { return XXH3_64bits(sector, count); }

void all_sums(const unsigned char* bytes, std::int64_t count, std::uint64_t* sums) {
  for (std::int64_t at = 0; at < count; at += 512)
    *sums++ = one_sum(bytes + at, static_cast<std::size_t>(std::min<std::int64_t>(512, count - at)));
}

}  // namespace
