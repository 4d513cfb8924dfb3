#!/usr/bin/env bash
# Benchmark: a shell loop of 2000 calls of num_greater against the same
# loop calling /bin/true with the same arguments (the cost of starting a
# process at all), and its peak memory.
#   $1: folder of the built tools   [$2: runs of each, default 5]
set -eu
source "$(dirname "$0")/lib.sh"
BIN=$(cd "$1" && pwd)
RUNS=${2:-5}

seconds() { loop_seconds 2000 "$1 3.25 -1e3 >/dev/null"; }

tool=() anchor=()
for ((r = 0; r < RUNS; r++)); do
  anchor+=("$(seconds /bin/true)")
  tool+=("$(seconds "'$BIN/num_greater'")")
done
t=$(median "${tool[@]}") a=$(median "${anchor[@]}")
printf 'num_greater %.3f s, /bin/true %.3f s for 2000 calls (medians of %d): %.2fx the cost of /bin/true\n' \
  "$t" "$a" "$RUNS" "$(ratio "$t" "$a")"
echo "peak memory: $(peak_kib "$BIN/num_greater" 3.25 -1e3) KiB"
