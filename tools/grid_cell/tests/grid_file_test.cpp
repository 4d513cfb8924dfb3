// Reading grid files into the 7 by 7 grid, and the two files written from it.
#include "grid_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

const char zeb::tool_name[] = "grid_file_test";

namespace {

std::string blanks(std::size_t n) { return std::string(n, ' '); }

// A value record: two skipped columns, then each text right-justified in 11.
std::string values(std::initializer_list<const char*> cells, const char* lead = "  ") {
  std::string s = lead;
  for (const char* c : cells) s += blanks(11 - std::string(c).size()) + c;
  return s;
}

struct grid_file_test : ::testing::Test {
  char dir[32] = "/tmp/grid_file_test.XXXXXX";
  zeb::channel ch;
  float grid[zeb::grid_cells] = {};
  char header_line[zeb::header_size];
  char row_label[zeb::row_label_size];

  void SetUp() override { ASSERT_NE(mkdtemp(dir), nullptr); }
  void TearDown() override { std::system((std::string("rm -rf ") + dir).c_str()); }

  std::string path(const char* name) { return std::string(dir) + "/" + name; }
  void put(const char* name, const std::string& bytes) {
    FILE* f = std::fopen(path(name).c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  std::string get(const char* name) {
    std::string s;
    FILE* f = std::fopen(path(name).c_str(), "rb");
    for (int c; f && (c = std::fgetc(f)) != EOF;) s += char(c);
    if (f) std::fclose(f);
    return s;
  }
  zeb::grid_outcome read(const char* name) {
    const std::string p = path(name);
    EXPECT_TRUE(zeb::open_old(ch, std::span<const char>(p.data(), p.size())));
    return zeb::read_grid(ch, grid, header_line, row_label);
  }
  zeb::grid_outcome read_text(const std::string& text) {
    put("in", text);
    return read("in");
  }
  // Writes the whole rewritten grid file.
  std::string write() {
    const std::string p = path("out");
    unlink(p.c_str());
    EXPECT_TRUE(zeb::open_new(ch, std::span<const char>(p.data(), p.size())));
    zeb::write_grid_header(ch, header_line);
    zeb::write_grid_rows(ch, grid);
    zeb::close_channel(ch);
    return get("out");
  }
  float cell(int c, int r) { return grid[zeb::cell_at(c, r)]; }
};

// A header and seven label and value records; row r of value `rows[r-1]`.
std::string grid_text(const std::string& header, const std::string (&rows)[7]) {
  std::string s = header + "\n";
  for (int r = 0; r < 7; ++r) s += "label " + std::to_string(r + 1) + "\n" + rows[r] + "\n";
  return s;
}

TEST_F(grid_file_test, value_records_read_by_their_columns) {
  struct {
    std::string record;
    float cells[7];
  } const rows[7] = {
      {"    1.5" + blanks(6) + "2.25", {1.5f, 2.25f}},  // anywhere in its 11 columns
      {values({"125", "-3", "1 2 5"}), {12.5f, -0.3f, 12.5f}},  // one implied decimal
      {values({"7.5"}), {7.5f}},                                // 13 columns: the rest is 0.0
      {"", {}},                                                 // an empty line: all 0.0
      {values({"1", "2", "3", "4", "5", "6", "7"}, "::") + "not a number at all",
       {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f}},             // columns 80 on ignored
      {values({"1.5E2", "-2.5d1", "1e-1"}), {150.0f, -25.0f, 0.01f}},  // no point: implied decimal too
      {values({"1234567.0", "-0.04", "Infinity"}), {1234567.0f, -0.04f, INFINITY}},
  };
  std::string text[7];
  for (int r = 0; r < 7; ++r) text[r] = rows[r].record;
  ASSERT_EQ(read_text(grid_text("h", text)), zeb::grid_outcome::complete);
  EXPECT_EQ(ch.fd, -1);  // a complete read closes the grid file
  for (int r = 1; r <= 7; ++r)
    for (int c = 1; c <= 7; ++c) EXPECT_EQ(cell(c, r), rows[r - 1].cells[c - 1]) << c << "," << r;
}

TEST_F(grid_file_test, header_keeps_80_columns_padded_to_200) {
  const std::string rows[7];
  const std::string longer = std::string(80, 'h') + std::string(20, 'x');
  ASSERT_EQ(read_text(grid_text(longer, rows)), zeb::grid_outcome::complete);
  EXPECT_EQ(std::string(header_line, 200), std::string(80, 'h') + blanks(120));
  ASSERT_EQ(read_text(grid_text("short", rows)), zeb::grid_outcome::complete);
  EXPECT_EQ(std::string(header_line, 200), "short" + blanks(195));
}

TEST_F(grid_file_test, outcomes_of_short_long_and_bad_files) {
  const std::string ones[7] = {values({"1"}), values({"2"}), values({"3"}), values({"4"}),
                               values({"5"}), values({"6"}), values({"7"})};
  // A file that ends right after the label record of row 4.
  const std::string full = grid_text("h", ones);
  std::string early;
  for (std::size_t at = 0, lines = 0; lines < 8; ++lines) at = full.find('\n', at) + 1, early = full.substr(0, at);
  ASSERT_EQ(read_text(early), zeb::grid_outcome::ended_early);
  EXPECT_GE(ch.fd, 0);  // left open for the caller
  for (int r = 1; r <= 7; ++r) EXPECT_EQ(cell(1, r), r <= 3 ? r / 10.0f : 0.0f) << r;
  zeb::close_channel(ch);

  // Thirty records: the 15 of the grid, then anything at all.
  ASSERT_EQ(read_text(full + "letters\n" + std::string(14, '\n')), zeb::grid_outcome::complete);
  // A last record without a line feed still counts.
  ASSERT_EQ(read_text(full.substr(0, full.size() - 1)), zeb::grid_outcome::complete);

  std::string bad[7] = {ones[0], ones[1], values({"1", "x2"})};
  EXPECT_EQ(read_text(grid_text("h", bad)), zeb::grid_outcome::error);
  zeb::close_channel(ch);
}

// A file that ends where a header or label record is due has no branch.
TEST_F(grid_file_test, ends_before_header_or_label_are_unguarded_failures) {
  const std::string rows[3] = {values({"1"}), values({"2"}), values({"3"})};
  std::string three = "h\n";
  for (const std::string& row : rows) three += "label\n" + row + "\n";
  for (const std::string& text : {std::string(), std::string("header only\n"), three}) {
    put("in", text);
    EXPECT_EXIT(read("in"), ::testing::ExitedWithCode(zeb::failure_status), "grid_file_test: .*in");
  }
}

TEST_F(grid_file_test, rewritten_file_has_16_records_of_fixed_widths) {
  std::string fields[zeb::grid_cells];
  for (int i = 0; i < zeb::grid_cells; ++i) {
    grid[i] = float(i);
    fields[i] = values({std::to_string(i).append(".0").c_str()}, "");
  }
  const struct {
    int c, r;
    float value;
    const char* field;
  } specials[] = {
      {3, 5, -0.04f, "       -0.0"},      // keeps its sign
      {7, 7, 1.0e11f, "***********"},     // too wide
      {1, 1, 1234567.0f, "  1234567.0"},  // seven digits fit
      {2, 1, -0.25f, "       -0.2"},      // a tie goes to the even digit
  };
  for (const auto& s : specials) {
    grid[zeb::cell_at(s.c, s.r)] = s.value;
    fields[zeb::cell_at(s.c, s.r)] = s.field;
  }
  std::memset(header_line, ' ', sizeof header_line);
  std::memcpy(header_line, "head", 4);
  std::memset(header_line + 150, 'z', 50);  // beyond column 80: never written
  std::string expected = "head" + blanks(76) + "\n";
  for (int r = 1; r <= 7; ++r) {
    expected += ":: \n::";
    for (int c = 1; c <= 7; ++c) expected += fields[zeb::cell_at(c, r)];
    expected += "\n";
  }
  expected += ":: \n";
  EXPECT_EQ(write(), expected);
}

// A rewritten file reads back as the same header and the cells rounded to
// one decimal; writing it again changes nothing.
TEST_F(grid_file_test, rewritten_file_reads_back) {
  std::string rows[7];
  for (int r = 0; r < 7; ++r)
    rows[r] = values({"1.04", "-2.96", "3.05", "0.25", "17", "-0.04", "1048576.13"});
  ASSERT_EQ(read_text(grid_text(std::string(90, 'H'), rows)), zeb::grid_outcome::complete);
  const std::string first = write();
  put("in", first);
  ASSERT_EQ(read("in"), zeb::grid_outcome::complete);
  EXPECT_EQ(std::string(header_line, 200), std::string(80, 'H') + blanks(120));
  const float rounded[7] = {1.0f, -3.0f, 3.0f, 0.2f, 1.7f, -0.0f, 1048576.1f};
  for (int c = 1; c <= 7; ++c) EXPECT_EQ(cell(c, 4), rounded[c - 1]) << c;
  EXPECT_EQ(write(), first);
}

}  // namespace
