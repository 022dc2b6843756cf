#!/usr/bin/env python3
"""HTTP and HTTPS requests through the vyx executable against a local
python3 http.server that records each request's method, headers and body and
serves canned replies. Proxy variables are taken out of the environment.

usage: run_http.py VYX
"""
import http.server
import os
import socket
import ssl
import subprocess
import sys
import tempfile
import threading

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from harness import expect, run_script  # noqa: E402

vyx = os.path.abspath(sys.argv[1])
env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
failures = []
checks = []
seen = []  # (method, path, [(name, value)...], body) of each request


def check(fn):
    checks.append(fn)
    return fn


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, status, body, headers=(), raw=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        for line in raw:
            self._headers_buffer.append(line)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def serve(self):
        n = int(self.headers.get("Content-Length", 0))
        body = self.rfile.read(n) if n else b""
        seen.append((self.command, self.path, list(self.headers.items()), body))
        if self.path == "/missing":
            self.reply(404, b"not here")
        elif self.path == "/moved":
            self.reply(302, b"moved away", [("Location", "/crlf")])
        elif self.path == "/cookies":
            self.reply(200, b"ok", [("Set-Cookie", "a=1"), ("Set-Cookie", "b=2")])
        elif self.path == "/bare":
            self.reply(200, b"", raw=[b"X:1\r\n", b"Y:\r\n"])
        elif self.path == "/big":
            self.reply(200, bytes(range(256)) * 4096)
        else:
            self.reply(200, b"a\r\nb")

    do_GET = do_POST = do_PUT = do_PATCH = do_HEAD = do_DELETE = serve


def start(context=None):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    if context:
        server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def run(script, timeout=120):
    with tempfile.TemporaryDirectory(prefix="vyx-http-") as d:
        return run_script(vyx, script, d, env, timeout)


def errors(lines):
    return [line[4:] for line in lines if line.startswith("*** ") and not line.startswith(("*** Where", "*** Near"))]


def names(headers):
    return [n for n, _ in headers]


DEFAULTS = [("Content-Type", "application/x-www-form-urlencoded"), ("Accept-Charset", "UTF-8"),
            ("User-Agent", "Mozilla/5.0 (Windows NT 6.1; Win64; x64)")]


@check
def reading_text_bytes_and_lines(base):
    out = run(f"""
u: {base}/crlf
print mold read u
print mold read/binary u
print mold read/lines u
print mold read {base}/moved
print mold read/binary {base}/moved
""")
    expect(out, ['"a^/b"', "#{610D0A62}", '["a" "b"]', '"a^/b"', "#{610D0A62}"], "bodies")
    method, path, headers, body = seen[0]
    expect((method, path, body), ("GET", "/crlf", b""), "a read is a GET")
    expect(headers, [("Host", base[7:])] + DEFAULTS, "a read's headers")
    expect([(m, p) for m, p, _, _ in seen[-4:]], [("GET", "/moved"), ("GET", "/crlf")] * 2, "the redirect followed")


@check
def info_status_and_headers(base):
    out = run(f"""
r: read/info {base}/crlf
print [length? r r/1 type? r/2 mold r/3 mold select r/2 'Content-Length]
r: read/info {base}/missing
print [r/1 mold r/3]
r: read/info {base}/cookies
print mold select r/2 'Set-Cookie
r: read/info {base}/bare
print mold reduce [select r/2 'X select r/2 'Y r/3]
r: read/info/binary {base}/crlf
print mold r/3
""")
    expect(out, ['3 200 map "a^/b" "4"', '404 "not here"', '["a=1" "b=2"]', '["1" "" ""]', "#{610D0A62}"],
           "info")


