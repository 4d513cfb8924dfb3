#!/usr/bin/env bash
# endian_switch when its surroundings fail: standard input empty, closed or
# unreadable; standard output full, closed or a pipe nobody reads; a map
# that is missing, a folder, a special file, not both readable and
# writable, truncated at the header or inside its rows, in every mode and
# both byte orders; reads and writes that fail halfway. Every case checks
# standard output byte for byte, the status, standard error, and every
# file's bytes: a refused map is left exactly as it was, a converted one is
# converted exactly, and no map is left with parts in both byte orders.
# Every conversion syncs the map, its journal and their folder: in a
# folder in memory that costs nothing, on a disk it is most of a case.
[ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm
source "$2/tests/harness.sh"
source "$SRC/tools/endian_switch/tests/texts.sh"

# launch OUTPUT: runs the tool, for at most 10 seconds (a special file
# must never make it wait), with standard output a file (out), /dev/full,
# closed, or a pipe whose reader has gone; standard input is the caller's.
launch() {
  case $1 in
    file) timeout 10 "$BIN/endian_switch" >out 2>err ;;
    full) timeout 10 "$BIN/endian_switch" >/dev/full 2>err ;;
    closed) timeout 10 "$BIN/endian_switch" >&- 2>err ;;
    broken)
      rm -f "$WORK/pipe" && mkfifo "$WORK/pipe"
      # Opened for both ends, then the reading end closed: writes fail.
      (exec 5<>"$WORK/pipe" 6>"$WORK/pipe" 5<&- && timeout 10 "$BIN/endian_switch" >&6 2>err 6>&-)
      ;;
  esac
}

# answer INPUT OUTPUT: INPUT is empty, closed, folder (every read fails)
# or printf %b text after "text:"; OUTPUT as for launch, or unprivileged
# (standard output a file, the tool run as a user without privileges).
answer() {
  : >out
  if [ "$2" = unprivileged ]; then
    run_unprivileged "${1#text:}" endian_switch
    return
  fi
  case $1 in
    empty) printf '' | launch "$2" ;;
    closed) launch "$2" <&- ;;
    folder) mkdir -p "$WORK/folder" && launch "$2" <"$WORK/folder" ;;
    text:*) printf '%b' "${1#text:}" | launch "$2" ;;
  esac
  status=$?
}

# expect_refusal INPUT OUTPUT EXPECTED STATUS [DIAGNOSTIC]: answering
# INPUT, the tool writes EXPECTED after the banner (nothing where standard
# output fails), ends with STATUS, writes DIAGNOSTIC (a pattern) or nothing
# on standard error, and changes no file.
expect_refusal() {
  snapshot
  answer "$1" "$2"
  case $2 in
    file | unprivileged) expect_out "$BANNER$3" ;;
    *) expect_out '' ;;
  esac
  expect_status "$4"
  if [ -n "${5-}" ]; then expect_err "$5"; else expect_no_err; fi
  expect_unchanged
}

# --- standard input and output ------------------------------------------------------
# A convertible map lies beside every case: no stream failure may touch it.

while IFS='|' read -r input output want code diagnostic; do
  begin "standard input $input, standard output $output"
  make_map make m.map host 10 8 3 2
  expect_refusal "$input" "$output" "$want" "$code" "$diagnostic"
done <<EOF
empty|file|cannot open file ...  \n|1|
closed|file|cannot open file ...  \n|1|
folder|file|cannot open file ...  \n|1|
text:m.map\n|full||2|^endian_switch: standard output: No space left on device$
text:m.map\n|closed||2|^endian_switch: standard output: Bad file descriptor$
text:m.map\n|broken||2|^endian_switch: standard output: Broken pipe$
closed|closed||2|^endian_switch: standard output: Bad file descriptor$
empty|full||2|^endian_switch: standard output: No space left on device$
text:missing.map\n|broken||2|^endian_switch: standard output: Broken pipe$
EOF

