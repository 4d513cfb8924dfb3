// Map header routines on arbitrary bytes: a 1024-byte header, then eight
// bytes that choose the file size (mostly one the header's dimensions
// give, in either byte order, or one near it), then data. Recognition and
// size arithmetic must hold for any header and any file size, and
// conversion must touch exactly the numeric words and undo itself.
//
// The size check, the row check and the check that the file holds every
// row of the data pass are compared with plain versions that test the
// products by division, so that no wide arithmetic is shared with them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_support.h"
#include "map_header.h"

namespace {

std::int32_t reversed(std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  return static_cast<std::int32_t>((u >> 24) | ((u >> 8) & 0xff00) | ((u << 8) & 0xff0000) | (u << 24));
}

zeb::dimensions reversed(zeb::dimensions d) { return {reversed(d.columns), reversed(d.rows), reversed(d.sections)}; }

bool same(zeb::dimensions a, zeb::dimensions b) {
  return a.columns == b.columns && a.rows == b.rows && a.sections == b.sections;
}

// True when the product of the factors is exactly `target`, by division.
bool product_is(const std::int64_t* factors, int n, std::int64_t target) {
  bool negative = false;
  for (int k = 0; k < n; ++k) {
    if (factors[k] == 0) return target == 0;
    negative = negative != (factors[k] < 0);
  }
  if (target == 0 || (target < 0) != negative) return false;
  // |target| as unsigned, divided factor by factor.
  std::uint64_t left = target < 0 ? 0 - static_cast<std::uint64_t>(target) : static_cast<std::uint64_t>(target);
  for (int k = 0; k < n; ++k) {
    const std::uint64_t f = factors[k] < 0 ? 0 - static_cast<std::uint64_t>(factors[k]) : static_cast<std::uint64_t>(factors[k]);
    if (left % f != 0) return false;
    left /= f;
  }
  return left == 1;
}

// The header agrees with the file size: 1024 + columns x rows x sections
// x bytes per pixel is exactly the size.
bool size_agrees(zeb::dimensions d, std::int64_t pixel_bytes, std::int64_t file_size) {
  const std::int64_t factors[] = {d.columns, d.rows, d.sections, pixel_bytes};
  return product_is(factors, 4, file_size - zeb::header_bytes);
}

// A file size the input picks: often the one the header gives in either
// byte order, or one byte either side, so that every branch is reached.
std::int64_t file_size_for(const unsigned char* header, const std::uint8_t* pick, std::int32_t mode) {
  std::int64_t raw;
  std::memcpy(&raw, pick, sizeof raw);
  if (mode == zeb::unknown_mode || (pick[0] & 3) == 3) return raw & INT64_MAX;
  const zeb::mode_sizes sizes = zeb::look_up_mode(mode);
  zeb::dimensions d = zeb::read_dimensions(header);
  if (pick[0] & 1) d = reversed(d);
  const zeb::wide_int size = zeb::expected_file_size(d, sizes) + (pick[1] % 3) - 1;
  return size >= 0 && size <= INT64_MAX ? static_cast<std::int64_t>(size) : raw & INT64_MAX;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  unsigned char read[zeb::header_bytes] = {};
  std::memcpy(read, data, size < sizeof read ? size : sizeof read);
  std::uint8_t pick[8] = {};
  if (size > sizeof read) std::memcpy(pick, data + sizeof read, size - sizeof read < 8 ? size - sizeof read : 8);

  const bool new_style = zeb::is_new_style(read);
  FUZZ_CHECK(new_style == (read[208] == 'M'));

  // Mode: word 4 as read when it is 0 to 4, else reversed when that is.
  std::int32_t word4;
  std::memcpy(&word4, read + 12, 4);
  const std::int32_t want_mode = word4 >= 0 && word4 <= 4                     ? word4
                                 : reversed(word4) >= 0 && reversed(word4) <= 4 ? reversed(word4)
                                                                               : zeb::unknown_mode;
  const std::int32_t mode = zeb::recognise_mode(read);
  FUZZ_CHECK(mode == want_mode);

  if (mode != zeb::unknown_mode) {
    static constexpr std::int64_t pixel_bytes[5] = {1, 2, 4, 4, 8};
    const zeb::mode_sizes sizes = zeb::look_up_mode(mode);
    FUZZ_CHECK(std::int64_t{sizes.bytes_per_value} * sizes.values_per_pixel == pixel_bytes[mode]);

    // The size check: the host order when it agrees, else the reversed
    // order, whether or not that agrees.
    const std::int64_t file_size = file_size_for(read, pick, mode);
    const zeb::dimensions host = zeb::read_dimensions(read);
    const zeb::settled_dimensions settled = zeb::settle_dimensions(host, sizes, file_size);
    if (size_agrees(host, pixel_bytes[mode], file_size)) {
      FUZZ_CHECK(same(settled.dims, host) || !settled.size_matches);
    } else {
      FUZZ_CHECK(same(settled.dims, reversed(host)));
      FUZZ_CHECK(settled.size_matches == size_agrees(reversed(host), pixel_bytes[mode], file_size));
    }

    // The row check: the row length is exact, and refused above 65536.
    const zeb::dimensions dims = settled.dims;
    const std::int64_t row = zeb::row_length(dims.columns, sizes);
    const std::int64_t row_factors[] = {dims.columns, pixel_bytes[mode]};
    FUZZ_CHECK(product_is(row_factors, 2, row));
    const bool row_fits = row <= zeb::row_limit;

    // The rows of the data pass, and whether the file holds them all.
    const std::int64_t rows = zeb::data_rows(dims);
    if (dims.rows > 0 && dims.sections > 0) {
      const std::int64_t row_count_factors[] = {dims.rows, dims.sections};
      FUZZ_CHECK(product_is(row_count_factors, 2, rows));
    } else {
      FUZZ_CHECK(rows == 0);
    }
    if (row > 0 && row_fits) {
      const bool holds = zeb::file_holds_rows(file_size, rows, row);
      const bool want_holds = file_size >= zeb::header_bytes && (file_size - zeb::header_bytes) / row >= rows;
      FUZZ_CHECK(holds == want_holds);
      // What the tool goes on with never reaches past the end of the file.
      FUZZ_CHECK(!(holds && rows > 0 && (file_size - zeb::header_bytes) / rows < row));
    }
    // A file of the size its header gives holds all its rows (the tool
    // gets this far only with a whole header read, 1024 bytes or more).
    FUZZ_CHECK(!(file_size >= zeb::header_bytes && size_agrees(dims, pixel_bytes[mode], file_size) &&
                 row > 0 && row_fits && !zeb::file_holds_rows(file_size, rows, row)));
  }

  if (mode != zeb::unknown_mode) {
    const zeb::mode_sizes sizes = zeb::look_up_mode(mode);
    zeb::dimensions dims = zeb::read_dimensions(read);
    for (int order = 0; order < 2; ++order) {
      const zeb::wide_int expected = zeb::expected_file_size(dims, sizes);
      const zeb::wide_int data_bytes = expected - zeb::header_bytes;
      const std::int64_t row = zeb::row_length(dims.columns, sizes);
      // Exact arithmetic: the product divides back into its factors.
      FUZZ_CHECK(dims.rows == 0 || dims.sections == 0 ||
                 data_bytes == zeb::wide_int{row} * dims.rows * dims.sections);
      zeb::swap_dimensions(dims);
    }
    FUZZ_CHECK(dims.columns == zeb::read_dimensions(read).columns);
  }

  unsigned char header[zeb::header_bytes];
  std::memcpy(header, read, sizeof header);
  zeb::convert_header(header);
  for (int word = 1; word <= 256; ++word) {
    const bool kept = (word >= 5 && word <= 7) || (word >= 25 && word <= 53) || word >= 57;
    const int o = 4 * (word - 1);
    for (int b = 0; b < 4; ++b) {
      FUZZ_CHECK(header[o + b] == (kept ? read[o + b] : read[o + 3 - b]));
    }
  }
  // Conversion turns the mode word around; it still names the same mode.
  FUZZ_CHECK(zeb::recognise_mode(header) == mode);
  zeb::convert_header(header);
  FUZZ_CHECK(std::memcmp(header, read, sizeof header) == 0);

  // Element reversal on whatever follows the header, at the size it names.
  if (size > sizeof read + 8) {
    unsigned char rest[4096];
    const std::size_t n = size - sizeof read - 8 < sizeof rest ? size - sizeof read - 8 : sizeof rest;
    std::memcpy(rest, data + sizeof read + 8, n);
    const std::int32_t element = static_cast<std::int32_t>(rest[0] % 6);
    const std::int32_t count = element > 0 ? static_cast<std::int32_t>(n / static_cast<std::size_t>(element)) : 0;
    zeb::swap_bytes(rest, element, count);
    zeb::swap_bytes(rest, element, count);
    FUZZ_CHECK(std::memcmp(rest, data + sizeof read + 8, n) == 0);
  }
  return 0;
}
