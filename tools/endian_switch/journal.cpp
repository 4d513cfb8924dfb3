#include "journal.h"

#include "command_line.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

// xxHash is used from its header alone, so that the tool stays one static
// binary without a library of its own.
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace zeb {

namespace {

constexpr char magic[8] = {'Z', 'E', 'B', 'J', 'R', 'N', 'L', '1'};
constexpr char suffix[] = ".endian_switch-journal";
constexpr std::int64_t commit_bytes = sector_bytes;
constexpr std::int64_t sums_at = 2048;  // commit record, identity, header

// Offsets in the identity sector (bytes 512-1023).
constexpr int device_at = 512 + 8, inode_at = 512 + 16, size_at = 512 + 24, end_at = 512 + 32,
              count_at = 512 + 40, header_at = 1024;

// Offsets in the commit record.
constexpr int length_at = 8, digest_at = 16, self_at = 24;

std::uint64_t checksum(const void* bytes, std::size_t count) { return XXH3_64bits(bytes, count); }

void put(unsigned char* at, std::uint64_t v) { std::memcpy(at, &v, sizeof v); }

std::uint64_t get(const unsigned char* at) {
  std::uint64_t v;
  std::memcpy(&v, at, sizeof v);
  return v;
}

// Data sectors of the bytes [1024, data_end): the last may be short.
std::int64_t sectors_of(std::int64_t data_bytes) { return (data_bytes + sector_bytes - 1) / sector_bytes; }

std::int64_t sums_offset(std::int64_t from) { return sums_at + 8 * ((from - header_bytes) / sector_bytes); }

transfer move_at(int fd, unsigned char* buffer, std::size_t bytes, off_t offset, bool writing) {
  std::size_t moved = 0;
  while (moved < bytes) {
    const off_t at = offset + static_cast<off_t>(moved);
    const ssize_t done = writing ? pwrite(fd, buffer + moved, bytes - moved, at)
                                 : pread(fd, buffer + moved, bytes - moved, at);
    if (done > 0) {
      moved += static_cast<std::size_t>(done);
      continue;
    }
    if (done < 0 && errno == EINTR) continue;
    return done < 0 && errno == ESPIPE ? transfer::not_seekable : transfer::failed;
  }
  return transfer::done;
}

// Removes a journal this run has just made or found unfinished; errno is
// kept for the caller's report.
void discard(const journal_place& place, int fd) {
  const int saved = errno;
  if (fd >= 0) close(fd);
  if (unlinkat(place.folder, place.name, 0) == 0) fsync(place.folder);
  errno = saved;
}

// What the journal open as `j.fd` is, its record filled in when ready.
// Only a complete journal, made durable before its commit record, can
// belong to a map that has changed: anything less is thrown away.
journal_found check_journal(const journal_place& place, const struct stat& map, journal& j) {
  struct stat status;
  unsigned char head[sums_at];
  if (fstat(j.fd, &status) != 0 || !S_ISREG(status.st_mode)) return journal_found::unreadable;
  if (status.st_size < commit_bytes) {
    discard(place, j.fd);
    return journal_found::unfinished;
  }
  if (read_at(j.fd, head, commit_bytes, 0) != transfer::done) return journal_found::unreadable;
  if (std::memcmp(head, magic, sizeof magic) != 0 || get(head + self_at) != checksum(head, self_at)) {
    discard(place, j.fd);
    return journal_found::unfinished;
  }

  const std::uint64_t length = get(head + length_at);
  if (length != static_cast<std::uint64_t>(status.st_size) || length < sums_at || (length - sums_at) % 8 != 0)
    return journal_found::damaged;
  if (read_at(j.fd, head + commit_bytes, sums_at - commit_bytes, commit_bytes) != transfer::done)
    return journal_found::unreadable;
  XXH3_state_t state;
  XXH3_INITSTATE(&state);
  XXH3_64bits_reset(&state);
  static unsigned char chunk[1 << 16];
  for (std::uint64_t at = commit_bytes; at < length;) {
    const std::size_t bytes = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof chunk, length - at));
    if (read_at(j.fd, chunk, bytes, static_cast<off_t>(at)) != transfer::done) return journal_found::unreadable;
    XXH3_64bits_update(&state, chunk, bytes);
    at += bytes;
  }
  if (XXH3_64bits_digest(&state) != get(head + digest_at)) return journal_found::damaged;

  journal_record& r = j.record;
  r.device = get(head + device_at);
  r.inode = get(head + inode_at);
  r.map_size = static_cast<std::int64_t>(get(head + size_at));
  r.data_end = static_cast<std::int64_t>(get(head + end_at));
  std::memcpy(r.header, head + header_at, header_bytes);
  const std::uint64_t count = get(head + count_at);
  if (std::memcmp(head + commit_bytes, magic, sizeof magic) != 0 || r.data_end < header_bytes ||
      r.data_end > r.map_size || count != (length - sums_at) / 8 ||
      count != static_cast<std::uint64_t>(sectors_of(r.data_end - header_bytes)))
    return journal_found::damaged;
  // The device is not compared: some devices are numbered anew at every
  // start of the system, and the journal lies in the map's own folder.
  if (r.inode != map.st_ino || r.map_size != map.st_size) return journal_found::other_file;
  return journal_found::ready;
}

}  // namespace

