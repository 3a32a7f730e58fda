"""Pan, tilt, zoom, presets and recall, at the model's PtzUrl, PresetUrl and RecallUrl.

The paths of the line-up are registered as fixed paths: a device answers one of them only
when its model names that path in the matching field, and 404 otherwise (a model without a
preset path has no preset page, whatever the path).

Each camera keeps a position (pan, tilt), a zoom step and the last command it took. Presets
are one list per device in its configuration file, 20 entries at most:
  series below 4: section "CAMERA CONTROL", key "presets", entries "(N)PAN,TILT,NAME";
  series 4 and up: section "camctrl", key "presetname", entries "(N)NAME".
addpos=NAME adds a preset at the camera's position (or moves one of that name); delpos=NAME
removes it, except on series 3, whose delpos names the entry's index. The "RQ48x3" form
presetnumber=N (signed decimal; and presetname=NAME) sets entry N, 400 outside 0-19.
recall=NAME moves the camera there.
An unknown preset, a camera number above the model's count or a malformed value gets 400.

Each page also takes only what the library sends there, so that a wrong request shows:
camera commands by GET, each with cam= but the two sethome commands; presets by POST, an
add or a delete as exactly cam= and addpos= or delpos=, the numbered form (presetnumber=,
presetname=) only on "RQ48x3" models; recall by GET as exactly cam= and recall=. A key given
twice is refused too. The zoom command's extra fragment stays free.
"""

import urllib.parse

from . import Reply, registry
from .. import config_file

PTZ_PATHS = ("/cgi-bin/camctrl.cgi", "/setup/camctrl.cgi", "/cgi-bin/camctrl/camctrl.cgi")
PRESET_PATHS = ("/cgi-bin/preset.cgi", "/setup/preset.cgi", "/cgi-bin/admin/preset.cgi")
RECALL_PATHS = ("/cgi-bin/recall.cgi",)
MAX_PRESETS = 20
STEP = 10

MOVES = {"up": (0, STEP), "down": (0, -STEP), "left": (-STEP, 0), "right": (STEP, 0)}
WORDS = {"zoom": ("tele", "wide"), "focus": ("near", "far", "auto"),
         "iris": ("open", "close", "auto"), "auto": ("pan", "stop", "patrol"),
         "sethome": ("define", "default")}
NUMBERS = ("panspeed", "speedpan", "tiltspeed", "speedtilt", "speedzoom", "speedfocus")


class BadRequest(Exception):
    pass


def _camera(req):
    """The camera's state, created on first use. Camera numbers run 0 to CamNum."""
    text = req.arg("cam", "0")
    if not text.isdigit() or int(text) > req.device.model["CamNum"]:
        raise BadRequest(f"bad camera {text}")
    fresh = {"pan": 0, "tilt": 0, "zoom": 0, "home": (0, 0), "last": ""}
    return req.device.ptz.setdefault(int(text), fresh)


def _served(req, field):
    return req.device.model[field] == req.path


def _fail(message):
    return Reply(f"ERROR: {message}\r\n", status=400)


def _keys(req):
    names = [name for name, _ in req.pairs]
    twice = {name for name in names if names.count(name) > 1}
    if twice:
        raise BadRequest(f"{', '.join(sorted(twice))} given twice")
    return set(names)


def _exactly(keys, wanted):
    if keys != set(wanted):
        raise BadRequest(f"keys {', '.join(sorted(keys))} where {', '.join(wanted)} are expected")


def _ptz(req, cam):
    keys = {name for name, _ in req.pairs}
    if "sethome" in keys:
        _exactly(_keys(req), ("sethome",))
    elif "cam" not in keys:
        raise BadRequest("cam expected")
    for name, value in req.pairs:
        if name == "cam":
            continue
        if name == "move":
            if value == "home":
                cam["pan"], cam["tilt"] = cam["home"]
            elif value in MOVES:
                cam["pan"] += MOVES[value][0]
                cam["tilt"] += MOVES[value][1]
            else:
                raise BadRequest(f"bad move {value}")
        elif name in WORDS:
            if value not in WORDS[name]:
                raise BadRequest(f"bad {name} {value}")
            if name == "zoom":
                cam["zoom"] += 1 if value == "tele" else -1
            if name == "sethome":
                cam["home"] = (cam["pan"], cam["tilt"]) if value == "define" else (0, 0)
        elif name in NUMBERS or name in ("x", "y"):
            # An empty speed leaves the speed as it is; a coordinate must be given.
            if (value or name in ("x", "y")) and not value.lstrip("-").isdigit():
                raise BadRequest(f"bad {name} {value}")
            if name in ("x", "y"):
                cam["pan" if name == "x" else "tilt"] = int(value)
        # Other pairs (the zoom request's extra fragment) are taken as they come.
        cam["last"] = req.query


