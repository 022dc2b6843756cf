#!/usr/bin/env python3
"""Times image work through the vyx executable and the same work in ImageMagick:
PNG and JPEG decoding and encoding of one 1000x1000 photo-like image (the same
files for both), foreach over a 1000x1000 image and 10^6 pokes. The vyx
figures are the run time of a script doing the work N times, less that of the
same script doing it 0 times (start-up and set-up); ImageMagick's are its
command's time less that of a command with nothing to do. Codec and scaling
speed below the language: bench_images (a build with -DVYX_BENCH=ON).

usage: images.py VYX [RUNS]
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

vyx = sys.argv[1]
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
CONVERT = "convert-im6.q16"


def wall(cmd):
    t = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - t


def median(cmd):
    return statistics.median(wall(cmd) for _ in range(runs))


def vyx_cost(tmp, setup, work, n):
    """Seconds per repetition of `work` after `setup`."""
    def script(k):
        path = os.path.join(tmp, "b%d.vyx" % k)
        with open(path, "w") as f:
            f.write("Vyx []\n%s\nloop %d [%s]\n" % (setup, k, work))
        return [vyx, path]
    full, empty = script(n), script(0)
    return (median(full) - median(empty)) / n


def magick_cost(args, n=1):
    base = median([CONVERT, "-size", "1x1", "xc:white", "null:"])
    return (median([CONVERT, *args]) - base) / n


with tempfile.TemporaryDirectory() as tmp:
    png, jpg = os.path.join(tmp, "photo.png"), os.path.join(tmp, "photo.jpg")
    raw = os.path.join(tmp, "photo.rgba")
    subprocess.run([CONVERT, "-size", "1000x1000", "-seed", "27", "plasma:fractal", "-blur", "0x2",
                    "-alpha", "off", "PNG24:" + png], check=True)
    subprocess.run([CONVERT, png, "-quality", "90", jpg], check=True)
    subprocess.run([CONVERT, png, "-depth", "8", "rgba:" + raw], check=True)
    rows = []
    load = "png-img: system/codecs/png/decode %%%s jpg-img: system/codecs/jpeg/decode %%%s" % (png, jpg)
    rows.append(("PNG decode 1000x1000",
                 vyx_cost(tmp, load, "system/codecs/png/decode %%%s" % png, 5),
                 magick_cost([png, "rgba:/dev/null"])))
    rows.append(("PNG encode 1000x1000",
                 vyx_cost(tmp, load, "system/codecs/png/encode png-img none", 5),
                 magick_cost(["-size", "1000x1000", "-depth", "8", "rgba:" + raw, "PNG32:/dev/null"])))
    rows.append(("JPEG decode 1000x1000",
                 vyx_cost(tmp, load, "system/codecs/jpeg/decode %%%s" % jpg, 5),
                 magick_cost([jpg, "rgba:/dev/null"])))
    rows.append(("JPEG encode 1000x1000",
                 vyx_cost(tmp, load, "system/codecs/jpeg/encode jpg-img none", 5),
                 magick_cost(["-size", "1000x1000", "-depth", "8", "rgba:" + raw, "-quality", "90",
                              "JPEG:/dev/null"])))
    rows.append(("foreach over 1000x1000",
                 vyx_cost(tmp, "i: make image! 1000x1000 n: 0", "foreach p i [n: n + 1]", 3), None))
    rows.append(("10^6 pokes",
                 vyx_cost(tmp, "i: make image! 1000x1000 c: 1.2.3", "repeat k 1000000 [poke i k c]", 3),
                 None))
    print("%-26s %12s %14s %8s" % ("work", "vyx ms", "ImageMagick ms", "ratio"))
    for name, v, m in rows:
        if m is None:
            print("%-26s %12.1f %14s %8s" % (name, v * 1000, "-", "-"))
        else:
            print("%-26s %12.1f %14.1f %8.2f" % (name, v * 1000, m * 1000, v / m if m > 0 else float("nan")))
