"""Pictures for the window test: writes the PNG files it queues and checks the
JPEG files that come back, decoded by djpeg into PPM.

  pictures.py make FOLDER           writes the PNG files listed in PICTURES
  pictures.py check NAME PPM_FILE   checks one result that djpeg decoded against NAME
"""

import struct
import sys
import zlib

# name: (width, height, PNG colour type, bit depth, pixel(x, y) as samples,
#        the RGB colour each half of the result must show)
BLUE = (20, 40, 220)
WHITE = (255, 255, 255)
PICTURES = {
    "red field.png": (96, 64, 2, 8, lambda x, y: (200, 30, 40),
                      ((200, 30, 40), (200, 30, 40))),
    # The left half is opaque blue, the right half fully transparent: a JPEG
    # has no alpha, so that half must come out white.
    "half clear.png": (64, 48, 6, 8,
                       lambda x, y: BLUE + (255,) if x < 32 else (0, 0, 0, 0),
                       (BLUE, WHITE)),
    "grey (16 bit).png": (80, 60, 0, 16, lambda x, y: (0x8080,),
                          ((128, 128, 128), (128, 128, 128))),
}
# Lies in the same folder but is never chosen, so it must not be converted.
UNCHOSEN = "not chosen.png"
TOLERANCE = 10


def chunk(kind, data):
    body = kind + data
    return (struct.pack(">I", len(data)) + body +
            struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF))


def png(width, height, colour_type, depth, pixel):
    sample = ">H" if depth == 16 else ">B"
    raw = bytearray()
    for y in range(height):
        raw.append(0)
        for x in range(width):
            for value in pixel(x, y):
                raw += struct.pack(sample, value)
    header = struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(raw))) + chunk(b"IEND", b""))


def make(folder):
    for name, (width, height, colour_type, depth, pixel, _) in PICTURES.items():
        with open(f"{folder}/{name}", "wb") as out:
            out.write(png(width, height, colour_type, depth, pixel))
    with open(f"{folder}/{UNCHOSEN}", "wb") as out:
        out.write(png(8, 8, 2, 8, lambda x, y: (1, 2, 3)))


def read_ppm(path):
    """Width, height and RGB samples of djpeg's PPM, or PGM for a grey JPEG."""
    with open(path, "rb") as ppm:
        data = ppm.read()
    fields = data.split(maxsplit=4)
    if fields[0] not in (b"P5", b"P6") or fields[3] != b"255":
        sys.exit(f"{path}: not an 8-bit PPM or PGM")
    samples = fields[4]
    if fields[0] == b"P5":
        samples = bytes(v for v in samples for _ in range(3))
    return int(fields[1]), int(fields[2]), samples


def mean(pixels, width, height, columns):
    sums = [0, 0, 0]
    count = 0
    for y in range(height):
        for x in columns:
            at = (y * width + x) * 3
            for c in range(3):
                sums[c] += pixels[at + c]
            count += 1
    return tuple(round(s / count) for s in sums)


def check(name, ppm_path):
    width, height, _, _, _, halves = PICTURES[name]
    got_width, got_height, pixels = read_ppm(ppm_path)
    if (got_width, got_height) != (width, height):
        sys.exit(f"{name}: {got_width}x{got_height}, expected {width}x{height}")
    # Stay clear of the middle, where the JPEG blocks blur the two halves.
    left = range(0, width // 2 - 8)
    right = range(width // 2 + 8, width)
    for columns, expected in zip((left, right), halves):
        got = mean(pixels, width, height, columns)
        if any(abs(g - e) > TOLERANCE for g, e in zip(got, expected)):
            sys.exit(f"{name}: colour {got}, expected {expected}")


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2])
    else:
        check(sys.argv[2], sys.argv[3])
