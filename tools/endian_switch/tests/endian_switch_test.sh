#!/usr/bin/env bash
# End-to-end tests of endian_switch: messages, exit statuses and the map
# file's bytes after each run. Maps are built by make_map.py, which also
# computes the converted file independently of the tool.
# Every conversion syncs the map, its journal and their folder: in a
# folder in memory that costs nothing, on a disk it is most of a case.
[ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm
source "$2/tests/harness.sh"
source "$SRC/tools/endian_switch/tests/texts.sh"

# refused FILE OUTPUT: converting FILE prints the banner and OUTPUT, ends
# with status 1 and leaves the file as it was.
refused() {
  cp "$1" before
  run "$1\n" endian_switch
  expect_out "$BANNER$2"
  expect_status 1
  expect_same "$1" before
}

# converted OUTPUT DATA_BYTES VALUE_BYTES: converting m.map prints the
# banner and OUTPUT, ends with status 0, and gives the independently
# converted file (header and the first DATA_BYTES of data).
converted() {
  make_map swapped m.map expected "$2" "$3"
  run 'm.map\n' endian_switch
  expect_out "$BANNER$1"
  expect_status 0
  expect_no_err
  expect_same m.map expected
}

# convert_and_back ORDER COLUMNS ROWS SECTIONS MODE VALUE_BYTES DATA_BYTES:
# converted, then converted again to the first file.
convert_and_back() {
  local lines
  lines="$(report "$2" "$3" "$4" "$5")$([ "$5" = 0 ] || echo "$WRITING")$NORMAL"
  make_map make m.map "$1" "$2" "$3" "$4" "$5"
  cp m.map first
  converted "$lines" "$7" "$6"
  converted "$lines" "$7" "$6"
  expect_same m.map first
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
refused m.map "$WARNING$TOO_WIDE"

begin "other order, one byte too long: warning, converted, the extra byte untouched"
make_map make m.map other 10 8 3 2 1
converted "$WARNING$(report 10 8 3 2)$WRITING$NORMAL" 960 4

begin "a size that only matches when wrapped at 64 bits does not match"
# 65536 x 2^24 x 2^24 bytes is 2^64: 1024 + 2^64 would wrap to 1024.
make_map header m.map host 65536 16777216 16777216 0
converted "$WARNING$(report 256 1 1 0)$NORMAL" 0 1

begin "a map of several gigabytes matches in the host order without warning"
make_map header m.map host 65536 32768 2 0
truncate -s $((1024 + 65536 * 32768 * 2)) m.map
run 'm.map\n' endian_switch
expect_out "$BANNER$(report 65536 32768 2 0)$NORMAL"
expect_status 0
rm -f m.map

# --- refusals before any write -----------------------------------------------------

begin "rows over 65536 bytes: mode 2 four bytes over, mode 0 one byte over"
make_map make m.map host 16385 1 1 2
refused m.map "$TOO_WIDE"
make_map make m.map host 65537 1 1 0
refused m.map "$TOO_WIDE"

begin "data short of the last row, by a byte, a row, all but one row"
for cut in 1 40 959; do
  make_map make m.map other 10 8 3 2 -$cut
  refused m.map "$WARNING$(report 10 8 3 2)$DATA_READ"
done

begin "negative columns, in the order taken, in a map with data and without"
make_map make m.map other -2 -3 1 2 24
refused m.map "$(report -2 -3 1 2)$NEGATIVE"
make_map make m.map host -2 3 1 0 24
refused m.map "$WARNING$(report -16777217 50331648 16777216 0)$NEGATIVE"

begin "fewer than 1024 bytes, an empty file included"
for size in 0 1 1023; do
  head -c "$size" /dev/zero >m.map
  refused m.map 'fread failed during header read ...\n'
done

begin "new-style map"
make_map make m.map host 10 8 3 2
make_map set m.map 208 77
refused m.map 'Error - cannot byte-swap new-style map, use pixel_recoder \n'

begin "unknown mode in either order"
for mode in 5 -1 65536; do
  make_map make m.map host 10 8 3 "$mode"
  refused m.map 'Unknown mode ...\n'
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
cp m.map before
if [ "$(id -u)" = 0 ]; then
  # root writes anything: run as an unprivileged user instead.
  # The tool is run from a copy: the build folder may lie where that user
  # cannot reach it.
  chmod 755 "$WORK" "$WORK/c"
  cp "$BIN/endian_switch" "$WORK/endian_switch_copy"
  chmod 755 "$WORK/endian_switch_copy"
  printf 'm.map\n' | setpriv --reuid=65534 --regid=65534 --clear-groups \
    "$WORK/endian_switch_copy" >out 2>err
  status=$?
else
  chmod 444 m.map
  run 'm.map\n' endian_switch
fi
expect_out "${BANNER}cannot open file ... m.map \n"
expect_status 1
expect_same m.map before

# --- maps without rows to pass --------------------------------------------------------

begin "no rows, no columns, a short mode-0 map; negative rows or sections"
make_map make m.map host 10 0 3 2
converted "$(report 10 0 3 2)$WRITING$NORMAL" 0 4
make_map make m.map host 0 8 3 2
converted "$(report 0 8 3 2)$WRITING$NORMAL" 0 4
make_map make m.map other 10 8 3 0 -1
converted "$WARNING$(report 10 8 3 0)$NORMAL" 0 1
# A header that describes data through two negative numbers matches the
# file size, but its data pass would be empty: refused before any write,
# rather than left with the header converted and the data not. A mode-0
# map has no data pass: its header is converted as before.
make_map make m.map host 10 -2 -3 2 240
refused m.map "$(report 10 -2 -3 2)Negative number of rows ...\n"
make_map make m.map other 10 2 -3 4 240
refused m.map "$WARNING$(report 10 2 -3 4)Negative number of sections ...\n"
make_map make m.map host 10 -2 -3 0 60
converted "$(report 10 -2 -3 0)$NORMAL" 0 1

begin "a sparse map stays sparse: pages of zeros are not written"
# 4096 x 1024 x 2 reals, 32 MiB: its header and one row of values, then a hole.
make_map header m.map other 4096 1024 2 2
head -c 16384 /dev/urandom >>m.map
truncate -s $((1024 + 4096 * 1024 * 2 * 4)) m.map
make_map swapped m.map expected 16384 4
run 'm.map\n' endian_switch
expect_out "$BANNER$(report 4096 1024 2 2)$WRITING$NORMAL"
expect_status 0
expect_same m.map expected
[ "$(stat -c %b m.map)" -lt 100 ] || bad "$(stat -c %b m.map) blocks of 512 bytes allocated"

# --- failed writes ---------------------------------------------------------------------

begin "the header cannot be written back"
run '/dev/full\n' endian_switch
expect_out "$BANNER$WARNING$(report 0 0 0 0)fread failed during header write ...\n"
expect_status 1

begin "standard output on /dev/full: status 2, one line on standard error, file unchanged"
make_map make m.map host 10 8 3 2
cp m.map before
printf 'm.map\n' | "$BIN/endian_switch" >/dev/full 2>err
status=$?
expect_status 2
expect_err '^endian_switch: standard output: No space left on device$'
expect_same m.map before

# --- reading the name ----------------------------------------------------------------

begin "the name is the first word, after any blanks; the input after it stays unread"
make_map make m.map host 10 8 3 2
printf ' \t\n  m.map and other words\nsecond line\n' >answers
{ "$BIN/endian_switch" >out; status=$?; cat >rest; } <answers
expect_out "$BANNER$(report 10 8 3 2)$WRITING$NORMAL"
expect_status 0
expect_file rest 'and other words\nsecond line\n'

begin "at a terminal the rest of the typed line is read too, and never reaches the shell"
make_map make m.map host 10 8 3 2
"$PYTHON" - "$BIN/endian_switch" >rest <<'EOF'
import os, pty, subprocess, sys
master, terminal = pty.openpty()
os.write(master, b"m.map extra words\nnext line\n")
done = subprocess.run([sys.argv[1]], stdin=terminal, stdout=subprocess.DEVNULL, timeout=10)
os.set_blocking(terminal, False)
print(done.returncode)
print(os.read(terminal, 100).decode(), end="")  # what the shell would read next
EOF
expect_file rest '0\nnext line\n'

begin "a name that is never done (a stream of zero bytes) is refused at its first byte"
timeout 10 "$BIN/endian_switch" </dev/zero >out 2>err
status=$?
expect_out "${BANNER}cannot open file ...  \n"
expect_status 1

begin "no name at all: refused through the open failure"
for input in '' ' \n\t\n'; do
  run "$input" endian_switch
  expect_out "${BANNER}cannot open file ...  \n"
  expect_status 1
done

begin "a name of 255 bytes is used; one of 256 is refused, not cut"
long=$(printf 'n%.0s' {1..255})
make_map make "$long" host 10 8 3 2
cp "$long" before
run "${long}x\n" endian_switch
expect_out "${BANNER}cannot open file ... $long \n"
expect_status 1
expect_same "$long" before
run "$long\n" endian_switch
expect_out "$BANNER$(report 10 8 3 2)$WRITING$NORMAL"
expect_status 0

summary