# Standard error closed, standard output failing only after the map is
# open (it fills up: a file at the size limit): the diagnostic has nowhere
# to go, and it must not go into the map that took the free descriptor.
# Failing at the report, before the header rewrite, or at the data line,
# after it (the header is put back), the map is unchanged.
for lines in 1 2; do
  begin "standard error closed, standard output full after $lines write(s)"
  make_map make m.map other 10 8 3 2
  snapshot
  written=$BANNER
  [ "$lines" = 2 ] && written=$BANNER$(report 10 8 3 2)
  head -c $((1048576 - $(printf '%b' "$written" | wc -c))) /dev/zero >"$WORK/full_out"
  (
    ulimit -f 1024
    printf 'm.map\n' | exec "$BIN/endian_switch" >>"$WORK/full_out" 2>&-
  )
  status=$?
  expect_status 2
  tail -c "$(printf '%b' "$written" | wc -c)" "$WORK/full_out" >out
  expect_out "$written"
  expect_unchanged
  rm -f "$WORK/full_out"
done

# --- the map: missing, not a file, not both readable and writable -----------------

begin "no such map, and a dangling link: nothing is created"
expect_refusal 'text:missing.map\n' file 'cannot open file ... missing.map \n' 1
ln -s missing.map link.map
expect_refusal 'text:link.map\n' file 'cannot open file ... link.map \n' 1

begin "a folder, and a link to one"
mkdir maps && make_map make maps/m.map host 10 8 3 2
ln -s maps folder_link
expect_refusal 'text:maps\n' file 'cannot open file ... maps \n' 1
expect_refusal 'text:folder_link\n' file 'cannot open file ... folder_link \n' 1

begin "special files that have no header to read: a FIFO, /dev/null"
# The FIFO lies outside the case folder: snapshots compare regular files.
rm -f "$WORK/pipe.map" && mkfifo "$WORK/pipe.map"
expect_refusal "text:$WORK/pipe.map\n" file "$HEADER_READ" 1
[ -p "$WORK/pipe.map" ] || bad "the FIFO is gone"
expect_refusal 'text:/dev/null\n' file "$HEADER_READ" 1

begin "a map that cannot be read, written, or either"
make_map make m.map host 10 8 3 2
cp m.map "$WORK/before.map"
for mode in 000 444 222; do
  chmod "$mode" m.map
  run_unprivileged 'm.map\n' endian_switch
  # Readable again for the comparison, which may run without privileges.
  chmod 644 m.map
  expect_out "${BANNER}cannot open file ... m.map \n"
  expect_status 1
  expect_no_err
  cmp -s m.map "$WORK/before.map" || bad "mode $mode: the map changed"
done
[ "$(ls -A | grep -vx -e out -e err)" = m.map ] || bad "files appeared: $(ls -A)"

begin "a writable map in a folder that is not: converted in place, said not crash-safe"
mkdir locked && make_map make locked/m.map other 10 8 3 4
make_map swapped locked/m.map expected 1920 4
chmod 666 locked/m.map
chmod 555 locked
run_unprivileged 'locked/m.map\n' endian_switch
expect_out "$BANNER$(report 10 8 3 4)$WRITING$NORMAL"
expect_status 0
expect_err "^$NOT_CRASH_SAFE: Permission denied\$"
cmp -s locked/m.map expected || bad "locked/m.map is not the converted map"
[ "$(ls -A locked)" = m.map ] || bad "locked holds more than the map: $(ls -A locked)"
chmod 755 locked  # so that the case folder can be removed without privileges

# --- truncated maps, every mode, both byte orders ----------------------------------
# 10 x 8 x 3 pixels. Cut inside the header; just after it; inside the first
# row; inside the last row, by a byte (a value cut short) or by half a row.
# Stored in the other order, the dimensions are read reversed and the data
# is short of its rows: refused before any write. Stored in the host order,
# the reversed column count makes a row far too long: refused as well. A
# mode-0 map has no data pass: its header alone is converted.

