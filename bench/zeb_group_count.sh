#!/usr/bin/env bash
# Benchmark: zeb_group_count against `cut -d/ -f1 | uniq -c` on 10 million
# path lines (about 250 MB, groups of 100 lines), and its peak memory on a
# tenth of that input and on all of it.
#   $1: folder of the built tools   [$2: runs of each, default 5]
set -eu
source "$(dirname "$0")/lib.sh"
BIN=$(cd "$1" && pwd)
RUNS=${2:-5}
make_scratch DATA

awk 'BEGIN { for (i = 0; i < 10000000; i++) printf "img%06d/f%09d.tif\n", int(i / 100), i }' >"$DATA/paths"
head -n 1000000 "$DATA/paths" >"$DATA/paths_tenth"
ls -l "$DATA/paths"

tool=() anchor=()
for ((r = 0; r < RUNS; r++)); do
  anchor+=("$(shell_seconds "cut -d/ -f1 <'$DATA/paths' | uniq -c")")
  tool+=("$(shell_seconds "'$BIN/zeb_group_count' <'$DATA/paths'")")
done
t=$(median "${tool[@]}") a=$(median "${anchor[@]}")
printf 'zeb_group_count %.3f s, cut | uniq -c %.3f s (medians of %d): %.2fx faster\n' "$t" "$a" "$RUNS" \
  "$(ratio "$a" "$t")"

peak() { peak_kib "$BIN/zeb_group_count" <"$1"; }
echo "peak memory: $(peak "$DATA/paths_tenth") KiB on 1M lines, $(peak "$DATA/paths") KiB on 10M lines"
