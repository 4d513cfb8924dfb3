#!/usr/bin/env bash
# End-to-end tests of endian_switch: messages, exit statuses and the map
# file's bytes after each run. Maps are built by make_map.py, which also
# computes the converted file independently of the tool.
source "$2/tests/harness.sh"

make_map() { python3 "$SRC/tools/endian_switch/tests/make_map.py" "$@"; }

STARS='***********************************************'
BANNER="\n$STARS\n******* endian_switch v0.2 22.07.96 ***********\n$STARS\n\nType in file name ...\n"
WARNING='WARNING Filesize does not match header...\n'
WRITING=' Writing byte-swapped data ...\n'
NORMAL='Normal termination ...\n'
TOO_WIDE='Program dimensions too small ...\n'
SHORT='fread failed during data read ...\n'

# report COLUMNS ROWS SECTIONS MODE: the dimension and mode lines.
report() {
  printf 'Number of columns, rows, sections ........%s %s %s \\nMap mode .................................%s\\n' "$@"
}

# refused FILE: the run changed nothing.
expect_unchanged() { cmp -s "$1" "$1.orig" || bad "$1 was changed"; }
keep() { cp "$1" "$1.orig"; }
expect_same_file() { cmp -s "$1" "$2" || bad "$1 differs from $2"; }

# convert_and_back ORDER COLUMNS ROWS SECTIONS MODE VALUE_BYTES DATA_BYTES:
# converts a map, compares it with the independent conversion, converts it
# again and expects the first file back.
convert_and_back() {
  local order=$1 c=$2 r=$3 s=$4 mode=$5 value_bytes=$6 data_bytes=$7 writing=$WRITING
  [ "$mode" = 0 ] && writing=''
  make_map make m.map "$order" "$c" "$r" "$s" "$mode"
  keep m.map
  make_map swapped m.map expected "$data_bytes" "$value_bytes"
  run 'm.map\n' endian_switch
  expect_out "$BANNER$(report "$c" "$r" "$s" "$mode")$writing$NORMAL"
  expect_status 0
  expect_no_err
  expect_same_file m.map expected
  run 'm.map\n' endian_switch
  expect_out "$BANNER$(report "$c" "$r" "$s" "$mode")$writing$NORMAL"
  expect_status 0
  expect_same_file m.map m.map.orig
}

# --- every mode, both byte orders, and back ---------------------------------

begin "mode 2, 10 x 8 x 3, host order, and back"
convert_and_back host 10 8 3 2 4 960

begin "mode 2 stored in the other order converts silently, and back"
convert_and_back other 10 8 3 2 4 960

begin "mode 1 reverses 2-byte values"
convert_and_back host 7 5 2 1 2 140

begin "mode 3 reverses each 2-byte half of a complex value by itself"
convert_and_back other 9 4 3 3 2 432

begin "mode 4 reverses each 4-byte half of a complex value by itself"
convert_and_back host 5 6 2 4 4 480

begin "mode 0: header converted, data untouched, no data line"
convert_and_back host 12 4 2 0 1 0

begin "mode 0 in the other order: dimensions settled by the size"
convert_and_back other 12 4 2 0 1 0

begin "rows spanning several buffer loads, row length not dividing them"
convert_and_back other 1000 300 1 3 2 1200000

begin "a row of exactly 65536 bytes is accepted"
convert_and_back host 16384 2 1 2 4 131072

begin "mode 0 with 65536 columns is accepted"
convert_and_back host 65536 1 1 0 1 0

# --- the size check ----------------------------------------------------------

begin "host order, one byte too long: warning, then the reversed row is too wide"
make_map make m.map host 10 8 3 2 1
keep m.map
run 'm.map\n' endian_switch
expect_out "$BANNER$WARNING$TOO_WIDE"
expect_status 1
expect_unchanged m.map

begin "other order, one byte too long: warning, converted, the extra byte untouched"
make_map make m.map other 10 8 3 2 1
make_map swapped m.map expected 960 4
run 'm.map\n' endian_switch
expect_out "$BANNER$WARNING$(report 10 8 3 2)$WRITING$NORMAL"
expect_status 0
expect_same_file m.map expected

begin "a size that only matches when wrapped at 64 bits does not match"
# 65536 x 2^24 x 2^24 bytes is 2^64: 1024 + 2^64 would wrap to 1024.
make_map header m.map host 65536 16777216 16777216 0
make_map swapped m.map expected 0 1
run 'm.map\n' endian_switch
expect_out "$BANNER$WARNING$(report 256 1 1 0)$NORMAL"
expect_status 0
expect_same_file m.map expected

begin "a map of several gigabytes matches in the host order without warning"
make_map header m.map host 65536 32768 2 0
truncate -s $((1024 + 65536 * 32768 * 2)) m.map
run 'm.map\n' endian_switch
expect_out "$BANNER$(report 65536 32768 2 0)$NORMAL"
expect_status 0
rm -f m.map

# --- the row limit -------------------------------------------------------------

begin "mode 2, a row four bytes over the limit, is refused unchanged"
make_map make m.map host 16385 1 1 2
keep m.map
run 'm.map\n' endian_switch
expect_out "$BANNER$TOO_WIDE"
expect_status 1
expect_unchanged m.map

begin "mode 0 with 65537 columns is refused unchanged"
make_map make m.map host 65537 1 1 0
keep m.map
run 'm.map\n' endian_switch
expect_out "$BANNER$TOO_WIDE"
expect_status 1
expect_unchanged m.map

# --- files too short for their rows are refused before any write --------------

for cut in 1 40 959; do
  begin "data $cut bytes short of the last row: refused, file unchanged"
  make_map make m.map other 10 8 3 2 -$cut
  keep m.map
  run 'm.map\n' endian_switch
  expect_out "$BANNER$WARNING$(report 10 8 3 2)$SHORT"
  expect_status 1
  expect_unchanged m.map
