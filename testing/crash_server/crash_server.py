#!/usr/bin/env python3
"""A crash server for the tests of the crash uploads (standard library only).

  crash_server.py --port-file F --record R

Listens on a free port of 127.0.0.1 (port 0) and writes the port into F.

GET (the pre-flight): the first segment of the path picks the answer.
  /303/<id>        303, Location ".../report?id=<id>&x=1"
  /303-noamp/<id>  303, Location ".../report?id=<id>" (no "&" after the id)
  /503             503
  /500             500
  /late/<id>       the /303 answer, sent after 10 s
  anything else    404

POST: the path /status/<n> answers status n to any body, /short answers 200
with a body shorter than its Content-Length, /endless answers 200 with a body
without end (no Content-Length) sent as fast as the client takes it, and
/trickle answers 200 with a body without end of one byte every 0.1 s; both
stop when the client goes away. Every other POST is parsed
strictly as multipart/form-data (boundary from the Content-Type header, CR LF
line ends, each part's headers, the closing line, gzip when Content-Encoding
says so) and answered 400 when malformed, else 200.

Every request is appended to R as one JSON line: method, path, headers
([name, value] pairs), status, and for POSTs "fields" (name to value),
"files" (name, filename, content_type, data as hex), "body_length" (on the
wire) and, when the body was rejected, "error".
"""

import argparse
import json
import os
import re
import threading
import time
import zlib
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

RECORD_LOCK = threading.Lock()
LATE_ANSWER_SECONDS = 10


class Malformed(Exception):
    pass


def parse_header_params(value):
    """'form-data; name="a"; filename="b"' -> ('form-data', {'name': 'a', ...})."""
    head, _, rest = value.partition(";")
    params = {}
    pos = 0
    rest = rest.strip()
    pattern = re.compile(r'\s*([A-Za-z0-9_-]+)=(?:"([^"]*)"|([^;\s]*))\s*(;|$)')
    while pos < len(rest):
        m = pattern.match(rest, pos)
        if not m:
            raise Malformed("bad header parameters: %r" % value)
        params[m.group(1).lower()] = m.group(2) if m.group(2) is not None else m.group(3)
        pos = m.end()
    return head.strip().lower(), params


