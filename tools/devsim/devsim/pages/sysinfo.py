"""The system information page, "/cgi-bin/sysinfo.cgi".

Its text is lines of "key=value" ended by CR LF, in this order: model, hostname, mac,
serial, cameras, comports, inputs, outputs, motionwindows, videocodec, audiocodec,
videourl, audiourl. Morvane_ParseSysInfo reads it (morvane.h documents the keys). The text
stays under 1,022 bytes, the most a library fetch keeps.
"""

from . import Reply, registry

LIMIT = 1021


def sysinfo_text(device):
    m = device.model
    lines = [
        ("model", device.model_name),
        ("hostname", device.host_name),
        ("mac", device.mac),
        ("serial", device.serial),
        ("cameras", m["CamNum"]),
        ("comports", m["ComNum"]),
        ("inputs", m["DiNum"]),
        ("outputs", m["DoNum"]),
        ("motionwindows", m["MDWinNum"]),
        ("videocodec", m["VideoCodec"]),
        ("audiocodec", m["AudioCodec"]),
        ("videourl", m["VideoUrl"]),
        ("audiourl", m["RxUrl"]),
    ]
    text = "".join(f"{k}={v}\r\n" for k, v in lines)
    assert len(text) <= LIMIT, "system information text over its limit"
    return text


@registry.path("/cgi-bin/sysinfo.cgi")
def sysinfo(req):
    return Reply(sysinfo_text(req.device))
