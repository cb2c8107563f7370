#!/usr/bin/env python3
"""Draws the program's icon and the three button pictures into resources/.

The pictures are simple shapes, rasterised here with 4x4 supersampling, so they can be
redrawn exactly from this script: python3 scripts/draw_pictures.py

The icon is drawn once, as shapes on a 32 x 32 grid, and written both as SVG (for the
scalable icon of the desktop's theme) and as PNG in every size that the window and the
theme's fixed-size folders use, so the desktop and the window show the same picture.

python3 scripts/draw_pictures.py --check compares the files in resources/ with what this
script draws (PNG files by their pixels, the SVG file by its text) and fails on any
difference.
"""
import math
import os
import struct
import sys
import zlib

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources")
SAMPLES = 4
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
ICON_GRID = 32


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
    """layers: (shape, (r, g, b, a)) or (shape, (r, g, b, a), (x0, y0, x1, y1)) painted in
    order over a transparent background; a layer's optional box bounds its shape, so pixels
    outside it are not sampled."""
    pixels = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0.0
            for layer in layers:
                shape, colour = layer[0], layer[1]
                if len(layer) > 2:
                    x0, y0, x1, y1 = layer[2]
                    if px + 1 <= x0 or px >= x1 or py + 1 <= y0 or py >= y1:
                        continue
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


def png_bytes(pixels):
    height, width = len(pixels), len(pixels[0])
    raw = b"".join(b"\x00" + bytes(c for p in row for c in p) for row in pixels)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    return png + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def png_pixels(data):
    """The pixels of a PNG file as this script writes them (8-bit RGBA, not interlaced,
    every row unfiltered), or None for any other file."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    pos, header, idat = 8, None, b""
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    if header is None or header[2:] != (8, 6, 0, 0, 0):
        return None
    width, height = header[0], header[1]
    raw = zlib.decompress(idat)
    stride = 1 + 4 * width
    if len(raw) != stride * height or any(raw[y * stride] != 0 for y in range(height)):
        return None
    return [[tuple(raw[y * stride + 1 + 4 * x:y * stride + 5 + 4 * x]) for x in range(width)]
            for y in range(height)]


INK = (40, 48, 64, 255)
PAPER = (255, 255, 255, 255)
GREY = (150, 160, 180, 255)
BLUE = (52, 120, 220, 255)


def program_icon_shapes():
    """The icon as ("polygon", points, colour) and ("rect", (x0, y0, x1, y1), colour)
    shapes on the 32 x 32 grid, painted in order."""
    shapes = [("polygon", [(6, 2), (21, 2), (27, 8), (27, 30), (6, 30)], INK),
              ("polygon", [(7.5, 3.5), (20.4, 3.5), (25.5, 8.6), (25.5, 28.5), (7.5, 28.5)], PAPER),
              ("polygon", [(21, 2), (21, 8), (27, 8)], GREY)]
    # Text lines above and below a highlighted band: the refreshed block.
    for y in (6, 10):
        shapes.append(("rect", (10, y, 19, y + 1.5), GREY))
    shapes.append(("rect", (8.5, 13, 24.5, 21), BLUE))
    for y in (15, 18):
        shapes.append(("rect", (11, y, 22, y + 1.5), PAPER))
    for y in (23.5, 26):
        shapes.append(("rect", (10, y, 22, y + 1.5), GREY))
    return shapes


def program_icon(size):
    s = size / float(ICON_GRID)
    layers = []
    for kind, geometry, colour in program_icon_shapes():
        if kind == "polygon":
            points = [(x * s, y * s) for x, y in geometry]
            xs, ys = [x for x, _ in points], [y for _, y in points]
            layers.append((polygon(points), colour, (min(xs), min(ys), max(xs), max(ys))))
        else:
            box = tuple(v * s for v in geometry)
            layers.append((rect(*box), colour, box))
    return render(size, layers)


def program_icon_svg():
    def number(value):
        return ("%.3f" % value).rstrip("0").rstrip(".")

    lines = ['<?xml version="1.0" encoding="UTF-8"?>',
             '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">'
             % (ICON_GRID, ICON_GRID, ICON_GRID, ICON_GRID)]
    for kind, geometry, colour in program_icon_shapes():
        fill = 'fill="#%02x%02x%02x"' % colour[:3]
        if colour[3] != 255:
            fill += ' fill-opacity="%s"' % number(colour[3] / 255.0)
        if kind == "polygon":
            points = " ".join("%s,%s" % (number(x), number(y)) for x, y in geometry)
            lines.append('  <polygon points="%s" %s/>' % (points, fill))
        else:
            x0, y0, x1, y1 = geometry
            lines.append('  <rect x="%s" y="%s" width="%s" height="%s" %s/>'
                         % (number(x0), number(y0), number(x1 - x0), number(y1 - y0), fill))
    lines.append("</svg>")
    return "\n".join(lines) + "\n"


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


def pictures():
    """File name and a function giving its pixels (PNG) or text (SVG), for every file."""
    files = [("reririduruv-%d.png" % size, lambda size=size: program_icon(size))
             for size in ICON_SIZES]
    files += [("reririduruv.svg", program_icon_svg), ("select.png", select_picture),
              ("process.png", process_picture), ("abort.png", abort_picture)]
    return files


def check():
    stale = []
    for name, draw in pictures():
        try:
            with open(os.path.join(OUT, name), "rb") as stored:
                data = stored.read()
        except OSError as error:
            stale.append("%s: %s" % (name, error))
            continue
        drawn = draw()
        same = data.decode("utf-8", "replace") == drawn if name.endswith(".svg") \
            else png_pixels(data) == drawn
        if not same:
            stale.append("%s differs from its drawing" % name)
    for line in stale:
        print("draw_pictures: " + line, file=sys.stderr)
    if stale:
        print("draw_pictures: run python3 scripts/draw_pictures.py and commit the result",
              file=sys.stderr)
        return 1
    print("draw_pictures: all %d pictures match their drawing" % len(pictures()))
    return 0


def main():
    if sys.argv[1:] == ["--check"]:
        return check()
    if sys.argv[1:]:
        print("usage: draw_pictures.py [--check]", file=sys.stderr)
        return 2
    for name, draw in pictures():
        drawn = draw()
        data = drawn.encode("utf-8") if name.endswith(".svg") else png_bytes(drawn)
        with open(os.path.join(OUT, name), "wb") as out:
            out.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
