#!/usr/bin/env python3
"""The same pictures as several real PNG writers write them, and lumeconv's
speed on each writer's files.

Users' files come from many writers, and the writer decides the row
filters and the shape of the deflate stream: libpng's defaults (what Qt
and GIMP write; the corpus itself), ImageMagick, Python's PIL, the
optimisers optipng and pngcrush, a writer that leaves every row
unfiltered, and PIL once more writing the photos as grey and as grey with
alpha. For each writer and class this prints the filter mix of the rows
and the median time per file of lumeconv, of an older lumeconv when
OLD_LUMECONV names one, and of ImageMagick.

    writer_bench.py BUILD_DIR CORPUS_DIR WORK_DIR
"""
import collections
import os
import shutil
import statistics
import struct
import subprocess
import sys
import time
import zlib

QUALITY = 85
FILES_PER_CLASS = int(os.environ.get("FILES_PER_CLASS", 4))
RUNS_PER_FILE = int(os.environ.get("RUNS_PER_FILE", 5))


def pil(src, out, mode=None):
    from PIL import Image  # Debian's python3-pil
    image = Image.open(src)
    (image.convert(mode) if mode else image).save(out)


def chunk(kind, body):
    return (struct.pack(">I", len(body)) + kind + body
            + struct.pack(">I", zlib.crc32(kind + body)))


def unfiltered(src, out):
    """Filter 0 on every row, zlib's default level: what a writer that
    never filters makes."""
    from PIL import Image
    image = Image.open(src)
    channels = {"RGB": 3, "RGBA": 4}[image.mode]
    width, height = image.size
    pixels = image.tobytes()
    stride = width * channels
    raw = b"".join(b"\0" + pixels[y * stride:(y + 1) * stride]
                   for y in range(height))
    colour = 2 if channels == 3 else 6
    with open(out, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n"
                + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8,
                                             colour, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 6))
                + chunk(b"IEND", b""))


# Each writer: how it writes `out` from `src`, and which sources it keeps
# whole (PIL brings 16-bit RGB down to 8 bits and writes no Adam7).
WRITERS = {
    "libpng": (lambda src, out: shutil.copy(src, out), lambda kind: True),
    "imagemagick": (lambda src, out: subprocess.run(
        ["convert", src, "-interlace",
         "PNG" if "interlaced" in os.path.basename(src) else "None", out],
        check=True), lambda kind: True),
    "pil": (pil, lambda kind: not kind.startswith(("rgb16", "interlaced"))),
    "optipng": (lambda src, out: subprocess.run(
        ["optipng", "-quiet", "-o2", "-out", out, src], check=True),
        lambda kind: True),
    "pngcrush": (lambda src, out: subprocess.run(
        ["pngcrush", "-q", src, out], check=True, stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL), lambda kind: True),
    # Grey and grey with alpha: pixels of one and two bytes.
    "pil-grey": (lambda src, out: pil(src, out, "L"),
                 lambda kind: kind.startswith("photo")),
    "pil-grey+a": (lambda src, out: pil(src, out, "LA"),
                   lambda kind: kind.startswith("photo")),
    "unfiltered": (unfiltered,
                   lambda kind: not kind.startswith(("rgb16", "interlaced"))),
}


def filter_mix(path):
    """The share of each row filter, for an image that is not interlaced."""
    data = open(path, "rb").read()
    at, idat, header = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        at += length + 12
    width, height, depth, colour, _, _, interlace = header
    if interlace:
        return "Adam7"
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour]
    stride = 1 + (width * channels * depth + 7) // 8
    rows = zlib.decompress(idat)
    counts = collections.Counter(rows[y * stride] for y in range(height))
    names = ["None", "Sub", "Up", "Average", "Paeth"]
    return ", ".join(f"{names[f]} {100 * n // height}%"
                     for f, n in counts.most_common())


def timed(command):
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def main(build, corpus, work):
    tools = {"lumeconv": os.path.join(build, "lumeconv")}
    if os.environ.get("OLD_LUMECONV"):
        tools["old"] = os.environ["OLD_LUMECONV"]
    classes = collections.defaultdict(list)
    for name in sorted(os.listdir(corpus)):
        kind = name.rsplit("-", 1)[0]
        if name.endswith(".png") and kind not in ("rgb-8000x8000", "rgb-64x64"):
            if len(classes[kind]) < FILES_PER_CLASS:
                classes[kind].append(name)

    print(f"{'class':22} {'writer':11} {'KiB':>6} "
          + "".join(f"{t + ' ms':>12}" for t in tools)
          + f"{'convert ms':>12}  rows by filter")
    for kind, names in classes.items():
        for writer, (write, keeps) in WRITERS.items():
            if not keeps(kind):
                continue
            folder = os.path.join(work, writer)
            os.makedirs(folder, exist_ok=True)
            files = []
            for name in names:
                out = os.path.join(folder, name)
                write(os.path.join(corpus, name), out)
                files.append(out)
            times = collections.defaultdict(list)
            # Interleaved, so that a busy moment weighs on every tool alike.
            for _ in range(RUNS_PER_FILE):
                for path in files:
                    for tool, program in tools.items():
                        times[tool].append(timed(
                            [program, "-q", str(QUALITY), "-out", "jpeg",
                             path]))
                    times["convert"].append(timed(
                        ["convert", path, "-quality", str(QUALITY),
                         path[:-4] + "-im.jpg"]))
            size = statistics.median(os.path.getsize(f) for f in files)
            print(f"{kind:22} {writer:11} {size / 1024:6.0f} "
                  + "".join(f"{statistics.median(times[t]) * 1000:12.1f}"
                            for t in list(tools) + ["convert"])
                  + "  " + filter_mix(files[0]))


if __name__ == "__main__":
    main(*sys.argv[1:4])
