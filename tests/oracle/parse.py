#!/usr/bin/env python3
"""parse against python's re: random rules of literals, skip, any/some/opt,
alternatives, sub-blocks, to/thru (a literal, a sub-block or end) and end,
over random short strings, with and without /case. Ordered choice and greedy
repetition that never gives back are atomic groups and possessive
quantifiers, so each rule block has an exact re.fullmatch counterpart.

usage: parse.py VYX [CASES]   (CASES defaults to $VYX_PARSE_CASES or 20000)
"""
import os
import random
import re
import sys

from common import check, run_script

ALPHABET = "abAB"


def literal(rng):
    text = "".join(rng.choice(ALPHABET) for _ in range(rng.randint(1, 2)))
    return '"%s"' % text, re.escape(text)


def block(rng, depth):
    """A rule block: (vyx text, regex)."""
    alts = []
    for _ in range(rng.choice([1, 1, 2, 3])):
        alts.append(sequence(rng, depth))
    vyx = "[" + " | ".join(v for v, _ in alts) + "]"
    rx = "(?>" + "|".join(r for _, r in alts) + ")"
    return vyx, rx


def sequence(rng, depth):
    items = [item(rng, depth) for _ in range(rng.randint(0, 3))]
    if not items:
        return "none", ""  # a bar may not end a block
    return " ".join(v for v, _ in items), "".join(r for _, r in items)


def subject(rng, depth):
    k = rng.randrange(4 if depth > 0 else 2)
    if k == 0:
        return literal(rng)
    if k == 1:
        return "skip", "."
    return block(rng, depth - 1)


def item(rng, depth):
    k = rng.randrange(9)
    if k <= 1:
        return literal(rng)
    if k == 2:
        return "skip", "."
    if k == 3:
        v, r = subject(rng, depth)
        word, q = rng.choice([("any", "*+"), ("some", "++"), ("opt", "?+")])
        return "%s %s" % (word, v), "(?>%s)%s" % (r, q)
    if k == 4 and depth > 0:
        return block(rng, depth - 1)
    if k == 5:
        word = rng.choice(["to", "thru"])
        t = rng.randrange(3)
        if t == 0:
            return word + " end", "(?>.*)"
        v, r = literal(rng) if t == 1 or depth == 0 else block(rng, depth - 1)
        if word == "to":
            return "to %s" % v, "(?>.*?(?=%s))" % r
        return "thru %s" % v, "(?>.*?%s)" % r
    if k == 6:
        return "end", r"\Z"
    return literal(rng)


# Fuzz: rule blocks of random keywords and values, edits and parens included,
# over block and string input. Any outcome but a crash, a hang or a lost line
# is fine: each case prints one line, a result or an error's id. (while is
# left out: it repeats in place by design, so `while []` never ends.)
TOKENS = ["skip", "any", "some", "opt", "to", "thru", "end", "|", "copy x", "set x", "not", "ahead",
          "remove", "insert", "change", "keep", "keep pick", "collect", "collect set x", "into", "break",
          "reject", "fail", "none", "quote", "if", "case", "p:", ":p", "(s: tail s)", "(clear s)", "(p: head s)",
          "1", "2", "0 1", '"a"', '"ab"', "#\"b\"", "integer!", "word!", "'a", "r", "[]", "x"]


def fuzz_rules(rng, depth):
    parts = []
    for _ in range(rng.randint(0, 6)):
        if depth > 0 and rng.random() < 0.2:
            parts.append(fuzz_rules(rng, depth - 1))
        else:
            parts.append(rng.choice(TOKENS))
    return "[" + " ".join(parts) + "]"


def fuzz(vyx, rng, count):
    lines = []
    for _ in range(count):
        rules = fuzz_rules(rng, 3)
        data = rng.choice(['"abab"', '"aé b"', "[a 1 [a b] 2 a]", "[]", '""', "#{6162}"])
        lines.append("s: copy %s r: %s x: p: none e: try [parse s r] print either error! = type? :e [e/id] [mold :e]"
                     % (data, rules))
    out = run_script(vyx, "\n".join(lines) + '\nprint "done"\n')
    ok = len(out) > count and out[count] == "done"
    return [("fuzz: a line per case and a clean end", ok, True)]


def main():
    vyx = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else int(os.environ.get("VYX_PARSE_CASES", "20000"))
    rng = random.Random(20261210)
    cases, lines = [], []
    for i in range(count):
        rules, rx = block(rng, 2)
        text = "".join(rng.choice(ALPHABET) for _ in range(rng.randint(0, 7)))
        case = rng.random() < 0.5
        want = re.fullmatch(rx, text, re.DOTALL if case else re.DOTALL | re.IGNORECASE) is not None
        call = "parse/case" if case else "parse"
        lines.append('print %s "%s" %s' % (call, text, rules))
        cases.append(("%s %r %s  ~ %s" % (call, text, rules, rx), "true" if want else "false"))
    out = run_script(vyx, "\n".join(lines) + "\n")
    pairs = [(what, got, want) for (what, want), got in zip(cases, out)]
    return check(pairs + fuzz(vyx, rng, max(count // 4, 50)))


if __name__ == "__main__":
    sys.exit(main())
