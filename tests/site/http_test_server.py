#!/usr/bin/env python3
"""A scripted HTTP and HTTPS server for tangler-site's external-link tests.

Listens on loopback addresses only (127.0.0.1 by default, more with
--hosts), each address one HTTP and one HTTPS server on a free port, so
that each is a host of its own. The certificate is made at start with
openssl, for the names given with --names and the addresses.

    http_test_server.py --dir DIR [--hosts 127.0.0.1,127.0.0.2] [--names a.test]

When ready it writes DIR/ready.json: {"hosts": {ADDRESS: {"http": PORT,
"https": PORT}}, "closed_port": PORT (nothing listens there), "cert": PATH}.
It stops when its standard input reaches its end (the test closed it, or
died) or after --lifetime seconds.

Paths are /GROUP/BEHAVIOUR/...; GROUP keeps one test's counts apart:
  ok                      200, a small page
  status/CODE             that status
  chain/N                 302 to chain/N-1; chain/0 is 200
  loop/a, loop/b          302 to each other
  moved/CODE              CODE (301, 308) to ok
  nohead                  405 to HEAD, 200 to GET
  slow/MS                 200 after MS milliseconds
  reset                   the connection reset, no answer
  limit/N/CODE/secs/S     the first N requests CODE with Retry-After: S, then 200
  limit/N/CODE/date/S     the same with an HTTP date S seconds ahead
  limit/N/CODE/none       the same without Retry-After
  flaky/N                 the first N requests 500, then 200
  chunked                 a page sent in chunks, ids c1 and c2
  gzip                    a gzip-encoded page (406 to a client that does not take gzip), id g1
  big/KIB/AT              a page of KIB KiB with id "deep" at about AT KiB
  to/ADDRESS/PORT/REST    302 to http://ADDRESS:PORT/REST
GET /__stats answers JSON: "requests" (count per "METHOD ADDRESS:PORT/PATH"),
"times" (their start times), "most_in_flight" (per "ADDRESS:PORT /GROUP" and
per "/GROUP" over every host), "complete" (per request key of a big page:
whether the whole body was written), "headers" (the last request's
User-Agent and X-Test-* headers per key).
"""

import argparse
import email.utils
import gzip
import http.server
import json
import os
import socket
import ssl
import struct
import subprocess
import sys
import threading
import time

LOCK = threading.Lock()
REQUESTS = {}
TIMES = {}
IN_FLIGHT = {}
MOST_IN_FLIGHT = {}
COMPLETE = {}
HEADERS = {}


