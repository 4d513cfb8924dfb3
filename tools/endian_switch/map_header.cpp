#include "map_header.h"

#include <cstddef>
#include <cstring>

namespace zeb {

namespace {

// The data pass spends its time in these two loops: both are written so
// that the compiler turns them into vector shifts and shuffles, and each is
// built twice, the wider version chosen at start-up where the processor has
// it (about twice the speed on a buffer in cache).
[[gnu::target_clones("avx2", "default")]] void swap_pairs(unsigned char* bytes, std::size_t count) {
  for (std::size_t k = 0; k < count; ++k) {
    std::uint16_t v;
    std::memcpy(&v, bytes + 2 * k, 2);
    v = static_cast<std::uint16_t>((v << 8) | (v >> 8));
    std::memcpy(bytes + 2 * k, &v, 2);
  }
}

// A 4-byte value is reversed as its two halves, each reversed, exchanged:
// in this form the compiler vectorises it with the baseline instruction
// set, where a loop of bswap stays scalar.
[[gnu::target_clones("avx2", "default")]] void swap_quads(unsigned char* bytes, std::size_t count) {
  for (std::size_t k = 0; k < count; ++k) {
    std::uint16_t low, high;
    std::memcpy(&low, bytes + 4 * k, 2);
    std::memcpy(&high, bytes + 4 * k + 2, 2);
    low = static_cast<std::uint16_t>((low << 8) | (low >> 8));
    high = static_cast<std::uint16_t>((high << 8) | (high >> 8));
    std::memcpy(bytes + 4 * k, &high, 2);
    std::memcpy(bytes + 4 * k + 2, &low, 2);
  }
}

std::int32_t word(const unsigned char* header, int offset) {
  std::int32_t value;
  std::memcpy(&value, header + offset, 4);
  return value;
}

}  // namespace

void swap_bytes(void* buffer, std::int32_t element_size, std::int32_t count) {
  if (count <= 0) return;
  auto* bytes = static_cast<unsigned char*>(buffer);
  if (element_size == 2) swap_pairs(bytes, static_cast<std::size_t>(count));
  if (element_size == 4) swap_quads(bytes, static_cast<std::size_t>(count));
}

bool is_new_style(const unsigned char* header) { return header[208] == 'M'; }

std::int32_t recognise_mode(const unsigned char* header) {
  std::int32_t mode = word(header, 12);
  if (mode >= 0 && mode <= 4) return mode;
  swap_bytes(&mode, 4, 1);
  if (mode >= 0 && mode <= 4) return mode;
  return unknown_mode;
}

mode_sizes look_up_mode(std::int32_t mode) {
  static constexpr mode_sizes table[5] = {{1, 1}, {2, 1}, {4, 1}, {2, 2}, {4, 2}};
  return table[mode];
}

void convert_header(unsigned char* header) {
  // {byte offset, words}: mode, space group, symmetry bytes, label count,
  // the two words 54-55, dimensions, intervals, axis order, min/max/mean,
  // cell. Words 5 to 7 stay as stored.
  static constexpr int groups[10][2] = {{12, 1}, {88, 1}, {92, 1}, {220, 1}, {212, 2},
                                        {0, 3},  {28, 3}, {64, 3}, {76, 3},  {40, 6}};
  for (const auto& group : groups) swap_bytes(header + group[0], 4, group[1]);
}

dimensions read_dimensions(const unsigned char* header) {
  return {word(header, 0), word(header, 4), word(header, 8)};
}

void swap_dimensions(dimensions& dims) {
  swap_bytes(&dims.columns, 4, 1);
  swap_bytes(&dims.rows, 4, 1);
  swap_bytes(&dims.sections, 4, 1);
}

wide_int expected_file_size(dimensions dims, mode_sizes sizes) {
  return header_bytes + wide_int{dims.columns} * dims.rows * dims.sections *
                            sizes.bytes_per_value * sizes.values_per_pixel;
}

std::int64_t row_length(std::int32_t columns, mode_sizes sizes) {
  return std::int64_t{columns} * sizes.values_per_pixel * sizes.bytes_per_value;
}

settled_dimensions settle_dimensions(dimensions host_order, mode_sizes sizes, std::int64_t file_size) {
  if (expected_file_size(host_order, sizes) == file_size) return {host_order, true};
  dimensions reversed = host_order;
  swap_dimensions(reversed);
  return {reversed, expected_file_size(reversed, sizes) == file_size};
}

std::int64_t data_rows(dimensions dims) {
  return dims.rows > 0 && dims.sections > 0 ? std::int64_t{dims.rows} * dims.sections : 0;
}

bool file_holds_rows(std::int64_t file_size, std::int64_t rows, std::int64_t row_bytes) {
  return file_size >= header_bytes + wide_int{rows} * row_bytes;
}

}  // namespace zeb
