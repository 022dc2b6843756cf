#!/usr/bin/env python3
"""Files, directories, processes and the environment through the vyx
executable, each check in a temporary directory of its own, with python3's
os, stat and subprocess modules (and ps) as the oracle.

usage: run_files.py VYX
"""
import os
import platform
import random
import stat
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from harness import Checks, expect, run_script  # noqa: E402

vyx = os.path.abspath(sys.argv[1])
# The sanitizer builds move fewer megabytes through the pipes.
MB = int(os.environ.get("VYX_FILES_MB", "4"))
check = Checks()


def run(script, cwd, env=None, timeout=120):
    """Runs a script body in `cwd`; answers its output lines."""
    return run_script(vyx, script, cwd, env, timeout)


def expect_errors(lines, reports):
    """Each report, in order, as the first line of an error's formed text."""
    got = [line[4:] for line in lines if line.startswith("*** ") and not line.startswith(("*** Where", "*** Near"))]
    expect(got, reports, "errors")


def put(d, name, data):
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def get(d, name):
    with open(os.path.join(d, name), "rb") as f:
        return f.read()


@check
def text_binary_and_lines(d):
    put(d, "crlf", b"a\r\nb\r\n")
    put(d, "lf", b"a\nb")
    put(d, "empty", b"")
    put(d, "last", b"\r\n\nz\r")
    put(d, "bom", b"\xef\xbb\xbfa\xc3\xa9")
    out = run("""
write %t1 "a^/b"
write/binary %t2 "a^/b"
write/lines %t3 ["x" 1]
print mold read/lines %t3
write/lines %t4 "é"
print mold read %crlf
print mold read/lines %crlf
print mold read/lines %lf
print mold read/lines %empty
print mold read %empty
print mold read/binary %empty
print mold read/lines %last
print mold read %last
print mold read %bom
""", d)
    expect([get(d, n) for n in ("t1", "t2", "t3", "t4")], [b"a\nb", b"a\nb", b"x\n1\n", "é\n".encode()], "bytes")
    expect(out, ['["x" "1"]', '"a^/b^/"', '["a" "b"]', '["a" "b"]', "[]", '""', "#{}", '["" "" "z^M"]', '"^/^/z^M"', '"aé"'], "reads")


@check
def part_and_seek(d):
    data = random.Random(5).randbytes(1000)
    put(d, "data", data)
    cases = [(None, None), (10, None), (0, None), (None, 990), (None, 1000), (None, 5000), (7, 995), (3, 2), (-4, None)]
    script = []
    for n, (part, seek) in enumerate(cases):
        call = "read/binary" + ("/part" if part is not None else "") + ("/seek" if seek is not None else "")
        args = " ".join(str(v) for v in (part, seek) if v is not None)
        script.append(f"write/binary %o{n} {call} %data {args}")
    script.append('print mold read/part %data 0')
    script.append('print mold read/part/seek %text 3 2')
    put(d, "text", "abécd".encode())
    out = run("\n".join(script), d)
    for n, (part, seek) in enumerate(cases):
        s = seek or 0
        want = data[s:] if part is None else data[s:s + max(part, 0)]
        expect(get(d, f"o{n}"), want, f"read/binary part {part} seek {seek}")
    expect(out, ['""', '"éc"'], "text part and seek")


@check
def sparse_file_and_special_files(d):
    with open(os.path.join(d, "big"), "wb") as f:
        f.truncate(3221225472)
    os.mkfifo(os.path.join(d, "fifo"))
    payload = random.Random(9).randbytes(300000)

    def feed():
        with open(os.path.join(d, "fifo"), "wb") as f:
            f.write(payload)
    t = threading.Thread(target=feed)
    t.start()
    with open("/proc/self/status") as f:
        status_lines = len(f.read().splitlines())
    out = run("""
write/binary %from-fifo read/binary %fifo
print size? %big
print length? read/binary/part %big 10
print length? read/lines %/proc/self/status
print size? %.
print size? %missing
print size? %fifo
print mold read/binary/part/seek %big 4 2147483000
print form try [read/binary %big]
""", d)
    t.join()
    expect(get(d, "from-fifo"), payload, "a FIFO read whole")
    expect(out[:6], ["3221225472.0", "10", str(status_lines), "none", "none", "0"], "sizes and /proc")
    expect(out[6], "#{00000000}", "a seek far into a sparse file")
    expect_errors(out[7:], ["Script Error: Content too long"])


