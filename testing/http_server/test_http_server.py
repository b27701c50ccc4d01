#!/usr/bin/env python3
"""HTTP/1.1 test server for the downloader tests (standard library only).

Runs on 127.0.0.1 with keep-alive. Every behaviour is chosen by the query of
the request, so the tests need no control channel and can run in parallel:

  /data?size=N          N bytes of the test pattern (see pattern_byte), with
                        Range support ("bytes=a-" and "bytes=a-b" give 206).
      key=K             groups requests: the counters below are per key, and
                        /requests?key=K lists them.
      fail=S:T          the first T requests of the key answer status S
                        (for example fail=503:2).
      cut=o1,o2,...     request number i of the key is reset (RST) after the
                        body reached absolute offset o_i.
      short=o1,...      like cut, but the connection is closed in order (FIN):
                        fewer bytes than Content-Length arrive.
      ignore_range=1    a Range request gets 200 and the whole body.
      content_length=V  the Content-Length header says V (any text); the
                        connection closes after the body.
      header_size=N     adds a header "X-Padding" of N bytes.
      reset=P           request 0 of the key is reset at point P: "accept"
                        (nothing read), "request" (after reading the request),
                        "status" (after the status line), "headers" (after the
                        headers); add reset_times=T for the first T requests.
      status_line=T     answers with the status line T (for malformed ones),
                        then Content-Length and the body; closes after.
      slow=MS           sleeps MS milliseconds after every 16 KiB of body.
      stall=o1,o2,...   like cut, but the connection stays open and silent
                        after offset o_i until the client closes it.
      never=T           the first T requests of the key are read and never
                        answered; the connection stays open.
      wrong_range=D     the first Range request of the key gets 206 with
                        the range starting D bytes after the one asked for
                        (Content-Range tells the truth about what is sent).
      no_headers=1      answers a status line, no header lines, the body,
                        and closes.
      trickle=O         every request: after absolute offset O (at once when
                        it asks for bytes beyond O) one more byte of the body
                        follows every trickle_ms milliseconds (300 when not
                        given) until the client closes.
      trickle_headers=MS  answers the start of a header line and then one
                        byte of it every MS milliseconds, never ending it.
      one_byte=1        every answer (200 or 206) announces the rest of the
                        body, sends one byte of it and closes in order.
      chunked=1         the body goes in chunked encoding, without a
                        Content-Length; with cut/short the connection ends
                        without the last chunk.
      range_total=D     the first Range request of the key gets 206 whose
                        Content-Range claims a whole length D bytes more than
                        the body has.
      bad_range=1       every Range request gets 206 with the bytes from its
                        start a on, under a Content-Range that ends before it
                        begins ("bytes a-(a-1)/N"), also when a is the end of
                        the body (instead of 416, with no bytes).
      unsatisfiable=T   every Range request gets 416: without Content-Range
                        for T "none", else with "bytes */N" where N is the
                        body's size for T "size", or T itself.
      cache=1           lets the client cache nothing special; only for
                        symmetry with real servers (no effect).
  /echo                 200 with body "ok"; reply_size=N answers N bytes.
  /redirect?to=URL      302 to URL (status=301/307 to change the code).
  /loop                 302 to itself, forever.
  /hold                 read and never answered (the connection stays open).
  /requests?key=K       JSON list of the recorded requests of K (all keys
                        when K is empty): method, path, headers (pairs),
                        body (latin-1 text), body_length.
  /connections?key=K    how many connections that asked for K are still
                        open (as a decimal number): a client's connections
                        are counted from its first request of K until
                        either side closes them.

Any request whose target is an absolute "http://" URL is a proxy request:
without "Proxy-Authorization: Basic" of "velmo:secret" it is answered 407
with a Basic challenge; with it, it is served as the path above.

  test_http_server.py --port-file FILE [--second-port-file F2]
                      [--tls-cert C --tls-key K --tls-port-file F]

writes the port it listens on into FILE once it accepts connections; with
--second-port-file a second plain listener serves the same behaviours (and
counts into the same keys) on a port of its own, another server to a
client; with the TLS options another listener serves them over HTTPS.
"""

import argparse
import base64
import http.server
import json
import os
import socket
import socketserver
import select
import ssl
import struct
import sys
import threading
import time
import urllib.parse

PATTERN_PERIOD = 65521  # prime, so no power-of-two shift goes unnoticed
PROXY_CREDENTIALS = "velmo:secret"


