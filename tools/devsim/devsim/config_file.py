"""A device's configuration file ("config.ini" in its FTP root), written when it first starts.

Series below 4 use upper-case sections and spelled-out keys, series 4 and up lower-case
sections and compact keys. Section lines are [NAME], key lines <name>, then the value.
"""

from .pages import firmware


def initial_config(device):
    m = device.model
    if m.series < "4":
        ftp_key = "local ftp port" if m.series == "2" else "ftp port"
        sections = [
            ("SYSTEM", [("software version", device.model_name), ("host name", device.host_name)]),
            ("NETWORK", [(ftp_key, str(device.ftp_port)), ("http port", str(device.http_port))]
             + firmware.config_entries(device)),
        ]
    else:
        sections = [
            ("system", [("firmwareversion", device.model_name), ("hostname", device.host_name)]),
            ("network", [("localftpport", str(device.ftp_port)),
                         ("httpport", str(device.http_port))] + firmware.config_entries(device)),
        ]
    lines = []
    for name, keys in sections:
        lines.append(f"[{name}]")
        for key, value in keys:
            lines += [f"<{key}>", value]
        lines.append("")
    return "\r\n".join(lines)
