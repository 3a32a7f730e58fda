"""The parameter page, "/cgi-bin/admin/setparam.cgi": each module with keys of its own
answers them; the firmware keys (System_reset, Network_resetip) are in firmware.py."""

from . import Reply, registry
from .firmware import SETPARAM_PATH
from .firmware import setparam as firmware_setparam


@registry.path(SETPARAM_PATH)
def setparam(req):
    reply = firmware_setparam(req)
    return reply if reply is not None else Reply("OK\r\n")
