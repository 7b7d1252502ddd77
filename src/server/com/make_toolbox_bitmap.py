#!/usr/bin/env python3
"""Writes toolbox.bmp, the 16 x 16, 16-colour toolbox picture of the control: a chip card."""
import struct
import sys

# The standard 16-colour palette (B, G, R, 0).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]  # (R, G, B)

# Rows from the top: '.' background (light grey), 'w' card, 'k' outline, 'y' chip, 'b' stripe.
PICTURE = [
    "................",
    "................",
    ".kkkkkkkkkkkkkk.",
    ".kwwwwwwwwwwwwk.",
    ".kwyyyywwwwwwwk.",
    ".kwykkywwwwwwwk.",
    ".kwyyyywwwwwwwk.",
    ".kwwwwwwwwwwwwk.",
    ".kbbbbbbbbbbbbk.",
    ".kwwwwwwwwwwwwk.",
    ".kwkkkwkkwkkkwk.",
    ".kwwwwwwwwwwwwk.",
    ".kkkkkkkkkkkkkk.",
    "................",
    "................",
    "................",
]
INDEX = {".": 7, "w": 15, "k": 0, "y": 11, "b": 4}


def main(path):
    rows = []
    for line in reversed(PICTURE):  # bottom-up
        row = bytearray()
        for x in range(0, 16, 2):
            row.append(INDEX[line[x]] << 4 | INDEX[line[x + 1]])
        rows.append(bytes(row))
    pixels = b"".join(rows)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, 16, 16, 1, 4, 0, len(pixels), 2835, 2835, 16, 0)
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(header + info + palette + pixels)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "toolbox.bmp")
