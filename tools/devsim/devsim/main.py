"""kavrel-devsim: the command line, start-up, the ready line, signals and the watchdog."""

import argparse
import json
import os
import signal
import sys
import tempfile
import threading

from . import models as models_mod
from .auth import MODES
from .control import ControlServer
from .device import Device
from .pages import firmware, load_pages
from .pages.sysinfo import sysinfo_text
from .reqlog import RequestLog

READY_PREFIX = "KAVREL-DEVSIM READY "

EPILOG = """\
device DESC: comma-separated key=value pairs:
  model=SERVER_TYPE   a model of the line-up, e.g. KM3111 (required)
  name=NAME           device name, used by the control port (default dev1, dev2, ...)
  http=PORT ftp=PORT  ports on 127.0.0.1 (default 0: free ports, shown in the ready line)
  user=U password=P   credentials for HTTP and FTP (default root / pass)
  auth=MODE           basic (default), digest (MD5), digest-sha256, none
  version=V           model name is MODEL-V (default V1.0.2)
  hostname=H          host name reported by the device (default its name)
  down=S newversion=V install=yes|no resetip=0|1 subnet=A router=A ipaddress=A iface=NAME
                      firmware upgrade behaviour (devsim/pages/firmware.py)

When every device is up, one line is printed on stdout (and written to --ready-file):
  KAVREL-DEVSIM READY {"control": PORT, "workdir": DIR, "devices": [...]}
Example:
  kavrel-devsim --device model=KM3111 --device model=KM4130,auth=digest,user=admin
"""


def parse_spec(text, index):
    desc = {"name": f"dev{index}"}
    for item in text.split(","):
        key, sep, value = item.partition("=")
        if not sep or not key:
            raise ValueError(f"device description item '{item}' is not key=value")
        if key not in ("model", "name", "http", "ftp", "user", "password", "auth", "version",
                       "hostname") + firmware.DESC_KEYS:
            raise ValueError(f"unknown device description key '{key}'")
        desc[key] = value
    if "model" not in desc:
        raise ValueError("a device description needs model=...")
    firmware.validate_desc(desc)
    if desc.get("auth", "basic") not in MODES:
        raise ValueError(f"auth is one of {', '.join(MODES)}")
    for key in ("http", "ftp"):
        if key in desc and (not desc[key].isdigit() or int(desc[key]) > 65535):
            raise ValueError(f"{key} must be a port number")
    return desc


def build_parser():
    p = argparse.ArgumentParser(
        prog="kavrel-devsim", formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Network cameras and video servers of the Kavrel model line-up, "
                    "on 127.0.0.1, for tests and integration without hardware.",
        epilog=EPILOG)
    p.add_argument("--device", action="append", default=[], metavar="DESC",
                   help="a device to play (repeatable); see below")
    p.add_argument("--control-port", type=int, default=0, help="control port (default: free)")
    p.add_argument("--bind", default="127.0.0.1", metavar="ADDR",
                   help="address of every port, the control port's too (default 127.0.0.1)")
    p.add_argument("--workdir", help="folder for device files and the request log "
                                     "(default: a new temporary folder)")
    p.add_argument("--request-log", help="request log file (default WORKDIR/requests.jsonl)")
    p.add_argument("--many", action="append", default=[], metavar="MODEL=COUNT[,KEY=VALUE...]",
                   help="COUNT devices of MODEL at once, named MODEL-NN, with the options of --device "
                        "after a comma (repeatable)")
    p.add_argument("--inventory", metavar="FILE",
                   help="write a kavrel fleet inventory of every device to FILE")
    p.add_argument("--ready-file", help="also write the ready line's JSON to this file")
    p.add_argument("--parent-pid", type=int, help="exit when this process is gone")
    p.add_argument("--models-file", help="model data file (default: MORVANE_MODELS_FILE, "
                                         "else Morvane/data/morvane-models.ini)")
    p.add_argument("--list-models", action="store_true", help="print the line-up and exit")
    p.add_argument("--print-sysinfo", metavar="MODEL",
                   help="print the system information text of a device of MODEL and exit")
    return p