done

begin "a short mode-0 map has no rows to pass: converted"
make_map make m.map other 10 8 3 0 -1
make_map swapped m.map expected 0 1
run 'm.map\n' endian_switch
expect_out "$BANNER$WARNING$(report 10 8 3 0)$NORMAL"
expect_status 0
expect_same_file m.map expected

# --- dimensions that give no rows ----------------------------------------------

begin "no rows, or negative rows and sections: header converted, data untouched"
make_map make m.map host 10 0 3 2
make_map swapped m.map expected 0 4
run 'm.map\n' endian_switch
expect_out "$BANNER$(report 10 0 3 2)$WRITING$NORMAL"
expect_status 0
expect_same_file m.map expected
make_map make m.map host 10 -1 -3 2 120
make_map swapped m.map expected 0 4
run 'm.map\n' endian_switch
expect_out "$BANNER$(report 10 -1 -3 2)$WRITING$NORMAL"
expect_status 0
expect_same_file m.map expected

begin "no columns: every row empty"
make_map make m.map host 0 8 3 2
make_map swapped m.map expected 0 4
run 'm.map\n' endian_switch
expect_out "$BANNER$(report 0 8 3 2)$WRITING$NORMAL"
expect_status 0
expect_same_file m.map expected

begin "negative columns are refused before the header is rewritten"
make_map make m.map other -2 -3 1 2 24
keep m.map
run 'm.map\n' endian_switch
expect_out "$BANNER$(report -2 -3 1 2)Negative number of columns ...\n"
expect_status 1
expect_unchanged m.map
make_map make m.map host -2 3 1 0 24
keep m.map
run 'm.map\n' endian_switch
expect_out "$BANNER$WARNING$(report -16777217 50331648 16777216 0)Negative number of columns ...\n"
expect_status 1
expect_unchanged m.map

# --- refusals of the file itself ------------------------------------------------

begin "fewer than 1024 bytes, an empty file included"
for size in 0 1 1023; do
  head -c "$size" /dev/zero >m.map
  keep m.map
  run 'm.map\n' endian_switch
  expect_out "${BANNER}fread failed during header read ...\n"
  expect_status 1
  expect_unchanged m.map
done

begin "new-style map"
make_map make m.map host 10 8 3 2
make_map set m.map 208 77
keep m.map
run 'm.map\n' endian_switch
expect_out "${BANNER}Error - cannot byte-swap new-style map, use pixel_recoder \n"
expect_status 1
expect_unchanged m.map

begin "unknown mode in either order"
for mode in 5 -1 65536; do
  make_map make m.map host 10 8 3 "$mode"
  keep m.map
  run 'm.map\n' endian_switch
  expect_out "${BANNER}Unknown mode ...\n"
  expect_status 1
  expect_unchanged m.map
done

begin "a missing file, a directory"
run 'no_such.map\n' endian_switch
expect_out "${BANNER}cannot open file ... no_such.map \n"
expect_status 1
expect_no_file no_such.map
mkdir maps
run 'maps\n' endian_switch
expect_out "${BANNER}cannot open file ... maps \n"
expect_status 1

begin "a file that may be read but not written"
make_map make m.map host 10 8 3 2
keep m.map
if [ "$(id -u)" = 0 ]; then
  # root writes anything: run as an unprivileged user instead.
  chmod 755 "$WORK" "$WORK/c"
  printf 'm.map\n' | setpriv --reuid=65534 --regid=65534 --clear-groups \
    "$BIN/endian_switch" >out 2>err
  status=$?
else
  chmod 444 m.map
  run 'm.map\n' endian_switch
fi
expect_out "${BANNER}cannot open file ... m.map \n"
expect_status 1
expect_unchanged m.map

begin "the header cannot be written back"
run '/dev/full\n' endian_switch
expect_out "$BANNER$WARNING$(report 0 0 0 0)fread failed during header write ...\n"
expect_status 1

# --- reading the name --------------------------------------------------------------

begin "the name is the first word; blanks before it are skipped"
make_map make m.map host 10 8 3 2
run ' \t\n  m.map and other words\nsecond line\n' endian_switch
expect_out "$BANNER$(report 10 8 3 2)$WRITING$NORMAL"
expect_status 0

begin "input after the name is left unread"
make_map make m.map host 10 8 3 2
printf 'm.map\nnext answer\n' >answers
{ "$BIN/endian_switch" >out; cat >rest; } <answers
expect_file rest 'next answer\n'

begin "no name at all: refused through the open failure"
run '' endian_switch
expect_out "${BANNER}cannot open file ...  \n"
expect_status 1
run ' \n\t\n' endian_switch
expect_out "${BANNER}cannot open file ...  \n"
expect_status 1

begin "a name of 255 bytes is used; one of 256 is refused, not cut"
long=$(printf 'n%.0s' {1..255})
make_map make "$long" host 10 8 3 2
cp "$long" long.orig
run "${long}x\n" endian_switch
expect_out "${BANNER}cannot open file ... $long \n"
expect_status 1
expect_same_file "$long" long.orig
run "$long\n" endian_switch
expect_out "$BANNER$(report 10 8 3 2)$WRITING$NORMAL"
expect_status 0

# --- standard output that cannot be written -----------------------------------------

begin "standard output on /dev/full: status 2, one line on standard error, file unchanged"
make_map make m.map host 10 8 3 2
keep m.map
printf 'm.map\n' | "$BIN/endian_switch" >/dev/full 2>err
status=$?
expect_status 2
expect_err '^endian_switch: standard output: No space left on device$'
expect_unchanged m.map

summary
