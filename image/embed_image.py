#!/usr/bin/env python3
"""Checks a firmware image and writes it out as C++ constant data. The build stops here, with the
file and the fault named, when the image is not the one the program announces: exactly 393,216
bytes, the version record "Z8KQV01.07A" (model Z8KQ, version 1.07, variant A, as the terms text and
the version information say) followed by a six-digit date and a zero byte, and a checksum at
offset 0 that holds. A firmware for another model or of another version is never built in.
"""
import struct
import sys

SIZE = 393216
RECORD = b"Z8KQV01.07A"  # offsets 4 to 14
DATE_AT, END_AT = 15, 21   # six digits, yymmdd; then the record's zero byte


def text(raw):
    return raw.decode("ascii", "backslashreplace")


def faults(image):
    if len(image) != SIZE:
        return [f"the image is {len(image)} bytes; the deck takes exactly {SIZE}"]
    found = []
    record = image[4:4 + len(RECORD)]
    if record != RECORD:
        found.append(f'the version record at offsets 4 to 14 is "{text(record)}", not "{text(RECORD)}", '
                     f"the firmware the program announces")
    date = image[DATE_AT:END_AT]
    if not all(0x30 <= b <= 0x39 for b in date):
        found.append(f'the date at offsets 15 to 20 is "{text(date)}", not six digits')
    if image[END_AT] != 0:
        found.append(f"byte 21 is 0x{image[END_AT]:02X}, not the 0 that ends the version record")
    stored = struct.unpack_from("<I", image, 0)[0]
    summed = sum(image[4:]) & 0xFFFFFFFF
    if stored != summed:
        found.append(f"the checksum at offset 0 is 0x{stored:08X}, but bytes 4 to the end sum to 0x{summed:08X}")
    return found


def emit(image, path):
    lines = ["// Generated from the firmware image by image/embed_image.py; do not edit.",
             '#include "image/FirmwareImage.h"',
             "",
             "const unsigned char FirmwareImage[kFirmwareImageSize] = {"]
    for start in range(0, len(image), 24):
        lines.append("  " + ",".join(str(b) for b in image[start:start + 24]) + ",")
    lines.append("};")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


def main(argv):
    if len(argv) not in (2, 3):
        sys.exit("usage: embed_image.py IMAGE [OUTPUT.cpp]")
    try:
        with open(argv[1], "rb") as f:
            image = f.read()
    except OSError as e:
        print(f"{argv[1]}: cannot be read: {e.strerror}", file=sys.stderr)
        return 1
    found = faults(image)
    if found:
        for fault in found:
            print(f"{argv[1]}: {fault}", file=sys.stderr)
        return 1
    if len(argv) == 3:
        emit(image, argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
