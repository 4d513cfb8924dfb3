// What every tool shares at its edges: the two arguments a person at a
// terminal tries first, and diagnostics that are safe to show there.
// Header and library of their own, so that the tools that do not use the
// text layer (num_greater, endian_switch) link only this.
#pragma once

#include <cstddef>
#include <string_view>

namespace zeb {

// With `--help` or `--version` as its only argument, writes the usage or
// the tool's name and version to standard output and ends the process,
// with status 0 (2, and one line on standard error, when standard output
// cannot be written). Standard input is never read. Any other arguments
// return at once: scripts never pass these two, and tools ignore the rest.
void answer_help_or_version(int argc, char** argv, const char* tool, std::string_view usage);

// Copies `text` into `out` (at most `room` bytes, no terminator) with every
// byte below 32, 127 and above 127 written as \xNN, so that input quoted in
// a diagnostic cannot drive the terminal. Gives the bytes written; an
// escape that does not fit whole is left out.
std::size_t escape_control_bytes(std::string_view text, char* out, std::size_t room);

}  // namespace zeb