for mode in 0 1 2 3 4; do
  case $mode in 0) pixel=1 ;; 1) pixel=2 ;; 2 | 3) pixel=4 ;; 4) pixel=8 ;; esac
  row=$((10 * pixel))
  data=$((240 * pixel))
  for order in host other; do
    begin "mode $mode, $order order, truncated"
    for size in 1023 1024 $((1024 + row / 2)) $((1024 + data - row / 2)) $((1024 + data - 1)); do
      make_map make m.map "$order" 10 8 3 "$mode" $((size - 1024 - data))
      if [ "$size" = 1023 ]; then
        expect_refusal 'text:m.map\n' file "$HEADER_READ" 1
      elif [ "$order" = host ]; then
        expect_refusal 'text:m.map\n' file "$WARNING$TOO_WIDE" 1
      elif [ "$mode" != 0 ]; then
        expect_refusal 'text:m.map\n' file "$WARNING$(report 10 8 3 "$mode")$DATA_READ" 1
      else
        make_map swapped m.map expected 0 1
        run 'm.map\n' endian_switch
        expect_out "$BANNER$WARNING$(report 10 8 3 0)$NORMAL"
        expect_status 0
        expect_no_err
        cmp -s m.map expected || bad "$size bytes: m.map is not the map with its header converted"
      fi
      rm -f m.map expected
    done
  done
done

# --- reads and writes that fail halfway --------------------------------------------

# made_once NAME ORDER COLUMNS ROWS SECTIONS MODE DATA_BYTES VALUE_BYTES:
# m.map, copied from a map made at the first call; $CONVERTED, its
# conversion, stays outside the case folder (out of its snapshots).
made_once() {
  if [ ! -e "$WORK/$1.map" ]; then
    make_map make "$WORK/$1.map" "${@:2:5}"
    make_map swapped "$WORK/$1.map" "$WORK/$1.converted" "$7" "$8"
  fi
  cp "$WORK/$1.map" m.map && CONVERTED=$WORK/$1.converted
}

by_inode() { echo "endian_switch-journal.$(stat -c %i m.map)"; }

# A map of 3000 x 200 x 2 values of mode 1: 2.4 MB, three passes of the
# buffer, so that a failure can come after rows were already converted.
big_map() { made_once big other 3000 200 2 1 2400000 2; }
BIG_REPORT="$BANNER$(report 3000 200 2 1)"

begin "a write cut short by the file size limit: the part that landed is put back"
# Under a 2 MiB limit the third block is written in part, then refused.
big_map
snapshot
(
  ulimit -f 2048
  printf 'm.map\n' | exec "$BIN/endian_switch" >out 2>err
)
status=$?
expect_out "$BIG_REPORT${WRITING}fread failed during data write ...\n"
expect_status 1
expect_no_err
expect_unchanged

begin "a header write cut short by the file size limit: the header is put back"
# Under a 512-byte limit no journal can be written, half the header lands,
# then the write is refused.
make_map make m.map other 10 8 3 2
snapshot
printf 'm.map\n' | "$PYTHON" -c 'import os, resource, signal, sys
# Python ignores the signal of an exceeded limit: the tool gets it as usual.
signal.signal(signal.SIGXFSZ, signal.SIG_DFL)
resource.setrlimit(resource.RLIMIT_FSIZE, (512, 512))
os.execv(sys.argv[1], sys.argv[1:])' "$BIN/endian_switch" >out 2>err
status=$?
expect_out "$BANNER$(report 10 8 3 2)fread failed during header write ...\n"
expect_status 1
expect_err "^$NOT_CRASH_SAFE: File too large\$"
expect_unchanged

if ! strace -o /dev/null true 2>/dev/null; then
  skip_cases "failures injected into reads and writes need strace"
  summary
  exit
fi

