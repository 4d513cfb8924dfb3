#!/usr/bin/env bash
# Runs the fuzz targets, each for a fixed time on a scratch copy of its
# seed corpus (fuzz/corpus/<target>; the repository is never written), and
# prints how many inputs each one executed. Ends with status 1 when any
# target reports a finding; the input that shows it stays in the scratch
# folder named in the output. CI runs it with a short time.
#   $1: folder of the built fuzz targets (cmake -DZEB_FUZZ=ON, built with clang)
#   [$2: seconds per target, default 600]   [$3...: targets, default all]
set -u
BIN=$(cd "$1" && pwd)
SECONDS_EACH=${2:-600}
shift $(($# < 2 ? $# : 2))
SRC=$(cd "$(dirname "$0")/.." && pwd)

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for t in "$BIN"/*_fuzz; do targets+=("$(basename "$t")"); done
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/zeb_fuzz.XXXXXX")
failed=()
for t in "${targets[@]}"; do
  work=$scratch/$t
  mkdir -p "$work/corpus"
  [ -d "$SRC/fuzz/corpus/$t" ] && cp "$SRC/fuzz/corpus/$t"/. "$work/corpus" -r
  # One input that runs for 10 s counts as a finding (a hang), as does a leak.
  (cd "$work" && "$BIN/$t" -max_total_time="$SECONDS_EACH" -max_len=4096 -timeout=10 \
     -artifact_prefix="$work/" -print_final_stats=1 "$work/corpus" >"$work/log" 2>&1)
  status=$?
  runs=$(awk '/stat::number_of_executed_units:/ { print $2 }' "$work/log")
  if [ "$status" -ne 0 ]; then
    failed+=("$t")
    printf '%-28s FINDING after %s executions (status %d); log and input in %s\n' \
      "$t" "${runs:-?}" "$status" "$work"
    grep -E 'property does not hold|ERROR:|runtime error|SUMMARY' "$work/log" | head -n 5
  else
    printf '%-28s %12s executions in %s s\n' "$t" "$runs" "$SECONDS_EACH"
    rm -rf "$work"
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz findings in: ${failed[*]}"
  exit 1
fi
rm -rf "$scratch"
