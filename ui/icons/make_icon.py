#!/usr/bin/env python3
"""Draws Parlotrim's 32 x 32 icon and writes it as parlotrim.ico, holding the same picture in
16 colours (4 bits a pixel) and in 24-bit colour, each with a transparency mask.

The picture: a sheet of chat log on a blue-violet tile, its lines in blue, and a red arrow
that turns the lines round. Run it from any folder; it writes beside itself."""

import os
import struct

SIZE = 32

# The standard 16-colour palette.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def inside_tile(x, y):
    """The tile is a square with its corners rounded off (radius 5)."""
    r = 5
    cx = min(max(x, r), SIZE - 1 - r)
    cy = min(max(y, r), SIZE - 1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r + 2


def draw():
    """Returns rows of (r, g, b) or None for transparent pixels, top row first."""
    px = [[None] * SIZE for _ in range(SIZE)]
    for y in range(SIZE):
        for x in range(SIZE):
            if inside_tile(x, y):
                # Blue-violet, lighter towards the top left.
                t = (x + y) / (2 * (SIZE - 1))
                px[y][x] = (int(200 - 90 * t), int(200 - 90 * t), 255)
    # Border of the tile.
    for y in range(SIZE):
        for x in range(SIZE):
            if px[y][x] is None:
                continue
            edge = any(
                not (0 <= x + dx < SIZE and 0 <= y + dy < SIZE) or px[y + dy][x + dx] is None
                for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
            if edge:
                px[y][x] = (64, 64, 160)
    # The sheet, with a folded corner.
    left, top, right, bottom = 5, 4, 21, 27
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            fold = x - (right - 4) > y - top
            if fold:
                continue
            border = x in (left, right) or y in (top, bottom) or x - (right - 4) == y - top
            px[y][x] = (96, 96, 96) if border else (255, 255, 255)
    for i in range(5):
        for x in range(right - 4, right - 4 + i + 1):
            px[top + i][x] = (192, 192, 192) if x < right - 4 + i else (96, 96, 96)
    # Lines of the log: alternating lengths, in blue.
    for n, length in enumerate((10, 7, 11, 6, 9, 8)):
        y = 9 + 3 * n
        for x in range(8, 8 + length):
            px[y][x] = (0, 0, 255)
    # The arrow: a red shaft from bottom to top with its head at the top.
    for y in range(9, 26):
        for x in (25, 26):
            px[y][x] = (255, 0, 0)
    for i in range(5):
        for x in range(25 - i, 27 + i):
            px[4 + i][x] = (255, 0, 0)
    return px


def nearest16(rgb):
    return min(range(16), key=lambda i: sum((a - b) ** 2 for a, b in zip(rgb, VGA16[i])))


def mask_rows(px):
    data = b""
    for row in reversed(px):
        bits = 0
        for x, p in enumerate(row):
            if p is None:
                bits |= 1 << (31 - x)
        data += struct.pack(">I", bits)
    return data


def header(bit_count, image_bytes, colours):
    return struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, bit_count, 0, image_bytes, 0, 0,
                       colours, 0)


def image_4bit(px):
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in VGA16)
    xor = b""
    for row in reversed(px):
        idx = [0 if p is None else nearest16(p) for p in row]
        xor += bytes((idx[i] << 4) | idx[i + 1] for i in range(0, SIZE, 2))
    mask = mask_rows(px)
    return header(4, len(xor) + len(mask), 16) + palette + xor + mask


def image_24bit(px):
    xor = b""
    for row in reversed(px):
        for p in row:
            r, g, b = p if p is not None else (0, 0, 0)
            xor += bytes((b, g, r))
    mask = mask_rows(px)
    return header(24, len(xor) + len(mask), 0) + xor + mask


def main():
    px = draw()
    images = [(16, 4, image_4bit(px)), (0, 24, image_24bit(px))]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for colours, bits, data in images:
        out += struct.pack("<BBBBHHII", SIZE, SIZE, colours, 0, 1, bits, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, _, data in images)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "parlotrim.ico")
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
