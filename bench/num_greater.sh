#!/usr/bin/env bash
# Benchmark: a shell loop of 2000 calls of num_greater against the same
# loop calling /bin/true with the same arguments (the cost of starting a
# process at all), and its peak memory.
#   $1: folder of the built tools   [$2: runs of each, default 5]
set -eu
BIN=$(cd "$1" && pwd)
RUNS=${2:-5}

seconds() {
  local t0=$EPOCHREALTIME
  bash -c "for ((i = 0; i < 2000; i++)); do $1 3.25 -1e3 >/dev/null; done"
  echo "$EPOCHREALTIME - $t0" | bc -l
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

tool=() anchor=()
for ((r = 0; r < RUNS; r++)); do
  anchor+=("$(seconds /bin/true)")
  tool+=("$(seconds "'$BIN/num_greater'")")
done
t=$(median "${tool[@]}") a=$(median "${anchor[@]}")
printf 'num_greater %.3f s, /bin/true %.3f s for 2000 calls (medians of %d): %.2fx the cost of /bin/true\n' \
  "$t" "$a" "$RUNS" "$(echo "$t / $a" | bc -l)"
echo "peak memory: $(/usr/bin/time -f %M "$BIN/num_greater" 3.25 -1e3 2>&1 >/dev/null | tail -1) KiB"