# inject CALL WHEN ERROR PATH: answers m.map by its full path (calls that
# name a file are matched by the name given), with the WHEN-th CALL on PATH
# failing with ERROR. Only calls on that path fail: a loader reads files too.
inject() {
  printf '%s/m.map\n' "$PWD" >"$WORK/answers"
  strace -o /dev/null -P "$4" -e trace="$1" -e inject="$1":error="$3":when="$2" \
    "$BIN/endian_switch" <"$WORK/answers" >out 2>err
  status=$?
}

begin "standard output fails before the header is rewritten: map unchanged"
big_map
snapshot
inject write 2 ENOSPC "$PWD/out"
expect_out "$BANNER"
expect_status 2
expect_err '^endian_switch: standard output: No space left on device$'
expect_unchanged

begin "standard output fails after the header is rewritten: the map is put back"
for when in 3 4; do
  big_map
  snapshot
  inject write "$when" EIO "$PWD/out"
  [ "$when" = 3 ] && expect_out "$BIG_REPORT" || expect_out "$BIG_REPORT$WRITING"
  expect_status 2
  expect_err '^endian_switch: standard output: Input/output error$'
  expect_unchanged
done

# A read or write of the map that fails: status 1, its message, and the
# map as it was, whatever had been converted before the failure. Reads 2
# to 4 are the journal's, before the header is rewritten; 5 to 7 and
# writes 2 to 4 are the data pass's.
while IFS='|' read -r call when message; do
  begin "the $when. $call of the map fails"
  big_map
  snapshot
  inject "$call" "$when" EIO "$PWD/m.map"
  case $call$when in
    pread641 | newfstatat1) expect_out "$BANNER$message" ;;
    pwrite641 | pread64[234]) expect_out "$BIG_REPORT$message" ;;
    *) expect_out "$BIG_REPORT$WRITING$message" ;;
  esac
  expect_status 1
  expect_no_err
  expect_unchanged
done <<'EOF'
pread64|1|fread failed during header read ...\n
newfstatat|1|Cannot stat file ...\n
pwrite64|1|fread failed during header write ...\n
pread64|2|fread failed during data read ...\n
pread64|3|fread failed during data read ...\n
pread64|4|fread failed during data read ...\n
pread64|5|fread failed during data read ...\n
pread64|6|fread failed during data read ...\n
pread64|7|fread failed during data read ...\n
pwrite64|2|fread failed during data write ...\n
pwrite64|4|fread failed during data write ...\n
EOF

begin "the converted map cannot be made durable: put back, the journal gone"
big_map
snapshot
inject fdatasync 1 EIO "$PWD/m.map"
expect_out "$BIG_REPORT${WRITING}Cannot close file ...\n"
expect_status 1
expect_no_err
expect_unchanged

begin "the journal's removal cannot be made durable: converted, status 0, said on standard error"
big_map
journal=$(by_inode)
inject fsync 3 EIO "$PWD"
expect_out "$BIG_REPORT$WRITING$NORMAL"
expect_status 0
expect_err "^endian_switch: the journal beside the map, $journal: removed, but its folder could not be synced \\(Input/output error\\)\$"
cmp -s m.map "$CONVERTED" || bad "the map is not converted"
[ "$(ls -A | grep -vx -e out -e err)" = m.map ] || bad "left beside the map: $(ls -A)"

begin "the journal cannot be looked at before its removal: marked finished, the next run converts back"
big_map
printf 'm.map\n' >"$WORK/answers"
strace -o "$WORK/calls" -e trace=newfstatat "$BIN/endian_switch" <"$WORK/answers" >/dev/null
# The last look at the name made of the inode: just before its removal.
when=$(grep -n "\"$(by_inode)\"" "$WORK/calls" | tail -1 | cut -d: -f1)
big_map
strace -o /dev/null -e trace=newfstatat -e inject=newfstatat:error=EIO:when="$when" \
  "$BIN/endian_switch" <"$WORK/answers" >out 2>err
