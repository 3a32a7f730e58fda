"""The device side of a firmware upgrade.

Installed firmware: every device's FTP root holds a firmware tree when it first starts
(top-level files, "/www" and nested directories), which an upgrade deletes, replaces and adds
to over FTP. The device restarts (its HTTP and FTP away for its down time, the link of its
interface taken down and up when it names one) on:
  - "System_reset" of setparam.cgi (any value);
  - the end of an FTP session that stored firmware (any file but "config.ini"), on series 3
    and below; on series 4 and up only for a whole-file upload ("flash.pkg",
    "flashall.bin"), and only when no System_reset follows within a second.
After a restart the device reports the version of its "newversion" option, when given.

"Network_resetip" of setparam.cgi (with "Network_subnet" and "Network_router") writes the
configuration's "resetip" (and "subnet", "router" when given).

Device description keys (see main.py):
  down=S            seconds a restart keeps the device away (default 2)
  newversion=V      the version reported after a restart (model name MODEL-V)
  install=yes|no    the "install enabled" value of series 3 and below (default NO)
  resetip=0|1 subnet=A router=A ipaddress=A   the network values of series 4 and up
                    (defaults 0, 255.255.255.0, empty, empty); "subnet=" makes it empty
  iface=NAME        the network interface the restart takes down and brings up again

A refused delete is an FTP fault of the device's fault table (faults.py):
{"ftp": "refuse", "command": "DELE", "name": "logo.gif"}.

Control port: GET /devices/NAME/firmware tells the restarts the device made after upgrades
(why: "System_reset" or "ftp-session") and the model name it reports.
"""

import os
import subprocess
import threading


DESC_KEYS = ("down", "newversion", "install", "resetip", "subnet", "router", "ipaddress", "iface")
WHOLE_FILE_NAMES = ("flash.pkg", "flashall.bin")
SESSION_RESET_GRACE = 1.0

# The firmware a device ships with: path below the FTP root -> content.
INSTALLED_TREE = {
    "boot.cfg": b"boot=flash\n",
    "app.bin": b"APP-OLD" * 64,
    "www/index.html": b"<html>old index</html>\n",
    "www/old.html": b"<html>old page</html>\n",
    "www/images/logo.gif": b"GIF89a-old-logo",
    "www/images/icons/cam.gif": b"GIF89a-old-cam",
    "cgi/old.cgi": b"#!old\n",
}


class FirmwareState:
    """What a device keeps of its firmware options and of the upgrades it has seen."""

    def __init__(self, desc):
        self.down = float(desc.get("down", 2))
        self.new_version = desc.get("newversion")
        self.install = desc.get("install", "NO")
        self.resetip = desc.get("resetip", "0")
        self.subnet = desc.get("subnet", "255.255.255.0")
        self.router = desc.get("router", "")
        self.ipaddress = desc.get("ipaddress", "")
        self.iface = desc.get("iface")
        self.lock = threading.Lock()
        self.resets = []         # why each restart happened: "System_reset" or "ftp-session"
        self.pending = None      # a session-end restart waiting for its grace period


def validate_desc(desc):
    if "down" in desc:
        float(desc["down"])
    if desc.get("install", "NO").upper() not in ("YES", "NO"):
        raise ValueError("install is yes or no")


def config_entries(device):
    """The network values that choose an upgrade's route, for the initial configuration."""
    fw = device.firmware
    if device.model.series < "4":
        return [("install enabled", fw.install)]
    return [("resetip", fw.resetip), ("subnet", fw.subnet), ("router", fw.router),
            ("ipaddress", fw.ipaddress)]


def install_tree(device):
    """Writes the installed firmware into a new device's FTP root."""
    for rel, data in INSTALLED_TREE.items():
        path = os.path.join(device.ftp_root, *rel.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


# ---- restarts -------------------------------------------------------------------------

def _link(device, state):
    iface = device.firmware.iface
    if not iface:
        return
    result = subprocess.run(["ip", "link", "set", iface, state], capture_output=True, text=True)
    device.log.add(device.name, "control", "LINK", iface, state, status=result.returncode)


def restart_after_upgrade(device, reason):
    fw = device.firmware
    with fw.lock:
        if fw.pending:
            fw.pending.cancel()
            fw.pending = None
        fw.resets.append(reason)
    try:
        device.restart(fw.down, before_stop=lambda: _link(device, "down"),
                       after_start=lambda: _after_restart(device))
    except ValueError:
        pass  # a restart already runs: the device is away anyway


def _after_restart(device):
    fw = device.firmware
    if fw.new_version:
        device.model_name = f"{device.model.name}-{fw.new_version}"
    _link(device, "up")


def _schedule_session_restart(device):
    fw = device.firmware
    with fw.lock:
        if fw.pending:
            return
        timer = threading.Timer(SESSION_RESET_GRACE, restart_after_upgrade,
                                (device, "ftp-session"))
        timer.daemon = True
        fw.pending = timer
    timer.start()


def ftp_session_ended(device, stored):
    """Called when an FTP session ends, with the names of the files it stored."""
    firmware = [name for name in stored if name.lower() != "config.ini"]
    if not firmware:
        return
    if device.model.series < "4":
        restart_after_upgrade(device, "ftp-session")
    elif any(name.lower() in WHOLE_FILE_NAMES for name in firmware):
        _schedule_session_restart(device)


def control(device, method, rest, body):
    """The control routes below /devices/NAME/firmware."""
    fw = device.firmware
    if not rest and method == "GET":
        with fw.lock:
            return {"resets": list(fw.resets), "model_name": device.model_name}
    raise KeyError("unknown firmware control path")


# ---- setparam.cgi ---------------------------------------------------------------------

def _set_config_value(path, section, key, value):
    """Sets one value of a configuration file, adding the key to its section when missing."""
    with open(path, newline="") as f:
        lines = f.read().split("\r\n")
    current, where, section_end = None, None, None
    for i, line in enumerate(lines):
        if line.startswith("["):
            current = line.strip("[]").lower()
            if current == section.lower():
                section_end = i + 1
            continue
        if current == section.lower():
            if line.lower() == f"<{key.lower()}>" and i + 1 < len(lines):
                where = i + 1
            if line:
                section_end = i + 1
    if where is not None:
        lines[where] = value
    elif section_end is not None:
        lines[section_end:section_end] = [f"<{key}>", value]
    else:
        lines += [f"[{section}]", f"<{key}>", value, ""]
    with open(path, "w", newline="") as f:
        f.write("\r\n".join(lines))


def _schedule_reset(device, value):
    """System_reset: the device restarts once the reply is out, as a device answers before it
    goes down. A session-end restart waiting for its grace period gives way to this one."""
    with device.firmware.lock:
        if device.firmware.pending:
            device.firmware.pending.cancel()
            device.firmware.pending = None
    timer = threading.Timer(0.2, restart_after_upgrade, (device, "System_reset"))
    timer.daemon = True
    timer.start()


def _network_setter(key):
    def apply(device, value):
        _set_config_value(device.config_path, "network", key, value)
    return apply


# The firmware keys of setparam.cgi: name -> apply(device, value).
SETPARAM_KEYS = {
    "System_reset": _schedule_reset,
    "Network_resetip": _network_setter("resetip"),
    "Network_subnet": _network_setter("subnet"),
    "Network_router": _network_setter("router"),
}


def register_keys(key):
    """Registers the keys with setparam.cgi's key registry (`key(name)(apply)`)."""
    for name, apply in SETPARAM_KEYS.items():
        key(name)(apply)
