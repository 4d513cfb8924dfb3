#!/usr/bin/env bash
# Throughput and memory of endian_switch against anchors that do the same
# in-place work on the same file, in the same run:
#   1 GiB mode-1 map (1024 x 1024 x 512)    vs  dd conv=swab,notrunc (bs=1M)
#   2 GiB mode-2 map (1024 x 1024 x 512)    vs  numpy in-place byteswap of a
#                                               memory map of its data
#                                           vs  cp map copy && sync copy (the
#                                               same amount of data made durable)
#   narrow mode-2 map (4 x 16777216 x 8)    vs  the 2 GiB wide map (the same
#                                               size: only the rows differ)
#   a run finishing a conversion of the 2 GiB map killed halfway (kill -9
#   at the entry of its 1025th write to the map, through strace), against
#   a whole conversion
#   peak memory of a 50 MB and a 2 GiB map (/usr/bin/time -v); the size of
#   the journal of the 2 GiB map
# endian_switch makes the converted map durable before it ends (fdatasync),
# so every anchor does too: dd with conv=fdatasync, numpy with an fsync.
# Every file is in the page cache (each is converted once before timing)
# and clean (synced) when a timed run starts.
# Timings are medians of RUNS interleaved runs; ratios above 1 mean
# endian_switch is faster.
#   bench/endian_switch.sh [TOOLS_FOLDER] [RUNS]
# Needs python3 with numpy (Debian: python3-numpy), /usr/bin/time and
# strace; about 7.2 GB free in the temporary folder.
set -eu
BIN=$(cd "${1:-build/bin}" && pwd)
RUNS=${2:-5}
SRC=$(cd "$(dirname "$0")/.." && pwd)
PY=/usr/bin/python3
source "$SRC/bench/lib.sh"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/endian_switch_bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

# map FILE COLUMNS ROWS SECTIONS MODE BYTES_PER_PIXEL: a host-order header
# followed by random data.
map() {
  "$PY" "$SRC/tools/endian_switch/tests/make_map.py" header "$1" host "$2" "$3" "$4" "$5"
  head -c $(($2 * $3 * $4 * $6)) /dev/urandom >>"$1"
}

# seconds COMMAND...: wall time of one run, output discarded. Dirty pages
# of the run before are written out first, so that no run pays for the
# writeback of another.
seconds() {
  sync
  command_seconds "$@"
}

convert() { echo "$1" | "$BIN/endian_switch" >/dev/null; }
dd_swab() { dd if="$1" of="$1" bs=1M iflag=skip_bytes oflag=seek_bytes skip=1024 seek=1024 \
  conv=swab,notrunc,fdatasync status=none; }
# The anchor's own timing of the byte swap (its interpreter start-up and
# import left out, to its advantage).
numpy_swap() {
  env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE "$PY" -c '
import os, sys, time
import numpy as np
start = time.perf_counter()
values = np.memmap(sys.argv[1], dtype=np.uint32, mode="r+", offset=1024)
values.byteswap(inplace=True)
values.flush()
del values
fd = os.open(sys.argv[1], os.O_RDONLY)
os.fsync(fd)
print(time.perf_counter() - start)' "$1"
}
copy_synced() { cp "$1" copy.map && sync copy.map; }
# kill_halfway MAP: a conversion of the 2 GiB map killed at the entry of
# its 1025th write to the map (the header, then 1024 of 2048 blocks),
# which leaves its journal.
kill_halfway() {
  (echo "$1" | strace -o /dev/null -P "$PWD/$1" -e trace=pwrite64 -e inject=pwrite64:signal=KILL:when=1025 \
    "$BIN/endian_switch" >/dev/null) 2>/dev/null || true
  [ -e "$1.endian_switch-journal" ] || { echo "no journal after the kill" >&2; exit 1; }
}

echo "building maps in $WORK ..."
map wide1.map 1024 1024 512 1 2
map wide2.map 1024 1024 512 2 4
map narrow.map 4 16777216 8 2 4
map small.map 1024 1024 12 2 4
for f in wide1.map wide2.map narrow.map small.map; do convert "$f"; done

: >t_tool1 >t_dd >t_tool2 >t_numpy >t_narrow >t_cp >t_recovery
for ((i = 0; i < RUNS; i++)); do
  seconds dd_swab wide1.map >>t_dd
  seconds convert wide1.map >>t_tool1
  sync
  numpy_swap wide2.map >>t_numpy
  seconds convert wide2.map >>t_tool2
  seconds convert narrow.map >>t_narrow
  seconds copy_synced wide2.map >>t_cp
  rm -f copy.map
  kill_halfway wide2.map
  journal_bytes=$(stat -c %s wide2.map.endian_switch-journal)
  seconds convert wide2.map >>t_recovery
done

gib=$((1024 * 1024 * 1024))
tool1=$(median $(<t_tool1)) dd=$(median $(<t_dd)) tool2=$(median $(<t_tool2))
numpy=$(median $(<t_numpy)) narrow=$(median $(<t_narrow))
cp_sync=$(median $(<t_cp)) recovery=$(median $(<t_recovery))
rate() { echo "scale=3; $1 / $2 / 1000000000" | bc -l; }
printf 'medians of %d runs (s): endian_switch mode-1 %s, dd %s; endian_switch mode-2 %s, numpy %s, cp+sync %s; narrow %s; recovery %s\n' \
  "$RUNS" "$tool1" "$dd" "$tool2" "$numpy" "$cp_sync" "$narrow" "$recovery"
printf 'mode-1 1 GiB:  %s GB/s, dd %s GB/s, ratio %.2f\n' \
  "$(rate $gib "$tool1")" "$(rate $gib "$dd")" "$(ratio "$dd" "$tool1")"
printf 'mode-2 2 GiB:  %s GB/s, numpy %s GB/s, ratio %.2f\n' \
  "$(rate $((2 * gib)) "$tool2")" "$(rate $((2 * gib)) "$numpy")" "$(ratio "$numpy" "$tool2")"
printf 'mode-2 2 GiB:  crash-safe and durable, ratio %.2f against cp map copy && sync copy\n' \
  "$(ratio "$cp_sync" "$tool2")"
printf 'recovery:      finishing a conversion killed halfway takes %.2f times a whole conversion\n' \
  "$(ratio "$recovery" "$tool2")"
printf 'journal:       %s bytes for the 2 GiB map, %.2f %% of it\n' "$journal_bytes" \
  "$(echo "100 * $journal_bytes / (1024 + 2 * $gib)" | bc -l)"
narrow_bytes=$((4 * 16777216 * 8 * 4))
printf 'narrow rows:   %s GB/s, %.2f of the wide mode-2 map\n' \
  "$(rate $narrow_bytes "$narrow")" \
  "$(echo "($narrow_bytes / $narrow) / ($((2 * gib)) / $tool2)" | bc -l)"

peak() { echo "$1" | peak_kib "$BIN/endian_switch"; }
printf 'peak memory:   50 MB map %s KB, 2 GiB map %s KB\n' "$(peak small.map)" "$(peak wide2.map)"
