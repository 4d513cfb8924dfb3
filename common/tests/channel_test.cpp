// Channels: opening rules, records from the buffer, templated reads,
// outcomes, and the two ways a tool ends.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "test_channel.h"
#include "text.h"

namespace {

using zeb::outcome;

struct scratch_dir {
  char path[64] = "/tmp/zeb_channel_XXXXXX";
  scratch_dir() { EXPECT_NE(mkdtemp(path), nullptr); }
  ~scratch_dir() { std::system((std::string("rm -rf ") + path).c_str()); }
  std::string operator/(const char* name) const { return std::string(path) + "/" + name; }
};

void put_file(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, text.data(), text.size()), ssize_t(text.size()));
  ::close(fd);
}

std::string file_text(const std::string& path) {
  char buf[4096];
  const int fd = ::open(path.c_str(), O_RDONLY);
  const ssize_t n = fd < 0 ? 0 : ::read(fd, buf, sizeof buf);
  ::close(fd);
  return std::string(buf, size_t(n > 0 ? n : 0));
}

// A 200-character name field, as the tools hold names.
struct name_field {
  char c[200];
  explicit name_field(const std::string& s) {
    std::memset(c, ' ', sizeof c);
    std::memcpy(c, s.data(), s.size());
  }
};

TEST(Open, NewNeverTouchesAnExistingFile) {
  scratch_dir dir;
  put_file(dir / "old", "keep\n");
  auto ch = std::make_unique<zeb::channel>();
  EXPECT_FALSE(zeb::open_new(*ch, name_field(dir / "old").c));
  EXPECT_EQ(ch->sys_error, EEXIST);
  EXPECT_EQ(file_text(dir / "old"), "keep\n");
  ::symlink((dir / "old").c_str(), (dir / "link").c_str());
  EXPECT_FALSE(zeb::open_new(*ch, name_field(dir / "link").c));
  EXPECT_EQ(file_text(dir / "old"), "keep\n");

  ASSERT_TRUE(zeb::open_new(*ch, name_field(dir / "new").c));
  zeb::write_templated<"(A)">(*ch, std::string_view("x"));
  zeb::close_channel(*ch);
  zeb::close_channel(*ch);  // closing twice does nothing
  EXPECT_EQ(file_text(dir / "new"), "x\n");
}

TEST(Open, OldNeedsAReadableFile) {
  scratch_dir dir;
  auto ch = std::make_unique<zeb::channel>();
  EXPECT_FALSE(zeb::open_old(*ch, name_field(dir / "missing").c));
  EXPECT_EQ(ch->sys_error, ENOENT);
  EXPECT_FALSE(zeb::open_old(*ch, name_field(dir.path).c));
  EXPECT_EQ(ch->sys_error, EISDIR);
  EXPECT_FALSE(zeb::open_old(*ch, name_field("").c));
  put_file(dir / "in ner", "a\n");
  ASSERT_TRUE(zeb::open_old(*ch, name_field(dir / "in ner").c)) << "inner blanks belong to the name";
  EXPECT_STREQ(ch->label, (dir / "in ner").c_str());
  zeb::close_channel(*ch);
}

TEST(Records, LastLineWithoutLineFeedAndEnd) {
  auto in = input_channel("one\n\ntwo\r");
  std::string_view r;
  ASSERT_EQ(zeb::next_record(*in, r), outcome::done);
  EXPECT_EQ(r, "one");
  ASSERT_EQ(zeb::next_record(*in, r), outcome::done);
  EXPECT_EQ(r, "");
  ASSERT_EQ(zeb::next_record(*in, r), outcome::done);
  EXPECT_EQ(r, "two") << "a carriage return at the very end is dropped";
  EXPECT_EQ(zeb::next_record(*in, r), outcome::end_of_file);
  EXPECT_EQ(zeb::next_record(*in, r), outcome::end_of_file);
  EXPECT_EQ(in->line, 3);
}

TEST(Records, OverlongLineKeepsItsHead) {
  std::string text(zeb::buffer_size + 10, 'a');
  text[0] = 'b';
  text += "\nnext\n";
  auto in = input_channel(text);
  std::string_view r;
  ASSERT_EQ(zeb::next_record(*in, r), outcome::done);
  EXPECT_EQ(r.size(), size_t(zeb::buffer_size));
  EXPECT_EQ(r[0], 'b');
  ASSERT_EQ(zeb::next_record(*in, r), outcome::done);
  EXPECT_EQ(r, "next");
}

TEST(Records, SkippingCountsAsReadingOneByOne) {
  // Short lines, empty lines, carriage returns, lines longer than the
  // buffer, and a last line with or without its line feed.
  std::string text;
  for (int i = 0; i < 30000; ++i) {
    text += i % 7 == 0 ? "" : "line " + std::to_string(i);
    if (i % 1000 == 5) text += std::string(zeb::buffer_size + 17, 'x');
    if (i % 11 == 0) text += '\r';
    text += '\n';
  }
  for (const std::string& input : {text, text + "tail", std::string("\n\n"), std::string("x")}) {
    for (std::int64_t skip : {0, 1, 2, 999, 12345, 29999, 30000, 30001, 40000}) {
      auto one_by_one = input_channel(input);
      auto skipped = input_channel(input);
      std::string_view a, b;
      zeb::outcome want = zeb::outcome::done;
      for (std::int64_t i = 0; i < skip && want == zeb::outcome::done; ++i)
        want = zeb::next_record(*one_by_one, a);
      ASSERT_EQ(zeb::skip_records(*skipped, skip), want) << skip;
      EXPECT_EQ(skipped->line, one_by_one->line) << skip;
      const zeb::outcome next_a = zeb::next_record(*one_by_one, a);
      ASSERT_EQ(zeb::next_record(*skipped, b), next_a) << skip;
      if (next_a == zeb::outcome::done) {
        EXPECT_EQ(a, b) << skip;
      }
    }
  }
}