@check
def write_modes_and_errors(d):
    put(d, "seek", b"hello world")
    out = run("""
write/append %app "ab"
write/append %app "cd"
write %trunc "long text"
write %trunc "x"
write/part %part "abcdef" 3
write/binary/part %bpart #{010203} 0
write/binary/part %bpart2 #{010203} 2
write/seek %seek "XY" 6
write %mold [1 "a"]
print form try [write %/dev/full "x"]
print form try [write/part %t "abc" "x"]
print form try [read/seek %seek "x"]
print form try [write %no-dir/x "x"]
""", d)
    expect([get(d, n) for n in ("app", "trunc", "part", "bpart", "bpart2", "seek", "mold")],
           [b"abcd", b"x", b"abc", b"", b"\x01\x02", b"hello XYrld", b'[1 "a"]'], "written bytes")
    expect_errors(out, ["Access Error: cannot open: %/dev/full", "Script Error: invalid part argument: \"x\"",
                        "Script Error: invalid seek argument: \"x\"", "Access Error: cannot open: %no-dir/x"])


@check
def directories(d):
    os.mkdir(os.path.join(d, "d"))
    for name in ["a.txt", "my file", "é.txt"]:
        put(d, "d/" + name, b"x")
    os.mkdir(os.path.join(d, "d", "sub"))
    os.symlink("sub", os.path.join(d, "d", "link"))
    with open(os.path.join(d.encode(), b"d", b"bad\xffname"), "wb"):
        pass
    os.mkdir(os.path.join(d, "full"))
    put(d, "full/f", b"x")
    os.mkdir(os.path.join(d, "empty"))
    put(d, "old", b"old")
    put(d, "new", b"new")
    out = run("""
foreach f read %d/ [print f]
print "--"
print delete %full/
print delete %empty/
print delete %old-missing
print rename %old %new
print rename %old %renamed
print exists? %renamed
print exists? %old
create-dir %made
print type? query %renamed
print mold query %renamed/
print mold query %missing
print "--"
foreach f read %/ [print f]
print "--"
print form try [create-dir %a/b/c]
print form try [create-dir %made]
print form try [read %missing/]
""", d)
    listed = out[:out.index("--")]
    want = {(n.decode("utf-8", "replace") + ("/" if os.path.isdir(os.path.join(d.encode(), b"d", n)) else ""))
            for n in os.listdir(os.path.join(d.encode(), b"d"))}
    expect(sorted(listed), sorted(want), "listing")
    rest = out[out.index("--") + 1:]
    expect(rest[:6], ["false", "true", "false", "false", "true", "true"], "delete and rename")
    expect(rest[6], "false", "the old name is gone")
    expect((get(d, "new"), get(d, "renamed")), (b"new", b"old"), "rename replaces nothing")
    if not os.path.isdir(os.path.join(d, "made")) or os.path.exists(os.path.join(d, "a")):
        raise AssertionError("create-dir")
    expect(rest[7:10], ["date", "none", "none"], "query")
    root = rest[11:rest.index("--", 11)]
    expect(sorted(root), sorted(n + "/" if os.path.isdir("/" + n) else n for n in os.listdir("/")), "read %/")
    expect_errors(rest[rest.index("--", 11) + 1:], ["Access Error: cannot create: %a/b/c", "Access Error: cannot create: %made",
                              "Access Error: cannot open: %missing/"])


