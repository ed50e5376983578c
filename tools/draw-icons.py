#!/usr/bin/env python3
"""Draws the standard images of the icon provider (QFC_*) as PNG files.

Only the Python standard library is used. Every image is built from convex polygons on a
16-unit grid, scaled to 16, 32 and 48 pixels and rendered with 8x8 supersampling, so the
outlines stay on whole pixels at every size. Hidden variants are the same drawings at half
opacity, as file managers show hidden entries.

Usage: tools/draw-icons.py [output folder]   (default: resources/icons next to this script)
"""
import os
import struct
import sys
import zlib

SIZES = (16, 32, 48)
SUPER = 8

# Colours (r, g, b).
FOLDER_EDGE = (152, 104, 16)
FOLDER_BACK = (222, 164, 46)
FOLDER_TAB = (232, 176, 56)
FOLDER_BODY = (250, 204, 92)
FOLDER_FRONT = (255, 222, 128)
PAGE_EDGE = (104, 108, 116)
PAGE = (255, 255, 255)
PAGE_FOLD = (214, 218, 226)
PAGE_LINE = (150, 158, 172)
LINK_EDGE = (40, 40, 40)
LINK_BOX = (255, 255, 255)
LINK_ARROW = (20, 70, 170)


def edge_width(size):
    return 1.0 if size == 16 else 2.0


def inset_convex(points, d):
    """Moves every edge of a convex polygon (any winding) inward by d."""
    n = len(points)
    area = sum(points[i][0] * points[(i + 1) % n][1] - points[(i + 1) % n][0] * points[i][1]
               for i in range(n))
    sign = 1.0 if area > 0 else -1.0
    lines = []
    for i in range(n):
        (x1, y1), (x2, y2) = points[i], points[(i + 1) % n]
        ex, ey = x2 - x1, y2 - y1
        length = (ex * ex + ey * ey) ** 0.5
        # Inward normal for the polygon's winding.
        nx, ny = -ey / length * sign, ex / length * sign
        lines.append(((x1 + nx * d, y1 + ny * d), (ex, ey)))
    result = []
    for i in range(n):
        (p, r), (q, s) = lines[i - 1], lines[i]
        cross = r[0] * s[1] - r[1] * s[0]
        if abs(cross) < 1e-9:
            result.append(q)
            continue
        t = ((q[0] - p[0]) * s[1] - (q[1] - p[1]) * s[0]) / cross
        result.append((p[0] + r[0] * t, p[1] + r[1] * t))
    return result


class Canvas:
    def __init__(self, size):
        self.size = size
        self.scale = size / 16.0
        n = size * SUPER
        # Premultiplied-free RGBA per subsample, kept as lists for speed of simple code.
        self.px = [[(0, 0, 0, 0)] * n for _ in range(n)]

    def polygon(self, points, colour, alpha=255):
        """Fills a convex polygon given in 16-unit coordinates."""
        s = self.scale * SUPER
        pts = [(x * s, y * s) for x, y in points]
        self._fill(pts, colour, alpha)

    def _fill(self, pts, colour, alpha):
        n = self.size * SUPER
        ys = [p[1] for p in pts]
        y0, y1 = max(0, int(min(ys))), min(n - 1, int(max(ys)) + 1)
        for yi in range(y0, y1 + 1):
            yc = yi + 0.5
            xs = []
            for i in range(len(pts)):
                (ax, ay), (bx, by) = pts[i], pts[(i + 1) % len(pts)]
                if (ay <= yc < by) or (by <= yc < ay):
                    xs.append(ax + (yc - ay) * (bx - ax) / (by - ay))
            xs.sort()
            for k in range(0, len(xs) - 1, 2):
                xa, xb = xs[k], xs[k + 1]
                start = max(0, int(xa + 0.5))
                end = min(n, int(xb + 0.5))
                row = self.px[yi]
                for xi in range(start, end):
                    row[xi] = _over(row[xi], colour, alpha)

    def outlined(self, points, fill, edge, width=None, alpha=255):
        """A convex shape with an outline drawn inside its border."""
        w = (width if width is not None else edge_width(self.size)) / self.scale
        self.polygon(points, edge, alpha)
        self.polygon(inset_convex(points, w), fill, alpha)

    def rect(self, x, y, w, h, colour, alpha=255):
        self.polygon([(x, y), (x + w, y), (x + w, y + h), (x, y + h)], colour, alpha)

    def pixels(self, opacity=1.0):
        """Box-filters the subsamples down to RGBA bytes."""
        out = bytearray()
        area = SUPER * SUPER
        for y in range(self.size):
            out.append(0)  # PNG filter type: none
            for x in range(self.size):
                r = g = b = a = 0
                for sy in range(SUPER):
                    row = self.px[y * SUPER + sy]
                    for sx in range(SUPER):
                        pr, pg, pb, pa = row[x * SUPER + sx]
                        r += pr * pa
                        g += pg * pa
                        b += pb * pa
                        a += pa
                if a:
                    out += bytes((round(r / a), round(g / a), round(b / a),
                                  round(a / area * opacity)))
                else:
                    out += b"\0\0\0\0"
        return bytes(out)


