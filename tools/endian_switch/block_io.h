// Whole transfers of map and journal bytes at absolute offsets.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace zeb {

enum class transfer { done, not_seekable, failed };

// Move `bytes` bytes between the buffer and the file at `offset`,
// retrying short and interrupted transfers; the end of the file before
// the last byte is a failure. `landed`, if given, counts the bytes written.
transfer read_at(int fd, void* buffer, std::size_t bytes, off_t offset);
transfer write_at(int fd, const void* buffer, std::size_t bytes, off_t offset, std::size_t* landed = nullptr);

// As write_at, but the file pages (4096 bytes at multiples of 4096) that
// the buffer holds as zeros throughout are not written: a conversion
// leaves zeros as they are, so the file holds them already, and a hole
// in a sparse file stays a hole.
transfer write_nonzero_at(int fd, const unsigned char* buffer, std::size_t bytes, off_t offset);

}  // namespace zeb
