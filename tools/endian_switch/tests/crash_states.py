"""Crash-state explorer for endian_switch.

  crash_states.py TOOLS_FOLDER [SOURCE_TREE]

Records, through strace, the writes, syncs, creations and removals of
files of three runs on a small map (the test build with 4 KiB blocks, so
that it has many): a conversion, a conversion interrupted by SIGINT in its
data pass (which puts the map back), and a run that finishes a conversion
killed in its data pass. For every point between two of those calls it
builds the states the disk may hold after a crash there: the map and the
journal as last synced, with any subset of the writes made since, each
512-byte sector of a write landed whole or not at all, and a file created
or removed since its folder was last synced present or not. On each state
it runs endian_switch once, as a user would after the crash, and checks
that the map ends converted exactly once (byte for byte the uninterrupted
conversion), with the normal report and nothing left beside it. A state
in which the run had already reported its normal end needs no rerun: the
map must be converted as it is.

Ends with status 1 on the first states that fail (at most five shown),
else prints the number of states checked.
"""
import os
import random
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_map  # noqa: E402

SECTOR = 512
MAP = "m.map"
JOURNAL = MAP + ".endian_switch-journal"
# Subsets of the pending writes tried at one crash point, at most: all of
# them when there are few (so far at most seven writes are ever pending:
# all are tried), else every prefix (what a disk that keeps the order
# would hold), each single write, and random ones. Each subset is tried
# whole and once more with a random part of its sectors landed.
MOST_SUBSETS = 128
CALLS = "openat,pwrite64,write,fsync,fdatasync,unlinkat"
LINE = re.compile(r'^(\w+)\((\d+)<([^>]*)>(?:, "((?:\\x[0-9a-f]{2})*)")?(?:, ([^)]*))?\) += (-?\d+)')


def unhex(text):
    return bytes.fromhex(text.replace("\\x", ""))


def record(tool, folder, inject=()):
    """Runs tool on MAP in folder under strace; gives its stdout, status and
    the calls that change files: ("write", name, offset, bytes),
    ("create", name), ("unlink", name), ("sync", name), ("sync_folder",),
    ("say", bytes)."""
    log = os.path.join(folder, "..", "strace.log")
    args = ["strace", "-qq", "-o", log, "-y", "-xx", "-s", "1000000", "-e", "signal=none",
            "-e", "trace=" + CALLS]
    for rule in inject:
        args += ["-e", "inject=" + rule]
    done = subprocess.run(args + [tool], input=MAP.encode() + b"\n", cwd=folder,
                          capture_output=True, timeout=60)
    ops = []
    for line in open(log):
        m = LINE.match(line)
        if not m or int(m.group(6)) < 0:
            continue
        call, fd, data, rest = m.group(1), int(m.group(2)), m.group(4), m.group(5)
        path = unhex(m.group(3)).decode()
        name = os.path.basename(path) if os.path.dirname(path) == folder else None
        if call == "openat" and "O_CREAT" in (rest or ""):
            ops.append(("create", unhex(data).decode()))
        elif call == "pwrite64" and name:
            ops.append(("write", name, int(rest.split(", ")[1]), unhex(data)))
        elif call == "write" and fd == 1:
            ops.append(("say", unhex(data)))
        elif call in ("fsync", "fdatasync"):
            ops.append(("sync_folder",) if path == folder else ("sync", name))
        elif call == "unlinkat":
            ops.append(("unlink", unhex(data).decode()))
    os.unlink(log)
    return done.stdout, done.returncode, ops


