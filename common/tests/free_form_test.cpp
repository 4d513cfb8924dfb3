// Free-form input: separators, nulls, r*value, slash, quoted text, line
// handling and outcomes.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "test_channel.h"
#include "engine.h"

namespace {

using zeb::outcome;

TEST(FreeForm, SeparatorsAndLines) {
  for (const char* text : {"1,2\n", "1\n2\n", "1 2\n", "1;2\n", "1\t2\n", " 1 ,  2 \n", "\n\n1\n\n2",
                           "1,\n2\n"}) {
    auto in = input_channel(text);
    std::int32_t a = 0, b = 0;
    EXPECT_EQ(zeb::read_free_form(*in, a, b), outcome::done) << text;
    EXPECT_EQ(a, 1) << text;
    EXPECT_EQ(b, 2) << text;
  }
}

TEST(FreeForm, RestOfTheLineIsIgnored) {
  auto in = input_channel("1 2 3\n4 5\n");
  std::int32_t a = 0, b = 0;
  ASSERT_EQ(zeb::read_free_form(*in, a), outcome::done);
  ASSERT_EQ(zeb::read_free_form(*in, a, b), outcome::done);
  EXPECT_EQ(a, 4);
  EXPECT_EQ(b, 5);
  EXPECT_EQ(zeb::read_free_form(*in, a), outcome::end_of_file);
}

TEST(FreeForm, NullsRepeatsAndSlash) {
  auto in = input_channel("1 2 2*3  ,\n,6,,8,2*\n9 /\n2*\n,\n");
  std::int32_t v[6] = {-1, -1, -1, -1, -1, -1};
  ASSERT_EQ(zeb::read_free_form(*in, v[0], v[1], v[2], v[3], v[4]), outcome::done);
  EXPECT_EQ(v[0], 1);
  EXPECT_EQ(v[1], 2);
  EXPECT_EQ(v[2], 3);
  EXPECT_EQ(v[3], 3);
  EXPECT_EQ(v[4], -1) << "the leading comma of the next line is a null value";
  EXPECT_EQ(in->line, 2);

  in = input_channel(",6,,8,2*\n9 /\n2*\n,\n");
  ASSERT_EQ(zeb::read_free_form(*in, v[0], v[1], v[2], v[3], v[4], v[5]), outcome::done);
  EXPECT_EQ(v[0], 1) << "a leading comma is a null value";
  EXPECT_EQ(v[1], 6);
  EXPECT_EQ(v[2], 3) << "two commas hold a null value";
  EXPECT_EQ(v[3], 8);
  EXPECT_EQ(v[4], -1) << "2* is two null values";
  EXPECT_EQ(v[5], -1);

  std::int32_t a = 0, b = 7;
  ASSERT_EQ(zeb::read_free_form(*in, a, b), outcome::done);
  EXPECT_EQ(a, 9);
  EXPECT_EQ(b, 7) << "a slash leaves the rest unset";
  EXPECT_EQ(in->items_read, 1);

  ASSERT_EQ(zeb::read_free_form(*in, a, b), outcome::done);
  EXPECT_EQ(in->items_read, 2);
  ASSERT_EQ(zeb::read_free_form(*in, a), outcome::done);
  EXPECT_EQ(a, 9) << "a lone comma is a null value";
}

TEST(FreeForm, RepeatGivesTheValueWhateverTheType) {
  auto in = input_channel("3*5 x\n");
  std::int32_t i = 0;
  float f = 0;
  char text[3];
  ASSERT_EQ(zeb::read_free_form(*in, i, f, text), outcome::done);
  EXPECT_EQ(i, 5);
  EXPECT_EQ(f, 5.0f);
  EXPECT_EQ(std::string(text, 3), "5  ");
}

TEST(FreeForm, TextTokensAndQuotes) {
  auto in = input_channel("my file.dat\n'my file.dat'\n\"a,b/c\" x\n'it''s'\nabcdefghij\nx/y\n");
  char name[12];
  auto next = [&] {
    EXPECT_EQ(zeb::read_free_form(*in, name), outcome::done);
    return std::string(name, sizeof name);
  };
  EXPECT_EQ(next(), "my          ");
  EXPECT_EQ(next(), "my file.dat ");
  EXPECT_EQ(next(), "a,b/c       ");
  EXPECT_EQ(next(), "it's        ");
  char short_field[4];
  ASSERT_EQ(zeb::read_free_form(*in, short_field), outcome::done);
  EXPECT_EQ(std::string(short_field, 4), "abcd");
  EXPECT_EQ(next(), "x           ");
}

TEST(FreeForm, RealsTakeEveryDecimalForm) {
  auto in = input_channel("1 -2.5 3e2 4.5D1 .5 -0 1.5+1\n");
  float v[7];
  ASSERT_EQ(zeb::read_free_form(*in, v[0], v[1], v[2], v[3], v[4], v[5], v[6]), outcome::done);
  const float want[] = {1.0f, -2.5f, 300.0f, 45.0f, 0.5f, -0.0f, 15.0f};
  for (int k = 0; k < 7; ++k) EXPECT_EQ(v[k], want[k]) << k;
  EXPECT_TRUE(std::signbit(v[5]));
}

struct bad_case {
  const char* text;
  const char* bad;
};

TEST(FreeForm, ErrorsNameTheTextAndLine) {
  const bad_case cases[] = {
      {"abc\n", "abc"},   {"\n\n1.5\n", "1.5"}, {"1e3\n", "1e3"},
      {"2147483648\n", "2147483648"},           {"'7'\n", "7"},
      {"0*4\n", "0*"},
  };
  for (const bad_case& c : cases) {
    auto in = input_channel(c.text);
    std::int32_t v = 0;
    EXPECT_EQ(zeb::read_free_form(*in, v), outcome::error) << c.text;
    EXPECT_EQ(std::string_view(in->bad_text, in->bad_length), c.bad);
  }
  auto in = input_channel("1 2\n3 x\n");
  std::int32_t a, b, c;
  float d;
  ASSERT_EQ(zeb::read_free_form(*in, a, b, c, d), outcome::error);
  EXPECT_EQ(in->line, 2);
  EXPECT_EQ(in->items_read, 3);
  EXPECT_STREQ(in->bad_kind, "a real");
}

TEST(FreeForm, EndOfFileInsideOrBetweenRecords) {
  auto in = input_channel("1 2\n\n");
  std::int32_t a, b, c;
  EXPECT_EQ(zeb::read_free_form(*in, a, b, c), outcome::end_of_file);
  EXPECT_EQ(in->items_read, 2);
  auto blank = input_channel("\n  \n\t\n");
  EXPECT_EQ(zeb::read_free_form(*blank, a), outcome::end_of_file);
  EXPECT_EQ(blank->items_read, 0);
}

TEST(FreeForm, CarriageReturnBeforeLineFeedIsDropped) {
  // ... and at the very end of the input.
  auto in = input_channel("name\r\n5\r\n6\r");
  char name[6];
  std::int32_t n = 0;
  ASSERT_EQ(zeb::read_free_form(*in, name), outcome::done);
  EXPECT_EQ(std::string(name, 6), "name  ");
  ASSERT_EQ(zeb::read_free_form(*in, n), outcome::done);
  EXPECT_EQ(n, 5);
  ASSERT_EQ(zeb::read_free_form(*in, n), outcome::done);
  EXPECT_EQ(n, 6);
}

// The quick path against the general engine, on lines at the edge of what
// it takes: each line read by the statement of a tool (its quick path made
// when the tool is compiled), by a statement of items known at run time,
// and by the general engine alone, then the line after it. `taken`: the
// quick path reads the line itself, as it must the common lines (a slip to
// the general engine would only show as lost speed).
TEST(FreeForm, QuickPathAgreesWithTheGeneralEngine) {
  using namespace std::string_literals;
  const std::string blanks(200, ' ');
  const struct {
    std::string line;
    bool taken;
  } rows[] = {
      {"1 -2 3 4.5 -0.0 5.\n", true},
      {"007 -0 00000001 0.30000001 16777216 99999999\n", true},
      {"007 -0 00000001 0.30000001 16777217 99999999\n", false},  // a midpoint between floats
      {"1\t2  3 4 5 6 7 x\n", true},
      {"1 2 3 4 5 6\r\n", true},
      {"1 2 3 4 5 6 \r\n", true},
      {"1 2 3 1.234567891 5 6/\n", true},
      {"1,2, 3;4,\t5 6,\n", true},
      {"  1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17\n", true},
      // The tools' own fixed layouts, 54 and 66 bytes a line.
      {"     2     3     1       100.0        45.5       0.250\n", true},
      {"   -14     7   -38      8449.7        61.9     -89.954       0.637\n", true},
      // Blanks and tokens across the 64-byte blocks of the marks.
      {blanks + "1 2 3 4 5 6\n", true},
      {std::string(64, ' ') + "1 2 3 4 5 6\n", true},
      {std::string(60, ' ') + "12345 2 3 4 5 6\n", true},
      {std::string(63, ' ') + "1" + blanks + "2 3 4 5 6\n", true},
      // Left to the general engine.
      {"1 2 3 4 5\n6\n", false},
      {"-1 -2 -3 -16777.219 8388608.5 0.16777219\n", false},
      {"1 2 3.0 4 5 6\n", false},
      {"1 2 3 4.5.6 5 6\n", false},
      {"1 2 3 4-5 5 6\n", false},
      {"1 2 3 - 5 6\n", false},
      {"1 2 3 .5 . 6\n", false},
      {"123456789 2 3 4 5 6\n", false},
      {"1 2 3 4 5 6e1\n", false},
      {"1 2 3 +4 5 6\n", false},
      {"1 2 3 4 5 2*6\n", false},
      {"1,,2 3 4 5 6\n", false},
      {",1 2 3 4 5 6\n", false},
      {"1 , 2 3 4 5 6\n", false},
      {"1 2 3 4 5 6\r7\n", false},
      {"1 2 3 4 5 6\0\n"s, false},
      {"\n1 2 3 4 5 6\n", false},
      {"1 2 3 4 5 66666666666666666666666666666666666666666666666666666666666\n", false},
  };
  for (const auto& row : rows) {
    const std::string text = row.line + "7 8 9 1 2 3\n";
    std::int32_t gi[3] = {}, ti[3] = {}, ri[3] = {};
    float gf[3] = {}, tf[3] = {}, rf[3] = {};
    auto items = [](std::int32_t* i, float* f, zeb::item (&out)[6]) {
      for (int k = 0; k < 3; ++k) {
        out[k].kind = 'I';
        out[k].i = &i[k];
        out[k + 3].kind = 'F';
        out[k + 3].f = &f[k];
      }
    };
    zeb::item general_items[6], run_time_items[6];
    items(gi, gf, general_items);
    items(ri, rf, run_time_items);

    auto quick = input_channel(text);
    ASSERT_EQ(zeb::begin_record(*quick), outcome::done);
    EXPECT_EQ(zeb::read_quick_numbers(*quick, run_time_items, 6), row.taken) << row.line;

    auto general = input_channel(text), tool = input_channel(text), run_time = input_channel(text);
    for (int statement = 0; statement < 2; ++statement) {
      const outcome o = zeb::read_free_general(*general, general_items, 6);
      EXPECT_EQ(zeb::read_free_form(*tool, ti[0], ti[1], ti[2], tf[0], tf[1], tf[2]), o) << row.line;
      EXPECT_EQ(zeb::read_free(*run_time, run_time_items, 6), o) << row.line;
      for (const zeb::channel* ch : {tool.get(), run_time.get()}) {
        EXPECT_EQ(ch->line, general->line) << row.line;
        EXPECT_EQ(ch->items_read, general->items_read) << row.line;
      }
      for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(ti[k], gi[k]) << row.line << k;
        EXPECT_EQ(ri[k], gi[k]) << row.line << k;
        for (const float f : {tf[k], rf[k]}) {
          EXPECT_EQ(std::signbit(f), std::signbit(gf[k])) << row.line << k;
          EXPECT_TRUE(f == gf[k] || (std::isnan(f) && std::isnan(gf[k]))) << row.line << k;
        }
      }
      if (o != outcome::done) break;
    }
  }
}

