#!/usr/bin/env python3
"""Draws the plug-in's six status images as PNG files (8-bit RGBA).

Each status icon is a NAS box seen from the front, 46 x 60 pixels: a light
frame, two drive slots with their lights at the top, a round badge that tells
the state in the middle, and a dark foot where the plug-in writes the share
counts (its numbers stand at y 42, the mounted count on the right from x 35,
the failed count on the left from x 3; the server number goes on a grey box
at the top left, so the slots start right of it).

  try           amber badge with an hourglass, amber lights
  ok            green badge with a tick, green lights
  ok_failed     badge half red with a cross (left, over the failed count),
                half green with a tick (right, over the mounted count)
  failed        red badge with a cross, red lights
  disconnected  the whole box greyed, lights off, a broken chain link
  recManual     16 x 16: a red recording dot, drawn over the ok icon's foot

ok_failed is shown by the host in a 2-byte format with 1-bit alpha and five
bits per colour; it is drawn here already reduced to that, so the PNG is
exactly what appears on screen.

Only the standard library: shapes are sampled 4 x 4 times per pixel and
composited, the PNG is written with zlib and struct.

Usage: draw_images.py [OUTPUT_DIR]   (default: the folder of this script)
"""

import math
import os
import struct
import sys
import zlib

SAMPLES = 4  # per axis and pixel

ICON_W, ICON_H = 46, 60
REC_SIZE = 16


def hex_colour(text, alpha=1.0):
    text = text.lstrip('#')
    return (int(text[0:2], 16) / 255.0, int(text[2:4], 16) / 255.0, int(text[4:6], 16) / 255.0, alpha)


class Canvas:
    """Premultiplied RGBA in floats, composited with 'over'."""

    def __init__(self, width, height):
        self.width = width
        self.height = height
        self.pixels = [[0.0, 0.0, 0.0, 0.0] for _ in range(width * height)]

    def fill(self, inside, colour, box=None):
        """Paints colour where inside(x, y) holds, with coverage from sampling.

        box (x0, y0, x1, y1) limits the pixels looked at."""
        r, g, b, a = colour
        x0, y0, x1, y1 = box if box else (0, 0, self.width, self.height)
        x0 = max(0, int(math.floor(x0)))
        y0 = max(0, int(math.floor(y0)))
        x1 = min(self.width, int(math.ceil(x1)))
        y1 = min(self.height, int(math.ceil(y1)))
        step = 1.0 / SAMPLES
        offsets = [(i + 0.5) * step for i in range(SAMPLES)]
        for py in range(y0, y1):
            for px in range(x0, x1):
                hits = 0
                for oy in offsets:
                    for ox in offsets:
                        if inside(px + ox, py + oy):
                            hits += 1
                if hits == 0:
                    continue
                cover = a * hits / (SAMPLES * SAMPLES)
                p = self.pixels[py * self.width + px]
                keep = 1.0 - cover
                p[0] = r * cover + p[0] * keep
                p[1] = g * cover + p[1] * keep
                p[2] = b * cover + p[2] * keep
                p[3] = cover + p[3] * keep

    def rgba_rows(self):
        rows = []
        for py in range(self.height):
            row = bytearray()
            for px in range(self.width):
                r, g, b, a = self.pixels[py * self.width + px]
                if a <= 0.0:
                    row += b'\0\0\0\0'
                    continue
                row += bytes((round(min(1.0, r / a) * 255), round(min(1.0, g / a) * 255),
                              round(min(1.0, b / a) * 255), round(min(1.0, a) * 255)))
            rows.append(row)
        return rows


# ---- shapes: predicates on a point ----

