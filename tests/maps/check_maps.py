#!/usr/bin/env python3
"""map! against a python model: random put, remove/key, select, select/case,
extend, extend/case and find on integer, word and string keys, with length?
and the keys' order checked along the way.

Ordinary lookups ignore the case of words and strings and find the key added
first; building from a block, /case and remove/key compare strictly. Removed
pairs keep their slot, and a key set again comes back in it.

usage: check_maps.py VYX [STEPS]
"""
import random
import subprocess
import sys

vyx = sys.argv[1]
steps = int(sys.argv[2]) if len(sys.argv) > 2 else 3000
rng = random.Random(23)


class Model:
    def __init__(self):
        self.pairs = []  # [kind, text-or-int, value, live]

    def find(self, key, strict):
        kind, v = key
        for p in self.pairs:
            if p[0] != kind:
                continue
            if p[1] == v or (not strict and kind != "i" and p[1].lower() == v.lower()):
                return p
        return None

    def put(self, key, value, strict):
        p = self.find(key, strict)
        if p is None:
            self.pairs.append([key[0], key[1], value, True])
        else:
            p[2], p[3] = value, True

    def remove(self, key):
        p = self.find(key, True)
        if p is not None:
            p[3] = False

    def length(self):
        return sum(1 for p in self.pairs if p[3])


def key_text(key):
    kind, v = key
    return {"i": str, "w": lambda x: "'" + x, "s": lambda x: '"%s"' % x}[kind](v)


def mold_key(p):
    return {"i": str, "w": str, "s": lambda x: '"%s"' % x}[p[0]](p[1])


def random_key():
    kind = rng.choice("iws")
    if kind == "i":
        return ("i", rng.randint(-2, 5))
    return (kind, "".join(rng.choice("aAbB") for _ in range(rng.randint(1, 2))))


m = Model()
lines, expected = ["m: make map! []"], []
for _ in range(steps):
    op = rng.choice(["put", "put/case", "remove", "select", "select/case", "extend", "extend/case", "find",
                     "length", "words"])
    k = random_key()
    v = rng.randint(0, 99)
    if op.startswith("put"):
        m.put(k, v, op == "put/case")
        lines.append(f"print mold {op} m {key_text(k)} {v}")
        expected.append(str(v))
    elif op == "remove":
        m.remove(k)
        lines.append(f"print length? remove/key m {key_text(k)}")
        expected.append(str(m.length()))
    elif op.startswith("select"):
        p = m.find(k, op == "select/case")
        lines.append(f"print mold {op} m {key_text(k)}")
        expected.append(str(p[2]) if p and p[3] else "none")
    elif op.startswith("extend"):
        k2 = random_key()
        v2 = rng.randint(0, 99)
        m.put(k, v, op == "extend/case")
        m.put(k2, v2, op == "extend/case")
        lit = lambda key: key_text(key).lstrip("'")
        lines.append(f"print length? {op} m [{lit(k)} {v} {lit(k2)} {v2}]")
        expected.append(str(m.length()))
    elif op == "find":
        p = m.find(k, False)
        lines.append(f"print mold find m {key_text(k)}")
        expected.append(mold_key(p) if p and p[3] else "none")
    elif op == "length":
        lines.append("print length? m")
        expected.append(str(m.length()))
    else:
        lines.append("print mold reflect m 'words")
        expected.append("[" + " ".join(mold_key(p) for p in m.pairs if p[3]) + "]")

proc = subprocess.run([vyx], input="\n".join(lines) + "\n", capture_output=True, text=True, timeout=900)
got = [l for l in proc.stdout.splitlines()[2:] if l and not l.startswith("== ")]
failures = 0
for i, want in enumerate(expected):
    have = got[i] if i < len(got) else "<missing>"
    if have != want:
        failures += 1
        if failures <= 10:
            print(f"step {i}: {lines[i + 1]}\n  expected {want}\n  got      {have}")
print(f"{len(expected) - failures} passed, {failures} failed")
sys.exit(1 if failures else 0)
