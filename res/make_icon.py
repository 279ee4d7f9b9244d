#!/usr/bin/env python3
"""Writes QVUninst.ico, the program icon (resource 105): an envelope coming out
of a printer, as one 32x32 and one 16x16 image in the 16 standard colours.

Kept as pixel art here rather than as a binary file so that a change to the
picture is a readable diff. Usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

# The 16-colour palette every display of the 95/98 family can show, as RGB.
PALETTE = [
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
]
# Pixel letters to palette indices; '.' is transparent.
COLOURS = {'K': 0, 'S': 7, 'G': 8, 'R': 9, 'L': 10, 'W': 15}

ART_32 = """
................................
................................
......KKKKKKKKKKKKKKKKKKKK......
......KKKWWWWWWWWWWWWWWKKK......
......KWWKKWWWWWWWWWWKKWWK......
......KWWWWKKWWWWWWKKWWWWK......
......KWWWWWWKKWWKKWWWWWWK......
......KWWWWWWWWKKWWWWWWWWK......
......KWWWWWWWWWWWWWWWWWWK......
......KWWWWWWWWWWWWWWRRRWK......
......KWWWWWWWWWWWWWWRRRWK......
......KWWWWWWWWWWWWWWRRRWK......
......KWWWWWWWWWWWWWWWWWWK......
...KKKKWWWWWWWWWWWWWWWWWWKKKK...
...KSSSKKKKKKKKKKKKKKKKKKSSSK...
...KKKKKKKKKKKKKKKKKKKKKKKKKK...
.KKKKKKKKKKKKKKKKKKKKKKKKKKKKKK.
.KSSSSSSSSSSSSSSSSSSSSSSKKKKKSK.
.KSSSSSSSSSSSSSSSSSSSSSSKLLLKSK.
.KSSSGGGGGGGGGGGGGGGGSSSKLLLKSK.
.KSSSSSSSSSSSSSSSSSSSSSSKKKKKSK.
.KSSSSSSSSSSSSSSSSSSSSSSSSSSSSK.
.KSSSSSSSSSSSSSSSSSSSSSSSSSSSSK.
.KSSSSSSSSSSSSSSSSSSSSSSSSSSSSK.
.KGGGGGGGGGGGGGGGGGGGGGGGGGGGGK.
.KGGGGGGGGGGGGGGGGGGGGGGGGGGGGK.
.KKKKKKKKKKKKKKKKKKKKKKKKKKKKKK.
....KKKKKKKKKKKKKKKKKKKKKKKK....
....KWSSSSSSSSSSSSSSSSSSSSWK....
....KKKKKKKKKKKKKKKKKKKKKKKK....
................................
................................
"""

ART_16 = """
................
...KKKKKKKKKK...
...KKWWWWWWKK...
...KWKWWWWKWK...
...KWWKWWKWWK...
...KWWWKKWRRK...
...KWWWWWWRRK...
.KKKWWWWWWWWKKK.
.KSKKKKKKKKKKSK.
KKKKKKKKKKKKKKKK
KSSSSSSSSSSKLKSK
KSSGGGGGGSSKKKSK
KGGGGGGGGGGGGGGK
KKKKKKKKKKKKKKKK
..KWSSSSSSSSSWK.
..KKKKKKKKKKKKK.
"""


def image(art, size):
    """One icon image: BITMAPINFOHEADER, palette, 4-bit colour rows and the
    1-bit transparency mask, both bottom-up with rows padded to 32 bits."""
    rows = art.split()
    if len(rows) != size or any(len(row) != size for row in rows):
        sys.exit(f"make_icon: the {size}x{size} art is not {size} rows of {size} pixels")
    colour_stride = (size * 4 + 31) // 32 * 4
    mask_stride = (size + 31) // 32 * 4
    colour = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(colour_stride)
        bits = bytearray(mask_stride)
        for x, pixel in enumerate(row):
            if pixel == '.':
                bits[x // 8] |= 0x80 >> (x % 8)
                continue
            line[x // 2] |= COLOURS[pixel] << (0 if x % 2 else 4)
        colour += line
        mask += bits
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, len(colour) + len(mask), 0, 0, 0, 0)
    palette = b''.join(struct.pack('<BBBB', rgb & 0xFF, rgb >> 8 & 0xFF, rgb >> 16, 0) for rgb in PALETTE)
    return header + palette + bytes(colour) + bytes(mask)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    images = [(32, image(ART_32, 32)), (16, image(ART_16, 16))]
    offset = 6 + 16 * len(images)
    directory = struct.pack('<HHH', 0, 1, len(images))
    for size, data in images:
        directory += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], 'wb') as out:
        out.write(directory + b''.join(data for _, data in images))


if __name__ == '__main__':
    main()
