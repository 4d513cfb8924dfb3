# What zeb_index_rotate_file writes, for its test scripts.
P_IN=' zeb_index_rotate_file: Give input file name\n'
P_OUT=' zeb_index_rotate_file: Give output file name\n'
P_HEAD=' zeb_index_rotate_file: Head line ? (1=y,0=n) \n'
OPEN_FAIL='::zeb_index_rotate_file: ERROR on file opening\n'
READ_FAIL='::zeb_index_rotate_file: ERROR on reading\n'

# The three prompts with their echo lines (printf %b text).
dialogue() { printf '%s' "$P_IN read:$1\n$P_OUT read:$2\n$P_HEAD read:$3\n"; }
count_line() { printf ':zeb_index_rotate_file: permutated %7d reflections.\\n' "$1"; }
