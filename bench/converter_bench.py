#!/usr/bin/env python3
"""lumeconv against its own build with libpng reading, ImageMagick and
libvips on the generated corpus.

Prints, per image class, the median time per file (over about twenty runs
for a class of few files), the ratios, the median output size, the median
PSNR against the source flattened onto white, and the peak memory on the
largest image.

    converter_bench.py BUILD_DIR CORPUS_DIR WORK_DIR

With OLD_LUMECONV set to an older lumeconv program, that build runs too,
as "old".
"""
import os
import re
import shutil
import statistics
import subprocess
import sys
import time

QUALITY = 85


def tools(build):
    lumeconv = os.path.join(build, "lumeconv")
    reference = os.path.join(build, "bench", "lumeconv-libpng")
    found = {
        "lumeconv": lambda src, out: [lumeconv, "-q", str(QUALITY), "-out",
                                      "jpeg", src],
        "libpng": lambda src, out: [reference, "-q", str(QUALITY), "-out",
                                    "jpeg", src],
        "convert": lambda src, out: ["convert", src, "-quality",
                                     str(QUALITY), out],
        "vips": lambda src, out: ["vips", "copy", src, f"{out}[Q={QUALITY}]"],
    }
    old = os.environ.get("OLD_LUMECONV")
    if old:
        found["old"] = lambda src, out: [old, "-q", str(QUALITY), "-out",
                                         "jpeg", src]
    return found


def run(name, command, src, out):
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    if name in ("lumeconv", "libpng", "old"):
        shutil.move(os.path.splitext(src)[0] + ".jpg", out)
    return elapsed


def psnr(reference, jpeg):
    result = subprocess.run(["compare", "-metric", "PSNR", reference, jpeg,
                             "null:"], capture_output=True, text=True)
    try:
        return float(result.stderr.split()[0])
    except (ValueError, IndexError):
        return float("nan")  # too large for ImageMagick's resource limits


def peak_kib(command):
    result = subprocess.run(["/usr/bin/time", "-v"] + command,
                            capture_output=True, text=True)
    return int(re.search(r"Maximum resident set size \(kbytes\): (\d+)",
                         result.stderr).group(1))


def main(build, corpus, work):
    available = {n: c for n, c in tools(build).items()
                 if shutil.which(c("x", "y")[0])}
    classes = {}
    for name in sorted(os.listdir(corpus)):
        if name.endswith(".png"):
            classes.setdefault(name.rsplit("-", 1)[0], []).append(name)

    os.makedirs(work, exist_ok=True)
    print(f"{'class':22} {'tool':9} {'files':>5} {'median ms':>10} "
          f"{'ratio':>6} {'median KiB':>11} {'PSNR dB':>8}")
    for kind, names in classes.items():
        reference = {}
        for name in names[:5]:
            flat = os.path.join(work, "ref-" + name)
            subprocess.run(["convert", os.path.join(corpus, name),
                            "-background", "white", "-flatten", "-depth", "8",
                            flat])
            reference[name] = flat
        # A class of few files is converted again until each tool has about
        # twenty times: one run of one file says little on a busy machine.
        repeats = 1 if kind == "rgb-8000x8000" else max(1, 20 // len(names))
        results = {}
        for tool, command in available.items():
            times, sizes, quality = [], [], []
            for name in names:
                src = os.path.join(corpus, name)
                out = os.path.join(work, f"{tool}-{name[:-4]}.jpg")
                times += [run(tool, command(src, out), src, out)
                          for _ in range(repeats)]
                sizes.append(os.path.getsize(out))
                if name in reference:
                    quality.append(psnr(reference[name], out))
                if kind != "rgb-8000x8000":
                    os.remove(out)
            results[tool] = (statistics.median(times),
                             statistics.median(sizes),
                             statistics.median(quality))
        ours = results["lumeconv"][0]
        for tool, (median, size, quality) in results.items():
            print(f"{kind:22} {tool:9} {len(names):5} {median * 1000:10.1f} "
                  f"{median / ours:6.2f} {size / 1024:11.1f} {quality:8.3f}")

    big = os.path.join(corpus, "rgb-8000x8000-0.png")
    if os.path.exists(big):
        print("\npeak memory on rgb-8000x8000 (MiB):")
        for tool, command in available.items():
            out = os.path.join(work, f"peak-{tool}.jpg")
            kib = peak_kib(command(big, out))
            print(f"  {tool:9} {kib / 1024:8.1f}")
        os.remove(os.path.join(corpus, "rgb-8000x8000-0.jpg"))

    print("\nwhere the time goes, one file of each class:")
    for kind in classes:
        subprocess.run([os.path.join(build, "bench", "split_bench"),
                        os.path.join(corpus, kind + "-0.png")], check=True)


if __name__ == "__main__":
    main(*sys.argv[1:4])
