# What endian_switch writes, and the map maker, for its test scripts.
make_map() { python3 "$SRC/tools/endian_switch/tests/make_map.py" "$@"; }

STARS='***********************************************'
BANNER="\n$STARS\n******* endian_switch v0.2 22.07.96 ***********\n$STARS\n\nType in file name ...\n"
WARNING='WARNING Filesize does not match header...\n'
WRITING=' Writing byte-swapped data ...\n'
NORMAL='Normal termination ...\n'
TOO_WIDE='Program dimensions too small ...\n'
HEADER_READ='fread failed during header read ...\n'
DATA_READ='fread failed during data read ...\n'
NEGATIVE='Negative number of columns ...\n'

# report COLUMNS ROWS SECTIONS MODE: the dimension and mode lines.
report() {
  printf 'Number of columns, rows, sections ........%s %s %s \\nMap mode .................................%s\\n' "$@"
}