@check
def calls(d):
    put(d, "log", b"pre\n")
    out = run("""
print call ""
print call/wait {sh -c "exit 3"}
print call/wait "no-such-prog"
s: copy "x" call/output {printf "a\\r\\nb"} s print mold s
e: copy "" call/error {sh -c "echo oops >&2"} e print mold e
print call/output "echo hi" %log
print call/output "echo hi" %no-dir/log
b: #{FF} call/output {printf "ab"} b print mold b
s: copy "" call/input/output "cat" "aé" s print mold s
print call/wait/shell "kill -9 $$"
s: copy "" call/output {printf "\\377ok"} s print mold s
s: copy "" call/output {"/bin/echo" "two words" x} s print mold s
s: copy "" call/input/output "cat" %log s print mold s
print call/error {sh -c "echo warn >&2"} %errors
print call/input "cat" %no-such-input
""", d)
    expect(out, ["0", "3", "127", '"xa^/b"', '"oops^/"', "0", "-1", "#{6162FF}", '"aé"', "137",
                 '"\ufffdok"', '"two words x^/"',
                 '"pre^/hi^/"', "0", "-1"], "call")
    expect(get(d, "log"), b"pre\nhi\n", "a file target is appended to")
    expect(get(d, "errors"), b"warn\n", "error output into a file")


@check
def children_start_clean_and_after_our_output(d):
    p = subprocess.run([vyx], input=b'prin "a" call/console "echo b" print "c"\n'
                       b's: copy "" call/output "grep SigIgn /proc/self/status" s prin s\n',
                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, cwd=d, timeout=60)
    out = p.stdout.decode()
    if "ab\nc" not in out:
        raise AssertionError("our output comes before the child's: " + repr(out))
    ignored = [line for line in out.split("\n") if line.startswith("SigIgn")]
    # The C library's own signals above 31 are its business.
    expect([int(line.split()[1], 16) & 0x7FFFFFFF for line in ignored], [0], "the child ignores no signal")


@check
def big_pipes_and_readers_that_stop(d):
    n = MB * 1024 * 1024
    put(d, "child.py", b"import sys\nsys.stderr.write('e' * %d)\nsys.stderr.flush()\n"
        b"sys.stdout.write(sys.stdin.read())\n" % n)
    out = run(f"""
big: append/dup copy "" "0123456789abcdef" {n // 16}
out: copy "" err: copy ""
print call/input/output/error "{sys.executable} child.py" big out err
print equal? out big
print length? err
first-byte: copy ""
print call/input/output "head -c 1" big first-byte
print mold first-byte
""", d)
    expect(out, ["0", "true", str(n), "0", '"0"'], "pipes served together")


@check
def no_zombies_and_background(d):
    out = run("""
pid: call "true"
print pid > 0
wait 0.5
s: copy "" call/shell/output "ps -o stat= --ppid $PPID" s
print mold s
""", d)
    expect(out[0], "true", "a background call answers the process id")
    states = out[1].strip('"').replace("^/", "\n").split()
    if any(s.startswith("Z") for s in states):
        raise AssertionError("a zombie child is left: " + out[1])


@check
def environment(d):
    env = dict(os.environ, VYX_PRESET="préset", VYX_EMPTY="")
    out = run("""
set-env "VYX_T" "é"
s: copy "" call/shell/output {printf %s "$VYX_T"} s print mold s
print mold get-env "VYX_T"
print mold set-env "VYX_T" none
print mold get-env "VYX_T"
print mold get-env 'VYX_PRESET
print mold get-env "VYX_EMPTY"
print mold set-env "" "x"
print mold set-env "A=B" "x"
print mold get-env "A"
m: list-env
print length? m
foreach [k v] to block! m [print k print v]
""", d, env=env)
    expect(out[:9], ['"é"', '"é"', "none", "none", '"préset"', "none", '"x"', '"x"', "none"], "env natives")
    pairs = out[10:]
    got = dict(zip(pairs[0::2], pairs[1::2]))
    want = {k: v for k, v in env.items() if "\n" not in v}
    expect(int(out[9]), len(env), "list-env size")
    expect({k: got.get(k) for k in want}, want, "list-env equals the environment")


