// The line logic of zeb_group_count (group_count.h) on any input, read
// through a channel as the tool reads standard input, against a model that
// follows the tool's rules step by step with whole 200-character fields:
// the line field blank-filled, the name cut at the first slash among
// positions 1 to 199, the comparison over the new name's compare length,
// the previous name replaced by the whole name field. The group records,
// counts and names, must come out the same, the last one included.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "group_count.h"
#include "text.h"

const char zeb::tool_name[] = "group_count_fuzz";

namespace {

struct group_record {
  std::int64_t count;
  std::string name;
  bool operator==(const group_record&) const = default;
};

std::vector<group_record> model(const std::vector<std::string>& lines) {
  std::vector<group_record> out;
  char previous[200];
  std::memset(previous, ' ', 200);
  int previous_length = 0;
  std::int64_t count = 1;
  bool group_open = false;
  for (const std::string& line : lines) {
    char field[200];
    std::memset(field, ' ', 200);
    std::memcpy(field, line.data(), std::min<std::size_t>(line.size(), 200));
    int n = 199;
    for (int i = 1; i <= 199; ++i) {
      if (field[i - 1] == '/') {
        n = i - 1;
        break;
      }
    }
    for (int k = n; k < 200; ++k) field[k] = ' ';
    const int m = n == 0 ? 1 : n;
    char name[200];
    std::memset(name, ' ', 200);
    std::memcpy(name, field, std::size_t(m));
    if (std::memcmp(name, previous, std::size_t(m)) == 0) {
      ++count;
    } else {
      if (group_open) out.push_back({count, std::string(previous, std::size_t(previous_length))});
      group_open = true;
      count = 1;
    }
    std::memcpy(previous, name, 200);
    previous_length = m;
  }
  out.push_back({count, std::string(previous, std::size_t(previous_length))});
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  zeb::channel& ch = fuzz::input_channel(text);
  zeb::group_counter groups;
  std::vector<group_record> got;
  auto close_group = [&](std::int32_t count, std::string_view name) {
    got.push_back({count, std::string(name)});
  };
  for (;;) {
    std::string_view line;
    const zeb::outcome o = zeb::next_record(ch, line);
    if (o == zeb::outcome::end_of_file) break;
    FUZZ_CHECK(o == zeb::outcome::done);
    // Each line in a block of exactly its size: the logic reads no further.
    const fuzz::exact_copy copy(line);
    zeb::take_line(groups, copy.view(), close_group);
  }
  close_group(zeb::shown_count(groups.count), groups.name());

  const std::vector<std::string> lines = fuzz::records_of(text);
  FUZZ_CHECK(got == model(lines));
  FUZZ_CHECK(ch.line == std::int64_t(lines.size()));
  return 0;
}
