#!/usr/bin/env bash
# End-to-end tests of zeb_index_rotate_file: the dialogue and its echoes,
# the head line, the closing line and the files left behind on each path,
# and that no existing file is ever written.
source "$2/tests/harness.sh"
TOOL=zeb_index_rotate_file

source "$SRC/tools/index_rotate/tests/rotate_file_texts.sh"

# One output record from the texts of its six fields.
rec() { printf '%6s%6s%6s%12s%12s%12s\\n' "$@"; }

RECORDS='1 2 3 100.0 45.5 0.25\n-4 5 -6 1520.3 12.5 0.05\n7,8,9, 0.15, -0.04, 1e3\n'
R1=$(rec 2 3 1 100.0 45.5 0.250)
R2=$(rec 5 -6 -4 1520.3 12.5 0.050)
R3=$(rec 8 9 7 0.2 -0.0 1000.000)
ROTATED="$R1$R2$R3"

# put_file FILE TEXT: writes printf %b text to a file, and keeps a copy to
# check later that the tool left it as it was.
put_file() {
  printf '%b' "$2" >"$1"
  cp -- "$1" "$WORK/kept.$(printf '%s' "$1" | md5sum | cut -c1-8)"
}
expect_unchanged() {
  cmp -s -- "$1" "$WORK/kept.$(printf '%s' "$1" | md5sum | cut -c1-8)" || bad "$1 was changed"
}

# --- dialogue and echoes ---------------------------------------------------

begin "three records, answer 0: echoes, rotated file, count line"
put_file in.dat "$RECORDS"
run 'in.dat\nout.dat\n0\n' $TOOL ignored arguments
expect_status 0
expect_no_err
expect_out "$(dialogue in.dat out.dat '  0')$(count_line 3)"
expect_file out.dat "$ROTATED"
expect_unchanged in.dat

begin "a line longer than the buffer: its record whole, the next one its own"
printf '1 2 3 %70000s100.0 45.5 0.25\n-4 5 -6 1520.3 12.5 0.05\n' '' >in.dat
run 'in.dat\nout.dat\n0\n' $TOOL
expect_out "$(dialogue in.dat out.dat '  0')$(count_line 2)"
expect_file out.dat "$R1$R2"