def parse_multipart(content_type, body):
    kind, params = parse_header_params(content_type)
    if kind != "multipart/form-data":
        raise Malformed("content type %r" % content_type)
    boundary = params.get("boundary", "")
    if not boundary:
        raise Malformed("no boundary")
    delimiter = b"--" + boundary.encode("latin-1")
    if not body.startswith(delimiter):
        raise Malformed("body does not start with the boundary")
    fields = {}
    files = []
    pos = len(delimiter)
    while True:
        if body[pos:pos + 2] == b"--":
            rest = body[pos + 2:]
            if rest not in (b"", b"\r\n"):
                raise Malformed("bytes after the closing line")
            return fields, files
        if body[pos:pos + 2] != b"\r\n":
            raise Malformed("boundary line not ended by CR LF")
        pos += 2
        headers = {}
        while True:
            end = body.find(b"\r\n", pos)
            if end < 0:
                raise Malformed("part headers not ended")
            line = body[pos:end]
            pos = end + 2
            if not line:
                break
            if b"\n" in line or b"\r" in line:
                raise Malformed("bare line feed in part headers")
            name, sep, value = line.decode("utf-8").partition(":")
            if not sep or not name or name != name.strip():
                raise Malformed("bad part header %r" % line)
            headers[name.lower()] = value.strip()
        disposition = headers.get("content-disposition")
        if disposition is None:
            raise Malformed("part without Content-Disposition")
        kind, dparams = parse_header_params(disposition)
        if kind != "form-data" or "name" not in dparams:
            raise Malformed("bad Content-Disposition %r" % disposition)
        end = body.find(b"\r\n" + delimiter, pos)
        if end < 0:
            raise Malformed("part not ended by the boundary")
        data = body[pos:end]
        pos = end + 2 + len(delimiter)
        if "filename" in dparams:
            files.append({"name": dparams["name"], "filename": dparams["filename"],
                          "content_type": headers.get("content-type", ""),
                          "data": data.hex()})
        else:
            if dparams["name"] in fields:
                raise Malformed("field %r twice" % dparams["name"])
            fields[dparams["name"]] = data.decode("utf-8")


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def record(self, entry):
        entry.update({"method": self.command, "path": self.path,
                      "headers": [[k, v] for k, v in self.headers.items()]})
        with RECORD_LOCK:
            with open(self.server.record_path, "a", encoding="utf-8") as f:
                f.write(json.dumps(entry, sort_keys=True) + "\n")

    def answer(self, status, body=b"", headers=(), length=None):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body) if length is None else length))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)
        self.wfile.flush()
        self.close_connection = True

    def stream_without_end(self, slowly):
        self.send_response(200)
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        chunk = b"x" if slowly else b"x" * 16384
        try:
            while True:
                self.wfile.write(chunk)
                self.wfile.flush()
                if slowly:
                    time.sleep(0.1)
        except OSError:
            pass  # the client gave up, as it should

    def report_location(self, report_id, ampersand):
        host = "127.0.0.1:%d" % self.server.server_address[1]
        tail = "&x=1" if ampersand else ""
        return "http://%s/report?id=%s%s" % (host, report_id, tail)

    def do_GET(self):
        parts = self.path.split("?")[0].strip("/").split("/")
        kind = parts[0]
        report_id = parts[1] if len(parts) > 1 else ""
        if kind == "303" and report_id:
            status, headers = 303, [("Location", self.report_location(report_id, True))]
        elif kind == "303-noamp" and report_id:
            status, headers = 303, [("Location", self.report_location(report_id, False))]
        elif kind == "503":
            status, headers = 503, []
        elif kind == "500":
            status, headers = 500, []
        elif kind == "late" and report_id:
            time.sleep(LATE_ANSWER_SECONDS)
            status, headers = 303, [("Location", self.report_location(report_id, True))]
        else:
            status, headers = 404, []
        self.record({"status": status})
        try:
            self.answer(status, b"", headers)
        except OSError:
            pass  # the late answer's client may have given up

    def read_body(self):
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            raise Malformed("chunked bodies are not expected")
        length = self.headers.get("Content-Length")
        if length is None or not length.isdigit():
            raise Malformed("no Content-Length")
        length = int(length)
        data = b""
        while len(data) < length:
            chunk = self.rfile.read(length - len(data))
            if not chunk:
                raise Malformed("body shorter than Content-Length")
            data += chunk
        return data

    def do_POST(self):
        path = self.path.split("?")[0]
        entry = {}
        try:
            raw = self.read_body()
        except Malformed as e:
            entry.update({"status": 400, "error": str(e)})
            self.record(entry)
            self.answer(400)
            return
        entry["body_length"] = len(raw)
        if path.startswith("/status/"):
            status = int(path[len("/status/"):])
            entry["status"] = status
            self.record(entry)
            self.answer(status, b"" if status == 204 else b"ok")
            return
        if path in ("/endless", "/trickle"):
            entry["status"] = 200
            self.record(entry)
            self.stream_without_end(path == "/trickle")
            return
        if path == "/short":
            entry["status"] = 200
            self.record(entry)
            # Announces 100 bytes, sends 10 and closes the connection.
            self.answer(200, b"0123456789", length=100)
            return
        try:
            body = raw
            encoding = self.headers.get("Content-Encoding", "").strip().lower()
            if encoding == "gzip":
                # One complete gzip member, nothing after it.
                d = zlib.decompressobj(wbits=31)
                body = d.decompress(raw) + d.flush()
                if not d.eof or d.unused_data:
                    raise Malformed("incomplete gzip member or bytes after it")
            elif encoding:
                raise Malformed("content encoding %r" % encoding)
            fields, files = parse_multipart(self.headers.get("Content-Type", ""), body)
        except (Malformed, zlib.error, UnicodeDecodeError, ValueError) as e:
            entry.update({"status": 400, "error": str(e)})
            self.record(entry)
            self.answer(400)
            return
        entry.update({"status": 200, "fields": fields, "files": files})
        self.record(entry)
        self.answer(200, b"received")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--record", required=True)
    args = parser.parse_args()
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.record_path = args.record
    open(args.record, "a").close()
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(tmp, args.port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
