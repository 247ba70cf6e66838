#!/usr/bin/env python3
"""Draws the scan window's bitmaps (resources/bitmaps/<id>_<role>.bmp): the
window background, the button faces, the check-box images, the title-bar
buttons, the progress fill columns, the list's check-glyph strip and the list
header. Pure Python, so the pictures can be redrawn anywhere and come out
byte-identical every time:  python3 resources/draw_bitmaps.py

Button bitmaps use pure black as their transparent colour, so no visible pixel
of them is (0, 0, 0); their rounded edges are smoothed against the colour the
button sits on. The check-box images use white as their mask colour and the
glyph strip magenta, so those colours appear only where the picture is meant
to be see-through."""
import math
import os
import struct

SUPERSAMPLE = 4

# Palette shared by all pictures.
BAND_TOP = (46, 142, 98)
BAND_BOTTOM = (20, 92, 60)
BAND_EDGE = (12, 64, 40)
BAND_HEIGHT = 34
BODY_TOP = (240, 248, 246)
BODY_BOTTOM = (222, 238, 235)
PANEL_FRAME = (168, 190, 184)
FOOTER_TOP = (238, 240, 240)
FOOTER_BOTTOM = (212, 216, 216)
FOOTER_TOP_Y = 262
TRANSPARENT = (0, 0, 0)
WHITE = (255, 255, 255)
MAGENTA = (255, 0, 255)


def mix(a, b, t):
    t = min(1.0, max(0.0, t))
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def vgrad(top, bottom, y0, y1):
    """Colour function of a vertical gradient from row y0 to row y1."""
    return lambda x, y: mix(top, bottom, (y - y0) / max(1.0, y1 - y0))


def solid(c):
    return lambda x, y: c


# --- shapes as signed distances (negative inside), in pixels ---------------

def round_rect(x0, y0, x1, y1, r):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hw, hh = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def sdf(x, y):
        dx, dy = abs(x - cx) - hw, abs(y - cy) - hh
        outside = math.hypot(max(dx, 0.0), max(dy, 0.0))
        return outside + min(max(dx, dy), 0.0) - r
    return sdf


def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def ring(cx, cy, r, width):
    return lambda x, y: abs(math.hypot(x - cx, y - cy) - r) - width / 2


def segment(ax, ay, bx, by, width):
    vx, vy = bx - ax, by - ay
    length2 = vx * vx + vy * vy

    def sdf(x, y):
        t = max(0.0, min(1.0, ((x - ax) * vx + (y - ay) * vy) / length2))
        return math.hypot(x - ax - vx * t, y - ay - vy * t) - width / 2
    return sdf


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def subtract(a, b):
    return lambda x, y: max(a(x, y), -b(x, y))


# --- canvas ----------------------------------------------------------------

class Canvas:
    def __init__(self, w, h, colour):
        self.w, self.h = w, h
        self.px = [[colour(x + 0.5, y + 0.5) for x in range(w)] for y in range(h)]

    def coverage(self, shape, x, y):
        d = shape(x + 0.5, y + 0.5)
        if d > 1.0:
            return 0.0
        if d < -1.0:
            return 1.0
        hits = 0
        for sy in range(SUPERSAMPLE):
            for sx in range(SUPERSAMPLE):
                if shape(x + (sx + 0.5) / SUPERSAMPLE, y + (sy + 0.5) / SUPERSAMPLE) < 0:
                    hits += 1
        return hits / (SUPERSAMPLE * SUPERSAMPLE)

    def fill(self, shape, colour, box=None, opacity=1.0):
        x0, y0, x1, y1 = box or (0, 0, self.w, self.h)
        for y in range(max(0, y0), min(self.h, y1)):
            row = self.px[y]
            for x in range(max(0, x0), min(self.w, x1)):
                a = self.coverage(shape, x, y) * opacity
                if a > 0:
                    row[x] = mix(row[x], colour(x + 0.5, y + 0.5), a)

    def hline(self, y, x0, x1, c):
        for x in range(x0, x1):
            self.px[y][x] = c

    def rows(self):
        return [[tuple(int(round(v)) for v in p) for p in row] for row in self.px]


def write_bmp(path, rows, bits):
    h, w = len(rows), len(rows[0])
    stride = (w * bits // 8 + 3) & ~3
    data = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray()
        for p in row:
            r, g, b = p[:3]
            line += bytes((b, g, r))
            if bits == 32:
                line.append(p[3])
        line += bytes(stride - len(line))
        data += line
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, 0, len(data), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(data), 0, 0, 14 + len(info))
    with open(path, "wb") as f:
        f.write(head + info + bytes(data))


