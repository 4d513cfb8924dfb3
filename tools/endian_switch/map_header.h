// The map header of an old-style density map as endian_switch sees it, and
// the element reversal through which every byte of a conversion passes.
// Nothing here touches a file.
#pragma once

#include <cstdint>

namespace zeb {

inline constexpr int header_bytes = 1024;

// Reverses, in place, the bytes of each of `count` consecutive elements of
// `element_size` bytes (2 or 4). Any other size, or a count of 0 or less,
// leaves the buffer as it is.
void swap_bytes(void* buffer, std::int32_t element_size, std::int32_t count);

// A new-style map has the letter M at byte 208 (its identifier word).
bool is_new_style(const unsigned char* header);

inline constexpr std::int32_t unknown_mode = -1;

// The mode 0 to 4 of word 4, read in the host order first and reversed
// only if that fails; unknown_mode if neither reading is 0 to 4.
std::int32_t recognise_mode(const unsigned char* header);

struct mode_sizes {
  std::int32_t bytes_per_value;
  std::int32_t values_per_pixel;
};

// Sizes of one stored value and of one pixel for a recognised mode 0 to 4.
mode_sizes look_up_mode(std::int32_t mode);

// Reverses the 24 numeric words of the header in place; the first-number
// words 5 to 7, words 25 to 53 and the labels are left byte for byte.
// Converting twice gives the header back.
void convert_header(unsigned char* header);

struct dimensions {
  std::int32_t columns;
  std::int32_t rows;
  std::int32_t sections;
};

// Words 1 to 3 in the host order.
dimensions read_dimensions(const unsigned char* header);

// Reverses the three dimension copies together.
void swap_dimensions(dimensions& dims);

// Three 32-bit dimensions times 8 bytes per pixel need up to 97 bits.
__extension__ typedef __int128 wide_int;

// 1024 + columns x rows x sections x bytes per pixel, exactly.
wide_int expected_file_size(dimensions dims, mode_sizes sizes);

// Bytes of one row: columns x values per pixel x bytes per value, exactly.
std::int64_t row_length(std::int32_t columns, mode_sizes sizes);

// The size check: the dimensions in whichever order makes the header agree
// with the file size; with neither, the reversed order, and no match.
struct settled_dimensions {
  dimensions dims;
  bool size_matches;
};
settled_dimensions settle_dimensions(dimensions host_order, mode_sizes sizes, std::int64_t file_size);

// The longest row accepted: the limit scripts know, whatever the buffer.
inline constexpr std::int64_t row_limit = 65536;

// Rows of the data pass: rows x sections, none when either is 0 or less.
std::int64_t data_rows(dimensions dims);

// True when every row of the data pass lies inside the file, so that no
// row is found missing after the header has been rewritten.
bool file_holds_rows(std::int64_t file_size, std::int64_t rows, std::int64_t row_bytes);

}  // namespace zeb
