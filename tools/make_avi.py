#!/usr/bin/env python3
"""Draws the rewrite wait animation, a disc turning once in six frames, as an RLE8 AVI clip.

The clip is the form the animation control plays from a resource: one video stream of 32x32
pixels, 8 bits per pixel with an 11-colour palette, run-length encoded ("RLE "), 5 frames a
second, every frame a key frame, an idx1 index and no sound.
"""
import math
import struct
import sys

SIZE = 32
FRAMES = 6
MICROSECONDS_PER_FRAME = 200000

# (red, green, blue); the indices below name them.
PALETTE = [
    (0xC0, 0xC0, 0xC0),  # 0 background, the dialog face
    (0x00, 0x00, 0x00),  # 1 outline and spindle hole
    (0x80, 0x80, 0x80),  # 2 shadow under the disc
    (0xD8, 0xD8, 0xE0),  # 3 disc surface
    (0xFF, 0xFF, 0xFF),  # 4 glint
    (0x00, 0x00, 0x80),  # 5 label edge
    (0x20, 0x40, 0xE0),  # 6 label
    (0x90, 0xA8, 0xFF),  # 7 label's leading edge
    (0xE0, 0x20, 0x20),  # 8 rim mark that shows the turning
    (0x60, 0x60, 0x68),  # 9 hub
    (0xA0, 0xA0, 0xA8),  # 10 hub ring
]
BACKGROUND, OUTLINE, SHADOW, SURFACE, GLINT, LABEL_EDGE, LABEL, LABEL_LEAD, MARK, HUB, HUB_RING = range(11)


# The disc sits in the top left 28x28 pixels: an animation control with a border keeps the
# window at the frame size and loses the last rows and columns to the border.
CENTRE = 14.0
RADIUS = 13.0


def frame(n):
    """Frame n as rows of palette indices, top row first."""
    turn = 2 * math.pi * n / FRAMES
    rows = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            dx, dy = x + 0.5 - CENTRE, y + 0.5 - CENTRE
            r = math.hypot(dx, dy)
            # Angles grow clockwise on screen; the disc turns clockwise.
            fixed = math.degrees(math.atan2(dy, dx)) % 360
            deg = (fixed - math.degrees(turn)) % 360
            if r > RADIUS:
                shadow = math.hypot(dx - 1, dy - 1) <= RADIUS
                row.append(SHADOW if shadow else BACKGROUND)
            elif r > RADIUS - 1.1:
                row.append(OUTLINE)
            elif r < 1.6:
                row.append(OUTLINE)
            elif r < 3.4:
                row.append(HUB)
            elif r < 4.6:
                row.append(HUB_RING)
            elif r > RADIUS - 4 and deg < 24:
                row.append(MARK)
            elif 180 <= deg < 270:
                row.append(LABEL_LEAD if deg >= 258 else LABEL_EDGE if deg < 190 else LABEL)
            elif 200 <= fixed < 230 and 6 < r < RADIUS - 2:
                row.append(GLINT)  # the light stays where it is while the disc turns
            else:
                row.append(SURFACE)
        rows.append(row)
    return rows


def rle8(rows):
    """Encodes rows (top first) as a BI_RLE8 bitmap, which stores the bottom row first."""
    out = bytearray()
    for row in reversed(rows):
        i = 0
        while i < len(row):
            run = 1
            while i + run < len(row) and run < 255 and row[i + run] == row[i]:
                run += 1
            if run >= 2:
                out += bytes((run, row[i]))
                i += run
                continue
            # A stretch of single pixels: absolute mode pays off from three pixels on.
            j = i
            while j < len(row) and j - i < 255 and (j + 1 >= len(row) or row[j + 1] != row[j]):
                j += 1
            literal = row[i:j]
            if len(literal) >= 3:
                out += bytes((0, len(literal))) + bytes(literal)
                if len(literal) % 2:
                    out += b"\0"
            else:
                for p in literal:
                    out += bytes((1, p))
            i = j if j > i else i + 1
        out += b"\0\0"  # end of line
    out[-2:] = b"\0\1"  # the last end of line becomes end of bitmap
    return bytes(out)


def chunk(fourcc, data):
    return fourcc + struct.pack("<I", len(data)) + data + (b"\0" if len(data) % 2 else b"")


def riff_list(kind, fourcc, body):
    return kind + struct.pack("<I", len(body) + 4) + fourcc + body


def clip():
    frames = [rle8(frame(n)) for n in range(FRAMES)]
    largest = max(len(f) for f in frames)
    avih = struct.pack(
        "<10I4I", MICROSECONDS_PER_FRAME, largest * 1000000 // MICROSECONDS_PER_FRAME, 0,
        0x10,  # AVIF_HASINDEX
        FRAMES, 0, 1, largest, SIZE, SIZE, 0, 0, 0, 0)
    strh = (b"vids" + b"RLE " +
            struct.pack("<IHHIIIIIIiI4h", 0, 0, 0, 0, 1, 5, 0, FRAMES, largest, -1, 0, 0, 0, SIZE, SIZE))
    bmih = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 8, 1, largest, 0, 0, len(PALETTE), 0)
    strf = bmih + b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    hdrl = riff_list(b"LIST", b"hdrl",
                     chunk(b"avih", avih) +
                     riff_list(b"LIST", b"strl", chunk(b"strh", strh) + chunk(b"strf", strf)))
    movi_body = bytearray()
    index = bytearray()
    for data in frames:
        # Offsets in the index count from the 'movi' fourcc.
        index += b"00dc" + struct.pack("<III", 0x10, 4 + len(movi_body), len(data))  # AVIIF_KEYFRAME
        movi_body += chunk(b"00dc", data)
    movi = riff_list(b"LIST", b"movi", bytes(movi_body))
    return riff_list(b"RIFF", b"AVI ", hdrl + movi + chunk(b"idx1", bytes(index)))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_avi.py OUTPUT.avi")
    with open(sys.argv[1], "wb") as f:
        f.write(clip())


if __name__ == "__main__":
    main()
