#!/usr/bin/env python3
"""Known answers on 127.0.0.1 for the Windows downloader's tests.

  start PORTFILE PIDFILE  serve in the background; the port goes to PORTFILE
  stop PIDFILE            end the server started with that PIDFILE

Paths: /text (a short text), /utf8 (UTF-8 text), /bytes/N (N known bytes
with their length), /nolength (bytes without a length, closed at the end),
/missing (404 with a body), /slow (announces 1 MB, then trickles and stalls),
/echo (the method, the Content-Type and the body it received),
/oversize (announces 10 bytes and sends 20), /host (the Host header it got).
"""
import http.server
import os
import signal
import socketserver
import sys
import time

LIFETIME_SECONDS = 900


def known_bytes(n):
    return bytes((i * 7 + 3) % 251 for i in range(n))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def send_body(self, status, body, content_type="text/plain", length=True):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        if length:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        path = self.path
        if path == "/text":
            self.send_body(200, b"hello from the loopback server")
        elif path == "/utf8":
            self.send_body(200, "Gr\u00fc\u00dfe \u2013 \u65e5\u672c".encode("utf-8"))
        elif path.startswith("/bytes/"):
            self.send_body(200, known_bytes(int(path[len("/bytes/"):])), "application/octet-stream")
        elif path == "/nolength":
            self.send_body(200, known_bytes(5000), "application/octet-stream", length=False)
        elif path == "/missing":
            self.send_body(404, b"<html>no such page</html>", "text/html")
        elif path == "/oversize":
            self.send_response(200)
            self.send_header("Content-Length", "10")
            self.end_headers()
            self.wfile.write(b"x" * 20)
        elif path == "/host":
            self.send_body(200, (self.headers.get("Host") or "").encode("ascii"))
        elif path == "/slow":
            self.send_response(200)
            self.send_header("Content-Length", str(1 << 20))
            self.end_headers()
            try:
                for _ in range(20):
                    self.wfile.write(b"s" * 1024)
                    self.wfile.flush()
                    time.sleep(0.25)
            except OSError:
                pass
        else:
            self.send_body(404, b"unknown")

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        answer = b"POST|" + (self.headers.get("Content-Type") or "").encode("latin-1") + b"|" + body
        self.send_body(200, answer)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def start(port_file, pid_file):
    server = Server(("127.0.0.1", 0), Handler)
    if os.fork() != 0:
        return
    os.setsid()
    if os.fork() != 0:
        os._exit(0)
    with open(pid_file, "w") as f:
        f.write(str(os.getpid()))
    with open(port_file + ".part", "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(port_file + ".part", port_file)
    # Never outlives a run that forgot to stop it.
    signal.alarm(LIFETIME_SECONDS)
    devnull = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(devnull, fd)
    server.serve_forever()


def stop(pid_file):
    try:
        with open(pid_file) as f:
            os.kill(int(f.read().strip()), signal.SIGTERM)
    except (OSError, ValueError):
        pass
    for name in (pid_file,):
        try:
            os.remove(name)
        except OSError:
            pass


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "start":
        for name in (sys.argv[2],):
            try:
                os.remove(name)
            except OSError:
                pass
        start(sys.argv[2], sys.argv[3])
        deadline = time.time() + 10
        while not os.path.exists(sys.argv[2]) and time.time() < deadline:
            time.sleep(0.05)
        sys.exit(0 if os.path.exists(sys.argv[2]) else 1)
    elif len(sys.argv) == 3 and sys.argv[1] == "stop":
        stop(sys.argv[2])
    else:
        sys.exit(__doc__)
