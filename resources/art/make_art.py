#!/usr/bin/env python3
"""Draws the speed panel's and the launcher's artwork.

Only the Python standard library is used: shapes are rendered with 4 x 4
supersampling on a small premultiplied-RGBA canvas, and the BMP and ICO files
are written byte by byte. The generated files are committed, so a build never
needs this script; run it again after changing a picture:

    python3 resources/art/make_art.py [OUTDIR]

The build packs the background with it (see pack_bmp):

    python3 resources/art/make_art.py --pack IN.bmp OUT.vpk
"""

import math
import os
import struct
import sys

RED = (255, 0, 0)  # the transparent colour of glyphs and menu bitmaps

# --------------------------------------------------------------------------
# Canvas


class Canvas:
    def __init__(self, w, h, fill=None):
        self.w, self.h = w, h
        # premultiplied r, g, b and alpha, all 0..1
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(w * h)]
        if fill is not None:
            self.rect(0, 0, w, h, fill)

    def blend(self, x, y, col, cov):
        if cov <= 0 or x < 0 or y < 0 or x >= self.w or y >= self.h:
            return
        a = cov * (col[3] if len(col) > 3 else 1.0)
        p = self.px[y * self.w + x]
        k = 1.0 - a
        p[0] = col[0] / 255.0 * a + p[0] * k
        p[1] = col[1] / 255.0 * a + p[1] * k
        p[2] = col[2] / 255.0 * a + p[2] * k
        p[3] = a + p[3] * k

    def rect(self, x0, y0, w, h, col):
        """Fills whole pixels; col is a colour or a function (x, y) -> colour."""
        for y in range(max(0, y0), min(self.h, y0 + h)):
            for x in range(max(0, x0), min(self.w, x0 + w)):
                self.blend(x, y, col(x, y) if callable(col) else col, 1.0)

    def shape(self, inside, box, col, ss=4):
        """Anti-aliased fill of the points where inside(x, y) holds.
        box = (x0, y0, x1, y1) limits the pixels looked at."""
        x0, y0, x1, y1 = box
        n = ss * ss
        offs = [((i + 0.5) / ss, (j + 0.5) / ss) for j in range(ss) for i in range(ss)]
        for y in range(max(0, int(math.floor(y0))), min(self.h, int(math.ceil(y1)) + 1)):
            for x in range(max(0, int(math.floor(x0))), min(self.w, int(math.ceil(x1)) + 1)):
                c = 0
                for ox, oy in offs:
                    if inside(x + ox, y + oy):
                        c += 1
                if c:
                    self.blend(x, y, col(x + 0.5, y + 0.5) if callable(col) else col, c / n)

    def get(self, x, y, bg=None):
        """Straight RGB of a pixel; with bg, composited over bg."""
        r, g, b, a = self.px[y * self.w + x]
        if bg is not None:
            k = 1.0 - a
            return tuple(clamp(round(v * 255 + c * k)) for v, c in zip((r, g, b), bg))
        if a <= 0:
            return (0, 0, 0)
        return tuple(clamp(round(v / a * 255)) for v in (r, g, b))

    def alpha(self, x, y):
        return self.px[y * self.w + x][3]


def clamp(v):
    return 0 if v < 0 else 255 if v > 255 else int(v)


def mix(c1, c2, t):
    t = 0.0 if t < 0 else 1.0 if t > 1 else t
    out = tuple(a + (b - a) * t for a, b in zip(c1[:3], c2[:3]))
    if len(c1) > 3 or len(c2) > 3:
        a1 = c1[3] if len(c1) > 3 else 1.0
        a2 = c2[3] if len(c2) > 3 else 1.0
        out += (a1 + (a2 - a1) * t,)
    return out


