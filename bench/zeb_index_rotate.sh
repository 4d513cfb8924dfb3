#!/usr/bin/env bash
# Benchmark: zeb_index_rotate on a 5-million-record four-value reflection
# list against the release at 22652c2 built side by side, against awk
# doing the same rotation and against cat (the I/O floor), interleaved,
# medians; peak memory at 1M and 5M records; an empty run against
# /bin/true.
#   $1: folder of the built tools   [$2: runs of each, default 5]
#   [$3: folder of the release's tools, built before; default: built here]
set -eu
BIN=$(cd "$1" && pwd)
RUNS=${2:-5}
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/lib.sh"
make_scratch WORK
release_tools RELEASE_BIN "${3:-}"

"$HERE/make_reflections.sh" 5000000 4 >"$WORK/5m.hkl"
head -n 1000000 "$WORK/5m.hkl" >"$WORK/1m.hkl"
bytes=$(stat -c %s "$WORK/5m.hkl")
input_path

# seconds COMMAND...: wall time of one run on the 5M records.
seconds() { command_seconds "$@" <"$WORK/5m.hkl"; }

rotate_awk='{ printf "%6d%6d%6d%12.1f%12.1f%12.3f%12.3f\n", $2, $3, $1, $4, $5, $6, $7 }'
# The outputs agree before anything is timed.
"$BIN/zeb_index_rotate" <"$WORK/5m.hkl" | cmp -s - <("$RELEASE_BIN/zeb_index_rotate" <"$WORK/5m.hkl") ||
  { echo "the tool's output differs from the release's" >&2; exit 1; }
"$BIN/zeb_index_rotate" <"$WORK/1m.hkl" | head -n 100000 >"$WORK/tool.out"
awk "$rotate_awk" "$WORK/1m.hkl" | head -n 100000 >"$WORK/awk.out"
cmp -s "$WORK/tool.out" "$WORK/awk.out" || echo "note: awk's output differs from the tool's (awk rounds from double)"

tool=() release=() awk_=() cat_=()
for ((r = 0; r < RUNS; r++)); do
  cat_+=("$(seconds cat)")
  tool+=("$(seconds "$BIN/zeb_index_rotate")")
  release+=("$(seconds "$RELEASE_BIN/zeb_index_rotate")")
  awk_+=("$(seconds awk "$rotate_awk")")
done
t=$(median "${tool[@]}") l=$(median "${release[@]}") a=$(median "${awk_[@]}") c=$(median "${cat_[@]}")
mb() { echo "$bytes / $1 / 1000000" | bc -l; }
printf '5M records, %d MB in; medians of %d interleaved runs\n' $((bytes / 1000000)) "$RUNS"
printf '  zeb_index_rotate %6.3f s  %6.0f MB/s\n' "$t" "$(mb "$t")"
printf '  release 22652c2  %6.3f s  %6.0f MB/s\n' "$l" "$(mb "$l")"
printf '  awk (%s)      %6.3f s  %6.0f MB/s\n' "$(readlink -f "$(command -v awk)" | xargs basename)" "$a" "$(mb "$a")"
printf '  cat              %6.3f s  %6.0f MB/s\n' "$c" "$(mb "$c")"
printf '  throughput: %.2fx the release, %.1fx awk, %.2fx cat\n' "$(ratio "$l" "$t")" "$(ratio "$a" "$t")" \
  "$(ratio "$c" "$t")"

rss() { peak_kib "$BIN/zeb_index_rotate" <"$1"; }
r1=$(rss "$WORK/1m.hkl") r5=$(rss "$WORK/5m.hkl")
printf '  peak RSS: %s KiB at 1M, %s KiB at 5M (%.2fx)\n' "$r1" "$r5" "$(ratio "$r5" "$r1")"

empty() { loop_seconds 1000 "$1 </dev/null >/dev/null"; }
e=() b=()
for ((r = 0; r < RUNS; r++)); do
  b+=("$(empty /bin/true)")
  e+=("$(empty "$BIN/zeb_index_rotate")")
done
printf '  empty run: %.2fx the cost of /bin/true (1000 calls, medians)\n' \
  "$(ratio "$(median "${e[@]}")" "$(median "${b[@]}")")"
