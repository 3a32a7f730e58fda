"""A device's configuration file ("config.ini" in its FTP root), written when it first starts.

Series below 4 use upper-case sections and spelled-out keys, series 4 and up lower-case
sections and compact keys. Section lines are [NAME], key lines <name>, then the value.
"""

import os
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


# ---- Reading and changing single values, as the device's own CGIs do ----------------------
#
# The file is small, so each change reads it whole and writes it back whole (under the
# device's lock, which the callers hold). Names compare case-insensitively; indexed values
# are lines "(N)text". The file keeps its CR LF line ends.

def _read_lines(path):
    try:
        with open(path, newline="") as f:
            lines = f.read().replace("\r\n", "\n").split("\n")
    except FileNotFoundError:
        return []
    while lines and lines[-1] == "":
        lines.pop()
    return lines


def _write_lines(path, lines):
    while lines and lines[-1] == "":
        lines.pop()
    tmp = path + ".tmp"
    with open(tmp, "w", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")
    os.replace(tmp, path)


def _find_key(lines, section, key):
    """(index of the key line or None, index just past the section or None)."""
    in_section, section_end = False, None
    for i, line in enumerate(lines):
        if line.startswith("[") and line.endswith("]"):
            if in_section:
                return None, section_end
            in_section = line[1:-1].lower() == section.lower()
            section_end = i + 1 if in_section else section_end
            continue
        if in_section:
            if line.startswith("<") and line.endswith(">") and line[1:-1].lower() == key.lower():
                return i, section_end
            if line:
                section_end = i + 1
    return None, section_end


def _values_after(lines, key_line):
    """The indexes of the value lines of the key at `key_line`."""
    i = key_line + 1
    while i < len(lines) and lines[i] and not lines[i].startswith(("<", "[")):
        i += 1
    return range(key_line + 1, i)


def get_value(path, section, key):
    """The first value of a key, or None."""
    lines = _read_lines(path)
    at, _ = _find_key(lines, section, key)
    if at is None:
        return None
    rows = _values_after(lines, at)
    return lines[rows[0]] if rows else ""


def set_value(path, section, key, value):
    """Sets a plain value, adding the section and key when missing."""
    lines = _read_lines(path)
    at, end = _find_key(lines, section, key)
    if at is not None:
        rows = _values_after(lines, at)
        lines[at + 1:rows.stop] = [value]
    elif end is not None:
        lines[end:end] = [f"<{key}>", value]
    else:
        lines += ["", f"[{section}]", f"<{key}>", value]
    _write_lines(path, lines)


def get_list(path, section, key):
    """An indexed list as {index: text}."""
    lines = _read_lines(path)
    at, _ = _find_key(lines, section, key)
    entries = {}
    if at is None:
        return entries
    for row in _values_after(lines, at):
        index, sep, text = lines[row][1:].partition(")")
        if lines[row].startswith("(") and sep and index.isdigit():
            entries[int(index)] = text
    return entries


def set_list(path, section, key, entries):
    """Replaces an indexed list with {index: text} (an empty dict leaves the key empty)."""
    lines = _read_lines(path)
    rows = [f"({i}){entries[i]}" for i in sorted(entries)]
    at, end = _find_key(lines, section, key)
    if at is not None:
        old = _values_after(lines, at)
        lines[at + 1:old.stop] = rows
    elif end is not None:
        lines[end:end] = [f"<{key}>"] + rows
    else:
        lines += ["", f"[{section}]", f"<{key}>"] + rows
    _write_lines(path, lines)