def ramp(stops, t):
    """Colour at t (0..1) along [(pos, colour), ...]."""
    if t <= stops[0][0]:
        return stops[0][1]
    for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
        if t <= p1:
            return mix(c0, c1, (t - p0) / (p1 - p0))
    return stops[-1][1]


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r0, r1):
    return lambda x, y: r0 * r0 <= (x - cx) ** 2 + (y - cy) ** 2 <= r1 * r1


def rrect(x0, y0, x1, y1, r):
    def inside(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        dx = max(x0 + r - x, 0, x - (x1 - r))
        dy = max(y0 + r - y, 0, y - (y1 - r))
        return dx * dx + dy * dy <= r * r

    return inside


def segment(ax, ay, bx, by, width):
    """A thick line with round ends."""
    hw = width / 2.0
    dx, dy = bx - ax, by - ay
    ll = dx * dx + dy * dy

    def inside(x, y):
        t = 0.0 if ll == 0 else max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / ll))
        px, py = ax + t * dx - x, ay + t * dy - y
        return px * px + py * py <= hw * hw

    return inside


def polygon(pts):
    def inside(x, y):
        c = False
        j = len(pts) - 1
        for i in range(len(pts)):
            xi, yi = pts[i]
            xj, yj = pts[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                c = not c
            j = i
        return c

    return inside


def bbox(pts, pad=1):
    xs = [p[0] for p in pts]
    ys = [p[1] for p in pts]
    return (min(xs) - pad, min(ys) - pad, max(xs) + pad, max(ys) + pad)


# --------------------------------------------------------------------------
# A small pixel font (5 x 7 cells, trimmed to each glyph's width)

FONT = {
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "B": ["####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."],
    "C": [".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."],
    "D": ["####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "F": ["#####", "#....", "#....", "####.", "#....", "#....", "#...."],
    "G": [".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".####"],
    "H": ["#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "I": ["###", ".#.", ".#.", ".#.", ".#.", ".#.", "###"],
    "K": ["#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"],
    "L": ["#....", "#....", "#....", "#....", "#....", "#....", "#####"],
    "M": ["#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"],
    "N": ["#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#"],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "P": ["####.", "#...#", "#...#", "####.", "#....", "#....", "#...."],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "S": [".####", "#....", "#....", ".###.", "....#", "....#", "####."],
    "T": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    "U": ["#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "V": ["#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
    "W": ["#...#", "#...#", "#...#", "#.#.#", "#.#.#", "#.#.#", ".#.#."],
    "X": ["#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"],
    "Y": ["#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."],
    "0": [".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."],
    "1": [".#.", "##.", ".#.", ".#.", ".#.", ".#.", "###"],
    "3": ["####.", "....#", "....#", ".###.", "....#", "....#", "####."],
    ".": [".", ".", ".", ".", ".", ".", "#"],
    "-": ["...", "...", "...", "###", "...", "...", "..."],
    "e": ["....", "....", ".##.", "#..#", "####", "#...", ".###"],
    "i": ["#", ".", "#", "#", "#", "#", "#"],
    "l": ["##", ".#", ".#", ".#", ".#", ".#", ".#"],
    "n": ["....", "....", "###.", "#..#", "#..#", "#..#", "#..#"],
    "o": ["....", "....", ".##.", "#..#", "#..#", "#..#", ".##."],
    "r": ["...", "...", "#.#", "##.", "#..", "#..", "#.."],
    "t": [".#.", ".#.", "###", ".#.", ".#.", ".#.", "..#"],
    "u": ["....", "....", "#..#", "#..#", "#..#", "#..#", ".###"],
    "v": [".....", ".....", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
    "x": ["....", "....", "#..#", ".##.", ".##.", "#..#", "#..#"],
}


def text_width(s, scale=1, gap=1):
    w = 0
    for ch in s:
        w += (3 if ch == " " else len(FONT[ch][0])) * scale + gap * scale
    return w - gap * scale


def draw_text(cv, x, y, s, col, scale=1, gap=1):
    """col: colour or function (row 0..6) -> colour."""
    for ch in s:
        if ch == " ":
            x += (3 + gap) * scale
            continue
        rows = FONT[ch]
        for ry, row in enumerate(rows):
            c = col(ry) if callable(col) else col
            for rx, bit in enumerate(row):
                if bit == "#":
                    cv.rect(x + rx * scale, y + ry * scale, scale, scale, c)
        x += (len(rows[0]) + gap) * scale


# --------------------------------------------------------------------------
# File writers


def bmp24(cv, bg=None):
    """24-bit bottom-up BMP. bg: colour under transparent parts."""
    w, h = cv.w, cv.h
    stride = (w * 3 + 3) & ~3
    data = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for x in range(w):
            r, g, b = cv.get(x, y, bg)
            row += bytes((b, g, r))
        row += b"\0" * (stride - len(row))
        data += row
    head = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return head + info + bytes(data)


def keyed(cv, matte=(236, 236, 236), cut=0.4):
    """Picture with pure red where the canvas is (nearly) transparent; edges
    are composited over a light menu-like matte. No other pixel is pure red."""
    out = Canvas(cv.w, cv.h)
    for y in range(cv.h):
        for x in range(cv.w):
            if cv.alpha(x, y) < cut:
                out.blend(x, y, RED, 1.0)
            else:
                c = cv.get(x, y, matte) if cv.alpha(x, y) < 0.999 else cv.get(x, y)
                if c == RED:
                    c = (254, 0, 0)
                out.blend(x, y, c, 1.0)
    return out


def and_mask(cv, cut=0.5):
    w, h = cv.w, cv.h
    stride = ((w + 31) // 32) * 4
    data = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray(stride)
        for x in range(w):
            if cv.alpha(x, y) < cut:
                row[x // 8] |= 0x80 >> (x % 8)
        data += row
    return bytes(data)


def ico_file(image, w, h, colours, bpp):
    entry = struct.pack("<BBBBHHII", w, h, colours, 0, 1, bpp, len(image), 6 + 16)
    return struct.pack("<HHH", 0, 1, 1) + entry + image


def ico24(cv, cut=0.5):
    w, h = cv.w, cv.h
    xor = bytearray()
    for y in range(h - 1, -1, -1):
        for x in range(w):
            r, g, b = cv.get(x, y) if cv.alpha(x, y) >= cut else (0, 0, 0)
            xor += bytes((b, g, r))
        xor += b"\0" * (((w * 3 + 3) & ~3) - w * 3)
    mask = and_mask(cv, cut)
    info = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 24, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return ico_file(info + bytes(xor) + mask, w, h, 0, 24)


def median_cut(colours, n):
    """Palette of at most n colours for a list of (r, g, b)."""
    boxes = [list(colours)]
    while len(boxes) < n:
        best, spread, axis = None, -1, 0
        for i, b in enumerate(boxes):
            if len(set(b)) < 2:
                continue
            for a in range(3):
                vals = [c[a] for c in b]
                s = max(vals) - min(vals)
                if s > spread:
                    best, spread, axis = i, s, a
        if best is None:
            break
        b = sorted(boxes.pop(best), key=lambda c: c[axis])
        m = len(b) // 2
        boxes += [b[:m], b[m:]]
    pal = []
    for b in boxes:
        pal.append(tuple(round(sum(c[a] for c in b) / len(b)) for a in range(3)))
    return pal


def ico8(cv, cut=0.5):
    w, h = cv.w, cv.h
    opaque = [cv.get(x, y) for y in range(h) for x in range(w) if cv.alpha(x, y) >= cut]
    pal = [(0, 0, 0)] + median_cut(opaque, 255)
    pal = pal + [(0, 0, 0)] * (256 - len(pal))
    cache = {}

    def index(c):
        if c not in cache:
            cache[c] = min(
                range(1, 256),
                key=lambda i: (pal[i][0] - c[0]) ** 2 * 3
                + (pal[i][1] - c[1]) ** 2 * 4
                + (pal[i][2] - c[2]) ** 2 * 2,
            )
        return cache[c]

    xor = bytearray()
    for y in range(h - 1, -1, -1):
        for x in range(w):
            xor.append(index(cv.get(x, y)) if cv.alpha(x, y) >= cut else 0)
        xor += b"\0" * (((w + 3) & ~3) - w)
    mask = and_mask(cv, cut)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in pal)
    info = struct.pack(
        "<IiiHHIIiiII", 40, w, h * 2, 1, 8, 0, len(xor) + len(mask), 0, 0, 256, 0
    )
    return ico_file(info + palette + bytes(xor) + mask, w, h, 0, 8)


# --------------------------------------------------------------------------
# Motifs


def disc(cv, cx, cy, r, hub=True):
    """A silver optical disc with a soft rainbow sheen."""
    cv.shape(circle(cx, cy, r + 0.6), (cx - r - 2, cy - r - 2, cx + r + 2, cy + r + 2), (40, 48, 64))

    def surface(x, y):
        ang = math.atan2(y - cy, x - cx)
        d = math.hypot(x - cx, y - cy) / r
        base = mix((232, 236, 242), (168, 178, 194), (y - (cy - r)) / (2 * r))
        sheen = [
            (150, 200, 255),
            (190, 150, 255),
            (255, 170, 210),
            (255, 230, 150),
            (160, 240, 200),
            (150, 200, 255),
        ]
        t = ((ang + 3 * math.pi / 4) % (2 * math.pi)) / (2 * math.pi) * (len(sheen) - 1)
        tint = mix(sheen[int(t)], sheen[min(int(t) + 1, len(sheen) - 1)], t - int(t))
        k = 0.30 + 0.25 * abs(math.sin(2 * ang + 0.6)) * min(1.0, d * 1.4)
        return mix(base, tint, k)

    cv.shape(circle(cx, cy, r - 0.4), (cx - r, cy - r, cx + r, cy + r), surface)
    if hub:
        hr = r * 0.36
        cv.shape(circle(cx, cy, hr), (cx - hr, cy - hr, cx + hr, cy + hr), (214, 220, 230))
        cv.shape(ring(cx, cy, hr - 0.9, hr), (cx - hr, cy - hr, cx + hr, cy + hr), (120, 130, 150))
        h = max(1.2, r * 0.14)
        cv.shape(circle(cx, cy, h), (cx - h, cy - h, cx + h, cy + h), (44, 52, 70))


def chevrons(cv, x, y, size, col, count=2, step=None):
    """'>>' speed mark: count chevrons of the given height."""
    step = step or size * 0.55
    th = max(1.4, size * 0.22)
    for i in range(count):
        ox = x + i * step
        pts = [(ox, y), (ox + size * 0.5, y + size / 2), (ox, y + size)]
        cv.shape(segment(*pts[0], *pts[1], th), bbox(pts, th), col)
        cv.shape(segment(*pts[1], *pts[2], th), bbox(pts, th), col)


def badge(cv, cx, cy, r, c_top, c_bottom):
    cv.shape(circle(cx, cy, r + 0.8), (cx - r - 2, cy - r - 2, cx + r + 2, cy + r + 2), (255, 255, 255))
    grad = lambda x, y: mix(c_top, c_bottom, (y - (cy - r)) / (2 * r))
    cv.shape(circle(cx, cy, r), (cx - r, cy - r, cx + r, cy + r), grad)
    hl = lambda x, y: (255, 255, 255, 0.35 * (1 - (y - (cy - r)) / r))
    cv.shape(
        lambda x, y: circle(cx, cy - r * 0.35, r * 0.7)(x, y) and circle(cx, cy, r - 1)(x, y),
        (cx - r, cy - r, cx + r, cy),
        hl,
    )


def gauge(cv, cx, cy, r, needle_deg=-40, rim=(200, 208, 220)):
    """A round speed dial: rim, dark face, green-to-amber-to-red arc, needle."""
    cv.shape(circle(cx, cy, r), (cx - r, cy - r, cx + r, cy + r),
             lambda x, y: mix((236, 240, 246), (128, 138, 156), (y - cy + r) / (2 * r)))
    fr = r - max(1.3, r * 0.12)
    cv.shape(circle(cx, cy, fr), (cx - fr, cy - fr, cx + fr, cy + fr),
             lambda x, y: mix((46, 64, 98), (14, 22, 40), (y - cy + fr) / (2 * fr)))
    ar0, ar1 = fr * 0.62, fr * 0.86

    def arc_col(x, y):
        a = math.degrees(math.atan2(-(y - cy), x - cx))  # 0 = right, 90 = up
        if a < -90:
            a += 360
        t = (225 - a) / 270
        return ramp([(0, (70, 220, 120)), (0.55, (250, 210, 60)), (1, (235, 60, 50))], t)

    def on_arc(x, y):
        if not ring(cx, cy, ar0, ar1)(x, y):
            return False
        a = math.degrees(math.atan2(-(y - cy), x - cx))
        return not (-135 < a < -45)

    cv.shape(on_arc, (cx - fr, cy - fr, cx + fr, cy + fr), arc_col)
    a = math.radians(needle_deg)
    nx, ny = cx + math.cos(a) * fr * 0.82, cy - math.sin(a) * fr * 0.82
    cv.shape(segment(cx, cy, nx, ny, max(1.3, r * 0.13)), (cx - r, cy - r, cx + r, cy + r), (255, 255, 255))
    hr = max(1.1, r * 0.14)
    cv.shape(circle(cx, cy, hr), (cx - hr, cy - hr, cx + hr, cy + hr), (250, 250, 250))


# --------------------------------------------------------------------------
# Pictures


def background():
    W, H = 320, 200
    cv = Canvas(W, H)
    # body: deep blue metal, lighter at the top, a soft diagonal sheen
    def body(x, y):
        t = (y - 32) / (H - 32)
        c = ramp([(0, (52, 84, 132)), (0.45, (32, 56, 96)), (1, (14, 24, 46))], t)
        s = math.exp(-(((x * 0.55 + y) - 150) / 70.0) ** 2) * 0.10
        # fine brushed lines
        b = 0.018 * math.sin(y * 2.7 + math.sin(x * 0.05) * 2)
        return mix(c, (200, 225, 255), s + b if s + b > 0 else 0)

    cv.rect(0, 32, W, H - 32, body)
    # large faint disc rings, lower right, behind everything
    for rr, al in ((150, 0.07), (118, 0.05), (86, 0.04)):
        cv.shape(ring(300, 210, rr - 0.8, rr + 0.8), (0, 32, W, H), (170, 210, 255, al), ss=2)
    # title strip: dark graphite with a bright rim and an accent line
    def strip(x, y):
        c = ramp([(0, (72, 82, 100)), (0.08, (44, 52, 68)), (0.6, (22, 28, 40)), (1, (12, 16, 26))], y / 31)
        return c

    cv.rect(0, 0, W, 32, strip)
    cv.rect(0, 0, W, 1, (120, 132, 152))
    for x in range(W):
        t = abs(x - W / 2) / (W / 2)
        glow = (1 - t ** 2)
        cv.blend(x, 30, (90, 170, 255), 0.35 * glow + 0.1)
        cv.blend(x, 31, (120, 200, 255), 0.85 * glow + 0.15)
        cv.blend(x, 32, (60, 130, 220), 0.35 * glow)
    # emblem: a small disc with a speed badge
    disc(cv, 24, 16, 10.5)
    badge(cv, 31.5, 22.5, 5.2, (96, 176, 255), (24, 92, 200))
    chevrons(cv, 28.6, 19.6, 5.8, (255, 255, 255), count=2, step=2.7)
    # product name, 2x pixel font with a shadow and a cool metallic gradient
    title = "Trelvix Velotune"
    tx, ty = 44, 9
    draw_text(cv, tx + 1, ty + 2, title, (0, 0, 0, 0.75), scale=2)
    grad = lambda row: ramp([(0, (255, 255, 255)), (0.5, (226, 236, 250)), (1, (150, 190, 240))], row / 6)
    draw_text(cv, tx, ty, title, grad, scale=2)
    # right side: small tag and a row of indicator dots
    tag = "SPEED CONTROL"
    tw = text_width(tag)
    draw_text(cv, 300 - tw, 8, tag, (120, 170, 230))
    for i in range(5):
        col = ramp([(0, (70, 220, 120)), (0.6, (250, 210, 60)), (1, (240, 90, 60))], i / 4)
        cx = 300 - tw + 3 + i * 9
        cv.shape(circle(cx, 21, 2.2), (cx - 3, 18, cx + 3, 24), col)
        cv.shape(circle(cx - 0.6, 20.3, 0.9), (cx - 2, 19, cx + 1, 22), (255, 255, 255, 0.6))
    # an inset panel behind the controls
    panel = rrect(16.5, 34.5, 303.5, 174.5, 7)
    cv.shape(panel, (15, 33, 305, 176), (255, 255, 255, 0.06))
    cv.shape(lambda x, y: panel(x, y) and not rrect(17.5, 35.5, 302.5, 173.5, 6)(x, y),
             (15, 33, 305, 176), (150, 200, 255, 0.35))
    # a soft glow where the two buttons sit
    cv.shape(rrect(206.5, 86.5, 289.5, 146.5, 6), (205, 85, 291, 148), (0, 8, 20, 0.18))
    cv.shape(lambda x, y: rrect(206.5, 86.5, 289.5, 146.5, 6)(x, y)
             and not rrect(207.5, 87.5, 288.5, 145.5, 5)(x, y), (205, 85, 291, 148),
             (120, 180, 255, 0.25))
    # footer: a separator and a quiet line of text
    for x in range(24, 296):
        t = abs(x - 160) / 136
        cv.blend(x, 179, (140, 190, 255), 0.35 * (1 - t ** 2))
    foot = "HIGH SPEED  -  SILENCE"
    draw_text(cv, (W - text_width(foot)) // 2, 185, foot, (110, 150, 205))
    draw_text(cv, 22, 185, "VER 1.01.3", (80, 112, 160))
    chevrons(cv, 281, 185, 7, (90, 150, 230), count=2, step=4)
    return cv


def button_glyph(kind):
    cv = Canvas(64, 16)
    face = lambda x, y: ramp([(0, (252, 253, 255)), (0.5, (226, 232, 242)), (0.55, (212, 220, 234)), (1, (196, 206, 222))], y / 15)
    cv.rect(0, 0, 64, 16, face)
    # outline, with softened corners
    for x in range(64):
        cv.blend(x, 0, (120, 136, 160), 1)
        cv.blend(x, 15, (96, 110, 134), 1)
    for y in range(16):
        cv.blend(0, y, (120, 136, 160), 1)
        cv.blend(63, y, (96, 110, 134), 1)
    for x, y in ((0, 0), (63, 0), (0, 15), (63, 15)):
        cv.blend(x, y, (170, 182, 200), 1)
    # icon well and divider
    for y in range(2, 14):
        cv.blend(22, y, (150, 164, 186), 1)
        cv.blend(23, y, (255, 255, 255), 0.9)
    if kind == "set":
        badge(cv, 11, 8, 5.8, (110, 214, 120), (24, 142, 56))
        pts = [(8.0, 8.3), (10.3, 10.6), (14.2, 5.6)]
        cv.shape(segment(*pts[0], *pts[1], 1.9), bbox(pts, 2), (255, 255, 255))
        cv.shape(segment(*pts[1], *pts[2], 1.9), bbox(pts, 2), (255, 255, 255))
    else:
        badge(cv, 11, 8, 5.8, (250, 120, 100), (190, 34, 30))
        for a, b in (((8.6, 5.6), (13.4, 10.4)), ((13.4, 5.6), (8.6, 10.4))):
            cv.shape(segment(*a, *b, 1.8), (6, 3, 16, 13), (255, 255, 255))
    return cv


def ok_glyph():
    cv = Canvas(16, 16)
    pts = [(3.0, 8.5), (6.5, 12.0), (13.2, 4.0)]
    cv.shape(segment(*pts[0], *pts[1], 3.6), bbox(pts, 3), (12, 84, 30))
    cv.shape(segment(*pts[1], *pts[2], 3.6), bbox(pts, 3), (12, 84, 30))
    cv.shape(segment(*pts[0], *pts[1], 2.2), bbox(pts, 3), (60, 190, 80))
    cv.shape(segment(*pts[1], *pts[2], 2.2), bbox(pts, 3), (60, 190, 80))
    return cv


def menu_speed():
    cv = Canvas(16, 16)
    gauge(cv, 8, 8.5, 7.3, needle_deg=35)
    return cv


def menu_option():
    cv = Canvas(16, 16)
    cx, cy = 7.5, 7.5
    teeth = 8

    def radius(x, y):
        t = (math.atan2(y - cy, x - cx) * teeth / (2 * math.pi) + 0.25) % 1.0
        k = 0.0 if t < 0.15 or t > 0.85 else 1.0 if 0.3 < t < 0.7 else (
            (t - 0.15) / 0.15 if t < 0.5 else (0.85 - t) / 0.15)
        return 5.0 + 2.2 * k

    def gear(x, y, grow=0.0):
        d = math.hypot(x - cx, y - cy)
        return 2.3 - grow <= d <= radius(x, y) + grow

    cv.shape(lambda x, y: gear(x, y, 0.7), (0, 0, 16, 16), (56, 66, 88))
    cv.shape(gear, (0, 0, 16, 16), lambda x, y: mix((236, 240, 248), (120, 132, 156), (x + y) / 30))
    cv.shape(ring(cx, cy, 3.6, 4.4), (2, 2, 14, 14), (90, 102, 128, 0.55))
    return cv


def menu_about():
    cv = Canvas(16, 16)
    badge(cv, 8, 8, 6.6, (110, 180, 255), (22, 88, 196))
    cv.shape(circle(8, 4.6, 1.25), (6, 3, 10, 7), (255, 255, 255))
    cv.shape(rrect(6.9, 6.6, 9.1, 12.6, 0.5), (6, 6, 10, 13), (255, 255, 255))
    return cv


def menu_exit():
    cv = Canvas(16, 16)
    badge(cv, 8, 8, 6.6, (246, 120, 96), (176, 30, 26))

    def arc(x, y):
        d = math.hypot(x - 8, y - 8.5)
        a = math.degrees(math.atan2(-(y - 8.5), x - 8))
        return 2.9 <= d <= 4.3 and not (55 < a < 125)

    cv.shape(arc, (2, 2, 14, 14), (255, 255, 255))
    cv.shape(segment(8, 3.6, 8, 8.2, 1.5), (6, 2, 10, 10), (255, 255, 255))
    return cv


def panel_icon():
    cv = Canvas(32, 32)
    disc(cv, 14.5, 14.5, 13.5)
    badge(cv, 23.5, 23.5, 7.6, (96, 176, 255), (20, 84, 196))
    chevrons(cv, 19.6, 19.4, 8.2, (255, 255, 255), count=2, step=3.6)
    return cv


def launcher_icon():
    cv = Canvas(32, 32)
    disc(cv, 13.5, 13.5, 12.5)
    gauge(cv, 22.5, 22.5, 9.0, needle_deg=50)
    return cv


def tray_picture():
    cv = Canvas(16, 16)
    disc(cv, 7.5, 7.5, 7.0)
    badge(cv, 11.8, 11.8, 3.8, (96, 176, 255), (20, 84, 196))
    chevrons(cv, 10.0, 10.0, 3.8, (255, 255, 255), count=2, step=1.7)
    return cv


# --------------------------------------------------------------------------
# Packed pictures
#
# A large picture is stored in the program packed and unpacked once at start.
# Layout (little-endian): "VPK1", width (u16), height (u16), bits per pixel
# (u16, 24), then the bottom-up rows of the BMP, each padded to 4 bytes, in an
# LZ-style stream. Before packing, every byte of a row from the fourth on is
# replaced by its difference (mod 256) to the byte three places before it, the
# same colour channel of the pixel to the left. Stream tokens:
#   t < 0x80   t + 1 literal bytes follow;
#   t >= 0x80  copy (t & 0x7F) + 4 bytes from u16 d bytes back (1 <= d).

PACK_MIN = 4
PACK_MAX = 0x7F + PACK_MIN


def pack_stream(d, window=65535, tries=32):
    out = bytearray()
    lit = bytearray()
    table = {}

    def flush():
        nonlocal lit
        while lit:
            chunk = lit[:128]
            out.append(len(chunk) - 1)
            out.extend(chunk)
            lit = lit[128:]

    i, n = 0, len(d)
    while i < n:
        best = off = 0
        for p in reversed(table.get(d[i:i + PACK_MIN], [])[-tries:]):
            if i - p > window:
                break
            k = 0
            while i + k < n and k < PACK_MAX and d[p + k] == d[i + k]:
                k += 1
            if k > best:
                best, off = k, i - p
        if best >= PACK_MIN:
            flush()
            out.append(0x80 | (best - PACK_MIN))
            out += struct.pack("<H", off)
            for k in range(i, i + best):
                table.setdefault(d[k:k + PACK_MIN], []).append(k)
            i += best
        else:
            table.setdefault(d[i:i + PACK_MIN], []).append(i)
            lit.append(d[i])
            i += 1
    flush()
    return bytes(out)


def pack_bmp(bmp):
    """A 24-bit uncompressed BMP file as a packed picture."""
    off, = struct.unpack_from("<I", bmp, 10)
    size, w, h, planes, bpp, comp = struct.unpack_from("<IiiHHI", bmp, 14)
    if size < 40 or h <= 0 or w <= 0 or bpp != 24 or comp != 0:
        raise ValueError("not a bottom-up 24-bit uncompressed bitmap")
    stride = (w * 3 + 3) & ~3
    rows = bmp[off:off + stride * h]
    if len(rows) != stride * h:
        raise ValueError("bitmap data is short")
    filtered = bytearray(rows)
    for y in range(h):
        base = y * stride
        for x in range(stride - 1, 2, -1):
            filtered[base + x] = (rows[base + x] - rows[base + x - 3]) & 0xFF
    return b"VPK1" + struct.pack("<HHH", w, h, 24) + pack_stream(bytes(filtered))


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--pack":
        with open(sys.argv[2], "rb") as f:
            packed = pack_bmp(f.read())
        with open(sys.argv[3], "wb") as f:
            f.write(packed)
        return
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    files = {
        "background.bmp": bmp24(background()),
        "set.bmp": bmp24(button_glyph("set")),
        "close.bmp": bmp24(button_glyph("close")),
        "ok.bmp": bmp24(keyed(ok_glyph())),
        "menu_speed.bmp": bmp24(keyed(menu_speed())),
        "menu_option.bmp": bmp24(keyed(menu_option())),
        "menu_about.bmp": bmp24(keyed(menu_about())),
        "menu_exit.bmp": bmp24(keyed(menu_exit())),
        "tray.bmp": bmp24(keyed(tray_picture())),
        "panel.ico": ico8(panel_icon()),
        "launcher.ico": ico24(launcher_icon()),
    }
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        print(name, len(data))


if __name__ == "__main__":
    main()
