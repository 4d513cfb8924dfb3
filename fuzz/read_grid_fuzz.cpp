// read_grid on arbitrary bytes, through a temporary file. Inputs that would
// end in an unguarded failure (the file ends where the header or a label
// record is due) exit the process, so they get one empty record more.
// Checks: the outcome, the header line and every cell read agree with a
// plain reading of the records' columns (fuzz_support.h); a grid that was
// read survives a rewrite: the rewritten file reads back, and writing it
// again gives the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <unistd.h>

#include "fuzz_support.h"
#include "grid_file.h"

const char zeb::tool_name[] = "read_grid_fuzz";

namespace {

zeb::channel ch;
float grid[zeb::grid_cells];
char header_line[zeb::header_size];
char row_label[zeb::row_label_size];
std::string folder;

std::string path(const char* name) { return folder + "/" + name; }

void put(const char* name, const std::string& bytes) {
  FILE* f = std::fopen(path(name).c_str(), "wb");
  if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
  std::fclose(f);
}

std::string get(const char* name) {
  std::string s;
  FILE* f = std::fopen(path(name).c_str(), "rb");
  if (!f) std::abort();
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
  std::fclose(f);
  return s;
}

zeb::grid_outcome read(const char* name) {
  const std::string p = path(name);
  if (!zeb::open_old(ch, std::span<const char>(p.data(), p.size()))) std::abort();
  std::memset(grid, 0, sizeof grid);
  return zeb::read_grid(ch, grid, header_line, row_label);
}

std::string rewrite() {
  const std::string p = path("out");
  unlink(p.c_str());
  if (!zeb::open_new(ch, std::span<const char>(p.data(), p.size()))) std::abort();
  zeb::write_grid_header(ch, header_line);
  zeb::write_grid_rows(ch, grid);
  zeb::close_channel(ch);
  return get("out");
}

// Columns [from, from + w) of a record; those past its end are blanks.
std::string columns(const std::string& record, std::size_t from, std::size_t w) {
  std::string out(w, ' ');
  for (std::size_t k = 0; k < w && from + k < record.size(); ++k) out[k] = record[from + k];
  return out;
}

// The grid as a plain reading of the records gives it: the outcome, and
// the cells (from all zeros) up to the row that ends or fails.
zeb::grid_outcome expected_grid(const std::string& text, float (&cells)[zeb::grid_cells]) {
  const std::vector<std::string> records = fuzz::records_of(text);
  for (float& c : cells) c = 0;
  for (int r = 1; r <= zeb::grid_side; ++r) {
    const std::size_t values = std::size_t(2 * r);  // record 2r + 1, counted from 0
    if (values >= records.size()) return zeb::grid_outcome::ended_early;
    for (int c = 1; c <= zeb::grid_side; ++c) {
      const std::string field = columns(records[values], std::size_t(2 + 11 * (c - 1)), 11);
      if (!fuzz::ref_real(field, true, 1, cells[zeb::cell_at(c, r)])) return zeb::grid_outcome::error;
    }
  }
  return zeb::grid_outcome::complete;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // In memory where there is a memory file system: a run makes and
  // removes files thousands of times a second.
  char in_memory[] = "/dev/shm/read_grid_fuzz.XXXXXX";
  char on_disk[] = "/tmp/read_grid_fuzz.XXXXXX";
  if (mkdtemp(in_memory)) folder = in_memory;
  else if (mkdtemp(on_disk)) folder = on_disk;
  else std::abort();
  std::atexit([] { std::system(("rm -rf " + folder).c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::size_t records = 0;
  for (char c : text) records += c == '\n';
  if (!text.empty() && text.back() != '\n') ++records;
  // Header = record 1, label of row r = record 2r, its values = 2r + 1.
  while (records == 0 || (records % 2 == 1 && records < 15)) {
    text += text.empty() || text.back() == '\n' ? "\n" : "\n\n";
    ++records;
  }
  put("in", text);
  const zeb::grid_outcome o = read("in");
  float want[zeb::grid_cells];
  const zeb::grid_outcome want_outcome = expected_grid(text, want);
  FUZZ_CHECK(o == want_outcome);
  const std::vector<std::string> lines = fuzz::records_of(text);
  FUZZ_CHECK(std::string_view(header_line, sizeof header_line) ==
             columns(lines[0], 0, 80) + std::string(sizeof header_line - 80, ' '));
  for (int k = 0; k < zeb::grid_cells; ++k) {
    // The cell whose field failed may hold anything.
    if (o == zeb::grid_outcome::error && !fuzz::same_float(grid[k], want[k])) {
      for (int j = k + 1; j < zeb::grid_cells; ++j) FUZZ_CHECK(grid[j] == 0 && want[j] == 0);
      break;
    }
    FUZZ_CHECK(fuzz::same_float(grid[k], want[k]));
  }
  if (o == zeb::grid_outcome::error) {
    zeb::close_channel(ch);
    return 0;
  }
  FUZZ_CHECK((o == zeb::grid_outcome::complete) == (records >= 15));
  FUZZ_CHECK((o == zeb::grid_outcome::complete) == (ch.fd < 0));
  zeb::close_channel(ch);

  const std::string first = rewrite();
  put("in", first);
  const zeb::grid_outcome again = read("in");
  // Only a value too wide for its field (asterisks) stops the read back.
  if (again == zeb::grid_outcome::error) {
    FUZZ_CHECK(first.find('*', 81) != std::string::npos);
    zeb::close_channel(ch);
    return 0;
  }
  FUZZ_CHECK(again == zeb::grid_outcome::complete);
  std::string second = rewrite();
  // A carriage return in column 80 of the header ends up before the line
  // feed of the rewritten header, where a read drops it: that one column
  // comes back blank.
  if (first[79] == '\r' && second[79] == ' ') second[79] = '\r';
  if (second != first) std::fprintf(stderr, "first rewrite:\n%s\nsecond rewrite:\n%s\n", first.c_str(), second.c_str());
  FUZZ_CHECK(second == first);
  return 0;
}
