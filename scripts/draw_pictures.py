#!/usr/bin/env python3
"""Draws the program's icon and the three button pictures into resources/ as PNG files.

The pictures are simple shapes, rasterised here with 4x4 supersampling, so they can be
redrawn exactly from this script: python3 scripts/draw_pictures.py
"""
import math
import os
import struct
import zlib

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources")
SAMPLES = 4


def polygon(points):
    def inside(x, y):
        hit = False
        j = len(points) - 1
        for i in range(len(points)):
            xi, yi = points[i]
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                hit = not hit
            j = i
        return hit
    return inside


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r_out, r_in):
    return lambda x, y: r_in * r_in <= (x - cx) ** 2 + (y - cy) ** 2 <= r_out * r_out


def regular_polygon(cx, cy, r, n, turn):
    return polygon([(cx + r * math.cos(turn + 2 * math.pi * k / n),
                     cy + r * math.sin(turn + 2 * math.pi * k / n)) for k in range(n)])


def render(size, layers):
    """layers: (shape, (r, g, b, a)) painted in order over a transparent background."""
    pixels = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0.0
            for shape, colour in layers:
                cover = 0
                for sy in range(SAMPLES):
                    for sx in range(SAMPLES):
                        if shape(px + (sx + 0.5) / SAMPLES, py + (sy + 0.5) / SAMPLES):
                            cover += 1
                if cover == 0:
                    continue
                alpha = colour[3] / 255.0 * cover / (SAMPLES * SAMPLES)
                out_a = alpha + a * (1 - alpha)
                if out_a > 0:
                    r = (colour[0] * alpha + r * a * (1 - alpha)) / out_a
                    g = (colour[1] * alpha + g * a * (1 - alpha)) / out_a
                    b = (colour[2] * alpha + b * a * (1 - alpha)) / out_a
                a = out_a
            row.append((round(r), round(g), round(b), round(a * 255)))
        pixels.append(row)
    return pixels


def write_png(path, pixels):
    height, width = len(pixels), len(pixels[0])
    raw = b"".join(b"\x00" + bytes(c for p in row for c in p) for row in pixels)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as out:
        out.write(png)


INK = (40, 48, 64, 255)


def program_icon(size):
    s = size / 32.0
    page = polygon([(6 * s, 2 * s), (21 * s, 2 * s), (27 * s, 8 * s), (27 * s, 30 * s), (6 * s, 30 * s)])
    page_inner = polygon([(7.5 * s, 3.5 * s), (20.4 * s, 3.5 * s), (25.5 * s, 8.6 * s),
                          (25.5 * s, 28.5 * s), (7.5 * s, 28.5 * s)])
    fold = polygon([(21 * s, 2 * s), (21 * s, 8 * s), (27 * s, 8 * s)])
    layers = [(page, INK), (page_inner, (255, 255, 255, 255)), (fold, (150, 160, 180, 255))]
    # Text lines above and below a highlighted band: the refreshed block.
    for y in (6, 10):
        layers.append((rect(10 * s, y * s, 19 * s, (y + 1.5) * s), (150, 160, 180, 255)))
    layers.append((rect(8.5 * s, 13 * s, 24.5 * s, 21 * s), (52, 120, 220, 255)))
    for y in (15, 18):
        layers.append((rect(11 * s, y * s, 22 * s, (y + 1.5) * s), (255, 255, 255, 255)))
    for y in (23.5, 26):
        layers.append((rect(10 * s, y * s, 22 * s, (y + 1.5) * s), (150, 160, 180, 255)))
    return render(size, layers)


def select_picture():
    back = polygon([(2, 5), (9, 5), (11, 7), (20, 7), (20, 18), (2, 18)])
    front = polygon([(2, 18), (5, 10), (21.5, 10), (18.5, 18)])
    return render(22, [(back, (196, 140, 30, 255)), (front, (245, 196, 70, 255)),
                       (polygon([(2, 18), (5, 10), (5.8, 10), (2.9, 18)]), (255, 226, 140, 255))])


def process_picture():
    arrow = polygon([(6, 3.5), (19, 11), (6, 18.5)])
    return render(22, [(polygon([(5, 2), (20.5, 11), (5, 20)]), (20, 110, 40, 255)),
                       (arrow, (60, 180, 80, 255))])


def abort_picture():
    octagon = regular_polygon(11, 11, 10, 8, math.pi / 8)
    inner = regular_polygon(11, 11, 8.6, 8, math.pi / 8)
    bar = rect(5.5, 9.5, 16.5, 12.5)
    return render(22, [(octagon, (150, 20, 20, 255)), (inner, (215, 40, 40, 255)),
                       (bar, (255, 255, 255, 255))])


if __name__ == "__main__":
    write_png(os.path.join(OUT, "reririduruv.png"), program_icon(64))
    write_png(os.path.join(OUT, "reririduruv-32.png"), program_icon(32))
    write_png(os.path.join(OUT, "select.png"), select_picture())
    write_png(os.path.join(OUT, "process.png"), process_picture())
    write_png(os.path.join(OUT, "abort.png"), abort_picture())
