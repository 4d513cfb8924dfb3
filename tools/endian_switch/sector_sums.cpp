#include "sector_sums.h"

#include "sector_sums_build.h"

namespace zeb {

std::uint64_t sector_sum_avx2(const unsigned char* sector, std::size_t count);
void sector_sums_avx2(const unsigned char* bytes, std::int64_t count, std::uint64_t* sums);

namespace {
bool has_avx2() { return __builtin_cpu_supports("avx2"); }
}  // namespace

std::uint64_t sector_sum(const unsigned char* sector, std::size_t count) {
  return has_avx2() ? sector_sum_avx2(sector, count) : one_sum(sector, count);
}

void sector_sums(const unsigned char* bytes, std::int64_t count, std::uint64_t* sums) {
  if (has_avx2()) {
    sector_sums_avx2(bytes, count, sums);
  } else {
    all_sums(bytes, count, sums);
  }
}

}  // namespace zeb
