#!/usr/bin/env python3
"""Times HTTP requests of the vyx executable against its peers, on a local
python3 server (threaded, HTTP/1.1): 1,000 sequential GETs of a 1 KB body
(requests per second) against python3's urllib.request and a loop of curl
processes started by one shell, and one 100 MB body against curl -o
/dev/null. Also times a clipboard read with no display and no tool (it must
answer at once). Proxy variables are taken out of the environment.

Each vyx figure is the best of three runs of a script, less the best run of
an empty script (the start-up).

usage: net.py VYX
"""
import http.server
import os
import subprocess
import sys
import tempfile
import threading
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from timing import best_of  # noqa: E402

MB = 1_000_000
N = 1000
SMALL = b"x" * 1024
BIG = b"y" * (100 * MB)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        body = BIG if self.path == "/big" else SMALL
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def main():
    vyx = os.path.abspath(sys.argv[1])
    env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower() and k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    os.environ.clear()
    os.environ.update(env)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = f"http://127.0.0.1:{server.server_address[1]}"
    folder = tempfile.mkdtemp(prefix="vyx-bench-http-")

    def vyx_time(body, rounds=3):
        path = os.path.join(folder, "bench.vyx")
        with open(path, "w") as f:
            f.write("Vyx []\n" + body + "\n")
        return best_of(lambda: subprocess.run([vyx, path], check=True, env=env, stdout=subprocess.DEVNULL), rounds)

    start_up = vyx_time("")

    def py_gets():
        for _ in range(N):
            with urllib.request.urlopen(base + "/small") as r:
                r.read()

    gets = vyx_time(f"loop {N} [read {base}/small]") - start_up
    py = best_of(py_gets)
    curl_loop = best_of(lambda: subprocess.run(f"for i in $(seq {N}); do curl -s -o /dev/null {base}/small; done",
                                               shell=True, check=True, env=env))
    big = vyx_time(f"read/binary {base}/big") - start_up
    curl_big = best_of(lambda: subprocess.run(["curl", "-s", "-o", "/dev/null", base + "/big"], check=True, env=env))
    clip = (vyx_time("loop 100000 [read-clipboard]") - start_up) / 100000
    server.shutdown()

    print(f"start-up of vyx (subtracted): {start_up * 1000:.1f} ms")
    print(f"{N} GETs of 1 KB: vyx {N / gets:8.0f}/s   python3 urllib {N / py:8.0f}/s   curl loop {N / curl_loop:8.0f}/s")
    print(f"100 MB body:      vyx {big * 1000:8.1f} ms   curl -o /dev/null {curl_big * 1000:8.1f} ms")
    print(f"read-clipboard with no display: {clip * 1e6:.1f} us a call")


if __name__ == "__main__":
    main()
