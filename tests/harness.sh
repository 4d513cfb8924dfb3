# End-to-end test harness, sourced by the test scripts.
#   $1: folder of the built tools   $2: source tree
# A case runs a tool with given standard input in a scratch folder and
# compares standard output, the exit status, standard error and files
# byte for byte. The script ends with the count line CTest readers expect.
set -u
BIN=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1
ALL_TOOLS="zeb_index_rotate zeb_index_rotate_file zeb_grid_cell zeb_group_count zeb_nth_line num_greater endian_switch"
passed=0
failed=0
case_name=""
case_ok=1
last_tool=""

# begin NAME: starts a case in an empty scratch folder.
begin() {
  finish_case
  case_name=$1
  case_ok=1
  rm -rf "$WORK/c" && mkdir "$WORK/c" && cd "$WORK/c" || exit 1
}

finish_case() {
  [ -n "$case_name" ] || return 0
  if [ "$case_ok" = 1 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
  case_name=""
}

bad() {
  case_ok=0
  echo "FAIL [$case_name]: $*" >&2
}

# run INPUT TOOL [ARGS...]: INPUT is printf %b text for standard input
# (use - to leave standard input as a file given by $STDIN_FILE).
run() {
  local input=$1 tool=$2
  last_tool=$2
  shift 2
  if [ "$input" = - ]; then
    "$BIN/$tool" "$@" <"$STDIN_FILE" >out 2>err
  else
    printf '%b' "$input" | "$BIN/$tool" "$@" >out 2>err
  fi
  status=$?
}

# run_unprivileged INPUT TOOL [ARGS...]: as run, but as a user without
# privileges when the tests run as root (root may write anything). The
# tool runs from a copy: the build folder may lie where that user cannot
# reach it.
run_unprivileged() {
  local input=$1 tool=$2
  last_tool=$2
  shift 2
  if [ "$(id -u)" != 0 ]; then
    run "$input" "$tool" "$@"
    return
  fi
  chmod 755 "$WORK" "$WORK/c"
  [ -x "$WORK/unprivileged_$tool" ] || install -m 755 "$BIN/$tool" "$WORK/unprivileged_$tool"
  printf '%b' "$input" | setpriv --reuid=65534 --regid=65534 --clear-groups \
    "$WORK/unprivileged_$tool" "$@" >out 2>err
  status=$?
}

# run_streams STDIN STDOUT TOOL: STDIN is a file of the case folder, or
# closed, or folder; STDOUT is out, full (/dev/full) or closed. Answers
# from a file reach the tool all at its first read, so nothing but its
# own checks makes it write standard output early.
run_streams() {
  local from=$1 to=$2
  last_tool=$3
  : >out
  (
    case $from in
      closed) exec <&- ;;
      folder) exec <"$WORK" ;;
      *) exec <"$from" ;;
    esac
    case $to in
      closed) exec >&- ;;
      full) exec >/dev/full ;;
      *) exec >out ;;
    esac
    exec "$BIN/$last_tool" 2>err
  )
  status=$?
}

# run_limited STDIN TOOL: every file the tool writes may grow to 1024
# bytes only; standard output is appended to what out holds already. The
# tool must turn SIGXFSZ away itself and report the failed write.
run_limited() {
  last_tool=$2
  (
    ulimit -f 1
    exec "$BIN/$last_tool" <"$1" >>out 2>err
  )
  status=$?
}

# run_injected FILE CALL ERROR WHEN STDIN TOOL: the WHEN-th CALL (read,
# write, ...) on FILE fails with ERROR. Only where has_strace is 1; where
# it is 0, the script says so with skip_cases.
has_strace=0
strace -o /dev/null true 2>/dev/null && has_strace=1
run_injected() {
  last_tool=$6
  strace -o /dev/null -P "$PWD/$1" -e trace="$2" -e inject="$2:error=$3:when=$4" \
    "$BIN/$last_tool" <"$5" >out 2>err
  status=$?
}

# fault_fixtures: the names a tool must never write over or into: an
# existing file, a folder, a folder without write permission, a dangling
# link.
fault_fixtures() {
  printf 'precious\n' >kept.dat
  mkdir folder
  mkdir -m 555 locked
  ln -s nowhere dangling
}

