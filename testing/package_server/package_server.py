#!/usr/bin/env python3
"""A package server for the package fetcher's tests (standard library only).

    package_server.py --root DIR --port-file FILE [--port PORT] [--accept-posts]

Listens on a free port of 127.0.0.1 (on PORT when given; it fails when that
port is taken) and writes it into FILE once it accepts connections. GET and
POST of /<path> answer the file DIR/<path> (200 with its bytes; 404 when
there is none), so a test lays out the server's replies, packages and
partner files as files while it runs. Every request is
recorded; /requests answers the JSON list of them (method, path, headers as
[name, value] pairs, body as latin-1 text, body_length, and what the server
answered as "answer": status, the first byte of the file sent, the bytes
sent and the fault applied), in the form the C++ test support of
testing/http_server reads. With --accept-posts a POST
to a path without a file is answered 200 with an empty body: the server then
stands in for a statistics server, which only takes reports.

Files are served with Range support ("bytes=a-" and "bytes=a-b" give 206).
The query of a request for a file chooses faults, counted per path and
"key" (so that a test's requests count apart from others'):
  fail=S:T    the first T requests answer status S (for example 503:4);
  never=T     the first T requests are read and never answered;
  cut=T       the first T requests are reset (RST) halfway through the body;
  drop=T      the first T requests are closed in order (FIN) halfway;
  stall=T     the first T requests fall silent halfway, the connection open;
  chunkdrop=T the first T requests answer in chunked encoding (no
              Content-Length) and are closed in order (FIN) halfway, before
              the last chunk.
And for every request:
  chunked=1   the answer comes in chunked encoding (no Content-Length);
  bad_range=1 a Range request from a gets 206 with the bytes from a on
              under a Content-Range that ends before it begins
              ("bytes a-(a-1)/N"), also when a is the file's end (instead
              of 416, with no bytes);
  byte_every=MS the answer announces the bytes asked for, sends the first
              of them after MS milliseconds, and closes in order (FIN).
Besides the files: /redirect?to=URL answers 302 (status=S for another code)
to URL; /loop answers 302 to itself.
"""
import argparse
import http.server
import json
import os
import select
import socket
import socketserver
import struct
import sys
import threading
import time
import urllib.parse

# A held connection stays open at most this long: the client's time-outs
# are what the tests look at.
HOLD_LIMIT_S = 900