def _over(dst, colour, alpha):
    if alpha >= 255:
        return (colour[0], colour[1], colour[2], 255)
    dr, dg, db, da = dst
    a = alpha / 255.0
    oa = a + da / 255.0 * (1 - a)
    if oa <= 0:
        return (0, 0, 0, 0)
    mix = [round((c * a + d * da / 255.0 * (1 - a)) / oa) for c, d in zip(colour, (dr, dg, db))]
    return (mix[0], mix[1], mix[2], round(oa * 255))


def write_png(path, size, rgba):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + \
        chunk(b"IDAT", zlib.compress(rgba, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(data)


# --- the drawings, on a 16-unit grid -------------------------------------------------------

def closed_folder(c):
    # The tab behind the body, then the body.
    c.outlined([(1, 3), (6, 3), (7.5, 4.5), (7.5, 6), (1, 6)], FOLDER_TAB, FOLDER_EDGE)
    c.outlined([(1, 5), (15, 5), (15, 14), (1, 14)], FOLDER_BODY, FOLDER_EDGE)
    # A light line along the top of the body, where the paper would catch the light.
    if c.size > 16:
        c.rect(1 + 2 / c.scale, 5 + 2 / c.scale, 14 - 4 / c.scale, 1 / c.scale, FOLDER_FRONT)


def open_folder(c):
    c.outlined([(1, 3), (6, 3), (7.5, 4.5), (7.5, 6), (1, 6)], FOLDER_TAB, FOLDER_EDGE)
    c.outlined([(1, 5), (14, 5), (14, 14), (1, 14)], FOLDER_BACK, FOLDER_EDGE)
    # The front flap tilts forward: a parallelogram leaning to the right.
    c.outlined([(3.5, 8), (16, 8), (14, 14), (1, 14)], FOLDER_FRONT, FOLDER_EDGE)


def page(c):
    c.outlined([(3, 1), (10, 1), (13, 4), (13, 15), (3, 15)], PAGE, PAGE_EDGE)
    # The folded corner.
    c.outlined([(10, 1), (13, 4), (10, 4)], PAGE_FOLD, PAGE_EDGE)
    # Lines of text.
    unit = 1 / c.scale
    if c.size == 16:
        for y, right in ((6, 11), (8, 11), (10, 11), (12, 9)):
            c.rect(5, y, right - 5, unit, PAGE_LINE)
    else:
        for i, right in enumerate((11, 11, 11, 11, 9)):
            c.rect(5, 6 + i * 1.75, right - 5, 2 * unit if c.size == 48 else unit, PAGE_LINE)


def link(c):
    # A small white box in the bottom-left corner with an arrow pointing up and right.
    box = 8 if c.size == 16 else 7
    top = 16 - box
    c.outlined([(0, top), (box, top), (box, 16), (0, 16)], LINK_BOX, LINK_EDGE,
               width=1.0)
    if c.size == 16:
        # Pixel by pixel: a smooth diagonal blurs at this size.
        for x, y in ((3, 9), (4, 9), (5, 9), (6, 9), (4, 10), (5, 10), (6, 10), (3, 11),
                     (4, 11), (6, 11), (2, 12), (3, 12), (1, 13), (2, 13)):
            c.rect(x, y, 1, 1, LINK_ARROW)
        return
    u = box / 8.0
    x0, y0 = 0, top
    # Shaft from bottom-left towards top-right.
    c.polygon([(x0 + 1.6 * u, y0 + 6.0 * u), (x0 + 4.6 * u, y0 + 3.0 * u),
               (x0 + 5.8 * u, y0 + 4.2 * u), (x0 + 2.8 * u, y0 + 7.2 * u)], LINK_ARROW)
    # Arrow head.
    c.polygon([(x0 + 3.2 * u, y0 + 1.5 * u), (x0 + 6.9 * u, y0 + 1.1 * u),
               (x0 + 6.5 * u, y0 + 4.8 * u)], LINK_ARROW)


IMAGES = (
    ("QFC_FLDCLOSED", closed_folder, 1.0),
    ("QFC_FLDOPEN", open_folder, 1.0),
    ("QFC_HIDDENFLDCLOSED", closed_folder, 0.5),
    ("QFC_HIDDENFLDOPEN", open_folder, 0.5),
    ("QFC_DEFFILE", page, 1.0),
    ("QFC_HIDDENDEFFILE", page, 0.5),
    ("QFC_LINK", link, 1.0),
)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources", "icons")
    os.makedirs(out, exist_ok=True)
    for name, draw, opacity in IMAGES:
        for size in SIZES:
            c = Canvas(size)
            draw(c)
            write_png(os.path.join(out, "%s%d.png" % (name, size)), size, c.pixels(opacity))
    print("wrote %d images to %s" % (len(IMAGES) * len(SIZES), os.path.normpath(out)))


if __name__ == "__main__":
    main()
