#!/usr/bin/env python3
"""Writes ui/resources/vardelo.ico: the program's icon, one 32 x 32 image in the 16 standard
colours (4 bits per pixel), drawn below as text, one character per pixel.

A speed chart above a memory module: the yellow data curve and the cyan code curve fall in
steps as the block outgrows each cache level.

Usage: tools/make_icon.py [output.ico]
"""
import struct
import sys
from pathlib import Path

# The 16 colours of the standard palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]

# Pixel characters: '.' transparent, otherwise a palette index in hexadecimal.
#   0 black (chips, outlines)   2 dark green (board)   3 olive (contact shade)
#   4 navy (chart panel)        6 teal (grid)          7 silver (chip highlight)
#   8 grey (frames)             b yellow (data curve, contacts)   e cyan (code curve)
#   f white (axes)
PICTURE = """
................................
.888888888888888888888888888888.
.844444444444444444444444444448.
.84f444444444444444444444444448.
.84fbbbbbbbbbb44444444444444448.
.84fbbbbbbbbbbb4444444444444448.
.84f666666666bb6666666666666648.
.84f444444444bb4444444444444448.
.84feeeeeeee4bbbbbbbbbb44444448.
.84f4444444e4bbbbbbbbbbb4444448.
.84f6666666e6666666666bb6666648.
.84f4444444e4444444444bb4444448.
.84f4444444eeeeeeeeee4bbbbbbb48.
.84f4444444444444444e4bbbbbbb48.
.84f6666666666666666eeeeeeeee48.
.84f444444444444444444444444448.
.84ffffffffffffffffffffffffff48.
.844444444444444444444444444448.
.888888888888888888888888888888.
................................
.000000000000000000000000000000.
.022222222222222222222222222220.
.020000022000002200000220000020.
.020777022077702207770220777020.
.020000022000002200000220000020.
.020000022000002200000220000020.
.020000022000002200000220000020.
.022222222222222222222222222220.
.0b3b3b3b3b3b3b..3b3b3b3b3b3b30.
.0b3b3b3b3b3b3b..3b3b3b3b3b3b30.
.00000000000000..00000000000000.
................................
"""

def rows():
    lines = [line for line in PICTURE.strip("\n").split("\n")]
    assert len(lines) == 32, len(lines)
    for i, line in enumerate(lines):
        assert len(line) == 32, (i, len(line))
    return lines

def icon_bytes():
    lines = rows()
    header = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 4, 0, 512 + 128, 0, 0, 16, 0)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    colour = bytearray()
    mask = bytearray()
    for line in reversed(lines):  # bottom-up rows
        for x in range(0, 32, 2):
            hi, lo = (0 if c == "." else int(c, 16) for c in line[x:x + 2])
            colour.append(hi << 4 | lo)
        bits = 0
        for c in line:
            bits = bits << 1 | (c == ".")
        mask += bits.to_bytes(4, "big")
    image = header + palette + bytes(colour) + bytes(mask)
    assert len(image) == 744, len(image)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", 32, 32, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image

def main():
    top = Path(__file__).resolve().parent.parent
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else top / "ui" / "resources" / "vardelo.ico"
    out.write_bytes(icon_bytes())

if __name__ == "__main__":
    main()
