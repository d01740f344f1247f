#!/usr/bin/env python3
"""Writes the firmware image the program carries: 393,216 bytes, a little-endian checksum of
bytes 4 to the end, the version record "Z8KQV01.07A011128" with its zero byte, then a body
made by a fixed generator, so that the same file comes out on every machine."""
import struct
import sys

SIZE = 393216
RECORD = b"Z8KQV01.07A011128\0"


def body(length):
    # xorshift32 from a fixed seed: bytes that look like code, not a run of one value,
    # so a misplaced or repeated block changes what the deck receives.
    state = 0x5A384B51
    out = bytearray(length)
    for i in range(length):
        state ^= (state << 13) & 0xFFFFFFFF
        state ^= state >> 17
        state ^= (state << 5) & 0xFFFFFFFF
        out[i] = state & 0xFF
    return bytes(out)


def build():
    rest = RECORD + body(SIZE - 4 - len(RECORD))
    return struct.pack("<I", sum(rest) & 0xFFFFFFFF) + rest


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: make_image.py OUTPUT")
    with open(sys.argv[1], "wb") as f:
        f.write(build())
