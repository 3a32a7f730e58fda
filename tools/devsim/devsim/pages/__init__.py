"""The device pages: a registry from request path to the function that answers it.

A page is a function page(req) -> Reply. It is registered either for a fixed path that
every device serves:

    @registry.path("/cgi-bin/sysinfo.cgi")
    def sysinfo(req): ...

or for the path that the device's model names in one of its record fields, so that each
model answers at its own path:

    @registry.model_path("GetDiUrl")
    def get_di(req): ...

A request to "/" or to any other path ending in ".cgi" is answered 200 with an empty body, so that the
generic operations can send commands the simulator has no page for; any other unknown path
answers 404, so that a client probing a page the device does not serve learns that it is not
there. A page module registers itself on import; add it to PAGE_MODULES below.
"""

import importlib
import urllib.parse


class Reply:
    def __init__(self, body=b"", status=200, content_type="text/plain", headers=None):
        self.body = body.encode("latin-1") if isinstance(body, str) else body
        self.status = status
        self.content_type = content_type
        self.headers = headers or {}


class Request:
    """What a page sees: the device, the method, path, query and body of the request."""

    def __init__(self, device, method, path, query, body, headers):
        self.device = device
        self.method = method
        self.path = path
        self.query = query
        self.body = body
        self.headers = headers
        # Values decoded as a form would be; repeated names keep their order.
        self.pairs = urllib.parse.parse_qsl(query, keep_blank_values=True, encoding="latin-1")

    def arg(self, name, default=None):
        """The first value of a query argument, or `default`."""
        return next((v for k, v in self.pairs if k == name), default)


class Registry:
    def __init__(self):
        self._fixed = {}
        self._by_field = {}

    def path(self, path):
        def register(page):
            self._fixed[path] = page
            return page
        return register

    def model_path(self, field):
        def register(page):
            self._by_field[field] = page
            return page
        return register

    def find(self, device, path):
        page = self._fixed.get(path)
        if page:
            return page
        for field, page in self._by_field.items():
            if device.model[field] and device.model[field] == path:
                return page
        return default_page


def default_page(req):
    if req.path.endswith(".cgi") or req.path == "/":
        return Reply(b"")
    return Reply(b"Not Found\r\n", status=404)


registry = Registry()

PAGE_MODULES = ("sysinfo", "dio", "uart", "config", "setparam")


def load_pages():
    for name in PAGE_MODULES:
        importlib.import_module(f"{__name__}.{name}")
