#!/usr/bin/env python3
"""Embeds the library's Vyx modules, in the manifest's order, as C++ text.

usage: gen_library.py LIBRARY_DIR OUTPUT_CPP
"""
import os
import sys

library, output = sys.argv[1], sys.argv[2]
names = []
with open(os.path.join(library, "manifest.txt"), encoding="utf-8") as f:
    for line in f:
        line = line.strip()
        if line and not line.startswith("#"):
            names.append(line)
out = ["// Generated from library/ by scripts/gen_library.py: do not edit.",
       '#include "boot/library_modules.h"', "", "namespace vyx::library {", "",
       "const Module modules[] = {"]
for name in names:
    with open(os.path.join(library, name), encoding="utf-8") as f:
        text = f.read()
    if ')vyx"' in text:
        sys.exit(f"{name}: holds the text delimiter )vyx\"")
    out.append(f'    {{"{name}", R"vyx({text})vyx"}},')
out += ["};", f"const unsigned module_count = {len(names)};", "", "}  // namespace vyx::library", ""]
new = "\n".join(out)
if not os.path.exists(output) or open(output, encoding="utf-8").read() != new:
    with open(output, "w", encoding="utf-8") as f:
        f.write(new)
