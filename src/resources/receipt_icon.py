#!/usr/bin/env python3
"""Writes the program's icon, a printed receipt, as a .ico with 16, 32 and 48 pixel images.

The drawing below is the source: one character per pixel at 16x16, the larger images are the
same pixels scaled up, so the small one stays sharp. Usage: receipt_icon.py OUTPUT.ico"""

import struct
import sys

RECEIPT = [
    "..KKKKKKKKKKKK..",
    "..KWWWWWWWWWWK..",
    "..KWBBBBBBBBWK..",
    "..KWWWWWWWWWWK..",
    "..KWGGGGGGGWWK..",
    "..KWWWWWWWWWWK..",
    "..KWGGGGGGGGWK..",
    "..KWWWWWWWWWWK..",
    "..KWGGGGGWWWWK..",
    "..KWWWWWWWWWWK..",
    "..KWGGGGGGGGWK..",
    "..KWWWWWWWWWWK..",
    "..KWGGGWWKKKWK..",
    "..KWWKWWKWWKWK..",
    "...KK.KK.KK.K...",
    "................",
]

# Outline, paper, printed lines and the heading, as (red, green, blue, alpha).
COLOURS = {
    ".": (0, 0, 0, 0),
    "K": (0x26, 0x32, 0x38, 0xFF),
    "W": (0xFF, 0xFF, 0xFF, 0xFF),
    "G": (0x78, 0x90, 0x9C, 0xFF),
    "B": (0x1E, 0x88, 0xE5, 0xFF),
}
SCALES = (1, 2, 3)


def image(scale):
    """One icon image: a 32-bit bitmap header, the pixels bottom row first, an empty AND mask."""
    size = 16 * scale
    pixels = bytearray()
    for row in reversed(RECEIPT):
        line = bytearray()
        for char in row:
            red, green, blue, alpha = COLOURS[char]
            line += bytes((blue, green, red, alpha)) * scale
        pixels += bytes(line) * scale
    mask = bytes(((size + 31) // 32) * 4 * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return header + bytes(pixels) + mask


def icon():
    images = [image(scale) for scale in SCALES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = len(out) + 16 * len(images)
    for scale, data in zip(SCALES, images):
        out += struct.pack("<BBBBHHII", 16 * scale, 16 * scale, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


if __name__ == "__main__":
    assert all(len(row) == 16 for row in RECEIPT) and len(RECEIPT) == 16
    with open(sys.argv[1], "wb") as f:
        f.write(icon())
