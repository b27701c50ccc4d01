#!/usr/bin/env python3
"""A package server for the package fetcher's tests (standard library only).

    package_server.py --root DIR --port-file FILE [--port PORT] [--accept-posts]

Listens on a free port of 127.0.0.1 (on PORT when given; it fails when that
port is taken) and writes it into FILE once it accepts connections. GET and
POST of /<path> answer the file DIR/<path> (200 with its bytes; 404 when
there is none), so a test lays out the server's replies, packages and
partner files as files while it runs. Every request is
recorded; /requests answers the JSON list of them (method, path, headers as
[name, value] pairs, body as latin-1 text, body_length), in the form the
C++ test support of testing/http_server reads. With --accept-posts a POST
to a path without a file is answered 200 with an empty body: the server then
stands in for a statistics server, which only takes reports.
"""
import argparse
import http.server
import json
import os
import socketserver
import sys
import threading
import urllib.parse


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, root, port, accept_posts):
        super().__init__(("127.0.0.1", port), Handler)
        self.root = os.path.realpath(root)
        self.accept_posts = accept_posts
        self.lock = threading.Lock()
        self.requests = []


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

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
        with self.server.lock:
            self.server.requests.append({
                "method": self.command, "path": self.path,
                "headers": [[k, v] for k, v in self.headers.items()],
                "body": body.decode("latin-1"), "body_length": len(body)})
        target = os.path.realpath(os.path.join(self.server.root,
                                               urllib.parse.unquote(path).lstrip("/")))
        if not target.startswith(self.server.root + os.sep) or not os.path.isfile(target):
            if self.command == "POST" and self.server.accept_posts:
                return self.answer(200, b"")
            return self.answer(404, b"not found")
        with open(target, "rb") as f:
            self.answer(200, f.read())

    def answer(self, status, payload):
        self.send_response(status)
        self.send_header("Content-Length", str(len(payload)))
        self.end_headers()
        self.wfile.write(payload)


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
