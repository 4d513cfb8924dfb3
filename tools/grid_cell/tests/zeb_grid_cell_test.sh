#!/usr/bin/env bash
# zeb_grid_cell end to end: the report and replace dialogues, every error
# line with the files it leaves, unguarded ends, and rewritten files read back.
source "$2/tests/harness.sh"

# A value record: two columns skipped, each value right-justified in 11.
row() { printf '  '; printf '%11s' "$@"; printf '\n'; }
# The same record as the tool rewrites it.
out_row() { printf '::'; printf '%11s' "$@"; printf '\n'; }
# grid HEADER ROWS...: a grid file of a header and one label and value
# record per row given (each row a quoted list of values).
grid() {
  printf '%s\n' "$1"
  shift
  local r=1 v
  for v in "$@"; do
    printf 'row %d\n' $r
    row $v
    r=$((r + 1))
  done
}
standard_rows() {
  local r
  for r in 1 2 3 4 5 6 7; do
    if [ $r = 5 ]; then echo "5.1 5.2 12.5 5.4 5.5 5.6 5.7"; else echo "$r.1 $r.2 $r.3 $r.4 $r.5 $r.6 $r.7"; fi
  done
}
make_grid() { mapfile -t rows < <(standard_rows); grid "Test grid of image 1234" "${rows[@]}" >"${1:-grid.dat}"; }
# The rewritten file of the standard grid with HEADER and cell (3, 5) as given.
rewritten() {
  local r
  printf '%-80s\n' "$1"
  for r in 1 2 3 4 5 6 7; do
    printf ':: \n'
    if [ $r = 5 ]; then out_row 5.1 5.2 "$2" 5.4 5.5 5.6 5.7; else out_row $r.1 $r.2 $r.3 $r.4 $r.5 $r.6 $r.7; fi
  done
  printf ':: \n'
}
read_line() { printf 'Opening for read %-50.50s\n' "$1"; }
write_line() { printf 'Opening for write %-50.50s\n' "$1"; }
expect_same() { cmp -s "$1" "$2" || bad "$1 differs from $2: $(diff "$1" "$2" | head -5)"; }
error_line() { printf 'ERROR in zeb_grid_cell during %s\n' "$1"; }
# Answers past the point where the tool must stop: reading them would fail.
JUNK='not_a_number\nnot_a_number\n'

# --- report mode
for mode in 1 -1 2147483647; do
  begin "report mode $mode"
  make_grid
  run "grid.dat\n3 5\ncell.out\n$mode\n$JUNK" zeb_grid_cell
  expect_status 0
  expect_no_err
  expect_out "$(read_line grid.dat)\n$(write_line cell.out)\n Position    3   5 is        12.5\n"
  expect_file cell.out "       12.5\n"
done

for answer in '7,7' '7\n7' ' 7 ; 7' '7\t7 and the rest of the line'; do
  begin "answer 2 as $answer"
  make_grid
  run "grid.dat\n$answer\ncell.out\n1\n" zeb_grid_cell
  expect_out "$(read_line grid.dat)\n$(write_line cell.out)\n Position    7   7 is         7.7\n"
  expect_file cell.out "        7.7\n"
done

begin "answers standing past 64 KiB on their lines"
make_grid
run "$(printf '%70000s' '')grid.dat\n3 $(printf '%70000s' '')5\ncell.out\n1\n" zeb_grid_cell
expect_out "$(read_line grid.dat)\n$(write_line cell.out)\n Position    3   5 is        12.5\n"
expect_file cell.out "       12.5\n"

# --- replace mode
begin "replace writes 16 records, the grid file untouched"
make_grid
cp grid.dat grid.orig
run "grid.dat\n3 5\nnew.grid\n0\n7.5\n$JUNK" zeb_grid_cell
expect_status 0
expect_no_err
expect_out "$(read_line grid.dat)\n$(write_line new.grid)\n"
rewritten "Test grid of image 1234" 7.5 >expected
expect_same new.grid expected
expect_same grid.dat grid.orig
widths=$(awk '{ printf "%d ", length($0) }' new.grid)
[ "$widths" = "80 3 79 3 79 3 79 3 79 3 79 3 79 3 79 3 " ] || bad "record widths $widths"

begin "a long header is not part of the cell report"
grid "$(printf 'H%.0s' {1..100})" "1 2 3" 0 0 0 0 0 0 >grid.dat
run "grid.dat\n2 1\ncell.out\n5\n" zeb_grid_cell
expect_file cell.out "        0.2\n"

