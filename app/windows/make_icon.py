#!/usr/bin/env python3
"""Draws the program's icon (a plug-in card with a flash across it) and
writes it as a Windows .ico with a 32x32 and a 16x16 image, 32 bits per pixel
with an AND mask. Usage: make_icon.py OUT.ico"""
import struct
import sys

BACK = (0x1E, 0x3A, 0x8A, 255)    # card board, blue
EDGE = (0x0F, 0x1F, 0x4F, 255)
GOLD = (0xE8, 0xB8, 0x20, 255)    # edge contacts
CHIP = (0x20, 0x20, 0x20, 255)
BOLT = (0xFF, 0xE0, 0x30, 255)
BOLT_EDGE = (0xA0, 0x60, 0x00, 255)
CLEAR = (0, 0, 0, 0)


def inside_bolt(x, y):
    """The flash, in unit coordinates (0..1, y downwards)."""
    upper = [(0.62, 0.05), (0.30, 0.52), (0.52, 0.52)]
    lower = [(0.40, 0.95), (0.74, 0.42), (0.50, 0.42)]
    return in_triangle(x, y, *upper) or in_triangle(x, y, *lower) or \
        (0.40 <= y <= 0.54 and 0.36 <= x <= 0.66 and abs((x - 0.51) * 1.2) < 0.2)


def in_triangle(x, y, a, b, c):
    def side(p, q):
        return (x - q[0]) * (p[1] - q[1]) - (p[0] - q[0]) * (y - q[1])
    d1, d2, d3 = side(a, b), side(b, c), side(c, a)
    neg = d1 < 0 or d2 < 0 or d3 < 0
    pos = d1 > 0 or d2 > 0 or d3 > 0
    return not (neg and pos)


def pixel(size, px, py):
    x = (px + 0.5) / size
    y = (py + 0.5) / size
    if inside_bolt(x, y):
        near_edge = any(not inside_bolt(x + dx / size, y + dy / size)
                        for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
        return BOLT_EDGE if near_edge and size >= 32 else BOLT
    if 0.06 <= x <= 0.94 and 0.16 <= y <= 0.80:
        if x < 0.09 or x > 0.91 or y < 0.19 or y > 0.77:
            return EDGE
        if 0.14 <= x <= 0.32 and 0.28 <= y <= 0.46:
            return CHIP
        return BACK
    if 0.80 < y <= 0.90 and 0.14 <= x <= 0.86:
        # edge contacts: gold fingers with gaps
        return GOLD if int((x - 0.14) * size) % 3 != 2 or size < 32 else CLEAR
    return CLEAR


def image(size):
    rows = []
    mask_rows = []
    for py in reversed(range(size)):  # bottom-up rows
        row = b""
        bits = 0
        mask = bytearray()
        for px in range(size):
            r, g, b, a = pixel(size, px, py)
            row += bytes((b, g, r, a))
            bits = (bits << 1) | (1 if a == 0 else 0)
            if px % 8 == 7:
                mask.append(bits)
                bits = 0
        while len(mask) % 4:
            mask.append(0)
        rows.append(row)
        mask_rows.append(bytes(mask))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + b"".join(mask_rows)


def main():
    images = [image(32), image(16)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
