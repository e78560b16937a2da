#!/usr/bin/env python3
"""Draws the program's icon and banner.

    make_images.py OUTPUT_DIR

Writes Update.ico (one 32 x 32 image, 16 colours) and Banner.bmp (411 x 75,
8 bits per pixel, 256-entry palette): the word mark "TALMERO Pro" on a blue
gradient band with "INSTALLER" at the lower right. Only the standard library
is used, and the output depends on nothing but this file, so every build
draws the same bytes.
"""

import math
import os
import struct
import sys

# --------------------------------------------------------------------------
# A small stroke font: each glyph is a list of polylines in a box whose cap
# height is 1 (y grows downwards, 0 is the cap line, 1 the baseline) and an
# advance width.


def _arc(cx, cy, rx, ry, start_deg, end_deg, steps=24):
    pts = []
    for i in range(steps + 1):
        a = math.radians(start_deg + (end_deg - start_deg) * i / steps)
        pts.append((cx + rx * math.cos(a), cy + ry * math.sin(a)))
    return pts


def _quad(p0, p1, p2, steps=16):
    pts = []
    for i in range(steps + 1):
        t = i / steps
        u = 1 - t
        pts.append((u * u * p0[0] + 2 * u * t * p1[0] + t * t * p2[0],
                    u * u * p0[1] + 2 * u * t * p1[1] + t * t * p2[1]))
    return pts


GLYPHS = {
    "T": (0.86, [[(0, 0), (0.86, 0)], [(0.43, 0), (0.43, 1)]]),
    "A": (0.96, [[(0, 1), (0.48, 0), (0.96, 1)], [(0.2, 0.66), (0.76, 0.66)]]),
    "L": (0.7, [[(0, 0), (0, 1), (0.7, 1)]]),
    "M": (1.06, [[(0, 1), (0, 0), (0.53, 0.72), (1.06, 0), (1.06, 1)]]),
    "E": (0.7, [[(0.7, 0), (0, 0), (0, 1), (0.7, 1)], [(0, 0.5), (0.6, 0.5)]]),
    "R": (0.78, [[(0, 1), (0, 0), (0.48, 0)] + _arc(0.48, 0.255, 0.27, 0.255, -90, 90)
                 + [(0, 0.51)], [(0.4, 0.51), (0.78, 1)]]),
    "O": (1.0, [_arc(0.5, 0.5, 0.5, 0.5, 0, 360, 48)]),
    "P": (0.74, [[(0, 1), (0, 0), (0.46, 0)] + _arc(0.46, 0.27, 0.28, 0.27, -90, 90)
                 + [(0, 0.54)]]),
    "r": (0.5, [[(0, 0.32), (0, 1)], _quad((0, 0.58), (0.06, 0.32), (0.5, 0.33))]),
    "o": (0.66, [_arc(0.33, 0.66, 0.33, 0.34, 0, 360, 40)]),
    "I": (0.0, [[(0, 0), (0, 1)]]),
    "N": (0.84, [[(0, 1), (0, 0), (0.84, 1), (0.84, 0)]]),
    "S": (0.74, [_arc(0.37, 0.255, 0.35, 0.255, -25, -270, 28)
                 + _arc(0.37, 0.75, 0.37, 0.25, -90, 155, 28)]),
    " ": (0.3, []),
}


