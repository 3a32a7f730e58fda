"""Motion detection: the form page of series 2, the window CGIs of every other model.

Form-page kind (third character '2', not "KM7150"): "/setup/motion.html" is an HTML form
whose inputs "per" and "sen" carry the percentage and the sensitivity of the one detection
area; "/cgi-bin/motion.cgi" takes per=N&sen=N. Window kind: three named rectangles, read
from getmd.cgi and written through setmd.cgi, under "/cgi-bin/admin/" for series above 3
and "/setup/" otherwise. Each model answers 404 on the paths of the other kind and on the
other generation's paths.

getmd's reply: a 12-character preamble, then one "key=value" line per field, ended by LF, in
the cycle index, name, x, y, w, h, percent, sensitivity for each window. A disabled window
has an empty name and zeros. The reader goes by position, so the control port can rename
the keys ("keys": "alt") or replace the whole reply ("getmd_text") to show that.
setmd.cgi takes iN, nN, xN, yN, wN, hN, pN, tN for windows N = 1 to 3 (iN is N - 1); an
empty nN disables window N.

As the library sends them: getmd.cgi and setmd.cgi by GET, setmd.cgi with every one of its
24 keys exactly once and no other (a missing number is refused, not taken as 0), numbers in
signed decimal and not negative; motion.cgi by POST with per= and sen= alone. Anything else
gets 400.
"""

import urllib.parse

from . import Reply, registry

PREAMBLE = "[getmd 1.0]\n"  # 12 characters
KEYS = ("win_i", "win_name", "win_x", "win_y", "win_w", "win_h", "win_percent",
        "win_sensitivity")
ALT_KEYS = ("index", "label", "left", "top", "width", "height", "objsize", "sense")
NUMBERS = ("x", "y", "w", "h", "percent", "sensitivity")
LIMIT = 1021


def form_kind(model):
    return not model.name.startswith("KM7150") and model.name[2] == "2"


def default_motion(model):
    windows = [{"name": "", "x": 0, "y": 0, "w": 0, "h": 0, "percent": 0, "sensitivity": 0}
               for _ in range(1 if form_kind(model) else 3)]
    windows[0].update(name="Entrance", x=16, y=16, w=160, h=120, percent=30, sensitivity=70)
    return {"windows": windows, "keys": "default", "getmd_text": None}


def _window_paths(model):
    base = "/cgi-bin/admin/" if model.series > "3" else "/setup/"
    return base + "getmd.cgi", base + "setmd.cgi"


def _not_found():
    return Reply("Not Found\r\n", status=404)


def getmd_text(device):
    md = device.motion
    if md["getmd_text"] is not None:
        return md["getmd_text"]
    keys = ALT_KEYS if md["keys"] == "alt" else KEYS
    lines = []
    for i, w in enumerate(md["windows"]):
        values = (i, w["name"], w["x"], w["y"], w["w"], w["h"], w["percent"], w["sensitivity"])
        lines += [f"{k}={v}\n" for k, v in zip(keys, values)]
    text = PREAMBLE + "".join(lines)
    assert len(text) <= LIMIT, "getmd reply over its limit"
    return text


SETMD_KEYS = {f"{letter}{n}" for n in (1, 2, 3) for letter in "inxywhpt"}


def _check_setmd_keys(pairs):
    names = [name for name, _ in pairs]
    twice = sorted({name for name in names if names.count(name) > 1})
    if twice:
        raise ValueError(f"{', '.join(twice)} given twice")
    missing, unknown = SETMD_KEYS - set(names), set(names) - SETMD_KEYS
    if missing:
        raise ValueError(f"missing {', '.join(sorted(missing))}")
    if unknown:
        raise ValueError(f"unknown {', '.join(sorted(unknown))}")


def _number(text, key):
    try:
        value = int(text, 10)
    except ValueError:
        raise ValueError(f"{key} is not a number") from None
    if value < 0:
        raise ValueError(f"{key} is negative")
    return value


