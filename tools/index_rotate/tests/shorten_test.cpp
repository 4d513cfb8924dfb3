// The trimmed length of a text field: only the character 32 is a blank, and
// the result is never below 1.
#include <gtest/gtest.h>

#include <cstring>
#include <span>
#include <string_view>

#include "text.h"

namespace {

// A 200-character field holding `text`, blank-filled on the right.
struct field200 {
  char c[200];
  explicit field200(std::string_view text) {
    std::memset(c, ' ', sizeof c);
    std::memcpy(c, text.data(), text.size());
  }
};

TEST(shorten, counts_up_to_the_last_character_that_is_not_a_blank) {
  struct row {
    std::string_view text;
    int expected;
  };
  const row rows[] = {
      {"abc", 3},
      {" a b", 4},                   // leading and inner blanks count
      {std::string_view("abc\t", 4), 4},  // a tab is text
      {std::string_view("abc\0", 4), 4},  // so is a NUL
      {"\xa0", 1},                   // a byte above 127 is text too
      {"", 1},                       // all blanks: one blank is left
  };
  for (const row& r : rows) {
    field200 f(r.text);
    EXPECT_EQ(zeb::shorten(f.c), r.expected) << "text '" << r.text << "'";
  }
}

TEST(shorten, a_full_field_gives_its_capacity) {
  char full[200];
  std::memset(full, 'x', sizeof full);
  EXPECT_EQ(zeb::shorten(full), 200);
  full[199] = '\0';  // a field of NULs is not an empty field
  EXPECT_EQ(zeb::shorten(full), 200);
  const char zeroed[200] = {};
  EXPECT_EQ(zeb::shorten(zeroed), 200);
}

TEST(shorten, only_the_given_positions_are_examined) {
  // Text just past the end of the span must not count.
  const char text[] = "ab   cd";
  EXPECT_EQ(zeb::shorten(std::span<const char>(text, 5)), 2);
  EXPECT_EQ(zeb::shorten(std::span<const char>(text, 1)), 1);
  EXPECT_EQ(zeb::shorten(std::span<const char>(text + 2, 1)), 1);  // one blank
  EXPECT_GE(zeb::shorten(std::span<const char>(text, 0)), 1);
}

}  // namespace
