"""endian_switch against maps written by a general map reader (mrcfile).

  map_reader_test.py ENDIAN_SWITCH [SOURCE_TREE]

Maps of modes 0, 1, 2 and 4 are written by mrcfile in both byte orders.
As written they carry the newer layout's identifier and must be refused
untouched; with the identifier cleared they are old-style maps, which must
convert so that numpy reads, in the other byte order, exactly the values
and header numbers that were written, keeps the words the conversion does
not reverse byte for byte, and converts back to the same file. The source
tree argument is accepted like the end-to-end scripts' second argument and
not needed here.
"""
import os
import subprocess
import sys
import tempfile
import unittest
import warnings

try:
    import mrcfile
    import numpy as np
    from mrcfile.dtypes import HEADER_DTYPE
except ImportError as missing:
    module = missing.name.split(".")[0]
    print(f"skipped: the map reader test needs Python's {module} (Debian package python3-{module})")
    sys.exit(77)  # CTest's skip status for the suite's tests

ENDIAN_SWITCH = None  # set from the command line

STARS = b"*" * 47
BANNER = (b"\n" + STARS + b"\n******* endian_switch v0.2 22.07.96 ***********\n" + STARS +
          b"\n\nType in file name ...\n")
NEW_STYLE = b"Error - cannot byte-swap new-style map, use pixel_recoder \n"
WRITING = b" Writing byte-swapped data ...\n"
NORMAL = b"Normal termination ...\n"

# The newer layout's identifier word ("MAP "); its first byte is what makes
# a map new-style.
IDENTIFIER = slice(208, 212)

# Header words (numbered from 1) that hold numbers of the old layout and so
# change order; every other word is text, or was not a number in the old
# layout, and stays as stored.
REVERSED_WORDS = set(range(1, 5)) | set(range(8, 25)) | {54, 55, 56}

# Fields of the header, as mrcfile names them, that a conversion must
# leave readable in the other order.
REVERSED_FIELDS = ("nx", "ny", "nz", "mode", "mx", "my", "mz", "cella", "cellb",
                   "mapc", "mapr", "maps", "dmin", "dmax", "dmean", "ispg", "nsymbt",
                   "rms", "nlabl")
# Fields it must keep byte for byte, so they still read in the first order.
KEPT_FIELDS = ("nxstart", "nystart", "nzstart", "extra1", "exttyp", "nversion", "extra2",
               "origin", "label")

# Per mode: the type mrcfile stores it as, and an unsigned integer type of
# the size of one stored value, to compare values bit for bit.
MODES = {
    0: (np.dtype("i1"), np.dtype("u1")),
    1: (np.dtype("i2"), np.dtype("u2")),
    2: (np.dtype("f4"), np.dtype("u4")),
    4: (np.dtype("c8"), np.dtype("u4")),
}

# Stored values whose bits must survive exactly: extremes of the integer
# modes; in the real modes signed zeros, infinities, quiet and signalling
# NaNs with payloads, denormals, the largest and smallest normals, and
# patterns whose four bytes all differ.
SPECIAL_BITS = {
    0: [0x80, 0x7F, 0xFF, 0x00, 0x01, 0x5A],
    1: [0x8000, 0x7FFF, 0xFFFF, 0x0000, 0x0001, 0x0102, 0xFEFE, 0x00FF, 0x0100, 0x7F80],
    2: [0x00000000, 0x80000000, 0x7F800000, 0xFF800000, 0x7FC00000, 0xFFC00000,
        0x7F800001, 0x7FBFFFFF, 0xFFC12345, 0x00000001, 0x80000001, 0x007FFFFF,
        0x807FFFFF, 0x00800000, 0x7F7FFFFF, 0xFF7FFFFF, 0x3F800000, 0x01020304,
        0x04030201],
}
SPECIAL_BITS[4] = SPECIAL_BITS[2]

