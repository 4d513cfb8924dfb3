// What every tool shares at its edges: the two arguments a person at a
// terminal tries first, diagnostics that are safe to show there, and the
// few system-call wrappers that every tool needs the same way. Header and
// library of their own, so that the tools that do not use the text layer
// (num_greater, endian_switch) link only this.
#pragma once

#include <cstddef>
#include <string_view>

namespace zeb {

// Every unguarded failure of every tool ends with this status.
inline constexpr int failure_status = 2;

// With `--help` (or `-h`) or `--version` as its only argument, writes the
// usage or the tool's name, version and date to standard output and ends
// the process, with status 0 (2, and one line on standard error, when
// standard output cannot be written). Standard input is never read. Any
// other arguments return at once: scripts never pass these, and tools
// ignore the rest.
void answer_help_or_version(int argc, char** argv, const char* tool, std::string_view usage);

// When standard input is a terminal, writes one line on standard error,
// "tool: waiting for WHAT; see tool --help": a person who typed the tool's
// name alone would otherwise face a silent wait. Nothing when a script
// pipes the answers in.
void hint_at_terminal(std::string_view tool, std::string_view what);

// Copies `text` into `out` (at most `room` bytes, no terminator) with every
// byte below 32, 127 and above 127 written as \xNN, so that input quoted in
// a diagnostic cannot drive the terminal. Gives the bytes written; an
// escape that does not fit whole is left out.
std::size_t escape_control_bytes(std::string_view text, char* out, std::size_t room);

// Writes one line "tool: subject: reason" on standard error, every part
// escaped as above. The subject is taken by length, so that a name or a
// token holding a NUL byte shows it as \x00 instead of ending there.
void diagnose(std::string_view tool, std::string_view subject, std::string_view reason);

// Writes all of `text` to `fd`, retrying interrupted and short writes.
// False, with errno set (EIO when the system wrote nothing), when it fails.
bool write_all(int fd, std::string_view text);

// A file must never take the place of standard input, output or error
// that the caller left closed: what is meant for one of them would land
// in it. Moves `fd` above them (close-on-exec); errno is kept on failure.
int above_standard_streams(int fd);

}  // namespace zeb