def rounded_rect(x0, y0, x1, y1, radius):
    def inside(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        cx = min(max(x, x0 + radius), x1 - radius)
        cy = min(max(y, y0 + radius), y1 - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius
    return inside


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def circle(cx, cy, radius):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def segment_distance(x, y, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
    return math.hypot(x - (ax + t * dx), y - (ay + t * dy))


def polyline(points, width):
    """A stroke with round ends and joins."""
    half = width / 2.0
    pairs = list(zip(points, points[1:]))

    def inside(x, y):
        return any(segment_distance(x, y, a[0], a[1], b[0], b[1]) <= half for a, b in pairs)
    return inside


def capsule_ring(ax, ay, bx, by, outer, inner):
    """The outline of a stadium shape: a chain link."""
    return lambda x, y: inner <= segment_distance(x, y, ax, ay, bx, by) <= outer


def polygon(points):
    def inside(x, y):
        hit = False
        n = len(points)
        for k in range(n):
            (xa, ya), (xb, yb) = points[k], points[(k + 1) % n]
            if (ya > y) != (yb > y) and x < (xb - xa) * (y - ya) / (yb - ya) + xa:
                hit = not hit
        return hit
    return inside


def both(first, second):
    return lambda x, y: first(x, y) and second(x, y)


# ---- the NAS box ----

BADGE_X, BADGE_Y, BADGE_R = 23.0, 29.5, 10.5
BADGE_BOX = (BADGE_X - BADGE_R - 2, BADGE_Y - BADGE_R - 2, BADGE_X + BADGE_R + 2, BADGE_Y + BADGE_R + 2)
WHITE = hex_colour('ffffff')


def nas_box(canvas, lights, grey=False):
    frame = hex_colour('80868d' if grey else 'aab3bd')
    body = hex_colour('4b4f55' if grey else '39414b')
    slot = hex_colour('2b2e33' if grey else '1b1f25')
    foot = hex_colour('1f2124' if grey else '14171b')
    canvas.fill(rounded_rect(0.5, 0.5, 45.5, 59.5, 6), frame)
    canvas.fill(rounded_rect(2.0, 2.0, 44.0, 58.0, 4.5), body)
    for top, light in zip((5.0, 11.5), lights):
        canvas.fill(rounded_rect(16.0, top, 41.0, top + 4.5, 1.2), slot)
        canvas.fill(circle(37.8, top + 2.25, 1.4), hex_colour(light))
    # The foot, where the share counts are written.
    canvas.fill(rect(2.0, 41.0, 44.0, 41.8), frame)
    canvas.fill(both(rounded_rect(2.0, 41.8, 44.0, 58.0, 4.5), rect(2.0, 41.8, 44.0, 58.0)), foot)


def badge(canvas, colour, left_colour=None):
    canvas.fill(circle(BADGE_X, BADGE_Y, BADGE_R + 1.2), hex_colour('0c0e10'), BADGE_BOX)
    if left_colour is None:
        canvas.fill(circle(BADGE_X, BADGE_Y, BADGE_R), hex_colour(colour), BADGE_BOX)
        return
    canvas.fill(both(circle(BADGE_X, BADGE_Y, BADGE_R), lambda x, y: x < BADGE_X), hex_colour(left_colour), BADGE_BOX)
    canvas.fill(both(circle(BADGE_X, BADGE_Y, BADGE_R), lambda x, y: x >= BADGE_X), hex_colour(colour), BADGE_BOX)


def tick(canvas, cx, cy, size, width):
    points = [(cx - 5.5 * size, cy + 0.3 * size), (cx - 1.8 * size, cy + 4.0 * size), (cx + 5.5 * size, cy - 4.3 * size)]
    canvas.fill(polyline(points, width), WHITE, BADGE_BOX)


def cross(canvas, cx, cy, size, width):
    d = 4.2 * size
    canvas.fill(polyline([(cx - d, cy - d), (cx + d, cy + d)], width), WHITE, BADGE_BOX)
    canvas.fill(polyline([(cx + d, cy - d), (cx - d, cy + d)], width), WHITE, BADGE_BOX)


AMBER, GREEN, RED, OFF = 'ffb020', '3ee05a', 'ff4a3d', '1a1c1f'


def draw_try():
    c = Canvas(ICON_W, ICON_H)
    nas_box(c, (AMBER, AMBER))
    badge(c, 'f0a01c')
    ink = hex_colour('2a1c04')
    x, y = BADGE_X, BADGE_Y
    c.fill(rounded_rect(x - 5.5, y - 7.6, x + 5.5, y - 6.0, 0.6), ink, BADGE_BOX)
    c.fill(rounded_rect(x - 5.5, y + 6.0, x + 5.5, y + 7.6, 0.6), ink, BADGE_BOX)
    c.fill(polygon([(x - 4.6, y - 6.2), (x + 4.6, y - 6.2), (x + 0.8, y), (x + 4.6, y + 6.2),
                    (x - 4.6, y + 6.2), (x - 0.8, y)]), ink, BADGE_BOX)
    # Sand: what is left above, what has run through below.
    sand = hex_colour('fff1cf')
    c.fill(polygon([(x - 2.6, y - 4.0), (x + 2.6, y - 4.0), (x, y - 1.0)]), sand, BADGE_BOX)
    c.fill(polygon([(x, y + 2.4), (x + 3.4, y + 5.4), (x - 3.4, y + 5.4)]), sand, BADGE_BOX)
    return c


def draw_ok():
    c = Canvas(ICON_W, ICON_H)
    nas_box(c, (GREEN, GREEN))
    badge(c, '23a83a')
    tick(c, BADGE_X, BADGE_Y, 1.0, 3.4)
    return c


def draw_failed():
    c = Canvas(ICON_W, ICON_H)
    nas_box(c, (RED, RED))
    badge(c, 'd8302a')
    cross(c, BADGE_X, BADGE_Y, 1.0, 3.4)
    return c


def draw_ok_failed():
    c = Canvas(ICON_W, ICON_H)
    nas_box(c, (GREEN, RED))
    badge(c, '23a83a', left_colour='d8302a')
    cross(c, BADGE_X - 4.6, BADGE_Y, 0.62, 2.4)
    tick(c, BADGE_X + 4.4, BADGE_Y + 0.3, 0.6, 2.4)
    return c


def draw_disconnected():
    c = Canvas(ICON_W, ICON_H)
    nas_box(c, (OFF, OFF), grey=True)
    badge(c, '6d737a')
    link = hex_colour('f2f2f2')
    x, y = BADGE_X, BADGE_Y
    c.fill(capsule_ring(x - 6.2, y + 6.2, x - 3.2, y + 3.2, 2.7, 1.1), link, BADGE_BOX)
    c.fill(capsule_ring(x + 3.2, y - 3.2, x + 6.2, y - 6.2, 2.7, 1.1), link, BADGE_BOX)
    # The break: short strokes flying off the gap.
    spark = hex_colour('ffd23c')
    c.fill(polyline([(x - 3.6, y - 2.0), (x - 1.6, y - 0.6)], 1.3), spark, BADGE_BOX)
    c.fill(polyline([(x - 0.6, y - 5.0), (x + 0.2, y - 2.4)], 1.3), spark, BADGE_BOX)
    c.fill(polyline([(x + 3.6, y + 2.0), (x + 1.6, y + 0.6)], 1.3), spark, BADGE_BOX)
    c.fill(polyline([(x + 0.6, y + 5.0), (x - 0.2, y + 2.4)], 1.3), spark, BADGE_BOX)
    return c


def draw_rec_manual():
    c = Canvas(REC_SIZE, REC_SIZE)
    c.fill(circle(8.0, 8.0, 7.6), hex_colour('ffffff'))
    c.fill(circle(8.0, 8.0, 6.2), hex_colour('e01b22'))
    c.fill(circle(6.2, 6.0, 1.7), hex_colour('ff8a8a', 0.8))
    return c


def to_argb1555_look(rows):
    """What the host shows of the rows in its 2-byte format: 1-bit alpha,
    5 bits per colour (expanded back to 8 bits)."""
    out = []
    for row in rows:
        new = bytearray()
        for k in range(0, len(row), 4):
            r, g, b, a = row[k:k + 4]
            if a < 128:
                new += b'\0\0\0\0'
                continue
            new += bytes([(v >> 3) << 3 | (v >> 5) for v in (r, g, b)] + [255])
        out.append(new)
    return out


def write_png(path, width, height, rows):
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff)

    raw = b''.join(b'\0' + bytes(row) for row in rows)  # filter 0 on every row
    header = struct.pack('>IIBBBBB', width, height, 8, 6, 0, 0, 0)
    data = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')
    with open(path, 'wb') as f:
        f.write(data)


IMAGES = [
    ('try', draw_try, False),
    ('ok', draw_ok, False),
    ('ok_failed', draw_ok_failed, True),
    ('failed', draw_failed, False),
    ('disconnected', draw_disconnected, False),
    ('recManual', draw_rec_manual, False),
]


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for name, draw, two_bytes in IMAGES:
        canvas = draw()
        rows = canvas.rgba_rows()
        if two_bytes:
            rows = to_argb1555_look(rows)
        write_png(os.path.join(folder, name + '.png'), canvas.width, canvas.height, rows)


if __name__ == '__main__':
    main()