// Lines longer than the buffer read as they would short: values after a
// long run of blanks, tokens that straddle a refill (at every offset
// around the buffer's end), numbers and texts longer than the buffer.
TEST(FreeForm, LinesOfAnyLength) {
  const std::string wide(3 * zeb::buffer_size, ' ');
  for (int shift = -9; shift <= 9; ++shift) {
    const std::string lead(std::size_t(zeb::buffer_size - 6 + shift), ' ');
    auto in = input_channel(lead + "-12345 2.5e1 'a b'\n7" + wide + "8\n");
    std::int32_t i = 0, j = 0, k = 0;
    float f = 0;
    char t[4];
    ASSERT_EQ(zeb::read_free_form(*in, i, f, t), outcome::done) << shift;
    EXPECT_EQ(i, -12345) << shift;
    EXPECT_EQ(f, 25.0f) << shift;
    EXPECT_EQ(std::string(t, 4), "a b ") << shift;
    ASSERT_EQ(zeb::read_free_form(*in, j, k), outcome::done) << shift;
    EXPECT_EQ(j * 10 + k, 78) << shift;
    EXPECT_EQ(in->line, 2);
  }
  const std::string zeros(100000, '0');
  auto in = input_channel("0." + zeros + "5 1" + zeros + " -" + zeros + "7 " + std::string(70000, 'x') + "yz 4\n'" +
                          std::string(70000, 'q') + "' 0." + zeros + "1" + zeros + "e100001\n" + zeros + "*");
  float small = 1, big = 0, tenth = 0;
  std::int32_t seven = 0, four = 0;
  char text[3];
  ASSERT_EQ(zeb::read_free_form(*in, small, big, seven, text, four), outcome::done);
  EXPECT_EQ(small, 0.0f);
  EXPECT_TRUE(std::isinf(big));
  EXPECT_EQ(seven, -7);
  EXPECT_EQ(std::string(text, 3), "xxx");
  EXPECT_EQ(four, 4);
  ASSERT_EQ(zeb::read_free_form(*in, text, tenth), outcome::done);
  EXPECT_EQ(std::string(text, 3), "qqq");
  EXPECT_EQ(tenth, 1.0f) << "0.(100000 zeros)1(100000 zeros)e100001";
  EXPECT_EQ(zeb::read_free_form(*in, four), outcome::error);
  EXPECT_STREQ(in->bad_kind, "a repeat count");
  EXPECT_EQ(in->line, 3);
}

}  // namespace
