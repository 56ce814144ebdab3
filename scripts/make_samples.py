#!/usr/bin/env python3
"""Draws the sample PNG files the program offers to new users.

Run from the repository root; writes into resources/Samples/. Uses only the
standard library. Each file shows something the converter handles: a
photo-like picture, a screenshot with text and sharp edges, a logo with
transparency, a greyscale image, a palette image with transparency, a 16-bit
image and an interlaced one.
"""
import math
import os
import struct
import zlib

OUT = os.path.join("resources", "Samples")

# A 5 x 7 pixel font for the screenshot's text.
FONT = {
    "A": ".XXX.X...XX...XXXXXXX...XX...XX...X",
    "B": "XXXX.X...XX...XXXXX.X...XX...XXXXX.",
    "C": ".XXX.X...XX....X....X....X...X.XXX.",
    "D": "XXXX.X...XX...XX...XX...XX...XXXXX.",
    "E": "XXXXXX....X....XXXX.X....X....XXXXX",
    "G": ".XXX.X...XX....X.XXXX...XX...X.XXX.",
    "I": ".XXX...X....X....X....X....X...XXX.",
    "H": "X...XX...XX...XXXXXXX...XX...XX...X",
    "J": "..XXX...X....X....X....X.X..X..XX..",
    "K": "X...XX..X.X.X..XX...X.X..X..X.X...X",
    "L": "X....X....X....X....X....X....XXXXX",
    "M": "X...XXX.XXX.X.XX...XX...XX...XX...X",
    "N": "X...XXX..XX.X.XX..XXX...XX...XX...X",
    "O": ".XXX.X...XX...XX...XX...XX...X.XXX.",
    "P": "XXXX.X...XX...XXXXX.X....X....X....",
    "Q": ".XXX.X...XX...XX...XX.X.XX..X..XX.X",
    "R": "XXXX.X...XX...XXXXX.X.X..X..X.X...X",
    "S": ".XXXXX....X.....XXX.....X....XXXXX.",
    "T": "XXXXX..X....X....X....X....X....X..",
    "U": "X...XX...XX...XX...XX...XX...X.XXX.",
    "V": "X...XX...XX...XX...XX...X.X.X...X..",
    "W": "X...XX...XX...XX.X.XX.X.XX.X.X.X.X.",
    "X": "X...XX...X.X.X...X...X.X.X...XX...X",
    "Y": "X...XX...X.X.X...X....X....X....X..",
    "0": ".XXX.X...XX..XXX.X.XXX..XX...X.XXX.",
    "1": "..X...XX....X....X....X....X...XXX.",
    "2": ".XXX.X...X....X...X...X...X...XXXXX",
    "5": "XXXXXX....XXXX.....X....XX...X.XXX.",
    "8": ".XXX.X...XX...X.XXX.X...XX...X.XXX.",
    "%": "XX..XXX..X...X...X...X...X..XXX..XX",
    ":": "...........X.........X.............",
    ".": "..............................X....",
    " ": "",
}


def chunk(kind, data):
    body = kind + data
    return (struct.pack(">I", len(data)) + body +
            struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF))


def write_png(name, width, height, colour, depth, rows, palette=None,
              transparency=None, interlaced=False, extra=b""):
    """rows: a list of byte strings, one per row, unfiltered."""
    header = struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0,
                         1 if interlaced else 0)
    bits = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour] * depth
    if interlaced:
        raw = b"".join(adam7(rows, width, height, bits))
    else:
        raw = b"".join(b"\x00" + row for row in rows)
    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + extra
    if palette:
        data += chunk(b"PLTE", bytes(palette))
    if transparency:
        data += chunk(b"tRNS", bytes(transparency))
    data += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def adam7(rows, width, height, bits):
    """The seven passes of an interlaced image, filter type 0 on each row."""
    step = bits // 8
    for x0, y0, dx, dy in ((0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8),
                           (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2),
                           (0, 1, 1, 2)):
        if x0 >= width:
            continue
        for y in range(y0, height, dy):
            row = rows[y]
            picked = b"".join(row[x * step:(x + 1) * step]
                              for x in range(x0, width, dx))
            yield b"\x00" + picked


def photo(width, height):
    """Soft light over hills, a sun and a lake: smooth, photo-like."""
    rows = []
    for y in range(height):
        row = bytearray()
        for x in range(width):
            u, v = x / width, y / height
            hill = 0.62 + 0.08 * math.sin(u * 7.0) + 0.05 * math.sin(u * 17.0)
            sun = math.hypot(u - 0.72, v - 0.22)
            if v > 0.8:  # the lake mirrors the sky, darker
                r, g, b = 40 + 60 * u, 90 + 40 * v, 150 + 50 * math.sin(x / 9.0)
            elif v > hill:
                shade = 0.6 + 0.4 * math.sin(x * 0.05 + y * 0.11)
                r, g, b = 50 * shade, 120 + 60 * shade * (1 - v), 40
            else:
                r, g, b = 120 + 100 * v, 160 + 70 * v, 235
            if sun < 0.08:
                r, g, b = 255, 240, 180
            elif sun < 0.2:
                glow = (0.2 - sun) / 0.12
                r, g, b = r + (255 - r) * glow, g + (220 - g) * glow, b * (1 - glow / 2)
            grain = ((x * 73856093) ^ (y * 19349663)) % 9 - 4
            row += bytes(max(0, min(255, int(c + grain))) for c in (r, g, b))
        rows.append(bytes(row))
    return rows


