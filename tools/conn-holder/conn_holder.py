#!/usr/bin/env python3
"""Holds many idle kept-alive HTTP connections open to a server on loopback,
for load figures: opens COUNT connections from several 127.0.x.y source
addresses, then sends one request on each, reads its answer and keeps the
connection open until SIGTERM or SIGINT.

All connections are made first and asked only then, so that their answers -
and with them the server's keep-alive clocks - start within a short time.
It prints one line when every connection has answered (or the time to open
them is up), "holding N of COUNT connections (...)", and one line
when it is ended, "ended: M of N still open", so that a caller can tell
whether the connections stayed open during a measurement.

Usage: conn_holder.py HOST PORT [--count N] [--sources K] [--path P]
                      [--open-timeout S] [--parallel P]
"""
import argparse
import errno
import ipaddress
import resource
import select
import signal
import socket
import sys
import time


class Connection:
    def __init__(self, sock):
        self.sock = sock
        self.connected = False
        self.answered = False
        self.closed = False
        self.received = b""


def answer_complete(data):
    """True when data holds a whole answer head and its Content-Length body;
    None when it is not a 2xx answer."""
    end = data.find(b"\r\n\r\n")
    if end < 0:
        return False
    head = data[:end].split(b"\r\n")
    status = head[0].split(b" ")
    if len(status) < 2 or not status[1].startswith(b"2"):
        return None
    length = 0
    for line in head[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip() or 0)
    return len(data) >= end + 4 + length


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("host")
    parser.add_argument("port", type=int)
    parser.add_argument("--count", type=int, default=10000)
    parser.add_argument("--sources", type=int, default=200, help="source addresses from 127.0.1.1 on")
    parser.add_argument("--path", default="/health")
    parser.add_argument("--open-timeout", type=float, default=60)
    parser.add_argument("--parallel", type=int, default=512, help="connections being opened at once")
    args = parser.parse_args()
    if not 1 <= args.sources <= 65000 or args.count < 1 or args.parallel < 1:
        parser.error("--sources must be 1..65000, --count and --parallel at least 1")
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    need = args.count + 64
    if soft < need:
        if hard != resource.RLIM_INFINITY and hard < need:
            sys.exit(f"conn_holder: needs {need} open files, the limit is {hard}")
        resource.setrlimit(resource.RLIMIT_NOFILE, (need, hard))

    stop = False

    def on_signal(*_):
        nonlocal stop
        stop = True

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)

    request = (f"GET {args.path} HTTP/1.1\r\nHost: {args.host}:{args.port}\r\n"
               "Connection: keep-alive\r\n\r\n").encode()
    first_source = int(ipaddress.IPv4Address("127.0.1.1"))
    poller = select.epoll()
    connections = {}
    started = time.monotonic()
    deadline = started + args.open_timeout
    next_index = 0
    connecting = 0

    def close(conn):
        if not conn.closed:
            conn.closed = True
            poller.unregister(conn.sock.fileno())
            conn.sock.close()

    # Connect everything, a bounded number at a time (the listen queue is finite).
    while (next_index < args.count or connecting) and time.monotonic() < deadline and not stop:
        while next_index < args.count and connecting < args.parallel:
            sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            sock.setblocking(False)
            # Each source address is a client of its own for the server's per-client cap.
            sock.bind((str(ipaddress.IPv4Address(first_source + next_index % args.sources)), 0))
            next_index += 1
            code = sock.connect_ex((args.host, args.port))
            if code not in (0, errno.EINPROGRESS):
                sock.close()
                continue
            conn = Connection(sock)
            connections[sock.fileno()] = conn
            poller.register(sock.fileno(), select.EPOLLOUT)
            connecting += 1
        for fd, _ in poller.poll(0.1):
            conn = connections[fd]
            if conn.closed:
                continue
            if conn.connected:
                # Nothing was asked yet: this is the server closing it.
                close(conn)
                continue
            connecting -= 1
            if conn.sock.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR) != 0:
                close(conn)
                continue
            conn.connected = True
            poller.modify(fd, select.EPOLLIN)

    # Now ask every one of them and read the answers.
    asked = time.monotonic()
    for conn in connections.values():
        if conn.connected and not conn.closed:
            try:
                conn.sock.send(request)
            except OSError:
                close(conn)
    answered = 0
    waiting = sum(1 for c in connections.values() if c.connected and not c.closed)
    while answered < waiting and time.monotonic() < deadline and not stop:
        for fd, _ in poller.poll(0.1):
            conn = connections[fd]
            try:
                data = conn.sock.recv(65536)
            except OSError:
                data = b""
            if not data:
                close(conn)
                waiting -= 1
                continue
            if conn.answered:
                continue
            conn.received += data
            complete = answer_complete(conn.received)
            if complete is None:
                close(conn)
                waiting -= 1
            elif complete:
                conn.answered = True
                conn.received = b""
                answered += 1
    held = [c for c in connections.values() if c.answered and not c.closed]
    for conn in connections.values():
        if not conn.answered:
            close(conn)
    now = time.monotonic()
    print(f"holding {len(held)} of {args.count} connections "
          f"(connected in {asked - started:.1f} s, answered in {now - asked:.1f} s)", flush=True)

    # Idle from here on: the next event on a connection can only be its close.
    while not stop:
        for fd, _ in poller.poll(0.5):
            conn = connections[fd]
            try:
                if conn.sock.recv(65536):
                    continue
            except OSError:
                pass
            close(conn)
    still = sum(1 for c in held if not c.closed)
    print(f"ended: {still} of {len(held)} still open", flush=True)


if __name__ == "__main__":
    main()
