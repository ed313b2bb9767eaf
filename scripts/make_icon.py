#!/usr/bin/python3
"""Draws the Velkra Installer icon (a blue box with a green down arrow) and writes it as a .ico."""

import os
import struct
import sys

DEFAULT_OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources", "VelkraInstall.ico")

# Windows' standard 16-colour palette, in its usual order, as (R, G, B).
PALETTE_16 = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
PALETTE_2 = [(0x00, 0x00, 0x00), (0xFF, 0xFF, 0xFF)]

# What each part of the drawing becomes: (index in PALETTE_16, index in PALETTE_2).
# None is a transparent pixel; in monochrome the box is white and the arrow solid black.
CLEAR = None
BOX_EDGE = (4, 0)
BOX_FILL = (12, 1)
BOX_LID = (14, 1)
ARROW_EDGE = (2, 0)
ARROW_FILL = (10, 0)


def shape(size, inside):
    """The pixels whose centres fall inside a region given in 0..1 units of the icon's side."""
    return {(x, y) for y in range(size) for x in range(size)
            if inside((x + 0.5) / size, (y + 0.5) / size)}


def edge(pixels):
    """The pixels of a shape that touch a pixel outside it, so that it keeps a one-pixel outline."""
    return {(x, y) for (x, y) in pixels
            if any(n not in pixels for n in ((x - 1, y), (x + 1, y), (x, y - 1), (x, y + 1)))}


def draw(size):
    """Returns rows top to bottom of parts (see above) for a square icon of the given side."""
    grid = [[CLEAR] * size for _ in range(size)]

    def paint(pixels, part):
        for (x, y) in pixels:
            grid[y][x] = part

    box = shape(size, lambda u, v: 0.06 < u < 0.94 and 0.50 < v < 0.94)
    lid = shape(size, lambda u, v: 0.06 < u < 0.94 and 0.50 < v < 0.64)
    paint(box, BOX_FILL)
    paint(lid, BOX_LID)
    paint(edge(box), BOX_EDGE)
    paint(edge(lid), BOX_EDGE)

    shaft = shape(size, lambda u, v: 0.36 < u < 0.64 and 0.0 < v < 0.46)
    head = shape(size, lambda u, v: 0.38 < v < 0.84 and abs(u - 0.5) < (0.84 - v) * 0.78)
    arrow = shaft | head
    paint(arrow, ARROW_FILL)
    paint(edge(arrow), ARROW_EDGE)
    return grid


def row_bytes(values, bpp):
    """Packs one row of palette indices, most significant bits first, padded to 4 bytes as DIBs are."""
    bits = 0
    for v in values:
        bits = (bits << bpp) | v
    nbits = len(values) * bpp
    stride = (nbits + 31) // 32 * 4
    bits <<= stride * 8 - nbits
    return bits.to_bytes(stride, "big")


def icon_image(grid, bpp):
    """One icon image as Windows stores it: header, palette, colour bitmap, then AND mask."""
    size = len(grid)
    palette = PALETTE_2 if bpp == 1 else PALETTE_16
    which = 1 if bpp == 1 else 0
    # Transparent pixels are black in the colour bitmap, so AND-then-XOR leaves the screen as it was.
    xor_rows = [row_bytes([0 if p is None else p[which] for p in row], bpp) for row in grid]
    and_rows = [row_bytes([1 if p is None else 0 for p in row], 1) for row in grid]
    # DIB rows go bottom-up.
    pixels = b"".join(reversed(xor_rows)) + b"".join(reversed(and_rows))
    # The height counts the colour bitmap and the mask stacked together, hence twice the side.
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, len(pixels), 0, 0, 0, 0)
    quads = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    return header + quads + pixels


def ico_file(images):
    """Joins (side, colours, bpp, image bytes) into a .ico: ICONDIR, ICONDIRENTRY list, then images."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (side, colours, bpp, data) in images:
        out += struct.pack("<BBBBHHII", side, side, colours, 0, 1, bpp, len(data), offset)
        offset += len(data)
    return out + b"".join(data for (_, _, _, data) in images)


def main():
    out_path = sys.argv[1] if len(sys.argv) > 1 else DEFAULT_OUT
    big, small = draw(32), draw(16)
    images = [
        (32, 2, 1, icon_image(big, 1)),
        (32, 16, 4, icon_image(big, 4)),
        (16, 16, 4, icon_image(small, 4)),
    ]
    with open(out_path, "wb") as f:
        f.write(ico_file(images))
    print("wrote", os.path.normpath(out_path))


if __name__ == "__main__":
    main()