begin "head answers are echoed in three columns; only the integer 1 copies a head line"
put_file in.dat "$RECORDS"
for pair in '2|  2' '-1| -1' '999|999' '1000|***' '-99|-99' '-100|***' \
  '/|  0' ',|  0' '\n  \n 2 1 extra|  2' '01|  1'; do
  answer=${pair%%|*} echo=${pair#*|}
  rm -f out.dat
  run "in.dat\nout.dat\n$answer\n" $TOOL
  expect_status 0
  if [ "$answer" = 01 ]; then  # the integer 1 however written
    expect_out "$(dialogue in.dat out.dat "$echo")$(count_line 2)"
    expect_file out.dat "1 2 3 100.0 45.5 0.25\n$R2$R3"
  else
    expect_out "$(dialogue in.dat out.dat "$echo")$(count_line 3)"
    expect_file out.dat "$ROTATED"
  fi
done

begin "names: leading and inner blanks belong to the name, trailing ones do not"
put_file 'my data.hkl' "$RECORDS"
run 'my data.hkl   \n out.dat\n0\n' $TOOL
expect_status 0
expect_out "$(dialogue 'my data.hkl' ' out.dat' '  0')$(count_line 3)"
expect_file ' out.dat' "$ROTATED"
expect_no_file out.dat

begin "names of 190 characters are taken whole"
long_in=$(printf 'i%.0s' {1..190})
long_out=$(printf 'o%.0s' {1..190})
put_file "$long_in" "$RECORDS"
run "${long_in}    \n${long_out}\n0\n" $TOOL
expect_end 0 ''
expect_out "$(dialogue "$long_in" "$long_out" '  0')$(count_line 3)"
expect_file "$long_out" "$ROTATED"

# A longer name is echoed cut, as ever, but never opened cut: that would
# read or create a file the script did not name.
begin "names longer than 190 characters are refused, nothing created"
put_file "$long_in" "$RECORDS"
run "${long_in}\n${long_out}_suffix_name\n0\n" $TOOL
expect_out "$(dialogue "$long_in" "$long_out" '  0')$OPEN_FAIL"
expect_end 0 "${long_out}_suffix_name: name longer than 190 characters"
expect_no_file "$long_out"
run "${long_in}IGNORED\n${long_out}\n0\n" $TOOL
expect_out "$(dialogue "$long_in" "$long_out" '  0')$OPEN_FAIL"
expect_end 0 "${long_in}IGNORED: name longer than 190 characters"
expect_no_file "$long_out"
# Text past the whole field, after blanks, still makes the name too long.
past=$(printf '%s%5000sX' "$long_out" '')
run "${long_in}\n${past}\n0\n" $TOOL
expect_out "$(dialogue "$long_in" "$long_out" '  0')$OPEN_FAIL"
expect_end 0 "${past:0:255}: name longer than 190 characters"
expect_no_file "$long_out"

begin "a blank name line is echoed as one blank and fails to open"
put_file in.dat "$RECORDS"
run '\nout.dat\n0\n' $TOOL
expect_status 0
expect_out "$(dialogue ' ' out.dat '  0')$OPEN_FAIL"
expect_no_file out.dat
run 'in.dat\n    \n0\n' $TOOL
expect_out "$(dialogue in.dat ' ' '  0')$OPEN_FAIL"
expect_unchanged in.dat

begin "answers missing: unguarded failure after the prompts so far, nothing created"
put_file in.dat "$RECORDS"
run '' $TOOL
expect_unguarded '^zeb_index_rotate_file: standard input: '
expect_out "$P_IN"
run 'in.dat\n' $TOOL
expect_unguarded '^zeb_index_rotate_file: standard input: '
expect_out "$P_IN read:in.dat\n$P_OUT"
run 'in.dat\nout.dat\n' $TOOL
expect_unguarded '^zeb_index_rotate_file: standard input: '
expect_out "$P_IN read:in.dat\n${P_OUT} read:out.dat\n$P_HEAD"
run 'in.dat\nout.dat\n\n\n' $TOOL
expect_unguarded '^zeb_index_rotate_file: standard input: '
expect_no_file out.dat
expect_unchanged in.dat

begin "a head answer that is not an integer: unguarded failure, nothing created"
put_file in.dat "$RECORDS"
for answer in y 1.0 99999999999; do
  run "in.dat\nout.dat\n$answer\n" $TOOL
  expect_unguarded '^zeb_index_rotate_file: standard input: '
  expect_out "$P_IN read:in.dat\n${P_OUT} read:out.dat\n$P_HEAD"
  expect_no_file out.dat
done

begin "each prompt is out before its answer is awaited"
put_file in.dat "$RECORDS"
coproc dialog { "$BIN/$TOOL" 2>err; }
exec {from_tool}<&"${dialog[0]}" {to_tool}>&"${dialog[1]}"
tool_pid=$dialog_PID
: >out
for answer in in.dat out.dat 0 ''; do
  # Each prompt must arrive while the tool is still waiting for its answer.
  prompted=0
  while IFS= read -r -t 5 line <&"$from_tool"; do
    printf '%s\n' "$line" >>out
    case $line in *'file name' | *'(1=y,0=n) ') prompted=1 && break ;; esac
  done
  [ -n "$answer" ] || break
  [ "$prompted" = 1 ] || { bad "no prompt before answer '$answer'"; kill "$tool_pid"; break; }
  printf '%s\n' "$answer" >&"$to_tool"
done
exec {from_tool}<&- {to_tool}>&-
wait "$tool_pid"
status=$?
expect_status 0
expect_out "$(dialogue in.dat out.dat '  0')$(count_line 3)"
expect_file out.dat "$ROTATED"

begin "standard output that cannot be written: unguarded failure before any file is made"
put_file in.dat "$RECORDS"
printf 'in.dat\nout.dat\n0\n' | "$BIN/$TOOL" >/dev/full 2>err
status=$?
expect_unguarded '^zeb_index_rotate_file: standard output: No space left on device$'
expect_no_file out.dat