transfer read_at(int fd, void* buffer, std::size_t bytes, off_t offset) {
  return move_at(fd, static_cast<unsigned char*>(buffer), bytes, offset, false);
}

transfer write_at(int fd, const void* buffer, std::size_t bytes, off_t offset) {
  return move_at(fd, static_cast<unsigned char*>(const_cast<void*>(buffer)), bytes, offset, true);
}

bool find_journal_place(const char* map_name, journal_place& place) {
  char path[PATH_MAX];
  if (realpath(map_name, path) == nullptr) return false;
  char* slash = std::strrchr(path, '/');
  const char* base = slash + 1;
  if (std::strlen(base) + sizeof suffix > sizeof place.name) {
    errno = ENAMETOOLONG;
    return false;
  }
  std::strcpy(place.name, base);
  std::strcat(place.name, suffix);
  if (slash == path) slash[1] = '\0';  // a map in the root folder
  else slash[0] = '\0';
  place.folder = above_standard_streams(open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return place.folder >= 0;
}

journal_found find_journal(const journal_place& place, const struct stat& map, journal& found) {
  found.fd = above_standard_streams(openat(place.folder, place.name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY));
  if (found.fd < 0) return errno == ENOENT ? journal_found::none : journal_found::unreadable;
  const journal_found kind = check_journal(place, map, found);
  if (kind != journal_found::ready && kind != journal_found::unfinished) close(found.fd);
  if (kind != journal_found::ready) found.fd = -1;
  return kind;
}

journal_made make_journal(const journal_place& place, int mapfile, const journal_record& record,
                          unsigned char* block, std::uint64_t* sums, bool (*stop)(), journal& made) {
  const int fd = above_standard_streams(
      openat(place.folder, place.name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0666));
  if (fd < 0) return journal_made::impossible;
  made.fd = fd;
  made.record = record;

  // The commit record stays zero until the rest is durable.
  unsigned char head[sums_at] = {};
  std::memcpy(head + commit_bytes, magic, sizeof magic);
  put(head + device_at, record.device);
  put(head + inode_at, record.inode);
  put(head + size_at, static_cast<std::uint64_t>(record.map_size));
  put(head + end_at, static_cast<std::uint64_t>(record.data_end));
  const std::int64_t count = sectors_of(record.data_end - header_bytes);
  put(head + count_at, static_cast<std::uint64_t>(count));
  std::memcpy(head + header_at, record.header, header_bytes);
  if (write_at(fd, head, sums_at, 0) != transfer::done) {
    discard(place, fd);
    return journal_made::impossible;
  }
  XXH3_state_t state;
  XXH3_INITSTATE(&state);
  XXH3_64bits_reset(&state);
  XXH3_64bits_update(&state, head + commit_bytes, sums_at - commit_bytes);

  for (std::int64_t at = header_bytes; at < record.data_end; at += block_bytes) {
    if (stop()) {
      discard(place, fd);
      return journal_made::stopped;
    }
    const std::int64_t bytes = std::min(block_bytes, record.data_end - at);
    const transfer got = read_at(mapfile, block, static_cast<std::size_t>(bytes), at);
    if (got != transfer::done) {
      discard(place, fd);
      return got == transfer::not_seekable ? journal_made::not_seekable : journal_made::read_failed;
    }
    const std::int64_t n = sectors_of(bytes);
    for (std::int64_t s = 0; s < n; ++s)
      sums[s] = checksum(block + s * sector_bytes, static_cast<std::size_t>(std::min(sector_bytes, bytes - s * sector_bytes)));
    if (write_at(fd, sums, static_cast<std::size_t>(8 * n), sums_offset(at)) != transfer::done) {
      discard(place, fd);
      return journal_made::impossible;
    }
    XXH3_64bits_update(&state, sums, static_cast<std::size_t>(8 * n));
  }

  // The journal and its name are durable before the record that makes it
  // count, and that record is durable before the map's first byte changes.
  unsigned char commit[commit_bytes] = {};
  std::memcpy(commit, magic, sizeof magic);
  put(commit + length_at, static_cast<std::uint64_t>(sums_at + 8 * count));
  put(commit + digest_at, XXH3_64bits_digest(&state));
  put(commit + self_at, checksum(commit, self_at));
  if (fsync(fd) != 0 || fsync(place.folder) != 0 || write_at(fd, commit, commit_bytes, 0) != transfer::done ||
      fdatasync(fd) != 0) {
    discard(place, fd);
    return journal_made::impossible;
  }
  return journal_made::made;
}

bool remove_journal(const journal_place& place, journal& j) {
  close(j.fd);
  j.fd = -1;
  return unlinkat(place.folder, place.name, 0) == 0 && fsync(place.folder) == 0;
}

bool read_sums(const journal& j, std::int64_t from, std::int64_t bytes, std::uint64_t* sums) {
  return read_at(j.fd, sums, static_cast<std::size_t>(8 * sectors_of(bytes)), sums_offset(from)) == transfer::done;
}

bool bring_sectors(unsigned char* bytes, std::int64_t count, const std::uint64_t* sums,
                   std::int32_t bytes_per_value, bool to_new, bool& changed) {
  for (std::int64_t s = 0; s * sector_bytes < count; ++s) {
    unsigned char* sector = bytes + s * sector_bytes;
    const std::size_t n = static_cast<std::size_t>(std::min(sector_bytes, count - s * sector_bytes));
    const std::int32_t values = static_cast<std::int32_t>(n) / bytes_per_value;
    if (checksum(sector, n) == sums[s]) {  // old, or the same in both orders
      if (to_new) swap_bytes(sector, bytes_per_value, values);
      changed = changed || to_new;
      continue;
    }
    swap_bytes(sector, bytes_per_value, values);
    if (checksum(sector, n) != sums[s]) return false;
    if (to_new) swap_bytes(sector, bytes_per_value, values);  // it was new already
    changed = changed || !to_new;
  }
  return true;
}

sector_order header_half_order(const unsigned char* current, const unsigned char* original, int half) {
  unsigned char converted[header_bytes];
  std::memcpy(converted, original, header_bytes);
  convert_header(converted);
  const std::size_t at = static_cast<std::size_t>(half) * sector_bytes;
  if (std::memcmp(current + at, original + at, sector_bytes) == 0) return sector_order::old_order;
  if (std::memcmp(current + at, converted + at, sector_bytes) == 0) return sector_order::new_order;
  return sector_order::neither;
}

}  // namespace zeb
