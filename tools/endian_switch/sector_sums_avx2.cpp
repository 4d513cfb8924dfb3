// Compiled with -mavx2; called only where the processor has AVX2.
#include "sector_sums_build.h"

namespace zeb {

std::uint64_t sector_sum_avx2(const unsigned char* sector, std::size_t count) { return one_sum(sector, count); }

void sector_sums_avx2(const unsigned char* bytes, std::int64_t count, std::uint64_t* sums) {
  all_sums(bytes, count, sums);
}

}  // namespace zeb
