#!/usr/bin/env bash
# The script utilities when their surroundings fail: standard input empty,
# closed or unreadable, standard output full or closed, arguments missing,
# the named file missing, unreadable, a folder or empty, a read error in it.
# Every case checks standard output byte for byte, the exit status, the one
# diagnostic line of an unguarded failure (or an empty standard error), and
# that no file of the case folder changed: these tools only ever read files.
source "$2/tests/harness.sh"

# A file nobody but root may read. It lies outside the case folders: a
# snapshot without privileges could not copy it.
printf 'secret\n' >"$WORK/locked.txt"
chmod 000 "$WORK/locked.txt"

# Files every case finds beside it.
fixture() {
  printf 'first\nsecond\n' >lines.txt
  : >empty.txt
  mkdir dir
  printf 'x\n' >dir/inside
}

# launch OUTPUT TOOL ARGS...: runs the tool with standard output a file
# (out), /dev/full or closed; standard input is the caller's.
launch() {
  local output=$1 tool=$2
  shift 2
  case $output in
    file) "$BIN/$tool" "$@" >out 2>err ;;
    full) "$BIN/$tool" "$@" >/dev/full 2>err ;;
    closed) "$BIN/$tool" "$@" >&- 2>err ;;
  esac
}

# fault INPUT OUTPUT TOOL ARGS...: INPUT is empty, closed, folder (standard
# input a folder: every read fails) or printf %b text after "text:";
# OUTPUT as for launch, or unprivileged (standard output a file, the tool
# run as a user without privileges).
fault() {
  local input=$1 output=$2 tool=$3
  shift 3
  : >out
  if [ "$output" = unprivileged ]; then
    run_unprivileged "${input#text:}" "$tool" "$@"
    return
  fi
  case $input in
    empty) printf '' | launch "$output" "$tool" "$@" ;;
    closed) launch "$output" "$tool" "$@" <&- ;;
    folder) launch "$output" "$tool" "$@" <dir ;;
    text:*) printf '%b' "${input#text:}" | launch "$output" "$tool" "$@" ;;
  esac
  status=$?
}

