#!/usr/bin/env python3
"""The web that bench/external_links.sh points the link checkers at.

One HTTP/1.1 server (keep-alive, pipelining answered in order) on each
loopback address of a plan written by generate_external_site.py, all on the
plan's port. Every answer is held back --delay milliseconds (5 by default)
before it is written, as a far server would.

    external_server.py --plan PLAN.json --stats STATS.json --ready FILE

What a path answers comes from the plan: "ok" 200, "missing" 404,
"redirect" 302 to /moved/PATH on the same host (which answers 200), "limit"
429 with Retry-After: 1 to the first request, then 200. Anything else
(robots.txt, a favicon) is 404 and counted apart as "other".

It stops on SIGTERM or SIGINT, or after --lifetime seconds, and then writes STATS.json: every request's count
per "HOST:PORT/PATH" and method, the most requests in flight per host and in
all, the connections accepted, the times of the first and last request,
and a log of every request (when, host, method, path, status).
A request is in flight from the moment its head has been read to the moment
its answer is handed to the socket.
"""

import argparse
import asyncio
import json
import os
import signal
import socket
import sys
import time

REASONS = {200: "OK", 302: "Found", 404: "Not Found", 429: "Too Many Requests",
           400: "Bad Request"}
OK_BODY = b"<!doctype html><html><head><title>ok</title></head><body><p>ok</p></body></html>"
MISSING_BODY = b"<!doctype html><html><head><title>404</title></head><body><p>gone</p></body></html>"
LIMIT_BODY = b"<!doctype html><html><head><title>429</title></head><body><p>wait</p></body></html>"


class State:
    """Everything the run counts, and the plan; one per process, passed to
    every connection."""

    def __init__(self, plan, port, delay):
        self.port = port
        self.delay = delay
        self.kinds = {}  # (host, path) -> kind
        for host, path, kind in plan:
            self.kinds[(host, path)] = kind
            if kind == "redirect":
                self.kinds[(host, "/moved" + path)] = "target"
        self.counts = {}  # "METHOD host:port/path" -> n
        self.seen = {}  # (host, path) -> requests so far, any method
        self.in_flight = {}
        self.most_in_flight = {}
        self.in_flight_all = 0
        self.most_in_flight_all = 0
        self.connections = 0
        self.first = None
        self.last = None
        self.bad = 0
        self.log = []  # [seconds since the first request, host, method, path, status]