def page(body_ids, filler=""):
    parts = ["<!doctype html><html><body>"]
    for anchor in body_ids:
        parts.append('<p id="%s">%s</p>' % (anchor, filler))
    parts.append("</body></html>")
    return "".join(parts).encode()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_HEAD(self):
        self.handle_request("HEAD")

    def do_GET(self):
        self.handle_request("GET")

    # --- bookkeeping

    def host_key(self):
        address, port = self.server.server_address[:2]
        return "%s:%d" % (address, port)

    def enter(self, method):
        key = "%s %s%s" % (method, self.host_key(), self.path)
        group = "/" + self.path.lstrip("/").split("/", 1)[0]
        counters = [self.host_key() + " " + group, group]
        with LOCK:
            REQUESTS[key] = REQUESTS.get(key, 0) + 1
            TIMES.setdefault(key, []).append(time.time())
            HEADERS[key] = {
                name: value
                for name, value in self.headers.items()
                if name.lower() == "user-agent" or name.lower().startswith("x-test")
            }
            for counter in counters:
                IN_FLIGHT[counter] = IN_FLIGHT.get(counter, 0) + 1
                MOST_IN_FLIGHT[counter] = max(MOST_IN_FLIGHT.get(counter, 0), IN_FLIGHT[counter])
        self.counters = counters
        return key

    def leave(self):
        # Before the answer goes out: the client may start its next request
        # as soon as it has the answer, before this thread runs on, and the
        # counts must never see two requests where the client had one.
        counters, self.counters = getattr(self, "counters", []), []
        with LOCK:
            for counter in counters:
                IN_FLIGHT[counter] -= 1

    # --- answers

    def answer(self, method, status, body=b"", headers=()):
        self.leave()
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        if not any(name.lower() == "content-type" for name, _ in headers):
            self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if method == "GET":
            self.wfile.write(body)

    def redirect(self, method, status, location):
        self.answer(method, status, b"", [("Location", location)])

    def reset(self):
        self.leave()
        self.close_connection = True
        raw = self.connection
        raw.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        raw.close()

    def handle_request(self, method):
        if self.path == "/__stats":
            with LOCK:
                body = json.dumps(
                    {
                        "requests": REQUESTS,
                        "times": TIMES,
                        "most_in_flight": MOST_IN_FLIGHT,
                        "complete": COMPLETE,
                        "headers": HEADERS,
                    }
                ).encode()
            self.answer(method, 200, body, [("Content-Type", "application/json")])
            return
        key = self.enter(method)
        try:
            self.behave(method, key)
        except OSError:
            self.close_connection = True
        finally:
            self.leave()

    def behave(self, method, key):
        parts = self.path.split("?", 1)[0].strip("/").split("/")
        group, what, args = parts[0], parts[1] if len(parts) > 1 else "", parts[2:]
        base = "/" + group + "/"
        if what == "ok":
            self.answer(method, 200, page(["top-of-ok"]))
        elif what == "status":
            self.answer(method, int(args[0]), page(["status"]))
        elif what == "chain":
            left = int(args[0])
            if left > 0:
                self.redirect(method, 302, base + "chain/%d" % (left - 1))
            else:
                self.answer(method, 200, page(["end-of-chain"]))
        elif what == "loop":
            self.redirect(method, 302, base + "loop/" + ("b" if args[0] == "a" else "a"))
        elif what == "moved":
            self.redirect(method, int(args[0]), base + "ok")
        elif what == "nohead":
            if method == "HEAD":
                self.answer(method, 405, b"", [("Allow", "GET")])
            else:
                self.answer(method, 200, page(["got"]))
        elif what == "slow":
            time.sleep(int(args[0]) / 1000.0)
            self.answer(method, 200, page(["slow"]))
        elif what == "reset":
            self.reset()
        elif what in ("limit", "flaky"):
            limit = int(args[0])
            with LOCK:
                seen = REQUESTS[key]
            if seen > limit:
                self.answer(method, 200, page(["after-wait"]))
            elif what == "flaky":
                self.answer(method, 500, page(["flaky"]))
            else:
                code, kind = int(args[1]), args[2]
                headers = []
                if kind == "secs":
                    headers.append(("Retry-After", args[3]))
                elif kind == "date":
                    when = time.time() + int(args[3])
                    headers.append(("Retry-After", email.utils.formatdate(when, usegmt=True)))
                self.answer(method, code, page(["wait"]), headers)
        elif what == "chunked":
            self.leave()
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            if method == "GET":
                for piece in [b"<!doctype html><p id=c", b"1>one</p>" + b"x" * 5000, b"<p i",
                              b"d='c2'>two</p>"]:
                    self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
                self.wfile.write(b"0\r\n\r\n")
        elif what == "gzip":
            if "gzip" not in self.headers.get("Accept-Encoding", ""):
                self.answer(method, 406, b"gzip only")
                return
            body = gzip.compress(page(["g0"], "x" * 20000) + page(["g1"]))
            self.answer(method, 200, body, [("Content-Encoding", "gzip"),
                                            ("Content-Type", "text/html")])
        elif what == "big":
            size, at = int(args[0]) * 1024, int(args[1]) * 1024
            self.leave()
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(size))
            self.end_headers()
            if method != "GET":
                return
            anchor = b'<p id="deep">here</p>'
            line = b"<p>" + b"filler " * 9 + b"</p>\n"
            chunk = line * (65536 // len(line))
            sent = 0
            with LOCK:
                COMPLETE[key] = False
            while sent < size:
                piece = chunk if not (sent <= at < sent + len(chunk)) else anchor + chunk
                piece = piece[: size - sent]
                self.wfile.write(piece)
                sent += len(piece)
            self.wfile.flush()
            with LOCK:
                COMPLETE[key] = True
        elif what == "to":
            target = "http://%s:%s/%s" % (args[0], args[1], "/".join(args[2:]))
            self.redirect(method, 302, target)
        else:
            self.answer(method, 404, page(["unknown"]))


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        # A client that stops reading (an anchor found, a timeout) resets
        # its connection: nothing to report.
        if not isinstance(sys.exc_info()[1], OSError):
            super().handle_error(request, client_address)


class TlsServer(Server):
    context = None

    def finish_request(self, request, client_address):
        # The handshake on the connection's own thread, so that a client
        # that rejects the certificate holds up nobody.
        try:
            request.settimeout(10)
            wrapped = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        self.RequestHandlerClass(wrapped, client_address, self)


def make_certificate(directory, names, addresses):
    cert = os.path.join(directory, "cert.pem")
    key = os.path.join(directory, "key.pem")
    alt = ",".join(["DNS:" + n for n in names] + ["IP:" + a for a in addresses])
    subprocess.run(
        ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
         "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=tangler-site test",
         "-addext", "subjectAltName=" + alt],
        check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--hosts", default="127.0.0.1")
    parser.add_argument("--names", default="a.test,b.test,secure.test")
    parser.add_argument("--lifetime", type=float, default=300)
    args = parser.parse_args()
    addresses = args.hosts.split(",")
    for address in addresses:
        if not address.startswith("127."):
            sys.exit("loopback addresses only: " + address)
    cert, key = make_certificate(args.dir, args.names.split(","), addresses)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    TlsServer.context = context

    servers = []
    ready = {"hosts": {}, "cert": cert}
    for address in addresses:
        plain = Server((address, 0), Handler)
        secure = TlsServer((address, 0), Handler)
        servers += [plain, secure]
        ready["hosts"][address] = {"http": plain.server_address[1],
                                   "https": secure.server_address[1]}
    closed = socket.socket()
    closed.bind(("127.0.0.1", 0))
    ready["closed_port"] = closed.getsockname()[1]
    closed.close()
    for server in servers:
        threading.Thread(target=server.serve_forever, daemon=True).start()

    temporary = os.path.join(args.dir, "ready.json.tmp")
    with open(temporary, "w") as out:
        json.dump(ready, out)
    os.rename(temporary, os.path.join(args.dir, "ready.json"))

    done = threading.Event()

    def watch_stdin():
        sys.stdin.buffer.read()
        done.set()

    threading.Thread(target=watch_stdin, daemon=True).start()
    done.wait(args.lifetime)
    for server in servers:
        server.shutdown()


if __name__ == "__main__":
    main()
