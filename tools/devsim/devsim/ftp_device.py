"""A device's FTP side: pyftpdlib serving the device's root folder with its credentials."""

import logging
import os
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.ioloop import IOLoop
from pyftpdlib.servers import FTPServer

from .pages import firmware

logging.getLogger("pyftpdlib").setLevel(logging.WARNING)


def _handler_for(device):
    authorizer = DummyAuthorizer()
    authorizer.add_user(device.user, device.password, device.ftp_root, perm="elradfmwMT")

    class DeviceFTPHandler(FTPHandler):
        banner = f"{device.model_name} FTP server ready."
        passive_ports = None

        def on_connect(self):
            self.stored_names = []

        def pre_process_command(self, line, cmd, arg):
            shown = "****" if cmd == "PASS" else (arg or "")
            device.log.add(device.name, "ftp", cmd, shown)
            refusal = firmware.ftp_fault(device, cmd, arg) if self.authenticated else None
            if refusal:
                self.respond(refusal)
                return
            super().pre_process_command(line, cmd, arg)

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
