#!/usr/bin/env bash
# Fault matrix of zeb_index_rotate and zeb_index_rotate_file: standard
# streams that are empty, closed, full or fail part-way; input files that
# are missing, unreadable or folders; output names that exist or cannot be
# created; input that ends or fails part-way. Each case checks standard
# output, the status, standard error and every file of the folder: where a
# tool refuses nothing may change, and a run that fails part-way must never
# end as a success.
source "$2/tests/harness.sh"

# =========================================================================
T=zeb_index_rotate
RECS='1 2 3 10.0 20.0 0.5 0.25\n-4 5 -6 1.5 2.5 0.05 1e3\n'
ROT='     2     3     1        10.0        20.0       0.500       0.250\n     5    -6    -4         1.5         2.5       0.050    1000.000\n'

# filter_case NAME STDIN STDOUT OUT STATUS DIAGNOSTIC: STDIN is printf %b
# text, or closed, or folder.
filter_case() {
  begin "$T: $1"
  local from=$2
  case $from in closed | folder) ;; *) printf '%b' "$from" >records && from=records ;; esac
  snapshot
  run_streams "$from" "$3" $T
  expect_out "$4"
  expect_end "$5" "$6"
  expect_unchanged
}

filter_case 'standard input empty' '' out '' 0 ''
filter_case 'standard input closed' closed out '' 2 'standard input: Bad file descriptor'
filter_case 'standard input a folder' folder out '' 2 'standard input: Is a directory'
filter_case 'standard output full' "$RECS" full '' 2 'standard output: No space left on device'
filter_case 'standard output closed' "$RECS" closed '' 2 'standard output: Bad file descriptor'
filter_case 'standard output closed, nothing to write' '\n\n' closed '' 0 ''
filter_case 'input ending right after whole records' "$RECS" out "$ROT" 0 ''
filter_case 'input ending at the last value, no line feed' "${RECS%\\n}" out "$ROT" 0 ''
filter_case 'input ending inside a record' "${RECS}7 8 9 1" out "$ROT" 2 \
  'standard input: line 3: the input ends inside a record'
filter_case 'input ending inside a record spread over lines' "${RECS}7 8\n9\n\n" out "$ROT" 2 \
  'standard input: line 5: the input ends inside a record'

begin "$T: standard output failing part-way"
for i in $(seq 200); do printf '%d 2 3 4 5 6 7\n' "$i"; done >records
for i in $(seq 200); do printf '     2     3%6d         4.0         5.0       6.000       7.000\n' "$i"; done |
  head -c 1024 >want
: >out
snapshot
run_limited records $T
expect_end 2 'standard output: File too large'
expect_same out want
expect_unchanged

if [ $has_strace = 1 ]; then
  begin "$T: standard input failing part-way"
  # 14-byte lines: the second read of the buffer's 65536 bytes falls inside record 4682.
  yes '1 2 3 4 5 6 7' | head -n 6000 >records
  yes '     2     3     1         4.0         5.0       6.000       7.000' | head -n 4681 >want
  run_injected records read EIO 2 records $T
  expect_end 2 'standard input: Input/output error'
  expect_same out want
else
  skip_cases "read errors need strace"
fi

# =========================================================================
T=zeb_index_rotate_file
source "$SRC/tools/index_rotate/tests/rotate_file_texts.sh"
RECS='1 2 3 100.0 45.5 0.25\n-4 5 -6 1520.3 12.5 0.05\n'
ROT='     2     3     1       100.0        45.5       0.250\n     5    -6    -4      1520.3        12.5       0.050\n'
ANSWERS='in.dat\nout.dat\n0\n'
DONE="$(dialogue in.dat out.dat '  0')$(count_line 2)"

# Every case folder holds the input in.dat ($INPUT, or two records), an
# existing file, a folder, a folder without write permission and a
# dangling link.
setup_files() {
  printf '%b' "${INPUT-$RECS}" >in.dat
  fault_fixtures
}

NEW_FILE=out.dat

# --- standard streams, and the answers ending at each of them
dialogue_case 'standard input empty' '' answers out "$P_IN" 2 'standard input: end of file after line 0'
dialogue_case 'standard input closed' '' closed out "$P_IN" 2 'standard input: Bad file descriptor'
dialogue_case 'standard input a folder' '' folder out "$P_IN" 2 'standard input: Is a directory'
dialogue_case 'standard output full' "$ANSWERS" answers full '' 2 'standard output: No space left on device'
dialogue_case 'standard output closed' "$ANSWERS" answers closed '' 2 'standard output: Bad file descriptor'
dialogue_case 'answers ending after the input name' 'in.dat\n' answers out "$P_IN read:in.dat\n$P_OUT" 2 \
  'standard input: end of file after line 1'
dialogue_case 'answers ending after the output name' 'in.dat\nout.dat\n' answers out \
  "$P_IN read:in.dat\n${P_OUT} read:out.dat\n$P_HEAD" 2 'standard input: end of file after line 2'
dialogue_case 'answers ending in blank lines before the head answer' 'in.dat\nout.dat\n\n\n' answers out \
  "$P_IN read:in.dat\n${P_OUT} read:out.dat\n$P_HEAD" 2 'standard input: end of file after line 4'