def opaque(rows):
    return [[p + (255,) for p in row] for row in rows]


# --- button bitmaps with black as the transparent colour -------------------

def button(w, h, backdrop, face, border, radius, glyph=None, glyph_colour=None, gloss=0.22):
    """A rounded face of w x h. Corner pixels mostly outside the outline are
    pure black (transparent); edge pixels are smoothed toward the backdrop the
    button is shown on, so they blend in without a dark fringe."""
    outline = round_rect(0, 0, w, h, radius)
    inner = round_rect(1, 1, w - 1, h - 1, radius - 1)
    canvas = Canvas(w, h, backdrop)
    canvas.fill(outline, solid(border))
    canvas.fill(inner, face)
    # soft sheen over the upper half
    canvas.fill(round_rect(1, 1, w - 1, h / 2, radius - 1), solid((255, 255, 255)), opacity=gloss)
    canvas.fill(round_rect(1.5, 1, w - 1.5, 2, 0.5), solid((255, 255, 255)), opacity=0.25)
    if glyph:
        canvas.fill(glyph, solid(glyph_colour))
    out = []
    for y, row in enumerate(canvas.rows()):
        line = []
        for x, p in enumerate(row):
            if canvas.coverage(outline, x, y) < 0.5:
                line.append(TRANSPARENT + (0,))
            else:
                line.append(tuple(max(1, v) for v in p) + (255,))
        out.append(line)
    return out


def band_colour(y):
    if y >= BAND_HEIGHT - 1:
        return BAND_EDGE
    return mix(BAND_TOP, BAND_BOTTOM, y / (BAND_HEIGHT - 2))


def title_backdrop(top):
    return lambda x, y: band_colour(top + y)


def cross(w, h, size, width):
    cx, cy = w / 2, h / 2
    return union(segment(cx - size, cy - size, cx + size, cy + size, width),
                 segment(cx - size, cy + size, cx + size, cy - size, width))


def close_buttons():
    back = title_backdrop(2)
    glyph = cross(43, 18, 3.6, 1.7)
    normal = button(43, 18, back, vgrad((70, 168, 118), (30, 116, 78), 0, 18), (16, 78, 50), 4, glyph, WHITE)
    hover = button(43, 18, back, vgrad((236, 96, 82), (188, 42, 36), 0, 18), (120, 26, 22), 4, glyph, WHITE)
    pressed = button(43, 18, back, vgrad((150, 34, 30), (176, 52, 44), 0, 18), (100, 20, 18), 4, glyph,
                     (255, 196, 188), gloss=0.06)
    return normal, hover, pressed


def minimise_buttons():
    back = title_backdrop(2)
    dash = segment(8.5, 12.2, 16.5, 12.2, 2.0)
    normal = button(25, 18, back, vgrad((70, 168, 118), (30, 116, 78), 0, 18), (16, 78, 50), 4, dash, WHITE)
    hover = button(25, 18, back, vgrad((122, 206, 156), (66, 164, 112), 0, 18), (24, 96, 62), 4, dash, WHITE)
    pressed = button(25, 18, back, vgrad((176, 226, 196), (196, 236, 212), 0, 18), (60, 130, 92), 4, dash,
                     (26, 100, 64), gloss=0.06)
    return normal, hover, pressed


def footer_colour(y):
    return mix(FOOTER_TOP, FOOTER_BOTTOM, (y - FOOTER_TOP_Y) / (300 - FOOTER_TOP_Y))


def face_buttons():
    back = lambda x, y: footer_colour(269 + y)
    normal = button(60, 25, back, vgrad((104, 110, 112), (62, 66, 68), 0, 25), (40, 44, 46), 4)
    hover = button(60, 25, back, vgrad((148, 154, 156), (104, 110, 112), 0, 25), (70, 76, 78), 4)
    return normal, hover


# --- check marks ----------------------------------------------------------

def tick(ox, oy, width):
    """A check mark inside a 12-pixel box whose corner is (ox, oy)."""
    return union(segment(ox + 2.6, oy + 6.2, ox + 5.0, oy + 8.8, width),
                 segment(ox + 5.0, oy + 8.8, ox + 9.6, oy + 3.0, width))


