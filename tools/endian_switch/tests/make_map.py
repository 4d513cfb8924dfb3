"""Builds small map files for the end-to-end tests, and the converted file
they should become, independently of the tool's own code.

  make_map.py make FILE ORDER COLUMNS ROWS SECTIONS MODE [EXTRA]
      ORDER is host or other; EXTRA bytes are added (negative: removed).
  make_map.py header FILE ORDER COLUMNS ROWS SECTIONS MODE
      writes the 1024-byte header alone.
  make_map.py swapped IN OUT DATA_BYTES VALUE_BYTES
      writes IN with the 24 header words and the first DATA_BYTES of data
      reversed value by value.
  make_map.py set FILE OFFSET BYTE   puts one byte into a file.
  make_map.py serve
      runs commands read from standard input, one a line: the folder to
      run in and the arguments above, separated by the byte 0x1f; answers
      each with a line "ok" or the error. The test scripts start it once:
      a Python start costs more than most of their cases.
"""
import array
import os
import struct
import sys

SIZES = {0: (1, 1), 1: (2, 1), 2: (4, 1), 3: (2, 2), 4: (4, 2)}
SWAPPED_WORDS = [4, 23, 24, 56, 54, 55, 1, 2, 3, 8, 9, 10, 17, 18, 19, 20, 21, 22,
                 11, 12, 13, 14, 15, 16]


def header(order, columns, rows, sections, mode):
    fmt = "<" if (order == "host") == (sys.byteorder == "little") else ">"
    h = bytearray((7 * k + 3) % 256 for k in range(1024))
    h[0:16] = struct.pack(fmt + "4i", columns, rows, sections, mode)
    return h


def make(path, order, columns, rows, sections, mode, extra=0):
    header_bytes = header(order, columns, rows, sections, mode)
    bpv, vpp = SIZES.get(mode, (1, 1))
    data_bytes = max(columns, 0) * max(rows, 0) * max(sections, 0) * bpv * vpp + extra
    # (11 k + 5) mod 253 repeats every 23 bytes: built by repetition, not
    # byte by byte, which took most of a run for maps of megabytes.
    period = bytes((11 * k + 5) % 253 for k in range(23))
    data = (period * (max(data_bytes, 0) // 23 + 1))[:max(data_bytes, 0)]
    whole = bytes(header_bytes) + data
    if data_bytes < 0:
        whole = whole[:data_bytes]
    with open(path, "wb") as f:
        f.write(whole)


def swapped(src, dst, data_bytes, value_bytes):
    b = bytearray(open(src, "rb").read())
    for w in SWAPPED_WORDS:
        o = 4 * (w - 1)
        b[o:o + 4] = b[o:o + 4][::-1]
    if value_bytes in (2, 4) and data_bytes > 0:
        values = array.array("H" if value_bytes == 2 else "I", b[1024:1024 + data_bytes])
        values.byteswap()
        b[1024:1024 + data_bytes] = values.tobytes()
    open(dst, "wb").write(bytes(b))


def set_byte(path, offset, value):
    b = bytearray(open(path, "rb").read())
    b[offset] = value
    open(path, "wb").write(bytes(b))


def command(cmd, args):
    if cmd == "make":
        make(args[0], args[1], *map(int, args[2:]))
    elif cmd == "header":
        open(args[0], "wb").write(bytes(header(args[1], *map(int, args[2:]))))
    elif cmd == "swapped":
        swapped(args[0], args[1], int(args[2]), int(args[3]))
    elif cmd == "set":
        set_byte(args[0], int(args[1]), int(args[2]))
    else:
        raise ValueError("unknown command " + cmd)


def serve():
    for line in sys.stdin:
        folder, cmd, *args = line.rstrip("\n").split("\x1f")
        try:
            os.chdir(folder)
            command(cmd, args)
            answer = "ok"
        except Exception as e:  # reported to the script, which fails the case
            answer = repr(e).replace("\n", " ")
        sys.stdout.write(answer + "\n")
        sys.stdout.flush()


if __name__ == "__main__":
    if sys.argv[1] == "serve":
        serve()
    else:
        command(sys.argv[1], sys.argv[2:])
