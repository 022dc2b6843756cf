#!/usr/bin/env python3
"""VYXBIN through the vyx executable, against a test-only LZ encoder:

- every corpus value written in both forms reads back with the same mold/all,
  and its LZ-packed twin reads back like it;
- random byte strings packed with the encoder read back unchanged;
- every truncation and many single-byte changes of every encoding (packed
  too) end in vb-invalid-record, invalid-data, no-codec or too-deep, or in a
  value, never in a crash;
- nesting beyond the limit is too-deep for the writer and the reader;
- a url! payload (from a local python3 http.server) decodes like its bytes.

usage: robust.py VYX   (VYX_VYXBIN_STEP=n checks every nth byte position only;
                       VYX_VYXBIN_SMALL=1 leaves out the nesting checks and
                       packs fewer random blobs)
       robust.py VYX --seeds DIR   writes the encodings as fuzzing seeds
"""
import os
import http.server
import random
import re
import subprocess
import threading
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import lz_pack  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))

# The codec's entries under short names, for the programs below.
CODEC_WORDS = "vyxbin-encode*: :system/codecs/vyxbin/encode*\nvyxbin-decode: :system/codecs/vyxbin/decode\n"


def run(vyx, source, timeout=1200):
    t0 = time.time()
    try:
        return run_(vyx, CODEC_WORDS + source, timeout)
    finally:
        if os.environ.get("VYX_VYXBIN_TIMES"):
            print("stage took %.1f s" % (time.time() - t0))


def run_(vyx, source, timeout):
    path = os.path.join(os.environ.get("TMPDIR", "/tmp"), "vyxbin-%d.vyx" % os.getpid())
    with open(path, "w", encoding="utf-8") as f:
        f.write("Vyx []\n" + source)
    try:
        env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
        r = subprocess.run([vyx, path], capture_output=True, timeout=timeout, env=env)
    finally:
        os.unlink(path)
    out = r.stdout.decode("utf-8", "replace")
    if r.returncode != 0:
        sys.exit("vyx ended with status %d:\n%s%s" % (r.returncode, out[-3000:], r.stderr.decode()[-3000:]))
    return out


def hexes(text):
    return [bytes.fromhex(h) for h in re.findall(r"^HEX ([0-9A-F]*)$", text, re.M)]


def lit(data):
    return "#{" + data.hex().upper() + "}"


