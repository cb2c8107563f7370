#!/usr/bin/env python3
"""Compares a window's icon, as X11 holds it, with the icons of an installed icon theme.

usage: window_icon.py XPROP-OUTPUT HICOLOR-FOLDER SCRIPTS-FOLDER

XPROP-OUTPUT is what `xprop -notype 32c _NET_WM_ICON` printed: width, height and then the
pixels as 0xAARRGGBB numbers, for each size. Every size of the theme's NxN/apps folders
must be there with the pixels of reririduruv.png, and no other size. The PNG files
are read with the reader of scripts/draw_pictures.py, which drew them.
"""
import os
import sys


def window_icons(text):
    if "=" not in text:
        raise ValueError("the window has no _NET_WM_ICON: %r" % text.strip())
    numbers = [int(value) for value in text.split("=", 1)[1].replace(" ", "").split(",")]
    icons, pos = {}, 0
    while pos + 2 <= len(numbers):
        width, height = numbers[pos], numbers[pos + 1]
        pixels = numbers[pos + 2:pos + 2 + width * height]
        if len(pixels) != width * height:
            raise ValueError("the %d x %d icon is cut short" % (width, height))
        icons[(width, height)] = pixels
        pos += 2 + width * height
    return icons


def same_pixel(shown, drawn):
    """Whether two 0xAARRGGBB pixels show the same: the same alpha, and colours that agree
    once weighted by it. Qt keeps window pictures premultiplied by alpha, so a partly
    transparent pixel comes back with its colour rounded; a transparent one without it."""
    alpha = shown >> 24
    if alpha != drawn >> 24:
        return False
    for shift in (16, 8, 0):
        weighted = [((pixel >> shift) & 0xFF) * alpha / 255.0 for pixel in (shown, drawn)]
        if abs(weighted[0] - weighted[1]) > 1:
            return False
    return True


def main():
    if len(sys.argv) != 4:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    with open(sys.argv[1]) as dump:
        icons = window_icons(dump.read())
    # Nothing is to be written into the source folder.
    sys.dont_write_bytecode = True
    sys.path.insert(0, sys.argv[3])
    from draw_pictures import png_pixels

    theme = sys.argv[2]
    problems = []
    theme_sizes = set()
    for folder in sorted(os.listdir(theme)):
        path = os.path.join(theme, folder, "apps", "reririduruv.png")
        if not os.path.isfile(path):
            continue
        with open(path, "rb") as png:
            rows = png_pixels(png.read())
        if rows is None:
            problems.append("%s is not a PNG file as draw_pictures.py writes them" % path)
            continue
        size = (len(rows[0]), len(rows))
        theme_sizes.add(size)
        expected = [a << 24 | r << 16 | g << 8 | b for row in rows for r, g, b, a in row]
        if size not in icons:
            problems.append("the window's icon has no %d x %d picture" % size)
        elif len(icons[size]) != len(expected) or not all(map(same_pixel, icons[size], expected)):
            differing = sum(1 for x, y in zip(icons[size], expected) if not same_pixel(x, y))
            problems.append("the window's %d x %d picture differs from %s in %d pixels"
                            % (size + (path, differing)))
    if not theme_sizes:
        problems.append("the theme folder %s holds no reririduruv.png" % theme)
    for size in sorted(set(icons) - theme_sizes):
        problems.append("the window's icon has a %d x %d picture that the theme lacks" % size)
    for problem in problems:
        print("window_icon: " + problem, file=sys.stderr)
    if not problems:
        print("window_icon: the window shows the theme's %s pictures"
              % ", ".join("%dx%d" % size for size in sorted(theme_sizes)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