def check_box_image(ticked):
    """16 x 18, white (the mask colour) around a 14 x 14 box."""
    canvas = Canvas(16, 18, solid(WHITE))
    for y in range(2, 16):
        for x in range(1, 15):
            edge = x in (1, 14) or y in (2, 15)
            canvas.px[y][x] = (112, 128, 124) if edge else mix((252, 252, 252), (226, 234, 232), (y - 3) / 11)
    if ticked:
        canvas.fill(tick(2, 3, 2.1), solid((28, 132, 78)), (2, 3, 14, 15))
    return opaque(canvas.rows())


def glyph_strip():
    """48 x 16 on magenta: empty box, ticked box, greyed (handled) box."""
    canvas = Canvas(48, 16, solid(MAGENTA))
    styles = [((112, 128, 124), (252, 252, 252), (228, 236, 234), None),
              ((112, 128, 124), (252, 252, 252), (228, 236, 234), (28, 132, 78)),
              ((168, 170, 170), (226, 226, 226), (210, 210, 210), (150, 152, 152))]
    for i, (edge, top, bottom, mark) in enumerate(styles):
        ox = i * 16
        for y in range(2, 15):
            for x in range(ox + 2, ox + 15):
                border = x in (ox + 2, ox + 14) or y in (2, 14)
                canvas.px[y][x] = edge if border else mix(top, bottom, (y - 3) / 10)
        if mark:
            canvas.fill(tick(ox + 2.5, 2.5, 2.0), solid(mark), (ox + 3, 3, ox + 14, 14))
    return canvas.rows()


# --- columns and header ---------------------------------------------------

def progress_column(top, middle, bottom):
    """16 x 11, the same in every column: a lit upper half over a deeper
    lower half, as the bar repeats the first column."""
    rows = []
    for y in range(11):
        c = mix(top, middle, y / 4) if y < 5 else mix(middle, bottom, (y - 5) / 5)
        rows.append([tuple(int(round(v)) for v in c)] * 16)
    return rows


def header():
    rows = []
    for y in range(21):
        if y == 0:
            c = (110, 184, 144)
        elif y == 20:
            c = (24, 84, 56)
        else:
            c = mix((76, 156, 114), (36, 108, 74), (y - 1) / 18)
        rows.append([tuple(int(round(v)) for v in c)] * 7)
    return rows


# --- the window background ------------------------------------------------

def monitor(canvas):
    """A monitor with a magnifier over its lower right corner, at the left
    below the title band."""
    ox, oy = 18, 44
    box = (ox - 4, oy - 4, ox + 70, oy + 66)
    shadow = round_rect(ox + 2, oy + 3, ox + 60, oy + 43, 4)
    canvas.fill(shadow, solid((150, 170, 166)), box, opacity=0.35)
    canvas.fill(round_rect(ox, oy, ox + 58, oy + 40, 4), vgrad((86, 94, 98), (46, 52, 56), oy, oy + 40), box)
    canvas.fill(round_rect(ox + 4, oy + 4, ox + 54, oy + 34, 1.5),
                vgrad((96, 196, 170), (26, 112, 96), oy + 4, oy + 34), box)
    # screen gloss, a diagonal sheen
    canvas.fill(subtract(round_rect(ox + 4, oy + 4, ox + 54, oy + 34, 1.5),
                         lambda x, y: (y - oy) - 0.45 * (ox + 54 - x) + 4),
                solid((255, 255, 255)), box, opacity=0.16)
    # scan lines on the screen: a list of findings, in miniature
    for i, length in enumerate((30, 22, 26)):
        y = oy + 11 + i * 6
        canvas.fill(round_rect(ox + 10, y, ox + 10 + length, y + 2.2, 1.1), solid((220, 246, 236)), box, opacity=0.75)
    canvas.fill(circle(ox + 29, oy + 37.2, 1.1), solid((140, 200, 170)), box)
    # stand and foot
    canvas.fill(round_rect(ox + 24, oy + 40, ox + 34, oy + 49, 0.5), vgrad((70, 78, 82), (104, 112, 116), oy + 40, oy + 49), box)
    canvas.fill(round_rect(ox + 14, oy + 48, ox + 44, oy + 53, 2.5), vgrad((120, 128, 132), (64, 70, 74), oy + 48, oy + 53), box)
    # magnifier
    mx, my, r = ox + 50, oy + 36, 10.5
    canvas.fill(segment(mx + 7.5, my + 7.5, mx + 17, my + 17, 6.2), solid((150, 170, 166)), box, opacity=0.35)
    canvas.fill(segment(mx + 7, my + 7, mx + 16, my + 16, 5.4), vgrad((36, 110, 72), (16, 70, 44), my + 7, my + 16), box)
    canvas.fill(circle(mx, my, r - 1), solid((226, 246, 240)), box, opacity=0.55)
    canvas.fill(subtract(circle(mx - 2, my - 2, r - 4), circle(mx + 1, my + 1, r - 4)), solid(WHITE), box, opacity=0.5)
    canvas.fill(ring(mx, my, r, 3.2), vgrad((210, 216, 218), (120, 128, 132), my - r, my + r), box)
    canvas.fill(ring(mx, my, r + 1.6, 0.9), solid((70, 80, 84)), box, opacity=0.7)