class Connection(asyncio.Protocol):
    def __init__(self, state):
        self.state = state
        self.buffer = b""
        self.busy = False
        self.closed = False
        self.transport = None
        self.host = ""

    def connection_made(self, transport):
        self.transport = transport
        self.host = transport.get_extra_info("sockname")[0]
        self.state.connections += 1

    def connection_lost(self, exc):
        self.closed = True

    def data_received(self, data):
        self.buffer += data
        self.next_request()

    def next_request(self):
        if self.busy or self.closed:
            return
        end = self.buffer.find(b"\r\n\r\n")
        if end < 0:
            if len(self.buffer) > 65536:
                self.transport.close()
            return
        head, self.buffer = self.buffer[:end], self.buffer[end + 4:]
        lines = head.decode("latin-1").split("\r\n")
        parts = lines[0].split(" ")
        state = self.state
        if len(parts) != 3:
            state.bad += 1
            self.transport.write(b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n"
                                 b"Connection: close\r\n\r\n")
            self.transport.close()
            return
        method, target, version = parts
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        length = int(headers.get("content-length", "0") or "0")
        if length > 0:
            # No checker sends a body with HEAD or GET; one that does has it
            # dropped, once it is all here.
            if len(self.buffer) < length:
                self.buffer = head + b"\r\n\r\n" + self.buffer
                return
            self.buffer = self.buffer[length:]
        connection = headers.get("connection", "").lower()
        keep = (version == "HTTP/1.1" and connection != "close") or (
            version == "HTTP/1.0" and connection == "keep-alive")
        if target.startswith("http://") or target.startswith("https://"):
            target = "/" + target.split("/", 3)[3] if target.count("/") >= 3 else "/"
        path = target.split("?", 1)[0]

        now = time.time()
        state.first = now if state.first is None else state.first
        state.last = now
        key = "%s %s:%d%s" % (method, self.host, state.port, path)
        state.counts[key] = state.counts.get(key, 0) + 1
        url = (self.host, path)
        seen = state.seen.get(url, 0) + 1
        state.seen[url] = seen
        flying = state.in_flight.get(self.host, 0) + 1
        state.in_flight[self.host] = flying
        if flying > state.most_in_flight.get(self.host, 0):
            state.most_in_flight[self.host] = flying
        state.in_flight_all += 1
        state.most_in_flight_all = max(state.most_in_flight_all, state.in_flight_all)

        kind = state.kinds.get(url, "other")
        extra = ""
        if kind in ("ok", "target"):
            status, body = 200, OK_BODY
        elif kind == "missing" or kind == "other":
            status, body = 404, MISSING_BODY
        elif kind == "redirect":
            status, body = 302, b""
            extra = "Location: http://%s:%d/moved%s\r\n" % (self.host, state.port, path)
        elif seen == 1:  # limit
            status, body = 429, LIMIT_BODY
            extra = "Retry-After: 1\r\n"
        else:
            status, body = 200, OK_BODY
        state.log.append([round(now - state.first, 4), self.host, method, path, status])
        answer = ("HTTP/1.1 %d %s\r\nContent-Type: text/html; charset=utf-8\r\n"
                  "Content-Length: %d\r\n%s%s\r\n" % (
                      status, REASONS[status], len(body), extra,
                      "" if keep else "Connection: close\r\n")).encode()
        if method != "HEAD":
            answer += body
        self.busy = True
        asyncio.get_running_loop().call_later(state.delay, self.answer, answer, keep)

    def answer(self, answer, keep):
        state = self.state
        state.in_flight[self.host] -= 1
        state.in_flight_all -= 1
        self.busy = False
        if self.closed:
            return
        self.transport.write(answer)
        if keep:
            self.next_request()
        else:
            self.transport.close()


def write_stats(state, path):
    stats = {
        "requests": state.counts,
        "kinds": {"%s %s" % host_path: kind for host_path, kind in state.kinds.items()},
        "most_in_flight": state.most_in_flight,
        "most_in_flight_all": state.most_in_flight_all,
        "connections": state.connections,
        "first": state.first,
        "last": state.last,
        "bad": state.bad,
        "log": state.log,
    }
    temporary = path + ".tmp"
    with open(temporary, "w") as out:
        json.dump(stats, out)
    os.rename(temporary, path)


async def serve(args):
    with open(args.plan) as f:
        plan = json.load(f)
    hosts = plan["hosts"]
    for host in hosts:
        if not host.startswith("127."):
            sys.exit("external_server.py: loopback addresses only, not " + host)
    state = State(plan["urls"], plan["port"], args.delay / 1000.0)
    loop = asyncio.get_running_loop()
    servers = []
    for host in hosts:
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        sock.bind((host, plan["port"]))
        sock.listen(1024)
        servers.append(await loop.create_server(lambda: Connection(state), sock=sock))
    done = asyncio.Event()
    for signum in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(signum, done.set)

    with open(args.ready + ".tmp", "w") as out:
        out.write("%d\n" % os.getpid())
    os.rename(args.ready + ".tmp", args.ready)
    try:
        await asyncio.wait_for(done.wait(), args.lifetime)
    except asyncio.TimeoutError:
        pass
    for server in servers:
        server.close()
    write_stats(state, args.stats)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--plan", required=True)
    parser.add_argument("--stats", required=True)
    parser.add_argument("--ready", required=True)
    parser.add_argument("--delay", type=float, default=5, help="milliseconds before each answer")
    parser.add_argument("--lifetime", type=float, default=1200)
    asyncio.run(serve(parser.parse_args()))


if __name__ == "__main__":
    main()
