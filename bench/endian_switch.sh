#!/usr/bin/env bash
# Throughput, disk use and memory of endian_switch against anchors that do
# the same in-place work on the same file, in the same run:
#   1 GiB mode-2 map (1024 x 1024 x 256)    vs  cp map copy && sync copy (the
#                                               same amount of data made
#                                               durable): the crash-safe
#                                               conversion's figure
#                                           vs  numpy in-place byteswap of a
#                                               memory map of its data
#   1 GiB mode-1 map (1024 x 1024 x 512)    vs  dd conv=swab,notrunc (bs=1M)
#   narrow mode-2 map (4 x 16777216 x 4)    vs  the wide mode-2 map (the same
#                                               size: only the rows differ)
#   masked mode-2 map, 1 GiB, three quarters of it zero regions, vs the wide
#   map; sparse 1 GiB map (a hole but for its header and 64 KiB of values),
#   its allocated share before and after a conversion
#   a run finishing a conversion of the wide map killed halfway (kill -9
#   at the entry of its 513th write to the map, through strace), against
#   a whole conversion
#   peak memory of a 50 MB and the 1 GiB map (/usr/bin/time -v); the size
#   of the journal of the 1 GiB map
# endian_switch makes the converted map durable before it ends (fdatasync),
# so every anchor does too: dd with conv=fdatasync, numpy with an fsync.
# Every file is in the page cache (each is converted once before timing)
# and clean (synced) when a timed run starts.
# Timings are medians of RUNS interleaved runs; ratios above 1 mean
# endian_switch is faster.
#   bench/endian_switch.sh [TOOLS_FOLDER] [RUNS]
# Needs python3 with numpy (Debian: python3-numpy), /usr/bin/time and
# strace; about 6 GB free in the temporary folder, which must be on a
# disk (not tmpfs) for the figures to mean anything.
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

# masked FILE: the wide map's size, each 4 MiB a 1 MiB region of random
# values followed by 3 MiB of zeros, as a map masked outside its crystal.
masked() {
  "$PY" "$SRC/tools/endian_switch/tests/make_map.py" header "$1" host 1024 1024 256 2
  "$PY" - "$1" <<'PY'
import os, sys
with open(sys.argv[1], "ab") as f:
    for _ in range(256):
        f.write(os.urandom(1 << 20) + bytes(3 << 20))
PY
}

# sparse FILE: the wide map's header, 64 KiB of values, and a hole to 1 GiB.
sparse() {
  "$PY" "$SRC/tools/endian_switch/tests/make_map.py" header "$1" host 1024 1024 256 2
  head -c 65536 /dev/urandom >>"$1"
  truncate -s $((1024 + 1024 * 1024 * 256 * 4)) "$1"
}

allocated_percent() { echo "scale=2; 100 * $(stat -c '%b * %B' "$1") / $(stat -c %s "$1")" | bc -l; }

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
# kill_halfway MAP: a conversion of the wide map killed at the entry of its
# 513th write to the map (the header, then 512 of 1025 blocks), which
# leaves its journal.
kill_halfway() {
  (echo "$1" | strace -o /dev/null -P "$PWD/$1" -e trace=pwrite64 -e inject=pwrite64:signal=KILL:when=513 \
    "$BIN/endian_switch" >/dev/null) 2>/dev/null || true
  [ -e "$1.endian_switch-journal" ] || { echo "no journal after the kill" >&2; exit 1; }
}

echo "building maps in $WORK ..."
map wide1.map 1024 1024 512 1 2
map wide2.map 1024 1024 256 2 4
map narrow.map 4 16777216 4 2 4
map small.map 1024 1024 12 2 4
masked masked.map
sparse sparse.map
sparse_before=$(allocated_percent sparse.map)
for f in wide1.map wide2.map narrow.map small.map masked.map; do convert "$f"; done

: >t_tool1 >t_dd >t_tool2 >t_numpy >t_narrow >t_cp >t_masked >t_recovery
for ((i = 0; i < RUNS; i++)); do
  seconds copy_synced wide2.map >>t_cp
  rm -f copy.map
  seconds convert wide2.map >>t_tool2
  seconds dd_swab wide1.map >>t_dd
  seconds convert wide1.map >>t_tool1
  sync
  numpy_swap wide2.map >>t_numpy
  seconds convert narrow.map >>t_narrow
  seconds convert masked.map >>t_masked
  kill_halfway wide2.map
  journal_bytes=$(stat -c %s wide2.map.endian_switch-journal)
  seconds convert wide2.map >>t_recovery
done
convert sparse.map
sparse_after=$(allocated_percent sparse.map)

gib=$((1024 * 1024 * 1024))
tool1=$(median $(<t_tool1)) dd=$(median $(<t_dd)) tool2=$(median $(<t_tool2))
numpy=$(median $(<t_numpy)) narrow=$(median $(<t_narrow)) masked_s=$(median $(<t_masked))
cp_sync=$(median $(<t_cp)) recovery=$(median $(<t_recovery))
rate() { echo "scale=3; $1 / $2 / 1000000000" | bc -l; }
printf 'medians of %d runs (s): endian_switch mode-2 %s, cp+sync %s, numpy %s; mode-1 %s, dd %s; narrow %s; masked %s; recovery %s\n' \
  "$RUNS" "$tool2" "$cp_sync" "$numpy" "$tool1" "$dd" "$narrow" "$masked_s" "$recovery"
printf 'mode-2 1 GiB:  crash-safe and durable, %.2f times the time of cp map copy && sync copy\n' \
  "$(ratio "$tool2" "$cp_sync")"
printf 'mode-2 1 GiB:  %s GB/s, numpy %s GB/s, ratio %.2f\n' \
  "$(rate $gib "$tool2")" "$(rate $gib "$numpy")" "$(ratio "$numpy" "$tool2")"
printf 'mode-1 1 GiB:  %s GB/s, dd %s GB/s, ratio %.2f\n' \
  "$(rate $gib "$tool1")" "$(rate $gib "$dd")" "$(ratio "$dd" "$tool1")"
printf 'narrow rows:   %.2f times the time of the wide mode-2 map\n' "$(ratio "$narrow" "$tool2")"
printf 'masked map:    %.2f times the time of the wide mode-2 map (three quarters zeros)\n' \
  "$(ratio "$masked_s" "$tool2")"
printf 'sparse map:    %s %% of its size allocated before a conversion, %s %% after\n' \
  "$sparse_before" "$sparse_after"
printf 'recovery:      finishing a conversion killed halfway takes %.2f times a whole conversion\n' \
  "$(ratio "$recovery" "$tool2")"
printf 'journal:       %s bytes for the 1 GiB map, %.2f %% of it\n' "$journal_bytes" \
  "$(echo "100 * $journal_bytes / (1024 + $gib)" | bc -l)"

peak() { echo "$1" | peak_kib "$BIN/endian_switch"; }
printf 'peak memory:   50 MB map %s KB, 1 GiB map %s KB\n' "$(peak small.map)" "$(peak wide2.map)"
