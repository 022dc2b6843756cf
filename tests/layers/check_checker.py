#!/usr/bin/env python3
"""The layer checker fails on an upward include and passes on allowed ones."""
import os
import subprocess
import sys
import tempfile

checker = sys.argv[1]
cases = [
    # (file, text, passes)
    ("runtime/a.cpp", '#include "runtime/cell.h"\n', True),
    ("runtime/a.cpp", '#include "datatypes/block.h"\n', False),
    ("runtime/a.cpp", '#include "evaluator/parse.h"\n', False),
    ("runtime/a.cpp", '#include "evaluator/parse.h"  // layer: the test says why\n', True),
    ("datatypes/a.cpp", '#include "evaluator/parse.h"\n', False),
    ("datatypes/a.h", '#include "evaluator/helpers.h"\n', True),  # a listed exception
    ("datatypes/a.cpp", '#include "io/file_io.h"\n', True),
    ("evaluator/a.cpp", '#include "datatypes/block.h"\n', True),
]
failed = 0
for path, text, passes in cases:
    with tempfile.TemporaryDirectory() as root:
        for d in ("runtime", "datatypes", "evaluator"):
            os.makedirs(os.path.join(root, d))
        with open(os.path.join(root, path), "w") as f:
            f.write(text)
        r = subprocess.run([sys.executable, checker, root], capture_output=True, text=True)
        if (r.returncode == 0) != passes:
            failed += 1
            print(f"FAIL {path}: {text.strip()} -> exit {r.returncode}\n{r.stdout}")
print(f"{len(cases) - failed} passed, {failed} failed")
sys.exit(1 if failed else 0)