# One case a line: tool | arguments | standard input | standard output |
# expected standard output | status | standard error (empty: none; else
# an extended regular expression for each of its lines, separated by |).
matrix() {
  cat <<'EOF'
num_greater|2 1|empty|file|1|0|
num_greater|2 1|closed|file|1|0|
num_greater|1 2|folder|file|0|0|
num_greater|2 1|empty|full||2|^num_greater: standard output: No space left on device$
num_greater|2 1|closed|closed||2|^num_greater: standard output: Bad file descriptor$
num_greater||closed|file||2|^num_greater: first argument: missing$
num_greater|5|empty|closed||2|^num_greater: second argument: missing$
num_greater|abc 1|closed|full||2|^num_greater: first argument 'abc': not a number$
zeb_group_count||empty|file|    1 images in \n|0|
zeb_group_count||closed|file| ======== ERROR OCCURRED in zeb_group_count ========\n|0|^zeb_group_count: standard input: Bad file descriptor$
zeb_group_count||folder|file| ======== ERROR OCCURRED in zeb_group_count ========\n|0|^zeb_group_count: standard input: Is a directory$
zeb_group_count|lines.txt x|text:a/1\n|file|    1 images in a\n|0|
zeb_group_count||text:a/1\n|full||2|^zeb_group_count: standard output: No space left on device$
zeb_group_count||text:a/1\n|closed||2|^zeb_group_count: standard output: Bad file descriptor$
zeb_group_count||empty|closed||2|^zeb_group_count: standard output: Bad file descriptor$
zeb_group_count||closed|closed||2|^zeb_group_count: standard input: Bad file descriptor$|^zeb_group_count: standard output: Bad file descriptor$
zeb_group_count||folder|full||2|^zeb_group_count: standard input: Is a directory$|^zeb_group_count: standard output: No space left on device$
zeb_nth_line||text:lines.txt\n2\n|file|second\n|0|
zeb_nth_line||empty|file||2|^zeb_nth_line: standard input: end of file after line 0$
zeb_nth_line||closed|file||2|^zeb_nth_line: standard input: Bad file descriptor$
zeb_nth_line||folder|file||2|^zeb_nth_line: standard input: Is a directory$
zeb_nth_line||text:lines.txt|file||2|^zeb_nth_line: standard input: end of file after line 1$
zeb_nth_line||closed|closed||2|^zeb_nth_line: standard input: Bad file descriptor$
zeb_nth_line||text:lines.txt\n2\n|full||2|^zeb_nth_line: standard output: No space left on device$
zeb_nth_line||text:lines.txt\n2\n|closed||2|^zeb_nth_line: standard output: Bad file descriptor$
zeb_nth_line||text:lines.txt\n0\n|closed||2|^zeb_nth_line: standard output: Bad file descriptor$
zeb_nth_line||text:missing.txt\n1\n|file||2|^zeb_nth_line: missing.txt: No such file or directory$
zeb_nth_line||text:missing.txt\n0\n|closed||2|^zeb_nth_line: missing.txt: No such file or directory$
zeb_nth_line||text:dir\n0\n|file||2|^zeb_nth_line: dir: Is a directory$
zeb_nth_line||text:dir\n1\n|full||2|^zeb_nth_line: dir: Is a directory$
zeb_nth_line||text:empty.txt\n1\n|file||2|^zeb_nth_line: empty.txt: end of file after line 0$
zeb_nth_line||text:/dev/null\n1\n|file||2|^zeb_nth_line: /dev/null: end of file after line 0$
zeb_nth_line||text:lines.txt\n3\n|closed||2|^zeb_nth_line: lines.txt: end of file after line 2$
zeb_nth_line||text:../locked.txt\n1\n|unprivileged||2|^zeb_nth_line: \.\./locked\.txt: Permission denied$
zeb_nth_line||text:../locked.txt\n0\n|unprivileged||2|^zeb_nth_line: \.\./locked\.txt: Permission denied$
zeb_nth_line||text:dir/inside\n1\n|unprivileged|x\n|0|
EOF
}

while IFS='|' read -r tool args input output want code diagnostic; do
  begin "$tool $args: standard input $input, standard output $output"
  fixture
  snapshot
  # shellcheck disable=SC2086 # the arguments are words
  fault "$input" "$output" "$tool" $args
  expect_out "$want"
  expect_status "$code"
  if [ -n "$diagnostic" ]; then
    IFS='|' read -ra lines <<<"$diagnostic"
    expect_err "${lines[@]}"
  else
    expect_no_err
  fi
  expect_unchanged
done < <(matrix)

begin "the unreadable file is unchanged"
chmod 644 "$WORK/locked.txt"
expect_file "$WORK/locked.txt" 'secret\n'

# Output that fails in the middle, at a buffer's flush, not at the end:
# the tool stops at once, with the diagnostic, not with a later record.
for output in 'full|No space left on device' 'closed|Bad file descriptor'; do
  reason=${output#*|} output=${output%|*}
  begin "zeb_group_count: many records, standard output $output"
  seq 200000 | sed 's|$|/x|' >in
  snapshot
  : >out
  launch "$output" zeb_group_count <in
  status=$?
  expect_status 2
  expect_err "^zeb_group_count: standard output: $reason\$"
  expect_unchanged
done

# A file that opens but cannot be read: nothing on standard output.
if strace -o /dev/null true 2>/dev/null; then
  begin "zeb_nth_line: a read error in the file"
  fixture
  printf 'lines.txt\n2\n' >answers
  snapshot
  # Only reads of that file fail: a dynamic loader reads files too.
  strace -o /dev/null -P "$PWD/lines.txt" -e trace=read -e inject=read:error=EIO \
    "$BIN/zeb_nth_line" <answers >out 2>err
  status=$?
  expect_out ''
  expect_unguarded '^zeb_nth_line: lines.txt: Input/output error$'
  expect_unchanged
else
  skip_cases "the read error in the file needs strace"
fi

summary