@check
def writing_methods_headers_and_bodies(base):
    out = run(f"""
u: {base}/crlf
print mold write u "s"
write u [put [X-A "1"] "d"]
write u [patch [] "x"]
write u [get [] "x"]
write u "é"
write u #{{00FF}}
write u [delete]
write u []
write u [head [Content-Type "text/plain" Accept 1]]
print mold write/binary u [post]
print mold write/lines u [Post [] #{{41}}]
""")
    expect(out, ['"a^/b"', "#{610D0A62}", '["a" "b"]'], "write results")
    host = ("Host", base[7:])
    want = [
        ("POST", [host] + DEFAULTS + [("Content-Length", "1")], b"s"),
        ("PUT", [host, ("X-A", "1"), ("Content-Length", "1")], b"d"),
        ("PATCH", [host, ("Content-Length", "1")], b"x"),
        ("GET", [host], b""),
        ("POST", [host] + DEFAULTS + [("Content-Length", "2")], "é".encode()),
        ("POST", [host] + DEFAULTS + [("Content-Length", "2")], b"\x00\xff"),
        ("DELETE", [host] + DEFAULTS, b""),
        ("GET", [host] + DEFAULTS, b""),
        ("HEAD", [host, ("Content-Type", "text/plain"), ("Accept", "1")], b""),
        ("POST", [host] + DEFAULTS + [("Content-Length", "0")], b""),
        ("POST", [host, ("Content-Length", "1")], b"A"),
    ]
    expect([(m, h, b) for m, _, h, b in seen], want, "requests sent")


@check
def failures_and_refused_arguments(base):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    out = run(f"""
print form try [read http://127.0.0.1:{port}/]
print form try [read/part {base}/crlf 1]
print form try [read/seek {base}/crlf 1]
print form try [write/seek {base}/crlf "x" 1]
print form try [write {base}/crlf 42]
print form try [write {base}/crlf [1]]
print form try [write {base}/crlf [put "x"]]
print form try [write {base}/crlf [put [] [1]]]
print form try [write {base}/crlf [put ["X:Y" "1"]]]
print form try [write {base}/crlf [put [X "1^/Evil: 2"]]]
""")
    expect(errors(out), [
        f"Access Error: cannot connect: http://127.0.0.1:{port}/ reason: timeout",
        "Internal Error: reserved for future use (or not yet implemented)",
        "Internal Error: reserved for future use (or not yet implemented)",
        "Internal Error: reserved for future use (or not yet implemented)",
        "Script Error: invalid argument: 42",
        "Script Error: invalid argument: 1",
        'Script Error: invalid argument: "x"',
        "Script Error: invalid argument: [1]",
        'Script Error: invalid argument: "X:Y"',
        'Script Error: invalid argument: "1^/Evil: 2"',
    ], "errors")
    expect(seen, [], "nothing sent for a refused request")


@check
def a_large_body(base):
    out = run(f"""
b: read/binary {base}/big
print [length? b b/1 b/256 b/257 b/(length? b)]
""")
    expect(out, [f"{256 * 4096} 0 255 0 255"], "a 1 MB body")


def https_self_signed():
    with tempfile.TemporaryDirectory(prefix="vyx-tls-") as d:
        key, cert = os.path.join(d, "key.pem"), os.path.join(d, "cert.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                        "-days", "1", "-subj", "/CN=127.0.0.1"], check=True, capture_output=True)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        server = start(context)
        try:
            url = f"https://127.0.0.1:{server.server_address[1]}/crlf"
            out = run(f"print form try [read {url}]")
            expect(errors(out), [f"Access Error: cannot connect: {url} reason: timeout"], "an unverified certificate")
        finally:
            server.shutdown()


def main():
    server = start()
    base = f"http://127.0.0.1:{server.server_address[1]}"
    for fn in checks:
        seen.clear()
        try:
            fn(base)
        except (AssertionError, subprocess.TimeoutExpired) as e:
            failures.append(f"{fn.__name__}: {e}")
    try:
        https_self_signed()
    except (AssertionError, subprocess.TimeoutExpired, subprocess.CalledProcessError) as e:
        failures.append(f"https_self_signed: {e}")
    server.shutdown()
    for f in failures:
        print("FAIL", f)
    print(f"{len(checks) + 1 - len(failures)} of {len(checks) + 1} checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