# --- a grid file that ends right after the label record of row 4
ended_early() { grid "early" "1.1" "2.1" "3.1" >grid.dat; printf 'row 4\n' >>grid.dat; }
begin "ended early: report of a missing row is 0.0"
ended_early
run "grid.dat\n1 4\ncell.out\n1\n" zeb_grid_cell
expect_status 0
expect_out "$(read_line grid.dat)\n$(write_line cell.out)\n Position    1   4 is         0.0\n"
expect_file cell.out "        0.0\n"

begin "ended early: replace writes missing rows as zeros"
ended_early
run "grid.dat\n2 6\nnew.grid\n0\n9\n" zeb_grid_cell
expect_status 0
{
  printf '%-80s\n' early
  for r in 1 2 3 4 5 6 7; do
    printf ':: \n'
    case $r in
      [123]) out_row $r.1 0.0 0.0 0.0 0.0 0.0 0.0 ;;
      6) out_row 0.0 9.0 0.0 0.0 0.0 0.0 0.0 ;;
      *) out_row 0.0 0.0 0.0 0.0 0.0 0.0 0.0 ;;
    esac
  done
  printf ':: \n'
} >expected
expect_same new.grid expected

# --- error lines: status 0, no file created, no further answer read
begin "grid file missing"
run "missing.dat\n$JUNK" zeb_grid_cell
expect_end 0 'missing.dat: No such file or directory'
expect_out "$(read_line missing.dat)\n$(error_line 'input file open file 1')\n"
[ "$(ls | tr '\n' ' ')" = "err out " ] || bad "files left: $(ls)"

begin "grid file is a folder"
mkdir folder
run "folder\n$JUNK" zeb_grid_cell
expect_end 0 'folder: Is a directory'
expect_out "$(read_line folder)\n$(error_line 'input file open file 1')\n"

begin "a value field holding letters"
grid "h" "1 2 3" "1 2 x3" 0 0 0 0 0 >grid.dat
run "grid.dat\n$JUNK" zeb_grid_cell
expect_end 0 "grid.dat: line 5: cannot read '         x3' as a real"
expect_out "$(read_line grid.dat)\n$(error_line 'reading from input file 1')\n"
[ "$(ls | tr '\n' ' ')" = "err grid.dat out " ] || bad "files left: $(ls)"