status=$?
expect_out "$BIG_REPORT$WRITING$NORMAL"
expect_status 0
expect_err "^endian_switch: the journal beside the map, $(by_inode): cannot be removed \\(Input/output error\\); marked finished"
cmp -s m.map "$CONVERTED" || bad "the map is not converted"
run 'm.map\n' endian_switch
expect_out "$BIG_REPORT$WRITING$NORMAL"
expect_status 0
expect_no_err
expect_same m.map "$WORK/big.map"
[ "$(ls -A | grep -vx -e out -e err)" = m.map ] || bad "left beside the map: $(ls -A)"

begin "a read error inside the name: refused, no shorter name is opened"
make_map make m. host 10 8 3 2
make_map make m.map host 10 8 3 2
snapshot
printf 'm.map\n' >"$WORK/answers"
strace -o /dev/null -P "$WORK/answers" -e trace=read -e inject=read:error=EIO:when=3 \
  "$BIN/endian_switch" <"$WORK/answers" >out 2>err
status=$?
expect_out "${BANNER}cannot open file ... m. \n"
expect_status 1
expect_no_err
expect_unchanged

# --- signals, crashes, a second run ------------------------------------------------
# Signals and kills come from strace, at the entry of the k-th call named:
# the same point of the run every time.

# The journal's name made of the map's name; the one made of its inode is
# another name of the same file, and the one it is written under first.
JOURNAL=m.map.endian_switch-journal
INTERRUPTED='Interrupted ... file left in its original byte order\n'

# signalled BINARY SIGNAL CALL WHEN [PATH]: runs BINARY on m.map with
# SIGNAL sent at the entry of the WHEN-th CALL (on PATH only, if given).
signalled() {
  printf '%s/m.map\n' "$PWD" >"$WORK/answers"
  strace -o /dev/null ${5:+-P "$5"} -e trace="$3" -e inject="$3":signal="$2":when="$4" \
    "$BIN/$1" <"$WORK/answers" >out 2>err
  status=$?
}

# Each catchable signal, before the header is rewritten (while the journal
# is written) and in the data pass (the second of three blocks): the run
# stops at the next block boundary, puts the map back, removes the
# journal, says so, and dies of the signal. SIGQUIT leaves no core file.
while read -r sig number; do
  begin "SIG$sig while the journal is written, and in the data pass"
  big_map
  snapshot
  signalled endian_switch "$sig" pwrite64 2 "$PWD/$(by_inode).new"
  expect_out "$BIG_REPORT$INTERRUPTED"
  expect_status $((128 + number))
  expect_no_err
  expect_unchanged
  (ulimit -c unlimited && signalled endian_switch "$sig" pwrite64 3 "$PWD/m.map" && echo "$status" >status)
  status=$(<status) && rm status
  expect_out "$BIG_REPORT$WRITING$INTERRUPTED"
  expect_status $((128 + number))
  expect_no_err
  expect_unchanged
done <<'EOF'
INT 2
TERM 15
HUP 1
QUIT 3
EOF

# The second signal is aimed at a write of the map by strace's path filter,
# which cannot see the paths of a process that made itself undumpable (as
# the tool does while it puts the map back) unless strace runs as root.
if [ "$(id -u)" = 0 ]; then
begin "a second signal while the map is put back: the run ends at once, the next one finishes"
big_map
# Writes 1 to 3 are the header and two blocks; 4 and 5 put the blocks back.
signalled endian_switch INT pwrite64 3+2 "$PWD/m.map"
expect_out "$BIG_REPORT${WRITING}Interrupted ... run again to finish the conversion\n"
expect_status 130
[ -e "$JOURNAL" ] || bad "the journal is gone"
run 'm.map\n' endian_switch
expect_out "$BIG_REPORT$WRITING$NORMAL"
expect_status 0
expect_no_err
expect_same m.map "$CONVERTED"
expect_no_file "$JOURNAL"
else
  skip_cases "a second signal while the map is put back needs root"
fi