@check
def browse_and_os_info(d):
    os.mkdir(os.path.join(d, "bin"))
    opener = os.path.join(d, "bin", "xdg-open")
    with open(opener, "w") as f:
        f.write(f'#!/bin/sh\nprintf "%s" "$1" > "{d}/opened.$$"\n')
    os.chmod(opener, 0o755)
    env = dict(os.environ, PATH=os.path.join(d, "bin") + ":" + os.environ["PATH"])
    out = run("""
browse http://example.com/a%20b
browse %"my file"
o: os-info
print type? o/arch
print o/arch
print o/version
print o/name
print o/build
""", d, env=env)
    # The two openers run detached, each writing a file of its own (two
    # writers of one file could interleave their bytes).
    seen = []
    for _ in range(200):
        names = [n for n in os.listdir(d) if n.startswith("opened.")]
        if len(names) >= 2:
            time.sleep(0.05)  # let both finish writing
            seen = [get(d, n).decode() for n in names]
            break
        time.sleep(0.05)
    expect(sorted(seen), ["http://example.com/a b", "my file"], "what browse handed over")
    machine = {"x86_64": "x86-64", "aarch64": "ARM64"}.get(platform.machine(), None)
    release = ".".join(platform.release().split("-")[0].split(".")[:3])
    name = "Linux"
    try:
        with open("/etc/os-release") as f:
            for line in f:
                if line.startswith("PRETTY_NAME="):
                    name += " " + line.split("=", 1)[1].strip().strip('"')
    except OSError:
        pass
    expect(out[0], "word", "arch is a word")
    if machine:
        expect(out[1], machine, "arch")
    expect(out[2:], [release, name, "0"], "version, name, build")


@check
def clock_and_file_times(d):
    import datetime
    put(d, "f", b"x")
    os.utime(os.path.join(d, "f"), ns=(0, 1_700_000_000_123_456_789))
    env = dict(os.environ, TZ="Asia/Kolkata")
    out = run("""
print query %f
print now/zone
print now/utc/zone
print type? now/time/precise
print now/date
print now/weekday
print now/yearday
print now/year
print form try [now/year/month]
""", d, env=env)
    expect(out[0], "14-Nov-2023/22:13:20.123", "the modification time in UTC to the millisecond")
    expect(out[1:4], ["5:30:00", "0:00:00", "time"], "zones")
    today = datetime.datetime.now(datetime.timezone(datetime.timedelta(hours=5, minutes=30)))
    months = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()
    expect(out[4:8], [f"{today.day}-{months[today.month - 1]}-{today.year}", str(today.isoweekday()),
                      str(today.timetuple().tm_yday), str(today.year)], "date fields in the zone")
    expect_errors(out[8:], ["Script Error: incompatible or invalid refinements"])


@check
def percent_encoding_against_urllib(d):
    import urllib.parse
    rng = random.Random(11)
    alphabet = "aZ09 -._~!#$&'()*+,/:;=?@[]%^\"<>{}|\\`éü€\u4e2d\U0001f600\t"
    texts = ["".join(rng.choice(alphabet) for _ in range(rng.randrange(12))) for _ in range(200)]
    with open(os.path.join(d, "texts"), "w", encoding="utf-8") as f:
        f.write("\n".join(texts) + "\n")
    out = run("""
foreach t read/lines %texts [
    print mold to url! t
    print enhex t
    print enhex to file! t
    print dehex enhex t
]
""", d)
    want = []
    for t in texts:
        url_set = "!#$&'()*+,/:=?@"
        want += [urllib.parse.quote(t, safe=url_set), urllib.parse.quote(t, safe=""),
                 urllib.parse.quote(t, safe=url_set), t]
    expect(out, want, "mold of a url!, enhex and dehex against urllib.parse")


@check
def local_paths(d):
    out = run("""
print to-local-file %a/b
print to-local-file/full %a/b
print to-local-file/full %/x
""", d)
    expect(out, ["a/b", os.path.realpath(d) + "/a/b", "/x"], "to-local-file")


def main():
    return check.run_all("vyx-files-")


if __name__ == "__main__":
    sys.exit(main())
