// The journal that lets endian_switch finish a conversion cut short by a
// crash: a small file beside the map that identifies it and holds a 64-bit
// checksum of the original bytes of every 512-byte sector of its data.
//
// A disk writes a 512-byte sector whole or not at all, data start at byte
// 1024 and no value straddles a sector, so after a crash every sector is
// wholly in the old byte order or wholly in the new one, and its checksum
// tells which: the sector's bytes match it (old), or their reversal does
// (new). Neither means that something else changed the map since.
//
// Layout (the host's byte order; the tools run on x86-64 only):
//   sector 0     commit record, zero until everything after it is durable:
//                magic, journal length, XXH3-64 of bytes [512, length),
//                XXH3-64 of the record's first 24 bytes
//   bytes 512-1023   magic, device, inode, map size, end of the data
//                    pass, number of sector checksums
//   bytes 1024-2047  the map header as it was before the conversion
//   from 2048    one XXH3-64 per data sector, in file order (the last
//                sector may be short: its checksum covers its bytes only)
// A journal whose commit record is not valid was cut short while it was
// written, before the map's first byte changed: it is thrown away.
#pragma once

#include <limits.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "map_header.h"

#ifndef ZEB_BLOCK_BYTES
#define ZEB_BLOCK_BYTES (1 << 20)
#endif

namespace zeb {

// The unit of every transfer of map data: a few large transfers instead
// of four system calls per row keep narrow maps as fast as wide ones. A
// multiple of the sector, so that a block's first sector starts where it
// starts. A test build makes it small, so that a small map has many
// block boundaries.
inline constexpr std::int64_t block_bytes = ZEB_BLOCK_BYTES;
inline constexpr std::int64_t sector_bytes = 512;
inline constexpr std::int64_t block_sectors = block_bytes / sector_bytes;
static_assert(block_bytes % sector_bytes == 0 && block_bytes >= sector_bytes);

// --- whole transfers at absolute offsets ----------------------------------

enum class transfer { done, not_seekable, failed };

// Moves `bytes` bytes between the buffer and the file at `offset`,
// retrying short transfers; the end of the file before the last byte is a
// failure.
transfer read_at(int fd, void* buffer, std::size_t bytes, off_t offset);
transfer write_at(int fd, const void* buffer, std::size_t bytes, off_t offset);

// --- the journal --------------------------------------------------------

// Where the journal of a map lives: NAME.endian_switch-journal in the
// folder of the file itself, symbolic links followed, so that every name
// of the map leads to the same journal.
struct journal_place {
  int folder;
  char name[NAME_MAX + 1];
};

// False, with errno set, when the map's folder cannot be opened or the
// journal's name would be too long.
bool find_journal_place(const char* map_name, journal_place& place);

// What a journal records of its map.
struct journal_record {
  std::uint64_t device;
  std::uint64_t inode;
  std::int64_t map_size;
  std::int64_t data_end;  // the data pass covers bytes [1024, data_end)
  unsigned char header[header_bytes];  // as it was before the conversion
};

struct journal {
  int fd;
  journal_record record;
};

enum class journal_found {
  none,         // no file of the journal's name
  unfinished,   // one cut short while it was written: removed
  ready,        // a complete journal of this map: `found` holds it
  damaged,      // complete once, but its bytes no longer agree
  other_file,   // a complete journal of another file (inode or size)
  unreadable,   // it cannot be opened or read
};

// Looks for the journal of the map whose status is `map`.
journal_found find_journal(const journal_place& place, const struct stat& map, journal& found);

enum class journal_made { made, impossible, read_failed, not_seekable, stopped };

// Creates the journal of the map, reading every data sector once through
// `block` (block_bytes) and `sums` (block_sectors), and makes it durable:
// the file and its folder synced, then the commit record written and
// synced. `stop` is asked at every block; when it says yes, or when a
// read of the map fails, the journal is removed again. `impossible` (errno
// set): it could not be written, and nothing is left.
journal_made make_journal(const journal_place& place, int mapfile, const journal_record& record,
                          unsigned char* block, std::uint64_t* sums, bool (*stop)(), journal& made);

// Removes the journal and makes the removal durable (the folder synced).
bool remove_journal(const journal_place& place, journal& j);

// The checksums of the sectors of the data bytes [from, from + bytes),
// `from` a block boundary.
bool read_sums(const journal& j, std::int64_t from, std::int64_t bytes, std::uint64_t* sums);

enum class sector_order { old_order, new_order, neither };

// Brings the `count` data bytes of one block, from a block boundary, to
// the order asked for, in place, sector by sector as their checksums tell;
// `changed` is set when any sector was reversed. False when a sector is in
// neither order: the block must then not be written.
bool bring_sectors(unsigned char* bytes, std::int64_t count, const std::uint64_t* sums,
                   std::int32_t bytes_per_value, bool to_new, bool& changed);

// The order of each 512-byte half of a map header against the original
// one: new when it equals the converted original; old when it equals the
// original (a half the conversion leaves alone is both, and counts old).
sector_order header_half_order(const unsigned char* current, const unsigned char* original, int half);

}  // namespace zeb