class Simulator:
    def __init__(self, args, line_up):
        self.workdir = args.workdir or tempfile.mkdtemp(prefix="kavrel-devsim-")
        os.makedirs(self.workdir, exist_ok=True)
        self.log = RequestLog(args.request_log or os.path.join(self.workdir, "requests.jsonl"))
        self.devices = {}
        self._stop = threading.Event()
        specs = args.device + many_specs(args.many)
        for index, text in enumerate(specs or ["model=KM3111"], 1):
            desc = parse_spec(text, index)
            desc["bind"] = args.bind
            model = line_up.get(desc["model"])
            if model is None:
                raise ValueError(f"unknown model {desc['model']}; --list-models shows the line-up")
            if desc["name"] in self.devices:
                raise ValueError(f"device name {desc['name']} used twice")
            self.devices[desc["name"]] = Device(desc, model, self.workdir, self.log)
        self.control = ControlServer(args.control_port, self, args.bind)

    def start(self):
        for device in self.devices.values():
            device.start()
        self.control.start()

    def ready_info(self):
        return {"control": self.control.server_address[1], "workdir": self.workdir,
                "pid": os.getpid(), "devices": [d.describe() for d in self.devices.values()]}

    def request_stop(self):
        self._stop.set()

    def wait(self):
        while not self._stop.wait(0.5):
            pass

    def close(self):
        self.control.shutdown()
        self.control.server_close()
        for device in self.devices.values():
            device.close()
        self.log.close()


def watch_parent(pid, sim):
    def run():
        while not sim._stop.wait(0.5):
            try:
                os.kill(pid, 0)
            except ProcessLookupError:
                sim.request_stop()
                return
            except PermissionError:
                pass
    threading.Thread(target=run, name="parent-watchdog", daemon=True).start()


def many_specs(counts):
    """--many MODEL=COUNT as device descriptions, named after the model and a number."""
    specs = []
    for text in counts:
        head, _, rest = text.partition(",")
        model, sep, count = head.partition("=")
        if not sep or not count.isdigit() or int(count) < 1:
            raise ValueError(f"bad --many {text}: give MODEL=COUNT[,KEY=VALUE...]")
        for n in range(1, int(count) + 1):
            specs.append(f"model={model},name={model.lower()}-{n:02d}" + ("," + rest if rest else ""))
    return specs


def write_inventory(path, info):
    """The devices as a kavrel fleet inventory; each password in a file of its device."""
    lines = ["name,host,http_port,ftp_port,user,type,password_file"]
    for d in info["devices"]:
        secret = os.path.join(d["dir"], "password")
        with open(secret, "w") as f:
            f.write(d["password"] + "\n")
        lines.append(f"{d['name']},{d['host']},{d['http']},{d['ftp']},{d['user']},{d['model']},{secret}")
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write("\n".join(lines) + "\n")
    os.replace(tmp, path)


def write_ready_file(path, info):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        json.dump(info, f)
    os.replace(tmp, path)


def main(argv=None):
    args = build_parser().parse_args(argv)
    try:
        line_up = models_mod.load(args.models_file)
    except (OSError, ValueError) as e:
        print(f"kavrel-devsim: cannot read the model data file: {e}", file=sys.stderr)
        return 2
    if args.list_models:
        for m in line_up.values():
            mapped = f" (maps to {m.maps_to})" if m.maps_to else ""
            print(f"{m.name}  series {m.series}  cams {m['CamNum']}  com {m['ComNum']}  "
                  f"di {m['DiNum']}  do {m['DoNum']}  config {m.config_by}{mapped}")
        return 0
    load_pages()
    if args.print_sysinfo:
        try:
            desc = parse_spec(f"model={args.print_sysinfo}", 1)
            model = line_up[desc["model"]]
        except (ValueError, KeyError):
            print(f"kavrel-devsim: unknown model {args.print_sysinfo}", file=sys.stderr)
            return 2
        sys.stdout.write(sysinfo_text(Device(desc, model, tempfile.gettempdir(), None)))
        return 0
    try:
        sim = Simulator(args, line_up)
    except (OSError, ValueError) as e:
        print(f"kavrel-devsim: {e}", file=sys.stderr)
        return 2
    signal.signal(signal.SIGTERM, lambda *_: sim.request_stop())
    signal.signal(signal.SIGINT, lambda *_: sim.request_stop())
    try:
        sim.start()
    except OSError as e:
        print(f"kavrel-devsim: cannot open a port: {e}", file=sys.stderr)
        sim.close()
        return 2
    if args.parent_pid:
        watch_parent(args.parent_pid, sim)
    info = ready_info = sim.ready_info()
    if args.inventory:
        write_inventory(args.inventory, ready_info)
    if args.ready_file:
        write_ready_file(args.ready_file, ready_info)
    print(READY_PREFIX + json.dumps(info), flush=True)
    sim.wait()
    sim.close()
    print("kavrel-devsim: stopped", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
