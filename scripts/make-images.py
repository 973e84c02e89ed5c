#!/usr/bin/python3
# SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
# SPDX-License-Identifier: GPL-3.0-or-later
"""Draws the image set of the resource bundle `risorse` into app/images/.

Every image is drawn from scratch with Pillow: shapes, gradients and, for a few
glyphs and the wordmark, the DejaVu fonts when they are installed. Icons are
drawn at four times their final size and reduced with a Lanczos filter, so the
edges come out smooth. The output is deterministic: running the script twice
writes the same bytes.

Usage: scripts/make-images.py [OUTPUT_DIR]   (default: app/images next to this script)
"""

import math
import os
import sys

try:
    from PIL import Image, ImageDraw, ImageFont
except ImportError:  # a Python without Pillow came first on PATH: use the system one
    if os.path.exists("/usr/bin/python3") and os.path.realpath(sys.executable) != os.path.realpath("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    sys.exit("make-images: Pillow is missing (Debian package python3-pil)")

SS = 4  # supersampling factor

# One palette for the whole set.
NAVY = (16, 52, 94, 255)        # brand, dark
BLUE = (22, 92, 150, 255)       # brand
TEAL = (14, 146, 160, 255)      # brand, light
TEAL_LIGHT = (120, 206, 214, 255)
AMBER = (244, 162, 54, 255)     # warm accent
AMBER_DARK = (206, 122, 20, 255)
GREEN = (40, 160, 90, 255)
GREEN_DARK = (24, 120, 64, 255)
RED = (214, 60, 56, 255)
RED_DARK = (168, 36, 36, 255)
GREY = (138, 150, 164, 255)
GREY_LIGHT = (214, 220, 228, 255)
WHITE = (255, 255, 255, 255)
PAPER = (250, 252, 254, 255)
INK = (28, 40, 56, 255)
CLEAR = (0, 0, 0, 0)

FONT_DIR = "/usr/share/fonts/truetype/dejavu"


def font(size, bold=True):
    """DejaVu Sans (bold) at the given pixel size, or Pillow's built-in font."""
    name = "DejaVuSans-Bold.ttf" if bold else "DejaVuSans.ttf"
    path = os.path.join(FONT_DIR, name)
    if os.path.exists(path):
        return ImageFont.truetype(path, size)
    try:
        return ImageFont.load_default(size=size)
    except TypeError:  # older Pillow: the default font has one size only
        return ImageFont.load_default()


class Icon:
    """A supersampled canvas whose drawing calls use a 0..100 grid.

    The grid maps onto the whole final image whatever its pixel size, so one
    drawing routine serves the 16, 32 and 64 pixel variants of an icon.
    """

    def __init__(self, size, height=None):
        self.w = size
        self.h = height or size
        self.img = Image.new("RGBA", (self.w * SS, self.h * SS), CLEAR)
        self.d = ImageDraw.Draw(self.img)
        self.kx = self.w * SS / 100.0
        self.ky = self.h * SS / 100.0

    # coordinate helpers
    def p(self, x, y):
        return (x * self.kx, y * self.ky)

    def box(self, x0, y0, x1, y1):
        return [x0 * self.kx, y0 * self.ky, x1 * self.kx, y1 * self.ky]

    def k(self, v):
        return max(1, int(round(v * self.kx)))

    # primitives
    def rect(self, x0, y0, x1, y1, fill, r=0):
        if r:
            self.d.rounded_rectangle(self.box(x0, y0, x1, y1), radius=r * self.kx, fill=fill)
        else:
            self.d.rectangle(self.box(x0, y0, x1, y1), fill=fill)

    def circle(self, cx, cy, r, fill):
        self.d.ellipse(self.box(cx - r, cy - r, cx + r, cy + r), fill=fill)

    def ring(self, cx, cy, r, w, fill):
        self.d.ellipse(self.box(cx - r, cy - r, cx + r, cy + r), outline=fill, width=self.k(w))

    def poly(self, pts, fill):
        self.d.polygon([self.p(x, y) for x, y in pts], fill=fill)

    def line(self, pts, fill, w, round_caps=True):
        """Polyline with round caps and joins."""
        pp = [self.p(x, y) for x, y in pts]
        width = self.k(w)
        self.d.line(pp, fill=fill, width=width, joint="curve")
        if round_caps:
            rr = width / 2.0
            for (x, y) in pp:
                self.d.ellipse([x - rr, y - rr, x + rr, y + rr], fill=fill)

    def arc(self, cx, cy, r, start, end, fill, w):
        self.d.arc(self.box(cx - r, cy - r, cx + r, cy + r), start, end, fill=fill, width=self.k(w))

    def text(self, cx, cy, s, size, fill, bold=True):
        """Text centred on (cx, cy); size is in grid units."""
        f = font(max(1, int(round(size * self.ky))), bold)
        self.d.text(self.p(cx, cy), s, font=f, fill=fill, anchor="mm")

    def paste(self, other, x0, y0):
        """Composites another Icon (same supersampling) at grid position (x0, y0)."""
        self.img.alpha_composite(other.img, (int(round(x0 * self.kx)), int(round(y0 * self.ky))))

    def final(self):
        return self.img.resize((self.w, self.h), Image.LANCZOS)


# ---------------------------------------------------------------- shapes

def cloud(ic, x0, y0, x1, y1, fill, outline=None, ow=0):
    """A cloud filling the box: three puffs over a rounded base."""
    w = x1 - x0
    h = y1 - y0

    def parts(grow):
        base_r = h * 0.22 + grow
        ic.rect(x0 + w * 0.02 - grow, y0 + h * 0.52 - grow, x1 - w * 0.02 + grow, y1 + grow,
                fill_col, r=base_r)
        ic.circle(x0 + w * 0.30, y0 + h * 0.58, h * 0.30 + grow, fill_col)
        ic.circle(x0 + w * 0.55, y0 + h * 0.40, h * 0.40 + grow, fill_col)
        ic.circle(x0 + w * 0.78, y0 + h * 0.62, h * 0.26 + grow, fill_col)

    if outline:
        fill_col = outline
        parts(ow)
    fill_col = fill
    parts(0)


def shield(ic, cx, top, w, h, fill):
    """A heater shield: flat top, straight sides, pointed bottom."""
    x0, x1 = cx - w / 2, cx + w / 2
    pts = [(x0, top + h * 0.08), (cx, top), (x1, top + h * 0.08), (x1, top + h * 0.45)]
    # curved lower half down to the point
    steps = 16
    for i in range(1, steps + 1):
        t = i / steps
        x = x1 + (cx - x1) * t
        y = top + h * 0.45 + (h * 0.55) * math.sin(t * math.pi / 2)
        pts.append((x, y))
    for i in range(1, steps + 1):
        t = i / steps
        x = cx + (x0 - cx) * t
        y = top + h - (h * 0.55) * (1 - math.cos(t * math.pi / 2))
        pts.append((x, y))
    pts.append((x0, top + h * 0.08))
    ic.poly(pts, fill)


def tick(ic, x0, y0, s, fill, w):
    """A check mark in the s x s box at (x0, y0)."""
    ic.line([(x0 + s * 0.08, y0 + s * 0.52), (x0 + s * 0.38, y0 + s * 0.80), (x0 + s * 0.92, y0 + s * 0.20)],
            fill, w)


def cross(ic, cx, cy, r, fill, w):
    ic.line([(cx - r, cy - r), (cx + r, cy + r)], fill, w)
    ic.line([(cx - r, cy + r), (cx + r, cy - r)], fill, w)


def arrow_up(ic, cx, top, bottom, head_w, shaft_w, fill):
    head_h = head_w * 0.6
    ic.poly([(cx, top), (cx + head_w / 2, top + head_h), (cx - head_w / 2, top + head_h)], fill)
    ic.rect(cx - shaft_w / 2, top + head_h - 1, cx + shaft_w / 2, bottom, fill)


def arrow_right(ic, left, right, cy, head_w, shaft_w, fill):
    head_h = head_w * 0.6
    ic.poly([(right, cy), (right - head_h, cy - head_w / 2), (right - head_h, cy + head_w / 2)], fill)
    ic.rect(left, cy - shaft_w / 2, right - head_h + 1, cy + shaft_w / 2, fill)


def document(ic, x0, y0, x1, y1, fill, edge, lines=None, lw=3):
    """A sheet with a folded top-right corner and optional text lines."""
    fold = (x1 - x0) * 0.30
    ew = max(lw * 0.9, 100.0 / (ic.w * 1.0) * 1.0)  # at least about one pixel
    ic.poly([(x0, y0), (x1 - fold, y0), (x1, y0 + fold), (x1, y1), (x0, y1)], edge)
    ic.poly([(x0 + ew, y0 + ew), (x1 - fold - ew * 0.4, y0 + ew), (x1 - ew, y0 + fold + ew * 0.4),
             (x1 - ew, y1 - ew), (x0 + ew, y1 - ew)], fill)
    ic.poly([(x1 - fold, y0), (x1 - fold, y0 + fold), (x1, y0 + fold)], edge)
    if lines:
        span = (y1 - y0 - fold) * 0.8
        n = 3
        for i in range(n):
            y = y0 + fold + span * (i + 0.5) / n
            x_end = x1 - (x1 - x0) * (0.22 if i < n - 1 else 0.40)
            ic.rect(x0 + (x1 - x0) * 0.20, y - lw / 2, x_end, y + lw / 2, lines)


def gear(ic, cx, cy, r_out, r_in, teeth, hole, fill):
    """A gear with trapezoid teeth and a round hole."""
    pts = []
    n = teeth * 4
    for i in range(n):
        a = 2 * math.pi * i / n - math.pi / 2
        phase = i % 4
        r = r_out if phase in (1, 2) else r_in
        # narrow the tooth tips a little
        da = (math.pi / n) * (0.35 if phase == 1 else -0.35 if phase == 2 else 0)
        pts.append((cx + r * math.cos(a + da), cy + r * math.sin(a + da)))
    ic.poly(pts, fill)
    ic.circle(cx, cy, r_in * 0.92, fill)
    ic.circle(cx, cy, hole, CLEAR)


def folder_shape(ic, x0, y0, x1, y1, back, front):
    w = x1 - x0
    h = y1 - y0
    ic.rect(x0, y0, x0 + w * 0.42, y0 + h * 0.30, back, r=h * 0.08)
    ic.rect(x0, y0 + h * 0.14, x1, y1, back, r=h * 0.08)
    ic.rect(x0, y0 + h * 0.30, x1, y1, front, r=h * 0.08)


def monitor(ic, x0, y0, x1, y1, frame, screen):
    w = x1 - x0
    h = y1 - y0
    ic.rect(x0, y0, x1, y0 + h * 0.72, frame, r=h * 0.08)
    b = min(w, h) * 0.13
    ic.rect(x0 + b, y0 + b, x1 - b, y0 + h * 0.72 - b, screen)
    ic.rect(x0 + w * 0.42, y0 + h * 0.70, x0 + w * 0.58, y0 + h * 0.88, frame)
    ic.rect(x0 + w * 0.22, y0 + h * 0.86, x0 + w * 0.78, y1, frame, r=h * 0.04)


def badge(ic, cx, cy, r, fill, ring=WHITE, ring_w=None):
    ring_w = ring_w if ring_w is not None else r * 0.22
    ic.circle(cx, cy, r + ring_w, ring)
    ic.circle(cx, cy, r, fill)


def gradient(size, top, bottom, diagonal=False):
    """A vertical (or top-left to bottom-right) two-colour gradient.

    The blend factor is computed on a small grid and enlarged bilinearly,
    which is smooth and much faster than a per-pixel loop at full size.
    """
    w, h = size
    n = 64
    mask = Image.new("L", (n, n))
    mask.putdata([int(round(255 * (((x / (n - 1)) * 0.35 + (y / (n - 1)) * 0.65) if diagonal else y / (n - 1))))
                  for y in range(n) for x in range(n)])
    mask = mask.resize((w, h), Image.BILINEAR)
    a = Image.new("RGBA", size, tuple(top[:3]) + (255,))
    b = Image.new("RGBA", size, tuple(bottom[:3]) + (255,))
    return Image.composite(b, a, mask)


# ---------------------------------------------------------------- icons

def app_mark(size):
    """Application mark: rounded brand square, white cloud, amber shield with a tick."""
    big = size * SS
    bg = gradient((big, big), (26, 110, 170), NAVY[:3], diagonal=True)
    mask = Image.new("L", (big, big), 0)
    ImageDraw.Draw(mask).rounded_rectangle([0, 0, big - 1, big - 1], radius=big * 0.22, fill=255)
    ic = Icon(size)
    ic.img.paste(bg, (0, 0), mask)
    cloud(ic, 7, 20, 93, 79, WHITE)
    shield(ic, 55, 33, 34, 42, AMBER)
    tick(ic, 43, 41.5, 24, WHITE, 7.5)
    return ic.final()


def icon_conservato(size):
    ic = Icon(size)
    shield(ic, 50, 3, 84, 94, GREEN)
    tick(ic, 24, 22, 52, WHITE, 15)
    return ic.final()


def icon_nonconservato(size):
    ic = Icon(size)
    shield(ic, 50, 3, 84, 94, GREY)
    shield(ic, 50, 12, 66, 76, GREY_LIGHT)
    cross(ic, 50, 46, 14, RED, 14)
    return ic.final()


def icon_cloudonly(size):
    ic = Icon(size)
    cloud(ic, 4, 20, 96, 82, TEAL, outline=BLUE, ow=6)
    return ic.final()


def icon_cloudandpc(size):
    ic = Icon(size)
    cloud(ic, 30, 4, 98, 52, TEAL, outline=BLUE, ow=5)
    # white gap so the monitor reads in front of the cloud
    ic.rect(0, 38, 64, 100, CLEAR)
    monitor(ic, 2, 42, 62, 98, NAVY, (190, 230, 240, 255))
    return ic.final()


def icon_upload(size):
    ic = Icon(size)
    cloud(ic, 4, 16, 96, 86, TEAL, outline=BLUE, ow=4)
    arrow_up(ic, 52, 30, 80, 34, 13, WHITE)
    return ic.final()


def icon_conserva(size):
    ic = Icon(size)
    cloud(ic, 2, 10, 90, 76, TEAL, outline=BLUE, ow=3)
    arrow_up(ic, 48, 24, 66, 30, 11, WHITE)
    shield(ic, 77, 52, 38, 46, WHITE)
    shield(ic, 77, 56, 30, 38, AMBER)
    tick(ic, 68, 64, 18, WHITE, 5.5)
    return ic.final()


def icon_conservafile(size):
    ic = Icon(size)
    document(ic, 10, 4, 66, 94, PAPER, BLUE, lines=GREY_LIGHT, lw=5)
    cloud(ic, 40, 46, 98, 92, WHITE, outline=WHITE, ow=5)
    cloud(ic, 40, 46, 98, 92, TEAL, outline=BLUE, ow=3)
    arrow_up(ic, 70, 56, 86, 22, 8, WHITE)
    return ic.final()


def icon_fileconservati(size):
    ic = Icon(size)
    document(ic, 26, 4, 82, 76, GREY_LIGHT, GREY, lw=4)
    document(ic, 12, 14, 68, 92, PAPER, BLUE, lines=GREY_LIGHT, lw=5)
    badge(ic, 72, 72, 20, GREEN, ring_w=5)
    tick(ic, 60, 60, 24, WHITE, 7)
    return ic.final()


def icon_categorie(size):
    """A folder with a label tag: the classes documents are filed under."""
    ic = Icon(size)
    folder_shape(ic, 2, 8, 80, 74, AMBER_DARK, AMBER)
    x0, y0, w, h = 38, 50, 58, 40
    ic.poly([(x0, y0), (x0 + w * 0.68, y0), (x0 + w, y0 + h / 2), (x0 + w * 0.68, y0 + h), (x0, y0 + h)], WHITE)
    e = 5
    ic.poly([(x0 + e, y0 + e), (x0 + w * 0.68 - e * 0.4, y0 + e), (x0 + w - e * 1.3, y0 + h / 2),
             (x0 + w * 0.68 - e * 0.4, y0 + h - e), (x0 + e, y0 + h - e)], TEAL)
    ic.circle(x0 + w * 0.68, y0 + h / 2, 5, WHITE)
    return ic.final()


def icon_aree(size):
    """Storage areas: a database cylinder with a usage pie beside it."""
    ic = Icon(size)
    cx, rx, ry = 40, 32, 10
    top, bottom = 18, 80
    ic.d.ellipse(ic.box(cx - rx, bottom - ry, cx + rx, bottom + ry), fill=BLUE)
    ic.rect(cx - rx, top, cx + rx, bottom, BLUE)
    for y in (top + 21, top + 42):
        ic.d.arc(ic.box(cx - rx, y - ry, cx + rx, y + ry), 0, 180, fill=TEAL_LIGHT, width=ic.k(3.5))
    ic.d.ellipse(ic.box(cx - rx, top - ry, cx + rx, top + ry), fill=TEAL)
    ic.d.ellipse(ic.box(cx - rx + 3, top - ry + 2.5, cx + rx - 3, top + ry - 2.5), fill=TEAL_LIGHT)
    ic.circle(76, 70, 24, WHITE)
    ic.d.pieslice(ic.box(56, 50, 96, 90), 0, 360, fill=GREEN)
    ic.d.pieslice(ic.box(56, 50, 96, 90), -90, 40, fill=AMBER)
    return ic.final()


def icon_gear(size, col=NAVY):
    ic = Icon(size)
    gear(ic, 50, 50, 47, 35, 8, 14, col)
    ic.ring(50, 50, 24, 5, TEAL if size >= 32 else col)
    ic.circle(50, 50, 14, CLEAR)
    return ic.final()


def icon_info(size):
    ic = Icon(size)
    ic.circle(50, 50, 47, BLUE)
    ic.circle(50, 28, 8, WHITE)
    ic.rect(41, 42, 59, 78, WHITE, r=3)
    ic.rect(34, 42, 59, 49, WHITE, r=2)
    ic.rect(34, 72, 66, 79, WHITE, r=2)
    return ic.final()


def icon_opinione(size):
    ic = Icon(size)
    ic.rect(4, 8, 96, 74, TEAL, r=18)
    ic.poly([(22, 66), (44, 70), (18, 94)], TEAL)
    for x in (30, 50, 70):
        ic.circle(x, 41, 7, WHITE)
    return ic.final()


def icon_help(size):
    ic = Icon(size)
    ic.circle(50, 50, 47, TEAL)
    ic.arc(50, 36, 17, 180, 30, WHITE, 11)
    ic.line([(64.7, 44.5), (50, 56), (50, 63)], WHITE, 11)
    ic.circle(50, 78, 7, WHITE)
    return ic.final()


def icon_ricerca(size):
    ic = Icon(size)
    ic.ring(40, 40, 30, 13, NAVY)
    ic.line([(62, 62), (90, 90)], NAVY, 17)
    return ic.final()


def icon_folder(size):
    ic = Icon(size)
    folder_shape(ic, 4, 12, 96, 90, AMBER_DARK, AMBER)
    return ic.final()


def icon_ok(size):
    ic = Icon(size)
    ic.circle(50, 50, 47, GREEN)
    tick(ic, 22, 22, 56, WHITE, 13)
    return ic.final()


def icon_check(size):
    ic = Icon(size)
    tick(ic, 4, 6, 92, GREEN_DARK, 17)
    return ic.final()


def icon_cancel(size):
    ic = Icon(size)
    ic.circle(50, 50, 47, RED)
    cross(ic, 50, 50, 18, WHITE, 13)
    return ic.final()


def icon_error(size):
    ic = Icon(size)
    ic.circle(50, 50, 48, RED_DARK)
    ic.circle(50, 50, 44, RED)
    ic.line([(50, 24), (50, 56)], WHITE, 12)
    ic.circle(50, 75, 7, WHITE)
    return ic.final()


def icon_validationko(size):
    ic = Icon(size)
    # rounded triangle: a thick line loop plus the fill
    tri = [(50, 8), (94, 90), (6, 90)]
    ic.poly(tri, RED)
    ic.line(tri + [tri[0]], RED, 10)
    ic.line([(50, 36), (50, 62)], WHITE, 12)
    ic.circle(50, 78, 7, WHITE)
    return ic.final()


def icon_log_out(size):
    """Door frame with an arrow leaving it (main window toolbar)."""
    ic = Icon(size)
    ic.line([(56, 26), (56, 8), (10, 8), (10, 92), (56, 92), (56, 74)], NAVY, 10)
    ic.poly([(10, 8), (40, 18), (40, 100), (10, 92)], BLUE)
    arrow_right(ic, 34, 98, 50, 36, 13, AMBER)
    return ic.final()


def icon_logout(size):
    """Bracket and arrow: compact variant for menus and small buttons."""
    ic = Icon(size)
    ic.line([(48, 10), (12, 10), (12, 90), (48, 90)], NAVY, 13)
    arrow_right(ic, 30, 98, 50, 44, 15, AMBER_DARK)
    return ic.final()


def icon_logout2(size):
    """Power button: quits the client (main window bar, without a tray)."""
    ic = Icon(size)
    ic.circle(50, 50, 48, BLUE)
    ic.arc(50, 52, 26, -60, 240, WHITE, 10)
    ic.line([(50, 18), (50, 48)], WHITE, 10)
    return ic.final()


def icon_calendar(size):
    ic = Icon(size)
    ic.rect(4, 12, 96, 96, BLUE, r=12)
    ic.rect(12, 36, 88, 88, WHITE, r=4)
    ic.rect(22, 2, 34, 22, NAVY, r=4)
    ic.rect(66, 2, 78, 22, NAVY, r=4)
    for row in range(3):
        for col in range(3):
            x = 22 + col * 22
            y = 44 + row * 14
            ic.rect(x, y, x + 12, y + 9, AMBER if (row, col) == (1, 1) else GREY)
    return ic.final()


# ---------------------------------------------------------------- logos

def wordmark(w, h, text_col, lite_col):
    """Mark plus the words 'Tavrel Lite', transparent background."""
    img = Image.new("RGBA", (w * SS, h * SS), CLEAR)
    mk = app_mark_ss(h)
    img.alpha_composite(mk, (0, 0))
    d = ImageDraw.Draw(img)
    f1 = font(int(h * SS * 0.50), True)
    f2 = font(int(h * SS * 0.50), False)
    x = int(h * SS * 1.18)
    y = int(h * SS * 0.52)
    d.text((x, y), "Tavrel", font=f1, fill=text_col, anchor="lm")
    x += int(d.textlength("Tavrel ", font=f1))
    d.text((x, y), "Lite", font=f2, fill=lite_col, anchor="lm")
    return img.resize((w, h), Image.LANCZOS)


def app_mark_ss(size):
    """The app mark drawn straight at supersampled resolution (for compositing)."""
    return app_mark(size * SS).resize((size * SS, size * SS), Image.LANCZOS)


def splash():
    w, h = 480, 300
    img = gradient((w * SS // 2, h * SS // 2), (24, 104, 164), (12, 40, 76), diagonal=True)
    img = img.resize((w * SS, h * SS), Image.BILINEAR)
    d = ImageDraw.Draw(img)
    # soft decorative clouds in the background
    deco = Icon(w, h)
    cloud(deco, 58, 4, 112, 50, (255, 255, 255, 22))
    cloud(deco, -14, 62, 34, 112, (255, 255, 255, 16))
    img.alpha_composite(deco.img)
    # mark and wordmark
    mark = app_mark(96 * SS)
    mark = mark.resize((96 * SS, 96 * SS), Image.LANCZOS)
    img.alpha_composite(mark, (40 * SS, 70 * SS))
    f1 = font(46 * SS, True)
    f2 = font(46 * SS, False)
    d.text((156 * SS, 118 * SS), "Tavrel", font=f1, fill=WHITE, anchor="lm")
    x = 156 * SS + int(d.textlength("Tavrel ", font=f1))
    d.text((x, 118 * SS), "Lite", font=f2, fill=AMBER, anchor="lm")
    f3 = font(15 * SS, False)
    d.text((158 * SS, 158 * SS), "Conservazione dei documenti nel cloud", font=f3,
           fill=(220, 236, 246, 255), anchor="lm")
    # accent bar
    d.rectangle([0, (h - 8) * SS, w * SS, h * SS], fill=AMBER)
    d.rectangle([0, (h - 8) * SS, w * SS * 0.62, h * SS], fill=TEAL)
    return img.resize((w, h), Image.LANCZOS).convert("RGB")


# ---------------------------------------------------------------- GIFs

GIF_MATTE = (244, 244, 244)  # between the usual light window colours and white


def save_gif(frames, path, duration=None):
    """Writes RGBA frames as a GIF with one shared palette and 1-bit transparency.

    GIF has no partial transparency: clearly covered pixels are blended over a
    light matte (so antialiased edges stay smooth on the light windows they
    are shown on), nearly empty ones become the transparent index 0.
    """
    colours = {}
    data = []
    for fr in frames:
        px = list(fr.getdata())
        row = []
        for (r, g, b, a) in px:
            if a < 72:
                row.append(None)
            else:
                t = a / 255.0
                c = tuple(int(round(v * t + m * (1 - t))) for v, m in zip((r, g, b), GIF_MATTE))
                if c not in colours:
                    colours[c] = None
                row.append(c)
        data.append(row)
    ordered = sorted(colours)
    if len(ordered) > 255:
        # Reduce to 255 colours chosen over all frames together, so every
        # frame shares the same palette.
        strip = Image.new("RGB", (len(ordered), 1))
        strip.putdata(ordered)
        reduced = strip.quantize(colors=255, method=Image.MEDIANCUT, dither=Image.NONE)
        pal = reduced.getpalette()[:255 * 3]
        idx = list(reduced.getdata())
        mapped = {c: tuple(pal[i * 3:i * 3 + 3]) for c, i in zip(ordered, idx)}
        data = [[None if c is None else mapped[c] for c in row] for row in data]
        ordered = sorted(set(mapped.values()))
    index = {c: i + 1 for i, c in enumerate(ordered)}
    palette = [255, 0, 255] + [v for c in ordered for v in c]
    palette += [0] * (768 - len(palette))
    out = []
    for fr, row in zip(frames, data):
        p = Image.new("P", fr.size, 0)
        p.putpalette(palette)
        p.putdata([0 if c is None else index[c] for c in row])
        p.info["transparency"] = 0
        out.append(p)
    kw = dict(transparency=0, optimize=False)
    if len(out) > 1:
        kw.update(save_all=True, append_images=out[1:], duration=duration, loop=0, disposal=2)
    out[0].save(path, "GIF", **kw)


def spinner_frames(size=32, n=12):
    """Twelve dots round a circle; the dark head moves one step per frame and
    the tail fades towards a pale teal."""
    pale = (206, 232, 236)
    shades = []
    for age in range(n):
        t = age / (n - 1)  # 0 = head, 1 = end of the tail
        if t < 0.3:
            a, b, u = BLUE, TEAL, t / 0.3
        else:
            a, b, u = TEAL, pale, (t - 0.3) / 0.7
        shades.append(tuple(int(round(a[c] + (b[c] - a[c]) * u)) for c in range(3)) + (255,))
    frames = []
    for f in range(n):
        ic = Icon(size)
        for i in range(n):
            ang = 2 * math.pi * i / n - math.pi / 2
            age = (f - i) % n
            r = 10.0 - 3.0 * (age / (n - 1))
            ic.circle(50 + 36 * math.cos(ang), 50 + 36 * math.sin(ang), r, shades[age])
        frames.append(ic.final())
    return frames


# ---------------------------------------------------------------- main

def images():
    """Name -> PIL image (or a list of frames for GIFs)."""
    return [
        ("tavrellite.png", app_mark(256)),
        ("kvlite_logo.png", wordmark(240, 60, NAVY, TEAL)),
        ("kvlite_logo_white.png", wordmark(240, 60, WHITE, AMBER)),
        ("kvwlogo.png", app_mark(64)),
        ("splash.png", splash()),
        ("loading.gif", spinner_frames()),
        ("calendar.gif", [icon_calendar(16)]),
        ("conservato.png", icon_conservato(16)),
        ("nonconservato.png", icon_nonconservato(16)),
        ("cloudonly.png", icon_cloudonly(16)),
        ("cloudandpc.png", icon_cloudandpc(16)),
        ("upload.png", icon_upload(32)),
        ("conserva64.png", icon_conserva(64)),
        ("conservafile.png", icon_conservafile(32)),
        ("fileconservati.png", icon_fileconservati(32)),
        ("fileconservati64.png", icon_fileconservati(64)),
        ("categorie.png", icon_categorie(32)),
        ("aree64.png", icon_aree(64)),
        ("impostazioni.png", icon_gear(32)),
        ("impostazioni64.png", icon_gear(64)),
        ("settings.png", icon_gear(20)),
        ("informazioni.png", icon_info(32)),
        ("opinione.png", icon_opinione(32)),
        ("help.png", icon_help(32)),
        ("ricerca.png", icon_ricerca(16)),
        ("folder.png", icon_folder(32)),
        ("ok.png", icon_ok(20)),
        ("check.png", icon_check(16)),
        ("cancel.png", icon_cancel(20)),
        ("error.png", icon_error(40)),
        ("validationko.png", icon_validationko(16)),
        ("log_out.png", icon_log_out(32)),
        ("logout.png", icon_logout(16)),
        ("logout2.png", icon_logout2(32)),
    ]


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "app", "images")
    os.makedirs(out_dir, exist_ok=True)
    for name, img in images():
        path = os.path.join(out_dir, name)
        if name.endswith(".gif"):
            save_gif(img, path, duration=80)
        else:
            img.save(path, "PNG", optimize=True)
        print("wrote", os.path.normpath(path))


if __name__ == "__main__":
    main()
