"""The control port: a small JSON API on its own port, so it never collides with a device path.

  GET    /devices                         every device (name, model, ports, credentials...)
  GET    /devices/NAME                    one device, with its DI and DO levels
  POST   /devices/NAME/di                 {"levels": [1, 0, ...], "case": "upper"|"lower",
                                           "form": "short"|"indexed"} (each key optional)
  GET    /devices/NAME/do                 {"levels": [...]} the output levels (1 high)
  GET    /devices/NAME/faults             the faults in force
  POST   /devices/NAME/faults             add a fault (see faults.py for its keys)
  DELETE /devices/NAME/faults             clear all faults
  POST   /devices/NAME/restart            {"seconds": S} HTTP and FTP away for S seconds
  GET    /devices/NAME/firmware           restarts after upgrades and the model name
  GET    /devices/NAME/uart/N             {"written": text, "pending": text} of port N
  POST   /devices/NAME/uart/N             {"receive": text, "echo": bool, "clear": bool}
  GET    /devices/NAME/ptz                 each camera's position and the preset list
  GET    /devices/NAME/motion              the motion windows (pages/motion.py)
  POST   /devices/NAME/motion              {"windows": [...], "keys": "default"|"alt",
                                           "getmd_text": text|null} (each key optional)
  GET    /devices/NAME/sysinfo            the system information text (text/plain)
  GET    /log?since=SEQ&device=NAME       {"entries": [...], "next": SEQ}
  POST   /shutdown                        stop the simulator (as SIGTERM does)

Texts are Latin-1. Errors answer 400 or 404 with {"error": "..."}.
"""

import http.server
import json
import threading
import urllib.parse

from .pages import motion, ptz
from .pages import firmware
from .pages.sysinfo import sysinfo_text


class ControlServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, sim, bind="127.0.0.1"):
        self.sim = sim
        super().__init__((bind, port), ControlHandler)

    def start(self):
        threading.Thread(target=self.serve_forever, kwargs={"poll_interval": 0.1},
                         name="control", daemon=True).start()


class ApiError(Exception):
    def __init__(self, status, message):
        super().__init__(message)
        self.status = status


class ControlHandler(http.server.BaseHTTPRequestHandler):
    def log_message(self, fmt, *args):
        pass

    def do_GET(self):
        self._dispatch("GET")

    def do_POST(self):
        self._dispatch("POST")

    def do_DELETE(self):
        self._dispatch("DELETE")

    def _dispatch(self, method):
        url = urllib.parse.urlsplit(self.path)
        parts = [p for p in url.path.split("/") if p]
        query = dict(urllib.parse.parse_qsl(url.query))
        try:
            length = int(self.headers.get("Content-Length") or 0)
            raw = self.rfile.read(length) if length else b""
            body = json.loads(raw) if raw.strip() else {}
            if not isinstance(body, dict):
                raise ApiError(400, "the body must be a JSON object")
            result = self._route(method, parts, query, body)
        except ApiError as e:
            return self._json(e.status, {"error": str(e)})
        except (ValueError, TypeError, KeyError) as e:
            return self._json(400, {"error": str(e)})
        if isinstance(result, str):
            return self._send(200, result.encode("latin-1"), "text/plain")
        return self._json(200, result)

    def _route(self, method, parts, query, body):
        sim = self.server.sim
        if parts == ["devices"] and method == "GET":
            return {"devices": [d.describe() for d in sim.devices.values()]}
        if parts == ["log"] and method == "GET":
            since = int(query.get("since", 0))
            entries = sim.log.entries(since, query.get("device"))
            return {"entries": entries, "next": since + len(sim.log.entries(since))}
        if parts == ["shutdown"] and method == "POST":
            sim.request_stop()
            return {"stopping": True}
        if len(parts) >= 2 and parts[0] == "devices":
            device = sim.devices.get(parts[1])
            if device is None:
                raise ApiError(404, f"no device {parts[1]}")
            return self._device_route(device, method, parts[2:], body)
        raise ApiError(404, "unknown control path")

    def _device_route(self, d, method, rest, body):
        if not rest and method == "GET":
            info = d.describe()
            with d.lock:
                info["di"] = d.di_levels[:d.model["DiNum"]]
                info["do"] = d.do_levels[:d.model["DoNum"]]
            return info
        if rest == ["di"] and method == "POST":
            return _set_di(d, body)
        if rest == ["do"] and method == "GET":
            with d.lock:
                return {"levels": d.do_levels[:d.model["DoNum"]]}
        if rest == ["faults"]:
            if method == "GET":
                return {"faults": d.faults.list()}
            if method == "POST":
                return {"added": d.faults.add(body)}
            if method == "DELETE":
                d.faults.clear()
                return {"faults": []}
        if rest == ["restart"] and method == "POST":
            seconds = float(body.get("seconds", 1))
            if not 0 <= seconds <= 3600:
                raise ApiError(400, "seconds must be 0 to 3600")
            d.restart(seconds)
            return {"restarting": True, "seconds": seconds}
        if rest == ["motion"] and method in ("GET", "POST"):
            return motion.control(d, method, body)
        if rest == ["ptz"] and method == "GET":
            return ptz.state(d)
        if rest and rest[0] == "firmware":
            return firmware.control(d, method, rest[1:], body)
        if rest == ["sysinfo"] and method == "GET":
            return sysinfo_text(d)
        if len(rest) == 2 and rest[0] == "uart" and rest[1].isdigit():
            return _uart(d, int(rest[1]), method, body)
        raise ApiError(404, "unknown control path")

    def _json(self, status, obj):
        self._send(status, json.dumps(obj).encode(), "application/json")

    def _send(self, status, data, ctype):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)


def _set_di(d, body):
    levels = body.get("levels")
    case = body.get("case")
    form = body.get("form")
    if levels is not None and (not isinstance(levels, list) or len(levels) > len(d.di_levels)):
        raise ApiError(400, f"levels: a list of at most {len(d.di_levels)} values")
    if case not in (None, "upper", "lower") or form not in (None, "short", "indexed"):
        raise ApiError(400, "case is upper or lower, form is short or indexed")
    with d.lock:
        for i, level in enumerate(levels or []):
            d.di_levels[i] = 1 if level else 0
        d.di_case = case or d.di_case
        d.di_form = form or d.di_form
        return {"levels": d.di_levels[:d.model["DiNum"]], "case": d.di_case, "form": d.di_form}


def _uart(d, number, method, body):
    if not 1 <= number <= len(d.uart_ports):
        raise ApiError(404, f"no serial port {number}")
    p = d.uart_ports[number - 1]
    with p.cond:
        if method == "POST":
            if body.get("clear"):
                p.written.clear()
                p.received.clear()
            if "echo" in body:
                p.echo = bool(body["echo"])
            if body.get("receive"):
                p.received += str(body["receive"]).encode("latin-1")
                p.cond.notify_all()
        elif method != "GET":
            raise ApiError(404, "unknown control path")
        return {"written": p.written.decode("latin-1"), "pending": p.received.decode("latin-1"),
                "echo": p.echo}
