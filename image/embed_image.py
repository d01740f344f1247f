#!/usr/bin/env python3
"""Checks the firmware image and writes it out as C++ constant data. The build stops here, with
the fault named, when the image is not one the deck can take."""
import struct
import sys

SIZE = 393216
RECORD = b"Z8KQV01.07A011128\0"


def faults(image):
    if len(image) != SIZE:
        return [f"firmware image is {len(image)} bytes, not {SIZE}"]
    found = []
    record = image[4:22]
    if record != RECORD:
        found.append(f"version record at offsets 4 to 21 is {record!r}, not {RECORD!r}")
    stored = struct.unpack_from("<I", image, 0)[0]
    summed = sum(image[4:]) & 0xFFFFFFFF
    if stored != summed:
        found.append(f"checksum at offset 0 is 0x{stored:08X}, but bytes 4 to the end sum to 0x{summed:08X}")
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
    with open(argv[1], "rb") as f:
        image = f.read()
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
