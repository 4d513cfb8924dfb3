// The line logic of zeb_group_count: the group name of each line, the
// comparison with the name before it, and the count of the open group.
// The tool and its fuzz target share it.
//
// Scripts read the output as it has always been, quirks included: the
// comparison runs over the new line's name length only, so a shorter name
// that matches the start of the previous one continues its group; the
// record carries the name of the group's last line; a first group of
// empty or blank names is dropped unless it runs to the end of the input.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace zeb {

inline constexpr int group_field = 200;  // capacity of every text field of the tool

struct group_counter {
  // The previous name: the first previous_length characters of a
  // 200-character field whose other positions are blanks. Only positions
  // that change are written, which keeps a line at a few dozen bytes of work.
  char previous[group_field];
  int previous_length = 0;
  std::int64_t count = 1;
  bool group_open = false;

  group_counter() { std::memset(previous, ' ', group_field); }

  // The group record due now: the count and the previous name.
  std::string_view name() const { return std::string_view(previous, std::size_t(previous_length)); }
};

// A count beyond 32 bits must not wrap into a small or negative number:
// the I5 field shows asterisks from 100000 on, so clamping changes nothing.
inline std::int32_t shown_count(std::int64_t count) {
  return std::int32_t(std::min<std::int64_t>(count, INT32_MAX));
}

// Takes one input line. When it starts a new group after an open one,
// `close_group(count, name)` gets the record of the group it ends, before
// the state moves on.
template <typename F>
void take_line(group_counter& g, std::string_view line, F&& close_group) {
  // The line as a 200-character field reads it ("(A)": blanks past its
  // end). The name length n counts the characters before the first
  // slash among positions 1 to 199; position 200 never takes part.
  const std::size_t seen = std::min<std::size_t>(line.size(), group_field - 1);
  const void* slash = std::memchr(line.data(), '/', seen);
  const int n = slash ? int(static_cast<const char*>(slash) - line.data()) : group_field - 1;

  // The name: positions 1 to m of the line cut at the slash. Mostly
  // that is the line itself; an empty name is one blank, and a short
  // line without a slash ends in blanks.
  const int m = n > 0 ? n : 1;
  const std::size_t kept = std::min<std::size_t>(seen, std::size_t(n));
  const char* name = line.data();
  char padded[group_field];
  if (kept < std::size_t(m)) {
    if (kept > 0) std::memcpy(padded, line.data(), kept);
    std::memset(padded + kept, ' ', std::size_t(m) - kept);
    name = padded;
  }

  if (std::memcmp(name, g.previous, std::size_t(m)) == 0) {
    ++g.count;
  } else {
    if (g.group_open) close_group(shown_count(g.count), g.name());
    g.group_open = true;
    g.count = 1;
    std::memcpy(g.previous, name, std::size_t(m));
  }
  // The previous name becomes this one, blanks after its m characters.
  if (g.previous_length > m) std::memset(g.previous + m, ' ', std::size_t(g.previous_length - m));
  g.previous_length = m;
}

}  // namespace zeb