dialogue_case 'answers ending at the head answer, no line feed' 'in.dat\nout.dat\n0' answers out "$DONE" 0 '' "$ROT"

# --- input files that cannot be read: the output is not created
# The line on standard error says why.
while IFS='|' read -r name reason; do
  dialogue_case "input file $name" "$name\nout.dat\n0\n" answers out "$(dialogue $name out.dat '  0')$OPEN_FAIL" 0 \
    "$name: $reason"
done <<'CASES'
missing.dat|No such file or directory
folder|Is a directory
CASES

# --- output names that must not be written. /dev/full exists, so the
# exclusive create refuses it like any other existing file: the tool
# reports an opening failure, never a write to it.
while IFS='|' read -r name reason; do
  dialogue_case "output name $name" "in.dat\n$name\n0\n" answers out "$(dialogue in.dat $name '  0')$OPEN_FAIL" 0 \
    "$name: $reason"
done <<'CASES'
kept.dat|File exists
folder|File exists
in.dat|File exists
dangling|File exists
/dev/full|File exists
no/such/folder/out.dat|No such file or directory
CASES

# --- input ending inside a record, or right after whole records
INPUT="${RECS%\\n}" dialogue_case 'input ending at the last value, no line feed' "$ANSWERS" answers out "$DONE" 0 '' "$ROT"
INPUT="${RECS}7 8 9 10" dialogue_case 'input ending inside a record' "$ANSWERS" answers out \
  "$(dialogue in.dat out.dat '  0')$READ_FAIL" 0 'in.dat: line 3: the input ends inside a record' "$ROT"
INPUT="${RECS}7 8\n9\n" dialogue_case 'input ending inside a record spread over lines' "$ANSWERS" answers out \
  "$(dialogue in.dat out.dat '  0')$READ_FAIL" 0 'in.dat: line 4: the input ends inside a record' "$ROT"
INPUT='' dialogue_case 'empty input and a head line asked for' 'in.dat\nout.dat\n1\n' answers out \
  "$(dialogue in.dat out.dat '  1')" 2 'in.dat: end of file after line 0' ''

# --- permissions (as an unprivileged user)
begin "$T: input file unreadable"
setup_files
mkdir -m 777 open
# The snapshot is taken while the file can be read; modes are not compared.
snapshot
chmod 000 in.dat
run_unprivileged 'in.dat\nopen/out.dat\n0\n' $T
chmod 644 in.dat
expect_out "$(dialogue in.dat open/out.dat '  0')$OPEN_FAIL"
expect_end 0 'in.dat: Permission denied'
expect_unchanged

begin "$T: output in a folder without write permission"
setup_files
snapshot
run_unprivileged 'in.dat\nlocked/out.dat\n0\n' $T
expect_out "$(dialogue in.dat locked/out.dat '  0')$OPEN_FAIL"
expect_end 0 'locked/out.dat: Permission denied'
expect_unchanged

# --- writes and reads failing part-way
rotated_lines() { yes '     2     3     1         4.0         5.0       6.000' | head -n "$1"; }

begin "$T: output file failing part-way"
setup_files
yes '1 2 3 4 5 6' | head -n 100 >in.dat
printf '%b' "$ANSWERS" >answers
rotated_lines 100 | head -c 1024 >want
: >out
snapshot
run_limited answers $T
expect_out "$(dialogue in.dat out.dat '  0')"
expect_end 2 'out.dat: File too large'
expect_same out.dat want
rm out.dat
expect_unchanged

# Standard output on a file that reaches its size limit. When it fails
# before the files are opened, nothing may be created; when it fails at
# the closing line, the files are complete but the run is no success.
P_IN_SIZE=$(printf '%b' "$P_IN" | wc -c)
DIALOGUE_SIZE=$(printf '%b' "$(dialogue in.dat out.dat '  0')" | wc -c)
for fill in $((1024 - P_IN_SIZE)) $((1024 - DIALOGUE_SIZE)); do
  begin "$T: standard output failing after $((1024 - fill)) bytes"
  setup_files
  printf '%b' "$ANSWERS" >answers
  head -c "$fill" /dev/zero >out
  cp out want
  if [ "$fill" = $((1024 - P_IN_SIZE)) ]; then
    printf '%b' "$P_IN" >>want
  else
    printf '%b' "$(dialogue in.dat out.dat '  0')" >>want
  fi
  snapshot
  run_limited answers $T
  expect_end 2 'standard output: File too large'
  expect_same out want
  if [ "$fill" != $((1024 - P_IN_SIZE)) ]; then
    expect_file out.dat "$ROT"
    rm -f out.dat
  fi
  expect_unchanged
done

if [ $has_strace = 1 ]; then
  begin "$T: input file failing part-way"
  # 12-byte lines: the second read of the buffer's 65536 bytes falls inside record 5462.
  setup_files
  yes '1 2 3 4 5 6' | head -n 6000 >in.dat
  printf '%b' "$ANSWERS" >answers
  rotated_lines 5461 >want
  run_injected in.dat read EIO 2 answers $T
  expect_out "$(dialogue in.dat out.dat '  0')$READ_FAIL"
  expect_end 0 'in.dat: Input/output error'
  expect_same out.dat want
else
  skip_cases "read errors need strace"
fi

summary