def screenshot(width, height):
    """A window with a title bar, buttons and lines of text: sharp edges."""
    pixels = [[(236, 239, 244)] * width for _ in range(height)]

    def box(x0, y0, x1, y1, colour):
        for y in range(max(0, y0), min(height, y1)):
            for x in range(max(0, x0), min(width, x1)):
                pixels[y][x] = colour

    def text(x, y, words, colour, scale=2):
        for ch in words.upper():
            glyph = FONT.get(ch, FONT[" "])
            for i, cell in enumerate(glyph):
                if cell == "X":
                    gx, gy = i % 5, i // 5
                    box(x + gx * scale, y + gy * scale, x + (gx + 1) * scale,
                        y + (gy + 1) * scale, colour)
            x += 6 * scale

    box(0, 0, width, 36, (40, 70, 120))
    text(12, 11, "BRISKLUME SAMPLE", (255, 255, 255))
    for i, line in enumerate(["PNG TO JPEG", "QUALITY: 85%", "DONE.",
                              "SEVEN SAMPLES", "TEXT STAYS SHARP"]):
        text(24, 60 + i * 26, line, (20, 20, 20))
    for i, colour in enumerate([(200, 40, 40), (40, 160, 60), (40, 90, 200)]):
        box(24 + i * 130, height - 70, 24 + i * 130 + 110, height - 36, colour)
        text(38 + i * 130, height - 60, ["STOP", "GO", "OK"][i],
             (255, 255, 255))
    box(width - 170, 56, width - 24, height - 90, (255, 255, 255))
    for y in range(60, height - 96, 12):
        box(width - 160, y, width - 34 - (y * 7) % 60, y + 4, (150, 150, 160))
    return [b"".join(bytes(p) for p in row) for row in pixels]


def logo(size):
    """A ring and a lightning stroke on a transparent ground (RGBA)."""
    rows = []
    c = size / 2
    for y in range(size):
        row = bytearray()
        for x in range(size):
            d = math.hypot(x + 0.5 - c, y + 0.5 - c) / c
            ring = max(0.0, 1 - abs(d - 0.8) * 12)
            u, v = (x - c) / c, (y - c) / c
            bolt = abs(u + 0.35 * math.copysign(1, v) * min(abs(v), 0.5) -
                       0.3 * v) < 0.12 and abs(v) < 0.6
            alpha = max(ring, 1.0 if bolt else 0.0, 0.25 if d < 0.75 else 0)
            r, g, b = (250, 190, 30) if bolt else (30, 110, 200)
            row += bytes((r, g, b, int(255 * min(1.0, alpha))))
        rows.append(bytes(row))
    return rows


def grey(width, height):
    """Rings of light and shade, one channel."""
    return [bytes(int(127.5 + 127.5 * math.cos(math.hypot(x - width / 2,
                                                          y - height / 2) / 9)
                      * (1 - y / (2 * height)))
                  for x in range(width)) for y in range(height)]


def palette_image(width, height):
    """Sixteen colours in stripes; the last four partly or wholly clear."""
    palette, alpha = [], []
    for i in range(16):
        palette += [(i * 53) % 256, (i * 97 + 40) % 256, (255 - i * 16) % 256]
        alpha.append(255 if i < 12 else 255 - (i - 11) * 60)
    rows = [bytes(((x // 20) + (y // 20)) % 16 for x in range(width))
            for y in range(height)]
    return rows, palette, alpha


def sixteen_bit(width, height):
    """A deep gradient that needs more than eight bits per channel."""
    rows = []
    for y in range(height):
        row = bytearray()
        for x in range(width):
            r = int(65535 * x / (width - 1))
            g = int(65535 * y / (height - 1))
            b = int(32767 + 32767 * math.sin((x + y) / 40))
            row += struct.pack(">HHH", r, g, b)
        rows.append(bytes(row))
    return rows


def main():
    os.makedirs(OUT, exist_ok=True)
    write_png("landscape-photo.png", 480, 320, 2, 8, photo(480, 320))
    write_png("screenshot-with-text.png", 560, 320, 2, 8,
              screenshot(560, 320))
    write_png("logo-transparent.png", 256, 256, 6, 8, logo(256))
    write_png("greyscale-rings.png", 320, 240, 0, 8, grey(320, 240))
    rows, palette, alpha = palette_image(320, 200)
    write_png("palette-stripes.png", 320, 200, 3, 8, rows, palette=palette,
              transparency=alpha)
    write_png("gradient-16-bit.png", 320, 200, 2, 16, sixteen_bit(320, 200))
    write_png("interlaced-photo.png", 320, 240, 2, 8, photo(320, 240),
              interlaced=True)


if __name__ == "__main__":
    main()
