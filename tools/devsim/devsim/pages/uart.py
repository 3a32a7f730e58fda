"""Serial passthrough at the model's UartUrl.

Query: com=N (1 to the model's ComNum), then any of data=TEXT (written to the port), read=N
(answer with up to N bytes received from the port), wait=MS (when nothing has been received,
wait up to MS milliseconds for data), flush=yes (discard what was received before). The
steps run in the order flush, write, wait, read. Each port keeps what was written to it
(the control port reads it) and a receive buffer (the control port feeds it; with echo on,
written data is received back as if the port were looped).
"""

from . import Reply, registry

MAX_WAIT_MS = 30000


def _int_arg(req, name):
    value = req.arg(name)
    if value is None:
        return None
    if not value.isdigit():
        raise ValueError(name)
    return int(value)


@registry.model_path("UartUrl")
def uart(req):
    d = req.device
    try:
        port = _int_arg(req, "com")
        read = _int_arg(req, "read")
        wait = _int_arg(req, "wait") or 0
    except ValueError as e:
        return Reply(f"ERROR: bad {e}\r\n", status=400)
    if port is None or not 1 <= port <= d.model["ComNum"]:
        return Reply("ERROR: bad com\r\n", status=400)
    p = d.uart_ports[port - 1]
    data = req.arg("data")
    with p.cond:
        if req.arg("flush") == "yes":
            p.received.clear()
        if data is not None:
            raw = data.encode("latin-1")
            p.written += raw
            if p.echo:
                p.received += raw
                p.cond.notify_all()
        if read is None:
            return Reply("OK\r\n")
        if not p.received and wait:
            p.cond.wait_for(lambda: bool(p.received), min(wait, MAX_WAIT_MS) / 1000.0)
        answer = bytes(p.received[:read])
        del p.received[:read]
    return Reply(answer, content_type="application/octet-stream")