# dialogue_case NAME ANSWERS STDIN STDOUT OUT STATUS DIAGNOSTIC [CREATED]:
# a case of tool $T in a folder made by the script's setup_files. ANSWERS
# (printf %b) come on standard input unless STDIN is closed or folder;
# STDOUT as for run_streams. Without CREATED no file may appear or change;
# with it, the file named by $NEW_FILE must hold those bytes and no other
# file may change.
dialogue_case() {
  begin "$T: $1"
  setup_files
  printf '%b' "$2" >answers
  local from=$3
  [ "$from" = answers ] || rm answers
  snapshot
  run_streams "$from" "$4" "$T"
  expect_out "$5"
  expect_end "$6" "$7"
  if [ $# -ge 8 ]; then
    expect_file "$NEW_FILE" "$8"
    rm -f "$NEW_FILE"
  fi
  expect_unchanged
}

# snapshot: keeps every file of the case folder, names and bytes, for
# expect_unchanged.
snapshot() {
  rm -rf "$WORK/snapshot" && cp -a . "$WORK/snapshot"
}

# expect_unchanged: the case folder holds the same files with the same
# bytes as at the last snapshot (out and err aside). Symbolic links are
# compared as links: a dangling one is a file the tool must leave alone too.
expect_unchanged() {
  local d
  d=$(diff -r --no-dereference -x out -x err "$WORK/snapshot" . 2>&1) || bad "files changed: $d"
}

# same_bytes FILE EXPECTED: EXPECTED is printf %b text.
same_bytes() {
  printf '%b' "$2" >"$WORK/expected"
  if ! cmp -s "$WORK/expected" "$1"; then
    bad "$1 differs; expected:"
    od -c "$WORK/expected" | head -20 >&2
    echo "got:" >&2
    od -c "$1" 2>&1 | head -20 >&2
  fi
}

expect_out() { same_bytes out "$1"; }
expect_status() { [ "$status" = "$1" ] || bad "status $status, expected $1"; }
expect_some_err() { [ -s err ] || bad "standard error is empty"; }
expect_no_err() { [ ! -s err ] || bad "unexpected standard error: $(cat err)"; }
expect_file() { same_bytes "$1" "$2"; }
expect_same() { cmp -s "$1" "$2" || bad "$1 differs from $2: $(cmp "$1" "$2" 2>&1)"; }
# expect_end STATUS DIAGNOSTIC: the status, and standard error empty (for
# an empty DIAGNOSTIC) or the one line "tool: DIAGNOSTIC" of the last tool run.
expect_end() {
  expect_status "$1"
  if [ -z "$2" ]; then expect_no_err; else expect_err "^$last_tool: $2\$"; fi
}
expect_no_file() { [ ! -e "$1" ] || bad "$1 should not exist"; }

# expect_err PATTERN...: standard error is exactly one line for each
# extended regular expression, in order, matching it.
expect_err() {
  local lines k=0 line
  lines=$(wc -l <err)
  [ "$lines" = $# ] || bad "standard error has $lines lines: $(cat err)"
  while [ $# -gt 0 ] && IFS= read -r line; do
    k=$((k + 1))
    grep -Eq -- "$1" <<<"$line" || bad "standard error line $k '$line' does not match '$1'"
    shift
  done <err
}

# An unguarded failure: nothing more on standard output, one diagnostic, status 2.
expect_unguarded() {
  [ "$status" = 2 ] || bad "status $status, expected 2"
  expect_err "$1"
}

# Cases that need what this machine lacks are left out, never passed:
# CTest shows a script that left any out as skipped (this status), with
# the line that says what was missing, unless a case that ran failed.
skip_status=77
skipped=""

# skip_cases REASON: some cases were left out, for REASON ("read errors
# need strace"); the others still run.
skip_cases() {
  case "; $skipped; " in *"; $1; "*) ;; *) skipped="${skipped:+$skipped; }$1" ;; esac
}

# skip_all REASON: nothing can run without it (sourced files may call it).
skip_all() {
  echo "skipped: $1"
  exit $skip_status
}

summary() {
  finish_case
  echo "$passed passed, $failed failed"
  [ "$failed" = 0 ] || return 1
  [ -z "$skipped" ] || skip_all "$skipped"
}
