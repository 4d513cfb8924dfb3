# Timing helpers shared by the benchmark scripts (sourced, not run).
# Times are wall-clock seconds from $EPOCHREALTIME, or CPU seconds (user and
# system) where the machine is shared; figures are meant to be quoted as
# medians and as ratios against an anchor timed in the same run.

# median VALUES...: the middle value (the upper middle one for an even count).
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# ratio A B: A divided by B.
ratio() { echo "$1 / $2" | bc -l; }

# since T0: seconds elapsed since T0, a value of $EPOCHREALTIME.
since() { echo "$EPOCHREALTIME - $1" | bc -l; }

# command_seconds COMMAND...: wall time of one run of COMMAND (a program or
# a function of the calling script), its output discarded.
command_seconds() {
  local t0=$EPOCHREALTIME
  "$@" >/dev/null
  since "$t0"
}

# shell_seconds CMD: wall time of one run of the shell command line CMD in a
# new bash, its output discarded.
shell_seconds() {
  local t0=$EPOCHREALTIME
  bash -c "$1" >/dev/null
  since "$t0"
}

# cpu_seconds CMD: user plus system CPU seconds of one run of the shell
# command line CMD in a new bash, its output discarded. Other work on a
# shared machine changes it less than it changes wall time.
cpu_seconds() {
  ( bash -c "$1" >/dev/null; times ) | tail -1 |
    awk '{ split($1, u, "m"); split($2, s, "m"); printf "%.3f\n", u[1] * 60 + u[2] + s[1] * 60 + s[2] }'
}

# loop_seconds N CMD: wall time of a shell loop of N runs of CMD (which may
# use the loop counter $i): the cost of N process starts where CMD is one.
loop_seconds() { shell_seconds "for ((i = 0; i < $1; i++)); do $2; done"; }

# peak_kib COMMAND...: peak resident memory (KiB) of one run of COMMAND,
# its output discarded.
peak_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }

# make_scratch NAME: sets the variable NAME to a new folder under $TMPDIR
# (default /tmp), removed when the script exits.
make_scratch() {
  printf -v "$1" '%s' "$(mktemp -d "${TMPDIR:-/tmp}/zeb_bench.XXXXXX")"
  trap "rm -rf '${!1}'" EXIT
}

# release_tools NAME [FOLDER]: sets the variable NAME to a folder of the
# tools as released at commit $RELEASE (default 22652c2): FOLDER when given
# (a build made before), else a build of that commit's tree from git
# archive in a scratch folder (about a minute), so that a bench can time
# the tools against it side by side. Needs make_scratch's folder $WORK.
release_tools() {
  if [ -n "${2:-}" ]; then
    printf -v "$1" '%s' "$(cd "$2" && pwd)"
    return
  fi
  local src=$WORK/release-src build=$WORK/release-build
  mkdir -p "$src"
  git -C "$(dirname "${BASH_SOURCE[0]}")/.." archive "${RELEASE:-22652c2}" | tar -x -C "$src"
  cmake -S "$src" -B "$build" -DZEB_TESTS=OFF >/dev/null
  cmake --build "$build" -j2 >/dev/null
  printf -v "$1" '%s' "$build/bin"
}