# kill -9 at the entry of every write, sync and removal of one conversion
# of a small map (ten blocks of 4 KiB in the test build): the journal's
# writes, the header, each block, then the removal of the journal. A
# rerun finishes the conversion, unless the run had already said it was
# done and left no journal.
small_map() { made_once small other 64 40 4 2 40960 4; }
SMALL_REPORT="$BANNER$(report 64 40 4 2)"
for call in pwrite64 fsync fdatasync unlinkat; do
  begin "kill -9 at each $call of a conversion, then a rerun"
  for ((when = 1; ; when++)); do
    small_map
    signalled endian_switch_small_blocks KILL "$call" "$when"
    [ "$status" = 137 ] || break  # no such call: the conversion ran to its end
    if ls | grep -q journal || ! grep -q "^Normal termination" out; then
      run 'm.map\n' endian_switch_small_blocks
      expect_out "$SMALL_REPORT$WRITING$NORMAL"
      expect_status 0
      expect_no_err
    fi
    cmp -s m.map "$CONVERTED" || bad "killed at $call $when: the map is not converted exactly once"
    [ "$(ls -A | grep -vx -e out -e err)" = m.map ] || bad "killed at $call $when: left beside the map: $(ls -A)"
  done
  kills=$((when - 1))
  [ "$kills" -ge 1 ] || bad "never killed at $call"
  [ "$call" != pwrite64 ] || [ "$kills" = 24 ] || bad "$kills writes, expected 12 to the journal and 12 to the map"
done

begin "a run finishing a killed one, interrupted: the map back in its first order, no journal"
small_map
signalled endian_switch_small_blocks KILL pwrite64 18
signalled endian_switch_small_blocks INT pwrite64 3 "$PWD/m.map"
expect_out "$SMALL_REPORT$WRITING$INTERRUPTED"
expect_status 130
expect_same m.map "$WORK/small.map"
expect_no_file "$JOURNAL"

# Two signals where nothing is left to put back: the second as the run
# stops before its first write, or after the map is put back, before it
# says so, or while it removes the journal. Each time the run says the
# map is as it was.
begin "a second signal before the first write, or once the map is put back: the map as it was, and said so"
# The signal handlers' changes are counted from those a run makes before
# it reads its answer (a sanitizer build makes more).
small_map
snapshot
strace -o "$WORK/trace" -e trace=rt_sigaction "$BIN/endian_switch_small_blocks" --version >/dev/null
first=$(grep -c '^rt_sigaction' "$WORK/trace")
signalled endian_switch_small_blocks INT rt_sigaction $((first + 4))..$((first + 8))+4
expect_out "$SMALL_REPORT$INTERRUPTED"
expect_status 130
expect_unchanged
strace -o /dev/null -e inject=sync_file_range:signal=INT:when=3 \
  -e inject=rt_sigaction:signal=INT:when=$((first + 12)) "$BIN/endian_switch_small_blocks" <"$WORK/answers" >out 2>err
status=$?
expect_out "$SMALL_REPORT$WRITING$INTERRUPTED"
expect_status 130
expect_unchanged
strace -o /dev/null -e inject=sync_file_range:signal=INT:when=1 -e inject=fsync:signal=TERM:when=4 \
  "$BIN/endian_switch_small_blocks" <"$WORK/answers" >out 2>err
status=$?
expect_out "$SMALL_REPORT$WRITING$INTERRUPTED"
expect_status 143
expect_unchanged