TEST(TemplatedRead, TextForms) {
  std::string line(250, 'x');
  line[0] = 'a';
  line[189] = 'z';
  auto in = input_channel(line + "\nshort\nabcdefghijkl\n");
  char field[200];
  ASSERT_EQ(zeb::read_templated<"(A190)">(*in, field), outcome::done);
  EXPECT_EQ(field[0], 'a');
  EXPECT_EQ(field[189], 'z');
  EXPECT_EQ(std::string(field + 190, 10), std::string(10, ' '));
  ASSERT_EQ(zeb::read_templated<"(A)">(*in, field), outcome::done);
  EXPECT_EQ(std::string(field, 7), "short  ");
  char label[10];
  ASSERT_EQ(zeb::read_templated<"(A12)">(*in, label), outcome::done);
  EXPECT_EQ(std::string(label, 10), "cdefghijkl") << "the rightmost of the w columns";
  EXPECT_EQ(zeb::read_templated<"(A)">(*in, field), outcome::end_of_file);
}

// Fields come from the record's first columns, wherever the buffer's
// refills fall among them; the rest of a long record is passed over.
TEST(TemplatedRead, LongRecords) {
  std::string line(65530, 'x');
  line += "  12.5  -7" + std::string(3 * zeb::buffer_size, 'y');
  for (int shift = 0; shift <= 12; ++shift) {
    auto in = input_channel(std::string(std::size_t(shift), 's') + "\n" + line + "\nnext\n");
    char head[5];
    float f = 0;
    std::int32_t i = 0;
    ASSERT_EQ(zeb::read_templated<"(A)">(*in, head), outcome::done);
    ASSERT_EQ(zeb::read_templated<"(A5,6(9999X),5531X,F6.1,I4)">(*in, head, f, i), outcome::done) << shift;
    EXPECT_EQ(std::string(head, 5), "xxxxx");
    EXPECT_EQ(f, 12.5f) << shift;
    EXPECT_EQ(i, -7) << shift;
    ASSERT_EQ(zeb::read_templated<"(A)">(*in, head), outcome::done);
    EXPECT_EQ(std::string(head, 5), "next ") << shift;
  }
}

TEST(TemplatedRead, NumericFieldsAndShortRecords) {
  auto in = input_channel("          125\n::        1.5       -2.0" + std::string(60, '9') + "\nab  xyz\n");
  float v[7];
  ASSERT_EQ(zeb::read_templated<"(2X,7F11.1)">(*in, v[0], v[1], v[2], v[3], v[4], v[5], v[6]),
            outcome::done);
  EXPECT_EQ(v[0], 12.5f);
  for (int k = 1; k < 7; ++k) EXPECT_EQ(v[k], 0.0f);
  ASSERT_EQ(zeb::read_templated<"(2X,7F11.1)">(*in, v[0], v[1], v[2], v[3], v[4], v[5], v[6]),
            outcome::done);
  EXPECT_EQ(v[0], 1.5f);
  EXPECT_EQ(v[1], -2.0f);
  std::int32_t n = 0;
  EXPECT_EQ(zeb::read_templated<"(2X,I5)">(*in, n), outcome::error);
  EXPECT_EQ(std::string_view(in->bad_text, in->bad_length), "  xyz");
  EXPECT_STREQ(in->bad_kind, "an integer");
}

// The ends of a tool: each runs in a child process.
void read_until_failure(const char* text, int items) {
  auto in = input_channel(text);
  std::int32_t v[3];
  for (;;) {
    if (items == 1) zeb::require(zeb::read_free_form(*in, v[0]), *in);
    else zeb::require(zeb::read_free_form(*in, v[0], v[1], v[2]), *in);
  }
}

TEST(EndDeathTest, UnguardedFailureNamesToolSubjectAndReason) {
  EXPECT_EXIT(read_until_failure("1\n2\nword\n", 1), testing::ExitedWithCode(zeb::failure_status),
              "^text_layer_test: test input: line 3: cannot read 'word' as an integer\n$");
  EXPECT_EXIT(read_until_failure("1 2", 3), testing::ExitedWithCode(zeb::failure_status),
              "^text_layer_test: test input: line 1: the input ends inside a record\n$");
  EXPECT_EXIT(read_until_failure("", 1), testing::ExitedWithCode(zeb::failure_status),
              "^text_layer_test: test input: end of file after line 0\n$");
}

void open_missing() {
  auto ch = std::make_unique<zeb::channel>();
  if (!zeb::open_old(*ch, name_field("/nonexistent/x").c)) zeb::fail_open(*ch);
}

TEST(EndDeathTest, FailedOpenGivesTheSystemReason) {
  EXPECT_EXIT(open_missing(), testing::ExitedWithCode(zeb::failure_status),
              "^text_layer_test: /nonexistent/x: No such file or directory\n$");
}

void write_to_full_device() {
  auto ch = std::make_unique<zeb::channel>();
  ch->fd = ::open("/dev/full", O_WRONLY);
  ch->writing = true;
  ch->label = "full";
  zeb::write_templated<"('x')">(*ch);
  zeb::flush(*ch);
}

TEST(EndDeathTest, WriteToAFullDeviceIsAFailure) {
  EXPECT_EXIT(write_to_full_device(), testing::ExitedWithCode(zeb::failure_status),
              "^text_layer_test: full: No space left on device\n$");
}

}  // namespace
