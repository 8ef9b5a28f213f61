#!/usr/bin/env python3
"""Draws the program's icons and writes them as res/updater.ico and res/spare.ico.

Each file holds one 32x32, 24 bits per pixel image, the form the resource
script expects. The drawing is plain arithmetic, so every run writes the same
bytes and the committed files can be regenerated at will.
"""
import math
import os
import struct
import sys

SIZE = 32
SUBSAMPLES = 4  # per axis: smooths edges without any alpha channel

# 24 bpp icons carry no transparency: the corners get the classic dialog face
# colour so they blend with the windows they appear in.
FACE = (212, 208, 200)
NAVY = (22, 46, 110)
NAVY_EDGE = (10, 24, 64)
LIGHT = (236, 244, 255)
TEAL = (0, 128, 112)
TEAL_EDGE = (0, 72, 64)
WHITE = (255, 255, 255)


def inside_rounded_square(x, y, left, top, right, bottom, radius):
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def inside_triangle(x, y, a, b, c):
    def side(p, q):
        return (q[0] - p[0]) * (y - p[1]) - (q[1] - p[1]) * (x - p[0])
    s1, s2, s3 = side(a, b), side(b, c), side(c, a)
    return (s1 >= 0 and s2 >= 0 and s3 >= 0) or (s1 <= 0 and s2 <= 0 and s3 <= 0)


def updater_colour(x, y):
    """Dark blue rounded square with a light circular arrow, clockwise."""
    if not inside_rounded_square(x, y, 1, 1, 31, 31, 6):
        return FACE
    if not inside_rounded_square(x, y, 2, 2, 30, 30, 5):
        return NAVY_EDGE
    cx, cy = 16.0, 16.0
    dx, dy = x - cx, y - cy
    r = math.hypot(dx, dy)
    # Angle measured clockwise from straight up, in degrees 0..360.
    angle = math.degrees(math.atan2(dx, -dy)) % 360.0
    # A ring open at the top right, its head pointing on clockwise into the gap.
    start, end = 60.0, 330.0
    if 7.0 <= r <= 10.5 and start <= angle <= end:
        return LIGHT
    t = math.radians(end)
    mid = (cx + 8.75 * math.sin(t), cy - 8.75 * math.cos(t))
    tangent = (math.cos(t), math.sin(t))
    radial = (math.sin(t), -math.cos(t))
    base_a = (mid[0] + radial[0] * 5.5, mid[1] + radial[1] * 5.5)
    base_b = (mid[0] - radial[0] * 5.5, mid[1] - radial[1] * 5.5)
    tip = (mid[0] + tangent[0] * 7.0, mid[1] + tangent[1] * 7.0)
    if inside_triangle(x, y, base_a, base_b, tip):
        return LIGHT
    return NAVY


def spare_colour(x, y):
    """Teal disc with a white down-arrow."""
    r = math.hypot(x - 16.0, y - 16.0)
    if r > 15.0:
        return FACE
    if r > 13.8:
        return TEAL_EDGE
    if 13.5 <= x <= 18.5 and 6.0 <= y <= 17.0:
        return WHITE
    if inside_triangle(x, y, (8.0, 16.0), (24.0, 16.0), (16.0, 25.0)):
        return WHITE
    return TEAL


def render(colour_at):
    """Returns rows top to bottom, each a list of (r, g, b)."""
    rows = []
    n = SUBSAMPLES
    for py in range(SIZE):
        row = []
        for px in range(SIZE):
            total = [0, 0, 0]
            for sy in range(n):
                for sx in range(n):
                    c = colour_at(px + (sx + 0.5) / n, py + (sy + 0.5) / n)
                    total[0] += c[0]
                    total[1] += c[1]
                    total[2] += c[2]
            row.append(tuple((v + n * n // 2) // (n * n) for v in total))
        rows.append(row)
    return rows


def ico_bytes(rows):
    xor_stride = (SIZE * 3 + 3) & ~3
    and_stride = ((SIZE + 31) // 32) * 4
    xor = bytearray()
    for row in reversed(rows):  # DIB rows are stored bottom-up
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += bytes(xor_stride - len(line))
        xor += line
    # All-zero AND mask: every pixel opaque.
    mask = bytes(and_stride * SIZE)
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 24, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    image = header + bytes(xor) + mask
    icondir = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 0, 0, 1, 24, len(image),
                        len(icondir) + 16)
    return icondir + entry + image


def main():
    res = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'res')
    for name, colour_at in (('updater.ico', updater_colour),
                            ('spare.ico', spare_colour)):
        path = os.path.normpath(os.path.join(res, name))
        with open(path, 'wb') as f:
            f.write(ico_bytes(render(colour_at)))
        print(f'wrote {path}')
    return 0


if __name__ == '__main__':
    sys.exit(main())
