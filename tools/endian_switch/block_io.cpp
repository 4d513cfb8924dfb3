#include "block_io.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace zeb {

namespace {

constexpr off_t page_bytes = 4096;

template <typename Move>
transfer move_at(std::size_t bytes, off_t offset, Move move, std::size_t* counted = nullptr) {
  std::size_t scratch = 0;
  std::size_t& moved = counted != nullptr ? *counted : scratch;
  moved = 0;
  while (moved < bytes) {
    const ssize_t done = move(moved, bytes - moved, offset + static_cast<off_t>(moved));
    if (done > 0) {
      moved += static_cast<std::size_t>(done);
      continue;
    }
    if (done < 0 && errno == EINTR) continue;
    return done < 0 && errno == ESPIPE ? transfer::not_seekable : transfer::failed;
  }
  return transfer::done;
}

bool all_zero(const unsigned char* bytes, std::size_t count) {
  // Data seldom begins with a zero word: the first test usually decides.
  std::uint64_t any = 0;
  for (std::size_t k = 0; k + 8 <= count; k += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes + k, 8);
    any |= word;
    if (any != 0) return false;
  }
  for (std::size_t k = count & ~std::size_t{7}; k < count; ++k) any |= bytes[k];
  return any == 0;
}

}  // namespace

transfer read_at(int fd, void* buffer, std::size_t bytes, off_t offset) {
  auto* b = static_cast<unsigned char*>(buffer);
  return move_at(bytes, offset, [&](std::size_t at, std::size_t n, off_t o) { return pread(fd, b + at, n, o); });
}

transfer write_at(int fd, const void* buffer, std::size_t bytes, off_t offset, std::size_t* landed) {
  const auto* b = static_cast<const unsigned char*>(buffer);
  return move_at(bytes, offset, [&](std::size_t at, std::size_t n, off_t o) { return pwrite(fd, b + at, n, o); }, landed);
}

transfer write_nonzero_at(int fd, const unsigned char* buffer, std::size_t bytes, off_t offset) {
  const off_t end = offset + static_cast<off_t>(bytes);
  off_t run = offset;  // the start of the pages not yet written nor skipped
  for (off_t at = offset; at < end;) {
    const off_t page_end = std::min(end, (at / page_bytes + 1) * page_bytes);
    if (all_zero(buffer + (at - offset), static_cast<std::size_t>(page_end - at))) {
      if (run < at) {
        const transfer t = write_at(fd, buffer + (run - offset), static_cast<std::size_t>(at - run), run);
        if (t != transfer::done) return t;
      }
      run = page_end;
    }
    at = page_end;
  }
  if (run == end) return transfer::done;
  return write_at(fd, buffer + (run - offset), static_cast<std::size_t>(end - run), run);
}

}  // namespace zeb
