#!/usr/bin/env python3
"""The firmware image's rules, once for the build and the tests: its size, its version record and
its checksum; the check that stops the build on an image that is not the one the program announces,
naming the file and the fault; and the stand-in image of development and tests.

    firmware.py check IMAGE                          exit 0, or 1 with the faults on stderr
    firmware.py make OUTPUT [--seed N] [--date YYMMDD]

The image must be exactly 393,216 bytes; bytes 4 to 14 the version record "Z8KQV01.07A" (model
Z8KQ, version 1.07, variant A, as the terms text and the version information say), followed by a
six-digit date and a zero byte; bytes 0 to 3 the sum of all bytes from 4 on, little-endian. A
firmware for another model or of another version is never built in.
"""
import argparse
import struct
import sys

SIZE = 393216
RECORD_AT = 4
ANNOUNCED = b"Z8KQV01.07A"  # offsets 4 to 14: model, "V", major "." minor, variant
DATE_AT, END_AT = 15, 21    # six digits, yymmdd; then the record's zero byte
STANDIN_SEED, STANDIN_DATE = 0x5A384B51, "011128"  # the stand-in image every build makes alike


def checksum(image):
    """The sum of the bytes from offset 4 on, as stored at offset 0."""
    return sum(image[RECORD_AT:]) & 0xFFFFFFFF


def with_checksum(image):
    """The image with its checksum made right."""
    return struct.pack("<I", checksum(image)) + bytes(image[RECORD_AT:])


def version(image):
    """The version the record gives, as the deck reports it: "1.07A"."""
    major, minor, variant = image[9:11], image[12:14], image[14:15]
    return f"{int(major)}.{minor.decode()}{variant.decode()}"


ANNOUNCED_VERSION = version(bytes(RECORD_AT) + ANNOUNCED)  # "1.07A"


def text(raw):
    return raw.decode("ascii", "backslashreplace")


def faults(image):
    if len(image) != SIZE:
        return [f"the image is {len(image)} bytes; the deck takes exactly {SIZE}"]
    found = []
    record = image[RECORD_AT:RECORD_AT + len(ANNOUNCED)]
    if record != ANNOUNCED:
        found.append(f'the version record at offsets 4 to 14 is "{text(record)}", not "{text(ANNOUNCED)}", '
                     f"the firmware the program announces")
    date = image[DATE_AT:END_AT]
    if not all(0x30 <= b <= 0x39 for b in date):
        found.append(f'the date at offsets 15 to 20 is "{text(date)}", not six digits')
    if image[END_AT] != 0:
        found.append(f"byte 21 is 0x{image[END_AT]:02X}, not the 0 that ends the version record")
    stored, summed = struct.unpack_from("<I", image, 0)[0], checksum(image)
    if stored != summed:
        found.append(f"the checksum at offset 0 is 0x{stored:08X}, but bytes 4 to the end sum to 0x{summed:08X}")
    return found


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


def build(seed=STANDIN_SEED, date=STANDIN_DATE):
    """A stand-in for the maker's image, for development and tests: the announced record with a
    date, then a body made by a fixed generator, so that the same file comes out on every machine.
    Another seed or date gives another image that the check takes all the same."""
    record = ANNOUNCED + date.encode("ascii") + b"\0"
    rest = record + body(SIZE - RECORD_AT - len(record), seed)
    return with_checksum(bytes(RECORD_AT) + rest)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    check = commands.add_parser("check")
    check.add_argument("image")
    make = commands.add_parser("make")
    make.add_argument("output")
    make.add_argument("--seed", type=lambda v: int(v, 0), default=STANDIN_SEED)
    make.add_argument("--date", default=STANDIN_DATE)
    args = parser.parse_args(argv)
    if args.command == "make":
        with open(args.output, "wb") as f:
            f.write(build(args.seed, args.date))
        return 0
    try:
        with open(args.image, "rb") as f:
            image = f.read()
    except OSError as e:
        print(f"{args.image}: cannot be read: {e.strerror}", file=sys.stderr)
        return 1
    found = faults(image)
    for fault in found:
        print(f"{args.image}: {fault}", file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