def _preset_place(device):
    if device.model.series < "4":
        return "CAMERA CONTROL", "presets"
    return "camctrl", "presetname"


def _entry_name(device, text):
    return text.rsplit(",", 1)[-1] if device.model.series < "4" else text


def _entry(device, cam, name):
    if device.model.series < "4":
        return f"{cam['pan']},{cam['tilt']},{name}"
    return name


def read_presets(device):
    """{index: name} of the device's preset list."""
    section, key = _preset_place(device)
    entries = config_file.get_list(device.config_path, section, key)
    return {i: _entry_name(device, text) for i, text in entries.items()}


def _presets(req, cam):
    d = req.device
    section, key = _preset_place(d)
    entries = config_file.get_list(d.config_path, section, key)
    names = {i: _entry_name(d, text) for i, text in entries.items()}
    add, delete, number = req.arg("addpos"), req.arg("delpos"), req.arg("presetnumber")
    keys = _keys(req)
    if number is not None:
        if "RQ48x3" not in d.model.name:
            raise BadRequest("presetnumber is the RQ48x3 models' form")
        if not keys <= {"presetnumber", "presetname"}:
            raise BadRequest(f"keys {', '.join(sorted(keys))} beside presetnumber")
    elif add is not None:
        _exactly(keys, ("cam", "addpos"))
    elif delete is not None:
        _exactly(keys, ("cam", "delpos"))
    if number is not None:
        # Signed decimal, as the library writes it; the list has slots 0 to MAX_PRESETS - 1.
        try:
            slot = int(number, 10)
        except ValueError:
            raise BadRequest(f"bad preset number {number}") from None
        if not 0 <= slot < MAX_PRESETS:
            raise BadRequest(f"no preset slot {slot}")
        entries[slot] = _entry(d, cam, req.arg("presetname", ""))
    elif add is not None:
        if not add:
            raise BadRequest("empty preset name")
        index = next((i for i, n in names.items() if n == add), None)
        if index is None:
            index = next((i for i in range(MAX_PRESETS) if i not in entries), None)
        if index is None:
            raise BadRequest("preset list full")
        entries[index] = _entry(d, cam, add)
    elif delete is not None:
        if d.model.series == "3":
            index = int(delete) if delete.isdigit() else None
        else:
            index = next((i for i, n in names.items() if n == delete), None)
        if index not in entries:
            raise BadRequest(f"no preset {delete}")
        del entries[index]
    else:
        raise BadRequest("addpos, delpos or presetnumber expected")
    config_file.set_list(d.config_path, section, key, entries)


def _recall(req, cam):
    _exactly(_keys(req), ("cam", "recall"))
    d = req.device
    name = req.arg("recall")
    section, key = _preset_place(d)
    for text in config_file.get_list(d.config_path, section, key).values():
        if _entry_name(d, text) == name:
            if d.model.series < "4":
                pan, tilt, _ = text.split(",", 2)
                cam["pan"], cam["tilt"] = int(pan), int(tilt)
            cam["last"] = req.query
            return
    raise BadRequest(f"no preset {name}")


def _page(field, handler, method, form=False):
    def page(req):
        if not _served(req, field):
            return Reply("Not Found\r\n", status=404)
        if req.method != method:
            return _fail(f"{req.method} here takes {method} only")
        if form and req.body:
            req.pairs = list(req.pairs) + _form(req.body)
        try:
            with req.device.lock:
                handler(req, _camera(req))
        except BadRequest as e:
            return _fail(str(e))
        return Reply("OK\r\n")
    return page


def _form(body):
    return urllib.parse.parse_qsl(body.decode("latin-1"), keep_blank_values=True,
                                  encoding="latin-1")


for _path in PTZ_PATHS:
    registry.path(_path)(_page("PtzUrl", _ptz, "GET"))
for _path in PRESET_PATHS:
    registry.path(_path)(_page("PresetUrl", _presets, "POST", form=True))
for _path in RECALL_PATHS:
    registry.path(_path)(_page("RecallUrl", _recall, "GET"))


def state(device):
    """What the control port shows: each camera's position and the preset list."""
    with device.lock:
        cams = {str(n): {k: v for k, v in c.items() if k != "home"}
                for n, c in device.ptz.items()}
        return {"cameras": cams, "presets": {str(i): n for i, n in read_presets(device).items()}}
