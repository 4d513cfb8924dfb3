#!/usr/bin/env bash
# Benchmark: zeb_index_rotate_file on 2 million three-value reflection
# records (answers piped in) against the release at 22652c2 built side by
# side, in the forms the workflow holds: short free-form lines, the tool's
# own fixed layout (3I6,F12.1,F12.1,F12.3) of 54 bytes a line, and the
# 66-byte lines of zeb_index_rotate (a fourth value, passed over). Also
# the same rotation in awk and cat copying the records (the I/O floor).
# Every command writes a new file. CPU seconds (user and system),
# interleaved, medians. Then the tool's peak memory on 1M records and 5M.
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
    printf "%d %d %d %.1f %.2f %.3f\n", i % 41 - 20, i % 37 - 18, i % 29 - 14, v1, v2, v3 >"in3_5m"
    if (i < 2000000)
      printf "%d %d %d %.1f %.2f %.3f %.3f\n", i % 41 - 20, i % 37 - 18, i % 29 - 14, v1, v2, v3, v3 / 2 >"in4"
  }
}'
head -n 1000000 in3_5m >in3_1m
head -n 2000000 in3_5m >short
printf 'short\nfixed54\n0\n' | "$RELEASE_BIN/zeb_index_rotate_file" >/dev/null
"$RELEASE_BIN/zeb_index_rotate" <in4 >fixed66
rm in4

# The tool's output is the release's on every input.
for input in short fixed54 fixed66; do
  printf '%s\nout_tool\n0\n' "$input" | "$BIN/zeb_index_rotate_file" >/dev/null
  printf '%s\nout_release\n0\n' "$input" | "$RELEASE_BIN/zeb_index_rotate_file" >/dev/null
  cmp -s out_tool out_release || { echo "the tool's output differs from the release's on $input" >&2; exit 1; }
  rm out_tool out_release
done

# seconds CMD: CPU seconds of one run of a shell command in a fresh output
# file (removed outside the timing).
seconds() {
  rm -f out
  cpu_seconds "$1"
  rm -f out
}

printf '2M records, CPU seconds (user + system), medians of %d interleaved runs\n' "$RUNS"
for input in short fixed54 fixed66; do
  tool=() release=() awk_=() cat_=()
  for ((r = 0; r < RUNS; r++)); do
    tool+=("$(seconds "printf '$input\\nout\\n0\\n' | '$BIN/zeb_index_rotate_file'")")
    release+=("$(seconds "printf '$input\\nout\\n0\\n' | '$RELEASE_BIN/zeb_index_rotate_file'")")
    awk_+=("$(seconds "awk '{ printf \"%6d%6d%6d%12.1f%12.1f%12.3f\\n\", \$2, \$3, \$1, \$4, \$5, \$6 }' $input >out")")
    cat_+=("$(seconds "cat $input >out")")
  done
  t=$(median "${tool[@]}") l=$(median "${release[@]}") a=$(median "${awk_[@]}") c=$(median "${cat_[@]}")
  printf '  %s (%d MB): zeb_index_rotate_file %.3f s, release 22652c2 %.3f s, awk %.3f s, cat %.3f s\n' \
    "$input" $(($(stat -c %s "$input") / 1000000)) "$t" "$l" "$a" "$c"
  printf '    %.2fx the release, %.1fx awk, %.2fx cat\n' "$(ratio "$l" "$t")" "$(ratio "$a" "$t")" "$(ratio "$c" "$t")"
done

peak() {
  rm -f out
  printf '%s\nout\n0\n' "$1" | peak_kib "$BIN/zeb_index_rotate_file"
  rm -f out
}
r1=$(peak in3_1m) r5=$(peak in3_5m)
printf 'peak memory: %s KiB on 1M records, %s KiB on 5M records (%.2fx)\n' "$r1" "$r5" "$(ratio "$r5" "$r1")"