# (sections, rows, columns), or (rows, columns) for a single image, which
# mrcfile stores as one section. Small enough to keep the run quick.
SHAPES = [
    (2, 3, 7),   # several sections, rows of odd length
    (1, 4, 6),   # a single section
    (5, 9),      # a single image, not square
    (4, 6, 1),   # rows of one column
    (3, 1, 5),   # sections of one row
    (1, 1, 1),   # one value
]

ORDERS = {"little": "<", "big": ">"}


def other(order):
    return ">" if order == "<" else "<"


def map_values(mode, shape, order, seed):
    """Values of one map, in the given byte order: the special patterns
    first (rotated by seed so that small maps see different ones), then
    random bits."""
    stored, bits = MODES[mode]
    count = int(np.prod(shape)) * (2 if mode == 4 else 1)
    rng = np.random.default_rng(seed)
    raw = rng.integers(0, 1 << (8 * bits.itemsize), size=count, dtype=np.uint64)
    special = SPECIAL_BITS[mode]
    for k in range(min(count, len(special))):
        raw[k] = special[(k + seed) % len(special)]
    ordered = raw.astype(bits.newbyteorder(order))
    return ordered.view(stored.newbyteorder(order)).reshape(shape)


def write_map(path, data, order):
    """Writes data with mrcfile in the data's byte order, with header words
    that differ when reversed, so that a word wrongly kept or reversed
    shows."""
    with mrcfile.new(path, overwrite=True) as mrc:
        if data.dtype.byteorder == "|" and order != sys_order():
            # mrcfile orders the header as its data, but 8-bit data has no
            # order: reverse the header the way mrcfile itself does when
            # data of the other order is set.
            mrc.header.byteswap(True)
            mrc.header.dtype = mrc.header.dtype.newbyteorder(order)
        with warnings.catch_warnings():
            # Statistics of NaN and infinite values warn; they are set below.
            warnings.simplefilter("ignore", RuntimeWarning)
            mrc.set_data(data)
        header = mrc.header
        header.nxstart, header.nystart, header.nzstart = -3, 258, 70000
        header.mx, header.my, header.mz = 101, 202, 303
        header.cella = (12.5, 33.25, -7.0)
        header.cellb = (90.0, 95.5, 120.0)
        header.mapc, header.mapr, header.maps = 2, 1, 3
        header.dmin, header.dmax, header.dmean, header.rms = -1.5, 2.25, 0.125, 3.5
        header.extra1 = bytes(range(1, 9))
        header.exttyp = b"ZEBX"
        header.extra2 = bytes(range(100, 184))
        header.origin = (1.5, -2.25, 3.0)
        mrc.add_label("interoperability map, written by mrcfile")


def sys_order():
    return "<" if sys.byteorder == "little" else ">"


def header_of(path_or_bytes, order):
    raw = path_or_bytes if isinstance(path_or_bytes, bytes) else read(path_or_bytes)
    return np.frombuffer(raw[:1024], dtype=HEADER_DTYPE.newbyteorder(order))[0]


def read(path):
    with open(path, "rb") as f:
        return f.read()


def run_tool(directory, name):
    done = subprocess.run([ENDIAN_SWITCH], input=name.encode() + b"\n", cwd=directory,
                          capture_output=True, timeout=60)
    return done.stdout, done.stderr, done.returncode


def report(shape, mode):
    sections, rows, columns = (1,) * (3 - len(shape)) + tuple(shape)
    return (b"Number of columns, rows, sections ........%d %d %d \n"
            b"Map mode .................................%d\n" % (columns, rows, sections, mode))


def fields_equal(a, b):
    """Equal as stored numbers, NaN and signed zero included."""
    return np.asarray(a).tobytes() == np.asarray(b).astype(np.asarray(a).dtype).tobytes()


class MapReaderTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory(prefix="map_reader_")
        self.addCleanup(self.folder.cleanup)

    def new_map(self, mode, shape, order, seed):
        data = map_values(mode, shape, order, seed)
        path = os.path.join(self.folder.name, "m.map")
        write_map(path, data, order)
        written = read(path)
        # What mrcfile stored is the data given, in the order given.
        self.assertEqual(len(written), 1024 + data.nbytes)
        self.assertEqual(written[1024:], data.tobytes())
        header = header_of(written, order)
        self.assertEqual((int(header["mode"]), int(header["nx"]), int(header["nxstart"])),
                         (mode, data.shape[-1], -3))
        return data, path, written

    def check_new_style_refused(self, mode, order):
        for seed, shape in enumerate(SHAPES):
            with self.subTest(shape=shape):
                data, path, written = self.new_map(mode, shape, order, seed)
                self.assertEqual(written[208], ord("M"))
                out, err, status = run_tool(self.folder.name, "m.map")
                self.assertEqual(out, BANNER + NEW_STYLE)
                self.assertEqual(err, b"")
                self.assertEqual(status, 1)
                self.assertEqual(read(path), written)
                # The refused file is still the map mrcfile wrote.
                with mrcfile.open(path) as mrc:
                    self.assertEqual(mrc.data.tobytes(), data.tobytes())

    def check_old_style_converted(self, mode, order):
        stored, bits = MODES[mode]
        for seed, shape in enumerate(SHAPES):
            with self.subTest(shape=shape):
                data, path, written = self.new_map(mode, shape, order, seed)
                old = bytearray(written)
                old[IDENTIFIER] = bytes(4)
                old = bytes(old)
                with open(path, "wb") as f:
                    f.write(old)

                expected_out = (BANNER + report(shape, mode) + (WRITING if mode else b"") +
                                NORMAL)
                out, err, status = run_tool(self.folder.name, "m.map")
                self.assertEqual(out, expected_out)
                self.assertEqual(err, b"")
                self.assertEqual(status, 0)
                new = read(path)
                self.assertEqual(len(new), len(old))

                # Every value reads back, in the other order, as written.
                back = np.frombuffer(new, dtype=stored.newbyteorder(other(order)), offset=1024)
                self.assertEqual(back.size, data.size)
                self.assertEqual(back.view(bits.newbyteorder(other(order))).tolist(),
                                 data.view(bits.newbyteorder(order)).ravel().tolist())

                # The header's numbers read back in the other order; the
                # words kept read as before in the first order.
                first, second = header_of(old, order), header_of(new, other(order))
                sections, rows, columns = (1,) * (3 - len(shape)) + tuple(shape)
                self.assertEqual((int(second["nx"]), int(second["ny"]), int(second["nz"])),
                                 (columns, rows, sections))
                self.assertEqual(int(second["mode"]), mode)
                for field in REVERSED_FIELDS:
                    self.assertTrue(fields_equal(first[field], second[field]), field)
                kept = header_of(new, order)
                for field in KEPT_FIELDS:
                    self.assertEqual(np.asarray(kept[field]).tobytes(),
                                     np.asarray(first[field]).tobytes(), field)
                for word in range(1, 257):
                    at = slice(4 * (word - 1), 4 * word)
                    want = old[at][::-1] if word in REVERSED_WORDS else old[at]
                    self.assertEqual(new[at], want, "header word %d" % word)

                # Converting again gives back the old-style file exactly.
                out, err, status = run_tool(self.folder.name, "m.map")
                self.assertEqual((out, err, status), (expected_out, b"", 0))
                self.assertEqual(read(path), old)


def add_tests():
    for mode in MODES:
        for order_name, order in ORDERS.items():
            def refused(self, mode=mode, order=order):
                self.check_new_style_refused(mode, order)

            def converted(self, mode=mode, order=order):
                self.check_old_style_converted(mode, order)

            setattr(MapReaderTest, "test_new_style_mode_%d_%s_endian_refused" % (mode, order_name),
                    refused)
            setattr(MapReaderTest,
                    "test_old_style_mode_%d_%s_endian_converted_and_back" % (mode, order_name),
                    converted)


add_tests()

if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    ENDIAN_SWITCH = os.path.abspath(sys.argv[1])
    unittest.main(argv=sys.argv[:1], verbosity=2)
