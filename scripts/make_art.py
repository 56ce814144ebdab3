#!/usr/bin/env python3
"""Draws the program's own images: the application icon and the pointers.

Run from the repository root; writes into resources/. Uses only the standard
library so it runs anywhere Python does.
"""
import math
import os
import struct
import zlib

HAND = """
.....XX.........
....XooX........
....XooX........
....XooX........
....XooX........
....XooXXX......
....XooXooXXX...
....XooXooXooXX.
.XX.XooXooXooXoX
XooXXooooooooXoX
XoooXooooooooooX
.XooXooooooooooX
..XoXooooooooooX
..XooooooooooooX
...XoooooooooooX
...XooooooooooX.
....XoooooooooX.
....XooooooooX..
.....XoooooooX..
.....XXXXXXXXX..
"""

DRAG = """
X...............
XX..............
XoX.............
XooX............
XoooX...........
XooooX..........
XoooooX.........
XooooooX........
XoooooXXX.......
XooXooX.........
XoX.XooX........
XX..XooX........
.....XooX.XXXXXX
.....XooX.XooooX
......XX..XooooX
..........XooooX
..........XXXXXX
"""


def art_pixels(art, size):
    rows = [r for r in art.strip("\n").split("\n")]
    colours = {"X": (0, 0, 0, 255), "o": (255, 255, 255, 255)}
    pixels = [[(0, 0, 0, 0)] * size for _ in range(size)]
    for y, row in enumerate(rows):
        for x, ch in enumerate(row):
            if ch in colours:
                pixels[y][x] = colours[ch]
    return pixels


def write_png(path, pixels):
    h, w = len(pixels), len(pixels[0])
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(
            ">I", zlib.crc32(body) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def write_cursor(path, pixels, hot_x, hot_y, kind):
    """A one-image .cur (kind 2) or .ico (kind 1) with a 32-bit bitmap."""
    size = len(pixels)
    xor = b"".join(
        bytes(c for p in row for c in (p[2], p[1], p[0], p[3]))
        for row in reversed(pixels))
    mask_stride = ((size + 31) // 32) * 4
    mask = b""
    for row in reversed(pixels):
        line = bytearray(mask_stride)
        for x, p in enumerate(row):
            if p[3] == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(line)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + mask
    a, b = (hot_x, hot_y) if kind == 2 else (1, 32)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, a, b, len(image), 22)
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, kind, 1) + entry + image)


def icon_pixels(size=64):
    """A photo card (sky, sun, hills) on a rounded orange tile.

    Drawn on a 64-unit grid, sampled at each pixel's centre for any size.
    """
    px = [[(0, 0, 0, 0)] * size for _ in range(size)]
    unit = 64 / size
    r = 12
    for py in range(size):
        for pxx in range(size):
            x = (pxx + 0.5) * unit - 0.5
            y = (py + 0.5) * unit - 0.5
            cx = min(max(x, r), 63 - r)
            cy = min(max(y, r), 63 - r)
            d = math.hypot(x - cx, y - cy)
            if d > r:
                continue
            t = y / 64
            colour = (int(245 - 40 * t), int(140 - 60 * t), int(40 + 10 * t))
            if 12 <= x < 52 and 14 <= y < 50:
                colour = (255, 255, 255)
                if 15 <= x < 49 and 17 <= y < 47:
                    colour = (int(120 + 2 * (y - 17)), 190, 245)
                    if math.hypot(x - 40, y - 25) < 5:
                        colour = (255, 215, 60)
                    hill = 40 - 7 * math.sin((x - 15) / 34 * math.pi)
                    if y > hill:
                        colour = (60, 150, 70)
                    if y > 44 - 0.3 * (x - 15):
                        colour = (40, 115, 55)
            alpha = 255 if d <= r - unit else int(255 * (r - d) / unit)
            px[py][pxx] = colour + (alpha,)
    return px


if __name__ == "__main__":
    write_png("resources/brisklume.png", icon_pixels())
    # The desktop's menu icon, at the sizes of the hicolor theme.
    for size in (16, 32, 48, 64, 128, 256):
        folder = "resources/icons/%dx%d" % (size, size)
        os.makedirs(folder, exist_ok=True)
        write_png(folder + "/brisklume.png", icon_pixels(size))
    write_cursor("resources/HAND-M.CUR", art_pixels(HAND, 32), 5, 0, 2)
    write_cursor("resources/drag.ico", art_pixels(DRAG, 32), 0, 0, 1)
