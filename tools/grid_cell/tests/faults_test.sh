#!/usr/bin/env bash
# Fault matrix of zeb_grid_cell: standard streams that are empty, closed,
# full or fail part-way; grid files that are missing, unreadable, folders,
# cut short or fail part-way; output names that exist or cannot be created;
# an output file whose write fails. Each case checks standard output, the
# status, standard error and every file of the folder: where the tool
# refuses nothing may change, and a run that fails part-way must never end
# as a success.
source "$2/tests/harness.sh"
T=zeb_grid_cell

read_line() { printf 'Opening for read %-50.50s\\n' "$1"; }
write_line() { printf 'Opening for write %-50.50s\\n' "$1"; }
error_line() { printf 'ERROR in zeb_grid_cell during %s\\n' "$1"; }
OPENED="$(read_line grid.dat)$(write_line new.grid)"
REPLACE='grid.dat\n3 5\nnew.grid\n0\n7.5\n'
REPORT='grid.dat\n3 5\nnew.grid\n1\n'
REPORTED="$OPENED Position    3   5 is         5.3\n"

# The grid file: a header, then for each row r a label record and the
# values r.1 to r.7.
grid_text() {
  local r c
  printf 'Grid of image 1234\n'
  for r in 1 2 3 4 5 6 7; do
    printf 'row %d\n  ' $r
    for c in 1 2 3 4 5 6 7; do printf '%11s' "$r.$c"; done
    printf '\n'
  done
}
# The file that replace mode writes from it, cell (3, 5) set to 7.5.
REWRITTEN=$(
  printf '%-80s\\n' 'Grid of image 1234'
  for r in 1 2 3 4 5 6 7; do
    printf ':: \\n::'
    for c in 1 2 3 4 5 6 7; do
      if [ $r$c = 53 ]; then printf '%11s' 7.5; else printf '%11s' "$r.$c"; fi
    done
    printf '\\n'
  done
  printf ':: \\n'
)

# Every case folder holds the grid file, an existing file, a folder, a
# folder without write permission and a dangling link.
setup_files() {
  grid_text >grid.dat
  fault_fixtures
}

NEW_FILE=new.grid

# --- standard streams. Without its standard output the tool must stop
# before it creates the output file, however early its answers arrived.
dialogue_case 'standard input empty' '' answers out '' 2 'standard input: end of file after line 0'
dialogue_case 'standard input closed' '' closed out '' 2 'standard input: Bad file descriptor'
dialogue_case 'standard input a folder' '' folder out '' 2 'standard input: Is a directory'
for mode in REPLACE REPORT; do
  dialogue_case "standard output full, ${mode,,} mode" "${!mode}" answers full '' 2 \
    'standard output: No space left on device'
  dialogue_case "standard output closed, ${mode,,} mode" "${!mode}" answers closed '' 2 \
    'standard output: Bad file descriptor'
done
dialogue_case 'answers ending at the new value, no line feed' "${REPLACE%\\n}" answers out "$OPENED" 0 '' "$REWRITTEN"
dialogue_case 'answers ending at the mode, no line feed' "${REPORT%\\n}" answers out "$REPORTED" 0 '' '        5.3\n'

# --- grid files that cannot be opened
# The line on standard error says why.
while IFS='|' read -r name reason; do
  dialogue_case "grid file $name" "$name\n3 5\nnew.grid\n1\n" answers out \
    "$(read_line $name)$(error_line 'input file open file 1')" 0 "$name: $reason"
done <<'CASES'
missing.dat|No such file or directory
folder|Is a directory
CASES

# --- output names that must not be written. /dev/full exists, so the
# exclusive create refuses it like any other existing file: the tool
# reports an opening failure, never a write to it.
while IFS='|' read -r name reason; do
  dialogue_case "output name $name" "grid.dat\n3 5\n'$name'\n0\n7.5\n" answers out \
    "$(read_line grid.dat)$(write_line "$name")$(error_line 'output file open file 2')" 0 "$name: $reason"
