#!/usr/bin/env python3
"""Checks the image codecs of the vyx executable against ImageMagick.

- Fixtures made by ImageMagick (PNG, GIF, BMP, TIFF, JPEG; an opaque and a
  half-transparent pixel among others) decode to the pixels ImageMagick reads
  from them (JPEG within a tolerance).
- Images encoded by vyx in every format read back in ImageMagick with the
  same size and pixels (PNG, BMP, TIFF exactly; GIF exactly for few colours
  without partial alpha; JPEG within a tolerance).
- The PNG suite under oracles/pngsuite decodes to its listed RGBA digests,
  and the same files cut at every 97th byte raise the bad-media error.

ImageMagick is called by its versioned names (convert-im6.q16,
identify-im6.q16), so that no other `convert` on the PATH stands in.

usage: oracle.py VYX PNGSUITE_DIR
"""
import base64
import hashlib
import os
import random
import subprocess
import sys
import tempfile

vyx, suite = sys.argv[1], sys.argv[2]
CONVERT, IDENTIFY = "convert-im6.q16", "identify-im6.q16"
rng = random.Random(27)
failures = []


def fail(message):
    failures.append(message)
    print("FAIL:", message)


def magick(*args, out=True):
    r = subprocess.run([CONVERT, *args], capture_output=True, check=True)
    return r.stdout if out else None


def magick_rgba(path):
    return magick(path, "-depth", "8", "rgba:-")


def magick_size(path):
    r = subprocess.run([IDENTIFY, "-format", "%wx%h", path], capture_output=True, check=True, text=True)
    return r.stdout.strip()


def run_vyx(lines, tmp):
    script = os.path.join(tmp, "run.vyx")
    with open(script, "w", encoding="utf-8") as f:
        f.write("Vyx []\n" + "\n".join(lines) + "\n")
    r = subprocess.run([vyx, script], capture_output=True, text=True, timeout=600)
    if r.returncode != 0:
        fail("vyx exited with %d: %s" % (r.returncode, r.stderr[-500:]))
    return r.stdout.split("\n")


def bgra_to_rgba(b):
    out = bytearray(len(b))
    out[0::4], out[1::4], out[2::4], out[3::4] = b[2::4], b[1::4], b[0::4], b[3::4]
    return bytes(out)


def close(a, b, tolerance):
    return len(a) == len(b) and all(abs(x - y) <= tolerance for x, y in zip(a, b))


def vyx_binary(b):
    return 'debase "' + base64.b64encode(b).decode() + '"'


def vyx_image(w, h, rgba):
    rgb = b"".join(rgba[i:i + 3] for i in range(0, len(rgba), 4))
    alpha = bytes(255 - a for a in rgba[3::4])
    return "make image! reduce [%dx%d %s %s]" % (w, h, vyx_binary(rgb), vyx_binary(alpha))


# ------------------------------------------------------------ pixels to use

def sample_pixels(w, h, partial=True):
    """Varied opaque colours, one half-transparent and one clear pixel."""
    px = bytearray()
    for i in range(w * h):
        px += bytes([rng.randrange(256), rng.randrange(256), rng.randrange(256), 255])
    if partial:
        px[4 + 3] = 128
    px[8:12] = bytes([0, 0, 0, 0])
    return bytes(px)


