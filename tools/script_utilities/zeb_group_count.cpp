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
  // The previous name: the first previous_length characters of a
  // 200-character field whose other positions are blanks. Only positions
  // that change are written, which keeps a line at a few dozen bytes of work.
  char previous[field];
  std::memset(previous, ' ', field);
  int previous_length = 0;
  std::int64_t count = 1;
  bool group_open = false;

  for (;;) {
    std::string_view line;
    const zeb::outcome got = zeb::next_record(zeb::std_in, line);
    if (got == zeb::outcome::end_of_file) break;
    if (got == zeb::outcome::error) {
      // The open group is lost; what was written stands.
      zeb::write_templated(zeb::std_out, "(' ======== ERROR OCCURRED in ',    'zeb_group_count ========')");
      zeb::normal_stop();
    }

    // The line as a 200-character field reads it ("(A)": blanks past its
    // end). The name length n counts the characters before the first
    // slash among positions 1 to 199; position 200 never takes part.
    const std::size_t seen = std::min<std::size_t>(line.size(), field - 1);
    const void* slash = std::memchr(line.data(), '/', seen);
    const int n = slash ? int(static_cast<const char*>(slash) - line.data()) : field - 1;

    // The name: positions 1 to m of the line cut at the slash. Mostly
    // that is the line itself; an empty name is one blank, and a short
    // line without a slash ends in blanks.
    const int m = n > 0 ? n : 1;
    const std::size_t kept = std::min<std::size_t>(seen, std::size_t(n));
    const char* name = line.data();
    char padded[field];
    if (kept < std::size_t(m)) {
      std::memcpy(padded, line.data(), kept);
      std::memset(padded + kept, ' ', std::size_t(m) - kept);
      name = padded;
    }

    if (std::memcmp(name, previous, std::size_t(m)) == 0) {
      ++count;
    } else {
      if (group_open)
        zeb::write_templated(zeb::std_out, "(I5,' images in ',A)", shown(count),
                             std::string_view(previous, std::size_t(previous_length)));
      group_open = true;
      count = 1;
      std::memcpy(previous, name, std::size_t(m));
    }
    // The previous name becomes this one, blanks after its m characters.
    if (previous_length > m) std::memset(previous + m, ' ', std::size_t(previous_length - m));
    previous_length = m;
  }

  // End of input: the last group, even when no line came at all.
  zeb::write_templated(zeb::std_out, "(I5,' images in ',A)", shown(count),
                       std::string_view(previous, std::size_t(previous_length)));
  zeb::normal_stop();
}
