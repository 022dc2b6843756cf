#!/usr/bin/env python3
"""The clipboard through the vyx executable: headless (the process's own
clipboard), with fake wl-copy, wl-paste, xclip and xsel scripts that record
their arguments and input, and under Xvfb with the real xclip.

usage: run_clipboard.py VYX
"""
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from harness import Checks, expect, run_script  # noqa: E402

vyx = os.path.abspath(sys.argv[1])
HEADLESS = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
check = Checks()


def run(script, d, env, timeout=60):
    """The script's output lines without the where and near lines of errors."""
    return [line for line in run_script(vyx, script, d, env, timeout) if not line.startswith(("*** Where", "*** Near"))]


@check
def headless(d):
    out = run("""
print write-clipboard "abc"
print mold read-clipboard
s: "x" write-clipboard s append s "y"
print mold read-clipboard
print write-clipboard [%/tmp/a %b "c d"]
print mold read-clipboard
print form try [write-clipboard [%/tmp/a 1]]
print mold read-clipboard
print write-clipboard none
print mold read-clipboard
print form try [write-clipboard 42]
print write-clipboard ""
print mold read-clipboard
i: make image! [2x1 #{FF000000FF00} #{0080}]
print write-clipboard next i
print mold/flat read-clipboard
print write-clipboard make image! 0x0
print mold read-clipboard
""", d, HEADLESS)
    cwd = os.path.realpath(d)
    expect(out, ["true", '"abc"', '"x"', "true", f'[%/tmp/a %{cwd}/b %"{cwd}/c d"]',
                 "*** Script Error: invalid argument: 1", f'[%/tmp/a %{cwd}/b %"{cwd}/c d"]',
                 "true", "none", "*** Script Error: invalid argument: 42", "true", '""',
                 "true", "make image! [2x1 #{FF000000FF00} #{0080}]", "true", "none"], "headless")
    expect(run("print mold read-clipboard", d, HEADLESS), ["none"], "a fresh process")
    # A display with no tool to reach it is headless too.
    env = dict(HEADLESS, DISPLAY=":99", PATH=d)
    expect(run('print write-clipboard "q" print mold read-clipboard', d, env), ["true", '"q"'], "no tool")


FAKE = r"""#!/bin/bash
echo "${0##*/} $*" >> "$FAKE/log"
case "$(< "$FAKE/mode")" in
  fail) exit 1 ;;
  hang) exec /bin/sleep 60 ;;
esac
case "$*" in
  *--list-types*|*TARGETS*) /bin/cat "$FAKE/offered" ;;
  *--clear*) ;;
  *" -i"*|*--type*|*--input*) [[ "$0" == *wl-paste ]] || { /bin/cat > "$FAKE/input"; exit 0; } ;;&
  *) t="${@: -1}"; t="${t//\//_}"; t="${t//;/_}"; /bin/cat "$FAKE/data.$t" ;;
esac
"""


def fake_tools(d, names):
    tools = os.path.join(d, "tools")
    os.makedirs(tools, exist_ok=True)
    for name in names:
        path = os.path.join(tools, name)
        with open(path, "w") as f:
            f.write(FAKE)
        os.chmod(path, 0o755)
    return tools


def offer(d, mode="ok", offered=(), data=None):
    with open(os.path.join(d, "mode"), "w") as f:
        f.write(mode)
    with open(os.path.join(d, "offered"), "w") as f:
        f.write("".join(t + "\n" for t in offered))
    for name, content in (data or {}).items():
        with open(os.path.join(d, "data." + name.replace("/", "_").replace(";", "_")), "wb") as f:
            f.write(content)
    if os.path.exists(os.path.join(d, "log")):
        os.unlink(os.path.join(d, "log"))


def log(d):
    with open(os.path.join(d, "log")) as f:
        return f.read().splitlines()


def written(d):
    with open(os.path.join(d, "input"), "rb") as f:
        return f.read()