def pieces(offset, data):
    """The write cut at sector boundaries of the file: (offset, bytes)."""
    out, at = [], 0
    while at < len(data):
        end = min(len(data), (offset + at) // SECTOR * SECTOR + SECTOR - offset)
        out.append((offset + at, data[at:end]))
        at = end
    return out


def apply(content, writes):
    b = bytearray(content)
    for offset, data in writes:
        if offset + len(data) > len(b):
            b.extend(bytes(offset + len(data) - len(b)))
        b[offset:offset + len(data)] = data
    return bytes(b)


def subsets(n, rng):
    if 2 ** n <= MOST_SUBSETS:
        return [[k for k in range(n) if mask >> k & 1] for mask in range(2 ** n)]
    chosen = {tuple(range(k)) for k in range(n + 1)} | {(k,) for k in range(n)}
    while len(chosen) < MOST_SUBSETS:
        chosen.add(tuple(k for k in range(n) if rng.random() < 0.5))
    return [list(s) for s in sorted(chosen)]


def crash_states(initial, ops, rng):
    """For each crash point (before each call, and after the last), the
    states the disk may hold: (normal end reported, {name: bytes or None})."""
    durable = dict(initial)   # name: content as last synced, None when absent
    pending = {n: [] for n in initial}  # writes since the file's last sync
    exists = {n: c is not None for n, c in initial.items()}  # as the process sees it
    unsynced = set()          # created or removed since the folder's last sync
    reported = False
    for point in range(len(ops) + 1):
        names = sorted(pending)
        writes = [(n, w) for n in names for w in pending[n]]
        for subset in subsets(len(writes), rng):
            for torn in (False, True):
                chosen = {n: [] for n in names}
                for k in subset:
                    n, (offset, data) = writes[k]
                    parts = pieces(offset, data)
                    if torn and len(parts) > 1:
                        keep = sorted(rng.sample(range(len(parts)), rng.randrange(1, len(parts))))
                        parts = [parts[i] for i in keep]
                    chosen[n] += parts
                if torn and not subset:
                    continue
                # A name not yet synced into its folder may be there or not.
                for gone in [None] + sorted(unsynced):
                    files = {n: None if n == gone or (n not in unsynced and durable[n] is None)
                             else apply(durable[n] or b"", chosen[n]) for n in names}
                    yield reported, files
        if point == len(ops):
            break
        op = ops[point]
        if op[0] == "write":
            pending[op[1]].append((op[2], op[3]))
        elif op[0] == "sync":
            durable[op[1]] = apply(durable[op[1]] or b"", pending[op[1]])
            pending[op[1]] = []
        elif op[0] == "create":
            durable[op[1]], pending[op[1]], exists[op[1]] = b"", [], True
            unsynced.add(op[1])
        elif op[0] == "unlink":
            exists[op[1]] = False
            unsynced.add(op[1])
        elif op[0] == "sync_folder":
            for n in unsynced:
                if not exists[n]:
                    durable[n], pending[n] = None, []
            unsynced = set()
        elif op[0] == "say" and op[1].startswith(b"Normal termination"):
            reported = True


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    tool = os.path.join(os.path.abspath(sys.argv[1]), "endian_switch_small_blocks")
    if subprocess.run(["strace", "-o", "/dev/null", "true"], capture_output=True).returncode != 0:
        print("skipped: the crash-state explorer needs strace")
        return
    rng = random.Random(11)
    # In memory where there is a folder for it: every rerun syncs the map,
    # the journal and their folder, which on a disk costs most of a run.
    memory = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
    scratch = tempfile.TemporaryDirectory(prefix="crash_states_", dir=memory)
    folder = os.path.join(os.path.realpath(scratch.name), "f")
    os.mkdir(folder)
    path = os.path.join(folder, MAP)
    # 61 x 24 x 4 reals stored in the other order: six blocks of 4 KiB, the
    # last one ending inside a sector.
    make_map.make(path, "other", 61, 24, 4, 2)
    original = open(path, "rb").read()
    make_map.swapped(path, path + ".converted", len(original) - 1024, 4)
    converted = open(path + ".converted", "rb").read()
    os.unlink(path + ".converted")
    mapfile = os.open(path, os.O_RDWR)  # every state is written into the map's own inode

    def put(files):
        for n, content in files.items():
            p = os.path.join(folder, n)
            if n == MAP:
                os.pwrite(mapfile, content, 0)
            elif content is None:
                if os.path.exists(p):
                    os.unlink(p)
            else:
                with open(p, "wb") as f:
                    f.write(content)

    put({MAP: original})
    normal_out, status, _ = record(tool, folder)
    assert status == 0 and open(path, "rb").read() == converted, "the plain conversion failed"

    # The three runs explored, each from its starting state.
    runs = []
    put({MAP: original, JOURNAL: None})
    runs.append(("a conversion", {MAP: original, JOURNAL: None}, record(tool, folder)[2]))
    put({MAP: original, JOURNAL: None})
    out, status, ops = record(tool, folder, ["pwrite64:signal=INT:when=12"])
    assert status != 0 and open(path, "rb").read() == original, "the interrupted run did not put the map back"
    runs.append(("an interrupted conversion", {MAP: original, JOURNAL: None}, ops))
    put({MAP: original, JOURNAL: None})
    record(tool, folder, ["pwrite64:signal=KILL:when=12"])
    killed = {MAP: open(path, "rb").read(), JOURNAL: open(os.path.join(folder, JOURNAL), "rb").read()}
    runs.append(("a run finishing a killed one", killed, record(tool, folder)[2]))

    checked, failures, seen = 0, [], set()
    for what, initial, ops in runs:
        for reported, files in crash_states(initial, ops, rng):
            key = (reported, hash(files[MAP]), hash(files[JOURNAL]))
            if key in seen:
                continue
            seen.add(key)
            checked += 1
            put(files)
            problem = None
            if reported and files[JOURNAL] is None:
                if files[MAP] != converted:
                    problem = "reported done, but the map is not converted"
            else:
                done = subprocess.run([tool], input=MAP.encode() + b"\n", cwd=folder,
                                      capture_output=True, timeout=60)
                if open(path, "rb").read() != converted:
                    problem = "the map is not converted exactly once"
                elif (done.stdout, done.stderr, done.returncode) != (normal_out, b"", 0):
                    problem = "the rerun ended with %d: %r %r" % (done.returncode, done.stdout[-80:], done.stderr)
                elif sorted(os.listdir(folder)) != [MAP]:
                    problem = "left beside the map: %s" % sorted(os.listdir(folder))
            if problem:
                failures.append("%s, state %d: %s" % (what, checked, problem))
    for f in failures[:5]:
        print("FAIL", f)
    print("%d crash states of %d recorded runs checked, %d failed" % (checked, len(runs), len(failures)))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
