#!/usr/bin/env python3
"""Writes the program icon (32x32 and 16x16) and the banner bitmap of the Windows dialogs.

make_images.py ICON.ico BANNER.bmp -- the same look as the Qt front-end's: a blue rounded
square with a white play triangle, and a blue gradient banner carrying the icon.
"""
import struct
import sys


def inside_triangle(x, y, s):
    # The triangle (0.36,0.26) (0.36,0.74) (0.76,0.5) of the icon's size.
    ax, ay, bx, by, cx, cy = 0.36 * s, 0.26 * s, 0.36 * s, 0.74 * s, 0.76 * s, 0.5 * s

    def side(px, py, qx, qy):
        return (qx - px) * (y - py) - (qy - py) * (x - px)

    d1, d2, d3 = side(ax, ay, bx, by), side(bx, by, cx, cy), side(cx, cy, ax, ay)
    return not ((d1 < 0 or d2 < 0 or d3 < 0) and (d1 > 0 or d2 > 0 or d3 > 0))


def icon_pixel(x, y, s):
    """BGRA of the icon at pixel (x, y), y downwards."""
    r = s / 6.0
    px, py = x + 0.5, y + 0.5
    lo, hi = 1.0, s - 1.0
    # Distance outside the rounded square.
    dx = max(lo + r - px, 0, px - (hi - r))
    dy = max(lo + r - py, 0, py - (hi - r))
    if px < lo or px > hi or py < lo or py > hi or dx * dx + dy * dy > r * r:
        return (0, 0, 0, 0)
    if inside_triangle(px, py, s):
        return (255, 255, 255, 255)
    t = (px + py) / (2.0 * s)
    red = int(0x2A + (0x10 - 0x2A) * t)
    green = int(0x6F + (0x2F - 0x6F) * t)
    blue = int(0xC9 + (0x66 - 0xC9) * t)
    return (blue, green, red, 255)


def icon_image(s):
    """One icon directory entry's image: BITMAPINFOHEADER, 32-bit rows bottom up, AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, s, 2 * s, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = b""
    mask = b""
    mask_stride = ((s + 31) // 32) * 4
    for y in reversed(range(s)):
        row_mask = bytearray(mask_stride)
        for x in range(s):
            b, g, r, a = icon_pixel(x, y, s)
            rows += bytes((b, g, r, a))
            if a == 0:
                row_mask[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(row_mask)
    return header + rows + mask


def write_icon(path):
    images = [icon_image(32), icon_image(16)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, image in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


def write_banner(path, width=450, height=71):
    stride = (width * 3 + 3) // 4 * 4
    icon = height - height // 3
    at = height // 6
    pixels = bytearray()
    for y in reversed(range(height)):
        row = bytearray()
        for x in range(width):
            t = x / (width - 1)
            pixel = (int(0x66 + (0xE0 - 0x66) * t), int(0x2F + (0x8F - 0x2F) * t),
                     int(0x10 + (0x4A - 0x10) * t))
            if at <= x < at + icon and at <= y < at + icon:
                b, g, r, a = icon_pixel(x - at, y - at, icon)
                if a:
                    pixel = (b, g, r)
            row += bytes(pixel)
        pixels += row + bytes(stride - len(row))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 3780, 3780, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    with open(path, "wb") as f:
        f.write(header + info + pixels)


if __name__ == "__main__":
    write_icon(sys.argv[1])
    write_banner(sys.argv[2])
