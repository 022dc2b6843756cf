#!/usr/bin/env python3
"""Fails when a committed generated table differs from what its generator
writes now (someone edited the table by hand, or the generator changed and
its output was not committed).

Usage: check_generated.py SOURCE_DIR GENERATOR OUTPUT
  e.g. check_generated.py . scripts/gen_case_tables.py runtime/case_tables.cpp
"""
import os
import subprocess
import sys


def main():
    root, generator, output = sys.argv[1:4]
    fresh = subprocess.run([sys.executable, os.path.join(root, generator)],
                           check=True, capture_output=True, text=True).stdout
    with open(os.path.join(root, output)) as f:
        committed = f.read()
    if fresh != committed:
        sys.exit('%s is not what %s writes: rerun it and commit the result' % (output, generator))
    print('%s: up to date' % output)


if __name__ == '__main__':
    main()
