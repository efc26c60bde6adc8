#!/usr/bin/env python3
"""Draws the front-panel pictures into resources/png and lists them in resources/resources.qrc.

Only the standard library: a small RGBA canvas, PNG written with zlib + struct, BMP with struct.
Run from anywhere:  python3 scripts/make_images.py  [--check]
--check redraws in memory and fails when a committed picture differs or is missing.
"""
import math
import os
import struct
import sys
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT_DIR = os.path.join(ROOT, "resources", "png")
QRC = os.path.join(ROOT, "resources", "resources.qrc")

# Panel colours
BG = (16, 16, 28, 255)
FIELD = (33, 36, 53, 255)
FRAME = (133, 129, 153, 255)
BLUE = (0x47, 0x77, 0xFF, 255)
GREEN = (0x00, 0xD6, 0x5B, 255)
RED = (0xE8, 0x3A, 0x3A, 255)
WHITE = (255, 255, 255, 255)
GREY = (120, 120, 135, 255)
YELLOW = (0xFF, 0xC8, 0x00, 255)
ORANGE = (0xFF, 0x8A, 0x00, 255)
CYAN = (0x00, 0xC8, 0xE0, 255)
PURPLE = (0x9A, 0x5C, 0xFF, 255)
CLEAR = (0, 0, 0, 0)

