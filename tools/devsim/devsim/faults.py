"""Fault injection per device and path.

A fault is a dict with these keys (all optional but at least one kind):
  path       the request path it applies to ("*" for every path; default "*")
  delay_ms   wait this long before anything else happens
  no_answer  read the request and never answer (the connection stays open until the
             client gives up, the device restarts or the simulator stops)
  status     answer with this HTTP status code and a short body instead of the page
  truncate   the page's body cut to this many bytes (the reply is complete and consistent)
  oversize   the page's body padded with 'x' to this many bytes
  close_after  send the headers (declaring the full length) and this many body bytes, then
             close the connection
  no_length  1: send the whole body without Content-Length and close the connection, the
             way a device ends a body it did not measure
  remove     a text taken out of the page's body wherever it stands (a page without a
             field, an attribute or a marker the library looks for)
  times      apply to this many requests, then remove itself (default: until cleared)

FTP faults act on the device's FTP side only (and HTTP faults on its HTTP side only); their
path stays "*":
  ftp        "refuse_login"  answer the password (or a USER that needs none) with 530
             "no_answer"     read commands after the greeting and never answer them
             "close_data"    send `close_after` bytes (default 0) of a RETR, then close the
                             data connection and answer 426
             "refuse_stor"   answer STOR with 550 and store nothing
             "refuse"        answer `command` (required) with 550 and do nothing; with
                             `name`, only when the argument's last path element is that name
             "drop"          close the control connection on `command` (required; `name` as
                             for "refuse") without answering, as a device that goes away
             `command` (optional, such as "RETR") limits the fault to that command;
             `times` counts the FTP commands the fault acted on.
"""

import threading

KINDS = ("delay_ms", "no_answer", "status", "truncate", "oversize", "close_after", "no_length",
         "remove")
FTP_FAULTS = ("refuse_login", "no_answer", "close_data", "refuse_stor", "refuse", "drop")


def validate(fault):
    if not isinstance(fault, dict):
        raise ValueError("a fault is a JSON object")
    unknown = set(fault) - set(KINDS) - {"path", "times", "ftp", "command", "name"}
    if unknown:
        raise ValueError("unknown fault keys: " + ", ".join(sorted(unknown)))
    if "command" in fault and "ftp" not in fault:
        raise ValueError("command belongs to an FTP fault")
    if "ftp" in fault:
        if fault["ftp"] not in FTP_FAULTS:
            raise ValueError("ftp is one of: " + ", ".join(FTP_FAULTS))
        if (set(fault) - {"ftp", "close_after", "times", "path", "command", "name"}
                or fault.get("path", "*") != "*"):
            raise ValueError("an FTP fault takes only command, name, close_after and times")
        if fault["ftp"] in ("refuse", "drop") and not fault.get("command"):
            raise ValueError(f"a {fault['ftp']} fault names its command")
        fault = dict(fault, close_after=fault.get("close_after", 0))
    if not any(k in fault for k in KINDS + ("ftp",)):
        raise ValueError("a fault needs one of: " + ", ".join(KINDS + ("ftp",)))
    if "remove" in fault and (not isinstance(fault["remove"], str) or not fault["remove"]):
        raise ValueError("remove must be a non-empty text")
    for key in ("delay_ms", "status", "truncate", "oversize", "close_after", "no_length",
                "times"):
        if key in fault and (not isinstance(fault[key], int) or fault[key] < 0):
            raise ValueError(f"{key} must be a non-negative integer")
    if fault.get("times", 1) < 1:
        raise ValueError("times must be at least 1")
    path = fault.get("path", "*")
    if path != "*" and not str(path).startswith("/"):
        raise ValueError("path must start with '/' or be '*'")
    return dict(fault, path=path)


class FaultTable:
    def __init__(self):
        self._lock = threading.Lock()
        self._faults = []

    def add(self, fault):
        fault = validate(fault)
        with self._lock:
            self._faults.append(fault)
        return fault

    def clear(self):
        with self._lock:
            self._faults.clear()

    def list(self):
        with self._lock:
            return [dict(f) for f in self._faults]

    def take(self, path):
        """The HTTP fault for a request to `path` (an exact path wins over "*"), counting it
        used."""
        with self._lock:
            http = [f for f in self._faults if "ftp" not in f]
            chosen = next((f for f in http if f["path"] == path), None)
            if chosen is None:
                chosen = next((f for f in http if f["path"] == "*"), None)
            return self._use(chosen)

    def take_ftp(self, kind, command, name=None):
        """The FTP fault of `kind` for `command` (and the argument's `name`) when one is in
        force, counting it used."""
        with self._lock:
            return self._use(next((f for f in self._faults if f.get("ftp") == kind and
                                   f.get("command", command) == command and
                                   f.get("name", name) == name), None))

    def _use(self, chosen):
        if chosen is None:
            return None
        if "times" in chosen:
            chosen["times"] -= 1
            if chosen["times"] <= 0:
                self._faults.remove(chosen)
        return dict(chosen)
