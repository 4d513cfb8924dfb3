#!/usr/bin/env bash
# Benchmark: zeb_index_rotate_file on 5 million three-value reflection
# records (about 150 MB, answers piped in) against the release at 22652c2
# built side by side, the same rotation in awk, cat copying the records
# (the I/O floor), and zeb_index_rotate on the same records in the
# four-value layout (it has no three-value mode: each record carries one
# more real, 12 more output columns). Every command writes its output to a
# new file; runs are interleaved, figures are medians. Then the tool's
# peak memory on 1M records and on 5M.
#   $1: folder of the built tools   [$2: runs of each, default 5]
#   [$3: folder of the release's tools, built before; default: built here]
set -eu
source "$(dirname "$0")/lib.sh"
BIN=$(cd "$1" && pwd)
RUNS=${2:-5}
make_scratch WORK
release_tools RELEASE_BIN "${3:-}"
cd "$WORK"

awk 'BEGIN {
  for (i = 0; i < 5000000; i++) {
    v1 = (i % 99991) / 10; v2 = (i % 7919) / 100; v3 = (i % 997) / 1000
    printf "%d %d %d %.1f %.2f %.3f\n", i % 41 - 20, i % 37 - 18, i % 29 - 14, v1, v2, v3 >"in3"
    printf "%d %d %d %.1f %.2f %.3f %.3f\n", i % 41 - 20, i % 37 - 18, i % 29 - 14, v1, v2, v3, v3 / 2 >"in4"
  }
}'
head -n 1000000 in3 >in3_1m
ls -l in3 in4
input_path

# The same engine on the same records: the three-value output is the
# four-value output without its last column; and the release's output.
printf 'in3\nout3\n0\n' | "$BIN/zeb_index_rotate_file" | tail -1
"$BIN/zeb_index_rotate" <in4 | cut -c1-54 | cmp - out3 && echo "outputs agree"
printf 'in3\nrelease3\n0\n' | "$RELEASE_BIN/zeb_index_rotate_file" >/dev/null
cmp out3 release3 && echo "the release's output agrees"
rm -f out3 release3

ROTATE_FILE="printf 'in3\\nout\\n0\\n' | '$BIN/zeb_index_rotate_file'"
RELEASE="printf 'in3\\nout\\n0\\n' | '$RELEASE_BIN/zeb_index_rotate_file'"
AWK="awk '{ printf \"%6d%6d%6d%12.1f%12.1f%12.3f\\n\", \$2, \$3, \$1, \$4, \$5, \$6 }' in3 >out"
CAT="cat in3 >out"
ROTATE="'$BIN/zeb_index_rotate' <in4 >out"

# seconds CMD: wall time of one run of a shell command in a fresh output file.
seconds() {
  rm -f out
  shell_seconds "$1"
  rm -f out
}

tool=() release=() awk_times=() cat_times=() filter=()
for ((r = 0; r < RUNS; r++)); do
  tool+=("$(seconds "$ROTATE_FILE")")
  release+=("$(seconds "$RELEASE")")
  awk_times+=("$(seconds "$AWK")")
  cat_times+=("$(seconds "$CAT")")
  filter+=("$(seconds "$ROTATE")")
done
t=$(median "${tool[@]}") l=$(median "${release[@]}") a=$(median "${awk_times[@]}")
c=$(median "${cat_times[@]}") f=$(median "${filter[@]}")
printf 'medians of %d interleaved runs: zeb_index_rotate_file %.3f s, release 22652c2 %.3f s, awk %.3f s, cat %.3f s, zeb_index_rotate (four values) %.3f s\n' \
  "$RUNS" "$t" "$l" "$a" "$c" "$f"
printf 'throughput: %.2fx the release, %.2fx awk, %.2fx cat   zeb_index_rotate_file / zeb_index_rotate: %.2f\n' \
  "$(ratio "$l" "$t")" "$(ratio "$a" "$t")" "$(ratio "$c" "$t")" "$(ratio "$t" "$f")"

peak() {
  rm -f out
  printf '%s\nout\n0\n' "$1" | peak_kib "$BIN/zeb_index_rotate_file"
  rm -f out
}
r1=$(peak in3_1m) r5=$(peak in3)
printf 'peak memory: %s KiB on 1M records, %s KiB on 5M records (%.2fx)\n' "$r1" "$r5" "$(ratio "$r5" "$r1")"
