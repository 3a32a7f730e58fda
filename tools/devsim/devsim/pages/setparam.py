"""The parameter page, "/cgi-bin/admin/setparam.cgi": KEY=VALUE pairs in the query, each
applied by the handler registered for its key (firmware.py registers the upgrade's keys);
keys without a handler are accepted and change nothing."""

from . import Reply, registry
from . import firmware

PATH = "/cgi-bin/admin/setparam.cgi"
KEYS = {}


def key(name):
    def register(apply):
        KEYS[name] = apply
        return apply
    return register


firmware.register_keys(key)


@registry.path(PATH)
def setparam(req):
    for name, value in req.pairs:
        if name in KEYS:
            with req.device.lock:
                KEYS[name](req.device, value)
    return Reply("".join(f"{name}='{value}'\r\n" for name, value in req.pairs))