class Canvas:
    """Coverage of one ink colour, supersampled SS x SS per pixel."""

    SS = 4

    def __init__(self, width, height):
        self.w = width * self.SS
        self.h = height * self.SS
        self.rows = [bytearray(self.w) for _ in range(self.h)]

    def segment(self, x0, y0, x1, y1, radius):
        """Marks every sample within radius (pixels) of the segment."""
        s = self.SS
        x0, y0, x1, y1, r = x0 * s, y0 * s, x1 * s, y1 * s, radius * s
        dx, dy = x1 - x0, y1 - y0
        length2 = dx * dx + dy * dy
        r2 = r * r
        left = max(0, int(math.floor(min(x0, x1) - r)))
        right = min(self.w - 1, int(math.ceil(max(x0, x1) + r)))
        top = max(0, int(math.floor(min(y0, y1) - r)))
        bottom = min(self.h - 1, int(math.ceil(max(y0, y1) + r)))
        for sy in range(top, bottom + 1):
            py = sy + 0.5
            row = self.rows[sy]
            for sx in range(left, right + 1):
                if row[sx]:
                    continue
                px = sx + 0.5
                if length2 == 0:
                    t = 0.0
                else:
                    t = ((px - x0) * dx + (py - y0) * dy) / length2
                    t = 0.0 if t < 0 else 1.0 if t > 1 else t
                ex = px - (x0 + t * dx)
                ey = py - (y0 + t * dy)
                if ex * ex + ey * ey <= r2:
                    row[sx] = 1

    def coverage(self, x, y):
        s = self.SS
        total = 0
        for sy in range(y * s, y * s + s):
            row = self.rows[sy]
            total += sum(row[x * s:x * s + s])
        return total / (s * s)


def text_width(text, height, spacing):
    width = 0.0
    for i, ch in enumerate(text):
        width += GLYPHS[ch][0] * height
        if i + 1 < len(text):
            width += spacing
    return width


def draw_text(canvas, text, x, baseline, height, stroke, spacing, slant=0.0):
    """Draws text with its first stroke's centre at x; returns the end x."""
    radius = stroke / 2
    for i, ch in enumerate(text):
        advance, lines = GLYPHS[ch]
        for line in lines:
            pts = [(x + gx * height + (1 - gy) * height * slant, baseline - (1 - gy) * height)
                   for gx, gy in line]
            for (ax, ay), (bx, by) in zip(pts, pts[1:]):
                canvas.segment(ax, ay, bx, by, radius)
        x += advance * height
        if i + 1 < len(text):
            x += spacing
    return x


# --------------------------------------------------------------------------
# Banner: 411 x 75, 8 bits per pixel.

BANNER_W, BANNER_H = 411, 75
GRADIENT_STEPS = 18
WHITE_LEVELS = 7   # ink coverage levels of the white ink, 1/7 .. 7/7
GOLD_LEVELS = 6    # and of the gold ink of "Pro"
LEFT_BLUE = (8, 28, 92)
RIGHT_BLUE = (44, 120, 216)
WHITE = (255, 255, 255)
GOLD = (255, 204, 72)

BAYER4 = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]


def _mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def banner_palette():
    colours = []
    for g in range(GRADIENT_STEPS):
        base = _mix(LEFT_BLUE, RIGHT_BLUE, g / (GRADIENT_STEPS - 1))
        colours.append(base)
        for k in range(1, WHITE_LEVELS + 1):
            colours.append(_mix(base, WHITE, k / WHITE_LEVELS))
        for k in range(1, GOLD_LEVELS + 1):
            colours.append(_mix(base, GOLD, k / GOLD_LEVELS))
    assert len(colours) <= 256
    while len(colours) < 256:
        colours.append((0, 0, 0))
    return colours


def draw_banner():
    white = Canvas(BANNER_W, BANNER_H)
    gold = Canvas(BANNER_W, BANNER_H)

    # Word mark: "TALMERO" upright and bold, "Pro" slanted in gold.
    cap, stroke = 30, 5.4
    x = draw_text(white, "TALMERO", 20, 44, cap, stroke, 8.5)
    draw_text(gold, "Pro", x + 16, 44, cap, 4.4, 5.5, slant=0.18)
    # A fine rule under the word mark.
    white.segment(16, 54.5, 300, 54.5, 0.5)

    # "INSTALLER", letter-spaced, at the lower right.
    small, spacing = 10, 5.2
    width = text_width("INSTALLER", small, spacing)
    draw_text(white, "INSTALLER", BANNER_W - 14 - width, 67, small, 1.7, spacing)

    per_step = 1 + WHITE_LEVELS + GOLD_LEVELS
    pixels = []
    for y in range(BANNER_H):
        row = bytearray(BANNER_W)
        for x in range(BANNER_W):
            # A diagonal gradient, ordered-dithered between its steps.
            t = (x + (BANNER_H - 1 - y) * 0.6) / (BANNER_W - 1 + (BANNER_H - 1) * 0.6)
            level = t * (GRADIENT_STEPS - 1) + (BAYER4[y % 4][x % 4] + 0.5) / 16 - 0.5
            g = min(GRADIENT_STEPS - 1, max(0, int(round(level))))
            index = g * per_step
            w = white.coverage(x, y)
            k = gold.coverage(x, y)
            if w > 0 and w >= k:
                index += int(round(w * WHITE_LEVELS)) or 0
            elif k > 0:
                level_k = int(round(k * GOLD_LEVELS))
                if level_k:
                    index += WHITE_LEVELS + level_k
            row[x] = index
        pixels.append(row)
    return pixels