def make_pattern():
    # The same generator is in the C++ test support: byte i of every body is
    # pattern[i % PATTERN_PERIOD].
    out = bytearray(PATTERN_PERIOD)
    x = 20161207
    for i in range(PATTERN_PERIOD):
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        out[i] = (x >> 16) & 0xFF
    return bytes(out)


PATTERN = make_pattern()
# A long run of the pattern, so any slice of up to 1 MiB is one memoryview.
BIG = PATTERN * (1 + (1 << 20) // PATTERN_PERIOD + 1)


def pattern_slice(start, end):
    """Bytes start..end-1 of the pattern stream, in pieces of up to 1 MiB."""
    pos = start
    while pos < end:
        offset = pos % PATTERN_PERIOD
        n = min(end - pos, 1 << 20)
        yield memoryview(BIG)[offset:offset + n]
        pos += n


class State:
    def __init__(self):
        self.lock = threading.Lock()
        self.counters = {}
        self.records = []
        self.open_connections = {}

    def next_index(self, key, name):
        with self.lock:
            k = (key, name)
            n = self.counters.get(k, 0)
            self.counters[k] = n + 1
            return n

    def record(self, entry):
        with self.lock:
            self.records.append(entry)

    def records_for(self, key):
        with self.lock:
            return [r for r in self.records if not key or r["key"] == key]

    def connection_opened(self, key):
        with self.lock:
            self.open_connections[key] = self.open_connections.get(key, 0) + 1

    def connection_closed(self, key):
        with self.lock:
            self.open_connections[key] -= 1

    def connections_open(self, key):
        with self.lock:
            return self.open_connections.get(key, 0)


STATE = State()


class ResetConnection(Exception):
    pass


# How long a held connection stays open at most; the client's time-outs are
# what the tests look at, so this only bounds a forgotten one.
HOLD_LIMIT_S = 900


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "VelmoTestServer/1.0"

    def log_message(self, fmt, *args):
        if os.environ.get("VELMO_TEST_SERVER_VERBOSE"):
            sys.stderr.write("test server: " + (fmt % args) + "\n")

    # --- connection control -------------------------------------------------
    def reset(self):
        """Aborts the connection with a RST."""
        try:
            self.wfile.flush()
        except OSError:
            pass
        try:
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                       struct.pack("ii", 1, 0))
        except OSError:
            pass
        raise ResetConnection()

    def close_in_order(self):
        try:
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_WR)
        except OSError:
            pass
        raise ResetConnection()

    def hold(self):
        """Keeps the connection open and silent until the client closes it."""
        try:
            self.wfile.flush()
        except OSError:
            pass
        deadline = time.monotonic() + HOLD_LIMIT_S
        while time.monotonic() < deadline:
            if self.client_heard(1.0) == "closed":
                break
        raise ResetConnection()

    def client_heard(self, timeout_s):
        """What came from the client within timeout_s: "nothing", "data" (read
        and dropped) or "closed" (the connection ended or failed)."""
        readable, _, _ = select.select([self.connection], [], [], timeout_s)
        if not readable:
            return "nothing"
        try:
            return "data" if self.connection.recv(65536) else "closed"
        except OSError:
            return "closed"

    def trickle(self, offset, end, interval_s):
        """Sends a byte of the body every interval until the client closes."""
        pos = offset
        deadline = time.monotonic() + HOLD_LIMIT_S
        while time.monotonic() < deadline:
            heard = self.client_heard(interval_s)
            if heard == "closed":
                break
            if heard == "data":
                continue
            if pos < end:
                self.wfile.write(PATTERN[pos % PATTERN_PERIOD:pos % PATTERN_PERIOD + 1])
                pos += 1
            else:
                self.wfile.write(b" ")
            self.wfile.flush()
        raise ResetConnection()

    def handle_one_request(self):
        try:
            super().handle_one_request()
        except ResetConnection:
            self.close_connection = True
            try:
                self.connection.close()
            except OSError:
                pass
        except (ConnectionError, BrokenPipeError, socket.timeout):
            self.close_connection = True

    def finish(self):
        # The handler lives as long as its connection.
        if getattr(self, "counted_key", None) is not None:
            STATE.connection_closed(self.counted_key)
            self.counted_key = None
        try:
            super().finish()
        except OSError:
            pass

    def count_connection(self, key):
        if key and getattr(self, "counted_key", None) is None:
            self.counted_key = key
            STATE.connection_opened(key)

    # --- request parsing ----------------------------------------------------
    def read_body(self):
        length = self.headers.get("Content-Length")
        if length is None:
            return b""
        try:
            n = int(length)
        except ValueError:
            return b""
        return self.rfile.read(n) if n > 0 else b""

    def do_GET(self):
        self.dispatch()

    def do_POST(self):
        self.dispatch()

    def do_HEAD(self):
        self.dispatch()

    def dispatch(self):
        body = self.read_body()
        target = self.path
        if target.startswith("http://") or target.startswith("https://"):
            if not self.proxy_authorized():
                self.record_request(target, body)
                self.send_simple(407, b"proxy authentication required",
                                 [("Proxy-Authenticate", 'Basic realm="velmo-test"')])
                return
            target = urllib.parse.urlsplit(target)._replace(scheme="", netloc="").geturl()
        parsed = urllib.parse.urlsplit(target)
        query = dict(urllib.parse.parse_qsl(parsed.query, keep_blank_values=True))
        self.query = query
        key = query.get("key", "")
        if parsed.path not in ("/requests", "/connections"):
            self.record_request(target, body, key)
            self.count_connection(key)
        if parsed.path == "/data":
            self.serve_data(query, key)
        elif parsed.path == "/echo":
            self.serve_echo(query)
        elif parsed.path == "/redirect":
            status = int(query.get("status", "302"))
            self.send_simple(status, b"moved", [("Location", query.get("to", "/"))])
        elif parsed.path == "/loop":
            self.send_simple(302, b"again", [("Location", target)])
        elif parsed.path == "/hold":
            self.hold()
        elif parsed.path == "/connections":
            self.send_simple(200, str(STATE.connections_open(key)).encode())
        elif parsed.path == "/requests":
            payload = json.dumps(STATE.records_for(key)).encode("utf-8")
            self.send_simple(200, payload, [("Content-Type", "application/json")])
        else:
            self.send_simple(404, b"not found")

    def proxy_authorized(self):
        value = self.headers.get("Proxy-Authorization", "")
        expected = "Basic " + base64.b64encode(PROXY_CREDENTIALS.encode()).decode()
        return value.strip() == expected

    def record_request(self, target, body, key=None):
        if key is None:
            parsed = urllib.parse.urlsplit(target)
            key = dict(urllib.parse.parse_qsl(parsed.query)).get("key", "")
        STATE.record({
            "key": key,
            "method": self.command,
            "path": target,
            "headers": [[k, v] for k, v in self.headers.items()],
            "body": body.decode("latin-1"),
            "body_length": len(body),
        })

    # --- answers --------------------------------------------------------------
    def send_simple(self, status, payload, extra_headers=()):
        self.send_response(status)
        for name, value in extra_headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(payload)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(payload)

    def serve_echo(self, query):
        size = int(query.get("reply_size", "0") or "0")
        if size <= 0:
            self.send_simple(200, b"ok")
            return
        self.send_response(200)
        self.send_header("Content-Length", str(size))
        self.end_headers()
        for piece in pattern_slice(0, size):
            self.wfile.write(piece)

    def reset_point(self, query, key):
        point = query.get("reset")
        if not point:
            return None
        times = int(query.get("reset_times", "1"))
        return point if STATE.next_index(key, "reset") < times else None

    def serve_data(self, query, key):
        size = int(query["size"])
        request_index = STATE.next_index(key, "data")
        point = self.reset_point(query, key)
        if point in ("accept", "request"):
            self.reset()
        if STATE.next_index(key, "never") < int(query.get("never", "0") or "0"):
            self.hold()
        fail = query.get("fail")
        if fail:
            status, times = fail.split(":")
            if STATE.next_index(key, "fail") < int(times):
                if point == "status":
                    self.reset()
                self.send_simple(int(status), b"try again later")
                return

        start, end = 0, size
        status = 200
        range_header = self.headers.get("Range")
        if range_header and query.get("ignore_range") != "1" and range_header.startswith("bytes="):
            first, _, last = range_header[len("bytes="):].partition("-")
            start = int(first)
            end = int(last) + 1 if last else size
            end = min(end, size)
            unsatisfiable = query.get("unsatisfiable")
            if unsatisfiable is not None:
                total = size if unsatisfiable == "size" else unsatisfiable
                self.send_simple(416, b"", [] if unsatisfiable == "none" else
                                 [("Content-Range", "bytes */%s" % total)])
                return
            if start >= size and query.get("bad_range") == "1":
                start = end = size
            elif start >= size:
                self.send_simple(416, b"", [("Content-Range", "bytes */%d" % size)])
                return
            status = 206
            shift = int(query.get("wrong_range", "0") or "0")
            if shift and STATE.next_index(key, "wrong_range") == 0:
                start = min(start + shift, size - 1)

        if point == "status":
            self.wfile.write(b"HTTP/1.1 200 OK\r\n")
            self.reset()
        if "trickle_headers" in query:
            self.wfile.write(b"HTTP/1.1 200 OK\r\nX-Slow: ")
            self.wfile.flush()
            self.trickle(0, 0, int(query["trickle_headers"]) / 1000.0)
        if query.get("no_headers") == "1":
            self.wfile.write(b"HTTP/1.1 200 OK\r\n\r\n")
            for piece in pattern_slice(0, size):
                self.wfile.write(piece)
            self.close_connection = True
            self.close_in_order()
        if "status_line" in query:
            # A status line of the test's choosing, then ordinary headers.
            body = b"".join(bytes(p) for p in pattern_slice(0, size))
            self.wfile.write(query["status_line"].encode("latin-1") + b"\r\n")
            self.wfile.write(b"Content-Length: %d\r\nConnection: close\r\n\r\n" % size)
            self.wfile.write(body)
            self.close_connection = True
            return
        chunked = query.get("chunked") == "1"
        total = size
        if status == 206 and "range_total" in query and STATE.next_index(key, "range_total") == 0:
            total = size + int(query["range_total"])
        self.send_response(status)
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        else:
            self.send_header("Content-Length", query.get("content_length", str(end - start)))
        if "content_length" in query:
            # The client cannot know where a body with a false length ends:
            # the end of the connection marks it.
            self.send_header("Connection", "close")
            self.close_connection = True
        self.send_header("X-Served-By", "velmo-test-%d" % request_index)
        if status == 206:
            last = start - 1 if query.get("bad_range") == "1" else end - 1
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, last, total))
        pad = int(query.get("header_size", "0") or "0")
        if pad > 0:
            self.send_header("X-Padding", "p" * pad)
        self.end_headers()
        if point == "headers":
            self.reset()
        if self.command == "HEAD":
            return

        if query.get("one_byte") == "1":
            self.wfile.write(PATTERN[start % PATTERN_PERIOD:start % PATTERN_PERIOD + 1])
            self.close_in_order()
        stop_at, stop = end, None
        for name in ("cut", "short", "stall"):
            offsets = [int(v) for v in query.get(name, "").split(",") if v]
            if request_index < len(offsets) and start <= offsets[request_index] < end:
                stop_at, stop = offsets[request_index], name
        if "trickle" in query:
            stop_at, stop = max(start, min(end, int(query["trickle"]))), "trickle"
        slow = int(query.get("slow", "0") or "0")
        pos = start
        while pos < stop_at:
            n = min(stop_at - pos, 16384 if slow else 1 << 20)
            if chunked:
                n = min(n, 65536)
                self.wfile.write(b"%x\r\n" % n)
            for piece in pattern_slice(pos, pos + n):
                self.wfile.write(piece)
            if chunked:
                self.wfile.write(b"\r\n")
            pos += n
            if slow:
                self.wfile.flush()
                time.sleep(slow / 1000.0)
        if stop == "cut":
            self.reset()
        if stop == "short":
            self.close_in_order()
        if stop == "stall":
            self.hold()
        if stop == "trickle":
            self.wfile.flush()
            self.trickle(stop_at, end, int(query.get("trickle_ms", "300")) / 1000.0)
        if chunked:
            self.wfile.write(b"0\r\n\r\n")


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64


def write_port(path, port):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write("%d\n" % port)
    os.replace(tmp, path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--second-port-file")
    parser.add_argument("--tls-cert")
    parser.add_argument("--tls-key")
    parser.add_argument("--tls-port-file")
    args = parser.parse_args()

    servers = [Server(("127.0.0.1", 0), Handler)]
    if args.second_port_file:
        second = Server(("127.0.0.1", 0), Handler)
        servers.append(second)
        write_port(args.second_port_file, second.server_address[1])
    if args.tls_cert:
        tls = Server(("127.0.0.1", 0), Handler)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls_cert, args.tls_key)
        tls.socket = context.wrap_socket(tls.socket, server_side=True)
        servers.append(tls)
        write_port(args.tls_port_file, tls.server_address[1])
    for s in servers[1:]:
        threading.Thread(target=s.serve_forever, daemon=True).start()
    write_port(args.port_file, servers[0].server_address[1])
    servers[0].serve_forever()


if __name__ == "__main__":
    main()