def gradient(w, h):
    px = bytearray()
    for y in range(h):
        for x in range(w):
            px += bytes([x * 255 // (w - 1), y * 255 // (h - 1), (x + y) * 127 // (w + h - 2), 255])
    return bytes(px)


def few_colours(w, h):
    colours = [bytes([rng.randrange(256), rng.randrange(256), rng.randrange(256), 255]) for _ in range(40)]
    px = bytearray()
    for i in range(w * h):
        px += colours[rng.randrange(len(colours))] if i % 7 else bytes([0, 0, 0, 0])
    return bytes(px)


def flip_bmp(data):
    """The same BMP with its rows stored top-down (negative height)."""
    offset = int.from_bytes(data[10:14], "little")
    w = int.from_bytes(data[18:22], "little", signed=True)
    h = int.from_bytes(data[22:26], "little", signed=True)
    bpp = int.from_bytes(data[28:30], "little")
    stride = ((w * bpp + 31) // 32) * 4
    rows = [data[offset + r * stride: offset + (r + 1) * stride] for r in range(h)]
    return data[:22] + (-h).to_bytes(4, "little", signed=True) + data[26:offset] + b"".join(reversed(rows)) + \
        data[offset + h * stride:]


# ------------------------------------------------------------ decoding

def check_decoding(tmp):
    w, h = 5, 4
    raw = os.path.join(tmp, "src.rgba")
    with open(raw, "wb") as f:
        f.write(sample_pixels(w, h))
    src = ["-size", "%dx%d" % (w, h), "-depth", "8", "rgba:" + raw]
    fixtures = {  # name: (ImageMagick arguments after the source, tolerance)
        "png32.png": (["PNG32:%s"], 0),
        "interlaced.png": (["-interlace", "PNG", "PNG32:%s"], 0),
        "palette.png": (["PNG8:%s"], 0),
        "gray16.png": (["-colorspace", "Gray", "-depth", "16", "PNG:%s"], 1),
        "plain.gif": (["GIF:%s"], 0),
        "interlaced.gif": (["-interlace", "GIF", "GIF:%s"], 0),
        "rgb24.bmp": (["-alpha", "off", "BMP3:%s"], 0),
        "argb32.bmp": (["-define", "bmp:format=bmp4", "BMP:%s"], 0),
        "palette8.bmp": (["-alpha", "off", "-type", "Palette", "-compress", "None", "BMP3:%s"], 0),
        "bilevel.bmp": (["-alpha", "off", "-type", "Bilevel", "BMP3:%s"], 0),
        "rgba.tif": (["TIFF:%s"], 0),
        "associated.tif": (["-define", "tiff:alpha=associated", "TIFF:%s"], 1),
        "gray.tif": (["-alpha", "off", "-colorspace", "Gray", "TIFF:%s"], 0),
        "photo.jpg": (["-alpha", "off", "-quality", "95", "JPEG:%s"], 3),
        "progressive.jpg": (["-alpha", "off", "-interlace", "Plane", "JPEG:%s"], 3),
        "gray.jpg": (["-alpha", "off", "-colorspace", "Gray", "JPEG:%s"], 3),
    }
    paths = {}
    for name, (args, tol) in fixtures.items():
        path = os.path.join(tmp, name)
        magick(*src, *[a % path if "%s" in a else a for a in args], out=False)
        paths[name] = (path, tol)
    for name in ["rgb24.bmp", "argb32.bmp", "palette8.bmp"]:
        path, tol = paths[name]
        with open(path, "rb") as f:
            flipped = flip_bmp(f.read())
        top = path.replace(".bmp", "-topdown.bmp")
        with open(top, "wb") as f:
            f.write(flipped)
        paths[os.path.basename(top)] = (top, tol)
    names = sorted(paths)
    lines = ['e: try [enbase to binary! system/codecs/png/decode %%%s] print either error! = type? e [e/id] [e]'
             % paths[n][0] for n in names]
    out = run_vyx(lines, tmp)
    for i, name in enumerate(names):
        path, tol = paths[name]
        want = magick_rgba(path)
        # The top-down copies must read as their bottom-up originals.
        if "-topdown" in name:
            want = magick_rgba(path.replace("-topdown", ""))
        try:
            got = bgra_to_rgba(base64.b64decode(out[i]))
        except Exception:
            fail("%s: no pixels (%r)" % (name, out[i][:200]))
            continue
        if not close(got, want, tol):
            fail("%s decodes to %s, ImageMagick reads %s" % (name, got.hex(), want.hex()))
    print("decoded %d fixtures" % len(names))


# ------------------------------------------------------------ encoding

def check_encoding(tmp):
    cases = [  # (codec, w, h, pixels, tolerance, compare alpha-0 colours)
        ("png", 6, 5, sample_pixels(6, 5), 0, True),
        ("bmp", 7, 3, sample_pixels(7, 3), 0, True),
        ("tiff", 6, 4, sample_pixels(6, 4), 0, True),
        ("gif", 9, 7, few_colours(9, 7), 0, False),
        ("jpeg", 32, 24, gradient(32, 24), 10, True),
        ("png", 300, 2, sample_pixels(300, 2), 0, True),
        ("png", 9, 8, gradient(9, 8), 0, True),
    ]
    lines = ["print enbase system/codecs/%s/encode %s none" % (c, vyx_image(w, h, px))
             for c, w, h, px, _, _ in cases]
    # Many colours in a GIF are quantized: the size still holds.
    lines.append("print enbase system/codecs/gif/encode %s none" % vyx_image(40, 30, gradient(40, 30)))
    out = run_vyx(lines, tmp)
    for i, (codec, w, h, px, tol, colour_of_clear) in enumerate(cases):
        path = os.path.join(tmp, "enc%d.%s" % (i, codec))
        with open(path, "wb") as f:
            f.write(base64.b64decode(out[i]))
        size = magick_size(path)
        if size != "%dx%d" % (w, h):
            fail("%s: ImageMagick reads the size %s, not %dx%d" % (codec, size, w, h))
            continue
        got = magick_rgba(path)
        want = bytearray(px)
        if codec == "jpeg":
            got = bytes(b for j, b in enumerate(got) if j % 4 != 3)
            want = bytes(b for j, b in enumerate(want) if j % 4 != 3)
        elif not colour_of_clear:
            got = bytearray(got)
            for j in range(0, len(want), 4):
                if want[j + 3] == 0:
                    got[j:j + 3] = want[j:j + 3]
        if not close(bytes(got), bytes(want), tol):
            worst = max(abs(x - y) for x, y in zip(got, want)) if len(got) == len(want) else None
            fail("%s %dx%d: ImageMagick reads other pixels (largest difference %s)" % (codec, w, h, worst))
    path = os.path.join(tmp, "many.gif")
    with open(path, "wb") as f:
        f.write(base64.b64decode(out[len(cases)]))
    if magick_size(path) != "40x30":
        fail("quantized gif: wrong size")
    print("encoded %d images" % (len(cases) + 1))


# ------------------------------------------------------------ the PNG suite

def check_suite(tmp):
    expected = {}
    with open(os.path.join(suite, "expected-rgba8-sha256.txt")) as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            name, size, digest = line.split()
            expected[name] = (size, digest)
    names = sorted(expected)
    lines = ['i: system/codecs/png/decode %%%s print [i/size enbase to binary! i]' % os.path.join(suite, n)
             for n in names]
    out = run_vyx(lines, tmp)
    for k, name in enumerate(names):
        size, digest = expected[name]
        parts = out[k].split(" ")
        if len(parts) != 2 or parts[0] != size:
            fail("%s: %r" % (name, out[k][:100]))
            continue
        pixels = bgra_to_rgba(base64.b64decode(parts[1]))
        if hashlib.sha256(pixels).hexdigest() == digest:
            continue
        # 16-bit samples: within 1 of ImageMagick's reduction to 8 bits,
        # which is checked against the listed digest.
        want = magick_rgba(os.path.join(suite, name))
        if "16" not in name or hashlib.sha256(want).hexdigest() != digest or not close(pixels, want, 1):
            fail("%s: pixels differ from the listed digest" % name)
    # Every file cut at each multiple of 97 bytes raises bad-media.
    cuts = []
    for name in names:
        with open(os.path.join(suite, name), "rb") as f:
            data = f.read()
        for at in range(97, len(data), 97):
            cuts.append(vyx_binary(data[:at]))
    rounds = int(os.environ.get("VYX_ORACLE_ROUNDS", "0"))
    if rounds and len(cuts) > rounds:
        cuts = cuts[::len(cuts) // rounds]
    lines = ['e: try [system/codecs/png/decode %s] print either error! = type? e [e/id] ["decoded"]' % c
             for c in cuts]
    out = run_vyx(lines, tmp)
    bad = [o for o in out[:len(cuts)] if o != "bad-media"]
    if len(out) < len(cuts) or bad:
        fail("truncated PNGs: %d of %d did not raise bad-media (%r)" % (len(bad), len(cuts), bad[:3]))
    print("PNG suite: %d images, %d truncations" % (len(names), len(cuts)))


with tempfile.TemporaryDirectory() as tmp:
    check_decoding(tmp)
    check_encoding(tmp)
    if os.path.isfile(os.path.join(suite, "expected-rgba8-sha256.txt")):
        check_suite(tmp)
    else:
        fail("the PNG suite is not at %s" % suite)
if failures:
    print("%d failures" % len(failures))
    sys.exit(1)
print("ok")
