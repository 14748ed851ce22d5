#!/usr/bin/env python3
"""Draws the program's icons and writes them as .ico files.

app.ico      the window icon: 16, 32 and 48 px, 32-bit colour with alpha
picture.ico  the picture next to the instructions: 33 x 44 px, 8-bit palette

Plain Python 3, no imaging library: the shapes are sampled 4 x 4 per pixel
for smooth edges and the ICO/BMP bytes are written by hand.

    python3 make_icons.py [output folder]
"""
import math
import os
import struct
import sys

SAMPLES = 4


def clamp(v, lo=0.0, hi=1.0):
    return max(lo, min(hi, v))


def seg_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = clamp(((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy or 1.0))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def polyline_distance(px, py, pts):
    return min(seg_distance(px, py, *pts[i], *pts[i + 1]) for i in range(len(pts) - 1))


def strand(x0, x1, y_mid, amp, phase, steps=40):
    """A wavy strand from x0 to x1 (unit coordinates)."""
    return [(x0 + (x1 - x0) * i / steps,
             y_mid + amp * math.sin(phase + 2.0 * math.pi * i / steps)) for i in range(steps + 1)]


def in_round_rect(x, y, l, t, r, b, radius):
    cx = clamp(x, l + radius, r - radius)
    cy = clamp(y, t + radius, b - radius)
    return math.hypot(x - cx, y - cy) <= radius


# Layers are painted in order; each is (test(x, y) -> bool, (r, g, b)).
# Coordinates are in units of the image: 0..1 across, 0..aspect down.

def app_layers():
    strands = [strand(0.16, 0.84, y, 0.07, ph) for y, ph in ((0.33, 0.0), (0.5, 1.2), (0.67, 2.4))]
    colours = [(255, 255, 255), (255, 214, 102), (255, 255, 255)]
    layers = [(lambda x, y: in_round_rect(x, y, 0.04, 0.04, 0.96, 0.96, 0.2), (22, 110, 140))]
    for pts, colour in zip(strands, colours):
        layers.append((lambda x, y, pts=pts: polyline_distance(x, y, pts) <= 0.055, colour))
    return layers


def picture_layers():
    # A sheet with a folded corner, three strands on it and a sweep that
    # clears the last one.
    aspect = 44.0 / 33.0

    def sheet(x, y):
        return 0.08 <= x <= 0.92 and 0.05 <= y <= aspect - 0.05 and (x - 0.64) <= (y - 0.05)

    def border(x, y):
        return sheet(x, y) and not (0.14 <= x <= 0.86 and 0.11 <= y <= aspect - 0.11
                                    and (x - 0.60) <= (y - 0.11))

    def fold(x, y):
        return 0.64 <= x <= 0.92 and y <= 0.33 and (x - 0.64) <= (y - 0.05)

    def fold_edge(x, y):
        return fold(x, y) and (x - 0.64) >= (y - 0.05) - 0.05

    layers = [(sheet, (250, 250, 250)), (border, (90, 100, 110)), (fold, (200, 205, 210)),
              (fold_edge, (90, 100, 110))]
    for y, ph in ((0.45, 0.0), (0.70, 1.5)):
        pts = strand(0.22, 0.78, y, 0.05, ph, 24)
        layers.append((lambda x, yy, pts=pts: polyline_distance(x, yy, pts) <= 0.05, (22, 110, 140)))
    pts = strand(0.22, 0.78, 0.95, 0.05, 3.0, 24)
    layers.append((lambda x, yy, pts=pts: polyline_distance(x, yy, pts) <= 0.05, (170, 200, 210)))
    sweep = [(0.18, 1.18), (0.50, 0.98), (0.86, 0.88)]
    layers.append((lambda x, yy: polyline_distance(x, yy, sweep) <= 0.07, (214, 72, 48)))
    return layers


def render(width, height, layers):
    """Rows top-down of (r, g, b, a) with a in 0..255."""
    scale = 1.0 / width
    rows = []
    for py in range(height):
        row = []
        for px in range(width):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) * scale
                    y = (py + (sy + 0.5) / SAMPLES) * scale
                    colour = None
                    for test, c in layers:
                        if test(x, y):
                            colour = c
                    if colour:
                        acc[0] += colour[0]
                        acc[1] += colour[1]
                        acc[2] += colour[2]
                        acc[3] += 1.0
            n = acc[3]
            if n:
                row.append((round(acc[0] / n), round(acc[1] / n), round(acc[2] / n),
                            round(255 * n / (SAMPLES * SAMPLES))))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def and_mask(rows, threshold):
    width = len(rows[0])
    stride = ((width + 31) // 32) * 4
    out = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < threshold:
                line[x // 8] |= 0x80 >> (x % 8)
        out += line
    return bytes(out)


def bitmap_header(width, height, bits, colours, image_size):
    # The height counts the colour image and the mask together.
    return struct.pack('<IiiHHIIiiII', 40, width, height * 2, 1, bits, 0, image_size, 0, 0,
                       colours, 0)


def image_32(rows):
    width, height = len(rows[0]), len(rows)
    pixels = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask = and_mask(rows, 1)
    return bitmap_header(width, height, 32, 0, len(pixels) + len(mask)) + bytes(pixels) + mask


def palette_256():
    pal = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    pal += [(round(i * 255 / 39),) * 3 for i in range(40)]
    return pal


def image_8(rows, extra_colours):
    width, height = len(rows[0]), len(rows)
    pal = palette_256()
    # The drawing's own colours replace greys of the cube so they stay exact.
    for i, c in enumerate(extra_colours):
        pal[216 + 1 + i * 3] = c
    cache = {}

    def nearest(c):
        if c not in cache:
            cache[c] = min(range(256), key=lambda i: sum((c[k] - pal[i][k]) ** 2 for k in range(3)))
        return cache[c]

    stride = (width + 3) // 4 * 4
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, (r, g, b, a) in enumerate(row):
            # Half-covered edge pixels blend towards the usual window grey.
            if a < 255:
                f = a / 255.0
                r, g, b = (round(r * f + 240 * (1 - f)), round(g * f + 240 * (1 - f)),
                           round(b * f + 240 * (1 - f)))
            line[x] = nearest((r, g, b)) if a >= 96 else 0
        pixels += line
    mask = and_mask([[(0, 0, 0, 255 if a >= 96 else 0) for (_, _, _, a) in row] for row in rows], 1)
    table = b''.join(bytes((b, g, r, 0)) for r, g, b in pal)
    return (bitmap_header(width, height, 8, 256, len(pixels) + len(mask)) + table
            + bytes(pixels) + mask)


def write_ico(path, images):
    """images: list of (width, height, bits, data)."""
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, blobs = b'', b''
    for width, height, bits, data in images:
        entries += struct.pack('<BBBBHHII', width % 256, height % 256, 0, 0, 1, bits, len(data),
                               offset)
        offset += len(data)
        blobs += data
    with open(path, 'wb') as f:
        f.write(out + entries + blobs)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    app = [(s, s, 32, image_32(render(s, s, app_layers()))) for s in (16, 32, 48)]
    write_ico(os.path.join(folder, 'app.ico'), app)
    picture = render(33, 44, picture_layers())
    extra = [(22, 110, 140), (214, 72, 48), (170, 200, 210), (90, 100, 110), (250, 250, 250),
             (200, 205, 210)]
    write_ico(os.path.join(folder, 'picture.ico'), [(33, 44, 8, image_8(picture, extra))])


if __name__ == '__main__':
    main()
