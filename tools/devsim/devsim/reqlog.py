"""The request log: every request a device received, as JSON lines in a file and in memory."""

import json
import threading
import time

BODY_KEPT = 65536


class RequestLog:
    def __init__(self, path):
        self._lock = threading.Lock()
        self._entries = []
        self._file = open(path, "a", encoding="utf-8")

    def add(self, device, proto, method, path, query="", body=b"", status=0, **extra):
        """Appends one entry; `body` (bytes) is kept as Latin-1 text, at most 64 KiB."""
        entry = {"time": round(time.time(), 3), "device": device, "proto": proto,
                 "method": method, "path": path, "query": query,
                 "body": body[:BODY_KEPT].decode("latin-1"), "body_size": len(body),
                 "status": status}
        entry.update(extra)
        with self._lock:
            entry["seq"] = len(self._entries)
            self._entries.append(entry)
            self._file.write(json.dumps(entry) + "\n")
            self._file.flush()
        return entry

    def entries(self, since=0, device=None):
        with self._lock:
            chosen = self._entries[since:]
        return [e for e in chosen if device is None or e["device"] == device]

    def close(self):
        with self._lock:
            self._file.close()
