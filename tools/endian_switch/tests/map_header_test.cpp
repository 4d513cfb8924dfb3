#include "map_header.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using header_t = std::array<unsigned char, zeb::header_bytes>;

// A header whose every byte differs from its neighbours, so that a word
// reversed or left alone shows; byte 208 is not M.
header_t patterned_header() {
  header_t h;
  for (int k = 0; k < zeb::header_bytes; ++k) h[k] = static_cast<unsigned char>(7 * k + 3);
  return h;
}

void put_word(header_t& h, int word, std::int32_t value) {
  std::memcpy(h.data() + 4 * (word - 1), &value, 4);
}

std::int32_t reversed(std::int32_t value) {
  zeb::swap_bytes(&value, 4, 1);
  return value;
}

TEST(SwapBytes, ReversesEachElementBySize) {
  unsigned char pairs[] = {1, 2, 3, 4, 5, 6};
  zeb::swap_bytes(pairs, 2, 3);
  EXPECT_EQ(std::vector<unsigned char>(pairs, pairs + 6), (std::vector<unsigned char>{2, 1, 4, 3, 6, 5}));

  unsigned char quads[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  zeb::swap_bytes(quads, 4, 2);
  EXPECT_EQ(std::vector<unsigned char>(quads, quads + 9),
            (std::vector<unsigned char>{4, 3, 2, 1, 8, 7, 6, 5, 9}));
}

TEST(SwapBytes, OtherSizesAndEmptyCountsLeaveTheBuffer) {
  const unsigned char original[] = {1, 2, 3, 4, 5, 6, 7, 8};
  for (auto [size, count] : {std::pair{1, 8}, {8, 1}, {3, 2}, {0, 4}, {-4, 1}, {2, 0}, {4, 0}, {4, -1}}) {
    unsigned char buffer[8];
    std::memcpy(buffer, original, 8);
    zeb::swap_bytes(buffer, size, count);
    EXPECT_EQ(0, std::memcmp(buffer, original, 8)) << "size " << size << " count " << count;
  }
}

// The vectorised loops have a main part and a tail: lengths around the
// vector widths, at odd starting addresses, must all come out right and
// touch nothing past the last element.
TEST(SwapBytes, LongRunsAtAnyAlignmentMatchElementByElement) {
  for (int size : {2, 4}) {
    for (int count : {1, 3, 7, 8, 9, 15, 16, 17, 31, 33, 64, 1000}) {
      for (int start : {0, 1, 3}) {
        std::vector<unsigned char> buffer(static_cast<std::size_t>(start + size * count + 5));
        for (std::size_t k = 0; k < buffer.size(); ++k) buffer[k] = static_cast<unsigned char>(k * 13 + 1);
        std::vector<unsigned char> expected = buffer;
        for (int e = 0; e < count; ++e) {
          for (int b = 0; b < size; ++b) {
            expected[start + e * size + b] = buffer[start + e * size + size - 1 - b];
          }
        }
        zeb::swap_bytes(buffer.data() + start, size, count);
        EXPECT_EQ(buffer, expected) << "size " << size << " count " << count << " start " << start;
      }
    }
  }
}

TEST(NewStyle, OnlyCapitalMAtByte208Counts) {
  header_t h = patterned_header();
  EXPECT_FALSE(zeb::is_new_style(h.data()));
  h[208] = 'M';
  EXPECT_TRUE(zeb::is_new_style(h.data())) << "the rest of the identifier is not looked at";
  h[208] = 'm';
  EXPECT_FALSE(zeb::is_new_style(h.data()));
  h[208] = 0;
  h[209] = 'M';
  EXPECT_FALSE(zeb::is_new_style(h.data()));
}

TEST(ModeRecognition, HostOrderFirstThenReversed) {
  header_t h = patterned_header();
  for (std::int32_t mode = 0; mode <= 4; ++mode) {
    put_word(h, 4, mode);
    EXPECT_EQ(zeb::recognise_mode(h.data()), mode);
    put_word(h, 4, reversed(mode));
    const header_t before = h;
    EXPECT_EQ(zeb::recognise_mode(h.data()), mode);
    EXPECT_EQ(h, before) << "recognition works on a copy";
  }
  put_word(h, 4, 33554432);  // 2 stored in the other order
  EXPECT_EQ(zeb::recognise_mode(h.data()), 2);
}

TEST(ModeRecognition, RefusesWhatIsNoModeInEitherOrder) {
  header_t h = patterned_header();
  for (std::int32_t word : {5, 65536, -1, reversed(5), reversed(-4), INT32_MIN, INT32_MAX}) {
    put_word(h, 4, word);
    EXPECT_EQ(zeb::recognise_mode(h.data()), zeb::unknown_mode) << word;
  }
}

TEST(HeaderConversion, ReversesExactlyTheTwentyFourNumericWords) {
  const header_t read = patterned_header();
  header_t h = read;
  zeb::convert_header(h.data());
  int reversed_words = 0;
  for (int word = 1; word <= 256; ++word) {
    const bool kept = (word >= 5 && word <= 7) || (word >= 25 && word <= 53) || word >= 57;
    const int o = 4 * (word - 1);
    for (int b = 0; b < 4; ++b) {
      const unsigned char want = kept ? read[o + b] : read[o + 3 - b];
      ASSERT_EQ(h[o + b], want) << "word " << word << " byte " << b;
    }
    reversed_words += kept ? 0 : 1;
  }
  EXPECT_EQ(reversed_words, 24);
}

TEST(HeaderConversion, ConvertingTwiceGivesTheHeaderBack) {
  const header_t read = patterned_header();
  header_t h = read;
  zeb::convert_header(h.data());
  EXPECT_NE(h, read);
  zeb::convert_header(h.data());
  EXPECT_EQ(h, read);
}

TEST(Sizes, ExpectedFileSizeIsExactBeyondSixtyFourBits) {
  EXPECT_EQ(zeb::expected_file_size({10, 8, 3}, zeb::look_up_mode(2)), 1984);
  // A 1024 x 1024 x 1024 mode-4 map: 8 GiB of data, beyond 32 bits.
  EXPECT_EQ(zeb::expected_file_size({1024, 1024, 1024}, zeb::look_up_mode(4)),
            1024 + (zeb::wide_int{1} << 33));
  // The largest dimensions overflow 64 bits; the size must still be exact.
  const zeb::wide_int m = INT32_MAX;
  EXPECT_EQ(zeb::expected_file_size({INT32_MAX, INT32_MAX, INT32_MAX}, zeb::look_up_mode(4)),
            1024 + m * m * m * 8);
  EXPECT_EQ(zeb::expected_file_size({INT32_MIN, INT32_MIN, INT32_MIN}, zeb::look_up_mode(4)),
            1024 - (zeb::wide_int{1} << 96));
  EXPECT_EQ(zeb::expected_file_size({-2, 3, 4}, zeb::look_up_mode(1)), 1024 - 48);
}

}  // namespace
