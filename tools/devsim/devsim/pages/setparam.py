"""Parameter setting of the new generation: "/cgi-bin/admin/setparam.cgi".

The new generation (a server type beginning with "KM7150", or a third character above '3')
takes its settings as KEY=VALUE pairs, in the query or in a POSTed form body. Each key is
handled by one function in KEYS; another key gets 400 and the request changes nothing.
Models of the older generations answer 404 here (they use system.cgi and security.cgi).

The library sends the parameter keys (host name, date, time, password) by POST and the
upgrade's keys (System_reset, Network_*) by GET: each by its own method only, and a key
given twice gets 400 too.

Adding a key is one line: a function taking (device, value) that raises ValueError for a
value it refuses, registered with @key("Name"). Handlers are checked all first (`check`)
and applied only when every pair of the request is acceptable.
"""

import re
import urllib.parse

from . import Reply, registry
from .. import config_file

PATH = "/cgi-bin/admin/setparam.cgi"

DATE = re.compile(r"\d{4}/\d{2}/\d{2}$")
TIME = re.compile(r"\d{2}:\d{2}:\d{2}$")


def is_new_generation(model):
    return model.name.startswith("KM7150") or model.name[2] > "3"


class KeyHandler:
    def __init__(self, apply, check=None):
        self.apply = apply
        self.check = check or (lambda device, value: None)


KEYS = {}


def key(name, check=None):
    """Registers the function below as the handler of one setparam.cgi key."""
    def register(apply):
        KEYS[name] = KeyHandler(apply, check)
        return apply
    return register


# ---- Settings shared by the generations (system.py uses them too) ---------------------------

def _names(device):
    """(system section, host name key, date key, time key) of the device's generation."""
    if device.model.series < "4":
        return "SYSTEM", "host name", "current date", "current time"
    return "system", "hostname", "date", "time"


def check_hostname(device, value):
    if not value or len(value) > 14 or not re.fullmatch(r"[A-Za-z0-9._-]+", value):
        raise ValueError("bad host name")


def check_date(device, value):
    if not DATE.match(value):
        raise ValueError("bad date, expected YYYY/MM/DD")


def check_time(device, value):
    if not TIME.match(value):
        raise ValueError("bad time, expected HH:MM:SS")


def _setter(position, attribute):
    """Keeps the value in the device and in its configuration file, under the key that the
    device's generation uses (position in _names)."""
    def apply(device, value):
        setattr(device, attribute, value)
        names = _names(device)
        config_file.set_value(device.config_path, names[0], names[position], value)
    return apply


set_hostname = _setter(1, "host_name")
set_date = _setter(2, "clock_date")
set_time = _setter(3, "clock_time")


def check_password(device, value):
    if not value or len(value) > 64:
        raise ValueError("bad password")


def set_password(device, value):
    """The administrator's password is the device's login for HTTP and FTP alike."""
    device.password = value
    device.auth.password = value


key("System_hostname", check_hostname)(set_hostname)
key("System_date", check_date)(set_date)
key("System_time", check_time)(set_time)
key("Security_userpass_0", check_password)(set_password)


def apply_pairs(device, pairs, handlers):
    """Checks every pair, then applies them in order; a Reply on refusal, else None."""
    if not pairs:
        return Reply("ERROR: nothing to set\r\n", status=400)
    for name, value in pairs:
        handler = handlers.get(name)
        if handler is None:
            return Reply(f"ERROR: unknown key {name}\r\n", status=400)
        try:
            handler.check(device, value)
        except ValueError as e:
            return Reply(f"ERROR: {name}: {e}\r\n", status=400)
    with device.lock:
        for name, value in pairs:
            handlers[name].apply(device, value)
    return None


def request_pairs(req):
    """The query's pairs, then the form body's."""
    body = urllib.parse.parse_qsl(req.body.decode("latin-1"), keep_blank_values=True,
                                  encoding="latin-1")
    return list(req.pairs) + body


def _wrong_method(method, names):
    """Why these keys should not come by this method, or None."""
    twice = sorted({name for name in names if names.count(name) > 1})
    if twice:
        return f"{', '.join(twice)} given twice"
    by_get = [name for name in names if name in firmware.SETPARAM_KEYS]
    expected = "GET" if by_get else "POST"
    if by_get and len(by_get) != len(names):
        return "the upgrade's keys come alone"
    if method != expected:
        return f"these keys come by {expected}, not {method}"
    return None


@registry.path(PATH)
def setparam(req):
    if not is_new_generation(req.device.model):
        return Reply("Not Found\r\n", status=404)
    pairs = request_pairs(req)
    wrong = _wrong_method(req.method, [name for name, _ in pairs])
    if wrong:
        return Reply(f"ERROR: {wrong}\r\n", status=400)
    refused = apply_pairs(req.device, pairs, KEYS)
    if refused:
        return refused
    return Reply("".join(f"{name}='{value}'\r\n" for name, value in pairs))


# The upgrade's keys (System_reset, Network_resetip) live with the device's firmware side.
from . import firmware  # noqa: E402  (after `key`, which it registers through)

firmware.register_keys(key)