while IFS='|' read -r target reason; do
  begin "output file cannot be created: $target"
  make_grid
  printf 'keep me\n' >exists
  cp grid.dat grid.orig
  run "grid.dat\n3 5\n$target\n$JUNK" zeb_grid_cell
  name=${target//\'/}
  expect_end 0 "$name: $reason"
  expect_out "$(read_line grid.dat)\n$(write_line "$name")\n$(error_line 'output file open file 2')\n"
  expect_file exists "keep me\n"
  expect_same grid.dat grid.orig
done <<'CASES'
exists|File exists
grid.dat|File exists
'no folder/new'|No such file or directory
CASES

# An index outside 1 to 7, also one that a slash or an empty value leaves
# at 0, stops right after answer 2; the column is checked first.
while IFS='|' read -r answer which; do
  begin "index answer '$answer'"
  make_grid
  run "grid.dat\n$answer\ncell.out\n1\n" zeb_grid_cell
  expect_status 0
  expect_no_err
  expect_out "$(read_line grid.dat)\n$(error_line "$which index check: not in 1 to 7")\n"
  expect_no_file cell.out
done <<'CASES'
0 3|column
8 3|column
-1 9|column
3 0|row
3 8|row
-2147483648 1|column
/|column
,4|column
4 /|row
4,,|row
CASES

# --- unguarded failures: status 2, one line on standard error
for n in 0 1 7; do
  begin "grid file ending where label $((n / 2 + 1)) or the header is due"
  grid "h" "1" "2" "3" | head -n "$n" >grid.dat
  run "grid.dat\n3 5\ncell.out\n1\n" zeb_grid_cell
  expect_unguarded '^zeb_grid_cell: grid.dat: '
  expect_out "$(read_line grid.dat)\n"
  expect_no_file cell.out
done

# What the standard input holds, and the output file then left behind
# (- for none).
while IFS='|' read -r answers left; do
  begin "answers '$answers'"
  make_grid
  run "$answers" zeb_grid_cell
  expect_unguarded '^zeb_grid_cell: standard input: '
  if [ "$left" = - ]; then expect_no_file new.grid; else expect_file new.grid "$left"; fi
done <<'CASES'
|-
grid.dat\n|-
grid.dat\n3\n|-
grid.dat\nthree five\n|-
grid.dat\n3 5.0\n|-
grid.dat\n3 5\n|-
grid.dat\n3 5\nnew.grid\n|
grid.dat\n3 5\nnew.grid\nzero\n|
grid.dat\n3 5\nnew.grid\n0\n|Test grid of image 1234                                                         \n
grid.dat\n3 5\nnew.grid\n0\nseven\n|Test grid of image 1234                                                         \n
CASES

begin "standard output on /dev/full"
make_grid
printf 'grid.dat\n3 5\ncell.out\n1\n' | "$BIN/zeb_grid_cell" >/dev/full 2>err
status=$?
expect_unguarded '^zeb_grid_cell: standard output: '

# --- names
long=$(printf 'n%.0s' {1..60})
begin "a 60-character name is cut in its progress line only"
make_grid "$long"
run "$long\n1 1\n$long.out\n1\n" zeb_grid_cell
expect_status 0
expect_out "$(read_line "$long")\n$(write_line "$long")\n Position    1   1 is         1.1\n"
expect_file "$long.out" "        1.1\n"

# A name is never cut: one longer than the 200 characters of its field,
# quoted or not, is refused at its open; one of 200 is taken whole.
n200=$(printf 'n%.0s' {1..200})
while IFS='|' read -r grid_answer output_answer which; do
  begin "a name longer than 200 characters: $which"
  make_grid
  cp grid.dat "$n200"
  mkdir sub
  snapshot
  run "$grid_answer\n1 1\n$output_answer\n1\n" zeb_grid_cell
  grid_name=${grid_answer//\'/}
  output_name=${output_answer//\'/}
  if [ "${which#the grid file}" != "$which" ]; then
    expect_out "$(read_line "$grid_name")\n$(error_line 'input file open file 1')\n"
    expect_end 0 "${grid_name:0:255}: name longer than 200 characters"
  else
    expect_out "$(read_line "$grid_name")\n$(write_line "$output_name")\n$(error_line 'output file open file 2')\n"
    expect_end 0 "${output_name:0:255}: name longer than 200 characters"
  fi
  expect_unchanged
done <<CASES
${n200}x|cell.out|the grid file
'${n200}  x'|cell.out|the grid file, quoted
grid.dat|${n200:1}xy|the output file
grid.dat|'sub/${n200}${n200:0:34}'|the output file, quoted
'grid.dat$(printf '%5000s' '')x'|cell.out|the grid file, quoted, text past its whole field
grid.dat|'cell.out$(printf '%5000s' '')x'|the output file, quoted, text past its whole field
CASES

begin "a name of 200 characters is taken whole"
make_grid "$n200"
run "$n200\n1 1\n${n200:0:196}.out\n1\n" zeb_grid_cell
expect_end 0 ''
expect_file "${n200:0:196}.out" "        1.1\n"

begin "quoted names hold blanks, commas and slashes"
mkdir sub
make_grid "my grid.dat"
run "'my grid.dat'\n2,3\n\"sub/a,b\"\n1\n" zeb_grid_cell
expect_status 0
expect_out "$(read_line 'my grid.dat')\n$(write_line 'sub/a,b')\n Position    2   3 is         3.2\n"
expect_file "sub/a,b" "        3.2\n"

begin "a bare name ends at its first blank"
make_grid "my grid.dat"
run "my grid.dat\n$JUNK" zeb_grid_cell
expect_out "$(read_line my)\n$(error_line 'input file open file 1')\n"

# --- rewritten files read back
begin "a rewritten file reads back as it was written"
make_grid
printf '%s\n' 'grid.dat' '3 5' 'new1' '0' '-0.04' | "$BIN/zeb_grid_cell" >/dev/null
run "new1\n3 5\ncell.out\n1\n" zeb_grid_cell
expect_out "$(read_line new1)\n$(write_line cell.out)\n Position    3   5 is        -0.0\n"
run "new1\n3 5\nnew2\n0\n12.5\n" zeb_grid_cell
rewritten "Test grid of image 1234" 12.5 >expected
expect_same new2 expected

begin "a rewritten file with asterisks no longer reads"
make_grid
printf '%s\n' 'grid.dat' '1 1' 'new1' '0' '1e12' | "$BIN/zeb_grid_cell" >/dev/null
run "new1\n$JUNK" zeb_grid_cell
expect_status 0
expect_out "$(read_line new1)\n$(error_line 'reading from input file 1')\n"

summary
