#!/usr/bin/env python3
"""Draws docindex's application icon in the freedesktop sizes: a yellow folder holding a page
with a numbered list (the index page the program writes). Python standard library only.

Usage: tools/draw-app-icon.py [OUTPUT_DIR]   (default: resources/appicon)
Writes docindex-<size>.png for every size below."""
import os
import struct
import sys
import zlib

SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def rgba(hex_colour, alpha=255):
    h = hex_colour.lstrip("#")
    return (int(h[0:2], 16), int(h[2:4], 16), int(h[4:6], 16), alpha)


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return (x0, y0, x1, y1), inside


def polygon(points):
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]

    def inside(x, y):
        result = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return (min(xs), min(ys), max(xs), max(ys)), inside


def circle(cx, cy, r):
    return (cx - r, cy - r, cx + r, cy + r), lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def shapes(size):
    """The picture in unit coordinates, back to front. Small sizes get bolder lines."""
    rows = 3
    items = [
        # Folder back with its tab.
        (rounded_rect(0.05, 0.13, 0.42, 0.30, 0.04), rgba("#C98A12")),
        (rounded_rect(0.05, 0.20, 0.95, 0.90, 0.05), rgba("#C98A12")),
        # The page, with an outline and a folded corner.
        (polygon([(0.20, 0.06), (0.70, 0.06), (0.82, 0.18), (0.82, 0.84), (0.20, 0.84)]),
         rgba("#5B6470")),
        (polygon([(0.225, 0.085), (0.69, 0.085), (0.795, 0.19), (0.795, 0.815), (0.225, 0.815)]),
         rgba("#FFFFFF")),
        (polygon([(0.69, 0.085), (0.795, 0.19), (0.69, 0.19)]), rgba("#C9CED6")),
    ]
    top, step = 0.22, 0.12
    thickness = 0.055 if size < 32 else 0.04
    for i in range(rows):
        y = top + i * step
        items.append((circle(0.31, y, thickness * 0.95), rgba("#1F63D0")))
        items.append((rounded_rect(0.38, y - thickness / 2, 0.72, y + thickness / 2,
                                   thickness / 2), rgba("#7A828E")))
    # Folder front, a little lighter, over the page's lower half.
    items.append((polygon([(0.03, 0.55), (0.97, 0.55), (0.93, 0.92), (0.07, 0.92)]),
                  rgba("#E7A923")))
    items.append((polygon([(0.05, 0.58), (0.95, 0.58), (0.915, 0.895), (0.085, 0.895)]),
                  rgba("#F6C544")))
    return items


def render(size):
    samples = 4 if size <= 64 else 3
    # Front to back, so that the first shape covering a sample is the one seen.
    items = [(box, inside, colour) for (box, inside), colour in reversed(shapes(size))]
    pixels = bytearray(size * size * 4)
    offsets = [(i + 0.5) / samples for i in range(samples)]
    n = samples * samples
    for py in range(size):
        for px in range(size):
            r = g = b = cover = 0.0
            for oy in offsets:
                y = (py + oy) / size
                for ox in offsets:
                    x = (px + ox) / size
                    for (bx0, by0, bx1, by1), inside, colour in items:
                        if bx0 <= x <= bx1 and by0 <= y <= by1 and inside(x, y):
                            r += colour[0]
                            g += colour[1]
                            b += colour[2]
                            cover += 1
                            break
            if cover:
                i = (py * size + px) * 4
                pixels[i:i + 4] = bytes((round(r / cover), round(g / cover), round(b / cover),
                                         round(255 * cover / n)))
    return bytes(pixels)


def write_png(path, size, pixels):
    raw = b"".join(b"\x00" + pixels[y * size * 4:(y + 1) * size * 4] for y in range(size))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def main():
    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(top, "resources", "appicon")
    os.makedirs(out, exist_ok=True)
    for size in SIZES:
        write_png(os.path.join(out, "docindex-%d.png" % size), size, render(size))


if __name__ == "__main__":
    main()