# A journal that cannot be used is refused, and neither it nor the map is
# touched: the map is locked by another run, or cannot be locked at all,
# has been replaced by a copy (another inode), or changed since; or the
# journal itself is damaged, whatever the damage: a run that took it for
# one never committed would convert the half-converted map again. Only a
# change in the map is found after the report, by reading it.
while IFS='|' read -r what change message; do
  if [ "$(id -u)" != 0 ] && [[ $what = *"another user"* ]]; then
    skip_cases "a journal of another user needs root"
    continue
  fi
  begin "a journal left by a crash, $what: refused"
  small_map
  signalled endian_switch_small_blocks KILL pwrite64 18
  eval "$change"
  snapshot
  printf 'm.map\n' >"$WORK/answers"
  case $what in
    *locked) flock m.map "$BIN/endian_switch_small_blocks" <"$WORK/answers" >out 2>err ;;
    *"cannot be locked"*)
      strace -o /dev/null -e trace=flock -e inject=flock:error=ENOLCK \
        "$BIN/endian_switch_small_blocks" <"$WORK/answers" >out 2>err ;;
    *) timeout 10 "$BIN/endian_switch_small_blocks" <"$WORK/answers" >out 2>err ;;
  esac
  status=$?
  case $what in
    *changed | *written*) expect_out "$SMALL_REPORT$message" ;;
    *) expect_out "$BANNER$message" ;;
  esac
  expect_status 1
  expect_no_err
  expect_unchanged
done <<'EOF'
the map locked|:|File is locked by another run ...\n
the map cannot be locked (a file system without locks)|:|File is locked by another run ...\n
the map replaced by a copy|cp m.map copy && mv copy m.map|Journal belongs to another file ...\n
a checksum of the journal altered|make_map set $JOURNAL 2100 7|Journal is damaged ...\n
a byte of its first 32 altered|make_map set $JOURNAL 5 7|Journal is damaged ...\n
its first sector zeroed|dd if=/dev/zero of=$JOURNAL bs=512 count=1 conv=notrunc status=none|Journal is damaged ...\n
it cut below 512 bytes|truncate -s 300 $JOURNAL|Journal is damaged ...\n
it replaced by zeros of its size|head -c $(stat -c %s $JOURNAL) /dev/zero >$JOURNAL|Journal is damaged ...\n
it replaced by a folder|rm $JOURNAL $(by_inode) && mkdir $(by_inode)|Journal is not a regular file ...\n
it owned by another user, who could steer the conversion|chown 65534 $JOURNAL|Journal belongs to another user ...\n
the map renamed as the name a new journal is written under|n=$(by_inode).new && rm $JOURNAL $(by_inode) && cp "$WORK/small.map" m.map && mv m.map $n && ln -s $n m.map|File is locked by another run ...\n
its second name a copy of it, which of the two to trust unknown|cp $JOURNAL copy && mv copy $JOURNAL|Two journals beside the map ...\n
the name a new journal is written under taken by a file of another user|rm $JOURNAL $(by_inode) && cp "$WORK/small.map" m.map && touch $(by_inode).new && chown 65534 $(by_inode).new|Journal belongs to another user ...\n
the name a new journal is written under taken by a folder|rm $JOURNAL $(by_inode) && cp "$WORK/small.map" m.map && mkdir $(by_inode).new|Journal is not a regular file ...\n
a value of the map changed|make_map set m.map 20000 7|Map changed since the interrupted conversion ...\n
EOF

# A journal a killed run began, which this runner may not remove, leaves
# no place for a journal: the map is converted, not crash-safe, as in any
# folder the runner may not write, never refused for ever.
if [ "$(id -u)" = 0 ]; then
  begin "a journal begun by a killed run of root, which the runner may not remove: converted, not crash-safe"
  small_map
  chmod 666 m.map
  mkdir locked && mv m.map locked && touch "locked/$(cd locked && by_inode).new"
  run_unprivileged 'locked/m.map\n' endian_switch_small_blocks
  expect_out "$SMALL_REPORT$WRITING$NORMAL"
  expect_status 0
  expect_err "^$NOT_CRASH_SAFE: Permission denied\$"
  expect_same locked/m.map "$CONVERTED"
fi

begin "a journal left by a crash, replaced by a FIFO: refused at once, nothing touched"
small_map
signalled endian_switch_small_blocks KILL pwrite64 18
cp m.map "$WORK/killed.map"
rm "$JOURNAL" "$(by_inode)" && mkfifo "$(by_inode)"
printf 'm.map\n' | timeout 10 "$BIN/endian_switch_small_blocks" >out 2>err
status=$?
expect_out "${BANNER}Journal is not a regular file ...\n"
expect_status 1
expect_same m.map "$WORK/killed.map"
[ -p "$(by_inode)" ] || bad "the FIFO is gone"

