"""Host name, clock and password of the two older generations.

Series 3 answers "/setup/system.cgi" and "/setup/security.cgi", the oldest generation
"/cgi-bin/system.cgi" and "/cgi-bin/security.cgi"; every other model answers 404 there.
system.cgi takes host=, date= and time= (date and time only with method=menu);
security.cgi takes rootpass=. Values are checked as setparam.cgi checks them.
Both take POST only, each key at most once; method=menu comes once, right before the first
of date= and time=, as the library writes it. Anything else gets 400.
"""

from . import Reply, registry
from .setparam import (KeyHandler, apply_pairs, check_date, check_hostname, check_password,
                       check_time, request_pairs, set_date, set_hostname, set_password,
                       set_time)


def _generation(model):
    if model.name.startswith("KM7150") or model.name[2] > "3":
        return "new"
    return "series3" if model.name[2] == "3" else "old"


SYSTEM_KEYS = {
    "host": KeyHandler(set_hostname, check_hostname),
    "date": KeyHandler(set_date, check_date),
    "time": KeyHandler(set_time, check_time),
    "method": KeyHandler(lambda device, value: None,
                         lambda device, value: None if value == "menu" else _bad(value)),
}
SECURITY_KEYS = {"rootpass": KeyHandler(set_password, check_password)}


def _bad(value):
    raise ValueError(f"unknown value {value}")


def _misplaced(names, clock_needs_menu):
    """Why the order of the keys is not the library's, or None."""
    twice = sorted({name for name in names if names.count(name) > 1})
    if twice:
        return f"{', '.join(twice)} given twice"
    clock = [i for i, name in enumerate(names) if name in ("date", "time")]
    if not clock_needs_menu:
        return None
    if clock and "method" not in names:
        return "date and time need method=menu"
    if "method" in names and (not clock or names.index("method") != clock[0] - 1):
        return "method=menu belongs right before date or time"
    return None


def _page(generation, keys, clock_needs_menu=False):
    def page(req):
        if _generation(req.device.model) != generation:
            return Reply("Not Found\r\n", status=404)
        if req.method != "POST":
            return Reply(f"ERROR: {req.method} here takes POST only\r\n", status=400)
        pairs = request_pairs(req)
        names = [name for name, _ in pairs]
        wrong = _misplaced(names, clock_needs_menu)
        if wrong:
            return Reply(f"ERROR: {wrong}\r\n", status=400)
        refused = apply_pairs(req.device, pairs, keys)
        return refused or Reply("OK\r\n")
    return page


registry.path("/setup/system.cgi")(_page("series3", SYSTEM_KEYS, True))
registry.path("/cgi-bin/system.cgi")(_page("old", SYSTEM_KEYS, True))
registry.path("/setup/security.cgi")(_page("series3", SECURITY_KEYS))
registry.path("/cgi-bin/security.cgi")(_page("old", SECURITY_KEYS))
