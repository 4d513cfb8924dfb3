#!/usr/bin/env bash
# Benchmark: zeb_nth_line picking the last line of a 1 GB file of 20
# million lines against `wc -l` on the same file, and its peak memory for
# the last line of a tenth of that file and of all of it.
#   $1: folder of the built tools   [$2: runs of each, default 5]
set -eu
source "$(dirname "$0")/lib.sh"
BIN=$(cd "$1" && pwd)
RUNS=${2:-5}
make_scratch DATA

awk 'BEGIN { for (i = 1; i <= 20000000; i++) printf "line %010d of the picked file, fifty bytes long\n", i }' >"$DATA/lines"
head -n 2000000 "$DATA/lines" >"$DATA/lines_tenth"
ls -l "$DATA/lines"
printf '%s\n20000000\n' "$DATA/lines" >"$DATA/answers"
printf '%s\n2000000\n' "$DATA/lines_tenth" >"$DATA/answers_tenth"
"$BIN/zeb_nth_line" <"$DATA/answers"

tool=() anchor=()
for ((r = 0; r < RUNS; r++)); do
  anchor+=("$(shell_seconds "wc -l '$DATA/lines'")")
  tool+=("$(shell_seconds "'$BIN/zeb_nth_line' <'$DATA/answers'")")
done
t=$(median "${tool[@]}") a=$(median "${anchor[@]}")
printf 'zeb_nth_line %.3f s, wc -l %.3f s (medians of %d): %.2fx the time of wc -l\n' "$t" "$a" "$RUNS" \
  "$(ratio "$t" "$a")"

peak() { peak_kib "$BIN/zeb_nth_line" <"$1"; }
echo "peak memory: $(peak "$DATA/answers_tenth") KiB for line 2M, $(peak "$DATA/answers") KiB for line 20M"