# --- head line ---------------------------------------------------------------

begin "answer 1: the title is copied without its trailing blanks, records after it counted"
put_file in.dat "  Crystal 7, tilt 0.0  \t   \n$RECORDS"
run 'in.dat\nout.dat\n1\n' $TOOL
expect_status 0
expect_out "$(dialogue in.dat out.dat '  1')$(count_line 3)"
expect_file out.dat "  Crystal 7, tilt 0.0  \t\n$ROTATED"
expect_unchanged in.dat

begin "answer 1 without a head line: the first record is copied as text, not counted"
put_file in.dat "$RECORDS"
run 'in.dat\nout.dat\n1\n' $TOOL
expect_out "$(dialogue in.dat out.dat '  1')$(count_line 2)"
expect_file out.dat "1 2 3 100.0 45.5 0.25\n$R2$R3"

begin "a blank head line is written as one blank"
put_file in.dat "\n$RECORDS"
run 'in.dat\nout.dat\n1\n' $TOOL
expect_out "$(dialogue in.dat out.dat '  1')$(count_line 3)"
expect_file out.dat " \n$ROTATED"

begin "a head line is cut after 180 characters, less the blanks that end them"
text170=$(printf 'h%.0s' {1..170})
text180=$(printf 'h%.0s' {1..180})
put_file in.dat "$text170          TAIL PAST COLUMN 180\n$RECORDS"
run 'in.dat\nout.dat\n1\n' $TOOL
expect_out "$(dialogue in.dat out.dat '  1')$(count_line 3)"
expect_file out.dat "$text170\n$ROTATED"
put_file in2.dat "${text180}MORE\n$RECORDS"
run 'in2.dat\nout2.dat\n1\n' $TOOL
expect_out "$(dialogue in2.dat out2.dat '  1')$(count_line 3)"
expect_file out2.dat "$text180\n$ROTATED"

begin "a head line alone: copied, count 0"
put_file in.dat 'Only a title'
run 'in.dat\nout.dat\n1\n' $TOOL
expect_out "$(dialogue in.dat out.dat '  1')$(count_line 0)"
expect_file out.dat 'Only a title\n'

begin "answer 1 and an empty input: unguarded failure, the output stays empty"
put_file in.dat ''
run 'in.dat\nout.dat\n1\n' $TOOL
expect_unguarded '^zeb_index_rotate_file: in.dat: '
expect_out "$(dialogue in.dat out.dat '  1')"
expect_file out.dat ''

begin "answer 0 for a file with a title: the title cannot be read as a record"
put_file in.dat "Crystal 7\n$RECORDS"
run 'in.dat\nout.dat\n0\n' $TOOL
expect_status 0
expect_out "$(dialogue in.dat out.dat '  0')$READ_FAIL"
expect_file out.dat ''

# --- closing lines and file states -----------------------------------------

begin "an empty input, or one of blank lines: empty output, count 0"
put_file in.dat ''
run 'in.dat\nout.dat\n0\n' $TOOL
expect_status 0
expect_out "$(dialogue in.dat out.dat '  0')$(count_line 0)"
expect_file out.dat ''
put_file in2.dat '\n   \n\t\n'
run 'in2.dat\nout2.dat\n0\n' $TOOL
expect_out "$(dialogue in2.dat out2.dat '  0')$(count_line 0)"
expect_file out2.dat ''

begin "records over several lines, extra values, carried values, no last line feed"
put_file in.dat '1 2\n\n 3 4\n5 6 99 98\n10 20 30 7 /\n-1000000 999999 -99999 1e9 -1e7 -0.0005'
run 'in.dat\nout.dat\n0\n' $TOOL
expect_status 0
expect_out "$(dialogue in.dat out.dat '  0')$(count_line 3)"
expect_file out.dat "$(rec 2 3 1 4.0 5.0 6.000)$(rec 20 30 10 7.0 5.0 6.000)$(rec 999999 -99999 '******' 1000000000.0 -10000000.0 -0.001)"