def _window_from(pairs, n):
    """Window N's values from setmd's pairs, or raises ValueError."""
    values = dict(pairs)
    if values.get(f"i{n}") != str(n - 1):
        raise ValueError(f"i{n} must be {n - 1}")
    name = values.get(f"n{n}", "")
    if len(name) > 15:
        raise ValueError(f"n{n} too long")
    window = {"name": name}
    for key, letter in zip(NUMBERS, "xywhpt"):
        window[key] = _number(values[f"{letter}{n}"], f"{letter}{n}")
    if not name:
        window.update({k: 0 for k in NUMBERS})
    return window


def _getmd(req, want):
    d = req.device
    if form_kind(d.model) or _window_paths(d.model)[want] != req.path:
        return None
    if req.method != "GET":
        return Reply(f"ERROR: {req.method} here takes GET only\r\n", status=400)
    if want == 0:
        with d.lock:
            return Reply(getmd_text(d))
    try:
        _check_setmd_keys(req.pairs)
        windows = [_window_from(req.pairs, n) for n in (1, 2, 3)]
    except ValueError as e:
        return Reply(f"ERROR: {e}\r\n", status=400)
    with d.lock:
        d.motion["windows"] = windows
    return Reply("OK\r\n")


for _want, _paths in ((0, ("/setup/getmd.cgi", "/cgi-bin/admin/getmd.cgi")),
                      (1, ("/setup/setmd.cgi", "/cgi-bin/admin/setmd.cgi"))):
    for _path in _paths:
        registry.path(_path)(lambda req, want=_want: _getmd(req, want) or _not_found())


FORM_PAGE = """<html><head><title>Motion detection</title></head><body>
<form method="post" action="/cgi-bin/motion.cgi">
<p>Percentage of object size over screen:
<input type="text" name="per" value="{percent}" size="3"></p>
<p>Sensitivity:
<input type="text" name="sen" value="{sensitivity}" size="3"></p>
<input type="submit" value="Save">
</form></body></html>
"""


@registry.path("/setup/motion.html")
def motion_page(req):
    d = req.device
    if not form_kind(d.model):
        return _not_found()
    with d.lock:
        w = d.motion["windows"][0]
        return Reply(FORM_PAGE.format(**w), content_type="text/html")


@registry.path("/cgi-bin/motion.cgi")
def motion_set(req):
    d = req.device
    if not form_kind(d.model):
        return _not_found()
    if req.method != "POST":
        return Reply(f"ERROR: {req.method} here takes POST only\r\n", status=400)
    pairs = list(req.pairs) + urllib.parse.parse_qsl(req.body.decode("latin-1"),
                                                      keep_blank_values=True)
    if sorted(name for name, _ in pairs) != ["per", "sen"]:
        return Reply("ERROR: per and sen expected, once each and alone\r\n", status=400)
    pairs = dict(pairs)
    per, sen = pairs["per"], pairs["sen"]
    if not per.isdigit() or not sen.isdigit() or int(per) > 100 or int(sen) > 100:
        return Reply("ERROR: per and sen are 0 to 100\r\n", status=400)
    with d.lock:
        d.motion["windows"][0].update(percent=int(per), sensitivity=int(sen))
    return Reply("OK\r\n")


def control(device, method, body):
    """The control port's view: GET the state; POST {"windows": [...], "keys": "default" or
    "alt", "getmd_text": text or null} to change it (each key optional)."""
    with device.lock:
        md = device.motion
        if method == "POST":
            if "windows" in body:
                windows = body["windows"]
                if not isinstance(windows, list) or len(windows) != len(md["windows"]):
                    raise ValueError(f"windows: a list of {len(md['windows'])} objects")
                md["windows"] = [_checked_window(w) for w in windows]
            if body.get("keys") not in (None, "default", "alt"):
                raise ValueError("keys is default or alt")
            md["keys"] = body.get("keys") or md["keys"]
            if "getmd_text" in body:
                md["getmd_text"] = body["getmd_text"]
        return {"windows": md["windows"], "keys": md["keys"], "getmd_text": md["getmd_text"]}


def _checked_window(w):
    out = {"name": str(w.get("name", ""))}
    for key in NUMBERS:
        out[key] = int(w.get(key, 0))
    return out