# The journal of a conversion killed halfway is found, and the conversion
# finished, whatever name of the map the next run is given and whoever
# may write the map: through a hard link or after a rename in the same
# folder; when only the name made of the map's name is left, as earlier
# versions left it; by a user who may not list the folder (0733), or not
# even write it (0711), who then cannot remove the journal and marks it
# finished, so that the run after passes it by and converts the map back,
# not crash-safe; or after a kill while the journal was written, whatever
# that left.
while IFS='|' read -r what kill change answer runner; do
  # Only another user is kept out of a folder of mode 0711 or 0733.
  if [[ $runner = unprivileged || $change = *chown* ]] && [ "$(id -u)" != 0 ]; then
    skip_cases "the cases of a second user need root"
    continue
  fi
  begin "a conversion killed at $kill, finished $what"
  small_map
  chmod 666 m.map
  signalled endian_switch_small_blocks KILL "${kill%:*}" "${kill#*:}"
  eval "$change"
  if [ "$runner" = unprivileged ]; then
    run_unprivileged "$answer\n" endian_switch_small_blocks
  else
    run "$answer\n" endian_switch_small_blocks
  fi
  expect_out "$SMALL_REPORT$WRITING$NORMAL"
  expect_status 0
  cmp -s "$answer" "$CONVERTED" || bad "the map is not converted exactly once"
  if [ "$runner" = unprivileged ]; then chmod 755 locked; fi
  case $what in
    *0711*)
      expect_err "^endian_switch: the journal beside the map, $(cd locked && by_inode): cannot be removed \(Permission denied\); marked finished, the next run passes it by: remove it\$"
      chmod 711 locked
      run_unprivileged "$answer\n" endian_switch_small_blocks
      chmod 755 locked
      expect_out "$SMALL_REPORT$WRITING$NORMAL"
      expect_status 0
      expect_err "^$NOT_CRASH_SAFE: the journal of a finished conversion cannot be removed\$"
      cmp -s "$answer" "$WORK/small.map" || bad "the next run did not convert the map back"
      ;;
    *)
      expect_no_err
      left=$(ls -A . ${runner:+locked} | grep -vx -e out -e err -e locked -e '' -e '.*:' -e m.map -e h.map -e n.map)
      [ -z "$left" ] || bad "left beside the map: $left"
      ;;
  esac
done <<'EOF'
through a hard link|pwrite64:18|ln m.map h.map && rm m.map|h.map|
by root, its journal made by a member of the map's group|pwrite64:18|chmod 664 m.map && chown 65534 $JOURNAL|m.map|
after a rename|pwrite64:18|mv m.map n.map|n.map|
with only the name earlier versions gave it|pwrite64:18|rm $(by_inode)|m.map|
by a user who may not list the folder|pwrite64:18|mkdir locked && mv m.map $JOURNAL $(by_inode) locked && chmod 733 locked|locked/m.map|unprivileged
by a user who may not write the folder (0711)|pwrite64:18|mkdir locked && mv m.map $JOURNAL $(by_inode) locked && chmod 711 locked|locked/m.map|unprivileged
after a kill while its journal was written, that file damaged|pwrite64:5|make_map set $(by_inode).new 5 7|m.map|
through a hard link, after a kill as it took its first name and one in a run finishing it|renameat2:1|signalled endian_switch_small_blocks KILL pwrite64 10 && ln m.map h.map|h.map|
through a hard link, after a kill between its two names and one in a run finishing it|linkat:1|signalled endian_switch_small_blocks KILL pwrite64 10 && ln m.map h.map|h.map|
with only the name earlier versions gave it, after a kill in a run finishing it through that name|pwrite64:18|rm $(by_inode) && signalled endian_switch_small_blocks KILL pwrite64 3 && ln m.map h.map|h.map|
EOF

summary