@check
def x_tools(d):
    tools = fake_tools(d, ["xclip", "xsel", "wl-copy", "wl-paste"])
    env = dict(HEADLESS, DISPLAY=":5", PATH=tools, FAKE=d)
    offer(d, offered=["TARGETS", "text/uri-list", "UTF8_STRING"], data={"UTF8_STRING": "é\n".encode(),
          "text/uri-list": b"file:///x"})
    expect(run("print mold read-clipboard", d, env), ['"é^/"'], "text before files")
    expect(log(d), ["xclip -selection clipboard -o -t TARGETS", "xclip -selection clipboard -o -t UTF8_STRING"],
           "xclip reading")
    offer(d, offered=["text/uri-list"], data={"text/uri-list": b"# comment\r\nfile:///a%20b\r\nhttp://x/y\r\nfile://host/c"})
    expect(run("print mold read-clipboard", d, env), ['[%"/a b" %/c]'], "a uri-list")
    png = bytes.fromhex("89504e470d0a1a0a0000000d49484452000000010000000108060000001f15c489"
                        "0000000d49444154789c63f8cfc0f01f00050001ff89993d1d0000000049454e44ae426082")
    offer(d, offered=["image/gif", "image/png"], data={"image/png": png})
    expect(run("print mold read-clipboard", d, env), ["make image! [1x1 #{FF0000}]"], "an image")
    expect(log(d)[1:], ["xclip -selection clipboard -o -t image/png"], "png before gif")
    offer(d, offered=["image/png"], data={"image/png": png[:20]})
    expect(run("print form try [read-clipboard]", d, env), ["*** Access Error: bad media data (corrupt image, sound, video)"],
           "a corrupt image")
    offer(d, offered=["image/bmp"])
    expect(run("print mold read-clipboard", d, env), ["none"], "nothing offered that we take")
    offer(d)
    expect(run('print write-clipboard "é€"', d, env), ["true"], "text written")
    expect((log(d), written(d)), (["xclip -selection clipboard -i"], "é€".encode()), "xclip writing text")
    offer(d)
    expect(run('print write-clipboard [%/t/a%20b %/u]', d, env), ["true"], "files written")
    expect((log(d), written(d)), (["xclip -selection clipboard -i -t text/uri-list"],
                                   b"file:///t/a%20b\r\nfile:///u\r\n"), "xclip writing files")
    offer(d, mode="fail")
    expect(run('print write-clipboard "x" print mold read-clipboard', d, env), ["false", "none"],
           "a failing xclip")
    offer(d, offered=["STRING"], data={"STRING": b"caf\xe9"})
    expect(run("print mold read-clipboard", d, env), ['"café"'], "latin-1 STRING")
    offer(d, mode="hang")
    start = time.monotonic()
    expect(run('print write-clipboard "x" print mold read-clipboard', d, env), ["false", "none"],
           "a hanging xclip")
    took = time.monotonic() - start
    if not 5 <= took < 20:
        raise AssertionError(f"a hanging tool took {took:.1f} s for two calls")
    # Without xclip, xsel: text only.
    os.unlink(os.path.join(tools, "xclip"))
    offer(d)
    expect(run('print write-clipboard "t" print write-clipboard [%/a]', d, env), ["true", "false"], "xsel writing")
    expect((log(d), written(d)), (["xsel --clipboard --input"], b"t"), "xsel arguments")


@check
def wayland_tools(d):
    tools = fake_tools(d, ["xclip", "wl-copy", "wl-paste"])
    env = dict(HEADLESS, DISPLAY=":5", WAYLAND_DISPLAY="wayland-0", PATH=tools, FAKE=d)
    offer(d, offered=["text/uri-list", "text/plain;charset=utf-8"], data={"text/plain;charset=utf-8": b"w"})
    expect(run("print mold read-clipboard", d, env), ['"w"'], "wayland text")
    expect(log(d), ["wl-paste --list-types", "wl-paste --no-newline --type text/plain;charset=utf-8"],
           "wl-paste arguments")
    offer(d)
    expect(run('print write-clipboard "s" print write-clipboard [%/f] print write-clipboard none', d, env),
           ["true", "true", "true"], "wayland writes")
    expect(log(d), ["wl-copy --type text/plain;charset=utf-8", "wl-copy --type text/uri-list", "wl-copy --clear"],
           "wl-copy arguments")
    # WAYLAND_DISPLAY without the wayland tools: the X tools.
    os.unlink(os.path.join(tools, "wl-paste"))
    offer(d)
    expect(run('print write-clipboard "s"', d, env), ["true"], "X under a wayland name")
    expect(log(d), ["xclip -selection clipboard -i"], "xclip chosen")


def xvfb():
    """Starts Xvfb on a free display; answers (process, display) or None."""
    if not shutil.which("Xvfb") or not shutil.which("xclip"):
        return None
    r, w = os.pipe()
    p = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "64x64x24", "-nolisten", "tcp"],
                         pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(w)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(r, 16)
        if not chunk:
            break
        number += chunk
    os.close(r)
    if not number.strip():
        p.kill()
        return None
    return p, ":" + number.decode().strip()


@check
def real_xclip(d):
    server = xvfb()
    if server is None:
        raise AssertionError("Xvfb and xclip are needed (scripts/setup installs them)")
    p, display = server
    try:
        env = dict(HEADLESS, DISPLAY=display)
        xclip = lambda *args, **kw: subprocess.run(["xclip", "-selection", "clipboard", *args], env=env,
                                                   capture_output=True, timeout=10, **kw)
        expect(run("print mold read-clipboard", d, env), ["none"], "an empty clipboard")
        expect(run('print write-clipboard "é€"', d, env), ["true"], "written")
        expect(xclip("-o").stdout, "é€".encode(), "what xclip reads")
        subprocess.run(["xclip", "-selection", "clipboard", "-i"], input=b"from xclip\n", env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=10)
        expect(run("print mold read-clipboard", d, env), ['"from xclip^/"'], "text set with xclip")
        expect(run("print write-clipboard [%/tmp/x%20y] print mold read-clipboard", d, env),
               ["true", '[%"/tmp/x y"]'], "files")
        expect(xclip("-o", "-t", "text/uri-list").stdout, b"file:///tmp/x%20y\r\n", "the uri-list")
        expect(run("print write-clipboard make image! [3x2 1.2.3]", d, env), ["true"], "an image written")
        png = xclip("-o", "-t", "image/png").stdout
        expect((png[:8], png[12:16], png[16:24]), (b"\x89PNG\r\n\x1a\n", b"IHDR", bytes.fromhex("0000000300000002")),
               "a PNG of its size")
        expect(run("print mold read-clipboard", d, env), ["make image! [3x2 #{010203010203010203010203010203010203}]"],
               "the image read back")
    finally:
        p.kill()
        p.wait()


def main():
    return check.run_all("vyx-clip-", (AssertionError, subprocess.TimeoutExpired, OSError))


if __name__ == "__main__":
    sys.exit(main())
