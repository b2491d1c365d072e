#!/usr/bin/env python3
"""Generates the tray program's artwork with the standard library only.

  sort.bmp    the 469 x 371, 24-bit picture of the main window (a sorting rack: envelopes
              travelling from a drop tray into pigeon-holes), light at the bottom where the
              window writes its loading notice.
  sorter.ico  the program icon: one envelope over a tray, 16, 24, 32 and 48 pixel images,
              256 colours (8 bits per pixel, palette, AND mask).

Run from any folder: python3 make_artwork.py [output folder]; the output is deterministic.
"""
import os
import struct
import sys

WIDTH, HEIGHT = 469, 371

SKY_TOP = (34, 78, 140)
SKY_BOTTOM = (196, 218, 240)
RACK = (120, 84, 52)
RACK_DARK = (82, 56, 34)
HOLE = (58, 40, 26)
PAPER = (250, 250, 244)
PAPER_EDGE = (150, 150, 140)
FLAP = (226, 222, 206)
STAMP = (200, 50, 44)
TRAY = (70, 110, 70)
TRAY_DARK = (40, 70, 40)
ARROW = (255, 200, 40)
FOOT = (255, 255, 255)


class Canvas:
    def __init__(self, w, h, colour):
        self.w, self.h = w, h
        self.px = [[colour] * w for _ in range(h)]

    def put(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def rect(self, x0, y0, x1, y1, c):
        for y in range(max(0, y0), min(self.h, y1)):
            row = self.px[y]
            for x in range(max(0, x0), min(self.w, x1)):
                row[x] = c

    def frame(self, x0, y0, x1, y1, c, t=1):
        self.rect(x0, y0, x1, y0 + t, c)
        self.rect(x0, y1 - t, x1, y1, c)
        self.rect(x0, y0, x0 + t, y1, c)
        self.rect(x1 - t, y0, x1, y1, c)

    def line(self, x0, y0, x1, y1, c, t=1):
        steps = max(abs(x1 - x0), abs(y1 - y0), 1)
        for i in range(steps + 1):
            x = x0 + (x1 - x0) * i // steps
            y = y0 + (y1 - y0) * i // steps
            self.rect(x - t // 2, y - t // 2, x - t // 2 + t, y - t // 2 + t, c)

    def triangle(self, pts, c):
        ys = [p[1] for p in pts]
        for y in range(max(0, min(ys)), min(self.h, max(ys) + 1)):
            xs = []
            for i in range(3):
                (ax, ay), (bx, by) = pts[i], pts[(i + 1) % 3]
                if ay != by and min(ay, by) <= y <= max(ay, by):
                    xs.append(ax + (y - ay) * (bx - ax) / (by - ay))
            if len(xs) >= 2:
                self.rect(int(min(xs)), y, int(max(xs)) + 1, y + 1, c)


def envelope(cv, x, y, w, h):
    """An envelope seen from the back: paper, edge, closed flap and a stamp corner."""
    cv.rect(x, y, x + w, y + h, PAPER)
    cv.frame(x, y, x + w, y + h, PAPER_EDGE, max(1, w // 24))
    t = max(1, w // 20)
    cv.line(x, y, x + w // 2, y + h // 2, PAPER_EDGE, t)
    cv.line(x + w - 1, y, x + w // 2, y + h // 2, PAPER_EDGE, t)
    if w >= 20:
        s = max(2, w // 6)
        cv.rect(x + w - s - t - 1, y + t + 1, x + w - t - 1, y + t + 1 + s, STAMP)


def picture():
    cv = Canvas(WIDTH, HEIGHT, SKY_BOTTOM)
    for y in range(300):
        f = y / 299
        c = tuple(int(a + (b - a) * f) for a, b in zip(SKY_TOP, SKY_BOTTOM))
        cv.rect(0, y, WIDTH, y + 1, c)
    cv.rect(0, 300, WIDTH, HEIGHT, FOOT)
    cv.rect(0, 300, WIDTH, 302, SKY_TOP)

    # Pigeon-hole rack on the right: four columns, three rows.
    rx, ry, cw, ch = 250, 40, 50, 70
    cv.rect(rx - 8, ry - 8, rx + 4 * cw + 8, ry + 3 * ch + 8, RACK_DARK)
    cv.rect(rx - 4, ry - 4, rx + 4 * cw + 4, ry + 3 * ch + 4, RACK)
    for col in range(4):
        for row in range(3):
            x, y = rx + col * cw, ry + row * ch
            cv.rect(x + 4, y + 4, x + cw - 4, y + ch - 4, HOLE)
            if (col + row) % 2 == 0:
                envelope(cv, x + 8, y + ch - 34, cw - 16, 26)

    # Drop tray on the left with a pile of envelopes.
    cv.rect(30, 230, 190, 280, TRAY_DARK)
    cv.rect(36, 236, 184, 274, TRAY)
    for i, (dx, dy) in enumerate(((0, 0), (12, -16), (-6, -32), (8, -48))):
        envelope(cv, 60 + dx, 200 + dy, 96, 56)

    # Envelopes on their way, with an arrow from tray to rack.
    envelope(cv, 150, 120, 64, 40)
    envelope(cv, 100, 60, 48, 30)
    cv.line(120, 190, 228, 120, ARROW, 6)
    cv.triangle(((238, 112), (214, 112), (232, 134)), ARROW)
    return cv


def icon_image(size):
    cv = Canvas(size, size, None)
    tray_h = max(3, size // 4)
    cv.rect(0, size - tray_h, size, size, TRAY_DARK)
    cv.rect(1, size - tray_h + 1, size - 1, size - 1, TRAY)
    envelope(cv, size // 8, size // 6, size - size // 4, size // 2 + size // 8)
    return cv


def bmp_24(cv):
    stride = (cv.w * 3 + 3) & ~3
    rows = []
    for y in range(cv.h - 1, -1, -1):
        row = b"".join(struct.pack("BBB", c[2], c[1], c[0]) for c in cv.px[y])
        rows.append(row + b"\0" * (stride - len(row)))
    data = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, cv.w, cv.h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return header + info + data


def palette_of(images):
    colours = []
    for cv in images:
        for row in cv.px:
            for c in row:
                if c is not None and c not in colours:
                    colours.append(c)
    if len(colours) > 256:
        raise SystemExit("icon uses more than 256 colours")
    return colours + [(0, 0, 0)] * (256 - len(colours))


def icon_dib(cv, palette):
    index = {c: i for i, c in enumerate(palette)}
    xor_stride = (cv.w + 3) & ~3
    and_stride = ((cv.w + 31) // 32) * 4
    xor, mask = [], []
    for y in range(cv.h - 1, -1, -1):
        row = cv.px[y]
        xor.append(bytes(index.get(c, 0) if c is not None else 0 for c in row)
                   + b"\0" * (xor_stride - cv.w))
        bits = bytearray(and_stride)
        for x, c in enumerate(row):
            if c is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask.append(bytes(bits))
    info = struct.pack("<IiiHHIIiiII", 40, cv.w, cv.h * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    pal = b"".join(struct.pack("BBBB", c[2], c[1], c[0], 0) for c in palette)
    return info + pal + b"".join(xor) + b"".join(mask)


def ico(sizes):
    images = [icon_image(s) for s in sizes]
    palette = palette_of(images)
    dibs = [icon_dib(cv, palette) for cv in images]
    out = struct.pack("<HHH", 0, 1, len(dibs))
    offset = 6 + 16 * len(dibs)
    for s, dib in zip(sizes, dibs):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 8, len(dib), offset)
        offset += len(dib)
    return out + b"".join(dibs)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(folder, "sort.bmp"), "wb") as f:
        f.write(bmp_24(picture()))
    with open(os.path.join(folder, "sorter.ico"), "wb") as f:
        f.write(ico((16, 24, 32, 48)))


if __name__ == "__main__":
    main()