def write_bmp8(path, width, height, palette, rows):
    stride = (width + 3) & ~3
    image = bytearray()
    for row in reversed(rows):  # bottom-up
        image += row + bytes(stride - width)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(image), 2835, 2835,
                       256, 0)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    offset = 14 + len(info) + len(pal)
    header = struct.pack("<2sIHHI", b"BM", offset + len(image), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(header + info + pal + image)


# --------------------------------------------------------------------------
# Icon: 32 x 32, the 16 colours of the standard palette.

VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_GREEN, NAVY, TEAL, GREY, GREEN, BLUE, CYAN, WHITE_I = 0, 2, 4, 6, 8, 10, 12, 14, 15
TRANSPARENT = -1


def draw_icon():
    px = [[TRANSPARENT] * 32 for _ in range(32)]

    def inside_rounded(x, y, x0, y0, x1, y1, r):
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r

    # A blue tile with a navy rim and a cyan highlight along its top.
    for y in range(32):
        for x in range(32):
            fx, fy = x + 0.5, y + 0.5
            if inside_rounded(fx, fy, 1, 1, 29, 29, 5):
                if not inside_rounded(fx, fy, 2.2, 2.2, 27.8, 27.8, 4):
                    px[y][x] = NAVY
                elif y <= 4:
                    px[y][x] = CYAN if y <= 3 else TEAL
                else:
                    px[y][x] = BLUE
    # A white "T".
    for y in range(7, 10):
        for x in range(6, 21):
            px[y][x] = WHITE_I
    for y in range(10, 24):
        for x in range(12, 15):
            px[y][x] = WHITE_I
    # A green arrow pointing down into the tile's corner: the update.
    arrow = [
        "    kkkkk    ",
        "    kgGGk    ",
        "    kgGGk    ",
        "    kgGGk    ",
        "    kgGGk    ",
        "kkkkkgGGkkkkk",
        "kggggggGGGGGk",
        " kgggggGGGGk ",
        "  kgggGGGGk  ",
        "   kggGGGk   ",
        "    kgGGk    ",
        "     kGk     ",
        "      k      ",
    ]
    colour = {"k": BLACK, "g": GREEN, "G": DARK_GREEN}
    for dy, line in enumerate(arrow):
        for dx, ch in enumerate(line):
            if ch != " ":
                px[17 + dy][19 + dx] = colour[ch]
    return px


def write_ico4(path, px):
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(32)):  # bottom-up
        row = px[y]
        for x in range(0, 32, 2):
            hi = max(row[x], 0)
            lo = max(row[x + 1], 0)
            xor.append((hi << 4) | lo)
        bits = 0
        for x in range(32):
            bits = (bits << 1) | (1 if row[x] == TRANSPARENT else 0)
        mask += struct.pack(">I", bits)
    info = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 4, 0, len(xor) + len(mask), 0, 0, 16,
                       0)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in VGA16)
    image = info + pal + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", 32, 32, 16, 0, 1, 4, len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(directory + entry + image)


def main():
    if len(sys.argv) != 2:
        sys.stderr.write("usage: make_images.py OUTPUT_DIR\n")
        return 2
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_ico4(os.path.join(out, "Update.ico"), draw_icon())
    write_bmp8(os.path.join(out, "Banner.bmp"), BANNER_W, BANNER_H, banner_palette(),
               draw_banner())
    return 0


if __name__ == "__main__":
    sys.exit(main())
