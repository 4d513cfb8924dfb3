// The journal that lets endian_switch finish a conversion cut short by a
// crash: a small file beside the map that identifies it and holds a 64-bit
// checksum of the original bytes of every 512-byte sector of its data.
//
// A disk writes a 512-byte sector whole or not at all, data start at byte
// 1024 and no value straddles a sector, so after a crash every sector is
// wholly in the old byte order or wholly in the new one, and its checksum
// tells which: the sector's bytes match it (old), or their reversal does
// (new). Neither means that something else changed the map since. A
// sector that reads the same in both orders (all zeros, say) is both.
//
// The journal has two names in the folder of the map file itself. One is
// made of the map's inode, endian_switch-journal.INODE, so that every name
// of the map in that folder (hard links, renames) leads to it; it is
// opened by name, so that a folder that cannot be listed still finds it.
// The other is made of the map's name, MAP.endian_switch-journal (the only
// one earlier versions gave it), so that a file put in the map's place
// since (a copy: another inode) is found to be another file, not taken
// for a whole map. The journal is written whole under a third name
// (INODE name + .new), made durable, and only then renamed to the name
// made of the inode, and given the other name: a file of those names has
// been complete, so one that no longer verifies was damaged since, and is
// refused, never thrown away. What is left under the third name was never
// committed, and the map was never touched after it: it is thrown away.
// Only journals owned by the map's owner, the runner or root are trusted:
// anyone else who may write the folder could steer a conversion with one.
//
// Layout (the host's byte order; the tools run on x86-64 only):
//   sector 0     integrity record: magic (ZEBJRNL1 while the conversion
//                may be unfinished, ZEBJDONE once it is known finished),
//                journal length, XXH3-64 of bytes [512, length), XXH3-64
//                of the record's first 24 bytes
//   bytes 512-1023   magic, device, inode, map size, end of the data
//                    pass, number of sector checksums, the name made of
//                    the map's name (256 bytes, zero-terminated), the
//                    map's birth time in nanoseconds (0: not known)
//   bytes 1024-2047  the map header as it was before the conversion
//   from 2048    one XXH3-64 per data sector, in file order (the last
//                sector may be short: its checksum covers its bytes only)
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
// of four system calls per row keep narrow maps as fast as wide ones.
// Blocks end at multiples of it in the file, so that every block is made
// of whole file pages and sectors. A test build makes it small, so that a
// small map has many block boundaries.
inline constexpr std::int64_t block_bytes = ZEB_BLOCK_BYTES;
inline constexpr std::int64_t sector_bytes = 512;
inline constexpr std::int64_t block_sectors = block_bytes / sector_bytes;
static_assert(block_bytes % 4096 == 0 && block_bytes > header_bytes);

// The end of the block that begins at `at`, `to` at the latest.
inline std::int64_t block_end(std::int64_t at, std::int64_t to) {
  const std::int64_t end = (at / block_bytes + 1) * block_bytes;
  return end < to ? end : to;
}

// Where the journal of a map lives.
struct journal_place {
  int folder = -1;          // the map file's own folder, symbolic links followed
  bool folder_syncs;        // false: opened for searching only, its file system is synced instead
  char name[48];            // endian_switch-journal.INODE
  char making[sizeof name + 4];  // the name while it is written: NAME.new
  char by_name[NAME_MAX + 1];  // MAP.endian_switch-journal; empty when too long
};

// Finds and opens the folder of the map whose status is `map`. False, with
// errno set, when it cannot be found: a journal may then exist unseen.
bool find_journal_place(const char* map_name, const struct stat& map, journal_place& place);

// What a journal records of its map.
struct journal_record {
  std::uint64_t device;
  std::uint64_t inode;
  std::int64_t map_size;
  std::int64_t data_end;  // the data pass covers bytes [1024, data_end)
  unsigned char header[header_bytes];  // as it was before the conversion
  char by_name[NAME_MAX + 1];  // its name made of the map's name when made, or empty
  std::uint64_t birth;         // the map's birth time in nanoseconds, 0 if not known
};

struct journal {
  int fd = -1;
  const char* found_as;  // one of the place's names
  journal_record record;
};

enum class journal_found {
  none,         // no file of the journal's names
  ready,        // a journal of this map: the conversion may be unfinished
  finished,     // one whose conversion is known finished: of no more use
  damaged,      // its bytes no longer agree with each other
  other_file,   // a journal of another file (size, inode, birth)
  two_journals, // its names lead to two journals of this map: a copy, or another conversion's
  foreign,      // made by someone who may not write the map
  not_a_file,   // a folder, a FIFO, a device, a link: never opened
  unreadable,   // it cannot be opened or read
};

// Looks for the journal of the map whose status is `map`, under the name
// made of its inode and then under the one made of its name. `found`
// holds it when it is ready or finished (opened for writing where
// permitted, so that it can be marked finished later).
journal_found find_journal(const journal_place& place, int mapfile, const struct stat& map, journal& found);

// Gives a journal found only under the name made of the map's name (an
// earlier version's) the name made of the inode too, so that a run given
// another name of the map finds it after a crash of this one.
bool name_journal(const journal_place& place, const journal& j);

enum class journal_made { made, impossible, exists, not_a_file, foreign, read_failed, not_seekable, stopped };

// Writes the journal of the map, reading every data sector once through
// `block` (block_bytes), makes it durable and gives it its names; with the
// owner and permissions of the map where it may, so that whoever may
// convert the map may finish it. `stop` is asked at every block; when it
// says yes, or when anything fails, nothing is left. `exists`: a file of
// one of its names is there and must not be removed (a run that took no
// lock may be writing it); `not_a_file`: a folder or the like has the name
// it is written under; `foreign`: a file of another user has that name.
// `impossible` (errno set): it could not be written. The record's name
// made of the map's name is filled in here.
journal_made make_journal(const journal_place& place, int mapfile, const struct stat& map,
                          journal_record& record, unsigned char* block, bool (*stop)(), journal& made);

enum class journal_end {
  removed,     // gone, and its removal durable
  unsynced,    // gone, but its folder could not be synced: marked finished first
  marked,      // it cannot be removed: marked finished, the next run passes it by
  left,        // it can be neither removed nor marked
};

// Marks the journal finished, durably: one that is left is then passed
// by. False when it cannot be.
bool mark_finished(const journal& j);

// Ends the journal of a map now durable in one byte order: both its names
// go. errno tells why, unless removed.
journal_end end_journal(const journal_place& place, journal& j);

// The checksums of the sectors of the data bytes [from, from + bytes),
// `from` a sector boundary.
bool read_sums(const journal& j, std::int64_t from, std::int64_t bytes, std::uint64_t* sums);

enum class sector_order { old_order, new_order, neither };

// Brings the `count` data bytes from a sector boundary to the order asked
// for, in place, sector by sector as their checksums tell; `changed` is
// set when any sector was reversed. False when a sector is in neither
// order: the bytes must then not be written.
bool bring_sectors(unsigned char* bytes, std::int64_t count, const std::uint64_t* sums,
                   std::int32_t bytes_per_value, bool to_new, bool& changed);

// The order of each 512-byte half of a map header against the original
// one: new when it equals the converted original; old when it equals the
// original (a half the conversion leaves alone is both, and counts old).
sector_order header_half_order(const unsigned char* current, const unsigned char* original, int half);

}  // namespace zeb
