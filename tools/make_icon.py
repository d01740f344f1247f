#!/usr/bin/env python3
"""Draws the program's icon, a deck with a download arrow, as a 16-colour .ico of 32x32 and 16x16.

The pictures are drawn from code so the icon is rebuilt byte for byte from this file alone.
"""
import struct
import sys

# The 16 colours of the standard VGA palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, NAVY, SILVER, GRAY, LIME, BLUE, AQUA, WHITE = 0, 4, 7, 8, 10, 12, 14, 15


class Canvas:
    """A square of palette indices; None is transparent."""

    def __init__(self, size):
        self.size = size
        self.px = [[None] * size for _ in range(size)]

    def rect(self, x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.px[y][x] = colour

    def box(self, x0, y0, x1, y1, fill, edge):
        self.rect(x0, y0, x1, y1, edge)
        if x1 - x0 >= 2 and y1 - y0 >= 2:
            self.rect(x0 + 1, y0 + 1, x1 - 1, y1 - 1, fill)

    def arrow(self, cx, top, shaft_half, shaft_bottom, head_half, tip):
        """A downward arrow centred between columns cx-1 and cx, outlined in navy."""
        rows = {}
        for y in range(top, shaft_bottom + 1):
            rows[y] = shaft_half
        for y in range(shaft_bottom + 1, tip + 1):
            rows[y] = head_half - (y - shaft_bottom - 1)
        for y, half in rows.items():
            if half >= 1:
                self.rect(cx - half, y, cx + half - 1, y, BLUE)
        for y, half in rows.items():  # outline: the leftmost and rightmost pixel of each row
            if half >= 1:
                self.px[y][cx - half] = NAVY
                self.px[y][cx + half - 1] = NAVY
        self.rect(cx - shaft_half, top, cx + shaft_half - 1, top, NAVY)
        self.rect(cx - head_half, shaft_bottom + 1, cx - shaft_half - 1, shaft_bottom + 1, NAVY)
        self.rect(cx + shaft_half, shaft_bottom + 1, cx + head_half - 1, shaft_bottom + 1, NAVY)
        self.rect(cx - shaft_half + 1, top + 1, cx - shaft_half + 1, shaft_bottom + 1, AQUA)  # light edge


def draw_large():
    c = Canvas(32)
    c.box(1, 17, 30, 28, SILVER, BLACK)  # the deck
    c.rect(2, 18, 29, 18, WHITE)
    c.rect(2, 27, 29, 27, GRAY)
    c.box(4, 20, 17, 22, GRAY, BLACK)  # disc tray
    c.box(20, 20, 27, 23, NAVY, BLACK)  # display
    c.rect(22, 21, 25, 21, LIME)
    c.rect(5, 25, 6, 25, LIME)  # power lamp
    for x in (20, 23, 26):
        c.rect(x, 25, x + 1, 25, GRAY)
    c.rect(3, 29, 5, 29, BLACK)  # feet
    c.rect(26, 29, 28, 29, BLACK)
    c.arrow(16, 1, 3, 8, 8, 15)
    return c


def draw_small():
    c = Canvas(16)
    c.box(0, 9, 15, 14, SILVER, BLACK)
    c.rect(2, 11, 8, 11, BLACK)
    c.rect(10, 11, 13, 12, NAVY)
    c.rect(11, 11, 12, 11, LIME)
    c.px[13][2] = LIME
    c.px[15][1] = BLACK
    c.px[15][14] = BLACK
    c.arrow(8, 0, 2, 3, 5, 8)
    return c


def dib(canvas):
    """The icon image as stored: header, palette, colour bits and transparency mask, bottom row first."""
    n = canvas.size
    xor_stride = (n * 4 + 31) // 32 * 4
    and_stride = (n + 31) // 32 * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(canvas.px):
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, colour in enumerate(row):
            if colour is None:
                bits[x // 8] |= 0x80 >> (x % 8)
                colour = 0
            line[x // 2] |= colour << (4 if x % 2 == 0 else 0)
        xor += line
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 4, 0, len(xor) + len(mask), 0, 0, 0, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bytes(xor) + bytes(mask)


def icon_file(canvases):
    images = [dib(c) for c in canvases]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for canvas, image in zip(canvases, images):
        out += struct.pack("<BBBBHHII", canvas.size, canvas.size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    return bytes(out)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    with open(sys.argv[1], "wb") as f:
        f.write(icon_file([draw_large(), draw_small()]))


if __name__ == "__main__":
    main()
