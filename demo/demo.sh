#!/usr/bin/env bash
# Runs every tool on the sample data in a temporary folder. Each step shows
# the exact command line, as it can be typed in that folder with the tools
# on PATH, then what the tool wrote and its exit status.
#   $1: folder of the built tools   $2: folder of the sample data
set -u
BIN=$(cd "$1" && pwd)
DATA=$(cd "$2" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1
cp "$DATA"/* .
export PATH="$BIN:$PATH"

step() { printf '\n=== %s\n' "$*"; }
# typed COMMAND: shows the command line as typed, runs it, shows its status.
typed() {
  printf '$ %s\n' "$1"
  eval "$1"
  printf '[exit status %d]\n' "$?"
}
# show FILE: a file the tool made, labelled.
show() { printf -- '--- contents of %s:\n' "$1"; cat "$1"; }
# dump FILE WHAT: the first 16 bytes of a map, labelled.
dump() { printf -- '--- first 16 bytes of %s (%s), in hex:\n' "$1" "$2"; od -A d -t x1 -N 16 "$1"; }

printf 'zeb tools demo: each step is typed in a scratch folder with the sample data\n'

step "Rotate the indexes of four-value reflection records, a filter"
typed 'zeb_index_rotate < reflections4.hkl'

step "Copy a reflection file with a head line into a new file, indexes rotated"
typed "printf '%s\\n' reflections3_title.hkl rotated3.hkl 1 | zeb_index_rotate_file"
show rotated3.hkl

step "Count the images of each series in a list of paths"
show images.txt
typed 'zeb_group_count < images.txt'

step "Pick line 4 of a file"
typed "printf '%s\\n' images.txt 4 | zeb_nth_line"

step "Compare two numbers (the answer has no line feed)"
typed 'num_greater 2.5 1e-3; echo'
typed 'num_greater 1.00000001 1; echo'

step "Report cell (3, 5) of a grid file, then write the grid with that cell replaced by 7.5"
typed "printf '%s\\n' grid.dat '3 5' cell.txt 1 | zeb_grid_cell"
show cell.txt
typed "printf '%s\\n' grid.dat '3 5' grid_new.dat 0 7.5 | zeb_grid_cell"
show grid_new.dat

step "Convert a density map (8 x 8 x 4 reals) to the other byte order in place, and back"
cp density.map density.orig
dump density.map "header words 1 to 4, columns 8, rows 8, sections 4, mode 2, in this machine's order"
typed 'echo density.map | endian_switch'
dump density.map "the same four words, each now byte-reversed"
typed 'echo density.map | endian_switch > /dev/null'
typed 'cmp density.map density.orig && echo "density.map is back byte for byte"'

step "Every tool says how it is called"
typed 'zeb_nth_line --help'

printf '\nDemo finished; %s is removed.\n' "$WORK"
