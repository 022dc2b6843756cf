#!/usr/bin/env python3
"""Checks that #include lines point down the layers.

runtime/ depends on nothing above it; datatypes/ on runtime/ (and io/);
evaluator/ on both. An include that crosses upward is allowed only when
it is listed below with its reason, or when the include line itself
carries a `// layer: REASON` comment.

usage: scripts/check_layers.py [ROOT]   (exit 1 and one line per fault)
"""
import os
import re
import sys

# The layers each directory must not include from.
FORBIDDEN = {
    "runtime": ("datatypes", "evaluator"),
    "datatypes": ("evaluator",),
}

# Upward includes that are still there, each with its reason. A new file
# that needs one of these headers says why at its include instead.
EXCEPTIONS = {
    ("datatypes", "evaluator/helpers.h"): "values loaded from text, spec text and the common argument errors",
    ("datatypes", "evaluator/random.h"): "random actions draw from the interpreter's generator",
    ("datatypes", "evaluator/interpreter.h"): "make and do of objects, errors, typesets and images evaluate blocks",
    ("datatypes", "evaluator/lexer.h"): "to/make from text and mold of numbers go through the lexer",
    ("datatypes", "evaluator/call.h"): "sort/compare and object/port actors call functions",
    ("datatypes", "evaluator/protect.h"):
        "error! is raised under the protected-evaluation frames, and hands raise the guard that holds it",
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/([^"]+)"(.*)$')


def check(root):
    faults = []
    for layer, above in FORBIDDEN.items():
        top = os.path.join(root, layer)
        for dirpath, _, files in os.walk(top):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.join(dirpath, name)
                rel = os.path.relpath(path, root)
                with open(path, encoding="utf-8") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m or m.group(1) not in above:
                            continue
                        header = m.group(1) + "/" + m.group(2)
                        if (layer, header) in EXCEPTIONS:
                            continue
                        if re.search(r"//\s*layer:\s*\S", m.group(3)):
                            continue
                        faults.append(f"{rel}:{number}: {layer}/ includes {header} from a layer above it")
    return faults


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    faults = check(root)
    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} upward include(s): list the reason with `// layer: REASON` at the include, "
              "or move the service down")
        return 1
    print("include layers: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
