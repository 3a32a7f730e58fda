"""A device's FTP side: pyftpdlib serving the device's root folder with its credentials, and
the FTP faults of the device's fault table (faults.py)."""

import logging
import os
import threading

from pyftpdlib.authorizers import AuthenticationFailed, DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.ioloop import IOLoop
from pyftpdlib.servers import FTPServer

from .pages import firmware

logging.getLogger("pyftpdlib").setLevel(logging.WARNING)


class _DeviceAuthorizer(DummyAuthorizer):
    """Checks the device's password as it is now: a password set through the device's
    pages changes its FTP login too."""

    def __init__(self, device):
        super().__init__()
        self._device = device

    def validate_authentication(self, username, password, handler):
        if username != self._device.user or password != self._device.password:
            raise AuthenticationFailed("Authentication failed.")


class _CutProducer:
    """Hands out the first bytes of a file, then fails: the data connection closes early and
    the server answers 426, as when a device's transfer breaks off."""

    def __init__(self, data):
        self._data = data

    def more(self):
        if self._data is None:
            raise OSError("data connection closed early (fault)")
        data, self._data = self._data, None
        return data


def _handler_for(device):
    authorizer = _DeviceAuthorizer(device)
    authorizer.add_user(device.user, device.password, device.ftp_root, perm="elradfmwMT")

    class DeviceFTPHandler(FTPHandler):
        banner = f"{device.model_name} FTP server ready."
        passive_ports = None

        def on_connect(self):
            self.stored_names = []

        def pre_process_command(self, line, cmd, arg):
            shown = "****" if cmd == "PASS" else (arg or "")
            fault = device.faults.take_ftp("no_answer", cmd)
            device.log.add(device.name, "ftp", cmd, shown, fault="no_answer" if fault else None)
            if fault:
                return
            if cmd == "PASS" and device.faults.take_ftp("refuse_login", cmd):
                self.respond("530 Authentication failed.")
                return
            name = (arg or "").rstrip("/").split("/")[-1]
            if self.authenticated and device.faults.take_ftp("refuse", cmd, name):
                self.respond("550 Permission denied.")
                return
            if self.authenticated and device.faults.take_ftp("drop", cmd, name):
                self.close()
                return
            super().pre_process_command(line, cmd, arg)

        def ftp_RETR(self, file):
            fault = device.faults.take_ftp("close_data", "RETR")
            if not fault:
                return super().ftp_RETR(file)
            try:
                with open(file, "rb") as f:
                    data = f.read(fault["close_after"])
            except OSError as err:
                self.respond(f"550 {err.strerror}.")
                return None
            self.push_dtp_data(_CutProducer(data), isproducer=True, cmd="RETR")
            return file

        def ftp_STOR(self, file, mode="w"):
            if device.faults.take_ftp("refuse_stor", "STOR"):
                self.respond("550 Permission denied.")
                return None
            return super().ftp_STOR(file, mode)

        def on_file_received(self, file):
            self.stored_names.append(os.path.basename(file))

        def on_disconnect(self):
            firmware.ftp_session_ended(device, getattr(self, "stored_names", []))

    DeviceFTPHandler.authorizer = authorizer
    return DeviceFTPHandler


class DeviceFTPServer:
    """Runs on its own thread and IO loop, so that stopping it never races the loop."""

    def __init__(self, device, port):
        self._ioloop = IOLoop()
        self._server = FTPServer((device.bind, port), _handler_for(device), ioloop=self._ioloop)
        self.port = self._server.address[1]
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, name=f"ftp-{device.name}", daemon=True)
        self._thread.start()

    def _run(self):
        while not self._stop.is_set():
            self._ioloop.loop(timeout=0.1, blocking=False)
        self._server.close_all()

    def stop(self):
        self._stop.set()
        self._thread.join(5)
