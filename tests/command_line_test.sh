#!/usr/bin/env bash
# What every tool does with --help and --version, and how its diagnostics
# quote input that holds control bytes.
source "$2/tests/harness.sh"

VERSION=$(sed -n 's/^project(zeb_tools VERSION \([0-9.]*\).*/\1/p' "$SRC/CMakeLists.txt")
DATE=$(sed -n 's/^set(ZEB_DATE \(.*\))$/\1/p' "$SRC/CMakeLists.txt")

# run_waiting TOOL ARGS...: standard input is a pipe that stays open and
# empty, so a tool that reads it hangs until the timeout (status 124).
run_waiting() {
  local feeder
  exec 3< <(exec sleep 30 2>/dev/null)
  feeder=$!
  timeout 5 "$BIN/$1" "${@:2}" <&3 >out 2>err
  status=$?
  exec 3<&-
  kill "$feeder" 2>/dev/null
}

for tool in $ALL_TOOLS; do
  begin "$tool --help: usage on standard output, standard input unread"
  run_waiting "$tool" --help
  expect_status 0
  expect_no_err
  grep -q "^Usage: .*$tool" out || bad "no usage line naming $tool: $(head -1 out)"
  grep -qi "status" out || bad "the usage does not say how failure is reported"
  cp out "$WORK/usage"

  begin "$tool -h: the same usage"
  run_waiting "$tool" -h
  expect_status 0
  expect_no_err
  expect_same out "$WORK/usage"

  begin "$tool --version"
  run_waiting "$tool" --version
  expect_status 0
  expect_no_err
  expect_out "$tool $VERSION ($DATE)\n"

  begin "$tool --help on a full standard output"
  "$BIN/$tool" --help >/dev/full 2>err </dev/null
  status=$?
  expect_unguarded "^$tool: standard output: No space left on device$"
done

# At a terminal, a tool that waits for answers first says what for, and
# where to learn more; from a pipe (every other case) it says nothing.
for tool in zeb_index_rotate zeb_index_rotate_file zeb_grid_cell zeb_group_count zeb_nth_line; do
  begin "$tool at a terminal: one line saying what it waits for"
  timeout 10 script -qec "$BIN/$tool 2>err" /dev/null </dev/null >out
  head -n 1 err | grep -Eq "^$tool: waiting for .+; see $tool --help\$" || bad "no hint: $(cat err)"
done

# Only a lone --help or --version is answered; other arguments are ignored
# as they always were.
begin "zeb_index_rotate --help with a second argument filters as before"
run '1 2 3 10.0 20.0 0.5 0.25\n' zeb_index_rotate --help more
expect_out '     2     3     1        10.0        20.0       0.500       0.250\n'
expect_status 0

begin "num_greater with two arguments compares, whatever they are"
run '' num_greater 2 --help
expect_out ''
expect_unguarded "^num_greater: second argument '--help': not a number$"

# A hostile input must not reach the terminal through a diagnostic: every
# byte below 32, 127 and above 127 is escaped.
begin "control bytes and non-ASCII bytes in a failing token are escaped"
run '\033[2J\033]0:title\007\303\251 2 3 4 5 6 7\n' zeb_index_rotate
expect_unguarded "^zeb_index_rotate: standard input: line 1: cannot read '\\\\x1b\[2J\\\\x1b\]0:title\\\\x07\\\\xc3\\\\xa9' as an integer$"

begin "a NUL byte in a failing token or a refused name is shown, not taken for its end"
run '1 2 \x003 4 5 6 7\n' zeb_index_rotate
expect_unguarded "^zeb_index_rotate: standard input: line 1: cannot read '\\\\x003' as an integer$"
run '1 2 3\x00\033[2J 4 5 6 7\n' zeb_index_rotate
expect_unguarded "^zeb_index_rotate: standard input: line 1: cannot read '3\\\\x00\\\\x1b\\[2J' as an integer$"
run 'gri\x00d.dat\n1\n' zeb_nth_line
expect_unguarded "^zeb_nth_line: gri\\\\x00d.dat: Invalid argument$"

begin "random bytes give a diagnostic without a control byte"
head -c 4000 /dev/urandom >noise
STDIN_FILE=noise run - zeb_index_rotate
LC_ALL=C grep -q '[^ -~]' err && bad "raw byte in: $(od -c err | head -3)"
expect_status 2

begin "a file name with an escape sequence is escaped in its diagnostic"
run '\033[31mred\n1\n' zeb_nth_line
expect_unguarded "^zeb_nth_line: \\\\x1b\[31mred: No such file or directory$"

begin "endian_switch escapes a name it cannot open"
run '\033[31mred\n' endian_switch
grep -qF 'cannot open file ... \x1b[31mred ' out || bad "not escaped: $(tail -1 out | od -c | head -2)"
expect_status 1

summary
