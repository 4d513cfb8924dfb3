// zeb_group_count: reads image paths from standard input and writes, for
// each run of consecutive lines with the same group name (the text before
// the first slash), "(I5,' images in ',A)": the run's length and the name.
//
// Scripts read this output as it has always been, quirks included: the
// comparison runs over the new line's name length only, so a shorter name
// that matches the start of the previous one continues its group; the
// record carries the name of the group's last line; a first group of
// empty or blank names is dropped unless it runs to the end of the input.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "text.h"

const char zeb::tool_name[] = "zeb_group_count";

namespace {

constexpr int field = 200;  // capacity of every text field of the tool

// A count beyond 32 bits must not wrap into a small or negative number:
// the I5 field shows asterisks from 100000 on, so clamping changes nothing.
std::int32_t shown(std::int64_t count) {
  return std::int32_t(std::min<std::int64_t>(count, INT32_MAX));
}

}  // namespace

int main() {
  char line[field];
  char blanks[field];
  char previous[field];
  std::memset(previous, ' ', field);
  zeb::write_templated(std::span<char>(blanks), "(200(' '))");
  std::int64_t count = 1;
  bool group_open = false;
  int previous_length = 0;

  for (;;) {
    // The line into a 200-character field, as "(A)" reads it: its first
    // 200 characters, blank-filled on the right.
    std::string_view record;
    const zeb::outcome got = zeb::next_record(zeb::std_in, record);
    if (got == zeb::outcome::end_of_file) break;
    if (got == zeb::outcome::error) {
      // The open group is lost; what was written stands.
      zeb::write_templated(zeb::std_out, "(' ======== ERROR OCCURRED in ',    'zeb_group_count ========')");
      zeb::normal_stop();
    }
    const std::size_t taken = std::min<std::size_t>(record.size(), field);
    std::memcpy(line, record.data(), taken);
    std::memset(line + taken, ' ', field - taken);

    // The name length: characters before the first slash among the first
    // 199; the last position never takes part.
    const void* slash = std::memchr(line, '/', field - 1);
    const int n = slash ? int(static_cast<const char*>(slash) - line) : field - 1;

    // Cut the line at the slash (with no slash, position 200 alone). The
    // cut line is then also the name field: its first m characters, blanks
    // after them.
    std::memcpy(line + n, blanks + n, std::size_t(field - n));
    const int m = n > 0 ? n : 1;

    if (std::memcmp(line, previous, std::size_t(m)) == 0) {
      ++count;
    } else {
      if (group_open)
        zeb::write_templated(zeb::std_out, "(I5,' images in ',A)", shown(count),
                             std::string_view(previous, std::size_t(previous_length)));
      group_open = true;
      count = 1;
    }
    std::memcpy(previous, line, field);
    previous_length = m;
  }

  // End of input: the last group, even when no line came at all.
  zeb::write_templated(zeb::std_out, "(I5,' images in ',A)", shown(count),
                       std::string_view(previous, std::size_t(previous_length)));
  zeb::normal_stop();
}
