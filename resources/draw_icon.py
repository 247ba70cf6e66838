#!/usr/bin/env python3
"""Draws the program icon (resources/kxscan.ico): a green shield with a white
magnifier, at 16, 32 and 48 pixels, 32-bit with alpha. Pure Python, so the
picture can be redrawn anywhere:  python3 resources/draw_icon.py"""
import math
import os
import struct

SUPERSAMPLE = 4


def shield_inside(x, y):
    """Shield outline in unit coordinates (0..1, y down)."""
    if x < 0.12 or x > 0.88 or y < 0.06 or y > 0.96:
        return False
    top = 0.06 + 0.06 * (1 - abs(x - 0.5) / 0.38) ** 2  # a shallow dip at the top centre
    if y < top:
        return False
    if y < 0.55:
        return True
    # lower half narrows to a point
    half = 0.38 * math.cos((y - 0.55) / 0.41 * math.pi / 2)
    return abs(x - 0.5) <= half


def pixel(x, y):
    """Colour (r, g, b, a) at a unit coordinate."""
    if not shield_inside(x, y):
        return (0, 0, 0, 0)
    # rim
    inner = shield_inside(0.5 + (x - 0.5) * 1.12, 0.5 + (y - 0.5) * 1.09)
    if not inner:
        return (14, 70, 44, 255)
    shade = 1.0 - 0.35 * y
    r, g, b = int(36 * shade), int(150 * shade), int(90 * shade)
    # magnifier: ring and handle, white
    cx, cy, radius = 0.45, 0.42, 0.17
    d = math.hypot(x - cx, y - cy)
    if abs(d - radius) < 0.045:
        return (255, 255, 255, 255)
    if d < radius - 0.045:
        return (min(255, r + 60), min(255, g + 60), min(255, b + 60), 255)
    # handle along the diagonal from the ring to the lower right
    hx, hy = x - cx, y - cy
    along = (hx + hy) / math.sqrt(2)
    across = (hx - hy) / math.sqrt(2)
    if radius < along < radius + 0.2 and abs(across) < 0.05:
        return (255, 255, 255, 255)
    return (r, g, b, 255)


def render(size):
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    c = pixel((px + (sx + 0.5) / SUPERSAMPLE) / size, (py + (sy + 0.5) / SUPERSAMPLE) / size)
                    a = c[3]
                    acc[0] += c[0] * a
                    acc[1] += c[1] * a
                    acc[2] += c[2] * a
                    acc[3] += a
            n = SUPERSAMPLE * SUPERSAMPLE
            alpha = acc[3] // n
            if acc[3]:
                row.append((acc[0] // acc[3], acc[1] // acc[3], acc[2] // acc[3], alpha))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def dib(size):
    rows = render(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(pixels) + bytes(mask)


def main():
    sizes = [16, 32, 48]
    images = [dib(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "kxscan.ico")
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
