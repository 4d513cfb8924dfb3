// Template parsing, the walk over repeat counts and groups, and the
// compile-time match of values to data fields.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "test_channel.h"
#include "engine.h"

const char zeb::tool_name[] = "text_layer_test";

namespace {

using zeb::parse_template;

// The data fields and literals a template walks through, as text.
std::string walk(const char* text) {
  const zeb::record_program p = parse_template(text);
  if (p.error) return std::string("error: ") + p.error;
  zeb::template_cursor cursor(p);
  zeb::template_item it;
  std::string out;
  while (cursor.next(it)) {
    switch (it.kind) {
      case zeb::op_kind::integer: out += "I" + std::to_string(it.width) + " "; break;
      case zeb::op_kind::real:
        out += "F" + std::to_string(it.width) + "." + std::to_string(it.decimals) + " ";
        break;
      case zeb::op_kind::text: out += "A" + (it.width ? std::to_string(it.width) : "") + " "; break;
      case zeb::op_kind::skip: out += std::to_string(it.width) + "X "; break;
      case zeb::op_kind::literal: out += "'" + std::string(it.literal) + "' "; break;
      default: out += "? ";
    }
  }
  return out;
}

TEST(Template, WalksRepeatCountsAndGroups) {
  EXPECT_EQ(walk("(3I6,F12.1,F12.1,F12.3)"), "I6 I6 I6 F12.1 F12.1 F12.3 ");
  EXPECT_EQ(walk("(2X,7F11.1)"), "2X F11.1 F11.1 F11.1 F11.1 F11.1 F11.1 F11.1 ");
  EXPECT_EQ(walk("(A,A190,2A3)"), "A A190 A3 A3 ");
  EXPECT_EQ(walk("(2(I2,'-'),'end')"), "I2 '-' I2 '-' 'end' ");
  EXPECT_EQ(walk("(2(1X,2(A1)))"), "1X A1 A1 1X A1 A1 ");
  EXPECT_EQ(walk("()"), "");
  EXPECT_EQ(walk(" ( I5 , ' images in ' ,A ) "), "I5 ' images in ' A ");
  EXPECT_EQ(walk("('it''s')"), "'it''s' ");
}

TEST(Template, GroupOfTwoHundredBlanks) {
  const zeb::record_program p = parse_template("(200(' '))");
  ASSERT_EQ(p.error, nullptr);
  zeb::template_cursor cursor(p);
  zeb::template_item it;
  int blanks = 0;
  while (cursor.next(it)) blanks += it.kind == zeb::op_kind::literal && it.literal == " ";
  EXPECT_EQ(blanks, 200);
}

TEST(Template, MalformedTemplatesAreRefused) {
  for (const char* bad : {"3I6", "(I6", "(I)", "(I0)", "(0I6)", "(F12)", "(F12.)", "(F12,1)", "(Q5)",
                          "('abc)", "(I6 F5.1)", "(X)", "(I6,)", "(,I6)", "(I6))", "(I6)x",
                          "(1(1(1(1(1(I1))))))", "(I12345)", "(2(I1)"}) {
    const zeb::record_program p = parse_template(bad);
    EXPECT_NE(p.error, nullptr) << bad;
  }
}

TEST(Template, GroupsWithoutItemsAreRefused) {
  // Their walk would turn through every repeat without giving an item.
  for (const char* bad : {"(())", "(I1,2())", "(9999(9999(9999(9999()))))", "(3(2(),4()))"}) {
    EXPECT_NE(parse_template(bad).error, nullptr) << bad;
  }
  EXPECT_EQ(parse_template("()").error, nullptr) << "an empty template writes an empty record";
  EXPECT_EQ(parse_template("(2(3(1X)))").error, nullptr);
}

TEST(Template, TooManyItemsAreRefused) {
  std::string t = "(";
  for (int i = 0; i < zeb::max_template_ops + 1; ++i) t += i ? ",I1" : "I1";
  t += ")";
  EXPECT_NE(parse_template(t).error, nullptr);
}

TEST(Template, ValuesMustMatchDataFields) {
  const zeb::record_program p = parse_template("(I5,' images in ',A)");
  EXPECT_TRUE(zeb::fields_match(p, "IA", false));
  EXPECT_FALSE(zeb::fields_match(p, "AI", false));
  EXPECT_FALSE(zeb::fields_match(p, "I", false));
  EXPECT_FALSE(zeb::fields_match(p, "IAI", false));
  EXPECT_FALSE(zeb::fields_match(p, "IA", true)) << "a literal has no place in a read";
  EXPECT_TRUE(zeb::fields_match(parse_template("(2X,7F11.1)"), "FFFFFFF", true));
}

// The checks run when a statement is compiled.
static_assert(zeb::fields_match(parse_template("(3I6,F12.1,F12.1,F12.3)"), "IIIFFF", false));
static_assert(parse_template("(3I6,F12.1") .error != nullptr);

// Output of whole records through a channel and into internal records.
TEST(Record, WritesFieldsLiteralsAndLineEnd) {
  auto out = output_channel();
  zeb::write_templated<"(' ======== ERROR OCCURRED in ',    'zeb_group_count ========')">(*out);
  zeb::write_templated<"(I5,' images in ',A)">(*out, 2, std::string_view("a"));
  zeb::write_templated<"(' read:',I3)">(*out, 1000);
  zeb::write_templated<"('it''s',A4,A2)">(*out, std::string_view("ab"), std::string_view("xyz"));
  zeb::write_templated<"(2(I2,'-'))">(*out, 1, -1);
  zeb::write_templated<"()">(*out);
  EXPECT_EQ(contents(*out),
            " ======== ERROR OCCURRED in zeb_group_count ========\n"
            "    2 images in a\n"
            " read:***\n"
            "it's  abxy\n"
            " 1--1-\n"
            "\n");
  EXPECT_EQ(out->line, 6);
}

TEST(Record, EndsAtTheFirstFieldWithoutValue) {
  auto out = output_channel();
  const zeb::record_program p = parse_template("('a',I2,'b',I2,'c')");
  zeb::value v[1];
  v[0].i = 7;
  zeb::write_record(*out, p, v, 1);
  zeb::write_record(*out, p, v, 0);
  EXPECT_EQ(contents(*out), "a 7b\na\n");
}

TEST(Record, TextFieldsWholeAndCut) {
  char field[10];
  std::memcpy(field, "abc       ", 10);
  auto out = output_channel();
  zeb::write_templated<"(A)">(*out, field);
  zeb::write_templated<"(A)">(*out, std::string_view(field, 3));
  zeb::write_templated<"(A12)">(*out, field);
  EXPECT_EQ(contents(*out), "abc       \nabc\n  abc       \n");
}

TEST(Record, LongRecordsPassThroughTheBuffer) {
  static char big[200000];
  std::memset(big, 'x', sizeof big);
  auto out = output_channel();
  zeb::write_templated<"('<',A,'>')">(*out, big);
  const std::string s = contents(*out);
  ASSERT_EQ(s.size(), sizeof big + 3);
  EXPECT_EQ(s.front(), '<');
  EXPECT_EQ(s.substr(s.size() - 2), ">\n");
}

TEST(InternalRecord, WriteFillsFromTheLeftAndPads) {
  char field[20];
  std::memset(field, '#', sizeof field);
  zeb::write_templated<"(I3,F6.2)">(field, 42, 1.5f);
  EXPECT_EQ(std::string(field, 20), " 42  1.50           ");
  char blanks[200];
  zeb::write_templated<"(200(' '))">(blanks);
  EXPECT_EQ(std::string(blanks, 200), std::string(200, ' '));
}

TEST(InternalRecord, ReadTakesColumns) {
  const char record[] = {'a', 'b', 'c', ' ', '1', '2'};
  char one[1];
  std::int32_t n = -1;
  ASSERT_EQ(zeb::read_templated<"(A1,3X,I2)">(record, one, n), zeb::outcome::done);
  EXPECT_EQ(one[0], 'a');
  EXPECT_EQ(n, 12);
}

TEST(InternalRecordDeathTest, WritePastTheEndIsAFailure) {
  char field[3];
  EXPECT_EXIT(zeb::write_templated<"(I4)">(field, 1), testing::ExitedWithCode(zeb::failure_status),
              "^text_layer_test: internal record: ");
}

}  // namespace