# 5 x 7 glyphs, one string of 5 bits per row
FONT = {
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "B": ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    "C": ["01110", "10001", "10000", "10000", "10000", "10001", "01110"],
    "D": ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "F": ["11111", "10000", "10000", "11110", "10000", "10000", "10000"],
    "G": ["01110", "10001", "10000", "10111", "10001", "10001", "01111"],
    "H": ["10001", "10001", "10001", "11111", "10001", "10001", "10001"],
    "I": ["01110", "00100", "00100", "00100", "00100", "00100", "01110"],
    "K": ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "P": ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    "Q": ["01110", "10001", "10001", "10001", "10101", "10010", "01101"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "V": ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    "W": ["10001", "10001", "10001", "10101", "10101", "10101", "01010"],
    "X": ["10001", "10001", "01010", "00100", "01010", "10001", "10001"],
    "Y": ["10001", "10001", "01010", "00100", "00100", "00100", "00100"],
    "0": ["01110", "10001", "10011", "10101", "11001", "10001", "01110"],
    "1": ["00100", "01100", "00100", "00100", "00100", "00100", "01110"],
    "2": ["01110", "10001", "00001", "00010", "00100", "01000", "11111"],
    "3": ["11111", "00010", "00100", "00010", "00001", "10001", "01110"],
    "4": ["00010", "00110", "01010", "10010", "11111", "00010", "00010"],
    "5": ["11111", "10000", "11110", "00001", "00001", "10001", "01110"],
    "6": ["00110", "01000", "10000", "11110", "10001", "10001", "01110"],
    "7": ["11111", "00001", "00010", "00100", "01000", "01000", "01000"],
    "8": ["01110", "10001", "10001", "01110", "10001", "10001", "01110"],
    "9": ["01110", "10001", "10001", "01111", "00001", "00010", "01100"],
    ".": ["00000", "00000", "00000", "00000", "00000", "01100", "01100"],
    "!": ["00100", "00100", "00100", "00100", "00100", "00000", "00100"],
    "-": ["00000", "00000", "00000", "11111", "00000", "00000", "00000"],
    " ": ["00000"] * 7,
}


class Canvas:
    def __init__(self, w, h, fill=CLEAR):
        self.w, self.h = w, h
        self.px = [list(fill) for _ in range(w * h)]

    def put(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            if c[3] == 255:
                self.px[y * self.w + x] = list(c)
            elif c[3]:
                d = self.px[y * self.w + x]
                a = c[3] / 255.0
                self.px[y * self.w + x] = [round(c[i] * a + d[i] * (1 - a)) for i in range(3)] + [max(d[3], c[3])]

    def rect(self, x, y, w, h, c):
        for yy in range(max(0, y), min(self.h, y + h)):
            for xx in range(max(0, x), min(self.w, x + w)):
                self.put(xx, yy, c)

    def erase(self, x, y, w, h):
        for yy in range(max(0, y), min(self.h, y + h)):
            for xx in range(max(0, x), min(self.w, x + w)):
                self.px[yy * self.w + xx] = list(CLEAR)

    def frame(self, x, y, w, h, c, t=1):
        self.rect(x, y, w, t, c)
        self.rect(x, y + h - t, w, t, c)
        self.rect(x, y, t, h, c)
        self.rect(x + w - t, y, t, h, c)

    def round_rect(self, x, y, w, h, r, c):
        for yy in range(y, y + h):
            for xx in range(x, x + w):
                cx = min(max(xx, x + r), x + w - 1 - r)
                cy = min(max(yy, y + r), y + h - 1 - r)
                if (xx - cx) ** 2 + (yy - cy) ** 2 <= r * r:
                    self.put(xx, yy, c)

    def disc(self, cx, cy, r, c):
        for yy in range(int(cy - r) - 1, int(cy + r) + 2):
            for xx in range(int(cx - r) - 1, int(cx + r) + 2):
                if (xx + 0.5 - cx) ** 2 + (yy + 0.5 - cy) ** 2 <= r * r:
                    self.put(xx, yy, c)

    def ring(self, cx, cy, r, t, c):
        for yy in range(int(cy - r) - 1, int(cy + r) + 2):
            for xx in range(int(cx - r) - 1, int(cx + r) + 2):
                d = math.hypot(xx + 0.5 - cx, yy + 0.5 - cy)
                if r - t <= d <= r:
                    self.put(xx, yy, c)

    def line(self, x0, y0, x1, y1, t, c):
        n = int(max(abs(x1 - x0), abs(y1 - y0))) * 2 + 1
        for i in range(n + 1):
            f = i / n
            self.disc(x0 + (x1 - x0) * f, y0 + (y1 - y0) * f, t / 2.0, c)

    def polygon(self, pts, c):
        ys = [p[1] for p in pts]
        for yy in range(int(min(ys)), int(max(ys)) + 1):
            yc = yy + 0.5
            xs = []
            for i in range(len(pts)):
                (xa, ya), (xb, yb) = pts[i], pts[(i + 1) % len(pts)]
                if (ya <= yc < yb) or (yb <= yc < ya):
                    xs.append(xa + (yc - ya) * (xb - xa) / (yb - ya))
            xs.sort()
            for k in range(0, len(xs) - 1, 2):
                for xx in range(int(round(xs[k])), int(round(xs[k + 1]))):
                    self.put(xx, yy, c)

    def text(self, s, cx, cy, scale, c):
        """Centred text in the 5 x 7 font."""
        w = len(s) * 6 * scale - scale
        x0 = int(cx - w / 2)
        y0 = int(cy - 7 * scale / 2)
        for i, ch in enumerate(s):
            rows = FONT[ch]
            for ry, row in enumerate(rows):
                for rx, bit in enumerate(row):
                    if bit == "1":
                        self.rect(x0 + i * 6 * scale + rx * scale, y0 + ry * scale, scale, scale, c)

    def png(self):
        raw = bytearray()
        for y in range(self.h):
            raw.append(0)
            for x in range(self.w):
                raw.extend(self.px[y * self.w + x])

        def chunk(tag, data):
            return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)

        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", self.w, self.h, 8, 6, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))

    def bmp(self):
        """24-bit BMP, rows bottom-up, padded to four bytes; transparent pixels become the panel background."""
        row_len = (self.w * 3 + 3) & ~3
        pixels = bytearray()
        for y in range(self.h - 1, -1, -1):
            row = bytearray()
            for x in range(self.w):
                r, g, b, a = self.px[y * self.w + x]
                if a == 0:
                    r, g, b = BG[:3]
                row.extend((b, g, r))
            row.extend(b"\0" * (row_len - len(row)))
            pixels.extend(row)
        header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
        info = struct.pack("<IiiHHIIiiII", 40, self.w, self.h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
        return header + info + bytes(pixels)


# ---- pictures -------------------------------------------------------------

def arrow_left(c, col):
    c.polygon([(14, 32), (34, 12), (34, 24), (52, 24), (52, 40), (34, 40), (34, 52)], col)


def chevron(c, up, col):
    w = c.w
    if up:
        c.polygon([(w / 2, 12), (w - 10, w - 18), (10, w - 18)], col)
    else:
        c.polygon([(10, 18), (w - 10, 18), (w / 2, w - 12)], col)


def tick(c, x, y, s, t, col):
    c.line(x, y + s * 0.5, x + s * 0.38, y + s * 0.88, t, col)
    c.line(x + s * 0.38, y + s * 0.88, x + s, y + s * 0.1, t, col)


def cross(c, x, y, s, t, col):
    c.line(x, y, x + s, y + s, t, col)
    c.line(x + s, y, x, y + s, t, col)


def port_icon(label, body, lit=False):
    c = Canvas(96, 64)
    c.round_rect(2, 8, 92, 48, 8, body)
    c.round_rect(10, 16, 76, 18, 4, BG)
    c.text(label, 48, 46, 2 if len(label) <= 5 else 1, WHITE)
    if lit:
        c.disc(84, 12, 8, GREEN)
    return c


def connector_small(label, col):
    c = Canvas(64, 64)
    c.round_rect(4, 14, 56, 36, 6, col)
    c.text(label, 32, 32, 2 if len(label) <= 3 else 1, WHITE)
    return c


def switch(on):
    c = Canvas(80, 40)
    c.round_rect(2, 4, 76, 32, 16, GREEN if on else GREY)
    c.disc(60 if on else 20, 20, 13, WHITE)
    return c


def check_box(on):
    c = Canvas(32, 32)
    c.frame(3, 3, 26, 26, WHITE, 2)
    if on:
        c.rect(7, 7, 18, 18, BLUE)
        tick(c, 9, 9, 14, 3, WHITE)
    return c


def mirror(n, on):
    c = Canvas(64, 64)
    col = BLUE if on else GREY
    c.round_rect(2, 2, 60, 60, 8, col)
    if n == 1:      # left-right
        c.rect(31, 8, 2, 48, WHITE)
        c.polygon([(8, 32), (20, 22), (20, 42)], WHITE)
        c.polygon([(56, 32), (44, 22), (44, 42)], WHITE)
    elif n == 2:    # up-down
        c.rect(8, 31, 48, 2, WHITE)
        c.polygon([(32, 8), (22, 20), (42, 20)], WHITE)
        c.polygon([(32, 56), (22, 44), (42, 44)], WHITE)
    elif n == 3:    # both diagonals
        c.line(10, 10, 54, 54, 3, WHITE)
        c.line(54, 10, 10, 54, 3, WHITE)
    else:           # turn
        c.ring(32, 32, 20, 4, WHITE)
        c.polygon([(46, 8), (56, 20), (40, 22)], WHITE)
    c.text(str(n), 52, 52, 1, YELLOW if on else WHITE)
    return c


def test_pattern(n):
    c = Canvas(128, 80)
    if n == 1:
        c.rect(0, 0, 128, 80, (255, 0, 0, 255))
    elif n == 2:
        c.rect(0, 0, 128, 80, (0, 255, 0, 255))
    elif n == 3:
        c.rect(0, 0, 128, 80, (0, 0, 255, 255))
    elif n == 4:
        c.rect(0, 0, 128, 80, WHITE)
    elif n == 5:
        c.rect(0, 0, 128, 80, (0, 0, 0, 255))
    elif n == 6:
        bars = [WHITE, YELLOW, CYAN, GREEN, PURPLE, RED, BLUE, (0, 0, 0, 255)]
        for i, b in enumerate(bars):
            c.rect(i * 16, 0, 16, 80, b)
    elif n == 7:
        c.rect(0, 0, 128, 80, (0, 0, 0, 255))
        for y in range(0, 80, 8):
            c.rect(0, y, 128, 2, WHITE)
    else:
        c.rect(0, 0, 128, 80, (0, 0, 0, 255))
        for x in range(0, 128, 8):
            c.rect(x, 0, 2, 80, WHITE)
    c.frame(0, 0, 128, 80, FRAME, 1)
    return c


def routing(n):
    """Cabinet routing pattern n (1..16) on a 4 x 4 grid: start corner, row/column order, snake or return."""
    c = Canvas(96, 96, FIELD)
    k = n - 1
    corner, vertical, snake = k % 4, (k // 4) % 2, k // 8 == 0
    cells = []
    for a in range(4):
        order = list(range(4))
        if snake and a % 2 == 1:
            order.reverse()
        for b in order:
            cells.append((b, a) if not vertical else (a, b))
    if corner & 1:
        cells = [(3 - x, y) for x, y in cells]
    if corner & 2:
        cells = [(x, 3 - y) for x, y in cells]
    pts = [(12 + x * 24, 12 + y * 24) for x, y in cells]
    for i in range(len(pts) - 1):
        c.line(pts[i][0], pts[i][1], pts[i + 1][0], pts[i + 1][1], 3, WHITE if snake else CYAN)
    c.disc(pts[0][0], pts[0][1], 6, GREEN)
    c.disc(pts[-1][0], pts[-1][1], 5, RED)
    return c


def out_split(kind):
    c = Canvas(160, 100)
    c.rect(0, 0, 160, 100, FIELD)
    if kind == "horizontal":
        c.rect(6, 20, 72, 60, BLUE)
        c.rect(82, 20, 72, 60, GREEN)
        c.text("1", 42, 50, 3, WHITE)
        c.text("2", 118, 50, 3, WHITE)
    elif kind == "vertical":
        c.rect(40, 4, 80, 44, BLUE)
        c.rect(40, 52, 80, 44, GREEN)
        c.text("1", 80, 26, 3, WHITE)
        c.text("2", 80, 74, 3, WHITE)
    else:
        c.rect(6, 20, 72, 60, BLUE)
        c.rect(82, 20, 72, 60, BLUE)
        c.text("1", 42, 50, 3, WHITE)
        c.text("1", 118, 50, 3, WHITE)
    return c


def tile(label, col, glyph):
    """Home and settings tiles: coloured square, a simple glyph, a short word."""
    c = Canvas(150, 150)
    c.round_rect(0, 0, 150, 150, 14, col)
    glyph(c)
    c.text(label, 75, 128, 2 if len(label) <= 9 else 1, WHITE)
    return c


def g_input(c):
    c.round_rect(35, 25, 80, 55, 6, WHITE)
    c.rect(43, 33, 64, 39, BG)
    c.polygon([(65, 40), (85, 52), (65, 64)], WHITE)


def g_mode(c):
    for i in range(3):
        c.round_rect(35 + i * 8, 20 + i * 14, 64, 40, 5, (255, 255, 255, 120 + 60 * i))


def g_option(c):
    c.ring(75, 55, 32, 10, WHITE)
    for a in range(8):
        ang = a * math.pi / 4
        c.disc(75 + 36 * math.cos(ang), 55 + 36 * math.sin(ang), 7, WHITE)


def g_state(c):
    c.frame(30, 20, 90, 70, WHITE, 3)
    for i, h in enumerate((20, 45, 30, 55)):
        c.rect(42 + i * 18, 84 - h, 12, h, WHITE)


def g_output(c):
    c.frame(25, 25, 100, 60, WHITE, 3)
    c.rect(73, 25, 4, 60, WHITE)


def g_crop(c):
    c.rect(40, 15, 6, 80, WHITE)
    c.rect(30, 75, 80, 6, WHITE)
    c.rect(104, 30, 6, 80, WHITE)
    c.rect(40, 30, 80, 6, WHITE)


def g_layout(c):
    c.rect(25, 20, 45, 35, WHITE)
    c.rect(80, 20, 45, 35, WHITE)
    c.rect(25, 62, 100, 30, WHITE)


def g_link(c):
    c.disc(40, 55, 12, WHITE)
    c.disc(110, 55, 12, WHITE)
    c.disc(75, 25, 12, WHITE)
    c.line(40, 55, 75, 25, 4, WHITE)
    c.line(110, 55, 75, 25, 4, WHITE)
    c.line(40, 55, 110, 55, 4, WHITE)


def g_quality(c):
    c.disc(75, 55, 36, WHITE)
    c.polygon([(75, 19), (75, 91), (60, 88), (45, 78), (39, 55), (45, 32), (60, 22)], BG)


def g_advanced(c):
    for i in range(3):
        c.rect(30, 25 + i * 25, 90, 5, WHITE)
        c.disc(50 + i * 25, 27 + i * 25, 9, WHITE)


def g_test(c):
    for i, b in enumerate([WHITE, YELLOW, CYAN, GREEN, PURPLE, RED]):
        c.rect(30 + i * 15, 20, 15, 70, b)


def g_mapping(c):
    for y in range(3):
        for x in range(4):
            c.frame(25 + x * 25, 20 + y * 25, 22, 22, WHITE, 2)
    c.line(36, 31, 111, 31, 3, GREEN)
    c.line(111, 31, 111, 56, 3, GREEN)
    c.line(111, 56, 36, 56, 3, GREEN)


def g_lock(c, closed):
    c.round_rect(45, 60, 60, 45, 6, WHITE)
    if closed:
        c.ring(75, 60, 22, 7, WHITE)
    else:  # shackle lifted and swung open
        c.ring(105, 45, 22, 7, WHITE)
        c.erase(76, 45, 58, 30)
    c.round_rect(45, 60, 60, 45, 6, WHITE)
    c.disc(75, 80, 6, BG)


def background(top, bottom, accent):
    c = Canvas(800, 480, BG)
    for y in range(480):
        f = y / 479.0
        col = tuple(int(top[i] * (1 - f) + bottom[i] * f) for i in range(3)) + (255,)
        c.rect(0, y, 800, 1, col)
    c.rect(0, 0, 800, 4, accent)
    return c


def done_mark():
    c = Canvas(64, 64)
    c.disc(32, 32, 30, GREEN)
    tick(c, 16, 16, 32, 6, WHITE)
    return c


def usb(unplugged):
    """A USB stick: metal plug with two contacts on top, body below."""
    c = Canvas(64, 64)
    c.rect(23, 6, 18, 16, WHITE)
    c.rect(27, 10, 4, 4, BG)
    c.rect(33, 10, 4, 4, BG)
    c.round_rect(17, 22, 30, 38, 5, BLUE)
    c.rect(25, 32, 14, 3, WHITE)
    if unplugged:
        cross(c, 38, 38, 22, 5, RED)
    else:
        c.disc(52, 14, 8, GREEN)
    return c


def reading():
    c = Canvas(64, 64)
    for i in range(8):
        ang = i * math.pi / 4
        a = 70 + 185 * i // 7
        c.disc(32 + 22 * math.cos(ang), 32 + 22 * math.sin(ang), 6, (0x47, 0x77, 0xFF, a))
    return c


def warning():
    c = Canvas(64, 64)
    c.polygon([(32, 4), (62, 58), (2, 58)], YELLOW)
    c.text("!", 32, 38, 4, BG)
    return c


def offline():
    c = Canvas(32, 28)
    c.round_rect(2, 4, 28, 22, 3, GREY)
    c.rect(8, 10, 16, 10, BG)
    c.rect(12, 20, 8, 4, BG)
    return c


def simple(size, draw):
    c = Canvas(size, size)
    draw(c)
    return c


def pictures():
    p = {}
    p["back.png"] = simple(64, lambda c: arrow_left(c, WHITE))
    p["menu.png"] = simple(64, lambda c: [c.round_rect(10, 14 + i * 15, 44, 7, 3, WHITE) for i in range(3)])
    p["previous.png"] = simple(64, lambda c: chevron(c, True, WHITE))
    p["next.png"] = simple(64, lambda c: chevron(c, False, WHITE))
    p["add.png"] = simple(64, lambda c: (c.disc(32, 32, 30, BLUE), c.rect(29, 14, 6, 36, WHITE),
                                         c.rect(14, 29, 36, 6, WHITE)))
    p["page_change.png"] = simple(64, lambda c: (c.polygon([(8, 22), (40, 22), (40, 12), (56, 26), (40, 40), (40, 30),
                                                            (8, 30)], WHITE),
                                                 c.polygon([(56, 42), (24, 42), (24, 52), (8, 38), (24, 24)], CYAN)))
    p["checked.png"] = check_box(True)
    p["unchecked.png"] = check_box(False)
    p["button_on.png"] = switch(True)
    p["button_off.png"] = switch(False)
    p["state_on.png"] = simple(32, lambda c: c.disc(16, 16, 12, GREEN))
    p["state_off.png"] = simple(32, lambda c: c.ring(16, 16, 12, 3, GREY))
    p["DVI.png"] = port_icon("DVI", (60, 70, 110, 255))
    p["HDMI.png"] = port_icon("HDMI", (40, 90, 150, 255))
    p["HDMI13.png"] = port_icon("HDMI1.3", (40, 110, 120, 255))
    p["HDMI20.png"] = port_icon("HDMI2.0", (90, 60, 140, 255))
    p["HDMI13_lv.png"] = port_icon("HDMI1.3", (40, 110, 120, 255), lit=True)
    p["HDMI20_lv.png"] = port_icon("HDMI2.0", (90, 60, 140, 255), lit=True)
    p["dvilv.png"] = port_icon("DVI", (60, 70, 110, 255), lit=True)
    p["extlv.png"] = port_icon("EXT", (120, 80, 40, 255), lit=True)
    for n in range(1, 5):
        p["mirror%d_on.png" % n] = mirror(n, True)
        p["mirror%d_off.png" % n] = mirror(n, False)
    for n in range(1, 9):
        p["img_test%d.png" % n] = test_pattern(n)
    for n in range(1, 17):
        p["line%d.png" % n] = routing(n)
    p["offline.png"] = offline()
    p["out_copy.png"] = out_split("copy")
    p["out_horizontal.png"] = out_split("horizontal")
    p["out_vertical.png"] = out_split("vertical")
    p["warning.png"] = warning()
    # pop-up
    p["done.png"] = done_mark()
    p["usb.png"] = usb(False)
    p["usb_out.png"] = usb(True)
    p["reading.png"] = reading()
    # shell: backgrounds and tiles
    p["bg_main.png"] = background((24, 26, 44), (10, 10, 18), BLUE)
    p["bg_lock.png"] = background((12, 22, 40), (6, 6, 12), GREEN)
    p["bg_update.png"] = background((30, 20, 10), (8, 6, 4), ORANGE)
    p["tile_input.png"] = tile("INPUT", (0x2E, 0x5B, 0xD8, 255), g_input)
    p["tile_mode.png"] = tile("MODE", (0x7A, 0x3C, 0xC8, 255), g_mode)
    p["tile_option.png"] = tile("SETTINGS", (0x1F, 0x8A, 0x70, 255), g_option)
    p["tile_state.png"] = tile("STATE", (0xB0, 0x6A, 0x12, 255), g_state)
    p["tile_output.png"] = tile("OUTPUT", (0x2E, 0x7D, 0xB8, 255), g_output)
    p["tile_crop.png"] = tile("CROP", (0x8C, 0x4A, 0x2F, 255), g_crop)
    p["tile_layout.png"] = tile("LAYOUT", (0x3D, 0x6E, 0x2A, 255), g_layout)
    p["tile_link.png"] = tile("LINK", (0x1C, 0x6F, 0x8C, 255), g_link)
    p["tile_quality.png"] = tile("PICTURE", (0x9C, 0x2E, 0x5E, 255), g_quality)
    p["tile_advanced.png"] = tile("ADVANCED", (0x55, 0x55, 0x70, 255), g_advanced)
    p["tile_test.png"] = tile("TEST", (0x6B, 0x3E, 0x8E, 255), g_test)
    p["tile_mapping.png"] = tile("MAPPING", (0x2A, 0x80, 0x50, 255), g_mapping)
    p["lock.png"] = simple(150, lambda c: g_lock(c, True))
    p["unlock.png"] = simple(150, lambda c: g_lock(c, False))
    p["update.png"] = simple(200, lambda c: (c.ring(100, 100, 90, 14, ORANGE),
                                             c.polygon([(100, 40), (140, 90), (114, 90), (114, 150), (86, 150),
                                                        (86, 90), (60, 90)], WHITE)))
    # on-screen-menu font indicators (BMP)
    p["osd_yes.bmp"] = simple(24, lambda c: tick(c, 3, 3, 18, 4, GREEN))
    p["osd_no.bmp"] = simple(24, lambda c: cross(c, 4, 4, 16, 4, RED))
    return p


def encode(name, canvas):
    return canvas.bmp() if name.endswith(".bmp") else canvas.png()


def write_qrc(names):
    lines = ['<!DOCTYPE RCC><RCC version="1.0">', '<qresource prefix="/">']
    lines += ["    <file>png/%s</file>" % n for n in names]
    lines += ["</qresource>", "</RCC>", ""]
    return "\n".join(lines)


def main():
    check = "--check" in sys.argv[1:]
    pics = pictures()
    names = sorted(pics)
    blobs = {n: encode(n, pics[n]) for n in names}
    if len(set(blobs.values())) != len(blobs):
        sys.exit("two pictures are identical")
    qrc = write_qrc(names)
    if check:
        bad = [n for n in names
               if not os.path.exists(os.path.join(OUT_DIR, n)) or open(os.path.join(OUT_DIR, n), "rb").read() != blobs[n]]
        if not os.path.exists(QRC) or open(QRC).read() != qrc:
            bad.append("resources.qrc")
        if bad:
            sys.exit("out of date: " + ", ".join(bad))
        print("%d pictures up to date" % len(names))
        return
    os.makedirs(OUT_DIR, exist_ok=True)
    for n in names:
        with open(os.path.join(OUT_DIR, n), "wb") as f:
            f.write(blobs[n])
    with open(QRC, "w") as f:
        f.write(qrc)
    total = sum(len(b) for b in blobs.values())
    print("%d pictures, %d bytes" % (len(names), total))


if __name__ == "__main__":
    main()
