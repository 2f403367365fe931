#!/usr/bin/env python3
"""Turns the text pixel map into the program's icon: 32 x 32, 16 colours, 1-bit mask.

Each map line is one row, top first; a hex digit is an index into the standard 16-colour
palette, '.' is transparent. Usage: make_icon.py Nimbrel.pixels Nimbrel.ico
"""
import struct
import sys

PALETTE = [  # (R, G, B), the standard 16-colour order
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
SIZE = 32


def build(rows):
    if len(rows) != SIZE or any(len(r) != SIZE for r in rows):
        raise SystemExit("the map must be 32 lines of 32 characters")
    colour = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # bitmaps are stored bottom-up
        for x in range(0, SIZE, 2):
            hi, lo = (0 if c == '.' else int(c, 16) for c in row[x:x + 2])
            colour.append(hi << 4 | lo)
        bits = 0
        for c in row:
            bits = bits << 1 | (c == '.')
        mask += bits.to_bytes(SIZE // 8, 'big')
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 4, 0,
                         len(colour) + len(mask), 0, 0, 16, 0)
    palette = b''.join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    image = header + palette + bytes(colour) + bytes(mask)
    assert len(image) == 744
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    source, target = sys.argv[1:3]
    with open(source) as f:
        rows = f.read().split('\n')[:SIZE]
    with open(target, 'wb') as f:
        f.write(build(rows))


if __name__ == '__main__':
    main()
