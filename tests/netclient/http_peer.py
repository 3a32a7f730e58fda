#!/usr/bin/env python3
"""A small HTTP or HTTPS peer for the network client's tests (standard library only).

  http_peer.py --ready-file F [--cert C --key K] [--proxy-407]

Paths (GET):  /body?size=N     N deterministic bytes, with Content-Length
              /chunked?size=N  the same bytes in chunks of varying size
              /slow            declares 1000 bytes, sends 10, then holds the connection
POST /echo    answers with the request body.
--proxy-407   answers every request (any method) with 407 and a Basic challenge.
Every request line and its Authorization / Proxy-Authorization header is appended to
READY_FILE.log, one JSON object a line. The ready file gets the port once listening.
"""
import argparse
import http.server
import json
import os
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse


def pattern(n):
    return bytes((i * 7 + (i >> 8)) & 0xFF for i in range(n))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def record(self):
        entry = {"line": self.requestline,
                 "authorization": self.headers.get("Authorization", ""),
                 "proxy_authorization": self.headers.get("Proxy-Authorization", "")}
        with self.server.log_lock, open(self.server.log_path, "a") as f:
            f.write(json.dumps(entry) + "\n")

    def send_body(self, status, body, extra=()):
        self.send_response(status)
        for k, v in extra:
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)
        self.close_connection = True

    def handle_any(self):
        self.record()
        if self.server.proxy_407:
            self.send_body(407, b"proxy says no\n", [("Proxy-Authenticate", 'Basic realm="scripted"')])
            return True
        return False

    def do_CONNECT(self):
        self.handle_any()

    def do_GET(self):
        if self.handle_any():
            return
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        size = int(query.get("size", ["0"])[0])
        if url.path == "/body":
            self.send_body(200, pattern(size))
        elif url.path == "/chunked":
            self.send_response(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.send_header("Connection", "close")
            self.end_headers()
            data, at, step = pattern(size), 0, 1
            while at < len(data):
                piece = data[at:at + step]
                self.wfile.write(b"%x;ext=1\r\n%s\r\n" % (len(piece), piece))
                at, step = at + len(piece), step * 3 + 1
            self.wfile.write(b"0\r\nX-Trailer: t\r\n\r\n")
            self.close_connection = True
        elif url.path == "/slow":
            self.send_response(200)
            self.send_header("Content-Length", "1000")
            self.end_headers()
            self.wfile.write(b"0123456789")
            self.wfile.flush()
            time.sleep(30)
            self.close_connection = True
        else:
            self.send_body(404, b"no such page\n")

    def do_POST(self):
        if self.handle_any():
            return
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        self.send_body(200, body)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--ready-file", required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--proxy-407", action="store_true")
    args = parser.parse_args()
    server = Server(("127.0.0.1", 0), Handler)
    server.proxy_407 = args.proxy_407
    server.log_path = args.ready_file + ".log"
    server.log_lock = threading.Lock()
    open(server.log_path, "w").close()
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    tmp = args.ready_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(tmp, args.ready_file)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
