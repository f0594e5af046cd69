#!/usr/bin/env python3
"""A yardstick for bench/external_links.sh: the plainest client that keeps
the politeness rules tangler-site keeps, to show what time the server, the
site and this machine allow such a client.

    polite_client.py SITE [--max-concurrency 64] [--host-concurrency 4]

Reads every .html file under SITE, takes each distinct http:// URL whose
host is a numeric loopback address (the fragment removed) in the order of
first mention, and asks it with HEAD over keep-alive connections: at most
--host-concurrency in flight to one host, --max-concurrency in all, 302s
followed (up to 10), a 429 with Retry-After: S holding every request to
that host until S seconds after it came and then asking again. Prints
"URL STATUS" for every URL whose final status is not 2xx, and exits 1 when
there is one. Every wait is bounded: 10 s for an answer, 20 turns a URL.
"""

import argparse
import asyncio
import os
import re
import sys
import time

HREF = re.compile(rb'href="(http://127\.[0-9.]+:[0-9]+[^"#]*)')


class Host:
    def __init__(self, address, port):
        self.address, self.port = address, port
        self.queue = []
        self.resume_at = 0.0


async def ask(conn, host, path):
    """HEAD on a kept connection; returns (status, headers, conn)."""
    for attempt in range(2):
        if conn is None:
            conn = await asyncio.wait_for(asyncio.open_connection(host.address, host.port), 10)
        reader, writer = conn
        try:
            writer.write(("HEAD %s HTTP/1.1\r\nHost: %s:%d\r\n\r\n" % (
                path, host.address, host.port)).encode())
            head = await asyncio.wait_for(reader.readuntil(b"\r\n\r\n"), 10)
        except (OSError, asyncio.IncompleteReadError):
            writer.close()
            conn = None
            continue
        lines = head.decode("latin-1").split("\r\n")
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        if headers.get("connection", "").lower() == "close":
            writer.close()
            conn = None
        return int(lines[0].split(" ")[1]), headers, conn
    raise OSError("no answer from %s:%d" % (host.address, host.port))


async def worker(host, gate, results):
    conn = None
    while host.queue:
        url, path = host.queue.pop(0)
        for _ in range(20):
            wait = host.resume_at - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
                continue
            async with gate:
                # A 429 may have come while this waited for the gate.
                if host.resume_at > time.monotonic():
                    continue
                status, headers, conn = await ask(conn, host, path)
            if status == 429:
                retry = float(headers.get("retry-after", "1") or "1")
                host.resume_at = max(host.resume_at, time.monotonic() + retry)
                continue
            if status in (301, 302, 303, 307, 308) and "location" in headers:
                target = headers["location"]
                path = "/" + target.split("/", 3)[3] if target.startswith("http") else target
                continue
            results[url] = status
            break
    if conn:
        conn[1].close()


async def main_async(args):
    hosts = {}
    for directory, _, files in sorted(os.walk(args.site)):
        for name in sorted(files):
            if not name.endswith(".html"):
                continue
            with open(os.path.join(directory, name), "rb") as f:
                for match in HREF.finditer(f.read()):
                    url = match.group(1).decode()
                    authority, _, rest = url[len("http://"):].partition("/")
                    address, _, port = authority.partition(":")
                    host = hosts.setdefault(authority, Host(address, int(port)))
                    host.queue.append((url, "/" + rest))
    for host in hosts.values():
        seen = set()
        host.queue = [item for item in host.queue if not (item[0] in seen or seen.add(item[0]))]
    gate = asyncio.Semaphore(args.max_concurrency)
    results = {}
    await asyncio.gather(*(worker(host, gate, results) for host in hosts.values()
                           for _ in range(args.host_concurrency)))
    bad = sorted(url for url, status in results.items() if not 200 <= status < 300)
    for url in bad:
        print(url, results[url])
    return 1 if bad else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("site")
    parser.add_argument("--max-concurrency", type=int, default=64)
    parser.add_argument("--host-concurrency", type=int, default=4)
    sys.exit(asyncio.run(main_async(parser.parse_args())))


if __name__ == "__main__":
    main()
