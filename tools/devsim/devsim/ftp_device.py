"""A device's FTP side: pyftpdlib serving the device's root folder with its credentials."""

import logging
import threading

from pyftpdlib.authorizers import AuthenticationFailed, DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.ioloop import IOLoop
from pyftpdlib.servers import FTPServer

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


def _handler_for(device):
    authorizer = _DeviceAuthorizer(device)
    authorizer.add_user(device.user, device.password, device.ftp_root, perm="elradfmwMT")

    class DeviceFTPHandler(FTPHandler):
        banner = f"{device.model_name} FTP server ready."
        passive_ports = None

        def pre_process_command(self, line, cmd, arg):
            shown = "****" if cmd == "PASS" else (arg or "")
            device.log.add(device.name, "ftp", cmd, shown)
            super().pre_process_command(line, cmd, arg)

    DeviceFTPHandler.authorizer = authorizer
    return DeviceFTPHandler


class DeviceFTPServer:
    """Runs on its own thread and IO loop, so that stopping it never races the loop."""

    def __init__(self, device, port):
        self._ioloop = IOLoop()
        self._server = FTPServer(("127.0.0.1", port), _handler_for(device), ioloop=self._ioloop)
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
