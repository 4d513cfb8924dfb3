#!/usr/bin/env bash
# Runs the demo with every tool under valgrind's memcheck and fails on any
# memory error, on a definite leak, on a tool the demo did not run, or on
# output that differs from the demo run without valgrind.
#   $1: folder of the built tools (a dynamic build: memcheck watches the
#       heap through the shared C library)   $2: source tree
set -u
BIN=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
TOOLS="zeb_index_rotate zeb_index_rotate_file zeb_grid_cell zeb_group_count zeb_nth_line num_greater endian_switch"

mkdir "$WORK/wrapped" "$WORK/logs"
for tool in $TOOLS; do
  cat >"$WORK/wrapped/$tool" <<WRAPPER
#!/bin/sh
exec valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \\
  --log-file="$WORK/logs/$tool.%p" "$BIN/$tool" "\$@"
WRAPPER
  chmod +x "$WORK/wrapped/$tool"
done

# The demo's last line names its temporary folder, which differs per run.
bash "$SRC/demo/demo.sh" "$BIN" "$SRC/demo/data" | sed '$d' >"$WORK/plain"
bash "$SRC/demo/demo.sh" "$WORK/wrapped" "$SRC/demo/data" | sed '$d' >"$WORK/checked"

failed=0
if ! cmp -s "$WORK/plain" "$WORK/checked"; then
  echo "output under valgrind differs:"
  diff "$WORK/plain" "$WORK/checked"
  failed=1
fi
for tool in $TOOLS; do
  runs=$(find "$WORK/logs" -name "$tool.*" | wc -l)
  if [ "$runs" = 0 ]; then
    echo "$tool: not run by the demo"
    failed=1
  fi
  for log in "$WORK/logs/$tool".*; do
    [ -s "$log" ] || continue
    echo "$tool: memcheck reports:"
    cat "$log"
    failed=1
  done
  echo "$tool: $runs run(s) under memcheck"
done
[ "$failed" = 0 ] && echo "memcheck: no errors, no definite leaks"
exit "$failed"