begin "a malformed record after two good ones: reading-failure line, two records kept"
put_file in.dat "Title\n1 2 3 4 5 6\n7 8 9 10 11 12\n13 14 x 16 17 18\n19 20 21 22 23 24\n"
run 'in.dat\nout.dat\n1\n' $TOOL
expect_end 0 "in.dat: line 4: cannot read 'x' as an integer"
expect_out "$(dialogue in.dat out.dat '  1')$READ_FAIL"
expect_file out.dat "Title\n$(rec 2 3 1 4.0 5.0 6.000)$(rec 8 9 7 10.0 11.0 12.000)"
expect_unchanged in.dat

begin "an index outside 32 bits: reading-failure line"
put_file in.dat "1 2 3 4 5 6\n2147483648 1 1 1 1 1\n"
run 'in.dat\nout.dat\n0\n' $TOOL
expect_status 0
expect_out "$(dialogue in.dat out.dat '  0')$READ_FAIL"
expect_file out.dat "$(rec 2 3 1 4.0 5.0 6.000)"

begin "the input ends inside a record: reading-failure line, not a count"
while IFS='|' read -r cut line; do
  rm -f out.dat
  put_file in.dat "1 2 3 4 5 6\n$cut"
  run 'in.dat\nout.dat\n0\n' $TOOL
  expect_end 0 "in.dat: line $line: the input ends inside a record"
  expect_out "$(dialogue in.dat out.dat '  0')$READ_FAIL"
  expect_file out.dat "$(rec 2 3 1 4.0 5.0 6.000)"
done <<'CASES'
7 8 9 10\n|2
7|2
7 8 9 10 11,|2
\n\n7 8\n\n|5
CASES

begin "an input file that cannot be opened: opening-failure line, no output made"
mkdir folder.hkl
while IFS='|' read -r name reason; do
  run "$name\nout.dat\n0\n" $TOOL
  expect_end 0 "$name: $reason"
  expect_out "$(dialogue $name out.dat '  0')$OPEN_FAIL"
  expect_no_file out.dat
done <<'CASES'
missing.dat|No such file or directory
folder.hkl|Is a directory
CASES

begin "a failed write of the output file: unguarded failure"
put_file in.dat "$(for i in $(seq 100); do printf '%d 2 3 4 5 6\\n' "$i"; done)"
(
  trap '' XFSZ
  ulimit -f 1  # 1024 bytes: the output file cannot hold 100 records
  run 'in.dat\nout.dat\n0\n' $TOOL
  exit "$status"
)
status=$?
expect_unguarded '^zeb_index_rotate_file: out.dat: File too large$'
expect_out "$(dialogue in.dat out.dat '  0')"

# --- never overwriting ---------------------------------------------------------

begin "an existing output file is left as it was"
put_file in.dat "$RECORDS"
put_file out.dat 'precious\n'
run 'in.dat\nout.dat\n0\n' $TOOL
expect_end 0 'out.dat: File exists'
expect_out "$(dialogue in.dat out.dat '  0')$OPEN_FAIL"
expect_unchanged out.dat
expect_unchanged in.dat

begin "an output name that names the input file"
put_file in.dat "$RECORDS"
run 'in.dat\nin.dat\n1\n' $TOOL
expect_out "$(dialogue in.dat in.dat '  1')$OPEN_FAIL"
expect_unchanged in.dat

begin "a missing input and an existing output: the output is not touched"
put_file out.dat 'precious\n'
run 'missing.dat\nout.dat\n0\n' $TOOL
expect_out "$(dialogue missing.dat out.dat '  0')$OPEN_FAIL"
expect_unchanged out.dat

begin "an output name that is a link, a folder, or in a missing folder"
put_file in.dat "$RECORDS"
ln -s target.dat dangling.dat
mkdir folder
for name in dangling.dat folder no/such/folder/out.dat; do
  run "in.dat\n$name\n0\n" $TOOL
  expect_status 0
  expect_out "$(dialogue in.dat $name '  0')$OPEN_FAIL"
done
expect_no_file target.dat
[ -z "$(ls -A folder)" ] || bad "something was written into folder"
expect_unchanged in.dat

summary
