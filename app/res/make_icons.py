#!/usr/bin/env python3
"""Draws the program's icons as .ico files (32x32 and 16x16, 32-bit with alpha).

Usage: make_icons.py OUTPUT_DIR
Icons are drawn from simple shapes so no binary art lives in the repository.
"""
import struct
import sys
from pathlib import Path


def shield(size, fill, mark):
    """A shield with a check mark: the program's emblem."""
    px = [[(0, 0, 0, 0)] * size for _ in range(size)]
    s = size / 32.0
    for y in range(size):
        for x in range(size):
            fx, fy = (x + 0.5) / s, (y + 0.5) / s
            half = 12.0 if fy < 18 else 12.0 * max(0.0, (30 - fy) / 12.0)
            if 3 <= fy <= 30 and abs(fx - 16) <= half:
                edge = abs(fx - 16) > half - 1.6 or fy < 4.6
                px[y][x] = (40, 40, 40, 255) if edge else fill
    # check mark
    for t in range(100):
        f = t / 99.0
        pts = [(9 + 5 * f, 15 + 5 * f)] if f < 0.5 else []
        pts.append((14 + 9 * f, 20 - 11 * f))
        for (cx, cy) in pts:
            for dy in (-1, 0, 1):
                for dx in (-1, 0, 1):
                    x, y = int(cx * s) + dx, int(cy * s) + dy
                    if 0 <= x < size and 0 <= y < size and px[y][x][3]:
                        px[y][x] = mark
    return px


def ico(images):
    header = struct.pack("<HHH", 0, 1, len(images))
    blobs = []
    for px in images:
        size = len(px)
        bmp = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
        for row in reversed(px):
            bmp += b"".join(struct.pack("BBBB", b, g, r, a) for (r, g, b, a) in row)
        stride = ((size + 31) // 32) * 4
        for row in reversed(px):
            bits = bytearray(stride)
            for x, (_, _, _, a) in enumerate(row):
                if a == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            bmp += bytes(bits)
        blobs.append((size, bmp))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, bmp in blobs:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(bmp), offset)
        offset += len(bmp)
    return header + entries + b"".join(b for _, b in blobs)


ICONS = {
    "tavrick.ico": ((70, 110, 180, 255), (255, 255, 255, 255)),      # idle: blue shield
    "protecting.ico": ((40, 160, 70, 255), (255, 255, 255, 255)),    # protecting: green shield
}


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    for name, (fill, mark) in ICONS.items():
        data = ico([shield(32, fill, mark), shield(16, fill, mark)])
        target = out / name
        if not target.exists() or target.read_bytes() != data:
            target.write_bytes(data)


if __name__ == "__main__":
    main()
