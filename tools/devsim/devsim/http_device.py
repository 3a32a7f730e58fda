"""A device's HTTP side: authentication, faults, the page registry and the request log."""

import http.server
import socket
import threading
import time

from .pages import Request, registry

MAX_BODY = 64 * 1024 * 1024


class DeviceHTTPServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    # A host with a fleet opens hundreds of connections at once; with the default backlog of
    # five the kernel drops their SYNs and the clients retry for tens of seconds.
    request_queue_size = 1024

    def __init__(self, device, port):
        self.device = device
        self.gone = threading.Event()
        self._open = set()
        self._open_lock = threading.Lock()
        super().__init__((device.bind, port), DeviceHandler)

    def process_request(self, request, client_address):
        with self._open_lock:
            self._open.add(request)
        super().process_request(request, client_address)

    def shutdown_request(self, request):
        with self._open_lock:
            self._open.discard(request)
        super().shutdown_request(request)

    def drop_connections(self):
        """Cuts every open connection (a restart or shutdown: the device is gone)."""
        self.gone.set()
        with self._open_lock:
            conns = list(self._open)
        for conn in conns:
            try:
                conn.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


class DeviceHandler(http.server.BaseHTTPRequestHandler):
    def version_string(self):
        return "kavrel-devsim"

    def log_message(self, fmt, *args):  # the request log replaces the stderr lines
        pass

    def do_GET(self):
        self._serve()

    def do_POST(self):
        self._serve()

    def do_PUT(self):
        self._serve()

    def do_HEAD(self):
        self._serve()

    def _read_body(self):
        length = self.headers.get("Content-Length")
        if not length or not length.isdigit() or int(length) > MAX_BODY:
            return b""
        return self.rfile.read(int(length))

    def _serve(self):
        device = self.server.device
        path, _, query = self.path.partition("?")
        body = self._read_body()
        fault = device.faults.take(path) or {}
        if fault.get("delay_ms"):
            time.sleep(fault["delay_ms"] / 1000.0)
        if fault.get("no_answer"):
            device.log.add(device.name, "http", self.command, path, query, body, 0,
                           fault="no_answer")
            self._hold()
            return
        user = device.auth.check(self.command, self.path, self.headers.get("Authorization"))
        if user is None:
            self._send(401, b"Unauthorized\r\n", "text/plain",
                       {"WWW-Authenticate": device.auth.challenge()})
            device.log.add(device.name, "http", self.command, path, query, body, 401)
            return
        req = Request(device, self.command, path, query, body, self.headers)
        if "status" in fault:
            reply_status, reply_body, ctype, extra = fault["status"], b"fault\r\n", "text/plain", {}
        else:
            reply = registry.find(device, path)(req)
            reply_status, reply_body = reply.status, reply.body
            ctype, extra = reply.content_type, reply.headers
        if "remove" in fault:
            reply_body = reply_body.replace(fault["remove"].encode("latin-1"), b"")
        if "truncate" in fault:
            reply_body = reply_body[:fault["truncate"]]
        if "oversize" in fault and len(reply_body) < fault["oversize"]:
            reply_body += b"x" * (fault["oversize"] - len(reply_body))
        device.log.add(device.name, "http", self.command, path, query, body, reply_status,
                       user=user, fault=_fault_name(fault))
        if "close_after" in fault:
            self._send(reply_status, reply_body[:fault["close_after"]], ctype, extra,
                       declared=len(reply_body) + (0 if fault["close_after"] < len(reply_body)
                                                   else 1))
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        if fault.get("no_length"):
            self._send(reply_status, reply_body, ctype, extra, declared=-1)
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        self._send(reply_status, reply_body, ctype, extra)

    def _send(self, status, body, ctype, extra, declared=None):
        """declared: the Content-Length to announce (None: the body's; -1: none at all)."""
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        if declared != -1:
            self.send_header("Content-Length", str(len(body) if declared is None else declared))
        self.send_header("Connection", "close")
        for key, value in extra.items():
            self.send_header(key, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)
        self.wfile.flush()

    def _hold(self):
        """Never answers: waits until the client closes or the device goes away."""
        self.close_connection = True
        self.connection.settimeout(0.2)
        while not self.server.gone.is_set():
            try:
                if not self.connection.recv(4096):
                    return
            except socket.timeout:
                continue
            except OSError:
                return


def _fault_name(fault):
    names = [k for k in ("status", "truncate", "oversize", "close_after", "no_length", "remove",
                         "delay_ms") if k in fault]
    return ",".join(names) or None

