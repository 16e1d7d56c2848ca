#!/usr/bin/env python3
"""Draws the launcher's 64 x 64 warning picture and writes it as a PNG with
alpha: an orange triangle with rounded corners and a darker rim, and a white
exclamation mark. Every pixel is the coverage of 8 x 8 samples, so the edges
are smooth. Usage: draw_warning_png.py OUTPUT.png
"""
import math
import struct
import sys
import zlib

SIZE = 64
SAMPLES = 8

ORANGE = (247, 152, 29)
RIM = (214, 112, 0)
WHITE = (255, 255, 255)

# The triangle, shrunk by the corner radius; a point is inside the rounded
# triangle when it lies within RADIUS of the shrunk one.
RADIUS = 4.5
APEX = (32.0, 4.0 + RADIUS * 1.6)
LEFT = (2.0 + RADIUS * 1.5, 59.0 - RADIUS)
RIGHT = (62.0 - RADIUS * 1.5, 59.0 - RADIUS)
RIM_WIDTH = 1.6


def segment_distance(p, a, b):
    ax, ay = a
    bx, by = b
    px, py = p
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def inside_triangle(p, a, b, c):
    def side(p1, p2, p3):
        return (p1[0] - p3[0]) * (p2[1] - p3[1]) - (p2[0] - p3[0]) * (p1[1] - p3[1])

    d1, d2, d3 = side(p, a, b), side(p, b, c), side(p, c, a)
    negative = d1 < 0 or d2 < 0 or d3 < 0
    positive = d1 > 0 or d2 > 0 or d3 > 0
    return not (negative and positive)


def triangle_distance(p):
    """Signed distance to the rounded triangle's edge (negative inside)."""
    edge = min(segment_distance(p, APEX, LEFT), segment_distance(p, LEFT, RIGHT),
               segment_distance(p, RIGHT, APEX))
    if inside_triangle(p, APEX, LEFT, RIGHT):
        return -edge - RADIUS
    return edge - RADIUS


def in_mark(p):
    x, y = p
    # The bar narrows towards its foot; the dot is a circle below it.
    if 22.0 <= y <= 43.0:
        half = 3.6 - (y - 22.0) * 0.05
        if abs(x - 32.0) <= half:
            return True
    if math.hypot(x - 32.0, y - 22.0) <= 3.6:
        return True
    return math.hypot(x - 32.0, y - 50.5) <= 3.9


def pixel(px, py):
    shape = rim = mark = 0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            p = (px + (sx + 0.5) / SAMPLES, py + (sy + 0.5) / SAMPLES)
            d = triangle_distance(p)
            if d <= 0:
                shape += 1
                if d > -RIM_WIDTH:
                    rim += 1
                elif in_mark(p):
                    mark += 1
    if shape == 0:
        return (0, 0, 0, 0)
    fill = shape - rim - mark
    color = [(ORANGE[i] * fill + RIM[i] * rim + WHITE[i] * mark) // shape for i in range(3)]
    alpha = (255 * shape) // (SAMPLES * SAMPLES)
    return (color[0], color[1], color[2], alpha)


def png(width, height, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + bytes(v for px in row for v in px) for row in rows)
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) +
            chunk(b"IEND", b""))


def main():
    rows = [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)]
    with open(sys.argv[1], "wb") as out:
        out.write(png(SIZE, SIZE, rows))


if __name__ == "__main__":
    main()
