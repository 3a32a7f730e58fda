"""One simulated device: its model, credentials, state, and its HTTP and FTP servers."""

import os
import threading
import time
import zlib

from .auth import Authenticator
from .config_file import initial_config
from .faults import FaultTable
from .ftp_device import DeviceFTPServer
from .http_device import DeviceHTTPServer
from .pages.motion import default_motion
from .pages import firmware


class UartPort:
    def __init__(self):
        self.cond = threading.Condition()
        self.written = bytearray()   # what the device sent out on the serial line
        self.received = bytearray()  # what arrived from the serial line, not yet read
        self.echo = False


class Device:
    def __init__(self, desc, model, workdir, log):
        self.name = desc["name"]
        self.model = model
        self.model_name = f"{model.name}-{desc.get('version', 'V1.0.2')}"
        self.host_name = desc.get("hostname", self.name)
        self.clock_date = ""  # set through the parameter pages
        self.clock_time = ""
        crc = zlib.crc32(self.name.encode())
        self.mac = "00:02:D1:%02X:%02X:%02X" % ((crc >> 16) & 255, (crc >> 8) & 255, crc & 255)
        self.serial = f"SN{crc:08X}"
        self.user = desc.get("user", "root")
        self.password = desc.get("password", "pass")
        self.auth = Authenticator(desc.get("auth", "basic"), self.user, self.password,
                                  f"{model.name} {self.name}")
        self.http_port = int(desc.get("http", 0))
        self.ftp_port = int(desc.get("ftp", 0))
        self.log = log
        self.faults = FaultTable()
        self.lock = threading.Lock()
        self.di_levels = [0] * max(model["DiNum"], 4)
        self.di_case = "upper"
        self.di_form = "short"
        self.do_levels = [0] * max(model["DoNum"], 1)
        self.uart_ports = [UartPort() for _ in range(model["ComNum"])]
        self.ptz = {}  # camera number: position, zoom, last command (pages/ptz.py)
        self.motion = default_motion(model)  # pages/motion.py
        self.dir = os.path.join(workdir, self.name)
        self.ftp_root = os.path.join(self.dir, "ftp")
        self._http = None
        self._ftp = None
        self._restart = None
        self.down_until = 0.0
        self.closed = threading.Event()
        self.bind = desc.get("bind", "127.0.0.1")
        self.firmware = firmware.FirmwareState(desc)

    @property
    def config_path(self):
        return os.path.join(self.ftp_root, "config.ini")

    def start(self):
        """Opens the HTTP and FTP ports (port 0 takes free ones and keeps them for restarts)."""
        os.makedirs(self.ftp_root, exist_ok=True)
        # FTP first: a client that sees the HTTP port answer may use FTP at once.
        self._ftp = DeviceFTPServer(self, self.ftp_port)
        self.ftp_port = self._ftp.port
        self._http = DeviceHTTPServer(self, self.http_port)
        self.http_port = self._http.server_address[1]
        threading.Thread(target=self._http.serve_forever, kwargs={"poll_interval": 0.1},
                         name=f"http-{self.name}", daemon=True).start()
        if not os.path.exists(self.config_path):
            with open(self.config_path, "w", newline="") as f:
                f.write(initial_config(self))
            firmware.install_tree(self)

    def close(self):
        """Stops for good: a running restart does not open the ports again."""
        self.closed.set()
        if self._restart:
            self._restart.join(5)
        self.stop()

    def stop(self):
        if self._http:
            self._http.shutdown()
            self._http.drop_connections()
            self._http.server_close()
            self._http = None
        if self._ftp:
            self._ftp.stop()
            self._ftp = None

    def restart(self, seconds, before_stop=None, after_start=None):
        """Takes HTTP and FTP away for `seconds`, then opens the same ports again. The hooks
        run just before the ports close and just after they open again."""
        with self.lock:
            if self._restart and self._restart.is_alive():
                raise ValueError("a restart is already running")
            self.down_until = time.time() + seconds
            self._restart = threading.Thread(target=self._restart_run,
                                             args=(seconds, before_stop, after_start),
                                             name=f"restart-{self.name}", daemon=True)
            self._restart.start()

    def _restart_run(self, seconds, before_stop, after_start):
        self.log.add(self.name, "control", "RESTART", "", str(seconds))
        if before_stop:
            before_stop()
        self.stop()
        if self.closed.wait(seconds):
            return
        # The port may linger for a moment in the kernel after the close; retry briefly.
        for _ in range(50):
            try:
                self.start()
                break
            except OSError:
                self.stop()
                time.sleep(0.1)
        if after_start:
            after_start()
        self.down_until = 0.0
        self.log.add(self.name, "control", "RESTARTED", "")

    def describe(self):
        return {"name": self.name, "host": self.bind, "model": self.model.name, "model_name": self.model_name,
                "http": self.http_port, "ftp": self.ftp_port, "user": self.user,
                "password": self.password, "auth": self.auth.mode, "dir": self.dir,
                "ftp_root": self.ftp_root, "config": self.config_path,
                "down": self.down_until > time.time()}
