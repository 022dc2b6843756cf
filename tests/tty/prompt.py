#!/usr/bin/env python3
"""On a terminal the console prompts with ">> " and shows the continuation cue
while a block is open. Drives vyx inside tmux as a person would.

usage: prompt.py VYX
"""
import os
import subprocess
import sys
import time

vyx = sys.argv[1]
session = f"vyx-prompt-{int(time.time() * 1000) % 100000}"


# CI runs without a terminal of its own; tmux still wants to know the type.
env = dict(os.environ)
env.setdefault("TERM", "xterm")


def tmux(*args):
    return subprocess.run(["tmux", *args], check=True, capture_output=True, text=True, env=env).stdout


def screen():
    return [line.rstrip() for line in tmux("capture-pane", "-t", session, "-p").split("\n")]


def wait_for(text, timeout=10):
    """Waits until a line of the screen is `text` or, for longer texts, holds it."""
    end = time.time() + timeout
    while time.time() < end:
        if any(line == text or (len(text) > 1 and text in line) for line in screen()):
            return True
        time.sleep(0.05)
    return False


tmux("new-session", "-d", "-s", session, "-x", "100", "-y", "20", vyx)
try:
    wait_for(">>")
    # Type each line once the console has answered the one before, as a person would.
    # (The cue's trailing spaces are not on the captured screen: it reads "[".)
    for keys, answer in [("1 + 2", "== 3"), ("[1", "["), ("2]", "== [1")]:
        tmux("send-keys", "-t", session, "-l", keys)
        tmux("send-keys", "-t", session, "Enter")
        wait_for(answer)
    time.sleep(0.3)
    lines = [l for l in screen() if l]
    want = ["--== Vyx 0.1.0 ==--", "Type HELP for starting information.", ">> 1 + 2", "== 3", ">> [1",
            "[    2]", "== [1", "2]", ">>"]
    if lines != want:
        print("expected:", *want, "got:", *lines, sep="\n  ")
        print("0 passed, 1 failed")
        sys.exit(1)
    print("1 passed, 0 failed")
finally:
    subprocess.run(["tmux", "kill-session", "-t", session], capture_output=True)
