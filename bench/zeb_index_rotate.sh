#!/usr/bin/env bash
# Benchmark: zeb_index_rotate on 2 million four-value reflection records
# against the release at 22652c2 built side by side, in the two forms the
# workflow holds: short free-form lines (as scripts write them) and the
# tools' own fixed layout, (3I6,F12.1,F12.1,F12.3,F12.3), 66 bytes a line.
# CPU seconds (user and system), interleaved, medians; awk doing the same
# rotation and cat (the I/O floor) as further anchors. Then peak memory at
# 1M and 5M records, and an empty run against /bin/true.
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
head -n 2000000 "$WORK/5m.hkl" >"$WORK/short.hkl"
"$RELEASE_BIN/zeb_index_rotate" <"$WORK/short.hkl" >"$WORK/fixed.hkl"

rotate_awk='{ printf "%6d%6d%6d%12.1f%12.1f%12.3f%12.3f\n", $2, $3, $1, $4, $5, $6, $7 }'
# The outputs agree before anything is timed.
for input in short fixed; do
  "$BIN/zeb_index_rotate" <"$WORK/$input.hkl" | cmp -s - <("$RELEASE_BIN/zeb_index_rotate" <"$WORK/$input.hkl") ||
    { echo "the tool's output differs from the release's on the $input lines" >&2; exit 1; }
done
"$BIN/zeb_index_rotate" <"$WORK/1m.hkl" | head -n 100000 >"$WORK/tool.out"
awk "$rotate_awk" "$WORK/1m.hkl" | head -n 100000 >"$WORK/awk.out"
cmp -s "$WORK/tool.out" "$WORK/awk.out" || echo "note: awk's output differs from the tool's (awk rounds from double)"

printf '2M records, CPU seconds (user + system), medians of %d interleaved runs\n' "$RUNS"
for input in short fixed; do
  file=$WORK/$input.hkl
  tool=() release=() awk_=() cat_=()
  for ((r = 0; r < RUNS; r++)); do
    cat_+=("$(cpu_seconds "cat <'$file'")")
    tool+=("$(cpu_seconds "'$BIN/zeb_index_rotate' <'$file'")")
    release+=("$(cpu_seconds "'$RELEASE_BIN/zeb_index_rotate' <'$file'")")
    awk_+=("$(cpu_seconds "awk '$rotate_awk' <'$file'")")
  done
  t=$(median "${tool[@]}") l=$(median "${release[@]}") a=$(median "${awk_[@]}") c=$(median "${cat_[@]}")
  printf '  %s lines (%d MB): zeb_index_rotate %.3f s, release 22652c2 %.3f s, awk %.3f s, cat %.3f s\n' \
    "$input" $(($(stat -c %s "$file") / 1000000)) "$t" "$l" "$a" "$c"
  printf '    %.2fx the release, %.1fx awk, %.2fx cat\n' "$(ratio "$l" "$t")" "$(ratio "$a" "$t")" "$(ratio "$c" "$t")"
done

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
