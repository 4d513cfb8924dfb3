# What endian_switch writes, and the map maker, for its test scripts.
# The map maker is started once and serves every make_map of the script:
# the scripts make about a hundred maps, and a Python start costs more
# than most of their cases. The system's Python, as the map reader test
# uses: a python3 found first on PATH may be a version manager's shim
# that takes ten times as long to start.
PYTHON=/usr/bin/python3
[ -x "$PYTHON" ] || PYTHON=python3
command -v "$PYTHON" >/dev/null || skip_all "the maps are made by python3"
coproc MAP_MAKER { exec "$PYTHON" "$SRC/tools/endian_switch/tests/make_map.py" serve; }
make_map() {
  local IFS=$'\x1f' answer
  printf '%s\n' "$PWD$IFS$*" >&"${MAP_MAKER[1]}"
  read -r answer <&"${MAP_MAKER[0]}"
  [ "$answer" = ok ] || { echo "make_map $*: $answer" >&2; return 1; }
}

STARS='***********************************************'
BANNER="\n$STARS\n******* endian_switch v0.2 22.07.96 ***********\n$STARS\n\nType in file name ...\n"
WARNING='WARNING Filesize does not match header...\n'
WRITING=' Writing byte-swapped data ...\n'
NORMAL='Normal termination ...\n'
TOO_WIDE='Program dimensions too small ...\n'
HEADER_READ='fread failed during header read ...\n'
DATA_READ='fread failed during data read ...\n'
NEGATIVE='Negative number of columns ...\n'
NOT_CRASH_SAFE='endian_switch: no journal beside the map, this conversion is not crash-safe'

# report COLUMNS ROWS SECTIONS MODE: the dimension and mode lines.
report() {
  printf 'Number of columns, rows, sections ........%s %s %s \\nMap mode .................................%s\\n' "$@"
}
