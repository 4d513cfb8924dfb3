// XXH3-64 checksums of 512-byte sectors, the journal's unit. A pass over a
// whole map spends a third of its time here: the checksums are built for
// AVX2 too, and taken from that build where the processor has it (the
// same values either way).
#pragma once

#include <cstddef>
#include <cstdint>

namespace zeb {

// The checksum of one sector of `count` bytes (a last one may be short).
std::uint64_t sector_sum(const unsigned char* sector, std::size_t count);

// The checksums of the sectors of `count` bytes from a sector boundary.
void sector_sums(const unsigned char* bytes, std::int64_t count, std::uint64_t* sums);

}  // namespace zeb
