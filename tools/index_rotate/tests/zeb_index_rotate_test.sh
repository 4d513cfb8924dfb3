# zeb_index_rotate end to end: piped records in, rotated records out.
source "$2/tests/harness.sh"
T=zeb_index_rotate

# --- rotation and layout
begin "one record"
run '1 2 3 10.0 20.0 0.5 0.25\n' $T
expect_out '     2     3     1        10.0        20.0       0.500       0.250\n'
expect_status 0
expect_no_err

begin "three rotations give the indexes back"
printf '7 -8 9 1 2 3 4\n' >r0
for k in 1 2 3; do "$BIN/$T" <r$((k - 1)) >r$k; done
same_bytes r3 '     7    -8     9         1.0         2.0       3.000       4.000\n'

begin "fields too wide, rounding and spread-out records"
run '1000000 -100000 -99999 0.15 123456789 0.0005 -0.04\n\n4,\n5\n6 100 45.5 .5 7 8 9\n' $T
expect_out '******-99999******         0.2 123456792.0       0.001      -0.040\n     5     6     4       100.0        45.5       0.500       7.000\n'
expect_status 0

begin "a slash keeps the values of the record before"
run '1 2 3 4 5 6 7\n4 5 6 8.5/\n' $T
expect_out '     2     3     1         4.0         5.0       6.000       7.000\n     5     6     4         8.5         5.0       6.000       7.000\n'

begin "carriage returns and a last line without line feed"
run '1 2 3 4 5 6 7\r\n1 2 3 4 5 6 8' $T
expect_out '     2     3     1         4.0         5.0       6.000       7.000\n     2     3     1         4.0         5.0       6.000       8.000\n'
expect_status 0

begin "lines longer than the buffer: every value read, nothing completed from the next line"
{ printf '1 2 3 %70000s4 5 6 7\n8 9 10 11 12 13 14\n' ''; printf '%200000s1 2 3 4 5 6 7\n' ''
  printf '1 2 3 0.%0100000d5 %0100000d 6 7\n' 0 9; } >long
STDIN_FILE=long run - $T
expect_out '     2     3     1         4.0         5.0       6.000       7.000\n     9    10     8        11.0        12.0      13.000      14.000\n     2     3     1         4.0         5.0       6.000       7.000\n     2     3     1         0.0         9.0       6.000       7.000\n'
expect_status 0
expect_no_err

# --- normal ends
begin "empty input"
run '' $T
expect_out ''
expect_status 0
expect_no_err

begin "blank lines only"
run '\n   \n\t\n' $T
expect_out ''
expect_status 0
expect_no_err

# --- failures: records before stay written, one diagnostic, status 2
begin "a word where a number is due"
run '1 2 3 4 5 6 7\n1 2 3 4 5 6 7\n1 2 3 4 5 6 7\n1 2 three 4 5 6 7\n1 2 3 4 5 6 7\n' $T
expect_out '     2     3     1         4.0         5.0       6.000       7.000\n     2     3     1         4.0         5.0       6.000       7.000\n     2     3     1         4.0         5.0       6.000       7.000\n'
expect_unguarded "^zeb_index_rotate: standard input: line 4: cannot read 'three' as an integer$"

begin "an index outside 32 bits"
run '2147483648 0 0 1 1 1 1\n' $T
expect_out ''
expect_unguarded "^zeb_index_rotate: standard input: line 1: cannot read '2147483648' as an integer$"

begin "a real that is not a number"
run '1 2 3\n4 x 6 7\n' $T
expect_unguarded "^zeb_index_rotate: standard input: line 2: cannot read 'x' as a real$"

begin "input ending inside a record"
run '1 2 3 4 5 6 7\n1 2 3 4\n\n' $T
expect_out '     2     3     1         4.0         5.0       6.000       7.000\n'
expect_unguarded '^zeb_index_rotate: standard input: line 3: the input ends inside a record$'

begin "standard output on a full device"
printf '1 2 3 4 5 6 7\n' | "$BIN/$T" >/dev/full 2>err
status=$?
expect_unguarded '^zeb_index_rotate: standard output: No space left on device$'

begin "standard output closed"
printf '1 2 3 4 5 6 7\n' | "$BIN/$T" >&- 2>err
status=$?
expect_unguarded '^zeb_index_rotate: standard output: Bad file descriptor$'
"$BIN/$T" </dev/null >&- 2>err
status=$?
expect_status 0
expect_no_err

begin "standard input a directory"
"$BIN/$T" <"$WORK" >out 2>err
status=$?
expect_unguarded '^zeb_index_rotate: standard input: Is a directory$'

begin "output larger than the buffer arrives whole and in order"
for i in $(seq 1 5000); do echo "$i 0 0 1 2 3 4"; done >many
STDIN_FILE=many run - $T
[ "$(wc -l <out)" = 5000 ] || bad "lines: $(wc -l <out)"
[ "$(sed -n 5000p out)" = '     0     0  5000         1.0         2.0       3.000       4.000' ] || bad "last line: $(sed -n 5000p out)"

summary