def background():
    body = vgrad(BODY_TOP, BODY_BOTTOM, BAND_HEIGHT, FOOTER_TOP_Y)
    canvas = Canvas(594, 300, body)
    # title band with a light sheen on its upper part
    for y in range(BAND_HEIGHT):
        canvas.hline(y, 0, 594, band_colour(y))
    canvas.fill(lambda x, y: y - 14.0, solid(WHITE), (0, 0, 594, 16), opacity=0.07)
    canvas.hline(0, 0, 594, mix(BAND_TOP, WHITE, 0.25))
    canvas.hline(BAND_HEIGHT, 0, 594, (196, 224, 214))
    # a faint shadow of the band on the body
    for y in range(BAND_HEIGHT + 1, BAND_HEIGHT + 5):
        canvas.hline(y, 0, 594, mix(canvas.px[y][0], (150, 180, 170), 0.18 * (BAND_HEIGHT + 5 - y) / 4))
    monitor(canvas)
    # white framed panel behind the findings list (placed at 12, 114, 570 x 140)
    canvas.fill(round_rect(7, 110, 588, 259, 4), solid((200, 216, 212)), (5, 108, 590, 262), opacity=0.5)
    canvas.fill(round_rect(8, 110, 587, 258, 3.5), solid(PANEL_FRAME), (6, 108, 589, 260))
    canvas.fill(round_rect(9, 111, 586, 257, 2.5), solid(WHITE), (6, 108, 589, 260))
    # button band along the bottom
    for y in range(FOOTER_TOP_Y, 300):
        canvas.hline(y, 0, 594, footer_colour(y))
    canvas.hline(FOOTER_TOP_Y, 0, 594, (196, 204, 202))
    canvas.hline(FOOTER_TOP_Y + 1, 0, 594, (250, 252, 252))
    canvas.hline(299, 0, 594, (188, 192, 192))
    # a hairline frame round the window in the band's dark green
    for y in range(300):
        canvas.px[y][0] = canvas.px[y][593] = BAND_EDGE if y < BAND_HEIGHT else (150, 170, 166)
    return opaque(canvas.rows())


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "bitmaps")
    os.makedirs(out, exist_ok=True)
    close_normal, close_hover, close_pressed = close_buttons()
    min_normal, min_hover, min_pressed = minimise_buttons()
    face_normal, face_hover = face_buttons()
    pictures = [
        (129, "background", background(), 32),
        (130, "button_normal", face_normal, 32),
        (131, "button_hover", face_hover, 32),
        (132, "check_ticked", check_box_image(True), 32),
        (133, "check_empty", check_box_image(False), 32),
        (134, "close_pressed", close_pressed, 32),
        (135, "close_normal", close_normal, 32),
        (136, "close_hover", close_hover, 32),
        (137, "minimize_hover", min_hover, 32),
        (138, "minimize_normal", min_normal, 32),
        (139, "minimize_pressed", min_pressed, 32),
        (140, "progress_active", progress_column((128, 222, 206), (52, 178, 162), (22, 120, 110)), 24),
        (141, "check_glyphs", glyph_strip(), 24),
        (142, "header", header(), 24),
        (144, "progress_idle", progress_column((214, 222, 220), (168, 184, 180), (128, 146, 142)), 24),
    ]
    for ident, role, rows, bits in pictures:
        write_bmp(os.path.join(out, "%d_%s.bmp" % (ident, role)), rows, bits)


if __name__ == "__main__":
    main()
