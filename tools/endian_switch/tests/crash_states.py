"""Crash-state explorer for endian_switch.

  crash_states.py TOOLS_FOLDER [SOURCE_TREE]

Records, through strace, the writes, syncs, and the creations, links,
renames and removals of files of runs on a small map (the test build with
4 KiB blocks, so that it has many): a conversion, a conversion interrupted
by SIGINT in its data pass (which puts the map back), and runs that finish
a conversion killed in its data pass, given the map's own name, a hard link
to it, or its name after a rename. For every point between two of those
calls it builds the states the disk may hold after a crash there: each
file as last synced, with any subset of the writes made since, each
512-byte sector of a write landed whole or not at all; and the folder as
last synced, with any subset of the names created, linked, renamed or
removed since, each of those whole or not at all. On each state it runs
endian_switch once, as a user would after the crash, and checks that the
map ends converted exactly once (byte for byte the uninterrupted
conversion), with the normal report and nothing left beside it. A state in
which the run had already reported its normal end needs no rerun: the map
must be converted as it is.

Ends with status 1 on the first states that fail (at most five shown),
else prints the number of states checked; with status 77 (skipped) when
strace is missing.
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
MAP_FILE = "map"  # the map's file in the model: every state writes it in place
# Subsets of the pending writes tried at one crash point, at most: all of
# them when there are few, else every prefix (what a disk that keeps the
# order would hold), each single write, and random ones. Each subset is
# tried whole and once more with a random part of its sectors landed.
MOST_SUBSETS = 128
CALLS = "openat,pwrite64,write,fsync,fdatasync,syncfs,unlinkat,linkat,renameat2"
HEX = r'"((?:\\x[0-9a-f]{2})*)"'
CALL = re.compile(r'^(\w+)\((\d+)<([^>]*)>(?:, ' + HEX + r')?(?:, ([^)]*))?\) += (-?\d+)')
TWO_NAMES = re.compile(r'^(linkat|renameat2)\(\d+<[^>]*>, ' + HEX + r', \d+<[^>]*>, ' + HEX + r'.*\) += (-?\d+)')


def unhex(text):
    return bytes.fromhex(text.replace("\\x", ""))


def record(tool, folder, answer, inject=()):
    """Runs tool on the map named answer in folder under strace; gives its
    stdout, status and the calls that change files: ("write", name,
    offset, bytes), ("create", name), ("unlink", name), ("link", from,
    to), ("rename", from, to), ("sync", name), ("sync_folder",), ("say",
    bytes)."""
    log = os.path.join(folder, "..", "strace.log")
    args = ["strace", "-qq", "-o", log, "-y", "-xx", "-s", "1000000", "-e", "signal=none",
            "-e", "trace=" + CALLS]
    for rule in inject:
        args += ["-e", "inject=" + rule]
    done = subprocess.run(args + [tool], input=answer.encode() + b"\n", cwd=folder,
                          capture_output=True, timeout=60)
    ops = []
    for line in open(log):
        m = TWO_NAMES.match(line)
        if m:
            if int(m.group(4)) >= 0:
                ops.append(("link" if m.group(1) == "linkat" else "rename",
                            unhex(m.group(2)).decode(), unhex(m.group(3)).decode()))
            continue
        m = CALL.match(line)
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
        elif call == "syncfs":
            ops.append(("sync", name))
            ops.append(("sync_folder",))
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


def rename_names(names, op):
    """The folder's names after one name operation; one whose source is
    not there (an earlier one was left out) changes nothing."""
    names = dict(names)
    kind = op[0]
    if kind == "create":
        names[op[1]] = op[2]
    elif kind == "unlink":
        names.pop(op[1], None)
    elif op[1] in names:
        names[op[2]] = names[op[1]]
        if kind == "rename":
            del names[op[1]]
    return names


def crash_states(names, contents, ops, rng):
    """For each crash point (before each call, and after the last), the
    states the disk may hold: (normal end reported, names, contents) where
    names maps each name of the folder to a file, and contents each file
    to its bytes."""
    durable_names = dict(names)   # the folder as last synced
    current = dict(names)         # as the process sees it
    name_ops = []                 # since the folder's last sync
    durable = dict(contents)      # each file as last synced
    pending = {f: [] for f in durable}  # writes since the file's last sync
    reported = False
    for point in range(len(ops) + 1):
        files = sorted(pending)
        writes = [(f, w) for f in files for w in pending[f]]
        for subset in subsets(len(writes), rng):
            for torn in (False, True):
                if torn and not subset:
                    continue
                chosen = {f: [] for f in files}
                for k in subset:
                    f, (offset, data) = writes[k]
                    parts = pieces(offset, data)
                    if torn and len(parts) > 1:
                        keep = sorted(rng.sample(range(len(parts)), rng.randrange(1, len(parts))))
                        parts = [parts[i] for i in keep]
                    chosen[f] += parts
                for kept in subsets(len(name_ops), rng):
                    folder = durable_names
                    for k in kept:
                        folder = rename_names(folder, name_ops[k])
                    yield reported, folder, {f: apply(durable[f], chosen[f]) for f in set(folder.values())}
        if point == len(ops):
            break
        op = ops[point]
        if op[0] == "write":
            pending[current[op[1]]].append((op[2], op[3]))
        elif op[0] == "sync":
            f = current[op[1]]
            durable[f], pending[f] = apply(durable[f], pending[f]), []
        elif op[0] in ("create", "unlink", "link", "rename"):
            if op[0] == "create":
                f = "file %d" % len(durable)
                durable[f], pending[f] = b"", []
                op = ("create", op[1], f)
            name_ops.append(op)
            current = rename_names(current, op)
        elif op[0] == "sync_folder":
            durable_names, name_ops = dict(current), []
        elif op[0] == "say" and op[1].startswith(b"Normal termination"):
            reported = True


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    tool = os.path.join(os.path.abspath(sys.argv[1]), "endian_switch_small_blocks")
    try:
        subprocess.run(["strace", "-o", "/dev/null", "true"], capture_output=True, check=True)
    except (OSError, subprocess.CalledProcessError):
        print("skipped: the crash-state explorer needs strace")
        sys.exit(77)
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

    def map_bytes():
        return os.pread(mapfile, os.fstat(mapfile).st_size, 0)

    keep = os.path.join(scratch.name, "map")  # a name of the map outside the folder
    os.link(path, keep)

    def put(names, contents):
        """The folder holds the names of a state, hard links as hard links;
        the map is written in place."""
        for n in os.listdir(folder):
            p = os.path.join(folder, n)
            if os.path.isdir(p) and not os.path.islink(p):
                os.rmdir(p)
            else:
                os.unlink(p)
        os.pwrite(mapfile, contents[MAP_FILE], 0)
        os.ftruncate(mapfile, len(contents[MAP_FILE]))
        first = {MAP_FILE: keep}
        for n, f in sorted(names.items()):
            p = os.path.join(folder, n)
            if f in first:
                os.link(first[f], p)
                continue
            with open(p, "wb") as out:
                out.write(contents[f])
            first[f] = p

    put({MAP: MAP_FILE}, {MAP_FILE: original})
    normal_out, status, _ = record(tool, folder, MAP)
    assert status == 0 and map_bytes() == converted, "the plain conversion failed"

    def killed():
        """What a conversion killed in its data pass leaves: the map and
        its journal, under each of its names."""
        put({MAP: MAP_FILE}, {MAP_FILE: original})
        record(tool, folder, MAP, ["pwrite64:signal=KILL:when=12"])
        names, contents = {}, {MAP_FILE: map_bytes()}
        for n in os.listdir(folder):
            if n != MAP:
                f = "killed %d" % os.stat(os.path.join(folder, n)).st_ino
                names[n], contents[f] = f, open(os.path.join(folder, n), "rb").read()
        return names, contents

    # The runs explored: what each is, the state it starts from, the map's
    # names and the one the run is given, and what is injected into it.
    plain = ({}, {MAP_FILE: original})
    runs = []
    for what, (names, contents), map_names, answer, inject in [
            ("a conversion", plain, [MAP], MAP, []),
            ("an interrupted conversion", plain, [MAP], MAP, ["pwrite64:signal=INT:when=12"]),
            ("a run finishing a killed one", killed(), [MAP], MAP, []),
            ("a run finishing a killed one through a hard link", killed(), [MAP, "h.map"], "h.map", []),
            ("a run finishing a killed one after a rename", killed(), ["n.map"], "n.map", [])]:
        names = dict(names, **{n: MAP_FILE for n in map_names})
        put(names, contents)
        out, status, ops = record(tool, folder, answer, inject)
        if inject:
            assert status != 0 and map_bytes() == original, "the interrupted run did not put the map back"
        runs.append((what, names, contents, answer, ops))

    checked, failures, seen = 0, [], set()
    for what, names, contents, answer, ops in runs:
        for reported, state_names, state in crash_states(names, contents, ops, rng):
            key = (what, reported, tuple(sorted((n, hash(state[f])) for n, f in state_names.items())))
            if key in seen:
                continue
            seen.add(key)
            checked += 1
            state[MAP_FILE] = state.get(MAP_FILE, contents[MAP_FILE])
            put(state_names, state)
            left_beside = [n for n, f in state_names.items() if f != MAP_FILE]
            problem = None
            if reported and not left_beside:
                if state[MAP_FILE] != converted:
                    problem = "reported done, but the map is not converted"
            else:
                done = subprocess.run([tool], input=answer.encode() + b"\n", cwd=folder,
                                      capture_output=True, timeout=60)
                left = sorted(set(os.listdir(folder)) - {n for n, f in state_names.items() if f == MAP_FILE})
                if map_bytes() != converted:
                    problem = "the map is not converted exactly once"
                elif (done.stdout, done.stderr, done.returncode) != (normal_out, b"", 0):
                    problem = "the rerun ended with %d: %r %r" % (done.returncode, done.stdout[-80:], done.stderr)
                elif left:
                    problem = "left beside the map: %s" % left
            if problem:
                failures.append("%s, state %d: %s" % (what, checked, problem))
    for f in failures[:5]:
        print("FAIL", f)
    print("%d crash states of %d recorded runs checked, %d failed" % (checked, len(runs), len(failures)))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