done <<'CASES'
kept.dat|File exists
folder|File exists
grid.dat|File exists
dangling|File exists
/dev/full|File exists
no/such/folder/new.grid|No such file or directory
CASES

# --- grid files cut short: where a header or label record is due the run
# fails; a cut label record is still a record, and the rows after it are
# zeros (the end right after a label record is the grid's short form).
cut_grid() {
  begin "grid file $1"
  setup_files
  grid_text | head -c "$2" >grid.dat
  printf '%b' "$3" >answers
  snapshot
  run_streams answers out $T
}
cut_grid 'ending inside the header' 10 "$REPORT"
expect_out "$(read_line grid.dat)"
expect_end 2 'grid.dat: end of file after line 1'
expect_unchanged

# 19 bytes of header, 86 for each row pair.
cut_grid 'ending inside the label record of row 4' $((19 + 3 * 86 + 3)) 'grid.dat
1 3
new.grid
-1
'
expect_out "$(read_line grid.dat)$(write_line new.grid) Position    1   3 is         3.1\n"
expect_end 0 ''
expect_file new.grid '        3.1\n'
rm new.grid
expect_unchanged
printf '%b' 'grid.dat\n1 4\nnew.grid\n-1\n' >answers
run_streams answers out $T
expect_out "$(read_line grid.dat)$(write_line new.grid) Position    1   4 is         0.0\n"
expect_file new.grid '        0.0\n'

# --- permissions (as an unprivileged user)
begin "grid file unreadable"
setup_files
mkdir -m 777 open
# The snapshot is taken while the file can be read; modes are not compared.
snapshot
chmod 000 grid.dat
run_unprivileged "grid.dat\n3 5\n'open/new.grid'\n1\n" $T
chmod 644 grid.dat
expect_out "$(read_line grid.dat)$(error_line 'input file open file 1')"
expect_end 0 'grid.dat: Permission denied'
expect_unchanged

begin "output in a folder without write permission"
setup_files
snapshot
run_unprivileged "grid.dat\n3 5\n'locked/new.grid'\n0\n7.5\n" $T
expect_out "$(read_line grid.dat)$(write_line locked/new.grid)$(error_line 'output file open file 2')"
expect_end 0 'locked/new.grid: Permission denied'
expect_unchanged

# --- standard output on a file that reaches its size limit at the report
# line: the output file is complete, but the run is no success.
begin "standard output failing at the report line"
setup_files
printf '%b' "$REPORT" >answers
opened_size=$(printf '%b' "$OPENED" | wc -c)
head -c $((1024 - opened_size)) /dev/zero >out
{ cat out && printf '%b' "$OPENED"; } >"$WORK/want"
snapshot
run_limited answers $T
expect_end 2 'standard output: File too large'
expect_same out "$WORK/want"
expect_file new.grid '        5.3\n'
rm new.grid
expect_unchanged

# --- reads and writes failing part-way
if [ $has_strace = 1 ]; then
  for mode in REPLACE REPORT; do
    begin "output file write failing, ${mode,,} mode"
    setup_files
    printf '%b' "${!mode}" >answers
    snapshot
    run_injected new.grid write ENOSPC 1 answers $T
    expect_out "$OPENED"
    expect_end 2 'new.grid: No space left on device'
    expect_file new.grid ''
    rm new.grid
    expect_unchanged
  done

  # A read error must not pass for the end of the grid, which would give
  # zeros for the rows not read.
  begin "grid file read failing inside a value record"
  setup_files
  # The header (2 bytes) and a long label (65531) leave the value record
  # of row 1 across the end of the first read.
  { printf 'h\n%65530s\n' x; grid_text | tail -n +3; } >grid.dat
  printf '%b' "$REPORT" >answers
  snapshot
  run_injected grid.dat read EIO 2 answers $T
  expect_out "$(read_line grid.dat)$(error_line 'reading from input file 1')"
  expect_end 0 'grid.dat: Input/output error'
  expect_unchanged
else
  skip_cases "injected read and write errors need strace"
fi

summary