def main():
    vyx = sys.argv[1]
    step = int(os.environ.get("VYX_VYXBIN_STEP", "1"))
    deep_checks = os.environ.get("VYX_VYXBIN_SMALL", "0") != "1"
    rng = random.Random(28)
    corpus = open(os.path.join(HERE, "corpus.vyx"), encoding="utf-8").read()

    # 1. Encodings of the corpus in both forms, and their round trip.
    out = run(vyx, corpus + """
foreach v corpus [
    foreach compact reduce [true false] [
        x: vyxbin-encode* :v compact
        print ["HEX" enbase/base x 16]
        y: vyxbin-decode x
        unless equal? mold/all :y mold/all :v [print ["MISMATCH" mold/all :v "->" mold/all :y]]
    ]
]
""")
    if "MISMATCH" in out:
        sys.exit("round trip differs:\n" + out)
    encodings = hexes(out)
    assert len(encodings) > 40, out[-2000:]

    # 2. Packed twins decode like the plain binaries; random data survives packing.
    packed = [lz_pack.pack_vyxbin(e, rng, rng.choice([16, 64, 1 << 20])) for e in encodings]
    if len(sys.argv) > 3 and sys.argv[2] == "--seeds":
        os.makedirs(sys.argv[3], exist_ok=True)
        for i, e in enumerate(encodings + packed[::8]):
            with open(os.path.join(sys.argv[3], "seed-%03d.bin" % i), "wb") as f:
                f.write(e)
        return
    blobs = [bytes(rng.randrange(256) for _ in range(rng.randrange(0, 3000))) for _ in range(20)]
    blobs += [bytes(rng.choice(b"ab") for _ in range(rng.randrange(1, 5000))) for _ in range(20)]
    blobs.append(b"x" * 70000)
    if not deep_checks:
        blobs = blobs[:3] + blobs[-3:]
    lines = []
    for e, p in zip(encodings, packed):
        lines.append("unless equal? mold/all vyxbin-decode %s mold/all vyxbin-decode %s [print \"PACKED\"]" % (lit(e), lit(p)))
    for data in blobs:
        record = bytes([41]) + uvarint(len(data)) + data
        plain = b"VYXBIN\x02\x01" + uvarint(1) + uvarint(len(record)) + record
        lines.append("unless equal? %s vyxbin-decode %s [print \"BLOB\"]" % (lit(data), lit(lz_pack.pack_vyxbin(plain, rng, rng.choice([100, 4096, 1 << 20])))))
    served = {"/e%d" % i: e for i, e in enumerate(encodings[::9] + packed[::9])}

    class Handler(http.server.BaseHTTPRequestHandler):
        def log_message(self, *args):
            pass

        def do_GET(self):
            body = served.get(self.path, b"")
            self.send_response(200 if body else 404)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    for path, e in served.items():
        lines.append("unless equal? mold/all vyxbin-decode http://127.0.0.1:%d%s mold/all vyxbin-decode %s [print \"URL\"]" % (
            server.server_address[1], path, lit(e)))
    try:
        out = run(vyx, "\n".join(lines) + "\nprint \"done\"\n")
    finally:
        server.shutdown()
    if "PACKED" in out or "BLOB" in out or "URL" in out or "done" not in out:
        sys.exit("packed payloads differ:\n" + out[-3000:])

    # 3. Truncations and single-byte changes.
    program = ["""allowed: [vb-invalid-record invalid-data no-codec too-deep]
tally: make map! []
check: func [x /local e] [
    e: try [reduce [vyxbin-decode x]]
    either error! = type? :e [
        either find allowed e/id [tally/(e/id): 1 + any [tally/(e/id) 0]] [print ["UNEXPECTED" e/id mold x]]
    ] [try [mold/all :e]]
]
mutate: func [x step /local n m] [
    n: length? x
    repeat i n - 1 [if i // step = 0 [check copy/part x i]]
    repeat i n [
        if i // step = 0 [
            foreach v reduce [0 1 127 128 255 (pick x i) xor 85 (pick x i) + 1 // 256] [m: copy x  poke m i v  check m]
        ]
    ]
]
"""]
    for e in encodings + packed:
        program.append("mutate %s %d" % (lit(e), step))
    # 4. Nesting beyond the limit, written and read.
    program.append("print [\"TALLY\" tally/vb-invalid-record tally/invalid-data tally/no-codec tally/too-deep]")
    if not deep_checks:
        program.append('print "done"')
    if deep_checks:
        deep = b"\x05\x01" * (1 << 19) + b"\x81"
        program.append("""deep-compact: append append/dup copy %s #{0501} %d #{81}""" % (lit(b"VYXBIN\x02\x01\x01" + uvarint(len(deep))), 1 << 19))
        fixed_deep = (1 << 17)
        program.append("""deep-fixed: append append/dup copy %s #{050000000000000001000000} %d #{0300000000000000}""" % (
            lit(b"VYXBIN\x02\x00" + (1).to_bytes(4, "little") + (12 * fixed_deep + 8).to_bytes(4, "little")), fixed_deep))
        program.append("""foreach x reduce [deep-compact deep-fixed] [e: try [vyxbin-decode x] print ["DEEP" e/id]]
nest: [] loop 10000 [nest: reduce [nest]]
n: vyxbin-decode vyxbin-encode* nest true
depth: 0 while [not tail? n] [depth: depth + 1 n: pick n 1] print ["NEST" depth]
loop 20000 [nest: reduce [nest]]
e: try [vyxbin-encode* nest true] print ["DEEP" e/id]
print "done"
""")
    out = run(vyx, "\n".join(program))
    bad = [line for line in out.splitlines() if line.startswith("UNEXPECTED")]
    if bad or "done" not in out:
        sys.exit("unexpected outcomes:\n" + "\n".join(bad[:20]) + out[-2000:])
    if deep_checks and out.count("DEEP too-deep") != 3:
        sys.exit("nesting beyond the limit not refused:\n" + out[-2000:])
    if deep_checks and "NEST 10000" not in out:
        sys.exit("a 10000-deep block did not survive:\n" + out[-2000:])
    print("ok:", len(encodings), "encodings;", [l for l in out.splitlines() if l.startswith("TALLY")])


def uvarint(v):
    out = bytearray()
    while v >= 0x80:
        out.append(v & 0x7F | 0x80)
        v >>= 7
    out.append(v)
    return bytes(out)


if __name__ == "__main__":
    main()
