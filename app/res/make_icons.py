#!/usr/bin/env python3
"""Draws the program's icons as .ico files (32x32 and 16x16, 32-bit with alpha) and its
bitmaps as .bmp files.

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


def badge(size, fill, glyph):
    """A round badge in the fill colour with a white glyph given as a predicate on (x, y) in 0..32."""
    px = [[(0, 0, 0, 0)] * size for _ in range(size)]
    s = size / 32.0
    for y in range(size):
        for x in range(size):
            fx, fy = (x + 0.5) / s, (y + 0.5) / s
            d = ((fx - 16) ** 2 + (fy - 16) ** 2) ** 0.5
            if d <= 15:
                px[y][x] = (255, 255, 255, 255) if glyph(fx, fy) else (fill if d < 13.8 else (40, 40, 40, 255))
    return px


def seg(x, y, x0, y0, x1, y1, w):
    """Point (x, y) lies within w/2 of the segment (x0, y0)-(x1, y1)."""
    dx, dy = x1 - x0, y1 - y0
    t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / float(dx * dx + dy * dy)))
    return ((x - x0 - t * dx) ** 2 + (y - y0 - t * dy) ** 2) ** 0.5 <= w / 2.0


def ring(x, y, cx, cy, r, w):
    return abs(((x - cx) ** 2 + (y - cy) ** 2) ** 0.5 - r) <= w / 2.0


GLYPHS = {
    "play": lambda x, y: 11 <= x <= 23 and abs(y - 16) <= (23 - x) * 0.6,
    "pause": lambda x, y: 9 <= y <= 23 and (10 <= x <= 14 or 18 <= x <= 22),
    "block": lambda x, y: ring(x, y, 16, 16, 8, 3) or seg(x, y, 10, 10, 22, 22, 3),
    "eye": lambda x, y: abs(y - 16) <= 6 * (1 - ((x - 16) / 10.0) ** 2) and 6 <= x <= 26
    and not (((x - 16) ** 2 + (y - 16) ** 2) ** 0.5 <= 3.2 and ((x - 16) ** 2 + (y - 16) ** 2) ** 0.5 > 1.5),
    "globe": lambda x, y: ring(x, y, 16, 16, 9, 2) or seg(x, y, 7, 16, 25, 16, 2) or seg(x, y, 16, 7, 16, 25, 2),
    "bars": lambda x, y: y <= 24 and ((8 <= x <= 11 and y >= 17) or (14 <= x <= 17 and y >= 11) or (20 <= x <= 23 and y >= 7)),
    "bell": lambda x, y: (9 <= y <= 21 and abs(x - 16) <= 3 + (y - 9) * 0.42) or (((x - 16) ** 2 + (y - 24) ** 2) ** 0.5 <= 2),
    "antenna": lambda x, y: seg(x, y, 16, 14, 16, 26, 3) or ring(x, y, 16, 12, 4, 2) or ring(x, y, 16, 12, 8, 2) and y < 12,
    "question": lambda x, y: (ring(x, y, 16, 12, 5, 3) and not (y > 12 and x < 16)) or seg(x, y, 16, 17, 16, 20, 3)
    or ((x - 16) ** 2 + (y - 24.5) ** 2) <= 3,
    "power": lambda x, y: (ring(x, y, 16, 17, 8, 3) and not (y < 13 and abs(x - 16) < 4)) or seg(x, y, 16, 6, 16, 16, 3),
    "coin": lambda x, y: ring(x, y, 16, 16, 8, 2.5) or seg(x, y, 16, 10, 16, 22, 2.5),
    "letter": lambda x, y: (9 <= x <= 23 and 10 <= y <= 22 and (x <= 10 or x >= 22 or y <= 11 or y >= 21))
    or seg(x, y, 9, 10, 16, 17, 2) or seg(x, y, 23, 10, 16, 17, 2),
    "star": lambda x, y: seg(x, y, 16, 7, 16, 25, 3) or seg(x, y, 8, 12, 24, 20, 3) or seg(x, y, 24, 12, 8, 20, 3),
    "disk": lambda x, y: 9 <= x <= 23 and 8 <= y <= 24 and not (12 <= x <= 20 and 8 <= y <= 13),
    "plus": lambda x, y: seg(x, y, 9, 16, 23, 16, 4) or seg(x, y, 16, 9, 16, 23, 4),
    "minus": lambda x, y: seg(x, y, 9, 16, 23, 16, 4),
    "lens": lambda x, y: ring(x, y, 14, 14, 5.5, 2.5) or seg(x, y, 18, 18, 24, 24, 3.5),
    "cross": lambda x, y: seg(x, y, 10, 10, 22, 22, 3.5) or seg(x, y, 22, 10, 10, 22, 3.5),
    "lock": lambda x, y: (ring(x, y, 16, 13, 5, 2.5) and y <= 13) or (10 <= x <= 22 and 14 <= y <= 24
    and not (abs(x - 16) <= 1 and 17 <= y <= 21)),
    "refresh": lambda x, y: (ring(x, y, 16, 16, 7, 3) and not (x > 16 and y < 16))
    or (15 <= x <= 22 and abs(y - 9) <= (22 - x) * 0.7),
}

WHITE = (255, 255, 255, 255)
ICONS = {
    "tavrick.ico": lambda n: shield(n, (70, 110, 180, 255), WHITE),      # 128: idle
    "protecting.ico": lambda n: shield(n, (40, 160, 70, 255), WHITE),    # 157: protecting
    "start.ico": lambda n: badge(n, (40, 160, 70, 255), GLYPHS["play"]),        # 217
    "stop.ico": lambda n: badge(n, (200, 60, 50, 255), GLYPHS["pause"]),        # 222
    "ddos.ico": lambda n: badge(n, (210, 120, 30, 255), GLYPHS["block"]),       # 223
    "monitor.ico": lambda n: badge(n, (50, 120, 200, 255), GLYPHS["eye"]),      # 224
    "website.ico": lambda n: badge(n, (30, 150, 150, 255), GLYPHS["globe"]),    # 225
    "resources.ico": lambda n: badge(n, (110, 80, 170, 255), GLYPHS["bars"]),   # 226
    "alerts.ico": lambda n: badge(n, (220, 170, 20, 255), GLYPHS["bell"]),      # 227
    "help.ico": lambda n: badge(n, (60, 130, 210, 255), GLYPHS["question"]),    # 229
    "exit.ico": lambda n: badge(n, (120, 120, 120, 255), GLYPHS["power"]),      # 230
    "credit.ico": lambda n: badge(n, (200, 150, 30, 255), GLYPHS["coin"]),      # 231
    "question.ico": lambda n: badge(n, (70, 150, 90, 255), GLYPHS["letter"]),   # 232
    "related.ico": lambda n: badge(n, (190, 70, 140, 255), GLYPHS["star"]),     # 234
    "remote.ico": lambda n: badge(n, (40, 110, 160, 255), GLYPHS["antenna"]),   # 239
    "save.ico": lambda n: badge(n, (60, 100, 170, 255), GLYPHS["disk"]),        # 241
    "outer_delete.ico": lambda n: badge(n, (200, 60, 50, 255), GLYPHS["minus"]),  # 242
    "outer_add.ico": lambda n: badge(n, (40, 160, 70, 255), GLYPHS["plus"]),      # 243
    "scan.ico": lambda n: badge(n, (230, 140, 20, 255), GLYPHS["lens"]),        # 265: the scan blinking
    "clear.ico": lambda n: badge(n, (150, 150, 150, 255), GLYPHS["cross"]),     # 3200: clear the result list
    "refresh.ico": lambda n: badge(n, (40, 140, 110, 255), GLYPHS["refresh"]),  # 261
    "logonguard.ico": lambda n: badge(n, (170, 60, 60, 255), GLYPHS["lock"]),   # 281: logon guard
}


def chain_bitmap(size):
    """8-bit bitmap of two linked rings (address and port both given) on the light grey that
    LR_LOADMAP3DCOLORS turns into the button face."""
    palette = [(192, 192, 192), (40, 90, 170), (255, 255, 255)]
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            fx, fy = (x + 0.5) * 24.0 / size, (y + 0.5) * 24.0 / size
            left = ring(fx, fy, 8.5, 12, 5.5, 2.6)
            right = ring(fx, fy, 15.5, 12, 5.5, 2.6)
            row.append(1 if left or right else 0)
        rows.append(row)
    stride = (size + 3) // 4 * 4
    pixels = b"".join(bytes(r) + bytes(stride - size) for r in reversed(rows))
    colours = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in palette + [(0, 0, 0)] * (256 - len(palette)))
    info = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 8, 0, len(pixels), 2835, 2835, 256, 0)
    offset = 14 + len(info) + len(colours)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + colours + pixels


BITMAPS = {
    "ip_and_port.bmp": lambda: chain_bitmap(24),  # 251
}


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    for name, draw in ICONS.items():
        data = ico([draw(32), draw(16)])
        target = out / name
        if not target.exists() or target.read_bytes() != data:
            target.write_bytes(data)
    for name, draw in BITMAPS.items():
        data = draw()
        target = out / name
        if not target.exists() or target.read_bytes() != data:
            target.write_bytes(data)


if __name__ == "__main__":
    main()
