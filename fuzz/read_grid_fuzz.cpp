// read_grid on arbitrary bytes, through a temporary file. Inputs that would
// end in an unguarded failure (the file ends where the header or a label
// record is due) exit the process, so they get one empty record more.
// Checks: the outcome fits the number of records, and a grid that was read
// survives a rewrite: the rewritten file reads back, and writing it again
// gives the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

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

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char name[] = "/tmp/read_grid_fuzz.XXXXXX";
  if (!mkdtemp(name)) std::abort();
  folder = name;
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
  if (o == zeb::grid_outcome::error) {
    zeb::close_channel(ch);
    return 0;
  }
  if ((o == zeb::grid_outcome::complete) != (records >= 15)) std::abort();
  if ((o == zeb::grid_outcome::complete) != (ch.fd < 0)) std::abort();
  zeb::close_channel(ch);

  const std::string first = rewrite();
  put("in", first);
  const zeb::grid_outcome again = read("in");
  // Only a value too wide for its field (asterisks) stops the read back.
  if (again == zeb::grid_outcome::error) {
    if (first.find('*', 81) == std::string::npos) std::abort();
    zeb::close_channel(ch);
    return 0;
  }
  if (again != zeb::grid_outcome::complete || rewrite() != first) std::abort();
  return 0;
}
