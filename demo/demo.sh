#!/usr/bin/env bash
# Runs every tool on the sample data in a temporary folder and shows what
# each was given and what it gave back.
#   $1: folder of the built tools   $2: folder of the sample data
set -u
BIN=$(cd "$1" && pwd)
DATA=$(cd "$2" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1
cp "$DATA"/* .

step() { printf '\n=== %s\n' "$*"; }
show() { printf -- '--- %s:\n' "$1"; cat "$1"; }

step "zeb_index_rotate < reflections4.hkl"
"$BIN/zeb_index_rotate" < reflections4.hkl
echo "(status $?)"

step "zeb_index_rotate_file: reflections3_title.hkl (with a head line) into rotated3.hkl"
printf 'reflections3_title.hkl\nrotated3.hkl\n1\n' | "$BIN/zeb_index_rotate_file"
echo "(status $?)"
show rotated3.hkl

step "zeb_group_count < images.txt"
cat images.txt
"$BIN/zeb_group_count" < images.txt
echo "(status $?)"

step "zeb_nth_line: line 4 of images.txt"
printf 'images.txt\n4\n' | "$BIN/zeb_nth_line"
echo "(status $?)"

step "num_greater 2.5 1e-3; num_greater 1.00000001 1"
"$BIN/num_greater" 2.5 1e-3; echo " (status $?)"
"$BIN/num_greater" 1.00000001 1; echo " (status $?)"

step "zeb_grid_cell: report cell (3, 5) of grid.dat, then replace it by 7.5"
printf '%s\n' grid.dat '3 5' cell.txt 1 | "$BIN/zeb_grid_cell"
echo "(status $?)"
show cell.txt
printf '%s\n' grid.dat '3 5' grid_new.dat 0 7.5 | "$BIN/zeb_grid_cell"
echo "(status $?)"
show grid_new.dat

step "endian_switch on density.map (8 x 8 x 4 reals), then again"
cp density.map density.orig
od -A d -t x1 -N 16 density.map
echo density.map | "$BIN/endian_switch"
echo "(status $?)"
od -A d -t x1 -N 16 density.map
echo density.map | "$BIN/endian_switch" >/dev/null
echo "(status $?)"
cmp density.map density.orig && echo "density.map is back byte for byte"

# (each tool adds its steps below)

printf '\nDemo finished in %s (removed on exit).\n' "$WORK"
