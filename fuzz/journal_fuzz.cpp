// endian_switch's journal as untrusted input, read back from a file as the
// tool reads it. The first byte chooses:
//   odd: the rest of the input is a journal file beside a map; whatever it
//     holds, reading it must neither crash nor take it for the journal of
//     another map;
//   even: the rest is a map's data. The journal the tool makes of it must
//     read back as the same record; changed in one byte or cut short, it
//     is refused as damaged (or, for a byte of the integrity record's
//     unused part, still read as the same record), never thrown away.
//     On the same data, any mix of sectors in the old and the new order is
//     brought to either order, and a sector changed in one byte is in
//     neither.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "block_io.h"
#include "journal.h"

namespace {

// A folder in memory where there is one: the journal is synced at every
// step, and on a disk that costs more than the rest of an execution.
const char* scratch() {
  static char path[] = "/dev/shm/journal_fuzz.XXXXXX";
  static char fallback[] = "/tmp/journal_fuzz.XXXXXX";
  static const char* made = mkdtemp(path) != nullptr ? path : mkdtemp(fallback);
  if (made == nullptr) std::abort();
  static const int removed_at_exit = std::atexit([] { rmdir(made); });
  (void)removed_at_exit;
  return made;
}

bool never() { return false; }

alignas(64) unsigned char block[zeb::block_bytes];
std::uint64_t sums[zeb::block_sectors];

std::vector<unsigned char> file_bytes(const char* path) {
  std::vector<unsigned char> b;
  const int fd = open(path, O_RDONLY);
  if (fd < 0) return b;
  unsigned char chunk[4096];
  ssize_t got;
  while ((got = read(fd, chunk, sizeof chunk)) > 0) b.insert(b.end(), chunk, chunk + got);
  close(fd);
  return b;
}

void put_file(const char* path, const unsigned char* bytes, std::size_t n) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || zeb::write_at(fd, bytes, n, 0) != zeb::transfer::done) std::abort();
  close(fd);
}

bool same_record(const zeb::journal_record& a, const zeb::journal_record& b) {
  return a.inode == b.inode && a.map_size == b.map_size && a.data_end == b.data_end &&
         std::memcmp(a.header, b.header, zeb::header_bytes) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::bytes in{data, size};
  const std::uint8_t what = in.take();
  const std::int32_t bytes_per_value = (in.take() & 1) ? 4 : 2;
  const std::size_t at = in.take() | std::size_t{in.take()} << 8;
  const std::uint8_t change = in.take();
  const std::uint8_t new_sectors = in.take();

  char map_path[64], journal_path[128], link_path[128];
  std::snprintf(map_path, sizeof map_path, "%s/m.map", scratch());

  // The map: a header of the input's first bytes, then whole 4-byte values.
  std::vector<unsigned char> map(zeb::header_bytes, 0);
  const std::size_t data_bytes = (what & 1) ? 0 : in.n / 4 * 4;
  std::memcpy(map.data(), in.p, std::min<std::size_t>(in.n, zeb::header_bytes));
  map.insert(map.end(), in.p, in.p + data_bytes);
  put_file(map_path, map.data(), map.size());
  const int mapfile = open(map_path, O_RDONLY);
  struct stat status;
  zeb::journal_place place;
  if (mapfile < 0 || fstat(mapfile, &status) != 0 || !zeb::find_journal_place(map_path, status, place)) std::abort();
  std::snprintf(journal_path, sizeof journal_path, "%s/%s", scratch(), place.name);
  std::snprintf(link_path, sizeof link_path, "%s/%s", scratch(), place.by_name);
  zeb::journal j;

  if (what & 1) {
    put_file(journal_path, in.p, in.n);
    const zeb::journal_found found = zeb::find_journal(place, mapfile, status, j);
    if (found == zeb::journal_found::ready) {
      FUZZ_CHECK(j.record.inode == status.st_ino && j.record.map_size == status.st_size);
      FUZZ_CHECK(j.record.data_end >= zeb::header_bytes && j.record.data_end <= j.record.map_size);
    }
    if (found == zeb::journal_found::ready || found == zeb::journal_found::finished) close(j.fd);
  } else {
    zeb::journal_record record = {};
    record.device = status.st_dev;
    record.inode = status.st_ino;
    record.map_size = status.st_size;
    record.data_end = zeb::header_bytes + static_cast<std::int64_t>(data_bytes);
    std::memcpy(record.header, map.data(), zeb::header_bytes);
    FUZZ_CHECK(zeb::make_journal(place, mapfile, status, record, block, never, j) == zeb::journal_made::made);
    close(j.fd);

    FUZZ_CHECK(zeb::find_journal(place, mapfile, status, j) == zeb::journal_found::ready);
    FUZZ_CHECK(same_record(j.record, record));

    // Sectors in either order, chosen by the input, brought to each order.
    if (data_bytes > 0) {
      FUZZ_CHECK(zeb::read_sums(j, zeb::header_bytes, static_cast<std::int64_t>(data_bytes), sums));
      const auto n = static_cast<std::int64_t>(data_bytes);
      std::vector<unsigned char> reversed(map.begin() + zeb::header_bytes, map.end());
      zeb::swap_bytes(reversed.data(), bytes_per_value, static_cast<std::int32_t>(data_bytes / bytes_per_value));
      std::memcpy(block, map.data() + zeb::header_bytes, data_bytes);
      for (std::int64_t s = 0; s * zeb::sector_bytes < n; ++s)
        if (new_sectors >> (s % 8) & 1)
          std::memcpy(block + s * zeb::sector_bytes, reversed.data() + s * zeb::sector_bytes,
                      static_cast<std::size_t>(std::min(zeb::sector_bytes, n - s * zeb::sector_bytes)));
      bool changed = false;
      FUZZ_CHECK(zeb::bring_sectors(block, n, sums, bytes_per_value, true, changed));
      FUZZ_CHECK(std::memcmp(block, reversed.data(), data_bytes) == 0);
      FUZZ_CHECK(zeb::bring_sectors(block, n, sums, bytes_per_value, false, changed));
      FUZZ_CHECK(std::memcmp(block, map.data() + zeb::header_bytes, data_bytes) == 0);
      block[at % data_bytes] ^= change | 1;
      FUZZ_CHECK(!zeb::bring_sectors(block, n, sums, bytes_per_value, true, changed));
    }
    close(j.fd);

    // The journal changed in one byte, or cut short.
    std::vector<unsigned char> journal = file_bytes(journal_path);
    const std::size_t where = at % journal.size();
    if (change & 0x80) journal.resize(where);
    else journal[where] ^= change | 1;
    put_file(journal_path, journal.data(), journal.size());
    const zeb::journal_found found = zeb::find_journal(place, mapfile, status, j);
    const bool commit_padding = !(change & 0x80) && where >= 32 && where < 512;
    FUZZ_CHECK(found == zeb::journal_found::damaged ||
               (found == zeb::journal_found::ready && commit_padding && same_record(j.record, record)));
    if (found == zeb::journal_found::ready) close(j.fd);
  }
  unlink(journal_path);
  unlink(link_path);
  unlink(map_path);
  close(mapfile);
  close(place.folder);
  return 0;
}
