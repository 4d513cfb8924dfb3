#include "journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "block_io.h"
#include "command_line.h"
#include "sector_sums.h"

// xxHash is used from its header alone, so that the tool stays one static
// binary without a library of its own.
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace zeb {

namespace {

constexpr char magic[8] = {'Z', 'E', 'B', 'J', 'R', 'N', 'L', '1'};
constexpr char finished_magic[8] = {'Z', 'E', 'B', 'J', 'D', 'O', 'N', 'E'};
constexpr char by_name_suffix[] = ".endian_switch-journal";
constexpr std::int64_t record_bytes = sector_bytes;
constexpr std::int64_t sums_at = 2048;  // integrity record, identity, header

// Offsets in the identity sector (bytes 512-1023).
constexpr int device_at = 512 + 8, inode_at = 512 + 16, size_at = 512 + 24, end_at = 512 + 32,
              count_at = 512 + 40, by_name_at = 512 + 48, birth_at = by_name_at + NAME_MAX + 1,
              header_at = 1024;

// Offsets in the integrity record.
constexpr int length_at = 8, digest_at = 16, self_at = 24;

// When the map was made, so that a file put in its place, even one that
// the file system gave the same inode number, is found to be another.
std::uint64_t birth_of(int fd) {
  struct statx x;
  if (statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &x) != 0 || (x.stx_mask & STATX_BTIME) == 0) return 0;
  return static_cast<std::uint64_t>(x.stx_btime.tv_sec) * 1000000000u + x.stx_btime.tv_nsec;
}

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

// The integrity record of a journal of `length` bytes whose bytes from
// 512 on have the checksum `digest`.
void make_record(unsigned char* record, const char (&which)[8], std::uint64_t length, std::uint64_t digest) {
  std::memset(record, 0, record_bytes);
  std::memcpy(record, which, sizeof which);
  put(record + length_at, length);
  put(record + digest_at, digest);
  put(record + self_at, checksum(record, self_at));
}

bool sync_folder(const journal_place& place, int fd_inside) {
  return place.folder_syncs ? fsync(place.folder) == 0 : syncfs(fd_inside) == 0;
}

// Removes those of the names that are names of the file open as `fd`
// (what is left under them may be another file's); true when none is left.
bool remove_names(const journal_place& place, int fd, std::initializer_list<const char*> names) {
  struct stat own;
  if (fstat(fd, &own) != 0) return false;
  for (const char* name : names) {
    struct stat there;
    if (name[0] == '\0') continue;
    if (fstatat(place.folder, name, &there, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;
      return false;
    }
    if (there.st_ino == own.st_ino && unlinkat(place.folder, name, 0) != 0) return false;
  }
  return true;
}

// Removes the journal being written, under every name it has been given,
// keeping errno for the caller.
void discard(const journal_place& place, int fd) {
  const int saved = errno;
  remove_names(place, fd, {place.making, place.by_name, place.name});
  close(fd);
  errno = saved;
}

// What the journal open as `j.fd` is, its record filled in when ready.
journal_found check_journal(int mapfile, const struct stat& map, journal& j) {
  struct stat status;
  unsigned char head[sums_at];
  if (fstat(j.fd, &status) != 0) return journal_found::unreadable;
  if (status.st_size < sums_at) return journal_found::damaged;
  if (read_at(j.fd, head, sums_at, 0) != transfer::done) return journal_found::unreadable;
  const bool finished = std::memcmp(head, finished_magic, sizeof finished_magic) == 0;
  if ((!finished && std::memcmp(head, magic, sizeof magic) != 0) || get(head + self_at) != checksum(head, self_at))
    return journal_found::damaged;
  std::memcpy(j.record.by_name, head + by_name_at, sizeof j.record.by_name);
  j.record.by_name[sizeof j.record.by_name - 1] = '\0';
  if (finished) return journal_found::finished;

  const std::uint64_t length = get(head + length_at);
  if (length != static_cast<std::uint64_t>(status.st_size) || (length - sums_at) % 8 != 0)
    return journal_found::damaged;
  XXH3_state_t state;
  XXH3_INITSTATE(&state);
  XXH3_64bits_reset(&state);
  XXH3_64bits_update(&state, head + record_bytes, sums_at - record_bytes);
  static unsigned char chunk[1 << 16];
  for (std::uint64_t at = sums_at; at < length;) {
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
  r.birth = get(head + birth_at);
  const std::uint64_t count = get(head + count_at);
  if (std::memcmp(head + record_bytes, magic, sizeof magic) != 0 || r.data_end < header_bytes ||
      r.data_end > r.map_size || count != (length - sums_at) / 8 ||
      count != static_cast<std::uint64_t>(sectors_of(r.data_end - header_bytes)))
    return journal_found::damaged;
  // The device is not compared: some devices are numbered anew at every
  // start of the system, and the journal lies in the map's own folder.
  const std::uint64_t birth = birth_of(mapfile);
  if (r.inode != map.st_ino || r.map_size != map.st_size || (r.birth != 0 && birth != 0 && r.birth != birth))
    return journal_found::other_file;
  return journal_found::ready;
}

// A journal may be trusted when it was made by someone who may write the
// map anyway: its owner, root, the runner, or, for a map its group or
// everyone may write, a member of the map's group (whose journal takes the
// map's group) or anyone. Anyone else could steer the conversion.
bool own_or_trusted(const struct stat& journal, const struct stat& map) {
  return journal.st_uid == map.st_uid || journal.st_uid == 0 || journal.st_uid == geteuid() ||
         (map.st_mode & S_IWOTH) != 0 || ((map.st_mode & S_IWGRP) != 0 && journal.st_gid == map.st_gid);
}

// Opens the journal found under `name` (a regular file, as `named` says),
// for writing where permitted. The file is never opened if it is not a
// regular one: a FIFO would block, a device may act on being opened.
bool open_journal(const journal_place& place, const char* name, const struct stat& named, journal& j) {
  constexpr int flags = O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;
  j.fd = above_standard_streams(openat(place.folder, name, O_RDWR | flags));
  if (j.fd < 0) j.fd = above_standard_streams(openat(place.folder, name, O_RDONLY | flags));
  if (j.fd < 0) return false;
  j.found_as = name;
  struct stat opened;
  return fstat(j.fd, &opened) == 0 && opened.st_ino == named.st_ino;  // not replaced in between
}

// Follows the symbolic links of the name's last part, so that the journal
// lies beside the map file itself whichever link leads to it.
bool resolve_links(const char* map_name, char (&path)[PATH_MAX]) {
  if (std::strlen(map_name) >= sizeof path) return errno = ENAMETOOLONG, false;
  std::strcpy(path, map_name);
  for (int hops = 0; hops < 40; ++hops) {
    char target[PATH_MAX];
    const ssize_t n = readlink(path, target, sizeof target - 1);
    if (n < 0) return errno == EINVAL;  // not a link: found
    target[n] = '\0';
    const char* slash = std::strrchr(path, '/');
    const std::size_t folder = target[0] == '/' || slash == nullptr ? 0 : static_cast<std::size_t>(slash - path) + 1;
    if (folder + static_cast<std::size_t>(n) >= sizeof path) return errno = ENAMETOOLONG, false;
    std::memcpy(path + folder, target, static_cast<std::size_t>(n) + 1);
  }
  return errno = ELOOP, false;
}

}  // namespace

bool find_journal_place(const char* map_name, const struct stat& map, journal_place& place) {
  char path[PATH_MAX];
  if (!resolve_links(map_name, path)) return false;
  char* slash = std::strrchr(path, '/');
  const char* base = slash != nullptr ? slash + 1 : path;
  const char* folder = slash == path ? "/" : slash != nullptr ? path : ".";
  std::snprintf(place.name, sizeof place.name, "endian_switch-journal.%ju", static_cast<std::uintmax_t>(map.st_ino));
  std::snprintf(place.making, sizeof place.making, "%s.new", place.name);
  const std::size_t base_length = std::strlen(base);
  place.by_name[0] = '\0';
  if (base_length + sizeof by_name_suffix <= sizeof place.by_name) {
    std::memcpy(place.by_name, base, base_length);
    std::memcpy(place.by_name + base_length, by_name_suffix, sizeof by_name_suffix);
  }
  if (slash != nullptr && slash != path) *slash = '\0';  // the folder's path ends; the base stays

  // A folder that may be searched but not read is still the place: the
  // journal is found by name, and its file system is synced instead.
  place.folder = above_standard_streams(open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  place.folder_syncs = place.folder >= 0;
  if (place.folder < 0 && errno == EACCES)
    place.folder = above_standard_streams(open(folder, O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (place.folder < 0) return false;
  struct stat named;
  if (fstatat(place.folder, base, &named, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (named.st_dev != map.st_dev || named.st_ino != map.st_ino) return errno = ESTALE, false;
  return true;
}

// What lies under one of the journal's names, `named` its status; `found`
// is left open when it is ready or finished.
journal_found look_at(const journal_place& place, const char* name, const struct stat& named, int mapfile,
                      const struct stat& map, journal& found) {
  if (!S_ISREG(named.st_mode)) return journal_found::not_a_file;
  if (!own_or_trusted(named, map)) return journal_found::foreign;
  const journal_found kind =
      open_journal(place, name, named, found) ? check_journal(mapfile, map, found) : journal_found::unreadable;
  if (kind != journal_found::ready && kind != journal_found::finished && found.fd >= 0) {
    close(found.fd);
    found.fd = -1;
  }
  return kind;
}

journal_found find_journal(const journal_place& place, int mapfile, const struct stat& map, journal& found) {
  for (const char* name : {place.name, place.by_name}) {
    struct stat named;
    if (name[0] == '\0') continue;
    if (fstatat(place.folder, name, &named, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;
      return journal_found::unreadable;
    }
    const journal_found kind = look_at(place, name, named, mapfile, map, found);
    if (kind != journal_found::ready && kind != journal_found::finished) return kind;
    // Another file under another of its names, unless it is the journal
    // of another map, leaves it unknown which of the two to trust: a copy,
    // or a journal of another conversion of this map.
    for (const char* other : {place.by_name, static_cast<const char*>(found.record.by_name)}) {
      struct stat there;
      if (other[0] == '\0' || std::strcmp(other, name) == 0) continue;
      if (fstatat(place.folder, other, &there, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) continue;
        close(found.fd);
        found.fd = -1;
        return journal_found::unreadable;
      }
      if (there.st_ino == named.st_ino) continue;
      journal second;
      const journal_found second_kind = look_at(place, other, there, mapfile, map, second);
      if (second.fd >= 0) close(second.fd);
      if (second_kind == journal_found::other_file) continue;
      close(found.fd);
      found.fd = -1;
      return second_kind == journal_found::ready || second_kind == journal_found::finished ? journal_found::two_journals
                                                                                          : second_kind;
    }
    return kind;
  }
  return journal_found::none;
}

journal_made make_journal(const journal_place& place, int mapfile, const struct stat& map,
                          journal_record& record, unsigned char* block, bool (*stop)(), journal& made) {
  // What an earlier run left under this name was never committed. A file
  // with another name too, or one that is not a file, is not one of those.
  struct stat left;
  if (fstatat(place.folder, place.making, &left, AT_SYMLINK_NOFOLLOW) == 0) {
    if (!S_ISREG(left.st_mode)) return journal_made::not_a_file;
    // (Nor is the map itself, should it bear that name, nor a file of a
    // user who could not have run this conversion.)
    if (left.st_nlink > 1 || left.st_ino == map.st_ino) return journal_made::exists;
    if (!own_or_trusted(left, map)) return journal_made::foreign;
    // We hold the map's lock: no run is writing it. One this runner may
    // not remove leaves no place for a journal.
    if (unlinkat(place.folder, place.making, 0) != 0) return journal_made::impossible;
  }
  const int fd = above_standard_streams(openat(place.folder, place.making,
                                               O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600));
  if (fd < 0) return errno == EEXIST ? journal_made::exists : journal_made::impossible;
  // Only root may give a file away: the journal then stays the runner's,
  // in the map's group where the runner belongs to it.
  if (fchown(fd, map.st_uid, map.st_gid) != 0) (void)!fchown(fd, static_cast<uid_t>(-1), map.st_gid);
  (void)!fchmod(fd, map.st_mode & 0666);
  std::memcpy(record.by_name, place.by_name, sizeof record.by_name);
  record.birth = birth_of(mapfile);

  unsigned char head[sums_at] = {};
  std::memcpy(head + record_bytes, magic, sizeof magic);
  put(head + device_at, record.device);
  put(head + inode_at, record.inode);
  put(head + size_at, static_cast<std::uint64_t>(record.map_size));
  put(head + end_at, static_cast<std::uint64_t>(record.data_end));
  const std::int64_t count = sectors_of(record.data_end - header_bytes);
  put(head + count_at, static_cast<std::uint64_t>(count));
  std::memcpy(head + by_name_at, record.by_name, std::strlen(record.by_name));
  put(head + birth_at, record.birth);
  std::memcpy(head + header_at, record.header, header_bytes);
  XXH3_state_t state;
  XXH3_INITSTATE(&state);
  XXH3_64bits_reset(&state);
  XXH3_64bits_update(&state, head + record_bytes, sums_at - record_bytes);

  static std::uint64_t sums[block_sectors];
  for (std::int64_t at = header_bytes; at < record.data_end; at = block_end(at, record.data_end)) {
    if (stop()) {
      discard(place, fd);
      return journal_made::stopped;
    }
    const std::int64_t bytes = block_end(at, record.data_end) - at;
    const transfer got = read_at(mapfile, block, static_cast<std::size_t>(bytes), at);
    if (got != transfer::done) {
      discard(place, fd);
      return got == transfer::not_seekable ? journal_made::not_seekable : journal_made::read_failed;
    }
    const std::int64_t n = sectors_of(bytes);
    sector_sums(block, bytes, sums);
    if (write_at(fd, sums, static_cast<std::size_t>(8 * n), sums_offset(at)) != transfer::done) {
      discard(place, fd);
      return journal_made::impossible;
    }
    XXH3_64bits_update(&state, sums, static_cast<std::size_t>(8 * n));
  }
  make_record(head, magic, static_cast<std::uint64_t>(sums_at + 8 * count), XXH3_64bits_digest(&state));
  if (write_at(fd, head, sums_at, 0) != transfer::done || fsync(fd) != 0) {
    discard(place, fd);
    return journal_made::impossible;
  }

  // The journal is whole and durable before it takes its names, and they
  // are durable before the map's first byte changes. No file of those
  // names can be there (the map is locked, and none was found): one that
  // is must not be replaced. The name made of the inode comes first, so
  // that whatever a crash keeps of the two leads every name of the map
  // to the journal. A file system without hard links keeps that one alone.
  int renamed = renameat2(place.folder, place.making, place.folder, place.name, RENAME_NOREPLACE);
  if (renamed != 0 && (errno == EINVAL || errno == ENOSYS)) {  // a file system without it
    struct stat there;
    renamed = fstatat(place.folder, place.name, &there, AT_SYMLINK_NOFOLLOW) == 0 ? (errno = EEXIST, -1)
              : errno != ENOENT                                                 ? -1
                                                        : renameat(place.folder, place.making, place.folder, place.name);
  }
  if (renamed != 0 || (place.by_name[0] != '\0' &&
                       linkat(place.folder, place.name, place.folder, place.by_name, 0) != 0 && errno == EEXIST)) {
    const journal_made why = errno == EEXIST ? journal_made::exists : journal_made::impossible;
    discard(place, fd);
    return why;
  }
  if (!sync_folder(place, fd)) {
    discard(place, fd);
    return journal_made::impossible;
  }
  made.fd = fd;
  made.found_as = place.name;
  made.record = record;
  return journal_made::made;
}

bool name_journal(const journal_place& place, const journal& j) {
  if (std::strcmp(j.found_as, place.name) == 0) return true;
  return linkat(place.folder, j.found_as, place.folder, place.name, 0) == 0 && sync_folder(place, j.fd);
}

bool mark_finished(const journal& j) {
  unsigned char record[record_bytes];
  if (read_at(j.fd, record, record_bytes, 0) != transfer::done) return false;
  make_record(record, finished_magic, get(record + length_at), get(record + digest_at));
  return write_at(j.fd, record, record_bytes, 0) == transfer::done && fdatasync(j.fd) == 0;
}

journal_end end_journal(const journal_place& place, journal& j) {
  // Marked finished, a journal that stays, or comes back after a crash
  // because its removal was not durable, is passed by: the next run
  // converts the map again instead of finishing this conversion twice.
  journal_end end = journal_end::removed;
  int error = 0;
  // The names made of the map's name go first, and durably: left alone
  // by a crash, one of them would lead only that name of the map to the
  // journal, where the name made of the inode leads every name.
  if (remove_names(place, j.fd, {j.record.by_name, place.by_name, place.making}) && sync_folder(place, j.fd) &&
      remove_names(place, j.fd, {place.name})) {
    if (!sync_folder(place, j.fd)) {
      error = errno;
      mark_finished(j);
      end = journal_end::unsynced;
    }
  } else {
    error = errno;
    end = mark_finished(j) ? journal_end::marked : journal_end::left;
  }
  close(j.fd);
  j.fd = -1;
  errno = error;
  return end;
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
    if (sector_sum(sector, n) == sums[s]) {  // old, or the same in both orders
      if (to_new) swap_bytes(sector, bytes_per_value, values);
      changed = changed || to_new;
      continue;
    }
    swap_bytes(sector, bytes_per_value, values);
    if (sector_sum(sector, n) != sums[s]) return false;
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
