// Map header routines on arbitrary bytes: recognition and size arithmetic
// must hold for any header, and conversion must touch exactly the numeric
// words and undo itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "map_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  unsigned char read[zeb::header_bytes] = {};
  std::memcpy(read, data, size < sizeof read ? size : sizeof read);

  const bool new_style = zeb::is_new_style(read);
  if (new_style != (read[208] == 'M')) std::abort();

  const std::int32_t mode = zeb::recognise_mode(read);
  if (mode != zeb::unknown_mode) {
    if (mode < 0 || mode > 4) std::abort();
    const zeb::mode_sizes sizes = zeb::look_up_mode(mode);
    zeb::dimensions dims = zeb::read_dimensions(read);
    for (int order = 0; order < 2; ++order) {
      const zeb::wide_int expected = zeb::expected_file_size(dims, sizes);
      const zeb::wide_int data_bytes = expected - zeb::header_bytes;
      const std::int64_t row = zeb::row_length(dims.columns, sizes);
      // Exact arithmetic: the product divides back into its factors.
      if (dims.rows != 0 && dims.sections != 0 &&
          data_bytes != zeb::wide_int{row} * dims.rows * dims.sections) {
        std::abort();
      }
      zeb::swap_dimensions(dims);
    }
    if (dims.columns != zeb::read_dimensions(read).columns) std::abort();
  }

  unsigned char header[zeb::header_bytes];
  std::memcpy(header, read, sizeof header);
  zeb::convert_header(header);
  for (int word = 1; word <= 256; ++word) {
    const bool kept = (word >= 5 && word <= 7) || (word >= 25 && word <= 53) || word >= 57;
    const int o = 4 * (word - 1);
    for (int b = 0; b < 4; ++b) {
      if (header[o + b] != (kept ? read[o + b] : read[o + 3 - b])) std::abort();
    }
  }
  // Conversion turns the mode word around; it still names the same mode.
  if (zeb::recognise_mode(header) != mode) std::abort();
  zeb::convert_header(header);
  if (std::memcmp(header, read, sizeof header) != 0) std::abort();

  // Element reversal on whatever follows the header, at the size it names.
  if (size > sizeof read) {
    unsigned char rest[4096];
    const std::size_t n = size - sizeof read < sizeof rest ? size - sizeof read : sizeof rest;
    std::memcpy(rest, data + sizeof read, n);
    const std::int32_t element = static_cast<std::int32_t>(rest[0] % 6);
    const std::int32_t count = element > 0 ? static_cast<std::int32_t>(n / static_cast<std::size_t>(element)) : 0;
    zeb::swap_bytes(rest, element, count);
    zeb::swap_bytes(rest, element, count);
    if (std::memcmp(rest, data + sizeof read, n) != 0) std::abort();
  }
  return 0;
}
