#!/usr/bin/env python3
"""Holds many idle kept-alive HTTP connections open to a server on loopback,
for load figures: opens COUNT connections from several 127.0.x.y source
addresses, sends one request on each, reads its answer and keeps the
connection open until SIGTERM or SIGINT.

It prints one line when every connection has answered (or the time to open
them is up), "holding N of COUNT connections", and one line when it is ended,
"ended: M of N still open", so that a caller can tell whether the
connections stayed open during a measurement.

Usage: conn_holder.py HOST PORT [--count N] [--sources K] [--path P]
                      [--open-timeout S] [--parallel P]
"""
import argparse
import asyncio
import ipaddress
import resource
import signal
import sys


async def read_answer(reader):
    """Reads one HTTP/1.1 answer with a Content-Length body; False when the
    server closed the connection or sent no such answer."""
    head = await reader.readuntil(b"\r\n\r\n")
    status = head.split(b"\r\n", 1)[0].split(b" ")
    if len(status) < 2 or not status[1].startswith(b"2"):
        return False
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip())
    if length:
        await reader.readexactly(length)
    return True


class Holder:
    def __init__(self, args):
        self.args = args
        self.open = 0
        self.answered = 0
        self.writers = []
        self.gate = asyncio.Semaphore(args.parallel)

    def source(self, index):
        # 127.0.1.1, 127.0.1.2, ...: each source address its own client for
        # the server's per-client cap, and its own range of local ports.
        first = int(ipaddress.IPv4Address("127.0.1.1"))
        return str(ipaddress.IPv4Address(first + index % self.args.sources))

    async def hold(self, index, request):
        writer = None
        try:
            async with self.gate:
                reader, writer = await asyncio.open_connection(
                    self.args.host, self.args.port, local_addr=(self.source(index), 0))
                self.writers.append(writer)
                writer.write(request)
                await writer.drain()
                if not await read_answer(reader):
                    raise ConnectionError("no 2xx answer")
                self.answered += 1
                self.open += 1
        except (OSError, asyncio.IncompleteReadError, asyncio.LimitOverrunError, ValueError):
            if writer is not None:
                writer.transport.abort()
            return
        # Idle from here on: the next bytes can only be the server's close.
        try:
            await reader.read(1)
        except OSError:
            pass
        self.open -= 1

    async def run(self):
        args = self.args
        request = (f"GET {args.path} HTTP/1.1\r\nHost: {args.host}:{args.port}\r\n"
                   "Connection: keep-alive\r\n\r\n").encode()
        stop = asyncio.Event()
        loop = asyncio.get_running_loop()
        for sig in (signal.SIGTERM, signal.SIGINT):
            loop.add_signal_handler(sig, stop.set)
        tasks = [asyncio.create_task(self.hold(i, request)) for i in range(args.count)]
        ready = loop.time() + args.open_timeout
        while self.answered < args.count and loop.time() < ready and not stop.is_set():
            await asyncio.sleep(0.05)
        held = self.open
        print(f"holding {held} of {args.count} connections", flush=True)
        await stop.wait()
        print(f"ended: {self.open} of {held} still open", flush=True)
        for task in tasks:
            task.cancel()
        for writer in self.writers:
            writer.transport.abort()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("host")
    parser.add_argument("port", type=int)
    parser.add_argument("--count", type=int, default=10000)
    parser.add_argument("--sources", type=int, default=200, help="source addresses from 127.0.1.1 on")
    parser.add_argument("--path", default="/health")
    parser.add_argument("--open-timeout", type=float, default=60)
    parser.add_argument("--parallel", type=int, default=256, help="connections being opened at once")
    args = parser.parse_args()
    if not 1 <= args.sources <= 65000 or args.count < 1:
        parser.error("--sources must be 1..65000 and --count at least 1")
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    need = args.count + 64
    if soft < need:
        if hard != resource.RLIM_INFINITY and hard < need:
            sys.exit(f"conn_holder: needs {need} open files, the limit is {hard}")
        resource.setrlimit(resource.RLIMIT_NOFILE, (need, hard))
    asyncio.run(Holder(args).run())


if __name__ == "__main__":
    main()
