#!/usr/bin/env python3
"""A small HTTP server on 127.0.0.1 for the url! read and write tests.

Started by a test script through `call/output`: it prints three numbers,
the port it serves, a port that nothing listens on, and a port that serves
the same over TLS with a self-signed certificate (tests/fixtures/http/),
which clients must refuse. Then it goes on serving in
a child process of its own (so the starting call returns) until GET /quit,
until the process that started it ends, or after ten minutes.

    /echo          any method: the request as Kiv data:
                   method "POST" path "/echo" headers ["Name" "value" ...]
                   body #{...}
    /redirect      302 to /echo (a second hop through /redirect2)
    /status/NNN    status NNN with the body "status NNN"
    /big?size=N    N pseudo-random bytes, their SHA-256 in X-Sha256
    /hang          sends nothing for a minute
    /headers       repeated Set-Cookie, and "X-Tight:value" with no blank
    /latin1        "café" in ISO-8859-1, saying so in its charset
    /lines         "one\\r\\ntwo\\nthree"
    /script.kiv    a script that sets `answer` to 42; /data.kiv some values
    /empty         204, no body
    /quit          stops the server
"""
import hashlib
import http.server
import os
import random
import socket
import ssl
import sys
import threading
import time
import urllib.parse

MAX_REQUEST_BODY = 64 * 1024 * 1024
LIFETIME_SECONDS = 600


def kiv_string(text):
    escaped = text.replace("^", "^^").replace('"', '^"')
    return '"' + escaped + '"'


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send(self, status, body, content_type="text/plain; charset=utf-8", extra=()):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def request_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        if length < 0 or length > MAX_REQUEST_BODY:
            raise ValueError("request body too large")
        return self.rfile.read(length)

    def handle_any(self):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        body = self.request_body()
        path = url.path
        if path == "/echo":
            headers = " ".join(kiv_string(n) + " " + kiv_string(v) for n, v in self.headers.items())
            text = "method {} path {} headers [{}] body #{{{}}}".format(
                kiv_string(self.command), kiv_string(self.path), headers, body.hex().upper())
            self.send(200, text.encode("utf-8"))
        elif path == "/redirect":
            self.send(302, b"moved", extra=[("Location", "/redirect2")])
        elif path == "/redirect2":
            self.send(301, b"moved", extra=[("Location", "/echo?from=redirect")])
        elif path.startswith("/status/"):
            status = int(path[len("/status/"):])
            self.send(status, "status {}".format(status).encode())
        elif path == "/big":
            size = int(query["size"][0])
            data = random.Random(1234).randbytes(size)
            self.send(200, data, "application/octet-stream",
                      [("X-Sha256", hashlib.sha256(data).hexdigest())])
        elif path == "/hang":
            time.sleep(60)
        elif path == "/headers":
            self.send_response(200)
            self.send_header("Set-Cookie", "a=1")
            self.send_header("Set-Cookie", "b=2")
            self.send_header("Content-Length", "2")
            self.end_headers()
            self.wfile.write(b"ok")
        elif path == "/tight":
            self.wfile.write(b"HTTP/1.1 200 OK\r\nX-Tight:value\r\nContent-Length: 2\r\n\r\nok")
        elif path == "/latin1":
            self.send(200, "café".encode("latin-1"), "text/plain; charset=ISO-8859-1")
        elif path == "/lines":
            self.send(200, b"one\r\ntwo\nthree")
        elif path == "/script.kiv":
            self.send(200, b'Kiv [Title: "remote"] answer: 40 + 2')
        elif path == "/data.kiv":
            self.send(200, b"[a 1] b")
        elif path == "/empty":
            self.send_response(204)
            self.end_headers()
        elif path == "/quit":
            self.send(200, b"bye")
            threading.Thread(target=self.server.shutdown, daemon=True).start()
        else:
            self.send(404, b"no such page")

    do_GET = do_POST = do_PUT = do_DELETE = do_PATCH = do_HEAD = handle_any


def closed_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def watch(server, starter):
    deadline = time.monotonic() + LIFETIME_SECONDS
    while time.monotonic() < deadline:
        try:
            os.kill(starter, 0)
        except OSError:
            break
        time.sleep(0.5)
    server.shutdown()


def tls_server():
    fixtures = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures", "http")
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(fixtures, "loopback-cert.pem"), os.path.join(fixtures, "loopback-key.pem"))
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler, bind_and_activate=True)
    server.daemon_threads = True
    server.socket = context.wrap_socket(server.socket, server_side=True)
    return server


def main():
    starter = os.getppid()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    secure = tls_server()
    sys.stdout.write("{} {} {}\n".format(server.server_address[1], closed_port(), secure.server_address[1]))
    sys.stdout.flush()
    if os.fork() != 0:
        os._exit(0)
    # The child serves with its standard streams closed, so the caller's
    # capture of our output ends now.
    os.setsid()
    null = os.open(os.devnull, os.O_RDWR)
    for stream in (0, 1, 2):
        os.dup2(null, stream)
    threading.Thread(target=watch, args=(server, starter), daemon=True).start()
    threading.Thread(target=secure.serve_forever, daemon=True).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
