#!/usr/bin/env python3
"""Writes a stand-in for the maker's firmware image, for development and tests: 393,216 bytes, a
little-endian checksum of bytes 4 to the end, the version record "Z8KQV01.07A" with a date and its
zero byte, then a body made by a fixed generator, so that the same file comes out on every machine.
Another seed or date gives another image that the checks take all the same.

usage: make_image.py OUTPUT [--seed N] [--date YYMMDD]
"""
import argparse
import struct

from embed_image import RECORD, SIZE


def body(length, seed):
    # xorshift32: bytes that look like code, not a run of one value, so a misplaced or repeated
    # block changes what the deck receives.
    state = seed
    out = bytearray(length)
    for i in range(length):
        state ^= (state << 13) & 0xFFFFFFFF
        state ^= state >> 17
        state ^= (state << 5) & 0xFFFFFFFF
        out[i] = state & 0xFF
    return bytes(out)


def build(seed=0x5A384B51, date="011128"):
    record = RECORD + date.encode("ascii") + b"\0"
    rest = record + body(SIZE - 4 - len(record), seed)
    return struct.pack("<I", sum(rest) & 0xFFFFFFFF) + rest


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("output")
    parser.add_argument("--seed", type=lambda v: int(v, 0), default=0x5A384B51)
    parser.add_argument("--date", default="011128")
    args = parser.parse_args()
    with open(args.output, "wb") as f:
        f.write(build(args.seed, args.date))
