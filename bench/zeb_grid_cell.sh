#!/usr/bin/env bash
# Benchmark: shell loops of 1000 calls of zeb_grid_cell on a grid file, its
# answers piped in, against the same loop piping the same answers into
# /bin/true (the cost of starting a process at all). Three cases: an index
# outside the grid (the grid file is read, no file is created), report mode
# and replace mode (each call creates a new file). Creating a file is not
# free on a journalled disk, so the cost of the shell creating the same
# files (": > out<i>") is shown as well. Then peak memory. The calls run in
# a folder made under $TMPDIR (default /tmp): TMPDIR=/dev/shm measures them
# where creating a file costs little.
#   $1: folder of the built tools   [$2: runs of each, default 5]
set -eu
source "$(dirname "$0")/lib.sh"
BIN=$(cd "$1" && pwd)
RUNS=${2:-5}
make_scratch WORK
cd "$WORK"

{
  echo "Benchmark grid"
  for r in 1 2 3 4 5 6 7; do
    echo "row $r"
    printf '  %11.2f%11.2f%11.2f%11.2f%11.2f%11.2f%11.2f\n' $r.1 $r.2 $r.3 $r.4 $r.5 $r.6 $r.7
  done
} >grid.dat

# seconds COMMAND: 1000 runs of COMMAND (which may use $i); the files made
# are removed afterwards, outside the timing.
seconds() {
  loop_seconds 1000 "$1"
  rm -f out*
}

TOOL="'$BIN/zeb_grid_cell' >/dev/null"
for mode in index_error report replace; do
  case $mode in
    index_error) answers="printf 'grid.dat\n9 5\n'" ;;
    report) answers="printf 'grid.dat\n3 5\nout%s\n1\n' \$i" ;;
    replace) answers="printf 'grid.dat\n3 5\nout%s\n0\n7.5\n' \$i" ;;
  esac
  # One call first, so that a broken answer line cannot pass for speed.
  bash -c "i=0; $answers | $TOOL" && { [ $mode = index_error ] || [ -s out0 ]; } ||
    { echo "zeb_grid_cell $mode did not run as expected" >&2; exit 1; }
  rm -f out*
  tool=() anchor=() create=()
  for ((r = 0; r < RUNS; r++)); do
    anchor+=("$(seconds "$answers | /bin/true")")
    tool+=("$(seconds "$answers | $TOOL")")
    [ $mode = index_error ] || create+=("$(seconds ": >out\$i")")
  done
  t=$(median "${tool[@]}") a=$(median "${anchor[@]}")
  printf 'zeb_grid_cell %-11s %.3f s, /bin/true %.3f s for 1000 calls (medians of %d): %.2fx' \
    "$mode:" "$t" "$a" "$RUNS" "$(ratio "$t" "$a")"
  if [ $mode = index_error ]; then echo; else printf '; creating 1000 files from the shell alone: %.3f s\n' "$(median "${create[@]}")"; fi
done
echo "peak memory: $(printf 'grid.dat\n3 5\nmem.out\n0\n7.5\n' | peak_kib "$BIN/zeb_grid_cell") KiB"
