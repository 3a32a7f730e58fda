"""Host name, clock and password of the two older generations.

Series 3 answers "/setup/system.cgi" and "/setup/security.cgi", the oldest generation
"/cgi-bin/system.cgi" and "/cgi-bin/security.cgi"; every other model answers 404 there.
system.cgi takes host=, date= and time= (date and time only with method=menu);
security.cgi takes rootpass=. Values are checked as setparam.cgi checks them.
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


def _page(generation, keys, clock_needs_menu=False):
    def page(req):
        if _generation(req.device.model) != generation:
            return Reply("Not Found\r\n", status=404)
        pairs = request_pairs(req)
        names = [name for name, _ in pairs]
        if clock_needs_menu and ("date" in names or "time" in names) and "method" not in names:
            return Reply("ERROR: date and time need method=menu\r\n", status=400)
        refused = apply_pairs(req.device, pairs, keys)
        return refused or Reply("OK\r\n")
    return page


registry.path("/setup/system.cgi")(_page("series3", SYSTEM_KEYS, True))
registry.path("/cgi-bin/system.cgi")(_page("old", SYSTEM_KEYS, True))
registry.path("/setup/security.cgi")(_page("series3", SECURITY_KEYS))
registry.path("/cgi-bin/security.cgi")(_page("old", SECURITY_KEYS))