class EndConnection(Exception):
    pass


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, root, port, accept_posts):
        super().__init__(("127.0.0.1", port), Handler)
        self.root = os.path.realpath(root)
        self.accept_posts = accept_posts
        self.lock = threading.Lock()
        self.requests = []
        self.counters = {}

    def next_index(self, *key):
        with self.lock:
            n = self.counters.get(key, 0)
            self.counters[key] = n + 1
            return n


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def handle_one_request(self):
        try:
            super().handle_one_request()
        except EndConnection:
            self.close_connection = True
            try:
                self.connection.close()
            except OSError:
                pass
        except (ConnectionError, BrokenPipeError, socket.timeout):
            self.close_connection = True

    def finish(self):
        try:
            super().finish()
        except OSError:
            pass

    def hold(self):
        """Keeps the connection open and silent until the client closes it."""
        try:
            self.wfile.flush()
        except OSError:
            pass
        deadline = time.monotonic() + HOLD_LIMIT_S
        while time.monotonic() < deadline:
            readable, _, _ = select.select([self.connection], [], [], 1.0)
            if readable:
                try:
                    if not self.connection.recv(65536):
                        break
                except OSError:
                    break
        raise EndConnection()

    def quiet(self, seconds):
        """Waits |seconds| without sending; False when the client closed."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            readable, _, _ = select.select([self.connection], [], [],
                                           max(0.0, deadline - time.monotonic()))
            if readable:
                try:
                    if not self.connection.recv(65536):
                        return False
                except OSError:
                    return False
        return True

    def end(self, reset):
        try:
            self.wfile.flush()
            if reset:
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                           struct.pack("ii", 1, 0))
            else:
                self.connection.shutdown(socket.SHUT_WR)
        except OSError:
            pass
        raise EndConnection()

    def fault(self, query, path, name):
        """Whether fault |name| applies to this request of path and key."""
        times = query.get(name)
        if not times:
            return False
        key = query.get("key", "")
        return self.server.next_index(path, key, name) < int(times.split(":")[-1])

    def do_GET(self):
        self.serve()

    def do_POST(self):
        self.serve()

    def serve(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        path = urllib.parse.urlsplit(self.path).path
        if path == "/requests":
            with self.server.lock:
                payload = json.dumps(self.server.requests).encode()
            return self.answer(200, payload)
        record = {"method": self.command, "path": self.path,
                  "headers": [[k, v] for k, v in self.headers.items()],
                  "body": body.decode("latin-1"), "body_length": len(body), "answer": ""}
        with self.server.lock:
            self.server.requests.append(record)
        query = dict(urllib.parse.parse_qsl(urllib.parse.urlsplit(self.path).query,
                                            keep_blank_values=True))
        if path == "/redirect":
            return self.answer(int(query.get("status", "302")), b"moved",
                               [("Location", query.get("to", "/"))])
        if path == "/loop":
            return self.answer(302, b"again", [("Location", self.path)])
        if self.fault(query, path, "never"):
            self.hold()
        if self.fault(query, path, "fail"):
            return self.answer(int(query["fail"].split(":")[0]), b"try again later")
        target = os.path.realpath(os.path.join(self.server.root,
                                               urllib.parse.unquote(path).lstrip("/")))
        if not target.startswith(self.server.root + os.sep) or not os.path.isfile(target):
            if self.command == "POST" and self.server.accept_posts:
                return self.answer(200, b"")
            return self.answer(404, b"not found")
        with open(target, "rb") as f:
            content = f.read()
        start, end, status = 0, len(content), 200
        range_header = self.headers.get("Range", "")
        if range_header.startswith("bytes="):
            first, _, last = range_header[len("bytes="):].partition("-")
            start = int(first)
            end = min(int(last) + 1 if last else len(content), len(content))
            if start >= len(content) and "bad_range" in query:
                start = end = len(content)
            elif start >= len(content):
                return self.answer(416, b"", [("Content-Range", "bytes */%d" % len(content))])
            status = 206
        headers = []
        if status == 206:
            last = start - 1 if "bad_range" in query else end - 1
            headers.append(("Content-Range", "bytes %d-%d/%d" % (start, last, len(content))))
        for name, how in (("cut", "reset"), ("drop", "close"), ("stall", "hold")):
            if self.fault(query, path, name):
                half = start + (end - start) // 2
                record["answer"] = "%d from %d, %d bytes, then %s" % (status, start, half - start,
                                                                     name)
                self.answer(status, content[start:end], headers, send_up_to=half - start)
                if how == "hold":
                    self.hold()
                self.end(reset=(how == "reset"))
        if self.fault(query, path, "chunkdrop"):
            half = start + (end - start) // 2
            record["answer"] = "%d from %d, %d bytes chunked, then close" % (status, start,
                                                                           half - start)
            self.send_response(status)
            for name, value in headers:
                self.send_header(name, value)
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            self.wfile.write(b"%x\r\n" % (half - start) + content[start:half] + b"\r\n")
            self.end(reset=False)
        if "byte_every" in query:
            record["answer"] = "%d from %d, 1 byte after %s ms, then close" % (
                status, start, query["byte_every"])
            self.answer(status, content[start:end], headers, send_up_to=0)
            self.wfile.flush()
            if self.quiet(int(query["byte_every"]) / 1000.0):
                self.wfile.write(content[start:start + 1])
            self.end(reset=False)
        if "chunked" in query:
            record["answer"] = "%d from %d, %d bytes chunked" % (status, start, end - start)
            self.send_response(status)
            for name, value in headers:
                self.send_header(name, value)
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            if end > start:
                self.wfile.write(b"%x\r\n" % (end - start) + content[start:end] + b"\r\n")
            self.wfile.write(b"0\r\n\r\n")
            return
        record["answer"] = "%d from %d, %d bytes" % (status, start, end - start)
        self.answer(status, content[start:end], headers)

    def answer(self, status, payload, extra_headers=(), send_up_to=None):
        self.send_response(status)
        for name, value in extra_headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(payload)))
        self.end_headers()
        self.wfile.write(payload if send_up_to is None else payload[:send_up_to])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--accept-posts", action="store_true")
    args = parser.parse_args()
    try:
        server = Server(args.root, args.port, args.accept_posts)
    except OSError as error:
        sys.exit("package_server: cannot listen on 127.0.0.1:%d: %s" % (args.port, error))
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(tmp, args.port_file)
    server.serve_forever()
    return 0


if __name__ == "__main__":
    sys.exit(main())
