#!/usr/bin/env python3
"""A loopback HTTP/1.0 file server that sends slowly, so that downloads stay
visibly running (for screenshots of the desktop program). Each path of the
form /NAME-SIZE (SIZE in bytes) is a file of that size; ranges are served.

    slow_http_server.py PORT [BYTES_PER_SECOND_PER_CONNECTION]
"""
import http.server
import re
import socketserver
import sys
import time

RATE = int(sys.argv[2]) if len(sys.argv) > 2 else 200_000
CHUNK = 4096


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def do_GET(self):
        match = re.fullmatch(r"/[^/]+-(\d+)(\.[A-Za-z0-9.]+)?", self.path)
        if not match:
            self.send_response(404)
            self.end_headers()
            return
        size = int(match.group(1))
        start, end = 0, size - 1
        wanted = re.fullmatch(r"bytes=(\d+)-(\d*)", self.headers.get("Range", ""))
        if wanted:
            start = int(wanted.group(1))
            end = int(wanted.group(2)) if wanted.group(2) else size - 1
            self.send_response(206)
            self.send_header("Content-Range", f"bytes {start}-{end}/{size}")
        else:
            self.send_response(200)
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Content-Length", str(end - start + 1))
        self.end_headers()
        left = end - start + 1
        try:
            while left > 0:
                n = min(left, CHUNK)
                self.wfile.write(b"x" * n)
                left -= n
                time.sleep(n / RATE)
        except OSError:
            pass


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


Server(("127.0.0.1", int(sys.argv[1])), Handler).serve_forever()
